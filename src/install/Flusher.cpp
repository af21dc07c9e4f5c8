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
    if (thread_.joinable()) thread_.join();
}

bool BackgroundFlusher::Add(void* file) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&BackgroundFlusher::Run, this);
        } catch (const std::system_error&) {
            guard.unlock();
            if (!FlushAndClose(file)) failed_ = true;
            return false;
        }
    }
    queue_.push_back(file);
    if (queue_.size() >= kWakeBatch) changed_.notify_all();
    return true;
}

bool BackgroundFlusher::Finish() {
    std::unique_lock<std::mutex> guard(lock_);
    draining_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return queue_.empty() && !busy_; });
    draining_ = false;
    return !failed_;
}

void BackgroundFlusher::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] {
            return stop_ || queue_.size() >= kWakeBatch || (draining_ && !queue_.empty());
        });
        if (queue_.empty()) return;  // stopping
        // Once awake, the thread takes file after file until the queue is empty.
        while (!queue_.empty()) {
            void* file = queue_.front();
            queue_.pop_front();
            busy_ = true;
            guard.unlock();
            const bool ok = FlushAndClose(file);
            guard.lock();
            busy_ = false;
            if (!ok) failed_ = true;
        }
        changed_.notify_all();
    }
}
