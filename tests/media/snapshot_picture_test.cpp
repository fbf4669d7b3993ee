#include "media/snapshot_picture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "alarms/late_alarm.h"
#include "journal/snapshot_export.h"
#include "media/test_jpeg.h"

namespace krt {
namespace {

// Blue, green, red of the decoded pixel.
std::array<int, 3> pixelAt(const DecodedPicture& picture, int x, int y) {
    const auto offset =
        static_cast<std::size_t>(y * picture.bytesPerLine() + x * DecodedPicture::kBytesPerPixel);
    return {picture.pixels[offset], picture.pixels[offset + 1], picture.pixels[offset + 2]};
}

bool near(std::array<int, 3> pixel, test::Colour rgb) {
    return std::abs(pixel[0] - rgb[2]) < 40 && std::abs(pixel[1] - rgb[1]) < 40 &&
           std::abs(pixel[2] - rgb[0]) < 40;
}

TEST(SnapshotPicture, ScaleToFitKeepsTheProportions) {
    struct Case {
        PictureSize picture;
        PictureSize area;
        PictureSize fitted;
    };
    for (const Case& c :
         {Case{{640, 480}, {320, 320}, {320, 240}}, Case{{640, 480}, {1000, 300}, {400, 300}},
          Case{{352, 288}, {704, 1000}, {704, 576}}, Case{{4000, 1}, {100, 100}, {100, 1}},
          Case{{0, 480}, {100, 100}, {}}, Case{{640, 480}, {0, 100}, {}}}) {
        EXPECT_EQ(scaleToFit(c.picture, c.area), c.fitted)
            << c.picture.width << "x" << c.picture.height << " in " << c.area.width << "x"
            << c.area.height;
    }
}

TEST(SnapshotPicture, DecodesRightWayUpWithinTheLimit) {
    // Stored upside down: what the camera saw on top is at the bottom of the file.
    const std::vector<unsigned char> jpeg = test::twoBandJpeg(1280, 960, test::kBlue, test::kRed);
    const std::optional<DecodedPicture> picture = decodeSnapshot(jpeg);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size, (PictureSize{960, 720}));
    EXPECT_TRUE(near(pixelAt(*picture, 480, 10), test::kRed));
    EXPECT_TRUE(near(pixelAt(*picture, 480, 710), test::kBlue));

    const std::optional<DecodedPicture> small =
        decodeSnapshot(test::twoBandJpeg(352, 288, test::kBlue, test::kRed));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size, (PictureSize{352, 288})) << "never enlarged";
}

TEST(SnapshotPicture, RefusesWhatIsNoWholeJpegOrClaimsTooManyPixels) {
    const std::vector<unsigned char> jpeg = test::twoBandJpeg(64, 48, test::kBlue, test::kRed);
    std::vector<unsigned char> truncated(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3);
    std::vector<unsigned char> huge = jpeg;
    // The frame header's height and width, as 65000 x 65000.
    const std::array<unsigned char, 2> startOfFrame{0xFF, 0xC0};
    const auto frame =
        std::search(huge.begin(), huge.end(), startOfFrame.begin(), startOfFrame.end());
    ASSERT_NE(frame, huge.end());
    std::fill(frame + 5, frame + 9, 0xFD);
    const std::vector<unsigned char> text{'<', 'x', 'm', 'l', '>'};
    for (const auto& [what, bytes] :
         {std::pair{"truncated", truncated}, std::pair{"huge", huge}, std::pair{"not a jpeg", text},
          std::pair{"empty", std::vector<unsigned char>{}}}) {
        EXPECT_FALSE(decodeSnapshot(bytes)) << what;
    }
}

TEST(SnapshotExport, SavesTheBytesAsReceivedUnderTheCameraAndTime) {
    const WallClock::time_point time = alarmTimePoint({2013, 11, 0, 25, 10, 41, 2, 123}).value();
    EXPECT_EQ(snapshotSaveName("Lobby 2", time), "Lobby_2-20131125-104102.jpg");
    EXPECT_EQ(snapshotSaveName("../etc", time), "_.._etc-20131125-104102.jpg");
    EXPECT_EQ(snapshotSaveName("", time), "_-20131125-104102.jpg");

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("krt-export-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string bytes("\xFF\xD8\0\r\n\x1A\xFF\xD9", 8);
    const std::filesystem::path saved = folder / "3-20131125-104102.jpg";
    ASSERT_TRUE(saveSnapshotCopy(saved, bytes));
    std::ifstream file(saved, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), bytes);
    // A "folder" that is a file cannot be written, whoever runs the test.
    EXPECT_FALSE(saveSnapshotCopy(saved / "copy.jpg", bytes));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace krt
