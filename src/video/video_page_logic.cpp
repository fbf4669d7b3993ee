#include "video/video_page_logic.h"

namespace krt {

TitleTexts titleTexts(const VideoChannel* channel) {
    if (channel == nullptr) {
        return {};
    }
    return {channel->ChannelID, channel->ChannelID + " - " + channel->ChannelDescription};
}

TopRowLayout topRowLayout(int pageWidth, int comboWidth, int comboHeight) {
    constexpr int kTop = 5;
    constexpr int kLinkWidth = 30;
    constexpr int kLinkHeight = 40;
    const int gap = (pageWidth - comboWidth - 3 * kLinkWidth) / 4;
    TopRowLayout layout;
    for (int k = 0; k < 3; ++k) {
        layout.links[static_cast<std::size_t>(k)] = {(k + 1) * gap + k * kLinkWidth, kTop,
                                                     kLinkWidth, kLinkHeight};
    }
    layout.comboBox = {4 * gap + 3 * kLinkWidth, kTop, comboWidth, comboHeight};
    return layout;
}

int scrollHeightOnResize(int clientWidth, int rows, int cols) {
    if (rows <= 0 || cols <= 0) {
        return 0;
    }
    return rows * ((clientWidth / cols - 5 * cols) * 3 / 4);
}

int initialScrollHeight(int clientWidth, int rows, int cols, int keptScrollHeight) {
    if (rows <= 0 || cols <= 0) {
        return keptScrollHeight;
    }
    return ((3 * (clientWidth / cols) - 15 * cols) / 4) * (rows + 1);
}

bool initialScrollBarNeeded(int scrollHeight, int clientHeight) {
    return scrollHeight + 8 >= clientHeight;
}

}  // namespace krt
