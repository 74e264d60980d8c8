#include "slave/task_pool.hpp"

#include <algorithm>

#include "slave/thread_priority.hpp"

namespace orvex {

TaskPool::TaskPool(int32_t workers) {
    const int32_t count = std::max<int32_t>(workers, 1);
    workers_.reserve(static_cast<size_t>(count));
    idle_.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>());
    // Threads start only once the slot table is complete, so no worker sees it change.
    try {
        for (auto& worker : workers_) {
            Worker& self = *worker;
            self.thread = std::jthread([this, &self] { WorkerLoop(self); });
        }
    } catch (...) {
        Stop();  // the threads already started would otherwise wait forever
        throw;
    }
}

TaskPool::~TaskPool() {
    Stop();
}

void TaskPool::EnqueueTask(Task task, int32_t kind) {
    Worker* woken = nullptr;
    {
        std::scoped_lock lock(lock_);
        if (stopping_) return;  // `task` is destroyed after the lock is released
        pending_.fetch_add(1);
        if (kind == kTaskUrgent || kind == kTaskUrgentRaised) {
            task.raise = kind == kTaskUrgentRaised;
            queues_[kQueueCount - 1].Prepend(std::move(task));
            InterruptAll();
        } else {
            queues_[std::clamp<int32_t>(kind, 0, kQueueCount - 1)].Append(std::move(task));
        }
        if (!paused_) woken = TakeIdleWorker();
    }
    // Workers live as long as the pool, so the one taken can be notified without the lock.
    if (woken != nullptr) woken->wake.notify_one();
}

TaskPool::Worker* TaskPool::TakeIdleWorker() {
    if (idle_.empty()) return nullptr;
    Worker* worker = idle_.back();
    idle_.pop_back();
    worker->woken = true;
    return worker;
}

std::vector<TaskPool::Worker*> TaskPool::TakeAllIdleWorkers() {
    std::vector<Worker*> all;
    all.swap(idle_);
    for (Worker* worker : all) worker->woken = true;
    idle_.reserve(workers_.size());
    return all;
}

bool TaskPool::Pause() {
    std::scoped_lock lock(lock_);
    if (paused_ || stopping_) return false;
    paused_ = true;
    InterruptAll();
    return true;
}

bool TaskPool::Resume() {
    std::vector<Worker*> woken;
    {
        std::scoped_lock lock(lock_);
        if (!paused_ || stopping_) return false;
        paused_ = false;
        woken = TakeAllIdleWorkers();
    }
    for (Worker* worker : woken) worker->wake.notify_one();
    return true;
}

void TaskPool::Stop() {
    std::scoped_lock stopLock(stopLock_);
    std::vector<Worker*> woken;
    {
        std::scoped_lock lock(lock_);
        if (stopping_) return;
        stopping_ = true;
        paused_ = false;
        InterruptAll();
        woken = TakeAllIdleWorkers();
    }
    for (Worker* worker : woken) worker->wake.notify_one();
    for (auto& worker : workers_) {
        if (worker->thread.joinable()) worker->thread.join();
    }
    // No worker is left, and enqueues are refused now, so the queues are ours alone. The
    // tasks are destroyed outside the pool lock: releasing their arguments may call anything.
    std::vector<Task> discarded;
    {
        std::scoped_lock lock(lock_);
        for (int q = kQueueCount - 1; q >= 0; --q) {
            while (!queues_[q].IsEmpty()) discarded.push_back(queues_[q].Take());
        }
        pending_.fetch_sub(static_cast<int32_t>(discarded.size()));
    }
}

void TaskPool::WorkerLoop(Worker& self) {
    std::unique_lock lock(lock_);
    for (;;) {
        while (!HasWork()) {
            self.woken = false;
            idle_.push_back(&self);
            self.wake.wait(lock, [&self] { return self.woken; });
        }
        if (stopping_) return;
        ServeQueues(self, lock);
    }
}

// Called with the pool lock held.
bool TaskPool::HasWork() const {
    return stopping_ || (!paused_ && HasQueuedTasks());
}

// Serves queue 2, then 1, then 0, draining each before the next, until the queues are empty
// or the worker is interrupted, paused or stopped. Called and returns with `lock` held.
void TaskPool::ServeQueues(Worker& self, std::unique_lock<std::mutex>& lock) {
    for (int q = kQueueCount - 1; q >= 0; --q) {
        while (!queues_[q].IsEmpty()) {
            if (TakeInterrupt(self) || paused_ || stopping_) return;
            Task task = queues_[q].Take();
            running_.fetch_add(1);
            started_.fetch_add(1);
            lock.unlock();
            RunTask(task);
            task = Task();  // release the task's argument without the pool lock
            lock.lock();
            pending_.fetch_sub(1);
            running_.fetch_sub(1);
        }
    }
}

bool TaskPool::HasQueuedTasks() const {
    return std::any_of(std::begin(queues_), std::end(queues_),
                       [](const FifoList<Task>& queue) { return !queue.IsEmpty(); });
}

// Called with the pool lock held.
void TaskPool::InterruptAll() {
    for (auto& worker : workers_) {
        std::scoped_lock lock(worker->mutex);
        worker->interrupt = true;
    }
}

bool TaskPool::TakeInterrupt(Worker& worker) {
    std::scoped_lock lock(worker.mutex);
    return std::exchange(worker.interrupt, false);
}

void TaskPool::RunTask(Task& task) {
    const int32_t previous = task.raise ? SetThreadPriorityLevel(kThreadPriorityHighest) : 0;
    try {
        task.Run();
    } catch (...) {
        // A task that throws counts as finished; the worker must live on for the others.
    }
    if (task.raise) SetThreadPriorityLevel(previous);
}

}  // namespace orvex
