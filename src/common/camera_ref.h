#pragma once

#include <compare>
#include <string>

namespace krt {

// A camera is its server's channel: channel IDs are unique only within one server, so two
// servers' channel "1" are two cameras.
struct CameraRef {
    // The server's name in the operator's server list; empty for the first server, the one of
    // the login dialog (which is all that files of a single-server client knew).
    std::string server;
    std::string channel;

    bool isFirstServers() const { return server.empty(); }
    auto operator<=>(const CameraRef&) const = default;
};

}  // namespace krt
