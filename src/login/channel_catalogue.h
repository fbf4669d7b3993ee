#pragma once

#include <string_view>

#include "common/app_state.h"
#include "common/video_channel.h"
#include "protocol/socket_client.h"

namespace krt {

// The catalogue of cameras the logged-in user may see: 1 + 2n exchanges with the server at
// app.m_serverAddress:app.m_serverPort, each on a connection of its own.

// Replaces app.m_channels with the catalogue of app.m_userName. The new table is built in full
// first, so that a failure leaves the old table as it was. One record per "ChannelID" of the
// list, in list order; a repeated or empty ID is not fetched again and leaves an all-zero
// record at the end. Returns 1 when the table was replaced, otherwise the failure code
// (the login goes on either way).
int getListOfVideos(KRTApp& app, const kmMgrSocketClient::Timeouts& timeouts = {});

// Fills `record` from the "getVideoChannelDetails" reply; leaves it untouched when the request
// fails. Returns the request client's result.
int getVideoChannelDetails(const KRTApp& app, std::string_view channelId, VideoChannel& record,
                           const kmMgrSocketClient::Timeouts& timeouts = {});

// True exactly when the "getCameraPTZStatus" reply's kmDescription reads as the integer 1.
bool getCameraPTZStatus(const KRTApp& app, std::string_view channelId,
                        const kmMgrSocketClient::Timeouts& timeouts = {});

}  // namespace krt
