// Faults on the wire and on pushed alarms, and a server that outlives idle peers, a request
// log that would grow for ever and accept errors.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/packet_framing.h"
#include "protocol/tcp_socket.h"
#include "sim_test_support.h"
#include "sim_transport.h"

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

// How long a test waits to see that nothing more comes.
constexpr auto kQuietPeriod = 300ms;

FaultMode fault(FaultKind kind, std::string request) {
    FaultMode made;
    made.kind = kind;
    made.request = std::move(request);
    return made;
}

RunningSim simWith(std::vector<FaultMode> faults, int idleTimeoutMs = 30'000) {
    SimConfig config = RunningSim::quietDefault();
    config.faults = std::move(faults);
    config.idleTimeoutMs = idleTimeoutMs;
    return RunningSim(config);
}

// Everything a raw connection receives until the peer closes or it stays quiet for a while.
struct RawReceived {
    std::string bytes;
    bool closed = false;
};

RawReceived receiveUntilQuiet(int fd, std::chrono::milliseconds quiet = kQuietPeriod) {
    RawReceived received;
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < giveUp) {
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(quiet.count())) <= 0) {
            break;
        }
        char chunk[4096];
        const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0) {
            received.closed = true;
            break;
        }
        received.bytes.append(chunk, static_cast<std::size_t>(count));
    }
    return received;
}

TcpSocket connectTo(const RunningSim& sim) {
    TcpSocket socket = connectTcp(sim.address(), 5500, 5s);
    EXPECT_TRUE(socket.valid());
    return socket;
}

std::uint32_t claimedLength(std::string_view frame) {
    const auto byteAt = [frame](std::size_t i) { return static_cast<std::uint8_t>(frame[i]); };
    return std::uint32_t{byteAt(7)} << 16 | std::uint32_t{byteAt(8)} << 8 | byteAt(9);
}

TEST(SimWireFaults, WhatARawClientReceivesForEachFault) {
    const std::string request = versionRequest();
    const std::string plainReply = [&] {
        RunningSim sim;
        TcpSocket socket = connectTo(sim);
        PacketFraming::sendData(socket.fd(), request, nullptr);
        return receiveUntilQuiet(socket.fd()).bytes;
    }();
    ASSERT_GT(plainReply.size(), kPktHeaderSize);
    const std::size_t payloadSize = plainReply.size() - kPktHeaderSize;

    FaultMode overstated =
        fault(FaultKind::OverstatedLength, "getMobileClientCommunicationVersion");
    overstated.bytes = 7;
    struct Case {
        const char* label;
        FaultMode fault;
        std::size_t bytesReceived;
        std::uint32_t lengthClaimed;
    };
    const std::vector<Case> cases = {
        {"stall", fault(FaultKind::Stall, "getMobileClientCommunicationVersion"), 0, 0},
        {"silent drop", fault(FaultKind::SilentDrop, "getMobileClientCommunicationVersion"), 0, 0},
        {"zero length", fault(FaultKind::ZeroLength, "getMobileClientCommunicationVersion"),
         kPktHeaderSize, 0},
        {"overstated length", overstated, plainReply.size(),
         static_cast<std::uint32_t>(payloadSize + 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RunningSim sim = simWith({c.fault});
        TcpSocket socket = connectTo(sim);
        ASSERT_EQ(PacketFraming::sendData(socket.fd(), request, nullptr), 1);
        const RawReceived received = receiveUntilQuiet(socket.fd());
        EXPECT_FALSE(received.closed);  // every one of them leaves the client waiting
        ASSERT_EQ(received.bytes.size(), c.bytesReceived);
        if (c.bytesReceived > 0) {
            EXPECT_EQ(received.bytes.substr(0, 4), "KMCS");
            EXPECT_EQ(claimedLength(received.bytes), c.lengthClaimed);
        }
        EXPECT_EQ(sim.server().requestCount("getMobileClientCommunicationVersion"), 1u);
    }
}

TEST(SimWireFaults, StalledConnectionReadsLaterRequestsAndAnswersNone) {
    RunningSim sim = simWith({fault(FaultKind::Stall, "getMobileClientCommunicationVersion")});
    TcpSocket socket = connectTo(sim);
    ASSERT_EQ(PacketFraming::sendData(socket.fd(), versionRequest(), nullptr), 1);
    ASSERT_EQ(PacketFraming::sendData(socket.fd(), channelListRequest(kDemoUser), nullptr), 1);
    EXPECT_TRUE(sim.server().waitForRequests("getAuthorizedChannelsIDList", 1, 10s));
    EXPECT_TRUE(receiveUntilQuiet(socket.fd()).bytes.empty());
    // Other connections are answered.
    EXPECT_TRUE(sim.requestXml(channelListRequest(kDemoUser)).child("VideoChannels"));
}

TEST(SimAlarmFaults, RefusedTwiceThenTheThirdSubscriptionGetsTheAlarm) {
    FaultMode refuse = fault(FaultKind::Refuse, "setalarmnotifications");
    refuse.times = 2;
    RunningSim sim = simWith({refuse});
    std::vector<int> codes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        PushConnection refused(sim.address(), subscriptionPayload());
        codes.push_back(loadXmlDocument(refused.firstReply.text()).childInt("kmReturnCode"));
    }
    PushConnection accepted(sim.address(), subscriptionPayload());
    codes.push_back(loadXmlDocument(accepted.firstReply.text()).childInt("kmReturnCode"));
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 1}));
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
    sim.server().pushAlarm("3", "Motion");
    EXPECT_TRUE(accepted.collector.waitForMessages(1, 10s));
}

TEST(SimAlarmFaults, PushTextAndSilentDropOnASubscription) {
    FaultMode text = fault(FaultKind::PushText, "setalarmnotifications");
    text.text = "this is not XML";
    FaultMode silent = fault(FaultKind::SilentDrop, "setalarmnotifications");
    silent.afterFrames = 1;  // the subscription's reply goes out, then nothing
    struct Case {
        const char* label;
        FaultMode fault;
        std::size_t reached;
        std::vector<std::string> received;
    };
    const std::vector<Case> cases = {
        {"push text", text, 1, {"this is not XML"}},
        {"silent drop", silent, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RunningSim sim = simWith({c.fault});
        PushConnection subscriber(sim.address(), subscriptionPayload());
        EXPECT_EQ(loadXmlDocument(subscriber.firstReply.text()).childInt("kmReturnCode"), 1);
        ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
        EXPECT_EQ(sim.server().pushAlarmMessage({"20240101120000000", "Motion", "1"}), c.reached);
        if (c.reached > 0) {
            ASSERT_TRUE(subscriber.collector.waitForMessages(1, 10s));
        } else {
            EXPECT_FALSE(subscriber.collector.waitForMessages(1, kQuietPeriod));
        }
        EXPECT_EQ(subscriber.collector.messages(), c.received);
        EXPECT_FALSE(subscriber.collector.ended());  // a silent drop does not close
    }
}

TEST(SimTransport, IdlePeersAreClosedButSubscribersPtzAndStallsWait) {
    constexpr int kIdleMs = 150;
    RunningSim sim =
        simWith({fault(FaultKind::Stall, "getMobileClientCommunicationVersion")}, kIdleMs);
    TcpSocket silent = connectTo(sim);
    TcpSocket halfHeader = connectTo(sim);
    ASSERT_EQ(::send(halfHeader.fd(), "KMCS\0", 5, MSG_NOSIGNAL), 5);
    TcpSocket stalled = connectTo(sim);
    ASSERT_EQ(PacketFraming::sendData(stalled.fd(), versionRequest(), nullptr), 1);
    TcpSocket ptz = connectTo(sim);
    ASSERT_EQ(PacketFraming::sendData(ptz.fd(), ptzRequest(kDemoUser, "1", 2), nullptr), 1);
    PushConnection subscriber(sim.address(), subscriptionPayload());
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
    ASSERT_TRUE(sim.server().waitForPtzCommand("1", 2, 10s));

    EXPECT_TRUE(receiveUntilQuiet(silent.fd(), 10s).closed);
    EXPECT_TRUE(receiveUntilQuiet(halfHeader.fd(), 10s).closed);
    // Both were closed after the limit; the others have outlived it.
    EXPECT_FALSE(receiveUntilQuiet(stalled.fd()).closed);
    ASSERT_EQ(PacketFraming::sendData(ptz.fd(), ptzRequest(kDemoUser, "1", 26), nullptr), 1);
    EXPECT_TRUE(sim.server().waitForPtzCommand("1", 26, 10s));
    sim.server().pushAlarm("2", "Motion");
    EXPECT_TRUE(subscriber.collector.waitForMessages(1, 10s));
    EXPECT_FALSE(subscriber.collector.ended());
}

std::ptrdiff_t openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

TEST(SimTransport, ClosedConnectionsGiveTheirDescriptorsBackAtOnce) {
    constexpr int kIdleMs = 100;
    constexpr int kIdlePeers = 64;
    RunningSim sim = simWith({}, kIdleMs);
    const std::ptrdiff_t before = openDescriptors();
    {
        std::vector<TcpSocket> idle;
        for (int i = 0; i < kIdlePeers; ++i) {
            idle.push_back(connectTo(sim));
        }
        PushConnection subscriber(sim.address(), subscriptionPayload());
        ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
        for (const TcpSocket& peer : idle) {
            ASSERT_TRUE(receiveUntilQuiet(peer.fd(), 10s).closed);
        }
        // No new connection comes to clear up after the idle ones: only the subscription
        // is left.
        EXPECT_TRUE(sim.server().waitForOpenConnections(1, 10s));
        EXPECT_EQ(sim.server().openConnections(), 1u);
    }  // the subscriber leaves too
    ASSERT_TRUE(sim.server().waitForOpenConnections(0, 10s));
    EXPECT_EQ(openDescriptors(), before);
}

TEST(SimTransport, RequestLogKeepsTheLatestNamesCutShort) {
    RequestLog log;
    for (int i = 0; i < 10'005; ++i) {
        log.record("request" + std::to_string(i));
    }
    log.record(std::string(1000, 'x'));
    const std::vector<std::string> names = log.names();
    ASSERT_EQ(names.size(), 10'000u);
    EXPECT_EQ(names.front(), "request6");
    EXPECT_EQ(names.back(), std::string(128, 'x'));
    EXPECT_EQ(log.count("request5"), 0u);
    EXPECT_EQ(log.count("request10004"), 1u);
}

// Holds every free descriptor below a lowered limit, so that accept fails with EMFILE.
class DescriptorsExhausted {
  public:
    DescriptorsExhausted() {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        }
        rlimit lowered = m_saved;
        lowered.rlim_cur = std::min<rlim_t>(m_saved.rlim_cur, static_cast<rlim_t>(highest) + 16);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
            m_held.emplace_back(fd);
        }
    }
    ~DescriptorsExhausted() { release(); }
    void release() {
        m_held.clear();
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }

  private:
    rlimit m_saved{};
    std::vector<TcpSocket> m_held;
};

TEST(SimTransport, AcceptGoesOnAfterRunningOutOfDescriptors) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime checks memory through a pipe of its own: with no descriptor
    // left it takes every object for invalid. The normal and TSan builds run this test.
    GTEST_SKIP() << "needs descriptors the sanitizer runtime takes";
#endif
    LogLines log;
    RunningSim sim(RunningSim::quietDefault(), log.sink());
    const std::optional<in_addr> address = parseIPv4(sim.address());
    ASSERT_TRUE(address);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr = *address;
    server.sin_port = htons(5500);
    TcpSocket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(client.valid());
    setReceiveTimeout(client.fd(), 10s);

    DescriptorsExhausted exhausted;
    ASSERT_EQ(::connect(client.fd(), reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
    const bool acceptFailed = log.waitForLineWith("pausing", 10s);
    exhausted.release();
    ASSERT_TRUE(acceptFailed);

    ASSERT_EQ(PacketFraming::sendData(client.fd(), versionRequest(), nullptr), 1);
    PktHeader header;
    ASSERT_EQ(PacketFraming::recvPktHeader(client.fd(), header), HeaderStatus::Ok);
    EXPECT_TRUE(sim.server().waitForRequests("getMobileClientCommunicationVersion", 1, 10s));
}

}  // namespace
}  // namespace krt::sim::test
