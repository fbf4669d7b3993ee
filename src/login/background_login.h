#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/app_state.h"
#include "login/login_sequence.h"
#include "protocol/cancellation.h"

namespace krt {

// Where the login to one of the operator's other servers stands.
struct ServerLoginReport {
    using Clock = std::chrono::system_clock;
    enum class State {
        loggingIn,  // an attempt is under way
        loggedIn,   // `state` holds the server's channel table; nothing more is reported
        retrying,   // the server could not be reached or answered badly; again at nextAttempt
        refused,    // the server refused the user: not tried again, `message` says why
    };

    State state = State::loggingIn;
    Clock::time_point since;  // when the login entered this state (the first failure in a row)
    Clock::time_point nextAttempt;
    std::string message;                    // refused and retrying: the login's own message
    std::optional<AppState> loggedInState;  // loggedIn only
};

// The pauses between attempts at a server that cannot be reached: doubling from the first
// to the longest.
struct LoginRetryDelays {
    std::chrono::milliseconds first{2000};
    std::chrono::milliseconds longest{60000};
};

// Logs in to one server on a thread of its own, and again after a pause for as long as the
// server cannot be reached, so that a server that is down, refuses or trickles its replies
// never delays another's login. Each report goes to the listener on that thread.
class BackgroundLogin {
  public:
    using Listener = std::function<void(ServerLoginReport report)>;

    // `server` is the state the login fills: the server's name and the session's folders.
    BackgroundLogin(AppState server, LoginCredentials credentials, Listener listener,
                    LoginRetryDelays delays = {});
    // Cancels the exchange under way and waits for the thread.
    ~BackgroundLogin();
    BackgroundLogin(const BackgroundLogin&) = delete;
    BackgroundLogin& operator=(const BackgroundLogin&) = delete;

  private:
    void run(const std::stop_token& stop);
    bool pause(const std::stop_token& stop, std::chrono::milliseconds delay);

    AppState m_server;
    LoginCredentials m_credentials;
    Listener m_listener;
    LoginRetryDelays m_delays;
    Cancellation m_cancellation;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::jthread m_thread;  // last: it starts once everything it uses exists
};

// Whether a failed login is worth trying again by itself: a server that is down or answers
// badly may be back; a refused user will not be let in by asking again.
bool isLoginRetried(const LoginOutcome& outcome);

}  // namespace krt
