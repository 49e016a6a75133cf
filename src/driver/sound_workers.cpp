#include "driver/sound_workers.h"

#include <new>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

WorkerPool::WorkerPool(int workers, std::function<void(int worker)> done) : done_(std::move(done)) {
    threads_.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i) {
        // A system short of threads or memory (ulimit -u, -v) starts fewer.
        try {
            threads_.emplace_back([this, i] { work(i); });
        } catch (const std::system_error& e) {
            failure_ = e.code().message();
            break;
        } catch (const std::bad_alloc&) {
            failure_ = "not enough memory";
            break;
        }
    }
    // The threads that did start may have taken what the system had left
    // (their stacks fill an address space limit): half of them go again, so
    // that the others have room to work.
    if (!failure_.empty() && threads_.size() > 1) keep(threads_.size() - threads_.size() / 2);
}

void WorkerPool::keep(std::size_t workers) {
    {
        std::lock_guard<std::mutex> held(lock_);
        limit_ = workers;
    }
    wake_.notify_all();
    while (threads_.size() > workers) {
        threads_.back().join();
        threads_.pop_back();
    }
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
            const auto unwanted = [this, worker] { return static_cast<std::size_t>(worker) >= limit_; };
            wake_.wait(held, [&] { return stopping_ || unwanted() || !tasks_.empty(); });
            if (unwanted()) return;   // never started work: nothing to be done on it
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
    steps_.push_back({true, std::move(emit), {}});
}

std::uint64_t InOrder::pending(std::function<void()> if_lost) {
    std::lock_guard<std::mutex> held(lock_);
    steps_.push_back({false, {}, std::move(if_lost)});
    return first_ + steps_.size() - 1;
}

void InOrder::lose(std::uint64_t ticket) {
    {
        std::lock_guard<std::mutex> held(lock_);
        Step& step = steps_[static_cast<std::size_t>(ticket - first_)];
        step.emit = std::move(step.if_lost);
        step.ready = true;
    }
    finished_.notify_all();
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
    emit_until([this, all] { return all ? steps_.empty() : steps_.size() < window_; });
}

void InOrder::emit_until(const std::function<bool()>& until) {
    std::unique_lock<std::mutex> held(lock_);
    for (;;) {
        while (!steps_.empty() && steps_.front().ready) {
            std::function<void()> emit = std::move(steps_.front().emit);
            steps_.pop_front();
            ++first_;
            held.unlock();
            if (emit) emit();
            // Let go of what it holds (a bank's last reference, whose
            // release pokes) before the lock is taken again.
            emit = nullptr;
            held.lock();
        }
        // Asked under the lock, so that a poke() after it is not missed.
        if (until()) return;
        finished_.wait(held);
    }
}

void InOrder::poke() {
    { std::lock_guard<std::mutex> held(lock_); }
    finished_.notify_all();
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
