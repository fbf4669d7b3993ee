#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace krt::cli {

// One server of the command line: "[NAME=]ADDRESS[:LOGIN_PORT]".
struct ServerOption {
    std::string name;     // empty: none given
    std::string address;  // dotted IPv4
    int loginPort = 0;
    std::string given;  // the address as written, with its port when one was written

    // How output lines name the server: its name, else its address as written.
    const std::string& label() const { return name.empty() ? given : name; }
    bool operator==(const ServerOption&) const = default;
};

// The server of one --server value, the login port `defaultLoginPort` unless it names one;
// nothing when it is no such text.
std::optional<ServerOption> parseServerOption(std::string_view text, int defaultLoginPort);

// The name under which the journal keeps the alarms of the `index`th of the servers: its name,
// else the first server's is empty (as the client's login dialog's is) and another's is its
// address as written.
std::string journalSite(std::span<const ServerOption> servers, std::size_t index);

// "SERVER:ID": the index of the server whose name or address as written comes before the
// colon, and the channel ID after it. With one server, the whole text is the channel ID.
// Nothing when no server matches.
std::optional<std::pair<std::size_t, std::string>> pickCamera(
    std::string_view camera, std::span<const ServerOption> servers);

}  // namespace krt::cli
