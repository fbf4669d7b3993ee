#include "stream/live_stream.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <condition_variable>
#include <future>
#include <semaphore>

#include "protocol/packet_framing.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using test::frameBytes;
using test::readFramePayload;

constexpr auto kWait = 5s;
const std::string kSuccessReply =
    "<kmResponse><kmReturnCode>1</kmReturnCode><kmDescription>success</kmDescription>"
    "<kmResponseData/></kmResponse>";

// One frame as the callback saw it.
struct SeenFrame {
    std::string bytes;
    int capacity = 0;
    const unsigned char* buffer = nullptr;
    bool newerWaiting = false;
};

// Records every frame the stream hands on. The callback can be held after a chosen frame
// until the test releases it, so that the test acts while the receive thread stands still.
class FrameLog {
  public:
    LiveStream::FrameCallback callback() {
        return [this](const LiveFrame& frame) {
            std::size_t count = 0;
            {
                std::lock_guard lock(m_mutex);
                const auto payload = frame.payload();
                m_frames.push_back({std::string(payload.begin(), payload.end()), frame.capacity(),
                                    payload.data(), frame.newerFrameWaiting()});
                count = m_frames.size();
            }
            m_changed.notify_all();
            if (count == m_holdAfter) {
                m_release.try_acquire_for(kWait);
            }
        };
    }
    void holdAfter(std::size_t frameNumber) { m_holdAfter = frameNumber; }
    void release() { m_release.release(); }
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout = kWait) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
    }
    std::vector<SeenFrame> frames() const {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SeenFrame> m_frames;
    std::size_t m_holdAfter = 0;
    std::binary_semaphore m_release{0};
};

std::string payloadOf(std::size_t size, char seed) {
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<char>(seed + static_cast<char>(i % 251));
    }
    return payload;
}

// Reads the request, answers "success" and hands the connection to `rest`.
test::ScriptedServer::Script streamServer(std::function<void(int peer)> rest) {
    return [rest = std::move(rest)](int peer) {
        if (readFramePayload(peer) && sendAll(peer, frameBytes(kSuccessReply))) {
            rest(peer);
        }
    };
}

// Blocks until the client closes its side (or the server stops).
void waitForPeerClose(int peer) {
    char byte = 0;
    while (::recv(peer, &byte, 1, 0) > 0) {
    }
}

std::string paramsFor(const test::ScriptedServer& server, std::string_view channel = "7") {
    return {formatConnectionText(server.address(), channel, server.port())};
}

// Sends the stream's frames to the log, then connects it to the server's channel.
StreamResult connectLogged(LiveStream& stream, FrameLog& log, const test::ScriptedServer& server) {
    stream.setFrameCallback(log.callback());
    return stream.connectToCamera(paramsFor(server));
}

class RequestText : public testing::TestWithParam<bool> {};

TEST_P(RequestText, ResolutionChoosesTheRequestAndTheHeaderCountsTheText) {
    const bool medium = GetParam();
    std::promise<std::pair<std::uint32_t, std::string>> sent;
    test::ScriptedServer server([&](int peer) {
        PktHeader header;
        if (PacketFraming::recvPktHeader(peer, header) != HeaderStatus::Ok) {
            return;
        }
        std::string text(header.payloadLength, '\0');
        std::size_t received = 0;
        PacketFraming::recvData(peer, text, received);
        sent.set_value({header.payloadLength, text});
        sendAll(peer, frameBytes(kSuccessReply));
        waitForPeerClose(peer);
    });
    LiveStream stream;
    stream.setMediumResolution(medium);
    ASSERT_EQ(stream.connectToCamera(paramsFor(server)), StreamResult::Opened);
    auto request = sent.get_future();
    ASSERT_EQ(request.wait_for(kWait), std::future_status::ready);
    const auto [length, text] = request.get();
    const std::string id = medium ? "getMediumResolutionLiveVideo" : "getLowResolutionLiveVideo";
    EXPECT_EQ(text, "<kmRequest><kmRequestID>" + id +
                        "</kmRequestID><kmRequestParam>7</kmRequestParam><kmRequestData/>"
                        "</kmRequest>");
    EXPECT_EQ(length, text.size());
}

INSTANTIATE_TEST_SUITE_P(Resolutions, RequestText, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? "Medium" : "Low";
                         });

struct ReplyCase {
    const char* name;
    std::string replyBytes;
    StreamResult result;
};

void PrintTo(const ReplyCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplyJudgement : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyJudgement, OnlyAWholeReplyWithSuccessOpensTheStream) {
    const ReplyCase& c = GetParam();
    test::ScriptedServer server([&](int peer) {
        if (readFramePayload(peer)) {
            sendAll(peer, c.replyBytes);
            waitForPeerClose(peer);
        }
    });
    LiveStream stream;
    EXPECT_EQ(stream.connectToCamera(paramsFor(server)), c.result);
    EXPECT_EQ(stream.isOpen(), c.result == StreamResult::Opened);
}

std::string partialReply() {
    std::string bytes = frameBytes(std::string(50, 'x') + "success");
    bytes.resize(bytes.size() - 20);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyJudgement,
    testing::Values(
        ReplyCase{"SuccessElement", frameBytes(kSuccessReply), StreamResult::Opened},
        ReplyCase{"SuccessInsideLongerText",
                  frameBytes("request processed with successful outcome"), StreamResult::Opened},
        ReplyCase{"NoSuccess",
                  frameBytes("<kmResponse><kmReturnCode>0</kmReturnCode><kmDescription>"
                             "channel not served</kmDescription></kmResponse>"),
                  StreamResult::Refused},
        ReplyCase{"BadStartOfFrame", "XMCS" + frameBytes("success").substr(4),
                  StreamResult::Refused},
        ReplyCase{"ZeroLength", std::string("KMCS\0\0\0\0\0\0", 10), StreamResult::Refused},
        ReplyCase{"CutShort", partialReply(), StreamResult::Refused},
        ReplyCase{"NoReply", "", StreamResult::Refused}),
    [](const testing::TestParamInfo<ReplyCase>& param) { return param.param.name; });

TEST(ConnectionFailures, ReportedByCodeWithoutAnOpenSocket) {
    test::LoopbackListener freed = test::listenOnFreeLoopbackAddress(5500);
    const std::string address = freed.address;
    freed.socket.reset();  // nobody listens there any more
    const struct {
        std::string text;
        StreamResult result;
    } cases[] = {
        {address, StreamResult::Refused},  // no ':'
        {address + ":7", StreamResult::ConnectFailed},
        {"localhost:7", StreamResult::ConnectFailed},  // host names are not resolved
        {address + ":7:0", StreamResult::ConnectFailed},
        {address + ":7:70000", StreamResult::ConnectFailed},
    };
    for (const auto& c : cases) {
        LiveStream stream;
        EXPECT_EQ(stream.connectToCamera(c.text), c.result) << c.text;
        EXPECT_FALSE(stream.isOpen()) << c.text;
    }
}

TEST(SecondConnect, RefusedWhileTheFirstStreamRunsOn) {
    std::binary_semaphore sendFrame{0};
    test::ScriptedServer server(streamServer([&](int peer) {
        if (sendFrame.try_acquire_for(kWait)) {
            sendAll(peer, frameBytes("first stream frame"));
        }
        waitForPeerClose(peer);
    }));
    FrameLog log;
    LiveStream stream;
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    EXPECT_EQ(stream.connectToCamera(paramsFor(server, "8")), StreamResult::AlreadyOpen);
    sendFrame.release();
    ASSERT_TRUE(log.waitForCount(1));
    EXPECT_EQ(log.frames()[0].bytes, "first stream frame");
    EXPECT_EQ(server.acceptedCount(), 1);
}

TEST(Silence, TwoSecondsEndTheReceiveThreadButTheSocketStaysOpen) {
    std::promise<void> closed;
    test::ScriptedServer server(streamServer([&](int peer) {
        waitForPeerClose(peer);
        closed.set_value();
    }));
    LiveStream stream;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(stream.connectToCamera(paramsFor(server)), StreamResult::Opened);
    ASSERT_TRUE(stream.waitReceiveEnded(kWait));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    EXPECT_TRUE(stream.isOpen());
    auto peerClosed = closed.get_future();
    EXPECT_EQ(peerClosed.wait_for(100ms), std::future_status::timeout);

    stream.disconnectFromCamera();
    EXPECT_FALSE(stream.isOpen());
    EXPECT_EQ(peerClosed.wait_for(kWait), std::future_status::ready);
}

TEST(FrameBuffer, ReusedForASmallerFrameReplacedForALargerOne) {
    const std::vector<std::string> payloads = {payloadOf(5000, 'a'), payloadOf(1000, 'b'),
                                               payloadOf(6000, 'c')};
    test::ScriptedServer server(streamServer([&](int peer) {
        for (const std::string& payload : payloads) {
            sendAll(peer, frameBytes(payload));
        }
        waitForPeerClose(peer);
    }));
    FrameLog log;
    LiveStream stream;
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(3));
    const std::vector<SeenFrame> frames = log.frames();
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(frames[i].bytes, payloads[i]) << i;
    }
    EXPECT_EQ(frames[0].capacity, 7048);
    EXPECT_EQ(frames[1].capacity, 7048);
    EXPECT_EQ(frames[1].buffer, frames[0].buffer);
    EXPECT_EQ(frames[2].capacity, 8048);
}

TEST(NewerFrames, FramesArrivingTogetherAreEachHandedOnAndAllButTheLastSayANewerOneWaits) {
    std::binary_semaphore sendLast{0};
    test::ScriptedServer server(streamServer([&](int peer) {
        sendAll(peer, frameBytes("one") + frameBytes("two") + frameBytes("three"));
        if (sendLast.try_acquire_for(kWait)) {
            sendAll(peer, frameBytes("four"));
        }
        waitForPeerClose(peer);
    }));
    FrameLog log;
    LiveStream stream;
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(3));
    sendLast.release();
    ASSERT_TRUE(log.waitForCount(4));
    const std::vector<SeenFrame> frames = log.frames();
    const struct {
        const char* bytes;
        bool newerWaiting;
    } expected[] = {{"one", true}, {"two", true}, {"three", false}, {"four", false}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(frames[i].bytes, expected[i].bytes) << i;
        EXPECT_EQ(frames[i].newerWaiting, expected[i].newerWaiting) << i;
    }
}

TEST(Trickle, AFrameArrivingByteByByteIsHandedOnWhole) {
    const std::string trickled = payloadOf(1500, 't');
    test::ScriptedServer server(streamServer([&](int peer) {
        test::sendInPieces(peer, frameBytes(trickled), 1, 100us);
        sendAll(peer, frameBytes("next"));
        waitForPeerClose(peer);
    }));
    FrameLog log;
    LiveStream stream;
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(2, 20s));
    EXPECT_EQ(log.frames()[0].bytes, trickled);
    EXPECT_EQ(log.frames()[1].bytes, "next");
}

struct BrokenStreamCase {
    const char* name;
    std::string bytes;  // after the reply
    bool closeAfter;
    std::size_t wholeFrames;
    StreamEnd end;  // as told to the owner
};

void PrintTo(const BrokenStreamCase& c, std::ostream* out) {
    *out << c.name;
}

class BrokenStream : public testing::TestWithParam<BrokenStreamCase> {};

TEST_P(BrokenStream, EndsTheReceiveThreadWithoutHandingOnThePartialFrameAndSaysHow) {
    const BrokenStreamCase& c = GetParam();
    test::ScriptedServer server(streamServer([&](int peer) {
        sendAll(peer, c.bytes);
        if (!c.closeAfter) {
            waitForPeerClose(peer);
        }
    }));
    FrameLog log;
    LiveStream stream;
    std::mutex endMutex;
    std::vector<StreamEnd> ends;
    stream.setEndCallback([&](StreamEnd end) {
        std::lock_guard lock(endMutex);
        ends.push_back(end);
    });
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(stream.waitReceiveEnded(kWait));
    EXPECT_EQ(log.frames().size(), c.wholeFrames);
    std::lock_guard lock(endMutex);
    EXPECT_EQ(ends, std::vector<StreamEnd>{c.end});
}

std::string cutFrame(std::size_t announced, std::size_t sent) {
    return frameBytes(payloadOf(announced, 'p')).substr(0, kPktHeaderSize + sent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenStream,
    testing::Values(
        BrokenStreamCase{"PeerClosesMidFrame", cutFrame(5000, 2000), true, 0, StreamEnd::Closed},
        BrokenStreamCase{"PeerStallsMidFrame", cutFrame(5000, 2000), false, 0, StreamEnd::Silent},
        BrokenStreamCase{"PeerClosesMidHeader", frameBytes("whole") + "KMC", true, 1,
                         StreamEnd::Closed},
        BrokenStreamCase{"PeerClosesAfterAFrame", frameBytes("whole"), true, 1, StreamEnd::Closed},
        BrokenStreamCase{"BadStartOfFrame",
                         frameBytes("whole") + "XXXX" + frameBytes("x").substr(4), false, 1,
                         StreamEnd::Damaged},
        BrokenStreamCase{"ZeroLength", frameBytes("whole") + std::string("KMCS\0\0\0\0\0\0", 10),
                         false, 1, StreamEnd::Damaged}),
    [](const testing::TestParamInfo<BrokenStreamCase>& param) { return param.param.name; });

TEST(Pause, NoCallbackAndNoReadUntilTheNextConnect) {
    std::binary_semaphore sendSecond{0};
    test::ScriptedServer server(streamServer([&](int peer) {
        sendAll(peer, frameBytes("before pause"));
        if (sendSecond.try_acquire_for(kWait)) {
            sendAll(peer, frameBytes("while paused"));
        }
        waitForPeerClose(peer);
    }));
    FrameLog log;
    log.holdAfter(1);
    LiveStream stream;
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(1));
    stream.pauseReceiving();
    log.release();
    sendSecond.release();

    // The paused stream left the frame in the connection: a synchronous receive finds it.
    LiveFrame frame;
    ASSERT_TRUE(stream.receiveFrame(frame));
    const auto payload = frame.payload();
    EXPECT_EQ(std::string(payload.begin(), payload.end()), "while paused");
    EXPECT_FALSE(log.waitForCount(2, 300ms));
    EXPECT_FALSE(stream.waitReceiveEnded(0ms));  // idling, not ended

    stream.disconnectFromCamera();
    ASSERT_EQ(stream.connectToCamera(paramsFor(server)), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(2));
    EXPECT_EQ(log.frames()[1].bytes, "before pause");
    sendSecond.release();  // lets the second connection's script run to its end
}

TEST(ReceiveFrame, NeedsAFrameAndAConnection) {
    LiveStream stream;
    LiveFrame frame;
    EXPECT_FALSE(stream.receiveFrame(frame));
    EXPECT_EQ(frame.length(), 0);
}

TEST(Disconnect, WinsOverAConnectWaitingForItsReply) {
    std::promise<void> requestArrived;
    test::ScriptedServer server([&](int peer) {
        if (readFramePayload(peer)) {
            requestArrived.set_value();
            waitForPeerClose(peer);  // never answers
        }
    });
    LiveStream stream;
    auto connecting =
        std::async(std::launch::async, [&] { return stream.connectToCamera(paramsFor(server)); });
    ASSERT_EQ(requestArrived.get_future().wait_for(kWait), std::future_status::ready);
    stream.disconnectFromCamera();
    ASSERT_EQ(connecting.wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(connecting.get(), StreamResult::Refused);
    EXPECT_FALSE(stream.isOpen());
}

TEST(Disconnect, StopsAStreamingConnectionAtOnce) {
    test::ScriptedServer server(streamServer([](int peer) {
        for (int frame = 0; frame < 10'000 && sendAll(peer, frameBytes("frame")); ++frame) {
        }
    }));
    FrameLog log;
    LiveStream stream;
    std::atomic<int> ends{0};
    stream.setEndCallback([&](StreamEnd) { ++ends; });
    ASSERT_EQ(connectLogged(stream, log, server), StreamResult::Opened);
    ASSERT_TRUE(log.waitForCount(1));
    stream.disconnectFromCamera();
    EXPECT_TRUE(stream.waitReceiveEnded(0ms));
    EXPECT_FALSE(stream.isOpen());
    // A stream stopped by its owner is not reported as ended.
    EXPECT_EQ(ends.load(), 0);
}

}  // namespace
}  // namespace krt
