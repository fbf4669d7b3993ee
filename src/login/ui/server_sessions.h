#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "common/app_state.h"
#include "login/background_login.h"
#include "login/server_list.h"

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
    // Servers the operator has added to the list since: they join the session and log in. A
    // server edited or removed keeps its place until the next session.
    void addNew(SavedServers& servers);
    // What the operator must know about the list file as the session found it (set aside as
    // damaged, ...), on one line; empty when nothing.
    const std::string& listMessage() const { return m_listMessage; }
    // One for each of the session's other servers, in their order.
    const std::vector<Shown>& shown() const { return m_shown; }

  signals:
    // A server logged in: its state holds its channel table from now on.
    void serverLoggedIn(int index);
    // Any server's login state changed.
    void loginStateChanged();
    // Servers joined the session (not logged in yet).
    void serversAdded();

  private:
    void join(const ServerEntry& entry);
    void readPasswordAndLogIn(SavedServers& servers, std::size_t index);
    void startLogin(std::size_t index, const QString& password);
    void apply(std::size_t index, ServerLoginReport report);

    AppState& m_session;
    std::vector<Shown> m_shown;
    std::vector<std::unique_ptr<BackgroundLogin>> m_logins;
    LoginRetryDelays m_delays;
    std::string m_listMessage;
};

}  // namespace krt
