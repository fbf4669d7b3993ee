#pragma once

#include <span>
#include <string>

#include "common/camera_ref.h"
#include "common/video_channel.h"

namespace krt {

// What a layout's cell shows: the camera's place in the first server's catalogue, or why it
// shows none. The client has the first server's cameras alone, so a camera of any other
// server is one it can no longer show (its cell keeps it, for when the server is back).
struct CellCamera {
    int channelIndex = -1;  // -1: no picture
    std::string note;       // for the operator when the cell names a camera it cannot show

    bool operator==(const CellCamera&) const = default;
};

CellCamera cellCamera(const CameraRef& cell, std::span<const VideoChannel> firstServers);

}  // namespace krt
