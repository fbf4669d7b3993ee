#include "layouts/layout_cell.h"

#include "common/server_text.h"

namespace krt {

CellCamera cellCamera(const CameraRef& cell, const AppState& session) {
    if (cell.channel.empty()) {
        return {};
    }
    std::string camera = "Camera \"" + shownServerText(cell.channel) + "\"";
    if (!cell.isFirstServers()) {
        camera += " of \"" + shownServerText(cell.server) + "\"";
    }
    const AppState* server = session.server(cell.server);
    if (server == nullptr) {
        return {.note = camera + ": camera no longer available"};
    }
    if (!server->m_loggedIn && !cell.isFirstServers()) {
        return {.note = camera + ": waiting for the server"};
    }
    const int index = findChannelIndex(server->m_channels, cell.channel);
    if (index < 0) {
        return {.note = camera + " is not in the catalogue"};
    }
    return {.server = server, .channelIndex = index, .note = {}};
}

}  // namespace krt
