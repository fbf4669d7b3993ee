#include "video/view_state.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(ViewStateText, ReadsBackWhatWasSavedAndNothingElse) {
    const ViewState state{
        {"Entrances \"E\"", 0, "", true, 1, "AdnQywADAAA=", ""},
        {{"Night", 0, "", true, 2, "x", ""}, {"All cameras", 3, "7", false, 0, "", "Site B"}}};
    EXPECT_EQ(parseViewState(viewStateText(state)), state);
    // A view saved before cameras had servers is the first server's.
    const std::optional<ViewState> older = parseViewState(
        R"({"main": {"layout": "All cameras", "page": 0, "channel": "7", "fullScreen": false,
                     "screen": 0, "geometry": ""}, "windows": []})");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->main.channelId, "7");
    EXPECT_EQ(older->main.server, "");
    for (const std::string_view bad :
         {"", "{", "[]", R"({"main": {"layout": 5}})", R"({"main": {}, "windows": []})"}) {
        EXPECT_EQ(parseViewState(bad), std::nullopt) << bad;
    }
}

TEST(ViewStateText, AScreenThatDoesNotExistIsTheFirst) {
    struct Case {
        int requested;
        int screens;
        int chosen;
    };
    for (const Case& c :
         {Case{0, 1, 0}, Case{1, 2, 1}, Case{2, 2, 0}, Case{-1, 3, 0}, Case{5, 0, 0}}) {
        EXPECT_EQ(chosenScreen(c.requested, c.screens), c.chosen) << c.requested;
    }
}

}  // namespace
}  // namespace krt
