#include "protocol/socket_client.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <condition_variable>
#include <filesystem>
#include <future>
#include <random>

#include "protocol/return_codes.h"
#include "support/log_capture.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using test::frameBytes;
using test::LogCapture;
using test::ScriptedServer;

constexpr std::string_view kRequest = "<kmRequest>ping</kmRequest>";

// A server that reads one request and answers with the given raw bytes.
ScriptedServer::Script answerWith(std::string bytes, std::size_t pieceSize = 0) {
    return [bytes = std::move(bytes), pieceSize](int peer) {
        if (!test::readFramePayload(peer)) {
            return;
        }
        if (pieceSize > 0) {
            test::sendInPieces(peer, bytes, pieceSize);
        } else {
            sendAll(peer, bytes);
        }
    };
}

// Blocks the server's handler until the test lets it go (or the server stops).
class Gate {
  public:
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool waitOpen(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_open; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// Collects what the push callback receives.
class PushRecorder {
  public:
    SocketClient::PushCallback callback() {
        return [this](std::span<const char> data) {
            std::lock_guard lock(m_mutex);
            m_messages.emplace_back(data.begin(), data.end());
            m_changed.notify_all();
        };
    }
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_messages.size() >= count; });
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_messages;
};

TEST(ConnectToServer, DeliversTheReplyFollowedBy128ZeroBytes) {
    ScriptedServer server(answerWith(frameBytes("hello")));
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    EXPECT_EQ(reply.length, 5);
    ASSERT_EQ(reply.buffer.size(), 133u);
    EXPECT_EQ(std::string(reply.buffer.data(), 5), "hello");
    EXPECT_TRUE(
        std::all_of(reply.buffer.begin() + 5, reply.buffer.end(), [](char c) { return c == 0; }));
    EXPECT_EQ(reply.text(), "hello");
    EXPECT_TRUE(client.isOpen());
}

TEST(ConnectToServer, TheServerReceivesTheFramedRequest) {
    std::promise<std::string> seen;
    ScriptedServer server([&seen](int peer) {
        seen.set_value(test::readFramePayload(peer).value_or("<none>"));
        sendAll(peer, frameBytes("ok"));
    });
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    auto request = seen.get_future();
    ASSERT_EQ(request.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(request.get(), kRequest);
}

TEST(ConnectToServer, AssemblesAReplyThatTricklesInOneByteAtATime) {
    const std::string payload = "<r><kmReturnCode>1</kmReturnCode></r>";
    ScriptedServer server(answerWith(frameBytes(payload), 1));
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    EXPECT_EQ(std::string(reply.payload().begin(), reply.payload().end()), payload);
}

TEST(ConnectToServer, RejectsBadRepliesAndKeepsTheSocketOpen) {
    struct Case {
        std::string bytes;
        const char* logEntry;
    };
    const std::vector<Case> cases = {
        {std::string("KMCX\0\0\0\0\0\5hello", 15), "Invalid packet header - SOF"},
        {std::string("KMCS\0\0\0\0\0\0", 10), "No request bytes!"},
        {std::string("KMCS\0\0", 6), "Error in receiving packet header."},
        {"", "Error in receiving packet header."},
        {frameBytes(std::string(100, 'x')).substr(0, 50), "Not a sufficient bytes recv-ed."},
    };
    for (const Case& c : cases) {
        LogCapture log;
        ScriptedServer server(answerWith(c.bytes));
        SocketClient client;
        Reply reply;
        EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kNothingReceived)
            << c.logEntry;
        EXPECT_TRUE(reply.empty());
        EXPECT_TRUE(client.isOpen());
        EXPECT_EQ(log.count(std::string("Tessaline.exe-kmMgrSocketClient::thSocketReqHandler()-") +
                            c.logEntry + "-"),
                  1);
    }
}

TEST(ConnectToServer, ASecondConnectLeavesTheFirstConnectionAlone) {
    LogCapture log;
    Gate release;
    ScriptedServer server([&release](int peer) {
        if (test::readFramePayload(peer)) {
            sendAll(peer, frameBytes("first"));
            release.waitOpen(10s);
            sendAll(peer, frameBytes("second"));
        }
    });
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    Reply again;
    EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, again), kErrCommunication);
    EXPECT_TRUE(
        log.contains("kmMgrSocketClient::connectToServer()-Already started communication - "
                     "call closeCommmunication() first-"));
    release.open();
    ASSERT_EQ(client.getResponse(again), kSuccess);
    EXPECT_EQ(again.text(), "second");
    EXPECT_EQ(server.acceptedCount(), 1);
}

TEST(ConnectToServer, FailsToConnectToAHostNameOrAClosedPort) {
    LogCapture log;
    const test::LoopbackListener unused = test::listenOnFreeLoopbackAddress(5501);
    for (const std::string& address :
         {std::string("localhost"), std::string("not an address"), unused.address}) {
        SocketClient client;
        Reply reply;
        EXPECT_EQ(client.connectToServer(address, 5500, kRequest, reply), kErrCommunication)
            << address;
        EXPECT_FALSE(client.isOpen());
    }
    EXPECT_EQ(log.count("connectToServer()-Unable to listen socket to address.-"), 3);
}

TEST(ConnectToServer, GivesUpOnAReplyThatNeverComes) {
    Gate release;
    ScriptedServer server([&release](int peer) {
        test::readFramePayload(peer);
        release.waitOpen(20s);
    });
    SocketClient client({.connect = 2000ms, .reply = 200ms});
    Reply reply;
    EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kNothingReceived);
    release.open();
}

TEST(ConnectToServer, CloseAndConnectAgainOpensANewConnection) {
    ScriptedServer server(answerWith(frameBytes("ok")));
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    EXPECT_EQ(client.closeCommmunication(), kSuccess);
    EXPECT_FALSE(client.isOpen());
    EXPECT_EQ(client.closeCommmunication(), kSuccess);
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kSuccess);
    EXPECT_EQ(server.acceptedCount(), 2);
}

// The server's side of a push connection: the first reply, then `count` messages whose sizes and
// bytes come from a seeded generator that the test repeats on its side.
std::string pushMessage(std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> size(1, 1 << 20);
    std::string message(size(random), '\0');
    std::uniform_int_distribution<int> byte(0, 255);
    const char first = static_cast<char>(byte(random));
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<char>(first + static_cast<char>(i * 31));
    }
    return message;
}

TEST(PushReceiver, DeliversEveryMessageWholeThenReportsTheClosedConnectionOnce) {
    constexpr int kMessages = 1000;
    constexpr unsigned kSeed = 20261207;
    ScriptedServer server([](int peer) {
        if (!test::readFramePayload(peer) || !sendAll(peer, frameBytes("subscribed"))) {
            return;
        }
        std::mt19937 random(kSeed);
        for (int i = 0; i < kMessages; ++i) {
            if (!sendAll(peer, frameBytes(pushMessage(random)))) {
                return;
            }
        }
    });

    std::mutex mutex;
    std::condition_variable changed;
    std::mt19937 expected(kSeed);
    int matched = 0;
    int mismatched = 0;
    int recvErrors = 0;
    auto onPush = [&](std::span<const char> data) {
        std::lock_guard lock(mutex);
        if (std::string_view(data.data(), data.size()) == kRecvError) {
            ++recvErrors;
        } else if (const std::string want = pushMessage(expected);
                   std::string_view(data.data(), data.size()) == want) {
            ++matched;
        } else {
            ++mismatched;
        }
        changed.notify_all();
    };

    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply, onPush), kSuccess);
    EXPECT_EQ(reply.text(), "subscribed");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 120s, [&] { return recvErrors > 0; }));
    }
    client.closeCommmunication();
    std::lock_guard lock(mutex);
    EXPECT_EQ(matched, kMessages);
    EXPECT_EQ(mismatched, 0);
    EXPECT_EQ(recvErrors, 1);
}

TEST(PushReceiver, StoppingAClientBlockedInAReceiveEndsAtOnce) {
    LogCapture log;
    Gate release;
    ScriptedServer server([&release](int peer) {
        if (test::readFramePayload(peer)) {
            sendAll(peer, frameBytes("subscribed"));
            release.waitOpen(30s);
        }
    });
    PushRecorder recorder;
    auto client = std::make_unique<SocketClient>();
    Reply reply;
    ASSERT_EQ(client->connectToServer(server.address(), 5500, kRequest, reply, recorder.callback()),
              kSuccess);
    const auto started = std::chrono::steady_clock::now();
    client.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{std::string(kRecvError)});
    EXPECT_FALSE(log.contains("Thread terminated."));
    release.open();
}

TEST(PushReceiver, CloseFromAnotherThreadReportsRecvErrorOnce) {
    Gate release;
    ScriptedServer server([&release](int peer) {
        if (test::readFramePayload(peer)) {
            sendAll(peer, frameBytes("subscribed"));
            sendAll(peer, frameBytes("alarm 1"));
            release.waitOpen(30s);
        }
    });
    PushRecorder recorder;
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply, recorder.callback()),
              kSuccess);
    ASSERT_TRUE(recorder.waitForCount(1, 10s));
    std::thread closer([&client] { client.closeCommmunication(); });
    closer.join();
    ASSERT_TRUE(recorder.waitForCount(2, 10s));
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"alarm 1", std::string(kRecvError)}));
    release.open();
}

TEST(PushReceiver, StartsEvenWhenTheFirstReplyFailed) {
    ScriptedServer server(answerWith(std::string("KMCS\0\0\0\0\0\0", 10)));
    PushRecorder recorder;
    SocketClient client;
    Reply reply;
    EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply, recorder.callback()),
              kNothingReceived);
    ASSERT_TRUE(recorder.waitForCount(1, 10s));
    EXPECT_EQ(recorder.messages().front(), kRecvError);
}

// The deadline covers the whole reply, however its bytes trickle: a reply that would take
// about 2.4 s, one byte every 200 ms, fails at the 600 ms deadline as a failed receive does.
TEST(ExchangeDeadline, AReplyTrickledPastTheDeadlineFailsLikeAFailedReceive) {
    struct Case {
        const char* what;
        std::size_t wholeBytes;  // sent at once before the trickle starts
        const char* logEntry;
    };
    const std::string frame = frameBytes("<kmResponse/>");
    for (const Case& c :
         {Case{"header", 0, "thSocketReqHandler()-Error in receiving packet header.-"},
          Case{"payload", 10, "thSocketReqHandler()-Not a sufficient bytes recv-ed.-"}}) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        ScriptedServer server([&](int peer) {
            if (test::readFramePayload(peer) &&
                sendAll(peer, std::string_view(frame).substr(0, c.wholeBytes))) {
                test::sendInPieces(peer, std::string_view(frame).substr(c.wholeBytes), 1, 200ms);
            }
        });
        SocketClient client({.connect = 2000ms, .reply = 600ms});
        Reply reply;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply),
                  kNothingReceived);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, 600ms);
        EXPECT_LT(took, 1500ms);
        EXPECT_EQ(log.count(c.logEntry), 1);
        client.closeCommmunication();
    }
}

// A listener whose accept queue is full and that never accepts: a connect to it hangs.
struct HangingListener {
    test::LoopbackListener listener = test::listenOnFreeLoopbackAddress(5500);
    std::vector<TcpSocket> queued;

    HangingListener() {
        ::listen(listener.socket.fd(), 0);
        for (int i = 0; i < 3; ++i) {
            queued.push_back(newTcpSocket());
            connectSocket(queued.back().fd(), listener.address, 5500,
                          WaitLimit::after(std::chrono::milliseconds(0)));
        }
    }
};

TEST(Cancellation, ACloseOrACancelDuringAHangingConnectEndsItWithinASecond) {
    enum class Stop { close, cancel };
    for (const Stop stop : {Stop::close, Stop::cancel}) {
        SCOPED_TRACE(stop == Stop::close ? "closeCommmunication" : "Cancellation::cancel");
        HangingListener hanging;
        Cancellation cancellation;
        SocketClient client({.connect = 20'000ms, .reply = 20'000ms}, &cancellation);
        std::promise<int> started;
        auto connecting = std::async(std::launch::async, [&] {
            Reply reply;
            started.set_value(0);
            return client.connectToServer(hanging.listener.address, 5500, kRequest, reply);
        });
        started.get_future().wait();
        // Still hanging after a moment: the connect really is under way, not failed.
        ASSERT_EQ(connecting.wait_for(300ms), std::future_status::timeout);
        const auto stopped = std::chrono::steady_clock::now();
        stop == Stop::close ? static_cast<void>(client.closeCommmunication())
                            : cancellation.cancel();
        ASSERT_EQ(connecting.wait_for(1s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
        EXPECT_EQ(connecting.get(), kErrCommunication);
    }
}

TEST(Cancellation, ACancelledClientDoesNotConnectAgain) {
    ScriptedServer server(answerWith(frameBytes("pong")));
    Cancellation cancellation;
    cancellation.cancel();
    SocketClient client({}, &cancellation);
    Reply reply;
    EXPECT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply), kErrCommunication);
    EXPECT_EQ(server.acceptedCount(), 0);
}

// The descriptor of this process's socket whose local end is the peer of `serverSide`.
int localSocketFacing(int serverSide) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    getpeername(serverSide, reinterpret_cast<sockaddr*>(&peer), &length);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (fd != serverSide &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            local.sin_family == AF_INET && local.sin_port == peer.sin_port &&
            local.sin_addr.s_addr == peer.sin_addr.s_addr) {
            return fd;
        }
    }
    return -1;
}

TEST(PushReceiver, ThePushSocketHasShortKeepaliveTimings) {
    std::promise<int> clientSide;
    Gate release;
    ScriptedServer server([&](int peer) {
        if (test::readFramePayload(peer) && sendAll(peer, frameBytes("subscribed"))) {
            clientSide.set_value(localSocketFacing(peer));
            release.waitOpen(10s);
        }
    });
    PushRecorder recorder;
    SocketClient client;
    Reply reply;
    ASSERT_EQ(client.connectToServer(server.address(), 5500, kRequest, reply, recorder.callback()),
              kSuccess);
    const int fd = clientSide.get_future().get();
    ASSERT_GE(fd, 0);
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        getsockopt(fd, level, name, &value, &length);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 20);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 4);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 40'000);
    release.open();
}

TEST(StopThread, LogsAndInterruptsAThreadThatOutlivesItsTimeout) {
    LogCapture log;
    Gate gate;
    WorkerThread worker([&gate] { gate.waitOpen(30s); });
    stopThread("DEventsPage::~DEventsPage()", worker, 50, [&gate] { gate.open(); });
    EXPECT_FALSE(worker.joinable());
    EXPECT_TRUE(log.contains("Tessaline.exe-DEventsPage::~DEventsPage()-Thread terminated.-"));
}

TEST(StopThread, JoinsAFinishedThreadQuietlyAndIgnoresAnEmptyOne) {
    LogCapture log;
    WorkerThread worker([] {});
    stopThread("label", worker, 1000);
    WorkerThread never;
    stopThread("label", never, 1000);
    EXPECT_FALSE(worker.joinable());
    EXPECT_FALSE(log.contains("Thread terminated."));
}

}  // namespace
}  // namespace krt
