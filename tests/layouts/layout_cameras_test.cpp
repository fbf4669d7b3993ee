#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/server_text.h"
#include "layouts/layout_cell.h"
#include "layouts/layouts_file.h"

namespace krt {
namespace {

CameraRef firsts(std::string channel) {
    return {.server = {}, .channel = std::move(channel)};
}

CameraRef of(std::string server, std::string channel) {
    return {.server = std::move(server), .channel = std::move(channel)};
}

// The first server's catalogue: "1" at 0, "4" at 1.
std::vector<VideoChannel> firstServersCatalogue() {
    std::vector<VideoChannel> channels(2);
    channels[0].ChannelID = "1";
    channels[1].ChannelID = "4";
    return channels;
}

// One layout of four cells, as the layouts file holds it, and what becomes of it.
struct CamerasCase {
    const char* what;
    std::string cells;  // its "cells" in the file, in the form the client writes them
    int version;        // the version the client writes the book with
    std::vector<CameraRef> read;
    std::vector<int> shown;  // the catalogue index each cell shows; -1: none
    // After the first server's "1" is dropped on the second cell.
    std::vector<CameraRef> afterDrop;
};

void PrintTo(const CamerasCase& c, std::ostream* out) {
    *out << c.what;
}

std::string layoutsFileOf(const CamerasCase& c) {
    return R"({"format": "krt-layouts", "version": )" + std::to_string(c.version) +
           R"(, "layouts": [{"name": "Wall", "template": "2x2", "cells": )" + c.cells + "}]}";
}

class LayoutCameras : public testing::TestWithParam<CamerasCase> {};

TEST_P(LayoutCameras, ReadShownDroppedAndWrittenBackAsTheyWere) {
    const CamerasCase& c = GetParam();
    const LayoutsFileResult result = parseLayouts(layoutsFileOf(c), "layouts.json");
    ASSERT_EQ(result.state, LayoutsFileState::Read) << result.message;
    const std::vector<CameraRef>& cells = result.book.layouts().at(0).cells;
    EXPECT_EQ(cells, c.read);

    const std::vector<VideoChannel> catalogue = firstServersCatalogue();
    for (std::size_t k = 0; k < cells.size(); ++k) {
        SCOPED_TRACE(k);
        const CellCamera shown = cellCamera(cells[k], catalogue);
        EXPECT_EQ(shown.channelIndex, c.shown[k]);
        if (cells[k].isFirstServers()) {
            EXPECT_EQ(shown.note.empty(), cells[k].channel.empty() || shown.channelIndex >= 0);
        } else {
            EXPECT_EQ(shown.note, "Camera \"" + shownServerText(cells[k].channel) + "\" of \"" +
                                      shownServerText(cells[k].server) +
                                      "\": camera no longer available");
        }
    }

    // Written back: the same cells in the same form, and the version a client of one server
    // reads whenever they are all the first server's.
    const std::string written = layoutsJson(result.book);
    const nlohmann::json document = nlohmann::json::parse(written);
    EXPECT_EQ(document["version"], c.version);
    EXPECT_EQ(document["layouts"][0]["cells"], nlohmann::json::parse(c.cells));
    const LayoutsFileResult back = parseLayouts(written, "layouts.json");
    ASSERT_EQ(back.state, LayoutsFileState::Read) << back.message;
    EXPECT_EQ(back.book.layouts(), result.book.layouts());

    LayoutBook dropped = result.book;
    dropped.placeCamera("Wall", 1, firsts("1"));
    EXPECT_EQ(dropped.layouts().at(0).cells, c.afterDrop);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LayoutCameras,
    testing::Values(
        CamerasCase{"today's file: the first server's IDs",
                    R"(["4", "", "9", "1"])",
                    1,
                    {firsts("4"), {}, firsts("9"), firsts("1")},
                    {1, -1, -1, 0},
                    {firsts("4"), firsts("1"), firsts("9"), {}}},
        CamerasCase{"another server's cameras",
                    R"([{"server": "Site B", "channel": "4"}, {"server": "Site B", "channel": "1"},
                        "", ""])",
                    2,
                    {of("Site B", "4"), of("Site B", "1"), {}, {}},
                    {-1, -1, -1, -1},
                    {of("Site B", "4"), firsts("1"), {}, {}}},
        CamerasCase{"\"1\" of three servers, three cameras",
                    R"([{"server": "Site B", "channel": "1"}, "4",
                        {"server": "Site C", "channel": "1"}, "1"])",
                    2,
                    {of("Site B", "1"), firsts("4"), of("Site C", "1"), firsts("1")},
                    {-1, 1, -1, 0},
                    {of("Site B", "1"), firsts("1"), of("Site C", "1"), firsts("4")}},
        CamerasCase{"a server's name of odd text",
                    R"(["", {"server": "Dock \"7\"\u202e\\ \u2044 ночь\n", "channel": "4\t"},
                        {"server": " Site B", "channel": "4"}, {"server": "site b", "channel": "4"}])",
                    2,
                    {{},
                     of("Dock \"7\"\u202e\\ \u2044 ночь\n", "4\t"),
                     of(" Site B", "4"),
                     of("site b", "4")},
                    {-1, -1, -1, -1},
                    {{}, firsts("1"), of(" Site B", "4"), of("site b", "4")}}));

}  // namespace
}  // namespace krt
