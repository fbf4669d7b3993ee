#pragma once

#include <sys/prctl.h>

#include <csignal>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <initializer_list>

namespace krt::test {

// The first of these programs that is not installed, or empty when all are.
inline QString missingProgram(std::initializer_list<const char*> programs) {
    for (const char* program : programs) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty()) {
            return QLatin1String(program);
        }
    }
    return {};
}

// A program of the test's private session, ended with the object.
class SessionProgram {
  public:
    SessionProgram(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QByteArray& input = {}) {
        m_process.setProcessEnvironment(environment);
        // Ended with the test even when it is killed.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(program, arguments);
        m_process.write(input);
        m_process.closeWriteChannel();
    }
    ~SessionProgram() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    SessionProgram(const SessionProgram&) = delete;
    SessionProgram& operator=(const SessionProgram&) = delete;

    // The first line it writes (an address, a display number), or empty.
    QString firstLine() {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10'000)) {
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    qint64 processId() const { return m_process.processId(); }

  private:
    QProcess m_process;
};

// A D-Bus session bus of the test's own that starts no service by itself: only what the test
// runs is on it.
class PrivateBus {
  public:
    explicit PrivateBus(const std::filesystem::path& folder)
        : m_daemon(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--config-file=") + writeConfig(folder)},
                   QProcessEnvironment::systemEnvironment()),
          m_address(m_daemon.firstLine()) {}

    const QString& address() const { return m_address; }
    // The system's environment with this bus as the session bus.
    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        return environment;
    }
    QDBusConnection connection() const {
        return QDBusConnection::connectToBus(m_address, QStringLiteral("test:") + m_address);
    }
    bool waitForService(const QString& service) const {
        const QDBusConnection bus = connection();
        return QTest::qWaitFor(
            [&] { return bus.interface() && bus.interface()->isServiceRegistered(service); },
            10'000);
    }

  private:
    static QString writeConfig(const std::filesystem::path& folder) {
        const std::filesystem::path config = folder / "session-bus.conf";
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir="
                              << folder.string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                 "</policy></busconfig>";
        return QString::fromStdString(config.string());
    }

    SessionProgram m_daemon;
    QString m_address;
};

}  // namespace krt::test
