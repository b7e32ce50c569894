#include "outlook/mailbox/ReadAhead.h"

#include <utility>

namespace quillmark::outlook::mailbox {

namespace {
constexpr std::size_t WakeBatch = 4;
}

ReadAhead::ReadAhead(int count, Reader read, std::size_t maxMails, std::size_t maxBytes)
    : count_(count), read_(std::move(read)), maxMails_(maxMails == 0 ? 1 : maxMails), maxBytes_(maxBytes) {}

ReadAhead::~ReadAhead() { Stop(); }

void ReadAhead::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    space_.notify_all();
    if (thread_.joinable()) thread_.join();
}

ReadMail ReadAhead::Take(int index) {
    if (index < 0 || index >= count_) {
        ReadMail none;
        none.Error = std::make_exception_ptr(EStoreError("Array index out of bounds."));
        return none;
    }
    if (!thread_.joinable() || index != expected_) {
        // First call, or out of order: read from here on. What was read ahead is dropped.
        Stop();
        queue_.clear();
        bytes_ = 0;
        stop_ = false;
        expected_ = index;
        thread_ = std::thread([this, index] { Loop(index); });
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        takerWaiting_ = true;
        ready_.wait(lock, [this] { return !queue_.empty(); });
        takerWaiting_ = false;
    }
    ReadMail mail = std::move(queue_.front());
    queue_.pop_front();
    bytes_ -= mail.Bytes;
    ++expected_;
    const bool wake = readerWaiting_ && RoomAgain();
    lock.unlock();
    if (wake) space_.notify_one();
    return mail;
}

bool ReadAhead::Full() const { return !queue_.empty() && (queue_.size() >= maxMails_ || bytes_ >= maxBytes_); }

bool ReadAhead::RoomAgain() const {
    return queue_.empty() || (queue_.size() <= maxMails_ / 2 && bytes_ <= maxBytes_ / 2);
}

void ReadAhead::Loop(int from) {
    for (int index = from; index < count_; ++index) {
        {
            // A full queue is let drain to half before reading on: the two threads then wake
            // each other once per several mails, not once per mail.
            std::unique_lock<std::mutex> lock(mutex_);
            if (Full()) {
                readerWaiting_ = true;
                space_.wait(lock, [this] { return stop_ || RoomAgain(); });
                readerWaiting_ = false;
            }
            if (stop_) return;
        }
        ReadMail mail;
        try {
            mail = read_(index);
        } catch (...) {
            mail = ReadMail{};
            mail.Error = std::current_exception();
        }
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
            bytes_ += mail.Bytes;
            queue_.push_back(std::move(mail));
            // A waiting caller is woken for a few mails at once (a wake-up is a system call on
            // both sides, and when the reading is the slower side the caller waits for every
            // mail), and whenever the reading stops: the queue is full or the folder ends.
            wake = takerWaiting_ && (queue_.size() >= WakeBatch || Full() || index + 1 == count_);
        }
        if (wake) ready_.notify_one();
    }
}

} // namespace quillmark::outlook::mailbox
