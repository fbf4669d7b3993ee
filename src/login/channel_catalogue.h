#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "protocol/socket_client.h"

namespace krt {

// The catalogue of cameras the logged-in user may see: 1 + 2n exchanges with the server at
// app.m_serverAddress:app.m_serverPort, each on a connection of its own.

// At most this many IDs of the list are loaded; the rest are ignored (one log entry).
inline constexpr std::size_t kMaxCatalogueChannels = 10'000;
// Channel details are fetched over at most this many connections at once.
inline constexpr int kCatalogueConnections = 8;

// Replaces app.m_channels with the catalogue of app.m_userName. The new table is built in full
// first, so that a failure or a cancellation leaves the old table as it was. One record per
// "ChannelID" of the list, in list order; a repeated or empty ID is not fetched again and
// leaves an all-zero record at the end. The details and PTZ status of the channels are fetched
// over several connections at once; the table is what fetching them one after another gives.
// True when the table was replaced (the login goes on either way). `ignoredIds`, when given,
// receives the number of IDs beyond kMaxCatalogueChannels.
[[nodiscard]] bool getListOfVideos(AppState& app, const ExchangeLimits& limits = {},
                                   std::size_t* ignoredIds = nullptr);

// Fills `record` from the "getVideoChannelDetails" reply; leaves it untouched when the request
// fails.
void getVideoChannelDetails(const AppState& app, std::string_view channelId, VideoChannel& record,
                            const ExchangeLimits& limits = {});

// True exactly when the "getCameraPTZStatus" reply's kmDescription reads as the integer 1.
bool getCameraPTZStatus(const AppState& app, std::string_view channelId,
                        const ExchangeLimits& limits = {});

// The readers of the three replies, as the requests above apply them.

// The IDs of the channel list reply in list order, each kept to the field size; nothing
// without VideoChannels.
std::optional<std::vector<std::string>> readChannelList(std::string_view replyText);
// Fills `record` from each VideoChannel of the details reply in turn (the last one wins).
void readChannelDetails(std::string_view replyText, VideoChannel& record);
bool readPtzStatus(std::string_view replyText);

}  // namespace krt
