#include "layouts/layout_book.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

LayoutBook entrances() {
    LayoutBook book;
    EXPECT_FALSE(book.addLayout("Entrances", "1+5"));
    EXPECT_FALSE(book.putTour({"Night", 10, {"Entrances", "All cameras"}, 0}));
    return book;
}

CameraRef firstServersCamera(std::string channel) {
    return {.server = {}, .channel = std::move(channel)};
}

// The cells' IDs, of cells that are all the first server's.
std::vector<std::string> cellsOf(const LayoutBook& book, std::string_view name) {
    std::vector<std::string> ids;
    for (const CameraRef& cell : book.findLayout(name)->cells) {
        EXPECT_TRUE(cell.isFirstServers());
        ids.push_back(cell.channel);
    }
    return ids;
}

// Characters, not bytes: each "é" is two bytes of UTF-8.
const std::string kLongestName = std::string(kLongestName_characters - 1, 'x') + "\u00e9";
const std::string kTooLongName = kLongestName + "\u00e9";

TEST(LayoutBookNames, RefusedNamesSayWhy) {
    LayoutBook book = entrances();
    struct Case {
        std::string_view name;
        std::string_view because;
    };
    for (const Case& c :
         {Case{"", "needs a name"}, Case{" \t", "needs a name"}, Case{"All cameras", "built-in"},
          Case{"Entrances", "exists already"}, Case{kTooLongName, "at most 200 characters"}}) {
        const std::optional<std::string> error = book.addLayout(c.name, "2x2");
        ASSERT_TRUE(error) << c.name;
        EXPECT_NE(error->find(c.because), std::string::npos) << *error;
        EXPECT_TRUE(book.renameLayout("Entrances", c.name) || c.name == "Entrances");
        EXPECT_TRUE(book.duplicateLayout("Entrances", c.name));
    }
    EXPECT_EQ(book.layouts().size(), 1U);
    EXPECT_FALSE(book.addLayout(kLongestName, "2x2"));
    EXPECT_EQ(book.freeName("Entrances"), "Entrances 2");
    EXPECT_EQ(book.freeName("Lobby"), "Lobby");
}

TEST(LayoutBookNames, ToursFollowRenameAndRemoval) {
    LayoutBook book = entrances();
    ASSERT_FALSE(book.renameLayout("Entrances", "Doors <&> \"1\""));
    EXPECT_EQ(book.findTour("Night")->layouts,
              (std::vector<std::string>{"Doors <&> \"1\"", "All cameras"}));
    ASSERT_FALSE(book.duplicateLayout("Doors <&> \"1\"", "Copy"));
    book.removeLayout("Doors <&> \"1\"");
    EXPECT_EQ(book.findTour("Night")->layouts, (std::vector<std::string>{"All cameras"}));
    EXPECT_NE(book.findLayout("Copy"), nullptr);
}

TEST(LayoutBookCells, PlaceSwapAndTemplateChanges) {
    LayoutBook book = entrances();
    book.placeCamera("Entrances", 0, firstServersCamera("4"));
    book.placeCamera("Entrances", 2, firstServersCamera("1"));
    EXPECT_EQ(cellsOf(book, "Entrances"), (std::vector<std::string>{"4", "", "1", "", "", ""}));
    // A camera already in the layout moves; the camera it meets takes its old cell.
    book.placeCamera("Entrances", 0, firstServersCamera("1"));
    EXPECT_EQ(cellsOf(book, "Entrances"), (std::vector<std::string>{"1", "", "4", "", "", ""}));
    book.swapCells("Entrances", 2, 5);
    book.swapCells("Entrances", 2, 99);  // out of range: nothing
    EXPECT_EQ(cellsOf(book, "Entrances"), (std::vector<std::string>{"1", "", "", "", "", "4"}));
    book.placeCamera("Entrances", 0, firstServersCamera(""));
    ASSERT_FALSE(book.setTemplate("Entrances", "2x2"));
    EXPECT_EQ(cellsOf(book, "Entrances"), (std::vector<std::string>{"", "", "", ""}));
    ASSERT_FALSE(book.setTemplate("Entrances", "8x8"));
    EXPECT_EQ(cellsOf(book, "Entrances").size(), 64U);
    EXPECT_TRUE(book.setTemplate("Entrances", "9x9"));
}

TEST(LayoutBookBounds, LayoutsAndToursStopAtTheirMostAndSayWhy) {
    LayoutBook book;
    for (std::size_t k = 0; k < kMostLayouts; ++k) {
        ASSERT_FALSE(book.addLayout("L" + std::to_string(k), "1"));
    }
    for (const std::optional<std::string>& refused :
         {book.addLayout("one more", "1"), book.duplicateLayout("L0", "one more")}) {
        ASSERT_TRUE(refused);
        EXPECT_NE(refused->find("1000 layouts already"), std::string::npos) << *refused;
    }
    EXPECT_FALSE(book.renameLayout("L0", "renamed")) << "a rename adds nothing";

    const std::vector<std::string> stops(kMostTourStops, "renamed");
    for (std::size_t k = 0; k < kMostTours; ++k) {
        ASSERT_FALSE(book.putTour({"T" + std::to_string(k), 10, stops, 0}));
    }
    const std::optional<std::string> refused = book.putTour({"one more", 10, {"L1"}, 0});
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("100 tours already"), std::string::npos) << *refused;
    EXPECT_FALSE(book.putTour({"T0", 20, {"L1"}, 0})) << "a changed tour adds nothing";
    EXPECT_EQ(book.layouts().size(), kMostLayouts);
    EXPECT_EQ(book.tours().size(), kMostTours);
}

TEST(LayoutBookBounds, ATourOfTooManyStopsOrTooLongANameIsRefused) {
    LayoutBook book = entrances();
    struct Case {
        Tour tour;
        std::string_view because;
    };
    for (const Case& c :
         {Case{{"Long", 10, std::vector<std::string>(kMostTourStops + 1, "Entrances"), 0},
               "at most 1001 layouts"},
          Case{{kTooLongName, 10, {"Entrances"}, 0}, "at most 200 characters"}}) {
        const std::optional<std::string> error = book.putTour(c.tour);
        ASSERT_TRUE(error);
        EXPECT_NE(error->find(c.because), std::string::npos) << *error;
    }
    EXPECT_EQ(book.tours().size(), 1U);
}

TEST(LayoutBookBounds, ACameraIdLongerThanTheServerSendsIsNotPlaced) {
    LayoutBook book = entrances();
    book.placeCamera("Entrances", 0,
                     firstServersCamera(std::string(kLongestChannelId_characters + 1, '7')));
    book.placeCamera("Entrances", 1,
                     firstServersCamera(std::string(kLongestChannelId_characters, '8')));
    EXPECT_EQ(cellsOf(book, "Entrances")[0], "");
    EXPECT_EQ(cellsOf(book, "Entrances")[1], std::string(kLongestChannelId_characters, '8'));
}

TEST(LayoutBookBounds, AServerNameBlankOrBeyondTheLongestIsNotPlaced) {
    LayoutBook book = entrances();
    book.placeCamera("Entrances", 0, {.server = " \t", .channel = "4"});
    book.placeCamera("Entrances", 1, {.server = kTooLongName, .channel = "4"});
    book.placeCamera("Entrances", 2, {.server = kLongestName, .channel = "4"});
    // A camera without a channel empties the cell, whichever server it names.
    book.placeCamera("Entrances", 3, {.server = "Site B", .channel = "4"});
    book.placeCamera("Entrances", 3, {.server = "Site B", .channel = ""});
    EXPECT_EQ(
        book.findLayout("Entrances")->cells,
        (std::vector<CameraRef>{{}, {}, {.server = kLongestName, .channel = "4"}, {}, {}, {}}));
}

}  // namespace
}  // namespace krt
