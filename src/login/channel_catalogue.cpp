#include "login/channel_catalogue.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "protocol/diag_log.h"
#include "protocol/requests.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";

constexpr const char* kListMethod = "CkmKRTZededUzeriZeraveDlg::getListOfVideos";

// One request and its reply on a connection of its own, closed before returning. False when
// no reply came.
[[nodiscard]] bool exchange(const AppState& app, const std::string& request, Reply& reply,
                            const ExchangeLimits& limits) {
    SocketClient client(limits.timeouts, limits.cancellation);
    return client.connectToServer(app.m_serverAddress, static_cast<unsigned>(app.m_serverPort),
                                  request, reply) > 0;
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

// The IDs whose details are fetched: every ID of the list but the empty one and repeats, in
// list order.
std::vector<std::string> idsToFetch(const std::vector<std::string>& listIds) {
    std::unordered_set<std::string> seen{std::string()};
    std::vector<std::string> ids;
    for (const std::string& id : listIds) {
        if (seen.insert(id).second) {
            ids.push_back(id);
        }
    }
    return ids;
}

VideoChannel fetchChannel(const AppState& app, const std::string& id,
                          const ExchangeLimits& limits) {
    VideoChannel record;
    getVideoChannelDetails(app, id, record, limits);
    record.PTZEnabled = getCameraPTZStatus(app, id, limits);
    return record;
}

// The records of the IDs, each in its own place, over a few connections at once.
std::vector<VideoChannel> fetchChannels(const AppState& app, const std::vector<std::string>& ids,
                                        const ExchangeLimits& limits) {
    std::vector<VideoChannel> records(ids.size());
    std::atomic<std::size_t> next{0};
    auto fetchNext = [&] {
        for (std::size_t i = next++; i < ids.size() && !limits.cancelled(); i = next++) {
            records[i] = fetchChannel(app, ids[i], limits);
        }
    };
    const std::size_t workers =
        std::min<std::size_t>(ids.size(), static_cast<std::size_t>(kCatalogueConnections));
    {
        std::vector<std::jthread> threads;
        for (std::size_t w = 1; w < workers; ++w) {
            threads.emplace_back(fetchNext);
        }
        fetchNext();
    }
    return records;
}

// The table as the one-after-another walk builds it: an ID is skipped when a record filled
// before it (with the ID its details reply gave) or a record not yet filled (empty) has it.
std::vector<VideoChannel> buildTable(const std::vector<std::string>& listIds,
                                     const std::vector<std::string>& fetchedIds,
                                     const std::vector<VideoChannel>& fetched) {
    std::unordered_map<std::string_view, std::size_t> fetchedIndex;
    for (std::size_t i = 0; i < fetchedIds.size(); ++i) {
        fetchedIndex.emplace(fetchedIds[i], i);
    }
    std::vector<VideoChannel> table(listIds.size());
    std::unordered_set<std::string> known{std::string()};
    std::size_t fill = 0;
    for (const std::string& id : listIds) {
        if (known.contains(id)) {
            continue;
        }
        const VideoChannel& record = fetched[fetchedIndex.at(id)];
        known.insert(record.ChannelID);
        table[fill++] = record;
    }
    return table;
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

bool getListOfVideos(AppState& app, const ExchangeLimits& limits, std::size_t* ignoredIds) {
    try {
        Reply reply;
        if (!exchange(app, channelListRequest(app.m_userName), reply, limits)) {
            return false;
        }
        std::optional<std::vector<std::string>> listIds = readChannelList(reply.text());
        if (!listIds) {
            writeLog(kModule, kListMethod, "Invalid response 1");
            return false;
        }
        const std::size_t ignored =
            listIds->size() > kMaxCatalogueChannels ? listIds->size() - kMaxCatalogueChannels : 0;
        listIds->resize(listIds->size() - ignored);
        if (ignored > 0) {
            const std::string message =
                "Too many channels: " + std::to_string(ignored) + " ignored";
            writeLog(kModule, kListMethod, message.c_str());
        }
        if (ignoredIds != nullptr) {
            *ignoredIds = ignored;
        }
        const std::vector<std::string> ids = idsToFetch(*listIds);
        const std::vector<VideoChannel> records = fetchChannels(app, ids, limits);
        if (limits.cancelled()) {
            return false;  // a catalogue cut short is not the catalogue
        }
        app.m_channels = buildTable(*listIds, ids, records);
        return true;
    } catch (...) {
        writeLog(kModule, "KRTApp::checkRunningVersionStatusWithServer()", "");
        return false;
    }
}

void getVideoChannelDetails(const AppState& app, std::string_view channelId, VideoChannel& record,
                            const ExchangeLimits& limits) {
    try {
        Reply reply;
        if (exchange(app, channelRequest("getVideoChannelDetails", channelId), reply, limits)) {
            readChannelDetails(reply.text(), record);
        }
    } catch (...) {
        writeLog(kModule, "CkmKRTZededUzeriZeraveDlg::getVideoChannelDetails", "");
    }
}

bool getCameraPTZStatus(const AppState& app, std::string_view channelId,
                        const ExchangeLimits& limits) {
    try {
        Reply reply;
        if (!exchange(app, channelRequest("getCameraPTZStatus", channelId), reply, limits)) {
            return false;
        }
        return readPtzStatus(reply.text());
    } catch (...) {
        writeLog(kModule, "CkmKRTZededUzeriZeraveDlg::getCameraPTZStatus", "");
        return false;
    }
}

}  // namespace krt
