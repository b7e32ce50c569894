// Writes the run's finished pages on a thread of its own, so that the next mail is read and
// expanded while the file system takes the last page (a page costs a handful of system
// calls: look for its name, create, write, time, close, rename; on two cores that work
// overlaps the reading).
//
// What is handed over is a job (make the page's bytes, settle its name, write it); jobs run
// one after the other in the order they were handed in, so each sees the pages of the jobs
// before it on disk. The first failure stops the writing: jobs handed in after it are
// dropped, and the failure is raised by the next call to Write or Finish, so the run ends
// with it as it would have when writing itself. Pages handed in before the failure are on
// disk.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace quillmark {

class PageWriter {
public:
    // background false: every job runs before Write returns (no thread).
    explicit PageWriter(bool background = true);
    // Waits for the jobs handed in; a failure at this point is not raised (the run that
    // owns the writer is already ending by an exception of its own).
    ~PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    // Hands a job over; waits while too much is queued. bytes: about how much memory the job
    // holds (its page), for the bound on the queue. Raises the failure of an earlier job.
    void Write(std::size_t bytes, std::function<void()> job);

    // Waits until every job handed in has run; raises the first failure.
    void Finish();

private:
    struct Job {
        std::function<void()> Run;
        std::size_t Bytes = 0;
    };
    void Loop();
    void RaiseFailure(); // called with mutex_ held
    template <class Until>
    void WaitForThread(std::unique_lock<std::mutex>& lock, Until until); // until() or a failure
    void WaitUntilDone(std::unique_lock<std::mutex>& lock);

    // Bounds on what may wait for the thread, so memory stays flat however fast the mails come.
    static constexpr std::size_t MaxQueuedJobs = 64;
    static constexpr std::size_t MaxQueuedBytes = 16u << 20;
    // The thread is woken when this many jobs wait (or someone waits for it), not for every
    // job: waking a sleeping thread is a system call on both sides.
    static constexpr std::size_t WakeBatch = 8;

    const bool background_;
    std::mutex mutex_;
    std::condition_variable work_; // the thread waits here for jobs
    std::condition_variable done_; // callers wait here for room or for the end
    std::deque<Job> queue_;
    std::size_t queuedBytes_ = 0;
    bool busy_ = false;     // the thread runs a job taken off the queue
    int waitingCallers_ = 0; // callers waiting for room or for the end: the thread works on
    bool quit_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace quillmark
