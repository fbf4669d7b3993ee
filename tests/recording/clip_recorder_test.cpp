// Clips of received frames, read back with FFmpeg's demuxer.
#include "recording/clip_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "media/test_jpeg.h"
#include "recording/evidence_file.h"
#include "support/clip_reader.h"
#include "support/log_capture.h"
#include "support/small_folder.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::readClip;
using test::SmallFolder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Kind = RecordingNews::Kind;
using Bytes = std::vector<unsigned char>;

const auto kStart = std::chrono::steady_clock::time_point{} + 1000h;
const auto kCalendar = std::chrono::system_clock::from_time_t(1'714'566'645) + 123ms;
const Bytes kNoPicture{'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'};

LiveFrame frameAt(const Bytes& bytes, std::chrono::milliseconds offset) {
    LiveFrame frame;
    frame.reserve(static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), frame.buffer().begin());
    frame.setLength(static_cast<int>(bytes.size()));
    frame.setArrival({kStart + offset, kCalendar + offset});
    return frame;
}

// A recorder and what it told.
struct Recording {
    Recording() {
        recorder.setListener([this](const RecordingNews& item) { news.push_back(item); });
    }
    std::vector<Kind> kinds() const {
        std::vector<Kind> result;
        for (const RecordingNews& item : news) {
            result.push_back(item.kind);
        }
        return result;
    }
    void feed(const std::vector<std::pair<Bytes, std::chrono::milliseconds>>& frames) {
        for (const auto& [bytes, offset] : frames) {
            recorder.onFrame(frameAt(bytes, offset));
        }
    }

    ClipRecorder recorder;
    std::vector<RecordingNews> news;
};

// The camera is named after the folder, so that tests running at once never share a lock.
RecordingPlan planFor(const fs::path& folder) {
    RecordingPlan plan;
    plan.cameraName = "Gate";
    plan.cameraKey = folder.string();
    plan.folder = folder;
    plan.fallbackSize = {320, 240};
    return plan;
}

// The files of the folder but the hidden one that fills a small disk.
std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!entry.path().filename().string().starts_with(".")) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ClipRecording, KeepsEveryFrameAsReceivedWithItsArrivalTime) {
    test::TempFolder folder;
    Recording recording;
    ASSERT_EQ(recording.recorder.start(planFor(folder.path())), std::nullopt);
    const Bytes first = test::detailedJpeg(64, 48);
    const Bytes second = test::twoBandJpeg(64, 48, test::kRed, test::kBlue);
    // Two frames in one millisecond, and one that does not decode: evidence is what came.
    recording.feed({{first, 0ms}, {second, 40ms}, {kNoPicture, 40ms}, {first, 100ms}});
    EXPECT_EQ(recording.recorder.elapsed(kStart + 250ms), 250ms);
    recording.recorder.stop();

    const std::string name = evidenceFileName("Gate", kCalendar, "mkv");
    ASSERT_THAT(recording.kinds(), ElementsAre(Kind::ClipSaved));
    EXPECT_EQ(recording.news[0].file, folder.path() / name);
    EXPECT_THAT(fileNames(folder.path()), ElementsAre(name));
    const std::optional<test::ClipContents> clip = readClip(folder.path() / name);
    ASSERT_TRUE(clip);
    EXPECT_THAT(clip->format, HasSubstr("matroska"));
    EXPECT_EQ(clip->codec, "mjpeg");
    EXPECT_EQ(clip->width, 64);
    EXPECT_EQ(clip->height, 48);
    EXPECT_EQ(clip->title, "Gate");
    ASSERT_EQ(clip->frames.size(), 4u);
    const Bytes* sent[] = {&first, &second, &kNoPicture, &first};
    const std::int64_t times_ms[] = {0, 40, 41, 100};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(clip->frames[k].bytes, *sent[k]) << k;
        EXPECT_EQ(clip->frames[k].time_ms, times_ms[k]) << k;
    }
}

TEST(ClipRecording, AReconnectedStreamGoesOnInANewClip) {
    test::TempFolder folder;
    Recording recording;
    ASSERT_EQ(recording.recorder.start(planFor(folder.path())), std::nullopt);
    const Bytes picture = test::detailedJpeg(64, 48);
    recording.feed({{picture, 0ms}, {picture, 40ms}});
    recording.recorder.onStreamEnded();
    recording.feed({{picture, 5000ms}, {picture, 5040ms}, {picture, 5080ms}});
    EXPECT_EQ(recording.recorder.elapsed(kStart + 5080ms), 5080ms);
    recording.recorder.stop();

    ASSERT_THAT(recording.kinds(), ElementsAre(Kind::ClipSaved, Kind::ClipSaved));
    EXPECT_THAT(fileNames(folder.path()),
                ElementsAre(evidenceFileName("Gate", kCalendar, "mkv"),
                            evidenceFileName("Gate", kCalendar + 5000ms, "mkv")));
    for (std::size_t k = 0; k < 2; ++k) {
        const std::optional<test::ClipContents> clip = readClip(recording.news[k].file);
        ASSERT_TRUE(clip) << k;
        EXPECT_EQ(clip->frames.size(), k == 0 ? 2u : 3u);
        EXPECT_EQ(clip->frames.front().time_ms, 0) << "each clip starts at its own first frame";
    }
}

TEST(ClipRecording, EndsAtItsMaximumLengthWithOrWithoutAFrame) {
    for (const bool framesGoOn : {true, false}) {
        test::TempFolder folder;
        Recording recording;
        RecordingPlan plan = planFor(folder.path());
        plan.maxLength = 100ms;
        ASSERT_EQ(recording.recorder.start(plan), std::nullopt);
        const Bytes picture = test::detailedJpeg(64, 48);
        recording.feed({{picture, 0ms}, {picture, 99ms}});
        recording.recorder.checkLength(kStart + 99ms);
        EXPECT_TRUE(recording.recorder.recording());
        if (framesGoOn) {
            recording.feed({{picture, 100ms}, {picture, 140ms}});
        } else {
            recording.recorder.checkLength(kStart + 100ms);
        }
        EXPECT_FALSE(recording.recorder.recording()) << framesGoOn;
        ASSERT_THAT(recording.kinds(), ElementsAre(Kind::ClipSaved, Kind::ReachedMax));
        const std::optional<test::ClipContents> clip = readClip(recording.news[0].file);
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->frames.size(), 2u);
    }
}

TEST(ClipRecording, ALargeClipGoesOnInTheNextFileAndNoneReplacesAnother) {
    test::TempFolder folder;
    Recording recording;
    RecordingPlan plan = planFor(folder.path());
    plan.file = folder.path() / "gate.mkv";
    plan.maxClip_bytes = 16 * 1024;
    std::ofstream(*plan.file) << "an older file of that name";
    ASSERT_EQ(recording.recorder.start(plan), std::nullopt);
    const Bytes picture = test::detailedJpeg(64, 48);
    constexpr int kFrames = 100;
    for (int k = 0; k < kFrames; ++k) {
        recording.feed({{picture, k * 40ms}});
    }
    EXPECT_TRUE(recording.recorder.recording());
    recording.recorder.stop();

    ASSERT_GE(recording.news.size(), 3u);
    int frames = 0;
    for (std::size_t k = 0; k < recording.news.size(); ++k) {
        const RecordingNews& item = recording.news[k];
        ASSERT_EQ(item.kind, Kind::ClipSaved) << k;
        EXPECT_EQ(item.file,
                  k == 0 ? *plan.file : numberedPath(*plan.file, static_cast<int>(k + 1)));
        const std::optional<test::ClipContents> clip = readClip(item.file);
        ASSERT_TRUE(clip) << k;
        EXPECT_EQ(clip->frames.size(), static_cast<std::size_t>(item.frames)) << k;
        frames += item.frames;
    }
    EXPECT_EQ(frames, kFrames);
}

enum class Disk { Plain, ReadOnly, FileInTheWay };

struct FaultCase {
    const char* name;
    Disk disk;
    bool recordedAlready;  // another recording of the camera runs first
    std::vector<Bytes> frames;
    bool refused;  // the start is refused (with the message below)
    // What refuses the start or stops the recording on the way; empty when nothing does. A
    // full or read-only disk says its system error.
    std::string message;
    int framesKept;  // in the one clip kept; -1 for none
};
void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

std::string systemError(int error) {
    return std::error_code(error, std::generic_category()).message();
}

class ClipRecordingFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ClipRecordingFault, StopsCleanlyAndLeavesNoHalfWrittenFile) {
    const FaultCase& c = GetParam();
    test::TempFolder root;
    std::optional<SmallFolder> disk;
    fs::path folder = root.path();
    std::string message = c.message;
    if (c.disk == Disk::ReadOnly) {
        disk.emplace(root.path() / "disk");
        folder = disk->path();
        if (!disk->isTmpfs() && ::geteuid() == 0) {
            GTEST_SKIP() << "no tmpfs, and permissions do not hold for root";
        }
        disk->setReadOnly(true);
        message = systemError(disk->isTmpfs() ? EROFS : EACCES);
    }
    RecordingPlan plan = planFor(folder);
    if (c.disk == Disk::FileInTheWay) {
        std::ofstream(folder / "KRT") << "a file where the folder goes";
        plan.folder = folder / "KRT" / "clips";
    }
    Recording first;
    Recording recording;
    if (c.recordedAlready) {
        ASSERT_EQ(first.recorder.start(planFor(folder)), std::nullopt);
    }
    const std::optional<std::string> refused = recording.recorder.start(plan);
    ASSERT_EQ(refused.has_value(), c.refused) << refused.value_or("");
    if (refused) {
        EXPECT_THAT(*refused, HasSubstr(message));
    }
    Recording& fed = c.recordedAlready ? first : recording;
    std::chrono::milliseconds offset{0};
    for (const Bytes& frame : c.frames) {
        fed.recorder.onFrame(frameAt(frame, offset));
        offset += 200ms;
    }
    fed.recorder.stop();

    std::vector<std::string> clips;
    for (const RecordingNews& item : fed.news) {
        if (item.kind == Kind::ClipSaved) {
            clips.push_back(item.file.filename().string());
        } else {
            EXPECT_EQ(item.kind, Kind::Failed);
            EXPECT_THAT(item.message, HasSubstr(message));
            EXPECT_THAT(item.message, HasSubstr("The recording has stopped."));
        }
    }
    EXPECT_EQ(fed.news.size() - clips.size(), !c.refused && !message.empty() ? 1u : 0u);
    EXPECT_FALSE(fed.recorder.recording());
    // Only whole clips under their own names; no temporary file left behind.
    EXPECT_EQ(fileNames(plan.folder), clips);
    ASSERT_EQ(clips.size(), c.framesKept < 0 ? 0u : 1u);
    if (c.framesKept >= 0) {
        const std::optional<test::ClipContents> clip = readClip(plan.folder / clips[0]);
        ASSERT_TRUE(clip);
        ASSERT_EQ(clip->frames.size(), static_cast<std::size_t>(c.framesKept));
        for (std::size_t k = 0; k < clip->frames.size(); ++k) {
            EXPECT_EQ(clip->frames[k].bytes, c.frames[k]) << k;
        }
    }
}

const Bytes kSmall = test::detailedJpeg(64, 48);

INSTANTIATE_TEST_SUITE_P(
    Faults, ClipRecordingFault,
    ::testing::Values(
        FaultCase{"ReadOnlyFolder", Disk::ReadOnly, false, {kSmall}, true, "", -1},
        FaultCase{
            "FolderCannotBeMade", Disk::FileInTheWay, false, {kSmall}, true, "Not a directory", -1},
        FaultCase{"UndecodableFramesAreKept",
                  Disk::Plain,
                  false,
                  {kNoPicture, kSmall, kNoPicture},
                  false,
                  "",
                  3},
        FaultCase{"SecondRecordingOfTheCamera",
                  Disk::Plain,
                  true,
                  {kSmall, kSmall},
                  true,
                  "\"Gate\" is being recorded already",
                  2}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ClipRecording, AFullDiskStopsTheRecordingAndKeepsTheClipWrittenSoFar) {
    test::TempFolder root;
    SmallFolder disk(root.path() / "disk", 2 * 1024 * 1024);
    Recording recording;
    // The disk's own error, before the guard of its last space would stop the recording.
    recording.recorder.setDiskSpaceQuery([](const fs::path&) { return std::nullopt; });
    ASSERT_EQ(recording.recorder.start(planFor(disk.path())), std::nullopt);
    // Three seconds at 25 frames a second reach the disk, in clusters of a second at most.
    constexpr int kBeforeFull = 75;
    std::chrono::milliseconds offset{0};
    for (int k = 0; k < kBeforeFull; ++k, offset += 40ms) {
        recording.feed({{kSmall, offset}});
    }
    disk.fill();
    for (int k = 0; k < 100 && recording.recorder.recording(); ++k, offset += 40ms) {
        recording.feed({{kSmall, offset}});
    }
    EXPECT_FALSE(recording.recorder.recording());
    recording.recorder.stop();
    disk.free();

    ASSERT_THAT(recording.kinds(), ElementsAre(Kind::ClipSaved, Kind::Failed));
    EXPECT_THAT(recording.news[1].message, HasSubstr(systemError(disk.fullError())));
    EXPECT_THAT(recording.news[1].message, HasSubstr("The recording has stopped."));
    const fs::path& kept = recording.news[0].file;
    EXPECT_THAT(fileNames(disk.path()), ElementsAre(kept.filename().string()));
    const std::optional<test::ClipContents> clip = readClip(kept);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->codec, "mjpeg");
    EXPECT_EQ(recording.news[0].frames, static_cast<int>(clip->frames.size()));
    // Every whole second written before the disk filled up, frame for frame.
    EXPECT_GE(clip->frames.size(), 50u);
    EXPECT_LE(clip->frames.size(), static_cast<std::size_t>(kBeforeFull));
    for (std::size_t k = 0; k < clip->frames.size(); ++k) {
        EXPECT_EQ(clip->frames[k].bytes, kSmall) << k;
        EXPECT_EQ(clip->frames[k].time_ms, static_cast<std::int64_t>(k) * 40) << k;
    }
}

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(DiskSpaceGuard, StopsBeforeTheLastGibibyteOrFivePercentWhicheverIsLess) {
    const struct {
        std::uint64_t total_bytes;
        std::uint64_t free_bytes;
        bool stops;
    } cases[] = {
        // A large disk keeps its last 1 GiB.
        {1000 * kGiB, kGiB + 1, false},
        {1000 * kGiB, kGiB, true},
        {1000 * kGiB, 0, true},
        // At 20 GiB both rules say 1 GiB.
        {20 * kGiB, kGiB + 1, false},
        {20 * kGiB, kGiB, true},
        // A small disk keeps its last 5%.
        {10 * kGiB, kGiB / 2 + 1, false},
        {10 * kGiB, kGiB / 2, true},
        {256 * 1024, 13'107, true},  // 5% of 256 KiB is 13,107.2 bytes
        {256 * 1024, 13'108, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recordingMustStop({c.total_bytes, c.free_bytes}), c.stops)
            << c.total_bytes << " " << c.free_bytes;
    }
    EXPECT_EQ(nearlyFullText("/media/stick", {10 * kGiB, 300 * 1024 * 1024}),
              "The disk of /media/stick is nearly full (300.0 MiB left; recordings leave the "
              "last 512.0 MiB free).");
}

// The free space the recorder is told, frame by frame, and when it asked.
struct ShrinkingDisk {
    std::uint64_t free_bytes = 100 * kGiB;
    std::vector<fs::path> asked;
    DiskSpaceQuery query() {
        return [this](const fs::path& folder) {
            asked.push_back(folder);
            return std::optional(DiskSpace{1000 * kGiB, free_bytes});
        };
    }
};

TEST(ClipRecording, StopsByItselfBeforeTheDisksLastSpaceAndKeepsTheClip) {
    test::TempFolder folder;
    ShrinkingDisk disk;
    Recording recording;
    recording.recorder.setDiskSpaceQuery(disk.query());
    ASSERT_EQ(recording.recorder.start(planFor(folder.path())), std::nullopt);
    std::chrono::milliseconds offset{0};
    for (; offset < 3000ms; offset += 40ms) {
        recording.feed({{kSmall, offset}});
    }
    // At the start, then at the frames of 0, 1 and 2 s: once a second, not per frame.
    EXPECT_EQ(disk.asked.size(), 4u);
    EXPECT_EQ(disk.asked.back(), folder.path());
    disk.free_bytes = kGiB;
    for (int k = 0; k < 30 && recording.recorder.recording(); ++k, offset += 40ms) {
        recording.feed({{kSmall, offset}});
    }
    EXPECT_FALSE(recording.recorder.recording());
    ASSERT_THAT(recording.kinds(), ElementsAre(Kind::ClipSaved, Kind::Failed));
    EXPECT_EQ(recording.news[1].message,
              "\"Gate\": The disk of " + folder.path().string() +
                  " is nearly full (1.0 GiB left; recordings leave the last 1.0 GiB free). The "
                  "recording has stopped.");
    const std::optional<test::ClipContents> clip = readClip(recording.news[0].file);
    ASSERT_TRUE(clip);
    EXPECT_GE(clip->frames.size(), 75u);
    EXPECT_GT(clip->duration_s, 2.9) << "closed whole, with its index";

    // Nor does one start on a disk that full.
    Recording refused;
    refused.recorder.setDiskSpaceQuery(disk.query());
    EXPECT_THAT(refused.recorder.start(planFor(folder.path())),
                ::testing::Optional(HasSubstr("is nearly full (1.0 GiB left")));
}

}  // namespace
}  // namespace krt
