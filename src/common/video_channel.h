#pragma once

#include <span>
#include <string>
#include <string_view>

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

// The index of the channel whose ChannelID equals `channelId` ignoring letter case, or -1.
// An empty ID finds nothing: the all-zero records of the table are no channels.
int findChannelIndex(std::span<const VideoChannel> channels, std::string_view channelId);

}  // namespace krt
