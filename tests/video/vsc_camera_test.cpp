#include "video/vsc_camera.h"

#include <gtest/gtest.h>

#include <future>

namespace krt {
namespace {

TEST(FrameBuffer, ReusedWhileFramesFitGrownWithHeadroom) {
    const struct {
        int length;
        int capacity;
        bool sameBuffer;
    } steps[] = {{5000, 7048, false},
                 {1000, 7048, true},
                 {6000, 8048, false},
                 {6000, 8048, true},
                 {1, 8048, true}};
    VSCFrame frame;
    EXPECT_EQ(frame.capacity(), 0);
    const unsigned char* previous = nullptr;
    for (const auto& step : steps) {
        ASSERT_TRUE(frame.reserve(step.length));
        EXPECT_EQ(frame.capacity(), step.capacity) << step.length;
        EXPECT_EQ(frame.buffer().data() == previous, step.sameBuffer) << step.length;
        previous = frame.buffer().data();
    }
}

TEST(FrameBuffer, LengthsThatCannotBeFramedAreRefused) {
    VSCFrame frame;
    for (const int length : {0, -1, 0x1000000}) {
        EXPECT_FALSE(frame.reserve(length)) << length;
    }
    EXPECT_EQ(frame.capacity(), 0);
    EXPECT_TRUE(frame.reserve(0xFFFFFF));
    EXPECT_EQ(frame.capacity(), 0xFFFFFF + VSCFrame::kHeadroom);
}

TEST(EndThread, NeverStartedThreadIsNoThread) {
    WorkerThread none;
    EXPECT_EQ(endThread(none, 10, "test", "none"), kVscFailed);
}

TEST(EndThread, FinishedThreadIsJoined) {
    WorkerThread thread([] {});
    EXPECT_EQ(endThread(thread, 1000, "test", "quick"), kVscSuccess);
    EXPECT_FALSE(thread.joinable());
}

TEST(EndThread, ThreadOutlivingItsGraceIsWokenAndJoined) {
    std::promise<void> wake;
    std::shared_future<void> woken = wake.get_future().share();
    WorkerThread thread([woken] { woken.wait(); });
    bool interrupted = false;
    EXPECT_EQ(endThread(thread, 20, "test", "blocked",
                        [&] {
                            interrupted = true;
                            wake.set_value();
                        }),
              kVscSuccess);
    EXPECT_TRUE(interrupted);
    EXPECT_FALSE(thread.joinable());
}

// A camera that learns its picture size from a device of its own.
class DeviceCamera : public VSCCamera {
  public:
    int connectToCamera(const VSCConnectParams&) override { return kVscNotSupported; }
    int receiveFrame(VSCFrame*) override { return 0; }
    void learn(VSCPictureInfo info) { setPictureInfo(info); }
};

TEST(PictureInfo, NullOutputIsRefused) {
    DeviceCamera camera;
    EXPECT_EQ(camera.getPictureInfo(nullptr), kVscFailed);
}

TEST(PictureInfo, WaitsUntilTheSizeIsKnown) {
    DeviceCamera camera;
    auto waiting = std::async(std::launch::async, [&camera] {
        VSCPictureInfo info;
        const int result = camera.getPictureInfo(&info);
        return std::pair(result, info);
    });
    camera.learn({352, 288});
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(4)), std::future_status::ready);
    const auto [result, info] = waiting.get();
    EXPECT_EQ(result, kVscSuccess);
    EXPECT_EQ(info.width, 352);
    EXPECT_EQ(info.height, 288);
}

}  // namespace
}  // namespace krt
