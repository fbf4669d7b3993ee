#include "video/view_state.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(ViewStateText, ReadsBackWhatWasSavedAndNothingElse) {
    const ViewState state{{"Entrances \"E\"", 0, "", true, 1, "AdnQywADAAA="},
                          {{"Night", 0, "", true, 2, "x"}, {"All cameras", 3, "7", false, 0, ""}}};
    EXPECT_EQ(parseViewState(viewStateText(state)), state);
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
