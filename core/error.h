// Error types used below the boundaries. Each carries the system's own message text.
#pragma once

#include <stdexcept>
#include <string>

namespace pageturn {

// Base of every error the system raises itself.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stream could not deliver or accept the whole buffer that was asked for.
class StreamReadError : public Error {
 public:
  StreamReadError() : Error("Stream read error") {}
};
class StreamWriteError : public Error {
 public:
  StreamWriteError() : Error("Stream write error") {}
};

// A file could not be opened or created; the message names the file.
class FileOpenError : public Error {
 public:
  using Error::Error;
};

// An assertion of the design ("Error index"), with the source unit and line it stands for.
class AssertionFailed : public Error {
 public:
  AssertionFailed(const std::string& message, const std::string& unit, int line)
      : Error(message + " (" + unit + ", line " + std::to_string(line) + ")"),
        message_(message), unit_(unit), line_(line) {}
  const std::string& message() const { return message_; }
  const std::string& unit() const { return unit_; }
  int line() const { return line_; }

 private:
  std::string message_;
  std::string unit_;
  int line_;
};

}  // namespace pageturn
