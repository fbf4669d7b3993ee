#include "common/video_channel.h"

#include <algorithm>

namespace krt {
namespace {

// ASCII letters only: IDs are compared the same way whatever the process locale.
char foldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return foldCase(x) == foldCase(y); });
}

}  // namespace

int findChannelIndex(std::span<const VideoChannel> channels, std::string_view channelId) {
    if (channelId.empty()) {
        return -1;
    }
    const auto found = std::ranges::find_if(channels, [channelId](const VideoChannel& channel) {
        return equalIgnoringCase(channel.ChannelID, channelId);
    });
    return found == channels.end() ? -1 : static_cast<int>(found - channels.begin());
}

}  // namespace krt
