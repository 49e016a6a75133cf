// Sounds written on several threads, their results taken in order: the
// options form's -j.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Worker threads that run tasks in the order they come.
class WorkerPool {
public:
    // Up to `workers` threads: as many as the system lets start (started()
    // tells, and failure() why the others did not). Each task is told which
    // one runs it (0 to started() - 1), for state of its own. `done`, when
    // set, runs on each worker as it stops.
    explicit WorkerPool(int workers, std::function<void(int worker)> done = {});
    ~WorkerPool();  // runs what was submitted, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int started() const { return static_cast<int>(threads_.size()); }
    const std::string& failure() const { return failure_; }

    // Only with a worker started.
    void submit(std::function<void(int worker)> task);

private:
    void work(int worker);
    void keep(std::size_t workers);  // the first `workers` go on; the others end

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void(int)>> tasks_;
    bool stopping_ = false;
    std::size_t limit_ = SIZE_MAX;  // workers from this number on end
    std::function<void(int)> done_;
    std::vector<std::thread> threads_;
    std::string failure_;
};

// The run's output as a sequence of steps, each emitted on the caller's
// thread once every step before it has been: a step is ready when added, or
// finished later by a worker. At most `window` steps wait at a time, which
// bounds the memory of results not yet emitted.
class InOrder {
public:
    explicit InOrder(std::size_t window) : window_(window) {}

    void ready(std::function<void()> emit);
    // A step a worker will finish with finish(ticket, ...), or, when it
    // cannot (no memory left to say what it did), with lose(ticket), which
    // emits `if_lost` (made here, beforehand, so losing costs nothing).
    std::uint64_t pending(std::function<void()> if_lost = {});
    // From any thread.
    void finish(std::uint64_t ticket, std::function<void()> emit);
    void lose(std::uint64_t ticket);
    // Emits the steps that are ready, in order, and waits until fewer than
    // the window are left (with `all`: until none is).
    void emit(bool all);
    // Emits the steps that are ready, in order, until `until` holds; it is
    // asked again whenever a step finishes or poke() is called.
    void emit_until(const std::function<bool()>& until);
    // From any thread: something emit_until waits for may have changed.
    void poke();

private:
    struct Step {
        bool ready = false;
        std::function<void()> emit;
        std::function<void()> if_lost;
    };
    std::mutex lock_;
    std::condition_variable finished_;
    std::deque<Step> steps_;
    std::uint64_t first_ = 0;  // the ticket of steps_.front()
    std::size_t window_;
};

// How many processors this process may run on.
int usable_processors();
