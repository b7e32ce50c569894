#include "export/PageWriter.h"

namespace quillmark {

PageWriter::PageWriter(bool background) : background_(background) {
    if (background_) thread_ = std::thread([this] { Loop(); });
}

PageWriter::~PageWriter() {
    if (!background_) return;
    {
        std::unique_lock lock(mutex_);
        WaitUntilDone(lock);
        quit_ = true;
    }
    work_.notify_one();
    thread_.join();
}

void PageWriter::RaiseFailure() {
    if (failure_) std::rethrow_exception(failure_);
}

template <class Until>
void PageWriter::WaitForThread(std::unique_lock<std::mutex>& lock, Until until) {
    // The thread works on at once while someone waits, whatever the batch.
    work_.notify_one();
    ++waitingCallers_;
    done_.wait(lock, [&] { return failure_ || until(); });
    --waitingCallers_;
}

void PageWriter::WaitUntilDone(std::unique_lock<std::mutex>& lock) {
    WaitForThread(lock, [this] { return queue_.empty() && !busy_; });
}

void PageWriter::Write(std::size_t bytes, std::function<void()> job) {
    if (!background_) {
        RaiseFailure();
        try {
            job();
        } catch (...) {
            failure_ = std::current_exception();
            throw;
        }
        return;
    }
    std::unique_lock lock(mutex_);
    const auto room = [this] { return queue_.size() < MaxQueuedJobs && queuedBytes_ < MaxQueuedBytes; };
    if (!failure_ && !room()) WaitForThread(lock, room);
    RaiseFailure();
    queuedBytes_ += bytes;
    queue_.push_back(Job{std::move(job), bytes});
    const bool wake = queue_.size() == WakeBatch;
    lock.unlock();
    if (wake) work_.notify_one();
}

void PageWriter::Finish() {
    if (!background_) {
        RaiseFailure();
        return;
    }
    std::unique_lock lock(mutex_);
    WaitUntilDone(lock);
    RaiseFailure();
}

void PageWriter::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] {
            return quit_ || (!failure_ && !queue_.empty() &&
                             (queue_.size() >= WakeBatch || waitingCallers_ > 0));
        });
        if (quit_) return;
        // Everything queued is done before the thread sleeps again.
        while (!queue_.empty() && !failure_) {
            Job job = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= job.Bytes;
            busy_ = true;
            lock.unlock();
            std::exception_ptr failure;
            try {
                job.Run();
            } catch (...) {
                failure = std::current_exception();
            }
            job = Job{}; // the page's memory goes now, not when the next job comes
            lock.lock();
            busy_ = false;
            if (failure) {
                failure_ = failure;
                // What was handed in after the failed job is not done: the run ends here.
                queue_.clear();
                queuedBytes_ = 0;
            }
            if (waitingCallers_ > 0) done_.notify_all();
        }
    }
}

} // namespace quillmark
