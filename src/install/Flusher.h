// Flushing the staged files to the disk on threads of their own, while the run goes on writing
// the next ones. Each flush waits for the disk; several at once let the disk (and a journaling
// file system, which commits them together) do in one go what one after the other costs a wait
// each. The commit begins only once every file is on the disk.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class BackgroundFlusher {
public:
    BackgroundFlusher() = default;
    // Waits for what is queued and closes every handle.
    ~BackgroundFlusher();
    BackgroundFlusher(const BackgroundFlusher&) = delete;
    BackgroundFlusher& operator=(const BackgroundFlusher&) = delete;

    // Takes an open file handle: it is flushed, then closed. False when no thread can be had;
    // the file is then flushed and closed at once.
    bool Add(void* file);
    // Waits until every file added so far is flushed and closed. True when all flushes succeeded.
    bool Finish();

    // Flushes that may wait for the disk at the same time.
    static constexpr size_t kThreads = 4;

private:
    void Run();

    // The threads are woken when this many files wait, or by Finish: a wake-up per file would
    // cost two system calls for each.
    static constexpr size_t kWakeBatch = 8;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<void*> queue_;
    std::vector<std::thread> threads_;
    size_t active_ = 0;      // files being flushed now
    bool awake_ = false;     // a batch woke the threads: they take files until none is left
    bool draining_ = false;  // Finish waits: every file queued is taken at once
    bool stop_ = false;
    bool failed_ = false;
};
