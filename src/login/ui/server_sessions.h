#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "common/app_state.h"
#include "login/background_login.h"

namespace krt {

class SavedServers;

// The operator's other servers in this session. Each added server gets its state in the
// session's (AppState::m_otherServers) at once, and logs in on a thread of its own as soon as
// its remembered password is read: one server's trouble never delays another's. A server
// whose login is not remembered stays out, and says so.
class ServerSessions : public QObject {
    Q_OBJECT

  public:
    // Where one server's login stands, as the status line tells it.
    struct Shown {
        std::string name;
        ServerLoginReport login;
        bool passwordMissing = false;  // no remembered password: it is not logged in
    };

    // `session` is the first server's state; it must outlive this object.
    ServerSessions(AppState& session, const SavedServers& servers, QObject* parent = nullptr);
    ~ServerSessions() override;
    ServerSessions(const ServerSessions&) = delete;
    ServerSessions& operator=(const ServerSessions&) = delete;

    // Starts the logins of the servers whose passwords the store gives.
    void start(SavedServers& servers, LoginRetryDelays delays = {});
    // One for each of the session's other servers, in their order.
    const std::vector<Shown>& shown() const { return m_shown; }

  signals:
    // A server logged in: its state holds its channel table from now on.
    void serverLoggedIn(int index);
    // Any server's login state changed.
    void loginStateChanged();

  private:
    void startLogin(std::size_t index, const QString& password, LoginRetryDelays delays);
    void apply(std::size_t index, ServerLoginReport report);

    AppState& m_session;
    std::vector<Shown> m_shown;
    std::vector<std::unique_ptr<BackgroundLogin>> m_logins;
};

}  // namespace krt
