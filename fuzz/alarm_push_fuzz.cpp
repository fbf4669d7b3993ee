// A pushed alarm message as the alarm handler reads it: the XML, its fields, the timestamp
// checks and time text, the snapshot file name, and the image request that names the alarm
// back to the server.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "alarms/alarm_message.h"
#include "alarms/alarm_time.h"
#include "fuzz_check.h"
#include "protocol/xml_message.h"

namespace {

const std::filesystem::path kSnapshotFolder = "/snapshots/krt";

// Whatever the server sends, the snapshot is a plain file directly inside the folder.
void checkSnapshotPath(std::string_view timestamp, const krt::LocalTime& time) {
    const std::string stem = krt::snapshotFileStem(timestamp, time);
    FUZZ_CHECK(!stem.empty() && stem.size() + 4 <= 255);
    FUZZ_CHECK(std::ranges::all_of(stem, [](char c) { return c >= '0' && c <= '9'; }) ||
               stem.find_first_of("/\\") == std::string::npos);
    const std::filesystem::path path = kSnapshotFolder / (stem + ".jpg");
    FUZZ_CHECK(path.lexically_normal().parent_path() == kSnapshotFolder);
    FUZZ_CHECK(path.filename() == stem + ".jpg");
}

void checkTimeText(const krt::LocalTime& time) {
    const std::optional<std::string> text = krt::alarmTimeText(time);
    if (!text) {
        return;
    }
    // Only times within the field ranges are shown: "dd-Mon-YYYY::hh:mm:ss".
    FUZZ_CHECK(time.year >= 1900 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
               time.day <= 31 && time.hour >= 0 && time.hour <= 23 && time.minute >= 0 &&
               time.minute <= 59 && time.second >= 0 && time.second <= 59);
    FUZZ_CHECK(text->size() >= 21 && text->substr(2, 1) == "-" &&
               text->find("::") != std::string::npos);
}

// The server finds the alarm's image by the channel and name it pushed: they must come back
// byte for byte, as the server reads the request (its text up to the first zero byte).
void checkImageRequest(const krt::AlarmMessage& message, const krt::LocalTime& time) {
    const auto request = krt::alarmImageRequest(message.channelId, message.alarmName, time);
    FUZZ_CHECK(request.has_value());
    const std::string_view whole(request->data(), request->size());
    FUZZ_CHECK(whole.size() >= 2 && whole.substr(whole.size() - 2) == std::string_view("\0\0", 2));
    const krt::XmlNode root = krt::loadXmlDocument(whole.substr(0, whole.find('\0')));
    FUZZ_CHECK(static_cast<bool>(root));
    FUZZ_CHECK(root.childText("kmRequestID") == "getAlarmImage");
    const krt::XmlNode data = root.child("kmRequestData");
    FUZZ_CHECK(data.childText("kmAlarmChannelID") == message.channelId);
    FUZZ_CHECK(data.childText("kmAlarmName") == message.alarmName);
    FUZZ_CHECK(data.childText("kmAlarmTimestamp") == krt::timestampDigits(time));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const krt::XmlNode root = krt::loadXmlDocument(text);
    const std::optional<krt::AlarmMessage> message =
        root ? krt::readAlarmMessage(root) : std::nullopt;
    if (!message) {
        return 0;
    }
    for (const std::string* field :
         {&message->timestamp, &message->alarmName, &message->channelId}) {
        FUZZ_CHECK(field->size() <= krt::kMaxFieldTextBytes);
    }
    const krt::LocalTime time = krt::parseAlarmTimestamp(message->timestamp);
    checkTimeText(time);
    checkSnapshotPath(message->timestamp, time);
    checkImageRequest(*message, time);
    return 0;
}
