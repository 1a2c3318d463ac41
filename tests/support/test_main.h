#pragma once

#include <QTest>

// Points HOME and the XDG folders at a fresh temporary folder, so a test never
// touches the user's settings, history, sounds or browser profile. Call before
// the application object exists.
void IsolateUserFolders();

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, with isolated user folders.
#define QM_TEST_MAIN_IMPL(TestObject, AppClass)                                                    \
    int main(int argc, char** argv) {                                                              \
        IsolateUserFolders();                                                                      \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                \
        AppClass app(argc, argv);                                                                  \
        AppClass::setApplicationName(QStringLiteral("Quillmarsh"));                                \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define QM_TEST_GUILESS_MAIN(TestObject) QM_TEST_MAIN_IMPL(TestObject, QCoreApplication)
#define QM_TEST_GUI_MAIN(TestObject) QM_TEST_MAIN_IMPL(TestObject, QGuiApplication)
#define QM_TEST_WIDGETS_MAIN(TestObject) QM_TEST_MAIN_IMPL(TestObject, QApplication)
