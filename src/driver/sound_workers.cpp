#include "driver/sound_workers.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

WorkerPool::WorkerPool(int workers, std::function<void(int worker)> done) : done_(std::move(done)) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this, i] { work(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> held(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::submit(std::function<void(int worker)> task) {
    {
        std::lock_guard<std::mutex> held(lock_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::work(int worker) {
    for (;;) {
        std::function<void(int)> task;
        {
            std::unique_lock<std::mutex> held(lock_);
            wake_.wait(held, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) break;  // stopping, and nothing left
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task(worker);
    }
    if (done_) done_(worker);
}

void InOrder::ready(std::function<void()> emit) {
    std::lock_guard<std::mutex> held(lock_);
    steps_.push_back({true, std::move(emit)});
}

std::uint64_t InOrder::pending() {
    std::lock_guard<std::mutex> held(lock_);
    steps_.push_back({false, {}});
    return first_ + steps_.size() - 1;
}

void InOrder::finish(std::uint64_t ticket, std::function<void()> emit) {
    {
        std::lock_guard<std::mutex> held(lock_);
        Step& step = steps_[static_cast<std::size_t>(ticket - first_)];
        step.emit = std::move(emit);
        step.ready = true;
    }
    finished_.notify_all();
}

void InOrder::emit(bool all) {
    std::unique_lock<std::mutex> held(lock_);
    for (;;) {
        while (!steps_.empty() && steps_.front().ready) {
            std::function<void()> emit = std::move(steps_.front().emit);
            steps_.pop_front();
            ++first_;
            held.unlock();
            if (emit) emit();
            held.lock();
        }
        if (all ? steps_.empty() : steps_.size() < window_) return;
        finished_.wait(held);
    }
}

int usable_processors() {
#if defined(_WIN32)
    const DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return n > 0 ? static_cast<int>(n) : 1;
#else
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
#endif
}
