#include "server_option.h"

#include <charconv>

#include "protocol/tcp_socket.h"

namespace krt::cli {
namespace {

std::optional<int> portNumber(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

}  // namespace

std::optional<ServerOption> parseServerOption(std::string_view text, int defaultLoginPort) {
    ServerOption server;
    // A name may hold anything but '='; an address never holds one.
    if (const std::size_t equals = text.rfind('='); equals != std::string_view::npos) {
        server.name = std::string(text.substr(0, equals));
        text.remove_prefix(equals + 1);
        if (server.name.empty()) {
            return std::nullopt;
        }
    }
    server.given = std::string(text);
    server.loginPort = defaultLoginPort;
    if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        const std::optional<int> port = portNumber(text.substr(colon + 1));
        if (!port) {
            return std::nullopt;
        }
        server.loginPort = *port;
        text = text.substr(0, colon);
    }
    if (!parseIPv4(text)) {
        return std::nullopt;
    }
    server.address = std::string(text);
    return server;
}

std::string journalSite(std::span<const ServerOption> servers, std::size_t index) {
    const ServerOption& server = servers[index];
    if (!server.name.empty() || index == 0) {
        return server.name;
    }
    return server.given;
}

std::optional<std::pair<std::size_t, std::string>> pickCamera(
    std::string_view camera, std::span<const ServerOption> servers) {
    if (servers.size() == 1) {
        return std::pair(std::size_t{0}, std::string(camera));
    }
    // The longest match wins: "127.0.0.3:5501:4" is channel 4 of "127.0.0.3:5501", not
    // channel "5501:4" of "127.0.0.3".
    std::optional<std::pair<std::size_t, std::string>> picked;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        for (const std::string& prefix : {servers[i].name, servers[i].given}) {
            if (prefix.empty() || prefix.size() <= longest || camera.size() <= prefix.size() + 1 ||
                !camera.starts_with(prefix) || camera[prefix.size()] != ':') {
                continue;
            }
            longest = prefix.size();
            picked = std::pair(i, std::string(camera.substr(prefix.size() + 1)));
        }
    }
    return picked;
}

}  // namespace krt::cli
