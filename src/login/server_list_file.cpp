#include "login/server_list_file.h"

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/private_file.h"
#include "common/server_text.h"

namespace krt {

using Json = nlohmann::json;

namespace {

// Every value kMostServers entries can have, keys and list starts included: a file of more is
// refused while it is parsed, before it takes the memory of all of them.
constexpr std::size_t kMostFileValues = kMostServers * 16 + 16;
// Names tried for the damaged file when one of the same second is there already.
constexpr int kMostSetAsideTries = 100;

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

Json parsedWithinBounds(std::string_view text) {
    std::size_t values = 0;
    return Json::parse(text, [&values](int, Json::parse_event_t event, const Json&) {
        if (event != Json::parse_event_t::object_end && event != Json::parse_event_t::array_end &&
            ++values > kMostFileValues) {
            throw std::invalid_argument("it holds more entries than any server list can");
        }
        return true;
    });
}

const Json& field(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is missing");
    }
    return *found;
}

std::string textField(const Json& object, const char* key) {
    const Json& value = field(object, key);
    if (!value.is_string()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a text");
    }
    return value.get<std::string>();
}

ServerEntry readEntry(const Json& entry) {
    if (!entry.is_object()) {
        throw std::invalid_argument("a server is not an object");
    }
    const Json& port = field(entry, "port");
    const Json& remember = field(entry, "rememberLogin");
    if (!port.is_number_integer() || !remember.is_boolean()) {
        throw std::invalid_argument("\"port\" or \"rememberLogin\" is not what it should be");
    }
    ServerEntry server{textField(entry, "name"), textField(entry, "address"), port.get<int>(),
                       textField(entry, "user"), remember.get<bool>(),        std::string()};
    if (entry.contains("password")) {
        server.filedPassword = textField(entry, "password");
    }
    return server;
}

std::vector<ServerEntry> readEntries(const Json& document) {
    const Json& list = field(document, "servers");
    if (!list.is_array() || list.size() > kMostServers) {
        throw std::invalid_argument("\"servers\" is not a list of at most " +
                                    std::to_string(kMostServers));
    }
    // The list's own rules, against a first server of no address: a file holds nothing the
    // operator could not have made.
    ServerList checked(ServerEntry{});
    for (const Json& entry : list) {
        ServerEntry server = readEntry(entry);
        if (server.name != serverNameTrimmed(server.name)) {
            throw std::invalid_argument("a name begins or ends with a space");
        }
        if (auto error = checked.add(server)) {
            throw std::invalid_argument(*error);
        }
    }
    return {checked.added().begin(), checked.added().end()};
}

std::string utcStamp(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%SZ", &parts);
    return {text.data(), length};
}

// Renames the file to a damaged name that nothing has yet, never over another file.
std::optional<std::filesystem::path> setAside(const std::filesystem::path& path,
                                              std::chrono::system_clock::time_point now) {
    const std::string stem = path.string() + ".damaged-" + utcStamp(now);
    for (int attempt = 0; attempt < kMostSetAsideTries; ++attempt) {
        std::filesystem::path target = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

enum class Reading { Whole, TooLarge, Unopened };

Reading readBounded(const std::filesystem::path& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    // Read in pieces and never past the bound: the size the file claims may change meanwhile.
    std::array<char, std::size_t{16} * 1024> piece{};
    while (file.read(piece.data(), piece.size()) || file.gcount() > 0) {
        text.append(piece.data(), static_cast<std::size_t>(file.gcount()));
        if (text.size() > kLargestServersFile_bytes) {
            return Reading::TooLarge;
        }
    }
    return !file.is_open() || file.bad() ? Reading::Unopened : Reading::Whole;
}

ServersFileResult setAsideResult(const std::filesystem::path& path, std::string_view why,
                                 std::chrono::system_clock::time_point now) {
    ServersFileResult result;
    const std::string head =
        "The server list " + quoted(path) + " cannot be read (" + shownServerText(why) + ")";
    if (const std::optional<std::filesystem::path> aside = setAside(path, now)) {
        result.state = ServersFileState::SetAside;
        result.setAsidePath = *aside;
        result.message = head + "; it is kept as " + quoted(*aside) +
                         " and only the login dialog's server is in the list.";
    } else {
        result.state = ServersFileState::Unreadable;
        result.message = head +
                         " nor kept aside; it is left as it is and changes to the list "
                         "are not saved.";
    }
    return result;
}

}  // namespace

std::filesystem::path serversFilePath(const std::filesystem::path& settingsFile) {
    return std::filesystem::path(settingsFile).replace_extension(".servers.json");
}

ParsedServers parseServers(std::string_view text) {
    ParsedServers parsed;
    try {
        const Json document = parsedWithinBounds(text);
        if (!document.is_object() || document.value("format", "") != kServersFileFormat) {
            throw std::invalid_argument("it is not a server list");
        }
        const Json& version = field(document, "version");
        if (!version.is_number_integer() || version.get<int>() < 1) {
            throw std::invalid_argument("its version is not known");
        }
        if (version.get<int>() > kServersFileVersion) {
            parsed.newerVersion = version.get<int>();
            return parsed;
        }
        parsed.servers = readEntries(document);
    } catch (const std::exception& error) {
        parsed.servers.clear();
        parsed.error = error.what();
    }
    return parsed;
}

ServersFileResult readServersFile(const std::filesystem::path& path, ServerList& list,
                                  std::chrono::system_clock::time_point now) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error) {
        return {};
    }
    std::string text;
    switch (readBounded(path, text)) {
        case Reading::TooLarge:
            return setAsideResult(
                path, "larger than " + std::to_string(kLargestServersFile_bytes / 1024) + " KB",
                now);
        case Reading::Unopened:
            return {ServersFileState::Unreadable,
                    "The server list " + quoted(path) +
                        " cannot be opened; it is left as it is and changes to the list are "
                        "not saved.",
                    {}};
        case Reading::Whole:
            break;
    }
    const ParsedServers parsed = parseServers(text);
    if (parsed.newerVersion) {
        return {ServersFileState::NewerVersion,
                "The server list " + quoted(path) +
                    " was written by a newer version of the client (format " +
                    std::to_string(*parsed.newerVersion) +
                    "); it is left as it is and changes to the list are not saved.",
                {}};
    }
    if (parsed.error) {
        return setAsideResult(path, *parsed.error, now);
    }
    ServersFileResult result{ServersFileState::Read, {}, {}};
    for (const ServerEntry& server : parsed.servers) {
        if (auto refused = list.add(server)) {
            result.message += (result.message.empty() ? "" : "\n") + std::string("\"") +
                              shownServerText(server.name) +
                              "\" is left out of the list: " + *refused;
        }
    }
    return result;
}

std::string serversJson(const ServerList& list) {
    Json servers = Json::array();
    for (const ServerEntry& server : list.added()) {
        Json entry = {{"name", server.name},
                      {"address", server.address},
                      {"port", server.port},
                      {"user", server.userName},
                      {"rememberLogin", server.rememberLogin}};
        if (!server.filedPassword.empty()) {
            entry["password"] = server.filedPassword;
        }
        servers.push_back(std::move(entry));
    }
    const Json document = {
        {"format", kServersFileFormat}, {"version", kServersFileVersion}, {"servers", servers}};
    // A user name or password may hold any bytes: invalid UTF-8 is replaced rather than refused.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<std::string> writeServersFile(const std::filesystem::path& path,
                                            const ServerList& list) {
    std::error_code error = makePrivateFolder(path.parent_path());
    if (!error) {
        error = writePrivateFile(path, serversJson(list));
    }
    if (error) {
        return "The server list could not be saved to " + quoted(path) + " (" + error.message() +
               ").";
    }
    return std::nullopt;
}

}  // namespace krt
