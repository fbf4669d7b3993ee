#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/app_state.h"
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

std::vector<VideoChannel> catalogue(std::initializer_list<const char*> ids) {
    std::vector<VideoChannel> channels;
    for (const char* id : ids) {
        channels.emplace_back().ChannelID = id;
    }
    return channels;
}

// The first server with "1" and "4"; "Site B" logged in with "4" and "1"; "Site C" in the list
// but not logged in yet.
AppState session() {
    AppState first;
    first.m_serverAddress = "127.0.0.1";
    first.m_channels = catalogue({"1", "4"});
    auto siteB = std::make_unique<AppState>();
    siteB->m_serverName = "Site B";
    siteB->m_loggedIn = true;
    siteB->m_channels = catalogue({"4", "1"});
    auto siteC = std::make_unique<AppState>();
    siteC->m_serverName = "Site C";
    first.m_otherServers.push_back(std::move(siteB));
    first.m_otherServers.push_back(std::move(siteC));
    return first;
}

// What the cell shows: "SERVER/ID", or the note when it shows nothing.
std::string shownIn(const CellCamera& cell) {
    if (const VideoChannel* channel = cell.channel()) {
        return cell.server->shownName() + "/" + channel->ChannelID;
    }
    return cell.note;
}

// One layout of four cells, as the layouts file holds it, and what becomes of it.
struct CamerasCase {
    const char* what;
    std::string cells;  // its "cells" in the file, in the form the client writes them
    int version;        // the version the client writes the book with
    std::vector<CameraRef> read;
    std::vector<std::string> shown;  // each cell's camera ("SERVER/ID") or note (shownIn)
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

    const AppState servers = session();
    for (std::size_t k = 0; k < cells.size(); ++k) {
        EXPECT_EQ(shownIn(cellCamera(cells[k], servers)), c.shown[k]) << "cell " << k;
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
                    {"127.0.0.1/4", "", R"(Camera "9" is not in the catalogue)", "127.0.0.1/1"},
                    {firsts("4"), firsts("1"), firsts("9"), {}}},
        CamerasCase{"another server's cameras",
                    R"([{"server": "Site B", "channel": "4"}, {"server": "Site B", "channel": "1"},
                        "", ""])",
                    2,
                    {of("Site B", "4"), of("Site B", "1"), {}, {}},
                    {"Site B/4", "Site B/1", "", ""},
                    {of("Site B", "4"), firsts("1"), {}, {}}},
        CamerasCase{"\"1\" of three servers, three cameras",
                    R"([{"server": "Site B", "channel": "1"}, "4",
                        {"server": "Site C", "channel": "1"}, "1"])",
                    2,
                    {of("Site B", "1"), firsts("4"), of("Site C", "1"), firsts("1")},
                    {"Site B/1", "127.0.0.1/4", R"(Camera "1" of "Site C": waiting for the server)",
                     "127.0.0.1/1"},
                    {of("Site B", "1"), firsts("1"), of("Site C", "1"), firsts("4")}},
        CamerasCase{"a server's name of odd text",
                    R"(["", {"server": "Dock \"7\"\u202e\\ \u2044 ночь\n", "channel": "4\t"},
                        {"server": " Site B", "channel": "4"}, {"server": "site b", "channel": "4"}])",
                    2,
                    {{},
                     of("Dock \"7\"\u202e\\ \u2044 ночь\n", "4\t"),
                     of(" Site B", "4"),
                     of("site b", "4")},
                    {"",
                     "Camera \"" + shownServerText("4\t") + "\" of \"" +
                         shownServerText("Dock \"7\"\u202e\\ \u2044 ночь\n") +
                         "\": camera no longer available",
                     R"(Camera "4" of " Site B": camera no longer available)", "Site B/4"},
                    {{}, firsts("1"), of(" Site B", "4"), of("site b", "4")}}));

}  // namespace
}  // namespace krt
