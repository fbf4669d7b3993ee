#pragma once

#include <functional>
#include <string_view>

namespace krt {

// Where the protocol layer's few user-facing messages go: the GUI shows them in a message
// box, the command-line client prints them. Without a sink they go to standard error.
using MessageSink = std::function<void(std::string_view text)>;

void setMessageSink(MessageSink sink);
void showMessage(std::string_view text);

}  // namespace krt
