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

// "Cannot create file %s"
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// "Stream write error" and other stream failures.
class EWriteError : public Exception {
public:
    using Exception::Exception;
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
