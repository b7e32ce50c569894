// Writes the run's finished pages on a thread of its own, so that the next mail is read and
// expanded while the file system takes the last page (a page costs a handful of system
// calls: create, write, time, close, rename; on two cores that work overlaps the reading).
//
// Pages are written in the order they were handed in, each atomically (a temporary file
// renamed over its name) with the mail's time as its last-write time. The first failure
// stops the writing: pages handed in after it are dropped, and the failure is raised by the
// next call to Write or Finish, so the run ends with it as it would have when writing
// itself. Pages handed in before the failure are on disk.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace quillmark {

class PageWriter {
public:
    // background false: every page is written before Write returns (no thread).
    explicit PageWriter(bool background = true);
    // Waits for the pages handed in; a failure at this point is not raised (the run that
    // owns the writer is already ending by an exception of its own).
    ~PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    // Last touches to a page's bytes, made on the writer's thread just before it is written.
    using Finishing = std::function<void(std::string& data)>;

    // Hands a page over; waits while too much is queued. Raises the failure of an earlier
    // page, if any. finishing, when given, is applied to data before the write.
    void Write(std::string path, std::string data, double localWriteTime, Finishing finishing = nullptr);

    // True while a page of that path is handed in and not yet written: the disk does not
    // show it yet, so whoever decides page names must wait (Finish) before looking.
    bool IsPending(const std::string& path);

    // Waits until every page handed in is written; raises the first failure.
    void Finish();

private:
    struct Page {
        std::string Path, Data;
        double LocalWriteTime;
        Finishing Finish;
        std::size_t QueuedBytes = 0;
    };
    void Loop();
    static void WriteOne(Page& page);
    void RaiseFailure(); // called with mutex_ held

    // Bounds on what may wait for the thread, so memory stays flat however fast the mails come.
    static constexpr std::size_t MaxQueuedPages = 64;
    static constexpr std::size_t MaxQueuedBytes = 16u << 20;
    // The thread is woken when this many pages wait (or someone waits for it), not for every
    // page: waking a sleeping thread is a system call on both sides.
    static constexpr std::size_t WakeBatch = 8;

    void WaitUntilWritten(std::unique_lock<std::mutex>& lock); // mutex_ held

    const bool background_;
    std::mutex mutex_;
    std::condition_variable work_; // the thread waits here for pages
    std::condition_variable done_; // callers wait here for room or for the end
    bool draining_ = false;        // a caller waits for everything to be written
    int waitingCallers_ = 0;
    std::deque<Page> queue_;
    std::multiset<std::string> pending_; // paths queued or being written
    std::size_t queuedBytes_ = 0;
    bool busy_ = false; // the thread is writing a page taken off the queue
    bool quit_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace quillmark
