#include "tools/command_options.h"

#include "core/text.h"

namespace pageturn {

bool TCommandOptions::Next() {
  if (!started_) {
    started_ = true;
    return at_ < args_.size();
  }
  if (at_ >= args_.size()) return false;
  return ++at_ < args_.size();
}

std::string TCommandOptions::Value() {
  if (at_ + 1 >= args_.size()) throw TUsageError(Word() + " needs a value");
  return args_[++at_];
}

int TCommandOptions::IntegerValue() {
  const std::string option = Word();
  const std::string text = Value();
  int value = 0;
  if (!TryParseInt32(text, value)) throw TUsageError(option + " needs a whole number");
  return value;
}

void TCommandOptions::RejectUnknown() const {
  throw TUsageError("unknown argument \"" + Word() + "\"");
}

bool HelpAsked(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace pageturn
