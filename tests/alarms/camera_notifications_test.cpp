#include "alarms/camera_notifications.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

using Id = CameraNotifications::Id;

TEST(CameraNotifications, EachCameraReplacesItsOwnAndWaitsWhileItsLastIsOnItsWay) {
    CameraNotifications cameras;
    EXPECT_EQ(cameras.beginSend("3"), std::optional<Id>(0));  // a new notification
    EXPECT_TRUE(cameras.isSending());
    EXPECT_EQ(cameras.beginSend("Lobby"), std::optional<Id>(0));
    EXPECT_EQ(cameras.beginSend("3"), std::nullopt);  // waits for the server's id
    EXPECT_EQ(cameras.beginSend("3"), std::nullopt);
    EXPECT_TRUE(cameras.sent("3", 41));  // one waits
    EXPECT_FALSE(cameras.sent("Lobby", 42));
    EXPECT_FALSE(cameras.isSending());

    EXPECT_EQ(cameras.beginSend("3"), std::optional<Id>(41));
    EXPECT_FALSE(cameras.sent("3", 41));
    EXPECT_EQ(cameras.channelOf(41), "3");
    EXPECT_EQ(cameras.channelOf(42), "Lobby");
    EXPECT_EQ(cameras.channelOf(0), std::nullopt);
    EXPECT_EQ(cameras.channelOf(7), std::nullopt);

    // Closed by the server, or never shown: the camera's next alarm opens a new one.
    cameras.closed(41);
    EXPECT_EQ(cameras.channelOf(41), std::nullopt);
    EXPECT_EQ(cameras.beginSend("3"), std::optional<Id>(0));
    EXPECT_FALSE(cameras.failed("3"));
    EXPECT_EQ(cameras.beginSend("3"), std::optional<Id>(0));
}

}  // namespace
}  // namespace krt
