// The worker pool: one task queue under a mutex, detached workers started on
// demand up to the pool size, and callers that help while they wait.
#include "worker_pool.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "available_cpus.h"

namespace ovra {

namespace {

// A plain pointer: no static destructor may wait for (or free memory used
// by) workers while the process exits.
std::atomic<WorkerPool*> g_pool{nullptr};

// In a forked child the parent's pool is forgotten at once. The pid check in
// instance() covers children made without the libc fork (a raw clone); this
// handler also covers a child whose pid equals that of a long-gone ancestor.
void forget_pool_in_child() noexcept { g_pool.store(nullptr, std::memory_order_relaxed); }

void register_fork_handler() noexcept {
    static std::atomic<bool> registered{false};
    if (!registered.exchange(true)) pthread_atfork(nullptr, nullptr, &forget_pool_in_child);
}

thread_local int t_under_lock = 0;

std::optional<std::string_view> env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

std::size_t pool_size_from(std::optional<std::string_view> env_value, std::size_t cpus) noexcept {
    const std::size_t fallback = std::max<std::size_t>(cpus, 1);
    if (!env_value) return fallback;
    std::string_view text = *env_value;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return fallback;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return fallback;
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return fallback;
        value = value * 10 + digit;
    }
    return value > 0 ? value : fallback;
}

WorkerPool& WorkerPool::instance() {
    const pid_t self = getpid();
    WorkerPool* pool = g_pool.load(std::memory_order_acquire);
    while (pool == nullptr || pool->owner_ != self) {
        register_fork_handler();
        // A pool of another pid was made by the parent of a fork: its threads
        // are gone and its mutex may have been held at the fork. It is left
        // untouched (and unfreed) and replaced.
        auto* fresh = new WorkerPool(self, pool_size_from(env("RAYON_NUM_THREADS"), available_cpus()));
        if (g_pool.compare_exchange_strong(pool, fresh, std::memory_order_acq_rel)) return *fresh;
        delete fresh;  // another thread installed one first; no thread was started for ours
    }
    return *pool;
}

WorkerPool::UnderLock::UnderLock() noexcept { ++t_under_lock; }

WorkerPool::UnderLock::~UnderLock() { --t_under_lock; }

bool WorkerPool::under_lock() noexcept { return t_under_lock > 0; }

void WorkerPool::execute(Task& task) noexcept {
    t_under_lock += task.under_lock;
    try {
        task.run(task.context);
    } catch (...) {
        task.error = std::current_exception();
    }
    t_under_lock -= task.under_lock;
}

void WorkerPool::offer(Task& task) {
    bool spawn = false;
    bool waiting = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&task);
        spawn = queue_.size() > idle_ && workers_ + 1 < size_;
        if (spawn) ++workers_;
        waiting = waiting_ > 0;
    }
    work_ready_.notify_one();
    // A caller waiting for its own task takes this one when no worker does.
    if (waiting) task_done_.notify_all();
    if (spawn && !start_worker()) {
        // Without the thread the task still runs: its caller takes it back.
        std::lock_guard lock(mutex_);
        --workers_;
    }
}

void WorkerPool::finish(Task& task, bool drop_if_queued) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (task.state == Task::State::Done) return;
        if (task.state == Task::State::Queued) {
            // Nobody took it: run it here (or not at all).
            queue_.erase(std::find(queue_.begin(), queue_.end(), &task));
            if (drop_if_queued) {
                task.state = Task::State::Done;
                return;
            }
            task.state = Task::State::Running;
            lock.unlock();
            execute(task);
            return;
        }
        if (!queue_.empty()) {
            // Ours is running elsewhere; work on another queued task meanwhile.
            Task* other = queue_.back();
            queue_.pop_back();
            other->state = Task::State::Running;
            lock.unlock();
            execute(*other);
            lock.lock();
            other->state = Task::State::Done;
            task_done_.notify_all();
            continue;
        }
        ++waiting_;
        task_done_.wait(lock);
        --waiting_;
    }
}

bool WorkerPool::has_idle_thread() {
    std::lock_guard lock(mutex_);
    return idle_ > queue_.size() || waiting_ > queue_.size() || workers_ + 1 < size_;
}

void WorkerPool::worker_loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (queue_.empty()) {
            ++idle_;
            work_ready_.wait(lock);
            --idle_;
        }
        Task* task = queue_.front();
        queue_.pop_front();
        task->state = Task::State::Running;
        lock.unlock();
        execute(*task);
        lock.lock();
        // The owner may release the task as soon as it sees Done: no access after.
        task->state = Task::State::Done;
        task_done_.notify_all();
    }
}

void* WorkerPool::worker_main(void* pool) noexcept {
    // worker_loop allocates nothing and never returns; tasks cannot throw
    // out of execute().
    static_cast<WorkerPool*>(pool)->worker_loop();
    return nullptr;
}

bool WorkerPool::start_worker() noexcept {
    // Workers take no signals: they stay with the threads that expect them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attr;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        started = pthread_create(&thread, &attr, &WorkerPool::worker_main, this) == 0;
        pthread_attr_destroy(&attr);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

}  // namespace ovra
