#include "stream/live_frame.h"
#include "stream/live_stream.h"

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
    LiveFrame frame;
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
    LiveFrame frame;
    for (const int length : {0, -1, 0x1000000}) {
        EXPECT_FALSE(frame.reserve(length)) << length;
    }
    EXPECT_EQ(frame.capacity(), 0);
    EXPECT_TRUE(frame.reserve(0xFFFFFF));
    EXPECT_EQ(frame.capacity(), 0xFFFFFF + LiveFrame::kHeadroom);
}

TEST(EndThread, NeverStartedThreadIsNoThread) {
    WorkerThread none;
    EXPECT_FALSE(endThread(none, 10, "test", "none"));
}

TEST(EndThread, FinishedThreadIsJoined) {
    WorkerThread thread([] {});
    EXPECT_TRUE(endThread(thread, 1000, "test", "quick"));
    EXPECT_FALSE(thread.joinable());
}

TEST(EndThread, ThreadOutlivingItsGraceIsWokenAndJoined) {
    std::promise<void> wake;
    std::shared_future<void> woken = wake.get_future().share();
    WorkerThread thread([woken] { woken.wait(); });
    bool interrupted = false;
    EXPECT_TRUE(endThread(thread, 20, "test", "blocked", [&] {
        interrupted = true;
        wake.set_value();
    }));
    EXPECT_TRUE(interrupted);
    EXPECT_FALSE(thread.joinable());
}

}  // namespace
}  // namespace krt
