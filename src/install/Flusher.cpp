#include "install/Flusher.h"

#include <windows.h>

#include <system_error>

namespace {

bool FlushAndClose(void* file) {
    const bool flushed = FlushFileBuffers(static_cast<HANDLE>(file)) != 0;
    return CloseHandle(static_cast<HANDLE>(file)) != 0 && flushed;
}

}  // namespace

BackgroundFlusher::~BackgroundFlusher() {
    Finish();
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

bool BackgroundFlusher::Add(void* file) {
    std::unique_lock<std::mutex> guard(lock_);
    if (threads_.empty()) {
        // As many threads as can be had, up to kThreads; none at all means flushing here.
        try {
            threads_.reserve(kThreads);
            while (threads_.size() < kThreads) threads_.emplace_back(&BackgroundFlusher::Run, this);
        } catch (const std::exception&) {
        }
        if (threads_.empty()) {
            guard.unlock();
            if (!FlushAndClose(file)) failed_ = true;
            return false;
        }
    }
    queue_.push_back(file);
    if (queue_.size() >= kWakeBatch && !awake_) {
        awake_ = true;
        changed_.notify_all();
    }
    return true;
}

bool BackgroundFlusher::Finish() {
    std::unique_lock<std::mutex> guard(lock_);
    draining_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return queue_.empty() && active_ == 0; });
    draining_ = false;
    return !failed_;
}

void BackgroundFlusher::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stop_ || (!queue_.empty() && (awake_ || draining_)); });
        if (queue_.empty()) return;  // stopping
        // Once woken, the threads take file after file until the queue is empty.
        while (!queue_.empty()) {
            void* file = queue_.front();
            queue_.pop_front();
            ++active_;
            guard.unlock();
            const bool ok = FlushAndClose(file);
            guard.lock();
            --active_;
            if (!ok) failed_ = true;
        }
        awake_ = false;
        changed_.notify_all();
    }
}
