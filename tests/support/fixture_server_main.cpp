// Serves a folder on 127.0.0.1 for the offline demo:
//   quillmarsh-fixture-server --root DIR [--port N] [--port-file FILE]
#include "fixture_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption root(QStringLiteral("root"), QStringLiteral("Folder to serve."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (0: any free one)."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption portFile(QStringLiteral("port-file"),
                                      QStringLiteral("Write the port number to FILE."),
                                      QStringLiteral("FILE"));
    parser.addOptions({root, port, portFile});
    parser.process(app);

    FixtureServer server;
    server.setRoot(parser.value(root));
    if (!server.start(quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("serving %s on %s\n", qPrintable(parser.value(root)),
                qPrintable(server.url(QStringLiteral("/"))));
    std::fflush(stdout);
    if (parser.isSet(portFile)) {
        QFile f(parser.value(portFile));
        if (f.open(QIODevice::WriteOnly))
            f.write(QByteArray::number(server.port()));
    }
    return app.exec();
}
