// Sounds written on several threads, their results taken in order: the
// options form's -j.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Worker threads that run tasks in the order they come.
class WorkerPool {
public:
    // `workers` threads; each task is told which one runs it (0 to
    // workers - 1), for state of its own. `done`, when set, runs on each
    // worker as it stops.
    explicit WorkerPool(int workers, std::function<void(int worker)> done = {});
    ~WorkerPool();  // runs what was submitted, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void(int worker)> task);

private:
    void work(int worker);

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void(int)>> tasks_;
    bool stopping_ = false;
    std::function<void(int)> done_;
    std::vector<std::thread> threads_;
};

// The run's output as a sequence of steps, each emitted on the caller's
// thread once every step before it has been: a step is ready when added, or
// finished later by a worker. At most `window` steps wait at a time, which
// bounds the memory of results not yet emitted.
class InOrder {
public:
    explicit InOrder(std::size_t window) : window_(window) {}

    void ready(std::function<void()> emit);
    // A step a worker will finish with finish(ticket, ...).
    std::uint64_t pending();
    // From any thread.
    void finish(std::uint64_t ticket, std::function<void()> emit);
    // Emits the steps that are ready, in order, and waits until fewer than
    // the window are left (with `all`: until none is).
    void emit(bool all);

private:
    struct Step {
        bool ready = false;
        std::function<void()> emit;
    };
    std::mutex lock_;
    std::condition_variable finished_;
    std::deque<Step> steps_;
    std::uint64_t first_ = 0;  // the ticket of steps_.front()
    std::size_t window_;
};

// How many processors this process may run on.
int usable_processors();
