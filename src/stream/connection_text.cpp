#include "stream/connection_text.h"

#include "protocol/xml_message.h"

namespace krt {

std::optional<ConnectionTarget> parseConnectionText(std::string_view text) {
    const std::size_t firstColon = text.find(':');
    if (firstColon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view address = text.substr(0, firstColon);
    std::string_view channel = text.substr(firstColon + 1);
    std::optional<std::string_view> port;
    // A channel ID may hold ':' itself; the port never does, so it follows the last one.
    if (const std::size_t lastColon = channel.rfind(':'); lastColon != std::string_view::npos) {
        port = channel.substr(lastColon + 1);
        channel = channel.substr(0, lastColon);
    }
    if (address.size() > kMaxConnectionPart || channel.size() > kMaxConnectionPart ||
        (port && port->size() > kMaxConnectionPart)) {
        return std::nullopt;
    }
    ConnectionTarget target{std::string(address), std::string(channel)};
    if (port) {
        target.port = parseLeadingInt(*port);
    }
    return target;
}

std::string formatConnectionText(std::string_view address, std::string_view channelId, int port) {
    std::string text;
    text.reserve(address.size() + channelId.size() + 8);
    text.append(address).append(":").append(channelId).append(":").append(std::to_string(port));
    return text;
}

}  // namespace krt
