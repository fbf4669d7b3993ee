#include "protocol/message_sink.h"

#include <iostream>
#include <mutex>

namespace krt {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

MessageSink& currentSink() {
    static MessageSink sink;
    return sink;
}

}  // namespace

void setMessageSink(MessageSink sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

void showMessage(std::string_view text) {
    MessageSink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(text);
    } else {
        std::cerr << text << '\n';
    }
}

}  // namespace krt
