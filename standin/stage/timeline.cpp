#include "timeline.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <variant>

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

// N of "_levelN" (any case), else -1.
int LevelNumber(const std::string& target) {
  if (!StartsWithNoCase(target, "_level")) return -1;
  std::string digits = target.substr(6);
  if (digits.empty() || digits.size() > 6) return -1;
  int level = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    level = level * 10 + (c - '0');
  }
  return level;
}

bool UrlSafe(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
}

size_t UrlEncodedLength(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += UrlSafe(c) ? 1 : 3;
  return n;
}

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (UrlSafe(c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

void AppendXmlEscaped(std::string& out, const std::string& text, size_t limit) {
  for (char c : text) {
    const char* piece = nullptr;
    switch (c) {
      case '&':
        piece = "&amp;";
        break;
      case '<':
        piece = "&lt;";
        break;
      case '>':
        piece = "&gt;";
        break;
      case '"':
        piece = "&quot;";
        break;
      case '\'':
        piece = "&apos;";
        break;
      default:
        break;
    }
    size_t n = piece ? std::strlen(piece) : 1;
    if (n > limit || out.size() > limit - n) throw SwfError("ExternalInterface request too long");
    if (piece)
      out += piece;
    else
      out += c;
  }
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  AppendXmlEscaped(out, text, std::string::npos);
  return out;
}

std::string XmlUnescape(const std::string& text) {
  static const struct {
    const char* entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
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
    case Undefined:
      return "undefined";
    case Null:
      return "null";
    case Bool:
      return number != 0 ? "true" : "false";
    case Number: {
      if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
        return std::to_string(static_cast<long long>(number));
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", number);
      return buf;
    }
    case String:
      return text;
    case Object:
      return "[object Object]";
  }
  return "";
}

Timeline::Timeline(Movie movie, TimelineHost& host) : movie_(std::move(movie)), host_(host) {
  if (movie_.frames.empty()) movie_.frames.emplace_back();
  // The reader guarantees unique ids, defined before they are placed.
  for (const auto& frame : movie_.frames) {
    for (const auto& tag : frame.tags) {
      std::visit(
          [&](const auto& t) {
            using T = std::decay_t<decltype(t)>;
            if constexpr (!std::is_same_v<T, PlaceObject2> && !std::is_same_v<T, RemoveObject2>)
              characters_[t.id] = &tag;
          },
          tag);
    }
  }
}

const Tag* Timeline::Character(uint16_t id) const {
  auto it = characters_.find(id);
  return it == characters_.end() ? nullptr : it->second;
}

void Timeline::Start() {
  ActionBudget::Step step(Budget());
  current_ = 0;
  builtFrame_ = -1;
  ApplyDisplayTags(0);
  pendingFrame_ = 0;
  RunFrameActions();
}

void Timeline::Tick() {
  if (!playing_) return;
  ActionBudget::Step step(Budget());
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
  ActionBudget::Step step(Budget());
  playing_ = play;
  EnterFrame(frame);
  RunFrameActions();
}

void Timeline::RunButtonActions(const ActionList& actions) {
  ActionBudget::Step step(Budget());
  Run(actions);
  RunFrameActions();
}

void Timeline::EnterFrame(int frame) {
  current_ = frame;
  pendingFrame_ = frame;
  ApplyDisplayTags(frame);
}

void Timeline::ApplyDisplayTags(int frame) {
  if (frame == builtFrame_) return;
  int from = builtFrame_ + 1;
  // Going backwards, the list is what the frames from the first one build.
  if (frame < builtFrame_ || builtFrame_ < 0) {
    displayList_.clear();
    from = 0;
  }
  for (int f = from; f <= frame; ++f) {
    for (const auto& tag : movie_.frames[f].tags) {
      if (const auto* place = std::get_if<PlaceObject2>(&tag)) {
        auto existing = displayList_.find(place->depth);
        if (place->characterId && !place->move) {
          Placement p;
          p.characterId = *place->characterId;
          displayList_[place->depth] = p;
        } else if (existing == displayList_.end()) {
          continue;  // a move of an empty depth changes nothing
        } else if (place->characterId) {
          existing->second.characterId = *place->characterId;
        }
        Placement& p = displayList_[place->depth];
        if (place->matrix) p.matrix = *place->matrix;
        if (place->colorTransform) p.colorTransform = *place->colorTransform;
      } else if (const auto* remove = std::get_if<RemoveObject2>(&tag)) {
        displayList_.erase(remove->depth);
      }
    }
  }
  builtFrame_ = frame;
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
  if (name.size() > kMaxStringLength || value.size() > kMaxStringLength)
    throw SwfError("variable too long");
  auto it = variables_.find(name);
  if (it == variables_.end() && variables_.size() >= kMaxVariables)
    throw SwfError("too many variables");
  size_t before = it == variables_.end() ? 0 : name.size() + it->second.size();
  size_t after = name.size() + value.size();
  if (after > before && after - before > kMaxVariableBytes - variableBytes_)
    throw SwfError("variables too large in all");
  variables_[name] = value;
  variableBytes_ = variableBytes_ - before + after;
}

std::string Timeline::GetVariable(const std::string& name) const {
  auto it = variables_.find(name);
  return it == variables_.end() ? std::string() : it->second;
}

Timeline::Value Timeline::MakeString(std::string text) {
  if (text.size() > kMaxStringLength) throw SwfError("string too long");
  Budget().SpendBytes(text.size());
  Value v;
  v.kind = Value::String;
  v.text = std::move(text);
  return v;
}

void Timeline::PushOnStack(Value v) {
  if (stack_.size() >= kMaxStack) throw SwfError("action stack overflow");
  if (v.text.size() > kMaxStackBytes - stackBytes_) throw SwfError("action stack too large");
  stackBytes_ += v.text.size();
  stack_.push_back(std::move(v));
}

Timeline::Value Timeline::Pop() {
  if (stack_.empty()) return Value{};
  Value v = std::move(stack_.back());
  stack_.pop_back();
  stackBytes_ -= v.text.size();
  return v;
}

double Timeline::ToNumber(const Value& v) {
  switch (v.kind) {
    case Value::Number:
    case Value::Bool:
      return v.number;
    case Value::String: {
      if (v.text.empty()) return std::nan("");
      char* end = nullptr;
      double d = std::strtod(v.text.c_str(), &end);
      return end && *end == 0 ? d : std::nan("");
    }
    default:
      return std::nan("");
  }
}

bool Timeline::ToBool(const Value& v) {
  switch (v.kind) {
    case Value::Number:
    case Value::Bool:
      return v.number != 0 && !std::isnan(v.number);
    case Value::String:
      return !v.text.empty();
    case Value::Object:
      return true;
    default:
      return false;
  }
}

bool Timeline::TypedEquals(const Value& a, const Value& b) {
  auto nullish = [](const Value& v) { return v.kind == Value::Undefined || v.kind == Value::Null; };
  if (nullish(a) || nullish(b)) return nullish(a) && nullish(b);
  if (a.kind == Value::String && b.kind == Value::String) return a.text == b.text;
  if (a.kind == Value::Object || b.kind == Value::Object)
    return a.kind == b.kind && a.text == b.text;
  return ToNumber(a) == ToNumber(b);
}

Timeline* Timeline::Target() {
  if (target_.empty()) return this;
  return host_.FindTimeline(target_);
}

void Timeline::DoGetUrl(const std::string& url, const std::string& target) {
  Budget().Spend(ActionBudget::kHostCallUnits);
  if (StartsWithNoCase(url, "FSCommand:")) {
    host_.FsCommand(url.substr(10), target);
  } else if (int level = LevelNumber(target); level >= 0) {
    host_.LoadMovie(level, url);
  } else {
    host_.GetUrl(url, target);
  }
}

void Timeline::DoGetUrl2(uint8_t flags, std::string url, const std::string& target) {
  constexpr uint8_t kLoadVariables = 0x80, kLoadTarget = 0x40, kMethod = 0x03;
  if (StartsWithNoCase(url, "FSCommand:")) {
    Budget().Spend(ActionBudget::kHostCallUnits);
    host_.FsCommand(url.substr(10), target);
    return;
  }
  // GET and POST send the timeline's variables along; our fetches are GETs, so both go in
  // the query. Its length is known before a byte of it is made.
  if ((flags & kMethod) != 0 && !variables_.empty()) {
    size_t length = url.size();
    for (const auto& [name, value] : variables_)
      length += 2 + UrlEncodedLength(name) + UrlEncodedLength(value);
    if (length > kMaxStringLength) throw SwfError("string too long");
    Budget().SpendBytes(length);
    std::string query;
    for (const auto& [name, value] : variables_)
      query += (query.empty() ? "" : "&") + UrlEncode(name) + "=" + UrlEncode(value);
    url += (url.find('?') == std::string::npos ? "?" : "&") + query;
  }
  int level = LevelNumber(target);
  if (flags & kLoadVariables) {
    // loadVariablesNum: the target names a level (a clip path other than a level is outside
    // the subset and goes nowhere).
    if (level < 0 && (target.empty() || target == "/" || target == "_root")) level = 0;
    Budget().Spend(ActionBudget::kHostCallUnits);
    if (level >= 0) host_.LoadVariables(level, url);
    return;
  }
  if (flags & kLoadTarget) {
    // loadMovie into a clip path: levels only.
    Budget().Spend(ActionBudget::kHostCallUnits);
    if (level >= 0) host_.LoadMovie(level, url);
    return;
  }
  DoGetUrl(url, target);
}

void Timeline::DoPush(const std::vector<::swf::PushValue>& values) {
  for (const auto& p : values) {
    Value v;
    switch (p.type) {
      case ::swf::PushValue::kString:
        v = MakeString(p.string);
        break;
      case ::swf::PushValue::kFloat:
      case ::swf::PushValue::kDouble:
        v.kind = Value::Number;
        v.number = p.number;
        break;
      case ::swf::PushValue::kNull:
        v.kind = Value::Null;
        break;
      case ::swf::PushValue::kUndefined:
        break;
      case ::swf::PushValue::kRegister:
        break;  // registers are not kept: undefined
      case ::swf::PushValue::kBool:
        v.kind = Value::Bool;
        v.number = p.integer ? 1 : 0;
        break;
      case ::swf::PushValue::kInteger:
        v.kind = Value::Number;
        v.number = static_cast<int32_t>(p.integer);
        break;
      case ::swf::PushValue::kConstant8:
      case ::swf::PushValue::kConstant16:
        if (constants_ && p.integer < constants_->size()) v = MakeString((*constants_)[p.integer]);
        break;
    }
    PushOnStack(std::move(v));
  }
}

std::string Timeline::ExternalRequest(const std::vector<Value>& args) const {
  // Checked as it grows: escaping can make each byte of an argument six.
  std::string request;
  auto add = [&request](const char* text) {
    size_t n = std::strlen(text);
    if (request.size() > kMaxRequestLength - n)
      throw SwfError("ExternalInterface request too long");
    request += text;
  };
  add("<invoke name=\"");
  AppendXmlEscaped(request, args[0].ToString(), kMaxRequestLength);
  add("\" returntype=\"xml\"><arguments>");
  for (size_t i = 1; i < args.size(); ++i) {
    const Value& arg = args[i];
    switch (arg.kind) {
      case Value::Undefined:
        add("<undefined/>");
        break;
      case Value::Null:
        add("<null/>");
        break;
      case Value::Bool:
        add(arg.number != 0 ? "<true/>" : "<false/>");
        break;
      case Value::Number:
        add("<number>");
        add(arg.ToString().c_str());
        add("</number>");
        break;
      default:
        add("<string>");
        AppendXmlEscaped(request, arg.ToString(), kMaxRequestLength);
        add("</string>");
        break;
    }
  }
  add("</arguments></invoke>");
  return request;
}

Timeline::Value Timeline::DecodeExternalValue(const std::string& xml) {
  Value v;
  auto inner = [&](const char* open, const char* close) -> std::string {
    size_t a = xml.find(open), b = xml.rfind(close);
    if (a == std::string::npos || b == std::string::npos || b < a + std::strlen(open)) return {};
    return xml.substr(a + std::strlen(open), b - a - std::strlen(open));
  };
  if (xml.find("<string>") != std::string::npos) {
    v = MakeString(XmlUnescape(inner("<string>", "</string>")));
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

void Timeline::Run(const ActionList& actions) {
  ActionBudget& budget = Budget();
  ActionBudget::Run nested(budget);
  struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
  } running(running_);
  stack_.clear();
  stackBytes_ = 0;
  target_.clear();  // each list starts on its own timeline
  for (size_t pc = 0; pc < actions.size();) {
    budget.Spend(1);
    const ActionRecord& a = actions[pc++];
    switch (a.code) {
      case kActionNextFrame:
      case kActionPrevFrame:
      case kActionPlay:
      case kActionStop:
      case kActionGotoFrame: {
        Timeline* t = Target();
        if (!t) break;  // a target that is not there
        if (a.code == kActionPlay) {
          t->playing_ = true;
          break;
        }
        t->playing_ = false;
        int frame = a.code == kActionNextFrame   ? t->current_ + 1
                    : a.code == kActionPrevFrame ? t->current_ - 1
                    : a.code == kActionGotoFrame ? int(a.frame)
                                                 : -1;
        if (frame < 0 || frame >= t->FrameCount()) break;
        t->EnterFrame(frame);
        // Another timeline's frame actions run now, within our step and a bounded depth of
        // runs; a timeline whose actions are running already gets to them in its next step.
        if (t != this && t->running_ == 0 && budget.Depth() < ActionBudget::kMaxDepth)
          t->RunFrameActions();
        break;
      }
      case kActionSetTarget:
        target_ = a.target == "/" || a.target == "_root" ? "" : a.target;
        break;
      case kActionGetUrl:
        DoGetUrl(a.url, a.target);
        break;
      case kActionGetUrl2: {
        std::string target = Pop().ToString();
        std::string url = Pop().ToString();
        DoGetUrl2(a.getUrl2Flags, std::move(url), target);
        break;
      }
      case kActionConstantPool:
        constants_ = &a.constants;
        break;
      case kActionPush:
        DoPush(a.values);
        break;
      case kActionPop:
        Pop();
        break;
      case kActionStringAdd: {
        Value b = Pop(), first = Pop();
        PushOnStack(MakeString(first.ToString() + b.ToString()));
        break;
      }
      case kActionAdd:
      case kActionAdd2: {
        Value b = Pop(), first = Pop();
        if (a.code == kActionAdd2 && (first.kind == Value::String || b.kind == Value::String)) {
          PushOnStack(MakeString(first.ToString() + b.ToString()));
        } else {
          Value v;
          v.kind = Value::Number;
          v.number = ToNumber(first) + ToNumber(b);
          PushOnStack(std::move(v));
        }
        break;
      }
      case kActionEquals:
      case kActionEquals2: {
        Value b = Pop(), first = Pop();
        Value v;
        v.kind = Value::Bool;
        v.number =
            (a.code == kActionEquals ? ToNumber(first) == ToNumber(b) : TypedEquals(first, b)) ? 1
                                                                                               : 0;
        PushOnStack(std::move(v));
        break;
      }
      case kActionNot: {
        Value v;
        v.kind = Value::Bool;
        v.number = ToBool(Pop()) ? 0 : 1;
        PushOnStack(std::move(v));
        break;
      }
      case kActionJump:
        pc = a.branchTarget;
        break;
      case kActionIf:
        if (ToBool(Pop())) pc = a.branchTarget;
        break;
      case kActionGetVariable: {
        std::string name = Pop().ToString();
        Value v;
        if (name == "flash") {
          v.kind = Value::Object;
          v.text = name;
        } else if (auto it = variables_.find(name); it != variables_.end()) {
          v = MakeString(it->second);
        }
        PushOnStack(std::move(v));
        break;
      }
      case kActionSetVariable: {
        Value value = Pop();
        SetVariable(Pop().ToString(), value.ToString());
        break;
      }
      case kActionGetMember: {
        std::string member = Pop().ToString();
        Value object = Pop();
        Value v;
        if (object.kind == Value::Object) {
          v.kind = Value::Object;
          v.text = object.text + "." + member;
          if (v.text.size() > kMaxStringLength) throw SwfError("string too long");
          budget.SpendBytes(v.text.size());
        }
        PushOnStack(std::move(v));
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
          std::string request = ExternalRequest(args);
          budget.Spend(ActionBudget::kHostCallUnits);
          budget.SpendBytes(request.size());
          result = DecodeExternalValue(host_.ExternalCall(request));
        }
        PushOnStack(std::move(result));
        break;
      }
      default:
        break;  // outside the played subset
    }
  }
}

}  // namespace standin::swf
