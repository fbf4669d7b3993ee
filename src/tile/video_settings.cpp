#include "tile/video_settings.h"

#include <algorithm>
#include <charconv>

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

int recordingMinutesFromText(std::string_view text) {
    int minutes = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), minutes);
    return error == std::errc() && end == text.data() + text.size() && minutes >= 1 &&
                   minutes <= kLongestRecordingMinutes
               ? minutes
               : kDefaultRecordingMinutes;
}

}  // namespace krt
