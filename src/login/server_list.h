#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/app_state.h"

namespace krt {

// One server the operator logs in to. The first server is the login dialog's; the others are
// added by the operator under a name of their choosing, which is how cameras, alarms and
// journal lines name them (CameraRef::server).
struct ServerEntry {
    std::string name;     // empty for the first server only
    std::string address;  // dotted IPv4, as the login dialog's address control writes it
    int port = kServerPort;
    std::string userName;
    bool rememberLogin = false;
    // Kept in the list file only where no secret store exists at all; otherwise empty and the
    // password is in the store under serverSecretStoreKey.
    std::string filedPassword;

    bool operator==(const ServerEntry&) const = default;
};

inline constexpr std::size_t kMostServerNameCharacters = 200;
// Far beyond the two to four sites a company has; a list file of more is not read.
inline constexpr std::size_t kMostServers = 64;

inline constexpr std::string_view kServerNameEmpty = "Please enter a name for the server.";
inline constexpr std::string_view kServerNameTooLong =
    "The server's name is too long.\nIt may have at most 200 characters.";
inline constexpr std::string_view kServerNameUnprintable =
    "The server's name may hold only printable characters.";
inline constexpr std::string_view kServerPortInvalid = "Please specify a port between 1 and 65535.";
inline constexpr std::string_view kServerUserTooLong =
    "The user name is too long.\nIt may have at most 31 characters.";
inline constexpr std::string_view kTooManyServers = "The list holds as many servers as it can.";
inline constexpr std::string_view kServerNotFound = "There is no server of that name.";

// What is wrong with the entry on its own (not against the list), or nothing. Its name has no
// leading or trailing spaces by then (serverNameTrimmed).
std::optional<std::string> checkServerEntry(const ServerEntry& entry);
std::string serverNameTrimmed(std::string_view name);

// The first server and the ones the operator added, in the order they were added. Every entry
// obeys checkServerEntry; no two share a name or an address and port.
class ServerList {
  public:
    explicit ServerList(ServerEntry first);

    const ServerEntry& first() const { return m_first; }
    // The first server changes only through the login dialog, which does not ask this list.
    void setFirst(ServerEntry first) { m_first = std::move(first); }
    // The servers the operator added: what the list file holds.
    std::span<const ServerEntry> added() const { return m_added; }
    const ServerEntry* find(std::string_view name) const;

    // Each returns what the operator is told when it is refused, or nothing.
    std::optional<std::string> add(ServerEntry entry);
    // The entry of that name becomes `entry`, whose name may be another.
    std::optional<std::string> replace(std::string_view name, ServerEntry entry);
    std::optional<std::string> remove(std::string_view name);

  private:
    // Checks the entry against every server but the added one at `skipped` (none: npos).
    std::optional<std::string> checkAgainstOthers(const ServerEntry& entry,
                                                  std::size_t skipped) const;
    std::size_t indexOf(std::string_view name) const;

    ServerEntry m_first;
    std::vector<ServerEntry> m_added;
};

}  // namespace krt
