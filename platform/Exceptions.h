// The program's exception classes. Messages are the texts the user sees, byte for byte.
#pragma once

#include <stdexcept>
#include <string>

namespace quillmark {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// "Cannot open file %s"
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that could not be made or written. DiskFull: the file system has no room left (no
// space, or the quota is used up): every further write there fails too, so a run stops
// instead of failing mail after mail.
class EFileError : public Exception {
public:
    explicit EFileError(const std::string& message, bool diskFull = false) : Exception(message), diskFull_(diskFull) {}
    bool DiskFull() const { return diskFull_; }

private:
    bool diskFull_;
};

// "Cannot create file %s"
class EFCreateError : public EFileError {
public:
    using EFileError::EFileError;
};

// "Stream write error" and other stream failures.
class EWriteError : public EFileError {
public:
    using EFileError::EFileError;
};

// "%s on line %d"
class EParserError : public Exception {
public:
    using Exception::Exception;
};

// "'%s' is not a valid integer value"
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A broken contract inside a unit: names the unit and the source line.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// An error raised by a mail store (Outlook, a mailbox, a data file), carrying the store's
// own message.
class EStoreError : public Exception {
public:
    using Exception::Exception;
};

} // namespace quillmark
