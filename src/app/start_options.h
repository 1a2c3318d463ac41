#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <optional>

// The desktop program's command line. It is read twice: once before the GUI
// exists, so --help and --version work without a display, and once with the
// application object, which has taken Qt's own options out.
class StartCommandLine {
public:
    StartCommandLine();

    // The exit status when arguments ask only for help or the version (printed
    // here) or when no display can be reached (said here); nothing otherwise.
    std::optional<int> answerBeforeGui(const QStringList& arguments);
    // Every option; a wrong one ends the program with a message.
    void process(const QStringList& arguments);

    QString homeUrl(const QString& fallback) const;
    QString updateUrl(const QString& fallback) const;

private:
    QCommandLineParser parser_;
    QCommandLineOption homeUrl_;
    QCommandLineOption updateUrl_;
};

// No display server can be reached and no other Qt platform was asked for.
bool NoDisplayAvailable(const QStringList& arguments);
