#include "media/SerialWorker.h"

#include <algorithm>

namespace skyframe {

SerialWorker::SerialWorker(std::size_t maxWaiting)
    : maxWaiting_(std::max<std::size_t>(1, maxWaiting)), thread_([this] { run(); }) {}

SerialWorker::~SerialWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void SerialWorker::rethrowFailure() {
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

void SerialWorker::post(std::function<void()> task) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return failure_ || waiting_.size() < maxWaiting_; });
    rethrowFailure();
    waiting_.push_back(std::move(task));
    lock.unlock();
    changed_.notify_all();
}

void SerialWorker::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return failure_ || (waiting_.empty() && !busy_); });
    rethrowFailure();
}

void SerialWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        std::function<void()> task = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        lock.unlock();
        changed_.notify_all(); // a place in the queue is free
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        busy_ = false;
        if (failure) {
            failure_ = failure;
            waiting_.clear();
        }
        changed_.notify_all();
    }
}

} // namespace skyframe
