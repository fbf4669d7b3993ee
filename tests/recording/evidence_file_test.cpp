#include "recording/evidence_file.h"
#include "recording/frame_snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "support/log_capture.h"
#include "support/small_folder.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(EvidenceFileName, CameraNamesThatCannotHarmAFolder) {
    const struct {
        std::string_view camera;
        std::string_view part;
    } cases[] = {
        {"Gate", "Gate"},
        {"  Car park / east  ", "Car park _ east"},
        {"../../etc/passwd", "_._.._etc_passwd"},
        {".hidden", "_hidden"},
        {"-rf", "_rf"},
        {"Tor\x01\x7f", "Tor__"},
        {"Caf\xc3\xa9", "Caf\xc3\xa9"},
        {"bad \xff\xfe utf", "bad __ utf"},
        {"right\xe2\x80\xaeleft", "right_left"},  // U+202E would reverse what follows
        // What an exFAT stick or an SMB share refuses in a name.
        {"Gate: 1*2?\"3\"<4>|5", "Gate_ 1_2__3__4__5"},
        {"", "camera"},
        {"   ", "camera"},
        {std::string_view("a\0b", 3), "a_b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileNamePart(c.camera), c.part) << c.camera;
    }
    const std::string longName(200, 'x');
    EXPECT_EQ(fileNamePart(longName).size(), 80u);
    // A character is never cut in two.
    std::string accents;
    for (int k = 0; k < 60; ++k) {
        accents += "\xc3\xa9";
    }
    EXPECT_EQ(fileNamePart(accents).size(), 80u);
}

TEST(EvidenceFileName, TheCameraAndTheLocalTimeToTheMillisecond) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto time = std::chrono::system_clock::from_time_t(1'714'566'645) + 7ms;
    EXPECT_EQ(evidenceFileName("Gate", time, "jpg"), "Gate 2024-05-01 12-30-45.007.jpg");
    EXPECT_EQ(evidenceFileName("", time + 993ms, "mkv"), "camera 2024-05-01 12-30-46.000.mkv");
}

TEST(EvidenceFileName, AnotherServersCameraCarriesItsServer) {
    VideoChannel gate;
    gate.ChannelID = "1";
    gate.ChannelDescription = "Gate";
    EXPECT_EQ(cameraName(gate), "Gate");
    EXPECT_EQ(cameraName(gate, "Site B"), "Site B - Gate");
    // A server's name is the operator's text: it is made harmless as a camera's is.
    EXPECT_EQ(fileNamePart(cameraName(gate, "Site/B")), "Site_B - Gate");
}

TEST(EvidenceFile, SavedWholeAndNeverOverAnotherFile) {
    test::TempFolder folder;
    const fs::path path = folder.path() / "Gate.jpg";
    const std::vector<unsigned char> bytes{0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
    std::vector<fs::path> saved;
    for (int k = 0; k < 3; ++k) {
        std::error_code error;
        const std::optional<fs::path> placed = saveFile(path, bytes, ExistingFile::Keep, error);
        ASSERT_TRUE(placed) << error.message();
        saved.push_back(*placed);
    }
    EXPECT_THAT(saved, ::testing::ElementsAre(path, folder.path() / "Gate (2).jpg",
                                              folder.path() / "Gate (3).jpg"));
    std::ifstream file(saved[2], std::ios::binary);
    const std::vector<unsigned char> read((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(read, bytes);

    std::error_code error;
    EXPECT_FALSE(
        saveFile(folder.path() / "missing" / "Gate.jpg", bytes, ExistingFile::Keep, error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 3);
}

LiveFrame receivedFrame(std::string_view bytes, std::chrono::system_clock::time_point at) {
    LiveFrame frame;
    frame.reserve(static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), frame.buffer().begin());
    frame.setLength(static_cast<int>(bytes.size()));
    frame.setArrival({std::chrono::steady_clock::now(), at});
    return frame;
}

TEST(Snapshot, TheNewestFrameByteForByteNamedAfterItsArrival) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto at = std::chrono::system_clock::from_time_t(1'714'566'645) + 250ms;
    NewestFrame newest;
    EXPECT_FALSE(newest.copy());
    newest.keep(receivedFrame("an older and longer frame", at - 100ms));
    newest.keep(receivedFrame("newest", at));
    const std::optional<KeptFrame> kept = newest.copy();
    ASSERT_TRUE(kept);

    test::TempFolder folder;
    const SnapshotResult saved = saveSnapshot(folder.path() / "KRT", "Gate", *kept);
    ASSERT_TRUE(saved.file) << saved.error;
    EXPECT_EQ(*saved.file, folder.path() / "KRT" / "Gate 2024-05-01 12-30-45.250.jpg");
    std::ifstream file(*saved.file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "newest");

    test::SmallFolder readOnly(folder.path() / "disk");
    if (readOnly.isTmpfs()) {
        readOnly.setReadOnly(true);
        const SnapshotResult refused = saveSnapshot(readOnly.path(), "Gate", *kept);
        EXPECT_FALSE(refused.file);
        EXPECT_EQ(refused.error, "Cannot save the snapshot in " + readOnly.path().string() +
                                     ": Read-only file system.");
        EXPECT_TRUE(fs::is_empty(readOnly.path()));
    }
}

}  // namespace
}  // namespace krt
