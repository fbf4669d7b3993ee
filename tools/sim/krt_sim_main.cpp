// krt-sim: a simulated KRT server for the demo, the end-to-end tests and integrators.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#ifdef KRT_SIM_WITH_QT
#include <QtGui/QGuiApplication>
#endif

#include "krt_version.h"
#include "protocol/diag_log.h"
#include "protocol/tcp_socket.h"
#include "sim_config.h"
#include "sim_control.h"
#include "sim_server.h"

namespace {

using krt::sim::ControlCommand;
using krt::sim::SimServer;

struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 5500;
    std::string configPath;
    int alarmIntervalSeconds = 0;
    bool alarmIntervalGiven = false;
    std::string pictureDetail;  // a name of kPictureDetailNames, or empty
    bool quiet = false;
    bool dumpConfig = false;
    std::string logDir;
};

// Blocks the signals in every thread started afterwards; they are read from a signalfd.
class SignalReader {
  public:
    SignalReader() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
        m_fd.reset(signalfd(-1, &m_set, SFD_CLOEXEC));
    }
    int fd() const { return m_fd.fd(); }
    int next() const {
        signalfd_siginfo info{};
        return ::read(m_fd.fd(), &info, sizeof info) == sizeof info
                   ? static_cast<int>(info.ssi_signo)
                   : 0;
    }

  private:
    sigset_t m_set{};
    krt::TcpSocket m_fd;  // any descriptor: closed when it goes
};

// Splits standard input into lines as they arrive.
class LineReader {
  public:
    // False at the end of the input.
    template <typename Handler>
    bool readAvailable(Handler handle) {
        char chunk[512];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            return false;
        }
        m_pending.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            handle(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
        }
        return true;
    }

  private:
    std::string m_pending;
};

// Serves until SIGINT, SIGTERM or "quit"; SIGUSR1 pushes the next scheduled alarm.
void runControlLoop(SimServer& server, const SignalReader& signalReader) {
    LineReader lines;
    bool stdinOpen = true;
    bool running = true;
    const auto handleLine = [&](const std::string& line) {
        const ControlCommand command = krt::sim::parseControlLine(line);
        switch (command.kind) {
            case ControlCommand::Kind::Alarm:
                if (command.time) {
                    server.pushAlarmStamped(
                        command.channelId, command.alarmName,
                        krt::sim::alarmTimestamp(*command.time, std::chrono::system_clock::now()));
                } else {
                    server.pushAlarm(command.channelId, command.alarmName);
                }
                break;
            case ControlCommand::Kind::Help:
                std::cout << krt::sim::kControlHelp << std::endl;
                break;
            case ControlCommand::Kind::Quit:
                running = false;
                break;
            case ControlCommand::Kind::Invalid:
                std::cerr << command.error << "\n" << krt::sim::kControlHelp << std::endl;
                break;
            case ControlCommand::Kind::Empty:
                break;
        }
    };
    while (running) {
        pollfd watched[2] = {{signalReader.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(watched, stdinOpen ? 2 : 1, -1) < 0) {
            continue;  // EINTR
        }
        if (watched[0].revents & POLLIN) {
            const int signal = signalReader.next();
            if (signal == SIGUSR1) {
                server.pushNextScheduledAlarm();
            } else if (signal != 0) {
                running = false;
            }
        }
        if (stdinOpen && (watched[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            stdinOpen = lines.readAvailable(handleLine);
        }
    }
}

krt::sim::SimConfig loadConfig(const Options& options) {
    krt::sim::SimConfig config = options.configPath.empty()
                                     ? krt::sim::defaultConfig()
                                     : krt::sim::loadConfigFile(options.configPath);
    if (options.alarmIntervalGiven) {
        config.alarms.intervalSeconds = options.alarmIntervalSeconds;
    }
    for (const auto& name : krt::sim::kPictureDetailNames) {
        if (name.text == options.pictureDetail) {
            config.pictureDetail = name.value;
        }
    }
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "krt-sim: a simulated KRT server that speaks the whole server side of the protocol.\n"
        "Control lines on standard input:\n" +
        std::string(krt::sim::kControlHelp) +
        "\nSIGUSR1 pushes the next alarm of the schedule; SIGINT and SIGTERM stop the server."};
    Options options;
    app.set_version_flag("--version", "krt-sim " + std::string(krt::kProductVersion));
    app.add_option("--address", options.address, "IPv4 address to listen on")
        ->capture_default_str();
    app.add_option("--port", options.port, "TCP port to listen on")->capture_default_str();
    app.add_option("--config", options.configPath, "JSON configuration (see README.md)")
        ->check(CLI::ExistingFile);
    CLI::Option* interval =
        app.add_option("--alarm-interval", options.alarmIntervalSeconds,
                       "seconds between scheduled alarms, 0 for none (default: configuration)")
            ->check(CLI::Range(0, 86'400));
    std::vector<std::string> detailNames;
    for (const auto& name : krt::sim::kPictureDetailNames) {
        detailNames.emplace_back(name.text);
    }
    app.add_option("--picture-detail", options.pictureDetail,
                   "flat pictures, or camera-like texture, edges and small text "
                   "(default: configuration)")
        ->check(CLI::IsMember(detailNames));
    app.add_flag("--quiet", options.quiet, "do not print a line per request");
    app.add_flag("--dump-config", options.dumpConfig,
                 "print the configuration in effect as JSON and exit");
    app.add_option("--log-dir", options.logDir,
                   "write the diagnostic log, one file a day, to this folder")
        ->envname("KRT_LOG_DIR");
    CLI11_PARSE(app, argc, argv);
    options.alarmIntervalGiven = interval->count() > 0;
    krt::enableDiagLog(options.logDir);

    krt::sim::SimConfig config;
    try {
        config = loadConfig(options);
    } catch (const std::exception& error) {
        // ConfigError names the place of the mistake; anything else still ends with status 1.
        std::cerr << "krt-sim: " << error.what() << std::endl;
        return EXIT_FAILURE;
    }
    if (options.dumpConfig) {
        std::cout << krt::sim::configToJson(config) << std::endl;
        return EXIT_SUCCESS;
    }

    const SignalReader signalReader;
#ifdef KRT_SIM_WITH_QT
    // Fonts need a GUI application; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    QGuiApplication gui(qtArgc, argv);
#endif
    std::mutex outputMutex;
    SimServer::LogSink sink;
    if (!options.quiet) {
        sink = [&outputMutex](std::string_view line) {
            std::lock_guard lock(outputMutex);
            std::cout << line << std::endl;
        };
    }
    SimServer server(config, sink);
    try {
        server.start(options.address, options.port);
    } catch (const std::exception& error) {
        std::cerr << "krt-sim: " << error.what() << std::endl;
        return EXIT_FAILURE;
    }
    {
        std::lock_guard lock(outputMutex);
        std::cout << "krt-sim listening on " << server.address() << ":" << server.port() << " ("
                  << config.channels.size() << " channels, " << config.users.size()
                  << " users, alarms "
                  << (config.alarms.intervalSeconds > 0
                          ? "every " + std::to_string(config.alarms.intervalSeconds) + " s"
                          : std::string("on demand"))
                  << ")" << std::endl;
    }
    runControlLoop(server, signalReader);
    server.stop();
    return EXIT_SUCCESS;
}
