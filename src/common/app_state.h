#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/camera_ref.h"
#include "common/video_channel.h"

namespace krt {

inline constexpr int kServerPort = 5500;
inline constexpr std::string_view kSnapshotFolderName = "EventImages";

// The state every screen shares after login. Written on the GUI thread during login only,
// read afterwards by every page and worker thread.
//
// The first server's state also holds the other servers of the operator's list, each a state
// of its own: made when the session starts, its channel table filled on the GUI thread once its
// login succeeds. Worker threads read only their own server's state.
struct AppState {
    std::string m_serverName;  // in the operator's server list; empty for the first server
    std::string m_serverAddress;
    int m_serverPort = kServerPort;  // never changed: every request but the login uses it
    int m_loginPort = 0;             // the port the login request went to (and PTZ)
    std::string m_userName;
    std::vector<VideoChannel> m_channels;  // the channel table, replaced as a whole
    std::filesystem::path m_appFolder;
    std::filesystem::path m_snapshotFolder;  // where the alarm snapshots are kept
    std::filesystem::path m_journalFolder;   // the alarm journal's; empty: no journal
    bool m_loggedIn = false;  // the login succeeded and the channel table is the server's
    std::vector<std::shared_ptr<AppState>> m_otherServers;

    int channelCount() const { return static_cast<int>(m_channels.size()); }
    // The server of that name (empty: the first), or null where the list has none.
    const AppState* server(std::string_view name) const;
    // The camera's record in its server's table, or null.
    const VideoChannel* camera(const CameraRef& camera) const;
    // How the operator knows the server: its name, the first server its address.
    const std::string& shownName() const {
        return m_serverName.empty() ? m_serverAddress : m_serverName;
    }
};

// The program folder of a program file path: the text before the last '/' or '\', searching
// down to the second character only, so that a file directly in the root folder keeps its
// whole path. A path without separator is returned unchanged.
std::string programFolderFromPath(std::string_view programPath);

// The path of the running program file.
std::filesystem::path currentProgramPath();

// Creates "<programFolder>/EventImages" and returns it. Where it cannot be created or written
// (a program installed in a read-only folder), and beside a program installed in a system
// folder (/usr, /bin, /sbin, /opt, /snap), the per-user cache folder
// ($XDG_CACHE_HOME, else ~/.cache)/krt-client/EventImages is used instead. Returns an empty path
// when neither can be made.
std::filesystem::path prepareSnapshotFolder(const std::filesystem::path& programFolder);

// The user's folder of the program's lasting data: ($XDG_DATA_HOME, else
// ~/.local/share)/krt-client; empty without a home.
std::filesystem::path userDataFolder();

// Fills the program, snapshot and journal folders of the state from the running program.
void initialiseFolders(AppState& app);

}  // namespace krt
