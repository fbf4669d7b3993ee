#include "login/channel_catalogue.h"

#include <algorithm>
#include <string>

#include "protocol/diag_log.h"
#include "protocol/requests.h"
#include "protocol/return_codes.h"
#include "protocol/xml_data.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";

// One request and its reply on a connection of its own, closed before returning.
int exchange(const KRTApp& app, const std::string& request, Reply& reply,
             const kmMgrSocketClient::Timeouts& timeouts) {
    kmMgrSocketClient client(timeouts);
    return client.connectToServer(app.m_serverAddress, static_cast<unsigned>(app.m_serverPort),
                                  request, reply);
}

void readDetails(const XmlNode& channel, VideoChannel& record) {
    record.ChannelID = boundedUtf8(channel.childText("ChannelID"));
    record.ChannelType = boundedUtf8(channel.childText("ChannelType"));
    record.DetailsLoaded = true;
    record.ChannelDescription = boundedUtf8(channel.childText("ChannelDescription"));
    record.Width = channel.childInt("Width");
    record.Height = channel.childInt("Height");
    record.RecWidth = channel.childInt("RecWidth");
    record.RecHeight = channel.childInt("RecHeight");
}

// An ID already in the table is not fetched again. The empty ID always counts as known: the
// records not yet filled are all empty.
bool isKnownId(const std::vector<VideoChannel>& table, const std::string& id) {
    return std::ranges::any_of(
        table, [&id](const VideoChannel& record) { return record.ChannelID == id; });
}

}  // namespace

std::optional<std::vector<std::string>> readChannelList(std::string_view replyText) {
    const XmlNode list = loadXmlDocument(replyText).child("VideoChannels");
    if (!list) {
        return std::nullopt;
    }
    std::vector<std::string> ids;
    for (const XmlNode& idNode : list.children("ChannelID")) {
        ids.push_back(boundedUtf8(idNode.text()));
    }
    return ids;
}

void readChannelDetails(std::string_view replyText, VideoChannel& record) {
    const XmlNode list = loadXmlDocument(replyText).child("VideoChannels");
    for (const XmlNode& channel : list.children("VideoChannel")) {
        readDetails(channel, record);
    }
}

bool readPtzStatus(std::string_view replyText) {
    const XmlNode description = loadXmlDocument(replyText).child("kmDescription");
    return description && parseLeadingInt(description.text()) == 1;
}

int getListOfVideos(KRTApp& app, const kmMgrSocketClient::Timeouts& timeouts) {
    try {
        Reply reply;
        const int result = exchange(app, channelListRequest(app.m_userName), reply, timeouts);
        if (result <= 0) {
            return result;
        }
        const std::optional<std::vector<std::string>> ids = readChannelList(reply.text());
        if (!ids) {
            writeLog(kModule, "CkmKRTZededUzeriZeraveDlg::getListOfVideos", "Invalid response 1");
            return kErrCommunication;
        }
        std::vector<VideoChannel> table(ids->size());
        std::size_t fill = 0;
        for (const std::string& id : *ids) {
            if (isKnownId(table, id)) {
                continue;
            }
            VideoChannel record;
            getVideoChannelDetails(app, id, record, timeouts);
            record.PTZEnabled = getCameraPTZStatus(app, id, timeouts);
            table[fill++] = std::move(record);
        }
        app.m_channels = std::move(table);
        return kSuccess;
    } catch (...) {
        writeLog(kModule, "KRTApp::checkRunningVersionStatusWithServer()", "");
        return kErrException;
    }
}

int getVideoChannelDetails(const KRTApp& app, std::string_view channelId, VideoChannel& record,
                           const kmMgrSocketClient::Timeouts& timeouts) {
    try {
        Reply reply;
        const int result =
            exchange(app, channelRequest("getVideoChannelDetails", channelId), reply, timeouts);
        if (result <= 0) {
            return result;
        }
        readChannelDetails(reply.text(), record);
        return kSuccess;
    } catch (...) {
        writeLog(kModule, "CkmKRTZededUzeriZeraveDlg::getVideoChannelDetails", "");
        return kErrException;
    }
}

bool getCameraPTZStatus(const KRTApp& app, std::string_view channelId,
                        const kmMgrSocketClient::Timeouts& timeouts) {
    try {
        Reply reply;
        if (exchange(app, channelRequest("getCameraPTZStatus", channelId), reply, timeouts) <= 0) {
            return false;
        }
        return readPtzStatus(reply.text());
    } catch (...) {
        writeLog(kModule, "CkmKRTZededUzeriZeraveDlg::getCameraPTZStatus", "");
        return false;
    }
}

}  // namespace krt
