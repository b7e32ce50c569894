#include "export/PageWriter.h"

#include "platform/FileSystem.h"

namespace quillmark {

PageWriter::PageWriter(bool background) : background_(background) {
    if (background_) thread_ = std::thread([this] { Loop(); });
}

PageWriter::~PageWriter() {
    if (!background_) return;
    {
        std::unique_lock lock(mutex_);
        WaitUntilWritten(lock);
        quit_ = true;
    }
    work_.notify_one();
    thread_.join();
}

void PageWriter::WaitUntilWritten(std::unique_lock<std::mutex>& lock) {
    draining_ = true;
    work_.notify_one();
    ++waitingCallers_;
    done_.wait(lock, [this] { return (queue_.empty() && !busy_) || failure_; });
    --waitingCallers_;
    draining_ = false;
}

void PageWriter::WriteOne(Page& page) {
    if (page.Finish) page.Finish(page.Data);
    platform::AtomicWriteOptions options;
    options.LocalWriteTime = page.LocalWriteTime;
    platform::WriteFileAtomic(page.Path, page.Data, options);
}

void PageWriter::RaiseFailure() {
    if (failure_) std::rethrow_exception(failure_);
}

void PageWriter::Write(std::string path, std::string data, double localWriteTime, Finishing finishing) {
    Page page{std::move(path), std::move(data), localWriteTime, std::move(finishing)};
    page.QueuedBytes = page.Data.size();
    if (!background_) {
        RaiseFailure();
        try {
            WriteOne(page);
        } catch (...) {
            failure_ = std::current_exception();
            throw;
        }
        return;
    }
    std::unique_lock lock(mutex_);
    if (!failure_ && (queue_.size() >= MaxQueuedPages || queuedBytes_ >= MaxQueuedBytes)) {
        work_.notify_one();
        ++waitingCallers_;
        done_.wait(lock, [this] {
            return failure_ || (queue_.size() < MaxQueuedPages && queuedBytes_ < MaxQueuedBytes);
        });
        --waitingCallers_;
    }
    RaiseFailure();
    queuedBytes_ += page.QueuedBytes;
    pending_.insert(page.Path);
    queue_.push_back(std::move(page));
    const bool wake = queue_.size() == WakeBatch;
    lock.unlock();
    if (wake) work_.notify_one();
}

bool PageWriter::IsPending(const std::string& path) {
    if (!background_) return false;
    std::lock_guard lock(mutex_);
    return pending_.count(path) != 0;
}

void PageWriter::Finish() {
    if (!background_) {
        RaiseFailure();
        return;
    }
    std::unique_lock lock(mutex_);
    WaitUntilWritten(lock);
    RaiseFailure();
}

void PageWriter::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] {
            return quit_ || (!failure_ && (queue_.size() >= WakeBatch || (draining_ && !queue_.empty()) ||
                                           (waitingCallers_ > 0 && !queue_.empty())));
        });
        if (quit_) return;
        // Everything queued is written before the thread sleeps again.
        while (!queue_.empty() && !failure_) {
            Page page = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= page.QueuedBytes;
            busy_ = true;
            lock.unlock();
            std::exception_ptr failure;
            try {
                WriteOne(page);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            busy_ = false;
            pending_.erase(pending_.find(page.Path));
            if (failure) {
                failure_ = failure;
                // What was handed in after the failed page is not written: the run ends here.
                for (const auto& dropped : queue_) pending_.erase(pending_.find(dropped.Path));
                queue_.clear();
                queuedBytes_ = 0;
            }
            if (waitingCallers_ > 0) done_.notify_all();
        }
    }
}

} // namespace quillmark
