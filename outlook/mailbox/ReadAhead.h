// Reads and parses a folder's mails on a thread of their own, a few mails ahead of the
// caller, so that parsing the next mail overlaps the export of the last one (parsing is
// about half the work of a run; on two cores it then costs little time of its own).
//
// The caller takes the mails by index. Taking them in order takes what the thread has
// read; any other index starts the reading over from there. The thread stays at most
// `maxMails` mails or `maxBytes` bytes ahead, so memory does not grow with the folder.
//
// What the thread makes must be safe to hand to another thread: the mailbox backend's
// items hold plain data (no parser objects), and their warnings wait in a sink of their own
// until the caller takes the mail and passes them on — warnings arrive on the caller's
// thread, in order, as if the mail had been read there.
#pragma once

#include "outlook/ObjectModel.h"
#include "outlook/Store.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillmark::outlook::mailbox {

// One mail as the reading thread leaves it.
struct ReadMail {
    std::shared_ptr<MailItem> Mail;        // null: the item is no mail (expunged)
    std::shared_ptr<WarningSink> Warnings; // without a handler: its warnings wait in it
    std::exception_ptr Error;              // reading failed: raised when the mail is taken
    std::size_t Bytes = 0;                 // about what it holds in memory, for the bound
};

class ReadAhead {
public:
    using Reader = std::function<ReadMail(int index)>; // 0-based; may throw

    ReadAhead(int count, Reader read, std::size_t maxMails = 8, std::size_t maxBytes = 16u << 20);
    // Stops the thread; a mail being parsed is finished first.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The mail at index (0-based); waits for it. A reading error, or an index outside the
    // folder, comes back in ReadMail::Error. One thread takes the mails.
    ReadMail Take(int index);
    int Count() const { return count_; }

private:
    void Stop();
    void Loop(int from);
    bool Full() const;      // the reader must wait (under the lock)
    bool RoomAgain() const; // the waiting reader may go on (under the lock)

    const int count_;
    const Reader read_;
    const std::size_t maxMails_, maxBytes_;

    std::mutex mutex_;
    std::condition_variable ready_; // a mail was queued
    std::condition_variable space_; // a mail was taken, or stop
    std::deque<ReadMail> queue_;    // the mails from expected_ on, in order
    std::size_t bytes_ = 0;
    int expected_ = -1;             // the index the next Take in order asks for
    bool stop_ = false;
    bool readerWaiting_ = false, takerWaiting_ = false;
    std::thread thread_;
};

} // namespace quillmark::outlook::mailbox
