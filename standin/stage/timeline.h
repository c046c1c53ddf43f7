// The timeline of one movie level: current frame, playing state, the display list that its
// frames build, and the AVM1 subset that the book movies use (navigation, GetURL/GetURL2,
// SetTarget, branches, a small value stack, variables and the ExternalInterface.call pattern).
// What the actions ask of the world goes to a TimelineHost.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "swf/swf_reader.h"

namespace standin::swf {

using namespace ::swf;

// What one player step may spend on actions, shared by every run it nests: a timeline that
// sends another to a frame runs that frame's actions inside its own step, on the same budget.
// An action costs one unit, the strings it makes one more per kBytesPerUnit, a call out to the
// host kHostCallUnits; a step that spends more ends with an SwfError.
class ActionBudget {
 public:
  static constexpr size_t kUnitsPerStep = 100000;
  static constexpr size_t kBytesPerUnit = 256;
  static constexpr size_t kHostCallUnits = 100;
  // Runs nested inside each other (a frame's actions run by another timeline's action).
  static constexpr int kMaxDepth = 8;

  // Opens a step when none is open; a scope inside an open step shares its budget.
  class Step {
   public:
    explicit Step(ActionBudget& budget) : budget_(budget) {
      if (budget_.steps_++ == 0) budget_.spent_ = 0;
    }
    ~Step() { --budget_.steps_; }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

   private:
    ActionBudget& budget_;
  };
  // One run of an action list, nested in the ones still running.
  class Run {
   public:
    explicit Run(ActionBudget& budget) : budget_(budget) { ++budget_.depth_; }
    ~Run() { --budget_.depth_; }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

   private:
    ActionBudget& budget_;
  };

  void Spend(size_t units) {
    if (units > kUnitsPerStep - spent_) {
      spent_ = kUnitsPerStep;
      throw SwfError("too many actions in one step");
    }
    spent_ += units;
  }
  void SpendBytes(size_t bytes) { Spend(bytes / kBytesPerUnit); }
  size_t Spent() const { return spent_; }
  int Depth() const { return depth_; }

 private:
  size_t spent_ = 0;
  int steps_ = 0;
  int depth_ = 0;
};

class TimelineHost {
 public:
  virtual ~TimelineHost() = default;
  // GetURL with a "FSCommand:" URL: the rest of the URL and the target.
  virtual void FsCommand(const std::string& command, const std::string& args) = 0;
  // GetURL with the target _levelN: load url into level N (empty url: unload the level).
  virtual void LoadMovie(int level, const std::string& url) = 0;
  // Any other GetURL: navigation.
  virtual void GetUrl(const std::string& url, const std::string& target) = 0;
  // ExternalInterface.call: the <invoke> text; returns the encoded answer ("" = none).
  virtual std::string ExternalCall(const std::string& request) = 0;
  // GetURL2 with LoadVariables: url's variables go into level N.
  virtual void LoadVariables(int /*level*/, const std::string& /*url*/) {}
  // The timeline that a SetTarget path names ("/", "_root", "_levelN"); null when none.
  virtual class Timeline* FindTimeline(const std::string& /*target*/) { return nullptr; }
  // The budget that every timeline of one player shares; a host of one timeline has its own.
  virtual ActionBudget& Budget() { return budget_; }

 private:
  ActionBudget budget_;
};

// One character on the display list.
struct Placement {
  uint16_t characterId = 0;
  Matrix matrix;
  ColorTransform colorTransform;
};

class Timeline {
 public:
  // Strings (values, variables), variables, the bytes of all variables and of the value stack,
  // and an ExternalInterface request (escaped, as sent) that a movie may make; beyond, its
  // actions stop with an SwfError.
  static constexpr size_t kMaxStringLength = 64 * 1024;
  static constexpr size_t kMaxVariables = 1024;
  static constexpr size_t kMaxVariableBytes = 1024 * 1024;
  static constexpr size_t kMaxStackBytes = 1024 * 1024;
  static constexpr size_t kMaxRequestLength = 1024 * 1024;

  Timeline(Movie movie, TimelineHost& host);

  const Movie& movie() const { return movie_; }
  int FrameCount() const { return static_cast<int>(movie_.frames.size()); }
  int CurrentFrame() const { return current_; }  // 0-based
  bool Playing() const { return playing_; }
  void SetPlaying(bool playing) { playing_ = playing; }
  bool Loop() const { return loop_; }
  void SetLoop(bool loop) { loop_ = loop; }

  // Shows the first frame and runs its actions; called once the movie is in place.
  void Start();
  // One frame tick: when playing, the next frame (wrapping when looping, else stopping at the end).
  void Tick();
  // Host-side navigation: go to a frame (0-based, clamped) and run its actions.
  void GotoFrame(int frame, bool play);

  void SetVariable(const std::string& name, const std::string& value);
  std::string GetVariable(const std::string& name) const;

  // The characters on the display list of the current frame, by depth (lowest drawn first).
  const std::map<uint16_t, Placement>& DisplayList() const { return displayList_; }
  // A definition of the movie by character id; null when there is none.
  const Tag* Character(uint16_t id) const;
  // A button's actions (a key or click condition met), then the frames they go to.
  void RunButtonActions(const ActionList& actions);

 private:
  struct Value {
    enum Kind { Undefined, Null, Bool, Number, String, Object } kind = Undefined;
    double number = 0;
    std::string text;  // String; for Object the dotted path ("flash.external")
    std::string ToString() const;
  };

  void EnterFrame(int frame);
  void ApplyDisplayTags(int frame);
  void RunFrameActions();
  void Run(const ActionList& actions);
  // The timeline that navigation actions act on: this one, or SetTarget's.
  Timeline* Target();
  void DoGetUrl(const std::string& url, const std::string& target);
  void DoGetUrl2(uint8_t flags, std::string url, const std::string& target);
  void DoPush(const std::vector<::swf::PushValue>& values);
  void PushOnStack(Value v);
  Value Pop();
  std::string ExternalRequest(const std::vector<Value>& args) const;
  Value DecodeExternalValue(const std::string& xml);
  // A string value; its bytes are charged to the step.
  Value MakeString(std::string text);
  ActionBudget& Budget() { return host_.Budget(); }
  static double ToNumber(const Value& v);
  static bool ToBool(const Value& v);
  static bool TypedEquals(const Value& a, const Value& b);

  Movie movie_;
  TimelineHost& host_;
  int current_ = 0;
  bool playing_ = true;
  bool loop_ = true;
  int pendingFrame_ = -1;  // frame whose actions still have to run
  std::vector<Value> stack_;
  size_t stackBytes_ = 0;
  // The last ConstantPool's strings, where the movie keeps them (it lives as long as we do).
  const std::vector<std::string>* constants_ = nullptr;
  std::map<std::string, std::string> variables_;
  size_t variableBytes_ = 0;
  std::map<uint16_t, const Tag*> characters_;
  std::map<uint16_t, Placement> displayList_;
  int builtFrame_ = -1;  // the frame whose display list displayList_ is
  std::string target_;   // SetTarget's path; empty: this timeline
  int running_ = 0;      // runs of our lists in progress: a running timeline is not entered again
};

// XML text escaping for <string> values of the ExternalInterface protocol.
std::string XmlEscape(const std::string& text);
// The same, appended to `out`; an SwfError as soon as `out` would grow past `limit` bytes.
void AppendXmlEscaped(std::string& out, const std::string& text, size_t limit);
std::string XmlUnescape(const std::string& text);

}  // namespace standin::swf
