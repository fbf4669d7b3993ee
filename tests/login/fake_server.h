#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/tcp_socket.h"
#include "protocol/xml_message.h"
#include "support/log_capture.h"
#include "support/loopback_server.h"

namespace krt::test {

// One request as the server received it.
struct ReceivedRequest {
    std::string payload;  // every byte of the frame's payload
    std::string requestId;
    std::string channelId;
};

// A server that answers each request with the text its responder returns; no text closes the
// connection without a reply. Requests are recorded in the order they arrived.
class FakeKrtServer {
  public:
    using Responder = std::function<std::optional<std::string>(const ReceivedRequest&)>;

    explicit FakeKrtServer(Responder responder, std::uint16_t port = 5500)
        : m_responder(std::move(responder)), m_server([this](int peer) { serve(peer); }, port) {}

    const std::string& address() const { return m_server.address(); }
    int connectionCount() const { return m_server.acceptedCount(); }
    std::vector<ReceivedRequest> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::vector<std::string> requestIds() const {
        std::vector<std::string> ids;
        for (const ReceivedRequest& request : requests()) {
            ids.push_back(request.requestId + (request.channelId.empty() ? "" : ":") +
                          request.channelId);
        }
        return ids;
    }

  private:
    void serve(int peer) {
        const std::optional<std::string> payload = readFramePayload(peer);
        if (!payload) {
            return;
        }
        const XmlNode root = loadXmlDocument(std::string_view(payload->c_str()));
        ReceivedRequest request{*payload, root.childText("kmRequestID"),
                                root.child("kmRequestData").childText("kmChannelID")};
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        if (const std::optional<std::string> reply = m_responder(request)) {
            sendAll(peer, frameBytes(*reply));
        }
    }

    Responder m_responder;
    mutable std::mutex m_mutex;
    std::vector<ReceivedRequest> m_requests;
    ScriptedServer m_server;  // last: its threads stop before the members above go
};

// Replies of a well-behaved server, changed field by field by each test.
struct ServerReplies {
    std::optional<std::string> validateUser;
    std::optional<std::string> version;
    std::optional<std::string> channelList;
    std::map<std::string, std::string> details;  // by channel ID
    std::map<std::string, std::string> ptz;      // by channel ID

    std::optional<std::string> operator()(const ReceivedRequest& request) const {
        const auto byChannel =
            [&request](
                const std::map<std::string, std::string>& replies) -> std::optional<std::string> {
            const auto found = replies.find(request.channelId);
            if (found == replies.end()) {
                return std::nullopt;
            }
            return found->second;
        };
        if (request.requestId == "validateuser") {
            return validateUser;
        }
        if (request.requestId == "getMobileClientCommunicationVersion") {
            return version;
        }
        if (request.requestId == "getAuthorizedChannelsIDList") {
            return channelList;
        }
        if (request.requestId == "getVideoChannelDetails") {
            return byChannel(details);
        }
        if (request.requestId == "getCameraPTZStatus") {
            return byChannel(ptz);
        }
        return std::nullopt;
    }
};

inline std::string acceptedUserReply(const std::string& privilege = "Doruvareva Client") {
    return "<kmResponse><kmReturnCode>1</kmReturnCode><kmResponseData><kmDescription>" + privilege +
           "</kmDescription><kmNumberOfSupportedCameras>16</kmNumberOfSupportedCameras>"
           "<kmSiteName>Depot</kmSiteName><GetLiveVideoFromServer>1</GetLiveVideoFromServer>"
           "</kmResponseData></kmResponse>";
}

inline std::string versionReply(const std::string& code = "1",
                                const std::string& version = "MobileClient-02-00-01") {
    return "<kmResponse><kmReturnCode>" + code + "</kmReturnCode><kmDescription>" + version +
           "</kmDescription></kmResponse>";
}

inline std::string channelListReply(const std::vector<std::string>& ids) {
    std::string text = "<kmResponse><VideoChannels>";
    for (const std::string& id : ids) {
        text += "<ChannelID>" + id + "</ChannelID>";
    }
    return text + "</VideoChannels></kmResponse>";
}

inline std::string detailsReply(const std::string& id, const std::string& description,
                                const std::string& fields =
                                    "<Width>320</Width><Height>240</Height>"
                                    "<RecWidth>640</RecWidth>"
                                    "<RecHeight>480</RecHeight>") {
    return "<kmResponse><VideoChannels><VideoChannel><ChannelID>" + id +
           "</ChannelID><ChannelType>Fixed</ChannelType><ChannelDescription>" + description +
           "</ChannelDescription>" + fields + "</VideoChannel></VideoChannels></kmResponse>";
}

inline std::string ptzReply(const std::string& description) {
    return "<kmResponse><kmReturnCode>1</kmReturnCode><kmDescription>" + description +
           "</kmDescription></kmResponse>";
}

// Names parameterised test cases after their `name` field.
struct CaseName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

// An address of 127.0.0.0/8 where nothing listens on the server port.
inline std::string deadLoopbackAddress() {
    return listenOnFreeLoopbackAddress(5500).address;
}

// The texts of every log entry (module, method and message, each followed by '-'), in order.
inline std::vector<std::string> logEntries(const LogCapture& log) {
    std::vector<std::string> entries;
    std::istringstream lines(log.contents());
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto start = line.find(" - "); start != std::string::npos) {
            entries.push_back(line.substr(start + 3));
        }
    }
    return entries;
}

}  // namespace krt::test
