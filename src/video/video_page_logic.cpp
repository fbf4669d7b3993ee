#include "video/video_page_logic.h"

namespace krt {

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

}  // namespace krt
