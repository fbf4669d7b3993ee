#include "login/background_login.h"

#include <algorithm>

namespace krt {

bool isLoginRetried(const LoginOutcome& outcome) {
    switch (outcome.status) {
        case LoginStatus::ServerUnreachable:
        case LoginStatus::InvalidReply:
        case LoginStatus::VersionMismatch:
            return true;
        default:
            return false;
    }
}

BackgroundLogin::BackgroundLogin(AppState server, LoginCredentials credentials, Listener listener,
                                 LoginRetryDelays delays)
    : m_server(std::move(server)),
      m_credentials(std::move(credentials)),
      m_listener(std::move(listener)),
      m_delays(delays),
      m_thread([this](const std::stop_token& stop) { run(stop); }) {}

BackgroundLogin::~BackgroundLogin() {
    // The thread's own stop wakes its pause; the cancellation wakes an exchange.
    m_cancellation.cancel();
}

void BackgroundLogin::run(const std::stop_token& stop) {
    using Clock = ServerLoginReport::Clock;
    std::chrono::milliseconds delay = m_delays.first;
    ServerLoginReport report;
    report.since = Clock::now();
    m_listener(report);
    while (!stop.stop_requested()) {
        AppState attempt = m_server;
        const LoginOutcome outcome =
            runLoginConversation(m_credentials, attempt, ExchangeLimits{{}, &m_cancellation});
        if (outcome.status == LoginStatus::Cancelled || stop.stop_requested()) {
            return;
        }
        if (outcome.accepted()) {
            attempt.m_loggedIn = true;
            report.state = ServerLoginReport::State::loggedIn;
            report.since = Clock::now();
            report.message = outcome.notice;
            report.loggedInState = std::move(attempt);
            m_listener(std::move(report));
            return;
        }
        const bool retried = isLoginRetried(outcome);
        const auto state =
            retried ? ServerLoginReport::State::retrying : ServerLoginReport::State::refused;
        if (report.state != state) {
            report.since = Clock::now();
        }
        report.state = state;
        report.message = outcome.message;
        report.nextAttempt = Clock::now() + delay;
        m_listener(report);
        if (!retried || !pause(stop, delay)) {
            return;
        }
        delay = std::min(delay * 2, m_delays.longest);
    }
}

bool BackgroundLogin::pause(const std::stop_token& stop, std::chrono::milliseconds delay) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, stop, delay, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace krt
