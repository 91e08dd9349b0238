#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace skyframe {

// Calls work(i) for i = 0 ... count - 1 on `threads` threads, the caller's among them, each
// taking the next index in turn. Each thread gets a work function of its own from makeWork(),
// called on that thread, so that it can hold what one thread alone may use (a GDAL handle).
// The first exception thrown stops the handing out of indices and is rethrown once every
// thread has stopped. Nothing is made when count is 0.
template <typename MakeWork> void forEachIndex(std::size_t count, int threads, MakeWork makeWork) {
    if (count == 0) {
        return;
    }
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    auto run = [&] {
        try {
            auto work = makeWork();
            for (std::size_t i = next++; i < count; i = next++) {
                work(i);
            }
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> lock(mutex);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    const std::size_t helpers = std::min<std::size_t>(std::max(threads, 1), count);
    for (std::size_t t = 1; t < helpers; ++t) {
        pool.emplace_back(run);
    }
    run();
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace skyframe
