// krt-sim's JSON configuration: anything that is not a valid configuration is refused with
// ConfigError (which the program reports and exits 1 on); any other exception escapes and is
// a finding. What is accepted is written back and reads back the same.
#include <cstdint>
#include <string>
#include <string_view>

#include "frame_renderer.h"
#include "fuzz_check.h"
#include "protocol/packet_framing.h"
#include "sim_config.h"
#include "sim_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    krt::sim::SimConfig config;
    try {
        config = krt::sim::parseConfig(text);
    } catch (const krt::sim::ConfigError&) {
        return 0;
    }
    FUZZ_CHECK(config.jpegQuality >= 1 && config.jpegQuality <= 100);
    FUZZ_CHECK(config.lowResolutionDivisor > 0 && config.mediumResolutionDivisor > 0);
    // Whatever the configuration sizes fits in the frame that carries it.
    FUZZ_CHECK(config.alarmImageMinBytes + krt::sim::kPaddingOvershootBytes <=
               krt::kMaxPayloadLength);
    for (const krt::sim::FaultMode& fault : config.faults) {
        FUZZ_CHECK(fault.text.size() <= krt::kMaxPayloadLength);
        FUZZ_CHECK(fault.pieceBytes >= 1 &&
                   fault.pieceBytes <= krt::kPktHeaderSize + krt::kMaxPayloadLength);
    }
    FUZZ_CHECK(!krt::sim::oversizedReply(config));
    for (const krt::sim::SimChannel& channel : config.channels) {
        FUZZ_CHECK(!channel.id.empty() && channel.width > 0 && channel.height > 0);
        FUZZ_CHECK(config.findChannel(channel.id) != nullptr);
    }
    // An accepted configuration, written back, is accepted again (a refusal escapes here).
    const std::string written = krt::sim::configToJson(config);
    FUZZ_CHECK(krt::sim::configToJson(krt::sim::parseConfig(written)) == written);
    return 0;
}
