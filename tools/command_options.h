// The words after a pageturn-pack command, read one at a time, so that every command answers the
// same mistakes with the same words: "-o needs a value", "--mode needs a whole number",
// "unknown argument "--zip"".
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace pageturn {

// Bad usage: the command prints the message with its help and exits with 2.
struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TCommandOptions {
 public:
  explicit TCommandOptions(const std::vector<std::string>& args) : args_(args) {}

  // Moves to the next word; false when there is none left.
  bool Next();
  // The current word.
  const std::string& Word() const { return args_[at_]; }
  // Whether the current word is written as an option ("-o", "--mode").
  bool IsOption() const { return !Word().empty() && Word()[0] == '-'; }
  // The word after the current option, taken: the option "needs a value" when none follows.
  std::string Value();
  // The same, read as a whole number: the option "needs a whole number" when it is not one.
  int IntegerValue();
  // The current word is no option of the command.
  [[noreturn]] void RejectUnknown() const;

 private:
  const std::vector<std::string>& args_;
  std::size_t at_ = 0;
  bool started_ = false;
};

// Whether the words ask for the command's help ("--help" or "-h" anywhere).
bool HelpAsked(const std::vector<std::string>& args);

}  // namespace pageturn
