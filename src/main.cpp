#include "version.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION_TEXT));

    // Placeholder until the start window exists.
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Quillmarsh"));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
