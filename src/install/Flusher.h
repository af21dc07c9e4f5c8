// Flushing the staged files to the disk on a thread of its own, while the run goes on writing
// the next ones: each flush waits for the disk, and the disk is better used when it has several
// to do at once. The commit begins only once every file is on the disk.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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

private:
    void Run();

    // The thread is woken when this many files wait, or by Finish: a wake-up per file would
    // cost two system calls for each, and the disk does better with several flushes at once.
    static constexpr size_t kWakeBatch = 8;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<void*> queue_;
    std::thread thread_;
    bool busy_ = false;
    bool draining_ = false;  // Finish waits: every file queued is taken at once
    bool stop_ = false;
    bool failed_ = false;
};
