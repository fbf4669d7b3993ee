#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "login/server_list.h"

namespace krt {

// The servers the operator added are kept in a JSON file of their own beside the settings
// (the first server stays in the settings, as the login dialog keeps it):
//   {"format": "krt-servers", "version": 1,
//    "servers": [{"name": "...", "address": "10.0.0.2", "port": 5500, "user": "...",
//                 "rememberLogin": true, "password": "..."}]}
// "password" is there only for a remembered login where no secret store exists.
inline constexpr int kServersFileVersion = 1;
inline constexpr std::string_view kServersFileFormat = "krt-servers";
// Far above kMostServers entries of the longest names; a larger file is not read.
inline constexpr std::size_t kLargestServersFile_bytes = std::size_t{256} * 1024;

// The settings file's name with the extension ".servers.json".
std::filesystem::path serversFilePath(const std::filesystem::path& settingsFile);

enum class ServersFileState {
    Read,          // read; `message` names the servers left out, if any
    Missing,       // no file yet
    SetAside,      // corrupt or too large: renamed to `setAsidePath`, the list starts empty
    Unreadable,    // it exists but cannot be opened, or could not be set aside
    NewerVersion,  // written by a newer client: left as it is
};

struct ServersFileResult {
    ServersFileState state = ServersFileState::Missing;
    // For the operator when not all of the file was taken: what is wrong and where it is kept.
    std::string message;
    std::filesystem::path setAsidePath;

    // A file that is still there and was not understood is never written over.
    bool writable() const {
        return state != ServersFileState::Unreadable && state != ServersFileState::NewerVersion;
    }
};

// The entries of a file's text, which obey the list's rules among themselves, or why not.
struct ParsedServers {
    std::vector<ServerEntry> servers;
    std::optional<std::string> error;  // why the text is not a server list
    std::optional<int> newerVersion;
};
ParsedServers parseServers(std::string_view text);

// Reads the file into the list's added servers (which it expects empty). A file that is
// corrupt or too large is renamed to "<name>.damaged-<UTC time>", never deleted; an entry that
// clashes with the first server is left out. The first server is usable whatever happens.
ServersFileResult readServersFile(const std::filesystem::path& path, ServerList& list,
                                  std::chrono::system_clock::time_point now);

std::string serversJson(const ServerList& list);
// Writes the added servers as a private file (common/private_file.h): a crash or a full disk
// leaves the previous file whole. An error text for the operator, or nothing.
std::optional<std::string> writeServersFile(const std::filesystem::path& path,
                                            const ServerList& list);

}  // namespace krt
