#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace krt {

// A thread whose end can be awaited with a time limit. It is never detached: the owner joins
// it, and the destructor joins it if the owner did not.
class WorkerThread {
  public:
    WorkerThread() = default;
    explicit WorkerThread(std::function<void()> body);
    ~WorkerThread();
    WorkerThread(WorkerThread&&) noexcept = default;
    WorkerThread& operator=(WorkerThread&& other) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool joinable() const { return m_thread.joinable(); }
    bool isCurrentThread() const { return m_thread.get_id() == std::this_thread::get_id(); }
    // True when the body has returned within the time-out.
    bool waitFinished(std::chrono::milliseconds timeout) const;
    void join();

  private:
    struct Completion {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    std::shared_ptr<Completion> m_completion;
    std::thread m_thread;
};

// The bounded stop of every worker: waits up to `grace_ms` for the thread to end; a thread
// still running then is logged as "Thread terminated." under `logModule` and `logMethod`,
// woken with `interrupt` (shut its socket down, signal its wait) and joined. Returns false,
// doing nothing, for a thread that was never started.
bool stopWithin(WorkerThread& thread, int grace_ms, const char* logModule, const char* logMethod,
                const std::function<void()>& interrupt);

// The request client's stop: stopWithin() under the socket classes' module.
void stopThread(const char* label, WorkerThread& thread, int timeout_ms,
                const std::function<void()>& interrupt = {});

}  // namespace krt
