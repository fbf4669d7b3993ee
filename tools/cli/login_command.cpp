#include <string>

#include "cli_command.h"

namespace krt::cli {
namespace {

std::string channelLine(int index, const VideoChannel& channel) {
    return std::to_string(index) + "\tid=" + printableText(channel.ChannelID) +
           "\tdescription=" + printableText(channel.ChannelDescription) +
           "\ttype=" + printableText(channel.ChannelType) +
           "\tsize=" + std::to_string(channel.Width) + "x" + std::to_string(channel.Height) +
           "\trecorded=" + std::to_string(channel.RecWidth) + "x" +
           std::to_string(channel.RecHeight) +
           "\tdetails=" + (channel.DetailsLoaded ? "yes" : "no") +
           "\tptz=" + (channel.PTZEnabled ? "yes" : "no");
}

nlohmann::ordered_json channelJson(int index, const VideoChannel& channel) {
    return {{"index", index},
            {"id", channel.ChannelID},
            {"description", channel.ChannelDescription},
            {"type", channel.ChannelType},
            {"width", channel.Width},
            {"height", channel.Height},
            {"recWidth", channel.RecWidth},
            {"recHeight", channel.RecHeight},
            {"detailsLoaded", channel.DetailsLoaded},
            {"ptz", channel.PTZEnabled}};
}

int runLogin(CliSession& session) {
    const std::optional<AppState> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    if (session.json()) {
        nlohmann::ordered_json channels = nlohmann::ordered_json::array();
        for (int index = 0; index < app->channelCount(); ++index) {
            channels.push_back(channelJson(index, app->m_channels[index]));
        }
        session.printJson({{"result", "ok"}, {"channels", std::move(channels)}});
        return kExitOk;
    }
    std::lock_guard lock(session.outputMutex());
    for (int index = 0; index < app->channelCount(); ++index) {
        session.out() << channelLine(index, app->m_channels[index]) << '\n';
    }
    session.out() << std::flush;
    return kExitOk;
}

}  // namespace

void registerLoginCommand(CommandRegistry& registry) {
    registry.add("login",
                 "Log in as the client does and print the channel table, one line per channel: "
                 "index, ID, description, type, size, recorded size, details loaded, PTZ",
                 runLogin);
}

}  // namespace krt::cli
