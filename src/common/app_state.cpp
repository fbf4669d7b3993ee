#include "common/app_state.h"

#include <unistd.h>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "common/private_file.h"

namespace krt {
namespace fs = std::filesystem;

namespace {

bool isWritableFolder(const fs::path& folder) {
    std::error_code error;
    return fs::is_directory(folder, error) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// A folder made here, and each parent made for it, is the user's alone (camera stills are
// private).
bool makeWritableFolder(const fs::path& folder) {
    return !makePrivateFolder(folder) && isWritableFolder(folder);
}

fs::path userCacheFolder() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
        return cache;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return fs::path(home) / ".cache";
    }
    return {};
}

// An installed program's folder is no place for user data, even for root, who could write it.
bool isSystemFolder(const fs::path& folder) {
    const std::string text = folder.lexically_normal().string();
    for (const std::string_view root : {"/usr", "/bin", "/sbin", "/opt", "/snap"}) {
        if (text.starts_with(root) && (text.size() == root.size() || text[root.size()] == '/')) {
            return true;
        }
    }
    return false;
}

}  // namespace

const AppState* AppState::server(std::string_view name) const {
    if (name.empty()) {
        return this;
    }
    for (const std::shared_ptr<AppState>& other : m_otherServers) {
        if (sameServerName(other->m_serverName, name)) {
            return other.get();
        }
    }
    return nullptr;
}

const VideoChannel* AppState::camera(const CameraRef& camera) const {
    const AppState* state = server(camera.server);
    if (state == nullptr) {
        return nullptr;
    }
    const int index = findChannelIndex(state->m_channels, camera.channel);
    return index < 0 ? nullptr : &state->m_channels[static_cast<std::size_t>(index)];
}

std::string programFolderFromPath(std::string_view programPath) {
    for (std::size_t i = programPath.size(); i-- > 1;) {
        if (programPath[i] == '/' || programPath[i] == '\\') {
            return std::string(programPath.substr(0, i));
        }
    }
    return std::string(programPath);
}

fs::path currentProgramPath() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error);
}

fs::path prepareSnapshotFolder(const fs::path& programFolder) {
    fs::path beside = programFolder.string() + "/" + std::string(kSnapshotFolderName);
    if (!isSystemFolder(programFolder) && makeWritableFolder(beside)) {
        return beside;
    }
    const fs::path cache = userCacheFolder();
    if (!cache.empty()) {
        fs::path fallback = cache / "krt-client" / kSnapshotFolderName;
        if (makeWritableFolder(fallback)) {
            return fallback;
        }
    }
    return {};
}

fs::path userDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return fs::path(data) / "krt-client";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return fs::path(home) / ".local" / "share" / "krt-client";
    }
    return {};
}

void initialiseFolders(AppState& app) {
    app.m_appFolder = programFolderFromPath(currentProgramPath().string());
    app.m_snapshotFolder = prepareSnapshotFolder(app.m_appFolder);
    app.m_journalFolder = userDataFolder();
}

}  // namespace krt
