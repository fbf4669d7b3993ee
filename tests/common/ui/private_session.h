#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStandardPaths>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace krt::test {

// The first of these programs that is not installed, or empty when all are.
inline std::string missingProgram(std::initializer_list<const char*> programs) {
    for (const char* program : programs) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty()) {
            return program;
        }
    }
    return {};
}

// The test's environment with some variables replaced.
using Environment = std::map<std::string, std::string>;
inline std::vector<std::string> environmentWith(const Environment& replaced) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!replaced.contains(text.substr(0, text.find('=')))) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : replaced) {
        entries.push_back(name + '=' + value);
    }
    return entries;
}

// A program of the test's private session, ended with the object. Started with posix_spawn:
// the sanitizers follow it where a fork of a process with threads confuses them.
class SessionProgram {
  public:
    SessionProgram(const std::string& program, std::vector<std::string> arguments,
                   const Environment& environment, std::string_view input = {}) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        // Through setpriv, which has the program end with the test even when the test is killed;
        // setpriv execs the program, so the process ID stays the program's.
        arguments.insert(arguments.begin(), {"setpriv", "--pdeathsig", "TERM", "--", program});
        std::vector<std::string> entries = environmentWith(environment);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (::posix_spawnp(&m_pid, "setpriv", &actions, nullptr, pointers(arguments).data(),
                           pointers(entries).data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        static_cast<void>(::write(in[1], input.data(), input.size()));
        ::close(in[1]);
        m_output = out[0];
    }
    ~SessionProgram() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            const int exit = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
            pollfd ended{exit, POLLIN, 0};
            if (exit < 0 || ::poll(&ended, 1, 5000) != 1) {
                ::kill(m_pid, SIGKILL);
            }
            ::waitpid(m_pid, nullptr, 0);
            ::close(exit);
        }
        ::close(m_output);
    }
    SessionProgram(const SessionProgram&) = delete;
    SessionProgram& operator=(const SessionProgram&) = delete;

    // The first line it writes (an address, a display number, a secret), or what it wrote
    // before it ended; empty after 10 s of silence.
    std::string firstLine() const {
        std::string line;
        pollfd ready{m_output, POLLIN, 0};
        char c = 0;
        while (::poll(&ready, 1, 10'000) == 1 && ::read(m_output, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }
    pid_t processId() const { return m_pid; }

  private:
    static std::vector<char*> pointers(std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (std::string& text : texts) {
            result.push_back(text.data());
        }
        result.push_back(nullptr);
        return result;
    }

    pid_t m_pid = -1;
    int m_output = -1;
};

// A D-Bus session bus of the test's own that starts no service by itself: only what the test
// runs is on it.
class PrivateBus {
  public:
    explicit PrivateBus(const std::filesystem::path& folder)
        : m_daemon("dbus-daemon",
                   {"--nofork", "--print-address=1", "--config-file=" + writeConfig(folder)}, {}),
          m_address(m_daemon.firstLine()) {}

    const std::string& address() const { return m_address; }
    // The test's environment with this bus as the session bus, and other replacements.
    Environment environment(Environment replaced = {}) const {
        replaced["DBUS_SESSION_BUS_ADDRESS"] = m_address;
        return replaced;
    }
    QDBusConnection connection() const {
        const QString address = QString::fromStdString(m_address);
        return QDBusConnection::connectToBus(address, "test:" + address);
    }
    bool waitForService(const QString& service) const {
        const QDBusConnection bus = connection();
        return QTest::qWaitFor(
            [&] { return bus.interface() && bus.interface()->isServiceRegistered(service); },
            10'000);
    }

  private:
    static std::string writeConfig(const std::filesystem::path& folder) {
        const std::filesystem::path config = folder / "session-bus.conf";
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir="
                              << folder.string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                 "</policy></busconfig>";
        return config.string();
    }

    SessionProgram m_daemon;
    std::string m_address;
};

}  // namespace krt::test
