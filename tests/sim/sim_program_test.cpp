// The krt-sim program: control lines, signals, clean exit and configuration errors.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_test_support.h"

extern char** environ;

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

// The program with pipes on its standard input and output. A child still running at the end
// of a failed test is killed and reaped.
class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> arguments) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        arguments.insert(arguments.begin(), KRT_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_stdin.reset(input[1]);
        m_stdout.reset(output[0]);
        m_pidfd.reset(m_pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0)) : -1);
    }
    ~ChildProcess() {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0 && m_pidfd.valid(); }
    bool signal(int number) const { return ::kill(m_pid, number) == 0; }
    bool writeLine(const std::string& line) const {
        const std::string text = line + "\n";
        return ::write(m_stdin.fd(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // The next line of standard output holding `needle`, or nothing after the time-out.
    std::optional<std::string> waitForLine(std::string_view needle,
                                           std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                if (line.find(needle) != std::string::npos) {
                    return line;
                }
            }
            if (!readSome(deadline)) {
                return std::nullopt;
            }
        }
    }

    // The exit status, or nothing when the program is still running after the time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        pollfd entry{m_pidfd.fd(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) {
            return std::nullopt;
        }
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_status = status;
        return status;
    }

  private:
    bool readSome(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{m_stdout.fd(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) != 1) {
            return false;
        }
        char chunk[1024];
        const ssize_t count = ::read(m_stdout.fd(), chunk, sizeof chunk);
        if (count <= 0) {
            return false;
        }
        m_pending.append(chunk, static_cast<std::size_t>(count));
        return true;
    }

    pid_t m_pid = -1;
    TcpSocket m_stdin;  // any descriptor: closed when it goes
    TcpSocket m_stdout;
    TcpSocket m_pidfd;
    std::string m_pending;
    std::optional<int> m_status;
};

// A loopback address that is free now; the program binds it itself.
std::string freeLoopbackAddress() {
    return krt::test::listenOnFreeLoopbackAddress(5500).address;
}

TEST(SimProgram, ControlLineAndSignalPushAlarmsAndEachStopIsClean) {
    struct Stop {
        const char* label;
        int signal;  // 0: the control line "quit"
    };
    for (const Stop stop : {Stop{"SIGTERM", SIGTERM}, Stop{"SIGINT", SIGINT}, Stop{"quit", 0}}) {
        SCOPED_TRACE(stop.label);
        const std::string address = freeLoopbackAddress();
        ChildProcess sim({"--address", address, "--alarm-interval", "0"});
        ASSERT_TRUE(sim.started());
        ASSERT_TRUE(sim.waitForLine("listening on " + address + ":5500", 20s));

        PushConnection subscriber(address, subscriptionPayload());
        ASSERT_EQ(subscriber.result, 1);
        ASSERT_TRUE(sim.waitForLine("setalarmnotifications -> subscribed", 10s));
        ASSERT_TRUE(sim.writeLine("alarm 4 Door Open"));
        ASSERT_TRUE(subscriber.collector.waitForMessages(1, 10s));
        ASSERT_TRUE(sim.signal(SIGUSR1));
        ASSERT_TRUE(subscriber.collector.waitForMessages(2, 10s));
        ASSERT_TRUE(sim.writeLine("alarm-at 20240229235959123 7 Late One"));
        ASSERT_TRUE(sim.writeLine("alarm-raw not<a>time 2"));
        ASSERT_TRUE(subscriber.collector.waitForMessages(4, 10s));

        const std::vector<std::string> messages = subscriber.collector.messages();
        const XmlNode first = loadXmlDocument(messages[0]).child("kmResponseData");
        EXPECT_EQ(first.childText("kmAlarmName"), "Door Open");
        EXPECT_EQ(first.childText("kmAlarmChannelID"), "4");
        const XmlNode second = loadXmlDocument(messages[1]).child("kmResponseData");
        EXPECT_EQ(second.childText("kmAlarmName"), "Motion");
        EXPECT_EQ(second.childText("kmAlarmChannelID"), "1");
        const XmlNode late = loadXmlDocument(messages[2]).child("kmResponseData");
        EXPECT_EQ(late.childText("kmAlarmTimestamp"), "20240229235959123");
        EXPECT_EQ(late.childText("kmAlarmName"), "Late One");
        const XmlNode hostile = loadXmlDocument(messages[3]).child("kmResponseData");
        EXPECT_EQ(hostile.childText("kmAlarmTimestamp"), "not<a>time");
        EXPECT_EQ(hostile.childText("kmAlarmChannelID"), "2");

        ASSERT_TRUE(stop.signal != 0 ? sim.signal(stop.signal) : sim.writeLine("quit"));
        const std::optional<int> status = sim.waitForExit(20s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        EXPECT_TRUE(subscriber.collector.waitForEnd(10s));
    }
}

TEST(SimProgram, RefusesABadConfigurationWithStatusOne) {
    for (const char* json : {R"({"channels": [{"id": "A", "frameRate": -1}]})",
                             R"({"jpegQuality": 1e400})", R"({"jpegQuality": 1e300})"}) {
        SCOPED_TRACE(json);
        const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                           ("krt-sim-bad-" + std::to_string(::getpid()) + ".json");
        std::ofstream(file) << json;
        ChildProcess sim({"--address", freeLoopbackAddress(), "--config", file.string()});
        ASSERT_TRUE(sim.started());
        const std::optional<int> status = sim.waitForExit(20s);
        std::filesystem::remove(file);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 1);
    }
}

TEST(SimProgram, DumpsTheConfigurationInEffect) {
    ChildProcess sim({"--dump-config", "--alarm-interval", "7", "--picture-detail", "camera"});
    ASSERT_TRUE(sim.started());
    EXPECT_TRUE(sim.waitForLine("\"intervalSeconds\": 7", 20s));
    EXPECT_TRUE(sim.waitForLine("\"pictureDetail\": \"camera\"", 20s));
    const std::optional<int> status = sim.waitForExit(20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
}  // namespace krt::sim::test
