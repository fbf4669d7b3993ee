#include <array>
#include <chrono>
#include <string>
#include <utility>

#include "cli_command.h"
#include "control/ptz_sender.h"

namespace krt::cli {
namespace {

// The command line's names of the six buttons.
constexpr std::array<std::pair<std::string_view, PtzButton>, 6> kDirections{{
    {"left", PtzButton::Left},
    {"right", PtzButton::Right},
    {"up", PtzButton::Up},
    {"down", PtzButton::Down},
    {"zoom-in", PtzButton::ZoomIn},
    {"zoom-out", PtzButton::ZoomOut},
}};

struct PtzOptions {
    std::string channelId;
    std::string direction;
    int holdMs = 500;
};

std::optional<PtzButton> buttonNamed(std::string_view direction) {
    for (const auto& [name, button] : kDirections) {
        if (name == direction) {
            return button;
        }
    }
    return std::nullopt;
}

int sendFailed(CliSession& session, std::string_view what) {
    std::lock_guard lock(session.outputMutex());
    session.err() << "The PTZ " << what << " could not be sent.\n";
    return kExitIncomplete;
}

int runPtz(CliSession& session, const PtzOptions& options) {
    const std::optional<PtzButton> button = buttonNamed(options.direction);
    if (!button) {
        return session.usageError("unknown PTZ direction " + options.direction);
    }
    const std::optional<AppState> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    const int index = findChannelIndex(app->m_channels, options.channelId);
    const std::string shownId = printableText(options.channelId);
    if (index < 0) {
        return session.refuse("Channel " + shownId + " is not in the catalogue.",
                              "unknown-channel");
    }
    if (!app->m_channels[static_cast<std::size_t>(index)].PTZEnabled) {
        return session.refuse("Channel " + shownId + " has no PTZ.", "no-ptz");
    }

    // As the Videos page does: its own connection to the login port.
    PtzSender sender(app->m_serverAddress, app->m_loginPort, app->m_userName);
    if (!sender.connectPtz()) {
        std::lock_guard lock(session.outputMutex());
        session.err() << "The PTZ connection to " << app->m_serverAddress << ":" << app->m_loginPort
                      << " could not be made.\n";
        return kExitIncomplete;
    }
    const int pressCode = ptzButtonSpec(*button).pressCode;
    if (sender.sendPtzCommand(app->m_channels, index, pressCode) != PtzSender::SendResult::Sent) {
        return sendFailed(session, "press");
    }
    // The button is held down for this long, or until an interruption: the camera moves until
    // the release, which is sent either way.
    const auto releaseAt =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.holdMs);
    const WakePipe hold;
    while (!session.interruption().cancelled() && std::chrono::steady_clock::now() < releaseAt) {
        hold.waitUntil(releaseAt, session.interruption());
    }
    if (sender.sendPtzCommand(app->m_channels, index, kPtzReleaseCode) !=
        PtzSender::SendResult::Sent) {
        return sendFailed(session, "release");
    }

    const std::string& channelId = app->m_channels[static_cast<std::size_t>(index)].ChannelID;
    if (session.json()) {
        session.printJson({{"result", "ok"},
                           {"channel", channelId},
                           {"command", options.direction},
                           {"press", pressCode},
                           {"release", kPtzReleaseCode},
                           {"holdMs", options.holdMs}});
        return kExitOk;
    }
    std::lock_guard lock(session.outputMutex());
    session.out() << "channel " << printableText(channelId) << ": " << options.direction
                  << " pressed (" << pressCode << "), held " << options.holdMs << " ms, released ("
                  << kPtzReleaseCode << ")\n"
                  << std::flush;
    return kExitOk;
}

}  // namespace

void registerPtzCommand(CommandRegistry& registry) {
    auto options = std::make_shared<PtzOptions>();
    CLI::App& command = registry.add(
        "ptz",
        "Press a PTZ button of a channel, hold it, release it, as the Videos page's buttons "
        "do. A channel that is not in the catalogue or has no PTZ is refused (exit status 2)",
        [options](CliSession& session) { return runPtz(session, *options); });
    command.add_option("CHANNEL_ID", options->channelId, "ChannelID of the camera")->required();
    std::vector<std::string> names;
    for (const auto& direction : kDirections) {
        names.emplace_back(direction.first);
    }
    command.add_option("DIRECTION", options->direction, "left, right, up, down, zoom-in, zoom-out")
        ->required()
        ->check(CLI::IsMember(names));
    command.add_option("--hold-ms", options->holdMs, "How long the button is held")
        ->check(CLI::Range(0, 60'000))
        ->capture_default_str();
}

}  // namespace krt::cli
