#include <QApplication>
#include <QCommandLineParser>

#include "app/ui/client_startup.h"
#include "common/app_state.h"
#include "protocol/diag_log.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("krt-client"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("KRT client: log in to a Tessaline server, watch its cameras and alarms."));
    parser.addHelpOption();
    const QCommandLineOption logDir(
        QStringLiteral("log-dir"),
        QStringLiteral(
            "Write the diagnostic log, one file per day, into <dir> (also $KRT_LOG_DIR)."),
        QStringLiteral("dir"));
    parser.addOption(logDir);
    parser.process(application);

    krt::enableDiagLogFromEnvironment();
    if (parser.isSet(logDir)) {
        krt::enableDiagLog(parser.value(logDir).toStdString());
    }

    krt::KRTApp app;
    krt::runClient(app);
    return 0;
}
