#include "media/SerialWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace skyframe {
namespace {

TEST(SerialWorker, RunsEveryTaskInTheOrderPostedBeforeWaitReturns) {
    std::vector<int> ran; // touched by the worker's thread only, until wait() returns
    SerialWorker worker(3);
    for (int i = 0; i < 500; ++i) {
        worker.post([&ran, i] { ran.push_back(i); });
    }
    worker.wait();
    std::vector<int> expected(500);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
}

TEST(SerialWorker, AFailureStopsTheTasksAfterItAndIsReportedByEveryLaterCall) {
    SerialWorker worker(4);
    bool later = false;
    worker.post([] {});
    worker.post([] { throw std::runtime_error("disk full"); });
    try {
        worker.post([&later] { later = true; });
        worker.wait();
        FAIL() << "the failure was not reported";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_THROW(worker.post([] {}), std::runtime_error);
    EXPECT_THROW(worker.wait(), std::runtime_error);
    EXPECT_FALSE(later);
}

TEST(SerialWorker, PostWaitsWhileTheQueueIsFull) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    SerialWorker worker(2);
    std::promise<void> started;
    worker.post([&started, released] {
        started.set_value();
        released.wait();
    });
    started.get_future().wait(); // the first task runs and holds the thread
    worker.post([] {});
    worker.post([] {}); // two waiting: the queue is full
    auto third = std::async(std::launch::async, [&worker] { worker.post([] {}); });
    EXPECT_EQ(third.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    third.get();
    worker.wait();
}

} // namespace
} // namespace skyframe
