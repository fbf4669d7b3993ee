// One server's login on its own thread, against krt-sim in the test (no window: it is here for
// the simulator's server class): tried again while nothing answers, until the server is
// there; never again once the server refuses the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "login/background_login.h"
#include "sim/sim_test_support.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using State = ServerLoginReport::State;

constexpr LoginRetryDelays kQuickRetries{20ms, 80ms};

// What the login reported, in order, on its thread.
class Reports {
  public:
    BackgroundLogin::Listener listener() {
        return [this](ServerLoginReport report) {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(std::move(report));
            m_changed.notify_all();
        };
    }
    // Until `count` reports of that state have come.
    bool waitFor(State state, std::size_t count = 1) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] {
            return static_cast<std::size_t>(
                       std::ranges::count(m_reports, state, &ServerLoginReport::state)) >= count;
        });
    }
    std::vector<ServerLoginReport> taken() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ServerLoginReport> m_reports;
};

AppState siteB() {
    AppState state;
    state.m_serverName = "Site B";
    return state;
}

LoginCredentials credentials(const std::string& address, std::string password) {
    return {address, kServerPort, "demo", std::move(password)};
}

TEST(BackgroundLogin, AServerThatIsDownIsTriedUntilItIsThereAndItsTableComes) {
    // An address of our own where nothing listens yet.
    const std::string address = test::listenOnFreeLoopbackAddress(kServerPort).address;
    Reports reports;
    BackgroundLogin login(siteB(), credentials(address, "demo"), reports.listener(), kQuickRetries);
    ASSERT_TRUE(reports.waitFor(State::retrying, 3));

    sim::SimServer server(sim::test::RunningSim::quietDefault());
    server.start(test::listenOnLoopbackAddress(address, kServerPort));
    ASSERT_TRUE(reports.waitFor(State::loggedIn));

    const std::vector<ServerLoginReport> seen = reports.taken();
    EXPECT_EQ(seen.front().state, State::loggingIn);
    // Every failure in a row counts from the first one.
    for (std::size_t k = 1; k + 1 < seen.size(); ++k) {
        EXPECT_EQ(seen[k].state, State::retrying);
        EXPECT_EQ(seen[k].since, seen[1].since);
        EXPECT_GT(seen[k].nextAttempt, seen[k].since);
    }
    ASSERT_TRUE(seen.back().loggedInState);
    const AppState& in = *seen.back().loggedInState;
    EXPECT_EQ(in.m_serverName, "Site B");
    EXPECT_TRUE(in.m_loggedIn);
    EXPECT_EQ(in.m_channels.size(), server.config().channels.size());
}

TEST(BackgroundLogin, ARefusedUserIsNotAskedAgain) {
    sim::test::RunningSim server;
    Reports reports;
    {
        BackgroundLogin login(siteB(), credentials(server.address(), "wrong"), reports.listener(),
                              kQuickRetries);
        ASSERT_TRUE(reports.waitFor(State::refused));
        // Several of the pauses it would have made.
        std::this_thread::sleep_for(kQuickRetries.longest * 3);
    }
    EXPECT_EQ(server.server().requestCount("validateuser"), 1U);
    const std::vector<ServerLoginReport> seen = reports.taken();
    EXPECT_FALSE(seen.back().message.empty());
    EXPECT_FALSE(seen.back().loggedInState);
}

}  // namespace
}  // namespace krt
