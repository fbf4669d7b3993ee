#include "control/ptz_sender.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <condition_variable>

#include "support/loopback_server.h"

namespace krt {
namespace {

using namespace std::chrono_literals;

struct ButtonCase {
    int controlId;
    int kind;
    std::optional<int> code;
};

void PrintTo(const ButtonCase& c, std::ostream* out) {
    *out << "control " << c.controlId << " kind " << c.kind;
}

class PtzButtonCodes : public testing::TestWithParam<ButtonCase> {};

TEST_P(PtzButtonCodes, PressSendsTheButtonsCodeReleaseSends26) {
    EXPECT_EQ(ptzCodeForButtonEvent(GetParam().controlId, GetParam().kind), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Cases, PtzButtonCodes,
                         testing::Values(ButtonCase{1040, 1, 2}, ButtonCase{1041, 1, 3},
                                         ButtonCase{1042, 1, 4}, ButtonCase{1043, 1, 5},
                                         ButtonCase{1044, 1, 11}, ButtonCase{1045, 1, 12},
                                         ButtonCase{1044, 2, 26}, ButtonCase{1040, 2, 26},
                                         ButtonCase{1046, 1, std::nullopt},  // a page link
                                         ButtonCase{1040, 3, std::nullopt},
                                         ButtonCase{1040, 0, std::nullopt}));

TEST(PtzButtonTable, CaptionsInRowOrder) {
    const std::string_view captions[] = {"Left", "Right", "Up", "Down", "Z+", "Z-"};
    for (std::size_t k = 0; k < kPtzButtons.size(); ++k) {
        EXPECT_EQ(kPtzButtons[k].caption, captions[k]);
        EXPECT_EQ(kPtzButtons[k].controlId, 1040 + static_cast<int>(k));
        EXPECT_EQ(&ptzButtonSpec(kPtzButtons[k].button), &kPtzButtons[k]);
    }
}

// Collects the PTZ requests a server receives, per connection.
class PtzServer {
  public:
    PtzServer()
        : m_server([this](int peer) {
              const int connection = m_server.acceptedCount();
              while (auto payload = test::readFramePayload(peer)) {
                  if (m_answer) {
                      sendAll(peer, test::frameBytes("<kmResponse>ok</kmResponse>"));
                  }
                  std::lock_guard lock(m_mutex);
                  m_requests.push_back({connection, std::move(*payload)});
                  m_changed.notify_all();
                  if (m_closeAfterFirst) {
                      shutdownBoth(peer);
                      m_closed = true;
                      m_changed.notify_all();
                      return;
                  }
              }
          }) {}

    void answerEveryRequest() { m_answer = true; }
    void closeAfterFirstRequest() { m_closeAfterFirst = true; }
    const std::string& address() const { return m_server.address(); }
    int accepted() const { return m_server.acceptedCount(); }
    bool waitUntilClosed() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_closed; });
    }
    // The requests with their connection number (1 for the first accepted connection).
    std::vector<std::pair<int, std::string>> waitForRequests(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 5s, [&] { return m_requests.size() >= count; });
        return m_requests;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<int, std::string>> m_requests;
    std::atomic<bool> m_answer{false};
    std::atomic<bool> m_closeAfterFirst{false};
    bool m_closed = false;
    test::ScriptedServer m_server;
};

std::vector<VideoChannel> catalogue(std::initializer_list<std::string> ids) {
    std::vector<VideoChannel> channels;
    for (const std::string& id : ids) {
        VideoChannel channel;
        channel.ChannelID = id;
        channel.PTZEnabled = true;
        channels.push_back(channel);
    }
    return channels;
}

std::string expectedRequest(std::string_view user, std::string_view channel, int code) {
    return "<kmRequest>\t\t\t<kmRequestID>PTZCommand2</kmRequestID>\t\t\t<kmRequestData>\t\t\t\t"
           "<UserName>" +
           std::string(user) + "</UserName>\t\t\t\t<kmChannelID>" + std::string(channel) +
           "</kmChannelID>\t\t\t\t<kmPTZCommand>" + std::to_string(code) +
           "</kmPTZCommand>\t\t\t</kmRequestData></kmRequest>";
}

TEST(PtzSend, PressAndReleaseArriveAsPTZCommand2) {
    PtzServer server;
    server.answerEveryRequest();  // whatever it says is read and dropped
    PtzSender sender(server.address(), 5500, "oper");
    ASSERT_TRUE(sender.connectPtz());
    const auto channels = catalogue({"3", "7"});
    EXPECT_EQ(sender.sendPtzCommand(channels, 1, 11), PtzSender::SendResult::Sent);
    EXPECT_EQ(sender.sendPtzCommand(channels, 1, kPtzReleaseCode), PtzSender::SendResult::Sent);
    EXPECT_EQ(sender.sendPtzCommand(channels, 0, 2), PtzSender::SendResult::Sent);
    const auto requests = server.waitForRequests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].second, expectedRequest("oper", "7", 11));
    EXPECT_EQ(requests[1].second, expectedRequest("oper", "7", 26));
    EXPECT_EQ(requests[2].second, expectedRequest("oper", "3", 2));
    EXPECT_EQ(server.accepted(), 1);
}

TEST(PtzSend, LongNamesAreSentWhole) {
    PtzServer server;
    const std::string user(31, 'u');
    const std::string channel(255, 'c');
    PtzSender sender(server.address(), 5500, user);
    ASSERT_TRUE(sender.connectPtz());
    EXPECT_EQ(sender.sendPtzCommand(catalogue({channel}), 0, 5), PtzSender::SendResult::Sent);
    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].second, expectedRequest(user, channel, 5));
}

TEST(PtzSend, ChannelOutsideTheCatalogueIsDropped) {
    PtzServer server;
    PtzSender sender(server.address(), 5500, "oper");
    ASSERT_TRUE(sender.connectPtz());
    const auto channels = catalogue({"3"});
    EXPECT_EQ(sender.sendPtzCommand(channels, 1, 2), PtzSender::SendResult::Dropped);
    EXPECT_EQ(sender.sendPtzCommand(channels, -1, 2), PtzSender::SendResult::Dropped);
    EXPECT_EQ(sender.sendPtzCommand(channels, 0, 3), PtzSender::SendResult::Sent);
    const auto requests = server.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);  // the dropped ones never reached the server
    EXPECT_EQ(requests[0].second, expectedRequest("oper", "3", 3));
}

TEST(PtzSend, WithoutAConnectionCommandsAreDropped) {
    test::LoopbackListener freed = test::listenOnFreeLoopbackAddress(5500);
    const std::string address = freed.address;
    freed.socket.reset();
    PtzSender sender(address, 5500, "oper");
    EXPECT_FALSE(sender.connectPtz());
    EXPECT_EQ(sender.sendPtzCommand(catalogue({"3"}), 0, 2), PtzSender::SendResult::Dropped);
    EXPECT_FALSE(sender.isConnected());
}

TEST(PtzSend, AConnectionTheServerClosedIsMadeAnewBeforeSending) {
    PtzServer server;
    server.closeAfterFirstRequest();
    PtzSender sender(server.address(), 5500, "oper");
    ASSERT_TRUE(sender.connectPtz());
    const auto channels = catalogue({"3"});
    ASSERT_EQ(sender.sendPtzCommand(channels, 0, 4), PtzSender::SendResult::Sent);
    ASSERT_EQ(server.waitForRequests(1).size(), 1u);
    ASSERT_TRUE(server.waitUntilClosed());
    EXPECT_EQ(sender.sendPtzCommand(channels, 0, kPtzReleaseCode), PtzSender::SendResult::Sent);
    const auto requests = server.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], std::make_pair(2, expectedRequest("oper", "3", 26)));
}

}  // namespace
}  // namespace krt
