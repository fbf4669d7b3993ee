#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "protocol/requests.h"
#include "protocol/socket_client.h"
#include "protocol/xml_message.h"
#include "sim_config.h"
#include "sim_server.h"
#include "support/loopback_server.h"

namespace krt::sim::test {

// A simulator on a loopback address of its own, with no scheduled alarms unless asked for.
class RunningSim {
  public:
    explicit RunningSim(SimConfig config = quietDefault(), SimServer::LogSink log = {}) {
        krt::test::LoopbackListener listener = krt::test::listenOnFreeLoopbackAddress(5500);
        m_address = listener.address;
        m_server = std::make_unique<SimServer>(std::move(config), std::move(log));
        m_server->start(std::move(listener.socket));
    }

    static SimConfig quietDefault() {
        SimConfig config = defaultConfig();
        config.alarms.intervalSeconds = 0;
        return config;
    }

    SimServer& server() { return *m_server; }
    const std::string& address() const { return m_address; }

    // One request on a fresh connection, as the client sends it; the reply's result in `result`.
    Reply request(std::string_view payload, int* result = nullptr) const {
        SocketClient client(
            SocketClient::Timeouts{std::chrono::seconds(5), std::chrono::seconds(10)});
        Reply reply;
        const int code = client.connectToServer(m_address, 5500, payload, reply);
        if (result != nullptr) {
            *result = code;
        }
        return reply;
    }

    XmlNode requestXml(std::string_view payload) const {
        const Reply reply = request(payload);
        return loadXmlDocument(reply.text());
    }

  private:
    std::string m_address;
    std::unique_ptr<SimServer> m_server;
};

// "validateuser" as the login sends it: the document's text followed by as many zero bytes.
inline std::string loginPayload(std::string_view user, std::string_view password) {
    XmlNode root = newRequestDocument("validateuser");
    XmlNode data = root.appendElement("kmRequestData");
    data.appendElement("UserName", user);
    data.appendElement("Password", password);
    std::string text = XmlMessage::serialize(root.ownerDocument()).value();
    text.append(text.size(), '\0');
    return text;
}

// A document-model request of the alarm channel: its text and two zero bytes.
inline std::string alarmRequestPayload(XmlNode root) {
    std::string text = XmlMessage::serialize(root.ownerDocument()).value();
    text.append(2, '\0');
    return text;
}

inline std::string subscriptionPayload() {
    return alarmRequestPayload(newRequestDocument("setalarmnotifications"));
}

inline std::string alarmImagePayload(const AlarmMessage& alarm) {
    XmlNode root = newRequestDocument("getAlarmImage");
    XmlNode data = root.appendElement("kmRequestData");
    data.appendElement("kmAlarmChannelID", alarm.channelId);
    data.appendElement("kmAlarmName", alarm.name);
    data.appendElement("kmAlarmTimestamp", alarm.timestamp);
    return alarmRequestPayload(root);
}

// A decoded picture, RGB, 3 bytes a pixel, rows packed.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    // Mean colour of the rows [top, bottom).
    std::array<double, 3> meanColour(int top, int bottom) const {
        std::array<double, 3> sum{};
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    sum[c] += rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c];
                }
            }
        }
        for (double& value : sum) {
            value /= static_cast<double>((bottom - top) * width);
        }
        return sum;
    }
    std::vector<std::uint8_t> rows(int top, int bottom) const {
        return {rgb.begin() + static_cast<std::ptrdiff_t>(top) * width * 3,
                rgb.begin() + static_cast<std::ptrdiff_t>(bottom) * width * 3};
    }
};

// Decodes as the client's window does (bottom-up, which mirrors top to bottom) or as stored.
enum class RowOrder { AsStored, Mirrored };
inline std::optional<DecodedImage> decodeJpeg(std::span<const char> jpeg, RowOrder order) {
    tjhandle handle = tjInitDecompress();
    DecodedImage image;
    int subsampling = 0;
    int colourspace = 0;
    auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    const auto size = static_cast<unsigned long>(jpeg.size());
    bool ok = tjDecompressHeader3(handle, bytes, size, &image.width, &image.height, &subsampling,
                                  &colourspace) == 0;
    if (ok) {
        image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
        ok = tjDecompress2(handle, bytes, size, image.rgb.data(), image.width, 0, image.height,
                           TJPF_RGB, order == RowOrder::Mirrored ? TJFLAG_BOTTOMUP : 0) == 0;
    }
    tjDestroy(handle);
    return ok ? std::optional(std::move(image)) : std::nullopt;
}

// Collects what a push receiver hands over, and lets the test wait for it.
class PushCollector {
  public:
    SocketClient::PushCallback callback() {
        return [this](std::span<const char> data) {
            std::lock_guard lock(m_mutex);
            if (std::string_view(data.data(), data.size()) == kRecvError) {
                m_ended = true;
            } else {
                m_messages.emplace_back(data.data(), data.size());
            }
            m_changed.notify_all();
        };
    }
    bool waitForMessages(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_messages.size() >= count; });
    }
    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_ended; });
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::size_t count() {
        std::lock_guard lock(m_mutex);
        return m_messages.size();
    }
    bool ended() {
        std::lock_guard lock(m_mutex);
        return m_ended;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_messages;
    bool m_ended = false;
};

// The server's log lines, for a test to wait for one.
class LogLines {
  public:
    SimServer::LogSink sink() {
        return [this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
            m_changed.notify_all();
        };
    }
    bool waitForLineWith(std::string_view text, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            return std::any_of(m_lines.begin(), m_lines.end(), [&](const std::string& line) {
                return line.find(text) != std::string::npos;
            });
        });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

// A client connection that receives every message after the first reply.
struct PushConnection {
    PushCollector collector;  // outlives the client, whose receiver thread calls it
    SocketClient client{SocketClient::Timeouts{std::chrono::seconds(5), std::chrono::seconds(10)}};
    Reply firstReply;
    int result = 0;

    PushConnection(const std::string& address, std::string_view request) {
        result = client.connectToServer(address, 5500, request, firstReply, collector.callback());
    }
};

}  // namespace krt::sim::test
