#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "app/ui/client_startup.h"
#include "common/app_state.h"
#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "krt_version.h"
#include "protocol/diag_log.h"

namespace {

// --version and --help need no display, unlike the application object: they are answered
// from the raw arguments before it exists. Qt's own options (-platform, -style, ...) are not
// known to the parser yet, so a parse error is left for the full parse to report.
std::optional<int> answerWithoutDisplay(QCommandLineParser& parser, int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    static_cast<void>(parser.parse(arguments));
    QString answer;
    if (parser.isSet(QStringLiteral("version"))) {
        answer = QCoreApplication::applicationName() + QLatin1Char(' ') +
                 QCoreApplication::applicationVersion() + QLatin1Char('\n');
    } else if (parser.isSet(QStringLiteral("help"))) {
        // Without the application object Qt cannot name the program in the usage line.
        answer = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                           QCoreApplication::applicationName());
    } else {
        return std::nullopt;
    }
    std::fputs(answer.toLocal8Bit().constData(), stdout);
    return 0;
}

// Turns the log on as asked. A folder that cannot hold it is said on standard error and in a
// box, and the program runs without the log.
void enableLogAsAsked(const QCommandLineParser& parser, const QCommandLineOption& logDir) {
    std::optional<std::string> failure = krt::enableDiagLogFromEnvironment();
    if (parser.isSet(logDir)) {
        failure = krt::enableDiagLog(parser.value(logDir).toStdString());
    }
    if (failure) {
        const std::string text = "Cannot use the log folder " + *failure +
                                 ".\nThe program runs without a diagnostic log.";
        std::fprintf(stderr, "krt-client: %s\n", text.c_str());
        krt::showErrorBox(nullptr, krt::qtText(text));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // A file beyond the process's size limit is a write error (EFBIG) that every writer
    // handles, keeping what it wrote; the signal's default would kill the program instead.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("krt-client"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(
        krt::kProductVersion.data(), static_cast<qsizetype>(krt::kProductVersion.size())));

    QCommandLineParser parser;
    // Qt's own one-dash options (-reverse, -stylesheet) must not read as -v or -h in a row.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("KRT client: log in to a Tessaline server, watch its cameras and alarms."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption logDir(
        QStringLiteral("log-dir"),
        QStringLiteral(
            "Write the diagnostic log, one file per day, into <dir> (also $KRT_LOG_DIR)."),
        QStringLiteral("dir"));
    parser.addOption(logDir);
    const QCommandLineOption layout(
        QStringLiteral("layout"),
        QStringLiteral(
            "Show the layout <name> (\"All cameras\" or a named layout) once logged in."),
        QStringLiteral("name"));
    const QCommandLineOption fullScreen(QStringLiteral("fullscreen"),
                                        QStringLiteral("Show the videos full screen."));
    const QCommandLineOption screen(
        QStringLiteral("screen"),
        QStringLiteral("Open on screen <n>, counted from 0 (the first screen if there is none)."),
        QStringLiteral("n"));
    const QCommandLineOption tour(QStringLiteral("tour"),
                                  QStringLiteral("Run the tour <name> once logged in."),
                                  QStringLiteral("name"));
    const QCommandLineOption alarmMonitor(
        QStringLiteral("alarm-monitor"),
        QStringLiteral("Open the alarm monitor full screen once logged in: alarms put their "
                       "cameras live in its cells."));
    parser.addOptions({layout, fullScreen, screen, tour, alarmMonitor});
    if (const std::optional<int> status = answerWithoutDisplay(parser, argc, argv)) {
        return *status;
    }

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromUtf8(
        krt::kDesktopFileId.data(), static_cast<qsizetype>(krt::kDesktopFileId.size())));
    parser.process(application);

    enableLogAsAsked(parser, logDir);

    // Any of these logs in with the remembered login at once and shows that view; without
    // them the view of the last exit comes back.
    krt::StartRequest request;
    if (parser.isSet(layout)) {
        request.layout = parser.value(layout).toStdString();
    }
    request.fullScreen = parser.isSet(fullScreen);
    if (parser.isSet(screen)) {
        bool ok = false;
        const int number = parser.value(screen).toInt(&ok);
        request.screen = ok ? number : 0;
    }
    if (parser.isSet(tour)) {
        request.tour = parser.value(tour).toStdString();
    }
    request.alarmMonitor = parser.isSet(alarmMonitor);

    krt::AppState app;
    krt::runClient(app, request);
    return 0;
}
