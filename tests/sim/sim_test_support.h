#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "protocol/requests.h"
#include "protocol/socket_client.h"
#include "protocol/xml_data.h"
#include "sim_config.h"
#include "sim_server.h"
#include "support/loopback_server.h"

namespace krt::sim::test {

// A simulator on a loopback address of its own, with no scheduled alarms unless asked for.
class RunningSim {
  public:
    explicit RunningSim(SimConfig config = quietDefault()) {
        krt::test::LoopbackListener listener = krt::test::listenOnFreeLoopbackAddress(5500);
        m_address = listener.address;
        m_server = std::make_unique<SimServer>(std::move(config));
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
        kmMgrSocketClient client(
            kmMgrSocketClient::Timeouts{std::chrono::seconds(5), std::chrono::seconds(10)});
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
    std::string text = kmKRTMgrXMLData::serialize(root.ownerDocument()).value();
    text.append(text.size(), '\0');
    return text;
}

// A document-model request of the alarm channel: its text and two zero bytes.
inline std::string alarmRequestPayload(XmlNode root) {
    std::string text = kmKRTMgrXMLData::serialize(root.ownerDocument()).value();
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

}  // namespace krt::sim::test
