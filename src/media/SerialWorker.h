#pragma once

// One thread that runs the tasks handed to it, one at a time, in the order given, so that
// slow work (encoding, muxing) overlaps with the caller's own.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace skyframe {

class SerialWorker {
public:
    // At most `maxWaiting` tasks wait to run; post() blocks beyond that, which bounds the
    // memory the waiting tasks hold.
    explicit SerialWorker(std::size_t maxWaiting);
    // Tasks that have not started are dropped; the one running is waited for.
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // Queues a task. Once a task has thrown, no further task runs, and this and every
    // later call rethrow that first exception.
    void post(std::function<void()> task);

    // Returns when every task posted so far has run; rethrows the first failure.
    void wait();

private:
    void run();
    void rethrowFailure(); // with mutex_ held

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> waiting_;
    std::size_t maxWaiting_;
    bool busy_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // last: starts once everything above exists
};

} // namespace skyframe
