#include "login/ui/server_sessions.h"

#include "common/private_file.h"
#include "login/ui/saved_servers.h"

namespace krt {
namespace {

// Each server's snapshots in a folder of their own: two servers' alarms of the same second
// must never share or delete each other's files.
std::filesystem::path serverSnapshotFolder(const AppState& session, const ServerEntry& entry) {
    if (session.m_snapshotFolder.empty()) {
        return {};
    }
    std::filesystem::path folder =
        session.m_snapshotFolder / (entry.address + "_" + std::to_string(entry.port));
    return makePrivateFolder(folder) ? std::filesystem::path() : folder;
}

std::shared_ptr<AppState> serverState(const AppState& session, const ServerEntry& entry) {
    auto state = std::make_shared<AppState>();
    state->m_serverName = entry.name;
    state->m_serverAddress = entry.address;
    state->m_loginPort = entry.port;
    state->m_userName = entry.userName;
    state->m_appFolder = session.m_appFolder;
    state->m_snapshotFolder = serverSnapshotFolder(session, entry);
    state->m_journalFolder = session.m_journalFolder;
    return state;
}

}  // namespace

ServerSessions::ServerSessions(AppState& session, const SavedServers& servers, QObject* parent)
    : QObject(parent), m_session(session) {
    // A session before this one (a logout and a new login) leaves nothing behind.
    m_session.m_otherServers.clear();
    m_listMessage = servers.fileMessage();
    std::ranges::replace(m_listMessage, '\n', ' ');
    for (const ServerEntry& entry : servers.list().added()) {
        join(entry);
    }
}

void ServerSessions::join(const ServerEntry& entry) {
    m_session.m_otherServers.push_back(serverState(m_session, entry));
    m_shown.push_back({.name = entry.name, .login = {}, .passwordMissing = false});
    m_logins.emplace_back();
}

ServerSessions::~ServerSessions() = default;

void ServerSessions::start(SavedServers& servers, LoginRetryDelays delays) {
    m_delays = delays;
    for (std::size_t k = 0; k < m_shown.size(); ++k) {
        readPasswordAndLogIn(servers, k);
    }
}

void ServerSessions::addNew(SavedServers& servers) {
    const std::size_t before = m_shown.size();
    for (const ServerEntry& entry : servers.list().added()) {
        // An edited server (another name, the same address) is the one in the session.
        const bool inSession =
            std::ranges::any_of(m_session.m_otherServers, [&](const auto& server) {
                return sameServerName(server->m_serverName, entry.name) ||
                       (server->m_serverAddress == entry.address &&
                        server->m_loginPort == entry.port);
            });
        if (!inSession) {
            join(entry);
        }
    }
    // A password the list has since been given (a server added with it is listed before its
    // password is kept) is read again.
    for (std::size_t k = 0; k < before; ++k) {
        if (m_shown[k].passwordMissing && !m_logins[k]) {
            m_shown[k].passwordMissing = false;
            readPasswordAndLogIn(servers, k);
        }
    }
    if (m_shown.size() == before) {
        return;
    }
    emit serversAdded();
    for (std::size_t k = before; k < m_shown.size(); ++k) {
        readPasswordAndLogIn(servers, k);
    }
    emit loginStateChanged();
}

void ServerSessions::readPasswordAndLogIn(SavedServers& servers, std::size_t index) {
    servers.readPassword(m_shown[index].name,
                         [this, index](const std::optional<QString>& password) {
                             if (password) {
                                 startLogin(index, *password);
                             } else {
                                 m_shown[index].passwordMissing = true;
                                 emit loginStateChanged();
                             }
                         });
}

void ServerSessions::startLogin(std::size_t index, const QString& password) {
    const AppState& server = *m_session.m_otherServers[index];
    LoginCredentials credentials{server.m_serverAddress, server.m_loginPort, server.m_userName,
                                 password.toStdString()};
    m_logins[index] = std::make_unique<BackgroundLogin>(
        server, std::move(credentials),
        [this, index](ServerLoginReport report) {
            // Reports still queued when the sessions go are dropped with them.
            QMetaObject::invokeMethod(
                this,
                [this, index, report = std::move(report)]() mutable {
                    apply(index, std::move(report));
                },
                Qt::QueuedConnection);
        },
        m_delays);
}

void ServerSessions::apply(std::size_t index, ServerLoginReport report) {
    if (report.loggedInState) {
        AppState& server = *m_session.m_otherServers[index];
        server.m_channels = std::move(report.loggedInState->m_channels);
        server.m_loggedIn = true;
        report.loggedInState.reset();
    }
    const bool loggedIn = report.state == ServerLoginReport::State::loggedIn;
    m_shown[index].login = std::move(report);
    if (loggedIn) {
        emit serverLoggedIn(static_cast<int>(index));
    }
    emit loginStateChanged();
}

}  // namespace krt
