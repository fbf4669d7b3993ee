#include "sim_config.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "protocol/packet_framing.h"
#include "protocol/xml_message.h"

namespace krt::sim {
namespace {

using nlohmann::json;

constexpr std::array kUserReplyElements = {"kmResponseData", "kmDescription",
                                           "kmNumberOfSupportedCameras", "kmSiteName",
                                           "GetLiveVideoFromServer"};
constexpr std::array kChannelReplyElements = {"VideoChannel",       "ChannelID", "ChannelType",
                                              "ChannelDescription", "Width",     "Height",
                                              "RecWidth",           "RecHeight"};

struct FaultName {
    FaultKind kind;
    std::string_view name;
};
// The names the configuration file gives the kinds (what each does: FaultKind, README.md).
constexpr std::array kFaultNames = {
    FaultName{FaultKind::Refuse, "refuse"},
    FaultName{FaultKind::CloseAfterBytes, "closeAfterBytes"},
    FaultName{FaultKind::BadStartOfFrame, "badStartOfFrame"},
    FaultName{FaultKind::Delay, "delay"},
    FaultName{FaultKind::Trickle, "trickle"},
    FaultName{FaultKind::ReplyText, "replyText"},
    FaultName{FaultKind::Stall, "stall"},
    FaultName{FaultKind::SilentDrop, "silentDrop"},
    FaultName{FaultKind::ZeroLength, "zeroLength"},
    FaultName{FaultKind::OverstatedLength, "overstatedLength"},
    FaultName{FaultKind::PushText, "pushText"},
};

[[noreturn]] void fail(std::string_view where, std::string_view what) {
    throw ConfigError(std::string(where) + ": " + std::string(what));
}

void requireObject(const json& value, std::string_view where) {
    if (!value.is_object()) {
        fail(where, "must be an object");
    }
}

void checkKeys(const json& object, std::initializer_list<std::string_view> known,
               std::string_view where) {
    requireObject(object, where);
    for (const auto& [key, value] : object.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            fail(where, "unknown key \"" + key + "\"");
        }
    }
}

// Every number of a file goes through here. JSON numbers arrive as 64-bit integers or as
// doubles of any size; a field takes only values its type holds, and an integer field only
// whole ones, so that nothing is converted out of range.
template <typename Number>
Number checkedNumber(const json& value, std::string_view where) {
    if (!value.is_number()) {
        fail(where, "has the wrong type");
    }
    if constexpr (std::is_floating_point_v<Number>) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::fabs(number) > std::numeric_limits<Number>::max()) {
            fail(where, "is out of range");
        }
        return static_cast<Number>(number);
    } else {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (!std::in_range<Number>(number)) {
                fail(where, "is out of range");
            }
            return static_cast<Number>(number);
        }
        if (value.is_number_integer()) {
            const auto number = value.get<std::int64_t>();
            if (!std::in_range<Number>(number)) {
                fail(where, "is out of range");
            }
            return static_cast<Number>(number);
        }
        const double number = value.get<double>();
        if (!std::isfinite(number) || number != std::trunc(number)) {
            fail(where, "must be a whole number");
        }
        // The bounds are powers of two, so both are exact as doubles.
        const double low = static_cast<double>(std::numeric_limits<Number>::min());
        const double beyondHigh = std::ldexp(1.0, std::numeric_limits<Number>::digits);
        if (!(number >= low && number < beyondHigh)) {
            fail(where, "is out of range");
        }
        return static_cast<Number>(number);
    }
}

// Reads object[key] into target when present; a value of the wrong type is an error.
template <typename T>
void read(const json& object, const char* key, T& target, std::string_view where) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return;
    }
    const std::string place = std::string(where) + "." + key;
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
        target = checkedNumber<T>(*found, place);
    } else {
        try {
            target = found->template get<T>();
        } catch (const json::exception&) {
            fail(place, "has the wrong type");
        }
    }
}

// As read, and null clears the value.
template <typename T>
void readOptional(const json& object, const char* key, std::optional<T>& target,
                  std::string_view where) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return;
    }
    if (found->is_null()) {
        target.reset();
        return;
    }
    T value{};
    read(object, key, value, where);
    target = std::move(value);
}

template <typename Number>
void requireRange(Number value, Number low, Number high, std::string_view where) {
    if (value < low || value > high) {
        std::ostringstream text;
        text << "must be between " << low << " and " << high;
        fail(where, text.str());
    }
}

template <std::size_t N>
void requireKnownElements(const std::set<std::string>& elements,
                          const std::array<const char*, N>& known, std::string_view where) {
    for (const std::string& element : elements) {
        if (std::find(known.begin(), known.end(), element) == known.end()) {
            fail(where, "cannot leave out \"" + element + "\"");
        }
    }
}

SimUser readUser(const json& object, const std::string& where) {
    checkKeys(object,
              {"name", "password", "privilege", "refusalCode", "omit", "acceptedReturnCode"},
              where);
    SimUser user;
    read(object, "name", user.name, where);
    read(object, "password", user.password, where);
    read(object, "privilege", user.privilege, where);
    readOptional(object, "refusalCode", user.refusalCode, where);
    read(object, "omit", user.omitElements, where);
    readOptional(object, "acceptedReturnCode", user.acceptedReturnCode, where);
    if (user.name.empty()) {
        fail(where + ".name", "must not be empty");
    }
    requireKnownElements(user.omitElements, kUserReplyElements, where + ".omit");
    return user;
}

SimChannel readChannel(const json& object, const std::string& where) {
    checkKeys(object,
              {"id", "description", "type", "width", "height", "recWidth", "recHeight", "ptz",
               "frameRate", "omit"},
              where);
    SimChannel channel;
    read(object, "id", channel.id, where);
    read(object, "description", channel.description, where);
    read(object, "type", channel.type, where);
    read(object, "width", channel.width, where);
    read(object, "height", channel.height, where);
    read(object, "recWidth", channel.recWidth, where);
    read(object, "recHeight", channel.recHeight, where);
    readOptional(object, "ptz", channel.ptzStatus, where);
    read(object, "frameRate", channel.frameRate, where);
    read(object, "omit", channel.omitElements, where);
    if (channel.id.empty()) {
        fail(where + ".id", "must not be empty (list an empty ID in channelList instead)");
    }
    requireRange(channel.width, 16, 8192, where + ".width");
    requireRange(channel.height, 16, 8192, where + ".height");
    requireRange(channel.frameRate, 0.0, 120.0, where + ".frameRate");
    requireKnownElements(channel.omitElements, kChannelReplyElements, where + ".omit");
    return channel;
}

FaultKind faultKindByName(std::string_view name, std::string_view where) {
    for (const FaultName& entry : kFaultNames) {
        if (entry.name == name) {
            return entry.kind;
        }
    }
    fail(where, "unknown kind \"" + std::string(name) + "\"");
}

std::string_view faultKindName(FaultKind kind) {
    for (const FaultName& entry : kFaultNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "";
}

FaultMode readFault(const json& object, const std::string& where) {
    checkKeys(object,
              {"kind", "request", "times", "code", "bytes", "afterFrames", "delayMs", "pieceBytes",
               "pauseMs", "text"},
              where);
    FaultMode fault;
    std::string kind;
    read(object, "kind", kind, where);
    fault.kind = faultKindByName(kind, where + ".kind");
    readOptional(object, "request", fault.request, where);
    readOptional(object, "times", fault.times, where);
    read(object, "code", fault.code, where);
    read(object, "bytes", fault.bytes, where);
    read(object, "afterFrames", fault.afterFrames, where);
    read(object, "delayMs", fault.delayMs, where);
    read(object, "pieceBytes", fault.pieceBytes, where);
    read(object, "pauseMs", fault.pauseMs, where);
    read(object, "text", fault.text, where);
    if (fault.times) {
        requireRange(*fault.times, 0, 1'000'000, where + ".times");
    }
    requireRange(fault.afterFrames, 0, 1'000'000, where + ".afterFrames");
    requireRange(fault.delayMs, 0, 600'000, where + ".delayMs");
    requireRange<std::size_t>(fault.pieceBytes, 1, 1'000'000, where + ".pieceBytes");
    requireRange(fault.pauseMs, 0, 10'000, where + ".pauseMs");
    if ((fault.kind == FaultKind::ReplyText || fault.kind == FaultKind::PushText) &&
        fault.text.empty()) {
        fail(where + ".text", "must not be empty: an empty frame cannot be sent");
    }
    if (fault.kind == FaultKind::OverstatedLength) {
        requireRange<std::size_t>(fault.bytes, 1, kMaxPayloadLength, where + ".bytes");
    }
    return fault;
}

void readAlarms(const json& object, AlarmSchedule& alarms) {
    constexpr std::string_view where = "alarms";
    checkKeys(object, {"intervalSeconds", "names", "channels"}, where);
    read(object, "intervalSeconds", alarms.intervalSeconds, where);
    read(object, "names", alarms.names, where);
    read(object, "channels", alarms.channels, where);
    requireRange(alarms.intervalSeconds, 0, 86'400, "alarms.intervalSeconds");
    if (alarms.names.empty()) {
        fail("alarms.names", "must name at least one alarm");
    }
}

template <typename T, typename Reader>
std::vector<T> readList(const json& object, const char* key, Reader reader) {
    const json& list = object.at(key);
    if (!list.is_array()) {
        fail(key, "must be an array");
    }
    std::vector<T> items;
    for (std::size_t i = 0; i < list.size(); ++i) {
        items.push_back(reader(list[i], std::string(key) + "[" + std::to_string(i) + "]"));
    }
    return items;
}

void requireUniqueChannelIds(const std::vector<SimChannel>& channels) {
    std::set<std::string> seen;
    for (const SimChannel& channel : channels) {
        if (!seen.insert(channel.id).second) {
            fail("channels", "the ID \"" + channel.id + "\" is used twice");
        }
    }
}

template <typename T>
void putOptional(json& object, const char* key, const std::optional<T>& value) {
    object[key] = value ? json(*value) : json(nullptr);
}

json userToJson(const SimUser& user) {
    json object = {{"name", user.name},
                   {"password", user.password},
                   {"privilege", user.privilege},
                   {"omit", user.omitElements}};
    putOptional(object, "refusalCode", user.refusalCode);
    putOptional(object, "acceptedReturnCode", user.acceptedReturnCode);
    return object;
}

json channelToJson(const SimChannel& channel) {
    json object = {{"id", channel.id},
                   {"description", channel.description},
                   {"type", channel.type},
                   {"width", channel.width},
                   {"height", channel.height},
                   {"recWidth", channel.recWidth},
                   {"recHeight", channel.recHeight},
                   {"frameRate", channel.frameRate},
                   {"omit", channel.omitElements}};
    putOptional(object, "ptz", channel.ptzStatus);
    return object;
}

json faultToJson(const FaultMode& fault) {
    json object = {{"kind", faultKindName(fault.kind)},
                   {"code", fault.code},
                   {"bytes", fault.bytes},
                   {"afterFrames", fault.afterFrames},
                   {"delayMs", fault.delayMs},
                   {"pieceBytes", fault.pieceBytes},
                   {"pauseMs", fault.pauseMs},
                   {"text", fault.text}};
    putOptional(object, "request", fault.request);
    putOptional(object, "times", fault.times);
    return object;
}

SimChannel makeChannel(std::string id, std::string description, int width, int height, bool ptz,
                       double frameRate) {
    SimChannel channel;
    channel.id = std::move(id);
    channel.description = std::move(description);
    channel.type = ptz ? "PTZ Dome Camera" : "IP Camera";
    channel.width = width;
    channel.height = height;
    channel.recWidth = width;
    channel.recHeight = height;
    channel.ptzStatus = ptz ? "1" : "0";
    channel.frameRate = frameRate;
    return channel;
}

}  // namespace

bool SimChannel::ptzEnabled() const {
    return ptzStatus && parseLeadingInt(*ptzStatus) == 1;
}

const SimChannel* SimConfig::findChannel(std::string_view id) const {
    const auto found = std::find_if(channels.begin(), channels.end(),
                                    [id](const SimChannel& channel) { return channel.id == id; });
    return found == channels.end() ? nullptr : &*found;
}

const SimUser* SimConfig::findUser(std::string_view name) const {
    const auto found = std::find_if(users.begin(), users.end(),
                                    [name](const SimUser& user) { return user.name == name; });
    return found == users.end() ? nullptr : &*found;
}

std::vector<std::string> SimConfig::listedChannelIds() const {
    if (channelList) {
        return *channelList;
    }
    std::vector<std::string> ids;
    for (const SimChannel& channel : channels) {
        ids.push_back(channel.id);
    }
    return ids;
}

SimConfig defaultConfig() {
    SimConfig config;
    SimUser demo;
    demo.name = kDemoUser;
    demo.password = kDemoPassword;
    SimUser operatorUser;
    operatorUser.name = "operator";
    operatorUser.password = "operator";
    operatorUser.privilege = "Operator";
    SimUser disabled;
    disabled.name = "disabled";
    disabled.password = "disabled";
    disabled.refusalCode = -10011;
    config.users = {demo, operatorUser, disabled};
    config.channels = {
        makeChannel("1", "Main Gate", 1280, 960, true, 10),
        makeChannel("2", "Lobby", 1280, 720, false, 12),
        makeChannel("3", "Parking North", 1280, 960, false, 8),
        makeChannel("4", "Loading Dock", 1280, 960, true, 10),
        makeChannel("5", "Server Room", 1280, 720, false, 5),
        makeChannel("6", "Reception", 1280, 960, false, 12),
        makeChannel("7", "Warehouse", 1280, 720, true, 10),
        makeChannel("8", "Roof East", 1280, 960, false, 6),
        makeChannel("9", "Back Door", 1280, 960, false, 10),
    };
    return config;
}

SimConfig parseConfig(std::string_view jsonText) {
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::exception& error) {
        // Syntax errors, and numbers beyond any double such as 1e400.
        throw ConfigError(std::string("not valid JSON: ") + error.what());
    }
    checkKeys(root,
              {"protocolVersion", "siteName", "badLoginCode", "users", "channels", "channelList",
               "listWithoutVideoChannels", "alarms", "alarmImageMinBytes", "jpegQuality",
               "lowResolutionDivisor", "mediumResolutionDivisor", "idleTimeoutMs", "faults"},
              "configuration");
    SimConfig config = defaultConfig();
    constexpr std::string_view where = "configuration";
    read(root, "protocolVersion", config.protocolVersion, where);
    read(root, "siteName", config.siteName, where);
    read(root, "badLoginCode", config.badLoginCode, where);
    if (root.contains("users")) {
        config.users = readList<SimUser>(root, "users", readUser);
    }
    if (root.contains("channels")) {
        config.channels = readList<SimChannel>(root, "channels", readChannel);
        requireUniqueChannelIds(config.channels);
    }
    readOptional(root, "channelList", config.channelList, where);
    read(root, "listWithoutVideoChannels", config.listWithoutVideoChannels, where);
    if (root.contains("alarms")) {
        readAlarms(root.at("alarms"), config.alarms);
    }
    read(root, "alarmImageMinBytes", config.alarmImageMinBytes, where);
    read(root, "jpegQuality", config.jpegQuality, where);
    read(root, "lowResolutionDivisor", config.lowResolutionDivisor, where);
    read(root, "mediumResolutionDivisor", config.mediumResolutionDivisor, where);
    read(root, "idleTimeoutMs", config.idleTimeoutMs, where);
    if (root.contains("faults")) {
        config.faults = readList<FaultMode>(root, "faults", readFault);
    }
    requireRange<std::size_t>(config.alarmImageMinBytes, 0, 16u << 20, "alarmImageMinBytes");
    requireRange(config.jpegQuality, 1, 100, "jpegQuality");
    requireRange(config.lowResolutionDivisor, 1, 16, "lowResolutionDivisor");
    requireRange(config.mediumResolutionDivisor, 1, 16, "mediumResolutionDivisor");
    requireRange(config.idleTimeoutMs, 1, 86'400'000, "idleTimeoutMs");
    return config;
}

SimConfig loadConfigFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw ConfigError("cannot read " + path.string());
    }
    std::ostringstream text;
    text << file.rdbuf();
    try {
        return parseConfig(text.str());
    } catch (const ConfigError& error) {
        throw ConfigError(path.string() + ": " + error.what());
    }
}

std::string configToJson(const SimConfig& config) {
    json root = {{"protocolVersion", config.protocolVersion},
                 {"siteName", config.siteName},
                 {"badLoginCode", config.badLoginCode},
                 {"listWithoutVideoChannels", config.listWithoutVideoChannels},
                 {"alarms",
                  {{"intervalSeconds", config.alarms.intervalSeconds},
                   {"names", config.alarms.names},
                   {"channels", config.alarms.channels}}},
                 {"alarmImageMinBytes", config.alarmImageMinBytes},
                 {"jpegQuality", config.jpegQuality},
                 {"lowResolutionDivisor", config.lowResolutionDivisor},
                 {"mediumResolutionDivisor", config.mediumResolutionDivisor},
                 {"idleTimeoutMs", config.idleTimeoutMs}};
    putOptional(root, "channelList", config.channelList);
    root["users"] = json::array();
    for (const SimUser& user : config.users) {
        root["users"].push_back(userToJson(user));
    }
    root["channels"] = json::array();
    for (const SimChannel& channel : config.channels) {
        root["channels"].push_back(channelToJson(channel));
    }
    root["faults"] = json::array();
    for (const FaultMode& fault : config.faults) {
        root["faults"].push_back(faultToJson(fault));
    }
    return root.dump(2);
}

}  // namespace krt::sim
