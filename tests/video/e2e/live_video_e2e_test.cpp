// The live stream, the decoder, the PTZ sender and the `live` and `ptz` commands against
// krt-sim running in the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_test_support.h"
#include "control/ptz_sender.h"
#include "frame_stamp.h"
#include "media/frame_decoder.h"
#include "sim/sim_test_support.h"
#include "stream/connection_text.h"
#include "stream/live_stream.h"
#include "support/clip_reader.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;
using ::testing::HasSubstr;

// Decodes every frame of a stream at its own size and remembers the sizes.
class DecodingViewer {
  public:
    LiveStream::FrameCallback callback() {
        return [this](const LiveFrame& frame) {
            PictureSize size;
            if (const auto announced = m_decoder.readSize(frame.payload());
                announced && m_decoder.decode(frame.payload(), *announced, m_picture)) {
                size = *announced;
            }
            {
                std::lock_guard lock(m_mutex);
                m_sizes.push_back(size);
            }
            m_changed.notify_all();
        };
    }
    std::vector<PictureSize> waitForFrames(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_sizes.size() >= count; });
        return {m_sizes.begin(),
                m_sizes.begin() + static_cast<long>(std::min(count, m_sizes.size()))};
    }

  private:
    FrameDecoder m_decoder;  // receive thread only
    DecodedPicture m_picture;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<PictureSize> m_sizes;
};

struct ResolutionCase {
    bool medium;
    PictureSize size;  // of the default 1280 × 960 channels
};

void PrintTo(const ResolutionCase& c, std::ostream* out) {
    *out << (c.medium ? "medium" : "low");
}

class SimStream : public testing::TestWithParam<ResolutionCase> {};

TEST_P(SimStream, DeliversDecodableFramesOfTheRequestedResolution) {
    RunningSim sim;
    DecodingViewer viewer;
    LiveStream stream;
    stream.setMediumResolution(GetParam().medium);
    stream.setFrameCallback(viewer.callback());
    ASSERT_EQ(stream.connectToCamera({formatConnectionText(sim.address(), "1", 5500)}),
              StreamResult::Opened);
    const std::vector<PictureSize> sizes = viewer.waitForFrames(3);
    ASSERT_EQ(sizes.size(), 3u);
    for (const PictureSize& size : sizes) {
        EXPECT_EQ(size, GetParam().size);
    }
    EXPECT_EQ(sim.server().requestCount(GetParam().medium ? "getMediumResolutionLiveVideo"
                                                          : "getLowResolutionLiveVideo"),
              1u);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, SimStream,
                         testing::Values(ResolutionCase{false, {320, 240}},
                                         ResolutionCase{true, {640, 480}}));

TEST(SimStream, AChannelTheServerDoesNotServeIsRefused) {
    RunningSim sim;
    LiveStream stream;
    EXPECT_EQ(stream.connectToCamera({formatConnectionText(sim.address(), "no-such", 5500)}),
              StreamResult::Refused);
    EXPECT_FALSE(stream.isOpen());
}

TEST(SimPtz, PressMovesTheCameraAndReleaseStopsIt) {
    RunningSim sim;
    VideoChannel channel;
    channel.ChannelID = "4";
    channel.PTZEnabled = true;
    const std::vector<VideoChannel> catalogue{channel};
    PtzSender sender(sim.address(), 5500, "demo");
    ASSERT_TRUE(sender.connectPtz());
    ASSERT_EQ(sender.sendPtzCommand(catalogue, 0, ptzButtonSpec(PtzButton::ZoomIn).pressCode),
              PtzSender::SendResult::Sent);
    ASSERT_TRUE(sim.server().waitForPtzCommand("4", 11, 5s));
    ASSERT_EQ(sender.sendPtzCommand(catalogue, 0, kPtzReleaseCode), PtzSender::SendResult::Sent);
    ASSERT_TRUE(sim.server().waitForPtzCommand("4", kPtzReleaseCode, 5s));
    const auto stopped = sim.server().ptzView("4");
    ASSERT_TRUE(stopped);
    EXPECT_GT(stopped->zoom, 1.0);
}

class CliVideo : public testing::Test {
  protected:
    std::vector<std::string> arguments(std::vector<std::string> command,
                                       std::vector<std::string> shared = {}) const {
        std::vector<std::string> all = {"--server", sim.address(), "--user",
                                        "demo",     "--password",  "demo"};
        all.insert(all.end(), shared.begin(), shared.end());
        all.insert(all.end(), command.begin(), command.end());
        return all;
    }
    std::filesystem::path freshFolder(const std::string& name) const {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("krt-video-" + std::to_string(::getpid()) + "-" + info->name() + "-" + name);
        std::filesystem::remove_all(folder);
        return folder;
    }

    test::ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
    test::ScopedEnvironment noLogDir{"KRT_LOG_DIR", std::nullopt};
    RunningSim sim;
};

std::vector<unsigned char> fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(CliVideo, LiveWritesEachFrameAsReceivedAndItDecodes) {
    const std::filesystem::path folder = freshFolder("frames");
    const test::CliRun run =
        test::runCli(arguments({"live", "1", "--frames", "5", "--out", folder.string()}));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    FrameDecoder decoder;
    for (int n = 1; n <= 5; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05d.jpg", n);
        const std::vector<unsigned char> jpeg = fileBytes(folder / name);
        EXPECT_EQ(decoder.readSize(jpeg), (PictureSize{320, 240})) << name;
        EXPECT_EQ(modeOf(folder / name), 0600u) << name;
        EXPECT_EQ(lines[static_cast<std::size_t>(n - 1)],
                  std::to_string(n) + "\tbytes=" + std::to_string(jpeg.size()) + "\tsize=320x240");
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "frame-00006.jpg"));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_THAT(lines.back(), HasSubstr("5 of 5 frames in"));
    EXPECT_THAT(lines.back(), HasSubstr("frames per second"));
    std::filesystem::remove_all(folder);
}

TEST_F(CliVideo, LiveJsonHasOneDocumentPerFrameAndASummary) {
    const test::CliRun run =
        test::runCli(arguments({"live", "1", "--medium", "--frames", "3"}, {"--json"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    for (int n = 1; n <= 3; ++n) {
        const auto frame = nlohmann::json::parse(lines[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(frame["n"], n);
        EXPECT_GT(frame["bytes"].get<int>(), 0);
        EXPECT_EQ(frame["width"], 640);
        EXPECT_EQ(frame["height"], 480);
    }
    const auto summary = nlohmann::json::parse(lines.back());
    EXPECT_EQ(summary["result"], "ok");
    EXPECT_EQ(summary["frames"], 3);
    EXPECT_GT(summary["fps"].get<double>(), 0.0);
}

// With several servers the camera names its server, and only that one is logged in to: the
// other one here is down.
TEST_F(CliVideo, LiveOfOneOfSeveralServersTakesTheCameraOfThatServer) {
    const std::string down = krt::test::listenOnFreeLoopbackAddress(5500).address;
    const test::CliRun run =
        test::runCli({"--server", "Yard=" + down, "--server", "Gate=" + sim.address(), "--user",
                      "demo", "--password", "demo", "live", "Gate:1", "--frames", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(linesOf(run.out).size(), 3u) << "two frames and the summary";
}

TEST_F(CliVideo, LiveThatGetsTooFewFramesExitsWithThree) {
    const test::CliRun run =
        test::runCli(arguments({"live", "1", "--frames", "1000", "--timeout", "0.5"}, {"--json"}));
    EXPECT_EQ(run.status, 3) << run.err;
    const auto summary = nlohmann::json::parse(linesOf(run.out).back());
    EXPECT_EQ(summary["result"], "incomplete");
    EXPECT_LT(summary["frames"].get<int>(), 1000);
}

TEST_F(CliVideo, LiveOfAStreamTheServerRefusesExitsWithThree) {
    // The catalogue lists the channel, but its stream fails: the reply lacks "success".
    sim::SimConfig config = RunningSim::quietDefault();
    sim::FaultMode fault;
    fault.kind = sim::FaultKind::Refuse;
    fault.request = "getLowResolutionLiveVideo";
    config.faults.push_back(fault);
    RunningSim refusing(config);
    std::vector<std::string> all = arguments({"live", "2", "--frames", "1"});
    all[1] = refusing.address();
    const test::CliRun run = test::runCli(all);
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, HasSubstr("could not be opened (the stream was refused)"));
}

TEST_F(CliVideo, LiveRecordsTheFramesAsReceivedIntoAClip) {
    const std::filesystem::path folder = freshFolder("clip");
    const std::filesystem::path clipFile = folder / "gate.mkv";
    const test::CliRun run = test::runCli(arguments(
        {"live", "1", "--seconds", "2", "--record", clipFile.string(), "--out", folder.string()},
        {"--json"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto summary = nlohmann::json::parse(linesOf(run.out).back());
    EXPECT_EQ(summary["result"], "ok");
    EXPECT_EQ(summary["clip"], clipFile.string());
    const int frames = summary["frames"];
    EXPECT_EQ(summary["clipFrames"], frames);

    const std::optional<test::ClipContents> clip = test::readClip(clipFile);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->codec, "mjpeg");
    EXPECT_EQ(clip->title, "Main Gate");
    ASSERT_EQ(clip->frames.size(), static_cast<std::size_t>(frames));
    ASSERT_GE(frames, 2);
    for (std::size_t k = 0; k < clip->frames.size(); ++k) {
        const test::ClipFrame& frame = clip->frames[k];
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05zu.jpg", k + 1);
        EXPECT_EQ(frame.bytes, fileBytes(folder / name)) << name;
        // Every frame the server sent, in order, each with a later time than the one before.
        const auto stamp = sim::readFrameStamp(
            {reinterpret_cast<const char*>(frame.bytes.data()), frame.bytes.size()});
        ASSERT_TRUE(stamp) << k;
        EXPECT_EQ(stamp->frameNumber, static_cast<long long>(k + 1));
        if (k > 0) {
            EXPECT_GT(frame.time_ms, clip->frames[k - 1].time_ms) << k;
        }
    }
    EXPECT_EQ(clip->frames.front().time_ms, 0);
    EXPECT_LT(clip->frames.back().time_ms, 2000);
    EXPECT_GT(clip->duration_s, 1.5);
    EXPECT_LE(clip->duration_s, 2.0);
    std::filesystem::remove_all(folder);
}

TEST_F(CliVideo, LiveRefusesARecordingItCannotWrite) {
    const std::filesystem::path folder = freshFolder("blocked");
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "file") << "a file where a folder should be";
    const test::CliRun run = test::runCli(arguments(
        {"live", "1", "--seconds", "1", "--record", (folder / "file" / "clip.mkv").string()}));
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("Not a directory"));
    EXPECT_EQ(sim.server().requestCount("getLowResolutionLiveVideo"), 0u);
    std::filesystem::remove_all(folder);
}

TEST_F(CliVideo, LiveOfAStreamThatClosesSaysSinceWhenThereIsNoVideo) {
    sim::SimConfig config = RunningSim::quietDefault();
    sim::FaultMode cut;
    cut.kind = sim::FaultKind::CloseAfterBytes;
    cut.request = "getLowResolutionLiveVideo";
    cut.bytes = 60'000;  // a few pictures, then the connection closes
    config.faults.push_back(cut);
    RunningSim closing(config);
    std::vector<std::string> all = arguments({"live", "2", "--frames", "1000"});
    all[1] = closing.address();
    const test::CliRun run = test::runCli(all);
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, ::testing::MatchesRegex(
                             "No video since [0-9]{2}:[0-9]{2}:[0-9]{2}: the server closed the "
                             "stream\n"));
}

TEST_F(CliVideo, PtzPressesHoldsAndReleases) {
    const test::CliRun run =
        test::runCli(arguments({"ptz", "7", "zoom-in", "--hold-ms", "200"}, {"--json"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto result = nlohmann::json::parse(run.out);
    EXPECT_EQ(result["press"], 11);
    EXPECT_EQ(result["release"], 26);
    ASSERT_TRUE(sim.server().waitForPtzCommand("7", kPtzReleaseCode, 5s));
    EXPECT_EQ(sim.server().requestCount("PTZCommand2"), 2u);
    const auto view = sim.server().ptzView("7");
    ASSERT_TRUE(view);
    EXPECT_GT(view->zoom, 1.0);
}

TEST_F(CliVideo, PtzRefusesChannelsItCannotMove) {
    const struct {
        std::string channel;
        std::string message;
    } cases[] = {{"2", "Channel 2 has no PTZ."}, {"42", "Channel 42 is not in the catalogue."}};
    for (const auto& c : cases) {
        const test::CliRun run = test::runCli(arguments({"ptz", c.channel, "left"}));
        EXPECT_EQ(run.status, 2) << c.channel;
        EXPECT_EQ(run.err, c.message + "\n");
    }
    EXPECT_EQ(sim.server().requestCount("PTZCommand2"), 0u);
}

TEST_F(CliVideo, UsageErrors) {
    const std::vector<std::vector<std::string>> commands = {{"ptz", "1", "sideways"},
                                                            {"ptz", "1", "left", "--hold-ms", "-5"},
                                                            {"live"},
                                                            {"live", "1", "--frames", "0"}};
    for (const auto& command : commands) {
        EXPECT_EQ(test::runCli(arguments(command)).status, 1) << command.back();
    }
}

}  // namespace
}  // namespace krt
