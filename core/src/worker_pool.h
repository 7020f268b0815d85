// The process-wide pool on which the panels of a frame are computed: created
// by the first frame, never stopped, rebuilt in a forked child.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>

#include <sys/types.h>

namespace ovra {

class WorkerPool {
public:
    // The pool of this process. The first call creates it; in a child forked
    // after that, the parent's pool (whose threads did not survive the fork)
    // is abandoned and a fresh one made.
    static WorkerPool& instance();

    // Threads that compute at the same time for one caller: the caller
    // itself plus size() - 1 workers.
    std::size_t size() const noexcept { return size_; }

    // Whether a task offered now would be taken at once by another thread:
    // an idle worker, one yet to be started, or a caller waiting in join.
    // Only a hint (the thread may be gone by the time the task is offered),
    // for work that is cheaper undivided when it must run on one thread.
    bool has_idle_thread();

    // Runs a on the calling thread and offers b to the workers; returns when
    // both are done. While b is running elsewhere the caller works on other
    // queued tasks. An exception of either (a's first) is rethrown here, so a
    // std::bad_alloc in a worker reaches the waiting thread.
    template <class A, class B>
    void join(A&& a, B&& b);

    // While one lives on a thread, that thread works for a lock holder, and
    // so do the tasks handed out there and whatever runs on a thread while
    // it works on one of them: under_lock() tells. A holder waits for such
    // work, so a lock taken there must only be tried, never waited for.
    class UnderLock {
    public:
        UnderLock() noexcept;
        ~UnderLock();
        UnderLock(const UnderLock&) = delete;
        UnderLock& operator=(const UnderLock&) = delete;
    };
    static bool under_lock() noexcept;

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

private:
    struct Task {
        void (*run)(void*);
        void* context;
        enum class State { Queued, Running, Done } state = State::Queued;  // guarded by mutex_
        std::exception_ptr error;
        bool under_lock = false;  // handed out under a lock: runs as under an UnderLock
    };

    WorkerPool(pid_t owner, std::size_t size) noexcept : owner_(owner), size_(size) {}
    ~WorkerPool() = default;  // never run: the pool lives as long as the process

    void offer(Task& task);
    void finish(Task& task, bool drop_if_queued);
    static void execute(Task& task) noexcept;
    void worker_loop();
    bool start_worker() noexcept;
    static void* worker_main(void* pool) noexcept;

    const pid_t owner_;
    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable task_done_;
    std::deque<Task*> queue_;
    std::size_t workers_ = 0;
    std::size_t idle_ = 0;
    std::size_t waiting_ = 0;  // callers in finish() waiting for a task run elsewhere
};

// The pool size: RAYON_NUM_THREADS when it holds a positive integer
// (digits with an optional "+", nothing else), else the available CPUs.
std::size_t pool_size_from(std::optional<std::string_view> env_value, std::size_t cpus) noexcept;

template <class A, class B>
void WorkerPool::join(A&& a, B&& b) {
    Task task{[](void* f) { (*static_cast<std::remove_reference_t<B>*>(f))(); }, std::addressof(b),
              Task::State::Queued, nullptr, under_lock()};
    offer(task);
    std::exception_ptr first;
    try {
        a();
    } catch (...) {
        first = std::current_exception();
    }
    // b refers to this frame: it must be over before we leave. After a
    // failure of a, a b that nobody has started is dropped.
    finish(task, first != nullptr);
    if (first) std::rethrow_exception(first);
    if (task.error) std::rethrow_exception(task.error);
}

}  // namespace ovra
