#include "layouts/layouts_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "common/server_text.h"
#include "layouts/layout_template.h"
#include "support/small_folder.h"

namespace krt {
namespace {

struct FileCase {
    const char* what;
    std::string text;
    LayoutsFileState state;
    std::size_t layouts;
    std::string_view messagePart;
};

void PrintTo(const FileCase& c, std::ostream* out) {
    *out << c.what;
}

class LayoutsFileReading : public testing::TestWithParam<FileCase> {};

TEST_P(LayoutsFileReading, ReadsWhatItCanAndSaysWhatItCannot) {
    const FileCase& c = GetParam();
    const LayoutsFileResult result = parseLayouts(c.text, "/home/op/layouts.json");
    EXPECT_EQ(result.state, c.state);
    EXPECT_EQ(result.book.layouts().size(), c.layouts);
    EXPECT_EQ(result.writable(), c.state == LayoutsFileState::Read);
    if (c.messagePart.empty()) {
        EXPECT_EQ(result.message, "");
    } else {
        EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
        EXPECT_NE(result.message.find("/home/op/layouts.json"), std::string::npos);
        EXPECT_NE(result.message.find("left as it is"), std::string::npos);
    }
}

constexpr std::string_view kHead = R"({"format": "krt-layouts", "version": 1, )";

// A list of `count` copies of the entry, each with its number where the entry says "#".
std::string listOf(std::size_t count, std::string_view entry) {
    std::string list = "[";
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t mark = entry.find('#');
        list += (k == 0 ? "" : ",");
        list += std::string(entry.substr(0, mark)) + std::to_string(k) +
                std::string(entry.substr(mark + 1));
    }
    return list + "]";
}

std::string fileOf(std::string_view layouts, std::string_view rest = "") {
    return std::string(kHead) + R"("layouts": )" + std::string(layouts) + std::string(rest) + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Files, LayoutsFileReading,
    testing::Values(
        FileCase{"two layouts and a tour",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "Entrances", "template": "1+5", "cells": ["4", "1", "", "9"]},
                    {"name": "Nacht ⁄ ночь \"A\"", "template": "8x8", "cells": []}],
                    "tours": [{"name": "Night", "dwellSeconds": 2, "layouts": ["Entrances"]}]})",
                 LayoutsFileState::Read, 2, ""},
        FileCase{"not JSON", "{\"format\": \"krt-layouts\", \"version\": 1, \"lay",
                 LayoutsFileState::Corrupt, 0, "cannot be read"},
        FileCase{"another program's JSON", R"({"version": 1, "layouts": []})",
                 LayoutsFileState::Corrupt, 0, "not a layouts file"},
        FileCase{"a newer version", R"({"format": "krt-layouts", "version": 7, "layouts": 5})",
                 LayoutsFileState::NewerVersion, 0, "newer version of the client (format 7)"},
        FileCase{"no version", R"({"format": "krt-layouts", "layouts": []})",
                 LayoutsFileState::Corrupt, 0, "version"},
        FileCase{"unknown template",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "A", "template": "7x7", "cells": []}]})",
                 LayoutsFileState::Corrupt, 0, "Unknown layout template"},
        FileCase{"two layouts of one name",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "A", "template": "1", "cells": []},
                    {"name": "A", "template": "1", "cells": []}]})",
                 LayoutsFileState::Corrupt, 0, "exists already"},
        FileCase{"the built-in name",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "All cameras", "template": "1", "cells": []}]})",
                 LayoutsFileState::Corrupt, 0, "built-in"},
        FileCase{"more cameras than cells",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "A", "template": "1", "cells": ["1", "2"]}]})",
                 LayoutsFileState::Corrupt, 0, "more cameras than cells"},
        FileCase{"a camera that is a number",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [
                    {"name": "A", "template": "2x2", "cells": [1]}]})",
                 LayoutsFileState::Corrupt, 0, "neither a text nor a server's camera"},
        FileCase{"a server's camera without its channel",
                 fileOf(R"([{"name": "A", "template": "1", "cells": [{"server": "B"}]}])"),
                 LayoutsFileState::Corrupt, 0, "channel"},
        FileCase{
            "a server's name that is a number",
            fileOf(R"([{"name": "A", "template": "1", "cells": [{"server": 2, "channel": "1"}]}])"),
            LayoutsFileState::Corrupt, 0, "\"server\" is not a text"},
        FileCase{
            "a blank server's name",
            fileOf(
                R"([{"name": "A", "template": "1", "cells": [{"server": " ", "channel": "1"}]}])"),
            LayoutsFileState::Corrupt, 0, "A server needs a name"},
        FileCase{"a server's name beyond the longest",
                 fileOf(R"([{"name": "A", "template": "1", "cells": [{"server": ")" +
                        std::string(201, 's') + R"(", "channel": "1"}]}])"),
                 LayoutsFileState::Corrupt, 0, "server's name has at most 200 characters"},
        FileCase{"a tour without layouts",
                 R"({"format": "krt-layouts", "version": 1, "layouts": [],
                    "tours": [{"name": "T", "layouts": []}]})",
                 LayoutsFileState::Corrupt, 0, "at least one layout"},
        FileCase{"tours that are no list", fileOf("[]", R"(, "tours": 5)"),
                 LayoutsFileState::Corrupt, 0, "\"tours\" is not a list"},
        FileCase{"a name beyond the longest",
                 fileOf(R"([{"name": ")" + std::string(201, 'x') +
                        R"(", "template": "1", "cells": []}])"),
                 LayoutsFileState::Corrupt, 0, "at most 200 characters"},
        FileCase{"a camera beyond the longest ID",
                 fileOf(R"([{"name": "A", "template": "1", "cells": [")" + std::string(256, '7') +
                        R"("]}])"),
                 LayoutsFileState::Corrupt, 0, "ID has at most 255 characters"},
        FileCase{
            "more than the most layouts",
            fileOf(listOf(kMostLayouts + 1, R"({"name": "L#", "template": "1", "cells": []})")),
            LayoutsFileState::Corrupt, 0, "more than 1000 layouts"},
        FileCase{"more than the most tours",
                 fileOf(R"([{"name": "A", "template": "1", "cells": []}])",
                        R"(, "tours": )" +
                            listOf(kMostTours + 1, R"({"name": "T#", "layouts": ["A"]})")),
                 LayoutsFileState::Corrupt, 0, "more than 100 tours"},
        FileCase{"more entries than any book has",
                 fileOf("[]", R"(, "padding": )" + listOf(kMostLayouts * 500, "#")),
                 LayoutsFileState::Corrupt, 0, "more entries than any layouts file"}));

TEST(LayoutsFileReading, NamesInTheMessageAreShownByTheTextRuleAndKeepItShort) {
    const std::string twice = R"({"name": "Door\u202es\n2", "template": "1", "cells": []})";
    const std::string huge(1024 * 1024, 'x');
    for (const std::string& text :
         {fileOf("[" + twice + "," + twice + "]"),
          fileOf(R"([{"name": ")" + huge + R"(", "template": "1", "cells": []}])"),
          std::string(kHead) + R"("layouts": [{"name": ")" + huge}) {
        const LayoutsFileResult result = parseLayouts(text, "/home/op/layouts.json");
        SCOPED_TRACE(result.message.substr(0, 400));
        EXPECT_EQ(result.state, LayoutsFileState::Corrupt);
        EXPECT_LT(result.message.size(), 1000U);
        EXPECT_EQ(result.message.find('\n'), std::string::npos);
        EXPECT_EQ(result.message.find("\u202E"), std::string::npos);
    }
    EXPECT_NE(parseLayouts(fileOf("[" + twice + "," + twice + "]"), "x")
                  .message.find("\"Door" + shownServerText("\u202E") + "s"),
              std::string::npos);
}

TEST(LayoutsFileReading, CellsPadToTheTemplateAndTheDwellStaysInItsRange) {
    const LayoutsFileResult result = parseLayouts(
        std::string(kHead) + R"("layouts": [{"name": "E", "template": "1+5", "cells": ["4"]}],
            "tours": [{"name": "T", "dwellSeconds": 2, "layouts": ["E"], "alarmSeconds": 20},
                      {"name": "U", "dwellSeconds": 9000, "layouts": ["E"]}]})",
        "x");
    ASSERT_EQ(result.state, LayoutsFileState::Read);
    EXPECT_EQ(result.book.layouts()[0].cells,
              (std::vector<CameraRef>{{.server = {}, .channel = "4"}, {}, {}, {}, {}, {}}));
    EXPECT_EQ(result.book.findTour("T")->dwell_s, 5);
    EXPECT_EQ(result.book.findTour("T")->alarmShow_s, 20);
    EXPECT_EQ(result.book.findTour("U")->dwell_s, 300);
}

class LayoutsFileOnDisk : public testing::Test {
  protected:
    void SetUp() override {
        m_folder = std::filesystem::path(testing::TempDir()) /
                   ("layouts_" + std::to_string(::getpid()) + "_" +
                    testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
    }
    void TearDown() override {
        ::chmod(m_folder.c_str(), 0700);
        std::filesystem::remove_all(m_folder);
    }
    std::filesystem::path m_folder;
};

TEST_F(LayoutsFileOnDisk, WrittenBookReadsBackAndAMissingFileIsAnEmptyOne) {
    const std::filesystem::path path = m_folder / "config" / "layouts.json";
    EXPECT_EQ(readLayoutsFile(path).state, LayoutsFileState::Missing);
    LayoutBook book;
    ASSERT_FALSE(book.addLayout("Entrances", "1+5"));
    book.placeCamera("Entrances", 0, {.server = {}, .channel = "4"});
    ASSERT_FALSE(book.addLayout("\xff odd \t name", "8x8"));
    ASSERT_FALSE(book.putTour({"Night", 10, {"Entrances", "All cameras"}, 15}));
    ASSERT_EQ(writeLayoutsFile(path, book), std::nullopt);
    const LayoutsFileResult back = readLayoutsFile(path);
    ASSERT_EQ(back.state, LayoutsFileState::Read) << back.message;
    EXPECT_EQ(back.book.layouts()[0], book.layouts()[0]);
    EXPECT_EQ(back.book.tours(), book.tours());
    EXPECT_EQ(back.book.layouts().size(), 2U);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".new"));
}

TEST_F(LayoutsFileOnDisk, AFullOrReadOnlyFolderKeepsThePreviousFile) {
    test::SmallFolder folder(m_folder / "small");
    const std::filesystem::path path = folder.path() / "layouts.json";
    LayoutBook book;
    ASSERT_FALSE(book.addLayout("Old", "1"));
    ASSERT_EQ(writeLayoutsFile(path, book), std::nullopt);
    ASSERT_FALSE(book.addLayout("New", "1"));
    folder.fill();
    std::optional<std::string> error = writeLayoutsFile(path, book);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("could not be saved"), std::string::npos);
    EXPECT_EQ(readLayoutsFile(path).book.layouts().size(), 1U);
    folder.free();
    if (::geteuid() != 0 || folder.isTmpfs()) {  // root writes into a read-only folder of a disk
        folder.setReadOnly(true);
        error = writeLayoutsFile(path, book);
        ASSERT_TRUE(error);
        EXPECT_EQ(readLayoutsFile(path).book.layouts().size(), 1U);
        folder.setReadOnly(false);
    }
    EXPECT_EQ(writeLayoutsFile(path, book), std::nullopt);
    EXPECT_EQ(readLayoutsFile(path).book.layouts().size(), 2U);
}

TEST_F(LayoutsFileOnDisk, AFileInPlaceOfTheFolderIsAnError) {
    std::filesystem::create_directories(m_folder);
    std::ofstream(m_folder / "config") << "not a folder";
    const std::optional<std::string> error =
        writeLayoutsFile(m_folder / "config" / "layouts.json", LayoutBook{});
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("could not be saved"), std::string::npos);
}

// The wall's book at every bound: the most layouts of the most cells, the most tours of the
// most stops. It is written and read back whole, and within the file's bound.
LayoutBook biggestBook(std::size_t idCharacters) {
    LayoutBook book;
    std::vector<std::string> stops;
    for (std::size_t k = 0; k < kMostLayouts; ++k) {
        stops.push_back("L" + std::to_string(k));
        EXPECT_FALSE(book.addLayout(stops.back(), "8x8"));
        for (int cell = 0; cell < kMostLayoutCells; ++cell) {
            std::string id = std::to_string(cell);
            id.resize(idCharacters, 'x');
            book.placeCamera(stops.back(), static_cast<std::size_t>(cell),
                             {.server = {}, .channel = id});
        }
    }
    stops.emplace_back(kAllCamerasLayout);
    for (std::size_t k = 0; k < kMostTours; ++k) {
        EXPECT_FALSE(book.putTour({"T" + std::to_string(k), 10, stops, 0}));
    }
    return book;
}

TEST_F(LayoutsFileOnDisk, TheBiggestBookOfShortIdsIsWrittenAndReadBackWhole) {
    const std::filesystem::path path = m_folder / "layouts.json";
    const LayoutBook book = biggestBook(6);
    ASSERT_EQ(writeLayoutsFile(path, book), std::nullopt);
    EXPECT_LE(std::filesystem::file_size(path), kLargestLayoutsFile_bytes);
    const LayoutsFileResult back = readLayoutsFile(path);
    ASSERT_EQ(back.state, LayoutsFileState::Read) << back.message;
    EXPECT_EQ(back.book.layouts(), book.layouts());
    EXPECT_EQ(back.book.tours(), book.tours());
}

TEST_F(LayoutsFileOnDisk, ABookTooLargeForTheFileIsNotWrittenOverThePreviousOne) {
    const std::filesystem::path path = m_folder / "layouts.json";
    ASSERT_EQ(writeLayoutsFile(path, LayoutBook{}), std::nullopt);
    const std::optional<std::string> error =
        writeLayoutsFile(path, biggestBook(kLongestChannelId_characters));
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("more than 8 MB"), std::string::npos) << *error;
    EXPECT_EQ(readLayoutsFile(path).state, LayoutsFileState::Read);
}

TEST_F(LayoutsFileOnDisk, AFileLargerThanTheBoundIsNotReadAndSaysSo) {
    std::filesystem::create_directories(m_folder);
    const std::filesystem::path path = m_folder / "layouts.json";
    const std::string book = fileOf(R"([{"name": "A", "template": "1", "cells": []}])");
    for (const std::size_t bytes : {kLargestLayoutsFile_bytes, kLargestLayoutsFile_bytes + 1}) {
        SCOPED_TRACE(bytes);
        std::ofstream(path, std::ios::trunc) << book << std::string(bytes - book.size(), ' ');
        ASSERT_EQ(std::filesystem::file_size(path), bytes);
        const LayoutsFileResult result = readLayoutsFile(path);
        if (bytes <= kLargestLayoutsFile_bytes) {
            EXPECT_EQ(result.state, LayoutsFileState::Read) << result.message;
            EXPECT_EQ(result.book.layouts().size(), 1U);
            continue;
        }
        EXPECT_EQ(result.state, LayoutsFileState::TooLarge);
        EXPECT_FALSE(result.writable());
        EXPECT_TRUE(result.book.layouts().empty());
        EXPECT_NE(result.message.find("is larger than 8 MB"), std::string::npos) << result.message;
        EXPECT_NE(result.message.find("left as it is"), std::string::npos);
    }
}

}  // namespace
}  // namespace krt
