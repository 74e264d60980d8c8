// Task pool: a fixed set of worker threads that run queued tasks in priority order.
//
// The slave runs its jobs on one pool with N workers and gives every master a pool with a
// single worker, whose queue 0 is that master's ordered send queue.
//
// Service order. There are three FIFO queues; queue 2 is served first. Kind 0, 1 or 2
// appends a task to that queue; kind 3 (urgent) puts it at the head of queue 2; kind 4 does
// the same and runs the task with the highest thread priority, restoring the worker's level
// afterwards. A worker serves the highest non-empty queue and keeps draining the queue it
// started on until it is empty; only its interrupt flag, which an urgent enqueue, a pause or
// a stop raises on every worker, makes it look at the higher queues again before it takes
// its next task. So with a worker busy on queue 0 and P2 waiting there, a task of kind 2
// runs after P2, while an urgent one runs before it.
//
// Waiting. An idle worker puts itself on the pool's idle stack and blocks on its own
// condition variable until it is woken by name; the flag it waits for is set under the pool
// lock, so no wake-up can be lost between a worker's check and its wait. Every enqueue wakes
// the worker that went idle last (its thread and its processor are the likeliest to be warm,
// and no other worker is disturbed); resume and stop wake all of them.
//
// Locks. `lock_` is the pool lock; each worker's `mutex` guards only its interrupt flag.
// Lock order: `stopLock_`, then `lock_`, then a worker's mutex; never the reverse. Task
// functions run with no pool lock held, so a task may enqueue into its own pool, pause it or
// resume it; it must not stop or destroy its own pool (that would wait for itself).
//
// Ownership. A task owns its callable and whatever the callable captured. Stop discards the
// tasks still queued without running them; destroying them releases what they captured, so
// a task's argument is freed whether it ran or not.
#pragma once

#include <atomic>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/fifo_list.hpp"

namespace orvex {

// Enqueue kinds. Kinds below 0 are taken as 0, kinds above 4 as 2: a peer's priority word
// reaches the pool unchecked, and an unknown value must neither index past the queues nor
// make a task urgent.
inline constexpr int32_t kTaskLow = 0;
inline constexpr int32_t kTaskNormal = 1;
inline constexpr int32_t kTaskHigh = 2;
inline constexpr int32_t kTaskUrgent = 3;
inline constexpr int32_t kTaskUrgentRaised = 4;

class Task;

// Anything a task can hold: a callable taking no arguments (other than a Task itself).
template <typename F>
concept TaskFunction =
    !std::same_as<std::remove_cvref_t<F>, Task> && std::invocable<std::decay_t<F>&>;

// One queued call: a move-only callable (it may own its argument, e.g. a unique_ptr) and
// whether it runs with raised thread priority.
class Task {
  public:
    Task() = default;

    template <TaskFunction F>
    explicit Task(F&& function)
        : function_(std::make_unique<Callable<std::decay_t<F>>>(std::forward<F>(function))) {}

    Task(Task&&) noexcept = default;
    Task& operator=(Task&&) noexcept = default;

    explicit operator bool() const { return function_ != nullptr; }
    void Run() { function_->Call(); }

    bool raise = false;

  private:
    struct CallableBase {
        virtual ~CallableBase() = default;
        virtual void Call() = 0;
    };
    template <typename F>
    struct Callable final : CallableBase {
        explicit Callable(F&& f) : function(std::move(f)) {}
        explicit Callable(const F& f) : function(f) {}
        void Call() override { function(); }
        F function;
    };

    std::unique_ptr<CallableBase> function_;
};

class TaskPool {
  public:
    // Starts max(workers, 1) worker threads.
    explicit TaskPool(int32_t workers);
    // Stops the pool (see Stop).
    ~TaskPool();

    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Queues `function` (any move-only callable taking no arguments) by `kind`. A paused
    // pool accepts tasks; a stopping or stopped pool destroys the task at once, unrun.
    template <typename F>
    void Enqueue(F&& function, int32_t kind = kTaskLow) {
        EnqueueTask(Task(std::forward<F>(function)), kind);
    }
    void EnqueueTask(Task task, int32_t kind);

    // Tasks queued or running.
    int32_t Pending() const noexcept { return pending_.load(); }
    // Tasks running now.
    int32_t Running() const noexcept { return running_.load(); }
    // Tasks started since creation.
    int32_t Started() const noexcept { return started_.load(); }
    int32_t WorkerCount() const noexcept { return static_cast<int32_t>(workers_.size()); }

    // True if the pool was running and is now paused. Running tasks finish; no worker takes
    // another task until Resume. Queued tasks stay queued and count as pending.
    bool Pause();
    // True if the pool was paused and now runs again.
    bool Resume();

    // Ends every worker: running tasks are waited for, queued tasks are destroyed without
    // being run (queue 2 first), and Pending drops by their number. Returns once every
    // worker has been joined; later calls return at once. Never call it from a task of this
    // pool.
    void Stop();

  private:
    static constexpr int kQueueCount = 3;

    struct Worker {
        std::mutex mutex;  // guards `interrupt`; taken after the pool lock, never before
        bool interrupt = false;
        bool woken = false;            // guarded by the pool lock: taken off the idle stack
        std::condition_variable wake;  // waited on with the pool lock
        std::jthread thread;
    };

    void WorkerLoop(Worker& self);
    bool HasWork() const;
    // Takes the most recently idle worker off the idle stack (pool lock held); null when none.
    Worker* TakeIdleWorker();
    // Takes every idle worker off the idle stack (pool lock held).
    std::vector<Worker*> TakeAllIdleWorkers();
    void ServeQueues(Worker& self, std::unique_lock<std::mutex>& lock);
    bool HasQueuedTasks() const;
    void InterruptAll();
    static bool TakeInterrupt(Worker& worker);
    static void RunTask(Task& task);

    // Serialises Stop, so that two stops never join the same thread.
    std::mutex stopLock_;

    // The pool lock: guards queues_, paused_, stopping_ and every change of the counters.
    mutable std::mutex lock_;
    std::vector<Worker*> idle_;  // idle and paused workers, the one that went idle last on top
    FifoList<Task> queues_[kQueueCount];
    bool paused_ = false;
    bool stopping_ = false;
    // Changed under lock_, read without it (Orvex_Slave_CountJobs, statistics).
    std::atomic<int32_t> pending_{0};
    std::atomic<int32_t> running_{0};
    std::atomic<int32_t> started_{0};

    // Filled by the constructor before any worker can look at it; not resized afterwards.
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace orvex
