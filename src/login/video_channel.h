#pragma once

#include <string>

namespace krt {

// One camera of the catalogue, copied by value. A fresh record is all empty and zero.
struct VideoChannel {
    std::string ChannelID;
    std::string ChannelDescription;
    std::string ChannelType;
    int Width = 0;
    int Height = 0;
    int RecWidth = 0;
    int RecHeight = 0;
    bool DetailsLoaded = false;
    bool PTZEnabled = false;

    bool operator==(const VideoChannel&) const = default;
};

}  // namespace krt
