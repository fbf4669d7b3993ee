#include "protocol/worker_thread.h"

#include "protocol/diag_log.h"

namespace krt {

WorkerThread::WorkerThread(std::function<void()> body)
    : m_completion(std::make_shared<Completion>()) {
    m_thread = std::thread([completion = m_completion, body = std::move(body)] {
        body();
        std::lock_guard lock(completion->mutex);
        completion->done = true;
        completion->finished.notify_all();
    });
}

WorkerThread::~WorkerThread() {
    join();
}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
    if (this != &other) {
        join();
        m_completion = std::move(other.m_completion);
        m_thread = std::move(other.m_thread);
    }
    return *this;
}

bool WorkerThread::waitFinished(std::chrono::milliseconds timeout) const {
    if (!m_completion) {
        return true;
    }
    std::unique_lock lock(m_completion->mutex);
    return m_completion->finished.wait_for(lock, timeout, [this] { return m_completion->done; });
}

void WorkerThread::join() {
    if (m_thread.joinable() && !isCurrentThread()) {
        m_thread.join();
    }
}

bool stopWithin(WorkerThread& thread, int grace_ms, const char* logModule, const char* logMethod,
                const std::function<void()>& interrupt) {
    if (!thread.joinable()) {
        return false;
    }
    if (!thread.waitFinished(std::chrono::milliseconds(grace_ms))) {
        writeLog(logModule, logMethod, "Thread terminated.");
        if (interrupt) {
            interrupt();
        }
    }
    thread.join();
    return true;
}

void stopThread(const char* label, WorkerThread& thread, int timeout_ms,
                const std::function<void()>& interrupt) {
    stopWithin(thread, timeout_ms, "Tessaline.exe", label, interrupt);
}

}  // namespace krt
