#pragma once

#include <algorithm>
#include <compare>
#include <string>
#include <string_view>

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

// One text for the camera, for tables keyed by text: a server's name holds no line break.
inline std::string cameraKey(const CameraRef& camera) {
    return camera.server + '\n' + camera.channel;
}
inline CameraRef cameraOfKey(std::string_view key) {
    const std::size_t cut = key.find('\n');
    if (cut == std::string_view::npos) {
        return {.server = {}, .channel = std::string(key)};
    }
    return {.server = std::string(key.substr(0, cut)), .channel = std::string(key.substr(cut + 1))};
}

// Names are the same server's when they differ only in the case of Latin letters.
inline bool sameServerName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::ranges::equal(a, b, {}, lower, lower);
}

}  // namespace krt
