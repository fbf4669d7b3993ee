#include "video/video_settings.h"

#include <algorithm>

namespace krt {

int gridColumnsFromText(std::string_view text) {
    for (const int columns : kGridChoices) {
        if (text == std::to_string(columns)) {
            return columns;
        }
    }
    return kDefaultGridColumns;
}

std::string gridColumnsText(int columns) {
    return std::to_string(std::ranges::find(kGridChoices, columns) != kGridChoices.end()
                              ? columns
                              : kDefaultGridColumns);
}

}  // namespace krt
