#include "timeline.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin::swf {

namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char a = s[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// A chain of frame entries that keeps jumping (gotoAndStop to a frame that jumps again) is
// cut off here so that one tick always ends.
constexpr int kMaxFrameEntriesPerStep = 64;
constexpr size_t kMaxStack = 4096;

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string XmlUnescape(const std::string& text) {
  static const struct { const char* entity; char c; } kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& e : kEntities) {
        size_t n = std::strlen(e.entity);
        if (text.compare(i, n, e.entity) == 0) {
          out += e.c;
          i += n;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

std::string Timeline::Value::ToString() const {
  switch (kind) {
    case Undefined: return "undefined";
    case Null: return "null";
    case Bool: return number != 0 ? "true" : "false";
    case Number: {
      if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
        return std::to_string(static_cast<long long>(number));
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", number);
      return buf;
    }
    case String: return text;
    case Object: return "[object Object]";
  }
  return "";
}

Timeline::Timeline(Movie movie, TimelineHost& host) : movie_(std::move(movie)), host_(host) {
  if (movie_.frames.empty()) movie_.frames.emplace_back();
}

void Timeline::Start() {
  current_ = 0;
  pendingFrame_ = 0;
  RunFrameActions();
}

void Timeline::Tick() {
  if (!playing_) return;
  int next = current_ + 1;
  if (next >= FrameCount()) {
    if (!loop_ || FrameCount() == 1) {
      playing_ = false;
      return;
    }
    next = 0;
  }
  EnterFrame(next);
  RunFrameActions();
}

void Timeline::GotoFrame(int frame, bool play) {
  if (frame < 0) frame = 0;
  if (frame >= FrameCount()) frame = FrameCount() - 1;
  playing_ = play;
  EnterFrame(frame);
  RunFrameActions();
}

void Timeline::EnterFrame(int frame) {
  current_ = frame;
  pendingFrame_ = frame;
}

void Timeline::RunFrameActions() {
  for (int i = 0; i < kMaxFrameEntriesPerStep && pendingFrame_ >= 0; ++i) {
    int frame = pendingFrame_;
    pendingFrame_ = -1;
    for (const auto& list : movie_.frames[frame].actions) Run(list);
  }
  pendingFrame_ = -1;
}

void Timeline::SetVariable(const std::string& name, const std::string& value) {
  variables_[name] = value;
}

std::string Timeline::GetVariable(const std::string& name) const {
  auto it = variables_.find(name);
  return it == variables_.end() ? std::string() : it->second;
}

Timeline::Value Timeline::Pop() {
  if (stack_.empty()) return Value{};
  Value v = std::move(stack_.back());
  stack_.pop_back();
  return v;
}

void Timeline::DoGetUrl(const std::string& url, const std::string& target) {
  if (StartsWithNoCase(url, "FSCommand:")) {
    host_.FsCommand(url.substr(10), target);
  } else if (StartsWithNoCase(target, "_level")) {
    std::string digits = target.substr(6);
    int level = 0;
    bool ok = !digits.empty() && digits.size() <= 6;
    for (char c : digits) {
      if (c < '0' || c > '9') ok = false;
      else level = level * 10 + (c - '0');
    }
    if (ok) host_.LoadMovie(level, url);
    else host_.GetUrl(url, target);
  } else {
    host_.GetUrl(url, target);
  }
}

void Timeline::DoPush(const std::vector<uint8_t>& payload) {
  CheckedReader r(payload);
  while (!r.AtEnd()) {
    Value v;
    uint8_t type = r.U8();
    switch (type) {
      case 0: v.kind = Value::String; v.text = r.String(); break;
      case 1: {
        uint32_t bits = r.U32();
        float f;
        std::memcpy(&f, &bits, 4);
        v.kind = Value::Number;
        v.number = f;
        break;
      }
      case 2: v.kind = Value::Null; break;
      case 3: v.kind = Value::Undefined; break;
      case 4: r.U8(); break;  // registers are not kept: undefined
      case 5: v.kind = Value::Bool; v.number = r.U8() ? 1 : 0; break;
      case 6: {
        uint64_t high = r.U32(), low = r.U32();
        uint64_t bits = high << 32 | low;
        double d;
        std::memcpy(&d, &bits, 8);
        v.kind = Value::Number;
        v.number = d;
        break;
      }
      case 7: v.kind = Value::Number; v.number = static_cast<int32_t>(r.U32()); break;
      case 8: case 9: {
        size_t index = type == 8 ? r.U8() : r.U16();
        if (index < constants_.size()) {
          v.kind = Value::String;
          v.text = constants_[index];
        }
        break;
      }
      default: throw SwfError("unknown Push type");
    }
    if (stack_.size() >= kMaxStack) throw SwfError("action stack overflow");
    stack_.push_back(std::move(v));
  }
}

Timeline::Value Timeline::DecodeExternalValue(const std::string& xml) const {
  Value v;
  auto inner = [&](const char* open, const char* close) -> std::string {
    size_t a = xml.find(open), b = xml.rfind(close);
    if (a == std::string::npos || b == std::string::npos || b < a + std::strlen(open)) return {};
    return xml.substr(a + std::strlen(open), b - a - std::strlen(open));
  };
  if (xml.find("<string>") != std::string::npos) {
    v.kind = Value::String;
    v.text = XmlUnescape(inner("<string>", "</string>"));
  } else if (xml.find("<number>") != std::string::npos) {
    v.kind = Value::Number;
    v.number = std::atof(inner("<number>", "</number>").c_str());
  } else if (xml.find("<true/>") != std::string::npos) {
    v.kind = Value::Bool;
    v.number = 1;
  } else if (xml.find("<false/>") != std::string::npos) {
    v.kind = Value::Bool;
  } else if (xml.find("<null/>") != std::string::npos || xml.empty()) {
    v.kind = Value::Null;
  }
  return v;
}

void Timeline::Run(const std::vector<ActionRecord>& actions) {
  stack_.clear();
  for (const auto& a : actions) {
    switch (a.code) {
      case kActionNextFrame:
        playing_ = false;
        if (current_ + 1 < FrameCount()) EnterFrame(current_ + 1);
        break;
      case kActionPrevFrame:
        playing_ = false;
        if (current_ > 0) EnterFrame(current_ - 1);
        break;
      case kActionPlay: playing_ = true; break;
      case kActionStop: playing_ = false; break;
      case kActionGotoFrame: {
        CheckedReader r(a.payload);
        int frame = r.U16();
        playing_ = false;
        if (frame < FrameCount()) EnterFrame(frame);
        break;
      }
      case kActionGetUrl: {
        CheckedReader r(a.payload);
        std::string url = r.String();
        std::string target = r.String();
        DoGetUrl(url, target);
        break;
      }
      case kActionGetUrl2: {
        std::string target = Pop().ToString();
        std::string url = Pop().ToString();
        DoGetUrl(url, target);
        break;
      }
      case kActionConstantPool: {
        CheckedReader r(a.payload);
        uint16_t count = r.U16();
        constants_.clear();
        for (uint16_t i = 0; i < count; ++i) constants_.push_back(r.String());
        break;
      }
      case kActionPush: DoPush(a.payload); break;
      case kActionPop: Pop(); break;
      case kActionStringAdd: {
        Value b = Pop(), first = Pop();
        Value v;
        v.kind = Value::String;
        v.text = first.ToString() + b.ToString();
        stack_.push_back(std::move(v));
        break;
      }
      case kActionGetVariable: {
        std::string name = Pop().ToString();
        Value v;
        if (name == "flash") {
          v.kind = Value::Object;
          v.text = name;
        } else if (auto it = variables_.find(name); it != variables_.end()) {
          v.kind = Value::String;
          v.text = it->second;
        }
        stack_.push_back(std::move(v));
        break;
      }
      case kActionSetVariable: {
        Value value = Pop();
        variables_[Pop().ToString()] = value.ToString();
        break;
      }
      case kActionGetMember: {
        std::string member = Pop().ToString();
        Value object = Pop();
        Value v;
        if (object.kind == Value::Object) {
          v.kind = Value::Object;
          v.text = object.text + "." + member;
        }
        stack_.push_back(std::move(v));
        break;
      }
      case kActionCallMethod: {
        std::string method = Pop().ToString();
        Value object = Pop();
        Value countValue = Pop();
        int count = countValue.kind == Value::Number && countValue.number > 0 &&
                            countValue.number < double(kMaxStack)
                        ? static_cast<int>(countValue.number)
                        : 0;
        std::vector<Value> args;
        for (int i = 0; i < count; ++i) args.push_back(Pop());
        Value result;
        if (object.kind == Value::Object && object.text == "flash.external.ExternalInterface" &&
            method == "call" && !args.empty()) {
          std::string request = "<invoke name=\"" + XmlEscape(args[0].ToString()) +
                                "\" returntype=\"xml\"><arguments>";
          for (size_t i = 1; i < args.size(); ++i) {
            const Value& arg = args[i];
            switch (arg.kind) {
              case Value::Undefined: request += "<undefined/>"; break;
              case Value::Null: request += "<null/>"; break;
              case Value::Bool: request += arg.number != 0 ? "<true/>" : "<false/>"; break;
              case Value::Number: request += "<number>" + arg.ToString() + "</number>"; break;
              default: request += "<string>" + XmlEscape(arg.ToString()) + "</string>"; break;
            }
          }
          request += "</arguments></invoke>";
          result = DecodeExternalValue(host_.ExternalCall(request));
        }
        stack_.push_back(std::move(result));
        break;
      }
      default: break;  // outside the played subset
    }
  }
}

}  // namespace standin::swf
