#include "layouts/layout_cell.h"

#include "common/server_text.h"

namespace krt {

CellCamera cellCamera(const CameraRef& cell, std::span<const VideoChannel> firstServers) {
    if (cell.channel.empty()) {
        return {};
    }
    const std::string camera = "Camera \"" + shownServerText(cell.channel) + "\"";
    if (!cell.isFirstServers()) {
        return {.channelIndex = -1,
                .note = camera + " of \"" + shownServerText(cell.server) +
                        "\": camera no longer available"};
    }
    const int index = findChannelIndex(firstServers, cell.channel);
    if (index < 0) {
        return {.channelIndex = -1, .note = camera + " is not in the catalogue"};
    }
    return {.channelIndex = index, .note = {}};
}

}  // namespace krt
