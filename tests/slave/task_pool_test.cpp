#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "slave/task_pool.hpp"
#include "slave/thread_priority.hpp"

namespace orvex {
namespace {

using Order = std::vector<std::string>;

// A single-worker pool whose first task (the blocker) holds the worker until Finish, so the
// test can fill the queues while the worker is busy and then watch the order of service.
class OneWorker : public ::testing::Test {
protected:
    void Record(const std::string& name) {
        std::scoped_lock lock(mutex_);
        order_.push_back(name);
    }

    // Enqueues the blocker and returns once the worker has taken it.
    void Block(const std::string& name, int32_t kind) {
        pool_.Enqueue(
            [this, name] {
                Record(name);
                started_.release();
                gate_.acquire();
            },
            kind);
        started_.acquire();
    }

    void Add(const std::string& name, int32_t kind) {
        pool_.Enqueue(
            [this, name] {
                Record(name);
                done_.release();
            },
            kind);
    }

    // Opens the gate, waits for the `added` tasks and returns the order in which all ran.
    Order Finish(int added) {
        gate_.release();
        for (int i = 0; i < added; ++i) done_.acquire();
        std::scoped_lock lock(mutex_);
        return order_;
    }

    TaskPool pool_{1};
    std::binary_semaphore started_{0};
    std::binary_semaphore gate_{0};
    std::counting_semaphore<> done_{0};
    std::mutex mutex_;  // guards order_
    Order order_;
};

TEST_F(OneWorker, ServiceOrderAcrossQueuesAndUrgentEntries) {
    struct Case {
        const char* what;
        int32_t blockerKind;
        std::vector<std::pair<std::string, int32_t>> added;
        Order expected;
    };
    const Case cases[] = {
        {"higher queues first", 2, {{"A", 0}, {"B", 2}, {"C", 1}}, {"blocker", "B", "C", "A"}},
        {"urgent entries go to the head, newest first",
         2,
         {{"X", 2}, {"Y", 2}, {"U1", 3}, {"U2", 3}},
         {"blocker", "U2", "U1", "X", "Y"}},
        {"a worker drains the queue it started on",
         0,
         {{"P2", 0}, {"H", 2}},
         {"blocker", "P2", "H"}},
        {"only an urgent entry interrupts the drain",
         0,
         {{"P2", 0}, {"H", 3}},
         {"blocker", "H", "P2"}},
        {"kind 4 is urgent too", 0, {{"P2", 0}, {"R", 4}}, {"blocker", "R", "P2"}},
        {"kinds out of range are clamped, never urgent",
         2,
         {{"L", -5}, {"Z", 99}, {"M", 1}},
         {"blocker", "Z", "M", "L"}},
        {"a clamped high kind does not interrupt",
         0,
         {{"P2", 0}, {"Z", 99}},
         {"blocker", "P2", "Z"}},
    };
    for (const Case& c : cases) {
        order_.clear();
        Block("blocker", c.blockerKind);
        for (const auto& [name, kind] : c.added) Add(name, kind);
        EXPECT_EQ(Finish(static_cast<int>(c.added.size())), c.expected) << c.what;
    }
}

TEST_F(OneWorker, RaisedTaskRunsAtHighestLevelAndRestoresTheWorker) {
    std::atomic<int32_t> raised{-1}, urgent{-1}, after{-1};
    Block("blocker", 0);
    pool_.Enqueue([&] { after = ThreadPriorityLevel(); }, 0);
    pool_.Enqueue([&] { urgent = ThreadPriorityLevel(); }, kTaskUrgent);
    pool_.Enqueue([&] { raised = ThreadPriorityLevel(); }, kTaskUrgentRaised);
    Add("last", 0);
    Finish(1);
    EXPECT_EQ(raised, kThreadPriorityHighest);
    EXPECT_EQ(urgent, kThreadPriorityNormal);
    EXPECT_EQ(after, kThreadPriorityNormal);
}

TEST_F(OneWorker, CountersFollowQueuedRunningAndStartedTasks) {
    Block("blocker", 0);
    Add("A", 1);
    Add("B", 3);
    EXPECT_EQ(pool_.Pending(), 3);
    EXPECT_EQ(pool_.Running(), 1);
    EXPECT_EQ(pool_.Started(), 1);
    Finish(2);
    pool_.Stop();  // every task has started, so stop waits for all of them and drops none
    EXPECT_EQ(pool_.Pending(), 0);
    EXPECT_EQ(pool_.Running(), 0);
    EXPECT_EQ(pool_.Started(), 3);
}

TEST_F(OneWorker, ThrowingTaskDoesNotEndTheWorker) {
    pool_.Enqueue([] { throw std::runtime_error("job failed"); });
    Add("after", 0);
    Finish(1);
    EXPECT_EQ(order_, Order{"after"});
    EXPECT_EQ(pool_.Started(), 2);
}

TEST(TaskPool, PauseKeepsTasksQueuedUntilResume) {
    TaskPool pool(3);
    EXPECT_TRUE(pool.Pause());
    EXPECT_FALSE(pool.Pause());
    std::latch done(5);
    for (int i = 0; i < 5; ++i) pool.Enqueue([&] { done.count_down(); }, i % 5);
    EXPECT_EQ(pool.Pending(), 5);
    EXPECT_EQ(pool.Started(), 0);
    EXPECT_TRUE(pool.Resume());
    EXPECT_FALSE(pool.Resume());
    done.wait();
    EXPECT_EQ(pool.Started(), 5);
}

// Counts how often its owner task's argument is released.
struct Argument {
    explicit Argument(std::atomic<int>* released) : released(released) {}
    ~Argument() { ++*released; }
    std::atomic<int>* released;
};

TEST(TaskPool, StopOnPausedPoolDiscardsQueuedTasksAndReleasesTheirArguments) {
    std::atomic<int> ran{0}, released{0};
    std::binary_semaphore started{0}, gate{0};
    TaskPool pool(2);
    pool.Enqueue([&] {
        started.release();
        gate.acquire();
    });
    started.acquire();
    EXPECT_TRUE(pool.Pause());  // the running task finishes, nothing else starts
    for (int i = 0; i < 10; ++i) {
        pool.Enqueue([arg = std::make_unique<Argument>(&released), &ran] { ++ran; }, i % 5);
    }
    EXPECT_EQ(pool.Pending(), 11);
    gate.release();
    pool.Stop();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(released, 10);
    EXPECT_EQ(pool.Pending(), 0);
    EXPECT_EQ(pool.Started(), 1);

    // A stopped pool refuses work but still releases what the task owned.
    pool.Enqueue([arg = std::make_unique<Argument>(&released), &ran] { ++ran; });
    EXPECT_EQ(released, 11);
    EXPECT_EQ(pool.Pending(), 0);
    EXPECT_FALSE(pool.Pause());
    pool.Stop();  // a second stop returns at once
}

TEST(TaskPool, StopWithQueuedTasksWaitsForTheRunningOneAndLosesNothing) {
    constexpr int kQueued = 100;
    std::atomic<int> ran{0}, released{0};
    std::binary_semaphore started{0}, gate{0};
    {
        TaskPool pool(1);
        pool.Enqueue([&] {
            started.release();
            gate.acquire();
        });
        started.acquire();
        for (int i = 0; i < kQueued; ++i) {
            pool.Enqueue([arg = std::make_unique<Argument>(&released), &ran] { ++ran; }, i % 3);
        }
        std::thread stopper([&] { pool.Stop(); });
        gate.release();
        stopper.join();
        EXPECT_EQ(pool.Pending(), 0);
        EXPECT_EQ(pool.Running(), 0);
        EXPECT_EQ(pool.Started(), 1 + ran);
    }
    // Each task either ran or was discarded, and every argument was released exactly once.
    EXPECT_LE(ran, kQueued);
    EXPECT_EQ(released, kQueued);
}

TEST(TaskPool, ManyProducersAndWorkersRunEveryTaskExactlyOnce) {
    constexpr int kTasks = 10000;
    constexpr int kFollowUps = kTasks / 10;  // tasks that enqueue into their own pool
    std::vector<std::atomic<int>> runs(kTasks + kFollowUps);
    std::latch done(kTasks + kFollowUps);
    TaskPool pool(4);

    auto produce = [&](int first, int step) {
        for (int i = first; i < kTasks; i += step) {
            pool.Enqueue(
                [&, i] {
                    ++runs[static_cast<size_t>(i)];
                    if (i % 10 == 0) {
                        pool.Enqueue(
                            [&, i] {
                                ++runs[static_cast<size_t>(kTasks + i / 10)];
                                done.count_down();
                            },
                            i % 5);
                    }
                    done.count_down();
                },
                i % 6 - 1);  // every kind from -1 to 4
        }
    };
    std::atomic<bool> producing{true};
    std::thread toggler([&] {
        while (producing) {
            pool.Pause();
            pool.Resume();
        }
    });
    std::thread first(produce, 0, 2);
    std::thread second(produce, 1, 2);
    first.join();
    second.join();
    producing = false;
    toggler.join();  // its last call was Resume
    done.wait();
    pool.Stop();

    for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i], 1) << "task " << i;
    EXPECT_EQ(pool.Started(), kTasks + kFollowUps);
    EXPECT_EQ(pool.Pending(), 0);
}

TEST(TaskPool, IdleWorkersWakeForEveryTask) {
    // One task at a time: a lost wake-up would leave the test waiting forever.
    TaskPool pool(4);
    std::binary_semaphore done{0};
    for (int i = 0; i < 2000; ++i) {
        pool.Enqueue([&] { done.release(); }, i % 5);
        done.acquire();
    }
    EXPECT_EQ(pool.Started(), 2000);
}

TEST(TaskPool, AtLeastOneWorker) {
    TaskPool pool(0);
    EXPECT_EQ(pool.WorkerCount(), 1);
    std::binary_semaphore done{0};
    pool.Enqueue([&] { done.release(); });
    done.acquire();
}

}  // namespace
}  // namespace orvex
