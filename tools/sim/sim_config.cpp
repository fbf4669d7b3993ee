#include "sim_config.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <span>
#include <sstream>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "frame_renderer.h"
#include "protocol/packet_framing.h"
#include "protocol/xml_message.h"
#include "sim_replies.h"

namespace krt::sim {
namespace {

using nlohmann::json;

constexpr std::array kUserReplyElements = {"kmResponseData", "kmDescription",
                                           "kmNumberOfSupportedCameras", "kmSiteName",
                                           "GetLiveVideoFromServer"};
constexpr std::array kChannelReplyElements = {"VideoChannel",       "ChannelID", "ChannelType",
                                              "ChannelDescription", "Width",     "Height",
                                              "RecWidth",           "RecHeight"};

[[noreturn]] void fail(std::string_view where, std::string_view what) {
    throw ConfigError(std::string(where) + ": " + std::string(what));
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

template <typename Number>
void requireRange(Number value, Number low, Number high, std::string_view where) {
    if (value < low || value > high) {
        std::ostringstream text;
        text << "must be between " << low << " and " << high;
        fail(where, text.str());
    }
}

// ---- kinds of value: how one is read from JSON, checked, and written back ----------------
// Each has read(value, target, place), which throws ConfigError naming the place, and
// write(value), which gives the JSON that read takes back.

template <typename Number>
struct Between {
    Number low;
    Number high;

    void read(const json& value, Number& target, const std::string& place) const {
        const Number number = checkedNumber<Number>(value, place);
        requireRange(number, low, high, place);
        target = number;
    }
    json write(Number value) const { return value; }
};

// Return codes and the like: any value an int holds.
constexpr Between<int> kAnyInt{std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};

// A flag, a text or a list of texts as JSON holds it; `ifEmpty`, when given, refuses an
// empty text or list with that complaint.
template <typename T>
struct AsGiven {
    std::string_view ifEmpty;

    void read(const json& value, T& target, const std::string& place) const {
        try {
            target = value.get<T>();
        } catch (const json::exception&) {
            fail(place, "has the wrong type");
        }
        if constexpr (!std::is_same_v<T, bool>) {
            if (!ifEmpty.empty() && target.empty()) {
                fail(place, ifEmpty);
            }
        }
    }
    json write(const T& value) const { return value; }
};

// Names of reply elements that may be left out: only those of `known`.
struct Elements {
    std::span<const char* const> known;

    void read(const json& value, std::set<std::string>& target, const std::string& place) const {
        AsGiven<std::set<std::string>>{}.read(value, target, place);
        for (const std::string& element : target) {
            if (std::find(known.begin(), known.end(), element) == known.end()) {
                fail(place, "cannot leave out \"" + element + "\"");
            }
        }
    }
    json write(const std::set<std::string>& value) const { return value; }
};

// An enumeration by the names the file gives its values.
template <typename Enum>
struct Named {
    using Name = EnumName<Enum>;
    std::span<const Name> names;
    std::string_view what;  // "kind" in "unknown kind "x""

    void read(const json& value, Enum& target, const std::string& place) const {
        std::string text;
        AsGiven<std::string>{}.read(value, text, place);
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&](const Name& name) { return name.text == text; });
        if (found == names.end()) {
            fail(place, "unknown " + std::string(what) + " \"" + text + "\"");
        }
        target = found->value;
    }
    json write(Enum value) const {
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&](const Name& name) { return name.value == value; });
        return found == names.end() ? "" : found->text;
    }
};

// ---- fields: one table of keys per struct ------------------------------------------------

enum class Presence { Optional, Required };

// One key of an object: which member it fills and how. Defaults are the members' own.
template <typename Struct>
struct Field {
    std::string_view key;
    std::function<void(const json& value, Struct& target, const std::string& place)> read;
    std::function<json(const Struct& source)> write;
    Presence presence = Presence::Optional;
};

template <typename Struct>
struct Table {
    std::vector<Field<Struct>> fields;
    // Rules between fields, once all are read; `where` names the object.
    void (*check)(const Struct& value, const std::string& where) = nullptr;
};

template <typename Struct, typename T, typename Kind>
Field<Struct> field(std::string_view key, T Struct::*member, Kind kind,
                    Presence presence = Presence::Optional) {
    return {key,
            [member, kind](const json& value, Struct& target, const std::string& place) {
                kind.read(value, target.*member, place);
            },
            [member, kind](const Struct& source) { return kind.write(source.*member); }, presence};
}

// A member that may hold nothing: null in the file (and when written) clears it.
template <typename Struct, typename T, typename Kind>
Field<Struct> nullable(std::string_view key, std::optional<T> Struct::*member, Kind kind) {
    return {key,
            [member, kind](const json& value, Struct& target, const std::string& place) {
                std::optional<T>& slot = target.*member;
                if (value.is_null()) {
                    slot.reset();
                    return;
                }
                T read{};
                kind.read(value, read, place);
                slot = std::move(read);
            },
            [member, kind](const Struct& source) {
                const std::optional<T>& slot = source.*member;
                return slot ? kind.write(*slot) : json(nullptr);
            }};
}

std::string placeOf(const std::string& where, std::string_view key) {
    return where.empty() ? std::string(key) : where + "." + std::string(key);
}

// Reads the keys the object names over what the target holds; `where` is empty at the top.
template <typename Struct>
void readObject(const json& object, Struct& target, const Table<Struct>& table,
                const std::string& where) {
    const std::string objectName = where.empty() ? "configuration" : where;
    if (!object.is_object()) {
        fail(objectName, "must be an object");
    }
    for (const auto& item : object.items()) {
        if (std::none_of(table.fields.begin(), table.fields.end(),
                         [&](const Field<Struct>& field) { return field.key == item.key(); })) {
            fail(objectName, "unknown key \"" + item.key() + "\"");
        }
    }
    for (const Field<Struct>& field : table.fields) {
        const std::string place = placeOf(where, field.key);
        if (const auto found = object.find(std::string(field.key)); found != object.end()) {
            field.read(*found, target, place);
        } else if (field.presence == Presence::Required) {
            fail(place, "is missing");
        }
    }
    if (table.check != nullptr) {
        table.check(target, where);
    }
}

template <typename Struct>
json writeObject(const Struct& source, const Table<Struct>& table) {
    json object = json::object();
    for (const Field<Struct>& field : table.fields) {
        object[std::string(field.key)] = field.write(source);
    }
    return object;
}

// An object read over the member's current value (the built-in default's).
template <typename Struct>
struct ObjectOf {
    const Table<Struct>* table;

    void read(const json& value, Struct& target, const std::string& place) const {
        readObject(value, target, *table, place);
    }
    json write(const Struct& value) const { return writeObject(value, *table); }
};

// A list that replaces the member's; each item starts from the struct's defaults.
template <typename Struct>
struct ListOf {
    const Table<Struct>* table;

    void read(const json& value, std::vector<Struct>& target, const std::string& place) const {
        if (!value.is_array()) {
            fail(place, "must be an array");
        }
        std::vector<Struct> items;
        for (std::size_t i = 0; i < value.size(); ++i) {
            Struct& item = items.emplace_back();
            readObject(value[i], item, *table, place + "[" + std::to_string(i) + "]");
        }
        target = std::move(items);
    }
    json write(const std::vector<Struct>& value) const {
        json list = json::array();
        for (const Struct& item : value) {
            list.push_back(writeObject(item, *table));
        }
        return list;
    }
};

// ---- the tables --------------------------------------------------------------------------

// A new key is a member of its struct (whose initializer is the default) and one line in its
// struct's table; reading, checking and writing all follow from that line.

// The names the configuration file gives the kinds (what each does: FaultKind, README.md).
using FaultName = EnumName<FaultKind>;
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

const Table<SimUser> kUserTable{{
    field("name", &SimUser::name, AsGiven<std::string>{"must not be empty"}, Presence::Required),
    field("password", &SimUser::password, AsGiven<std::string>{}),
    field("privilege", &SimUser::privilege, AsGiven<std::string>{}),
    nullable("refusalCode", &SimUser::refusalCode, kAnyInt),
    field("omit", &SimUser::omitElements, Elements{kUserReplyElements}),
    nullable("acceptedReturnCode", &SimUser::acceptedReturnCode, kAnyInt),
}};

const Table<SimChannel> kChannelTable{{
    field("id", &SimChannel::id,
          AsGiven<std::string>{"must not be empty (list an empty ID in channelList instead)"},
          Presence::Required),
    field("description", &SimChannel::description, AsGiven<std::string>{}),
    field("type", &SimChannel::type, AsGiven<std::string>{}),
    field("width", &SimChannel::width, Between{16, 8192}),
    field("height", &SimChannel::height, Between{16, 8192}),
    field("recWidth", &SimChannel::recWidth, kAnyInt),
    field("recHeight", &SimChannel::recHeight, kAnyInt),
    nullable("ptz", &SimChannel::ptzStatus, AsGiven<std::string>{}),
    field("frameRate", &SimChannel::frameRate, Between{0.0, 120.0}),
    field("omit", &SimChannel::omitElements, Elements{kChannelReplyElements}),
}};

void checkFault(const FaultMode& fault, const std::string& where) {
    if ((fault.kind == FaultKind::ReplyText || fault.kind == FaultKind::PushText) &&
        fault.text.empty()) {
        fail(where + ".text", "must not be empty: an empty frame cannot be sent");
    }
    if (fault.text.size() > kMaxPayloadLength) {
        fail(where + ".text", "is " + std::to_string(fault.text.size()) +
                                  " bytes; a frame carries at most " +
                                  std::to_string(kMaxPayloadLength));
    }
    // A frame carries at least one byte, so it can claim at most this many more.
    if (fault.kind == FaultKind::OverstatedLength) {
        requireRange<std::size_t>(fault.bytes, 1, kMaxPayloadLength - 1, where + ".bytes");
    }
}

const Table<FaultMode> kFaultTable{
    {
        field("kind", &FaultMode::kind, Named<FaultKind>{kFaultNames, "kind"}, Presence::Required),
        nullable("request", &FaultMode::request, AsGiven<std::string>{}),
        nullable("times", &FaultMode::times, Between{0, 1'000'000}),
        field("code", &FaultMode::code, kAnyInt),
        field("bytes", &FaultMode::bytes,
              Between<std::size_t>{0, std::numeric_limits<std::size_t>::max()}),
        field("afterFrames", &FaultMode::afterFrames, Between{0, 1'000'000}),
        field("delayMs", &FaultMode::delayMs, Between{0, 600'000}),
        // Pieces of one frame, header included.
        field("pieceBytes", &FaultMode::pieceBytes,
              Between<std::size_t>{1, kPktHeaderSize + kMaxPayloadLength}),
        field("pauseMs", &FaultMode::pauseMs, Between{0, 10'000}),
        field("text", &FaultMode::text, AsGiven<std::string>{}),
    },
    checkFault};

const Table<AlarmSchedule> kAlarmTable{{
    field("intervalSeconds", &AlarmSchedule::intervalSeconds, Between{0, 86'400}),
    field("names", &AlarmSchedule::names,
          AsGiven<std::vector<std::string>>{"must name at least one alarm"}),
    field("channels", &AlarmSchedule::channels, AsGiven<std::vector<std::string>>{}),
}};

void checkConfig(const SimConfig& config, const std::string&) {
    std::set<std::string> seen;
    for (const SimChannel& channel : config.channels) {
        if (!seen.insert(channel.id).second) {
            fail("channels", "the ID \"" + channel.id + "\" is used twice");
        }
    }
    if (const std::optional<std::string> oversized = oversizedReply(config)) {
        fail("configuration", *oversized);
    }
}

const Table<SimConfig> kConfigTable{
    {
        field("protocolVersion", &SimConfig::protocolVersion, AsGiven<std::string>{}),
        field("siteName", &SimConfig::siteName, AsGiven<std::string>{}),
        field("badLoginCode", &SimConfig::badLoginCode, kAnyInt),
        field("users", &SimConfig::users, ListOf{&kUserTable}),
        field("channels", &SimConfig::channels, ListOf{&kChannelTable}),
        nullable("channelList", &SimConfig::channelList, AsGiven<std::vector<std::string>>{}),
        field("listWithoutVideoChannels", &SimConfig::listWithoutVideoChannels, AsGiven<bool>{}),
        field("alarms", &SimConfig::alarms, ObjectOf{&kAlarmTable}),
        // The padded snapshot is one frame's payload.
        field("alarmImageMinBytes", &SimConfig::alarmImageMinBytes,
              Between<std::size_t>{0, kMaxPayloadLength - kPaddingOvershootBytes}),
        field("jpegQuality", &SimConfig::jpegQuality, Between{1, 100}),
        field("pictureDetail", &SimConfig::pictureDetail,
              Named<PictureDetail>{kPictureDetailNames, "picture detail"}),
        field("lowResolutionDivisor", &SimConfig::lowResolutionDivisor, Between{1, 16}),
        field("mediumResolutionDivisor", &SimConfig::mediumResolutionDivisor, Between{1, 16}),
        field("idleTimeoutMs", &SimConfig::idleTimeoutMs, Between{1, 86'400'000}),
        field("faults", &SimConfig::faults, ListOf{&kFaultTable}),
    },
    checkConfig};

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
    SimConfig config = defaultConfig();
    readObject(root, config, kConfigTable, "");
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
    return writeObject(config, kConfigTable).dump(2);
}

}  // namespace krt::sim
