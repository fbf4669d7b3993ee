// The layouts file: whatever its bytes, reading it ends in a book within the book's bounds or
// in a message for the user (never an exception) of one short line that quotes the file only
// by the text rule, a book it reads obeys the rules the user's changes obey (an empty cell names
// no server), and a book written back reads back the same.
#include <cstdint>
#include <set>
#include <string_view>

#include "fuzz_check.h"
#include "layouts/layout_template.h"
#include "layouts/layouts_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const krt::LayoutsFileResult result = krt::parseLayouts(text, "layouts.json");
    if (result.state != krt::LayoutsFileState::Read) {
        FUZZ_CHECK(!result.message.empty() && !result.writable());
        FUZZ_CHECK(result.message.size() < 1000 && result.message.find('\n') == std::string::npos);
        FUZZ_CHECK(result.message.find("\u202E") == std::string::npos);
        FUZZ_CHECK(result.book.layouts().empty() && result.book.tours().empty());
        return 0;
    }
    FUZZ_CHECK(result.message.empty() && result.writable());
    FUZZ_CHECK(result.book.layouts().size() <= krt::kMostLayouts);
    FUZZ_CHECK(result.book.tours().size() <= krt::kMostTours);
    std::set<std::string> names;
    for (const krt::Layout& layout : result.book.layouts()) {
        const std::optional<krt::LayoutTemplate> shape = krt::findLayoutTemplate(layout.templateId);
        FUZZ_CHECK(shape && layout.cells.size() == shape->cells.size());
        FUZZ_CHECK(layout.name != krt::kAllCamerasLayout && names.insert(layout.name).second);
        for (const krt::CameraRef& cell : layout.cells) {
            FUZZ_CHECK(!cell.channel.empty() || cell == krt::CameraRef{});
        }
    }
    for (const krt::Tour& tour : result.book.tours()) {
        FUZZ_CHECK(tour.dwell_s >= krt::Tour::kShortestDwell_s &&
                   tour.dwell_s <= krt::Tour::kLongestDwell_s);
        FUZZ_CHECK(!tour.layouts.empty() && tour.layouts.size() <= krt::kMostTourStops &&
                   tour.alarmShow_s >= 0);
    }
    const krt::LayoutsFileResult again =
        krt::parseLayouts(krt::layoutsJson(result.book), "layouts.json");
    FUZZ_CHECK(again.state == krt::LayoutsFileState::Read);
    FUZZ_CHECK(again.book.layouts() == result.book.layouts());
    FUZZ_CHECK(again.book.tours() == result.book.tours());
    return 0;
}
