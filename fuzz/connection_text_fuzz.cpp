// The connection text a video tile hands its stream, and the IP address control's rules
// applied to typed and remembered address texts.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "login/ip_address_rules.h"
#include "protocol/xml_message.h"
#include "stream/connection_text.h"

namespace {

bool isOctetText(std::string_view text) {
    return !text.empty() && text.size() <= krt::kOctetDigits &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

void checkConnectionText(std::string_view text) {
    const std::optional<krt::ConnectionTarget> target = krt::parseConnectionText(text);
    const bool hasColon = text.find(':') != std::string_view::npos;
    FUZZ_CHECK(!target || hasColon);
    FUZZ_CHECK(target || !hasColon || text.size() > krt::kMaxConnectionPart);
    if (!target) {
        return;
    }
    FUZZ_CHECK(target->address.find(':') == std::string::npos);
    FUZZ_CHECK(target->address.size() <= krt::kMaxConnectionPart &&
               target->channel.size() <= krt::kMaxConnectionPart);
    // What a tile formats from the parts reads back as the same parts.
    const std::string again =
        krt::formatConnectionText(target->address, target->channel, target->port);
    FUZZ_CHECK(krt::parseConnectionText(again) == target);
}

// A tile's text for any channel ID (the input split at its first zero byte) reads back.
void checkTileText(std::string_view text) {
    const std::size_t split = text.find('\0');
    if (split == std::string_view::npos) {
        return;
    }
    const std::string_view channel = text.substr(split + 1);
    if (channel.size() > krt::kMaxConnectionPart) {
        return;
    }
    const int port = krt::parseLeadingInt(text.substr(0, split));
    const std::string formatted = krt::formatConnectionText("127.0.0.1", channel, port);
    FUZZ_CHECK((krt::parseConnectionText(formatted) ==
                krt::ConnectionTarget{"127.0.0.1", std::string(channel), port}));
}

void checkAddressText(std::string_view text) {
    const std::array<std::string, krt::kOctetFields> fields = krt::splitIPAddressText(text);
    for (const std::string& field : fields) {
        FUZZ_CHECK(field.empty() || isOctetText(field));
    }
    // The remembered text of the fields splits back into the same fields.
    FUZZ_CHECK(krt::splitIPAddressText(krt::joinIPAddressText(fields)) == fields);

    const krt::IPAddressReading reading = krt::readIPAddress(fields);
    FUZZ_CHECK(reading.value.invalidField >= 0 && reading.value.invalidField <= krt::kOctetFields);
    FUZZ_CHECK(reading.message.empty() == (reading.value.invalidField == 0));
    // Every field before the first invalid one is an octet; the octets are reported only
    // when all four are.
    const int valid =
        reading.value.invalidField == 0 ? krt::kOctetFields : reading.value.invalidField - 1;
    for (int i = 0; i < valid; ++i) {
        FUZZ_CHECK(isOctetText(fields[i]) && std::stoi(fields[i]) <= 255);
        FUZZ_CHECK(reading.value.invalidField != 0 ||
                   std::stoi(fields[i]) == reading.value.octets[i]);
    }
    if (valid < krt::kOctetFields) {
        const std::string& bad = fields[valid];
        FUZZ_CHECK(bad.empty() || std::stoi(bad) > 255);
    }
    for (const std::string& field : fields) {
        const krt::OctetFieldState state = krt::checkOctetField(field, krt::AutoCheck::On);
        FUZZ_CHECK((state == krt::OctetFieldState::NotFull) == (field.size() < krt::kOctetDigits));
        FUZZ_CHECK((state == krt::OctetFieldState::OutOfRange) ==
                   (field.size() == krt::kOctetDigits && std::stoi(field) > 255));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkConnectionText(text);
    checkTileText(text);
    checkAddressText(text);
    for (const char c : text.substr(0, 16)) {
        (void)krt::classifyOctetChar(static_cast<unsigned char>(c));
    }
    return 0;
}
