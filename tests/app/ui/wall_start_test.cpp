// The wall's command line, end to end: the real krt-client program started with
// --layout ... --fullscreen against krt-sim logs in with the remembered login by itself and
// shows that layout's cameras (as the server sees them streamed).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <set>
#include <thread>

#include "common/ui/ui_test_support.h"
#include "layouts/layouts_file.h"
#include "sim/sim_test_support.h"

extern char** environ;

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

// The client program with its own configuration folder, ended (and reaped) with the test.
class ClientProcess {
  public:
    ClientProcess(const std::filesystem::path& configHome, std::vector<std::string> arguments) {
        std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen",
                                             "XDG_CONFIG_HOME=" + configHome.string()};
        for (char** each = environ; *each != nullptr; ++each) {
            const std::string_view entry(*each);
            if (!entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("XDG_CONFIG_HOME=")) {
                environment.emplace_back(entry);
            }
        }
        arguments.insert(arguments.begin(), KRT_CLIENT_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ClientProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    bool started() const { return m_pid > 0; }

  private:
    pid_t m_pid = -1;
};

std::set<std::string> streamedChannels(RunningSim& sim) {
    std::set<std::string> channels;
    for (const sim::StreamStatus& stream : sim.server().liveStreams()) {
        if (stream.lastFrameNumber > 0) {
            channels.insert(stream.channelId);
        }
    }
    return channels;
}

class WallStart : public test::UiTest {};

TEST_F(WallStart, TheCommandLineShowsTheLayoutWithoutAClick) {
    RunningSim sim;
    // The configuration the client finds under its XDG_CONFIG_HOME.
    const std::filesystem::path configHome = m_folder.path() / "config";
    setSettingsFilePath((configHome / "Kelmar" / "ZededUzeriZerave.ini").string());
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"RememberLogin", "1"},
                                      {"UserName", "demo"},
                                      {"Password", "demo"},
                                      {"IPAddress", sim.address()},
                                      {"ShowAlerts", "false"}}) {
        store(name, value);
    }
    LayoutBook book;
    ASSERT_FALSE(book.addLayout("Entrances", "1+5"));
    book.placeCamera("Entrances", 0, {.server = {}, .channel = "4"});
    book.placeCamera("Entrances", 1, {.server = {}, .channel = "1"});
    book.placeCamera("Entrances", 5, {.server = {}, .channel = "9"});
    ASSERT_FALSE(writeLayoutsFile(configHome / "Kelmar" / "ZededUzeriZerave.layouts.json", book));

    ClientProcess client(configHome, {"--layout", "Entrances", "--fullscreen"});
    ASSERT_TRUE(client.started());
    const std::set<std::string> expected{"1", "4", "9"};
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (streamedChannels(sim) != expected && std::chrono::steady_clock::now() < deadline) {
        // Awaits the next frame of the layout's last camera, or a second without one.
        static_cast<void>(sim.server().waitForFrames("9", sim.server().framesSent("9") + 1, 1s));
    }
    EXPECT_EQ(streamedChannels(sim), expected);
    // Logged in without a click: the login and the catalogue went to the server once.
    EXPECT_EQ(sim.server().requestCount("validateuser"), 1U);
}

}  // namespace
}  // namespace krt
