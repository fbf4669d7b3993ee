#pragma once

#include <string>

#include "common/app_state.h"
#include "common/camera_ref.h"

namespace krt {

// What a layout's cell shows: the camera's server and its place in that server's catalogue,
// or why it shows none. A cell keeps its camera whatever happens to the server, for when the
// server is back or added again.
struct CellCamera {
    const AppState* server = nullptr;  // null: no picture
    int channelIndex = -1;             // in the server's table; -1: no picture
    std::string note;  // for the operator when the cell names a camera it cannot show

    const VideoChannel* channel() const {
        return server != nullptr && channelIndex >= 0
                   ? &server->m_channels[static_cast<std::size_t>(channelIndex)]
                   : nullptr;
    }
    bool operator==(const CellCamera&) const = default;
};

// `session` is the first server's state, which knows the others.
CellCamera cellCamera(const CameraRef& cell, const AppState& session);

}  // namespace krt
