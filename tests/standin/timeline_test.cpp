#include "stage/timeline.h"

#include <gtest/gtest.h>

#include <memory>

#include "swf/swf_writer.h"
#include "swf_builder.h"

namespace standin::swf {
namespace {

using namespace swftest;

class RecordingHost : public TimelineHost {
 public:
  void FsCommand(const std::string& c, const std::string& a) override {
    calls.push_back("fs:" + c + "|" + a);
  }
  void LoadMovie(int level, const std::string& url) override {
    calls.push_back("load:" + std::to_string(level) + "|" + url);
  }
  void GetUrl(const std::string& url, const std::string& target) override {
    calls.push_back("url:" + url + "|" + target);
  }
  std::string ExternalCall(const std::string& request) override {
    calls.push_back("call:" + request);
    return answer;
  }
  std::vector<std::string> calls;
  std::string answer;
};

// One frame per entry, each with the given action bytes (none when empty).
Movie Frames(std::initializer_list<Bytes> frames) {
  SwfBuilder b;
  b.FrameCount(uint16_t(frames.size()));
  for (const auto& actions : frames) {
    if (!actions.empty()) b.DoAction(actions);
    b.ShowFrame();
  }
  return ReadMovie(b.End().Build(false));
}

TEST(Timeline, PlaysLoopsAndStops) {
  RecordingHost host;
  Timeline t(Frames({{}, {}, {}}), host);
  t.Start();
  EXPECT_EQ(t.CurrentFrame(), 0);
  t.Tick();
  t.Tick();
  EXPECT_EQ(t.CurrentFrame(), 2);
  t.Tick();
  EXPECT_EQ(t.CurrentFrame(), 0) << "loops by default";
  t.SetLoop(false);
  t.Tick();
  t.Tick();
  t.Tick();
  EXPECT_EQ(t.CurrentFrame(), 2);
  EXPECT_FALSE(t.Playing());
}

TEST(Timeline, NavigationActionsGoThereAndStop) {
  RecordingHost host;
  // Frame 0 stops; frame 1 jumps to frame 3; frame 3 reports through an FSCommand.
  Timeline t(Frames({kStop, GotoFrame(3), kNextFrame, GetUrl("FSCommand:at", "3")}), host);
  t.Start();
  t.Tick();
  EXPECT_EQ(t.CurrentFrame(), 0) << "Stop in frame 0";
  t.GotoFrame(1, true);
  EXPECT_EQ(t.CurrentFrame(), 3);
  EXPECT_FALSE(t.Playing());
  EXPECT_EQ(host.calls, std::vector<std::string>{"fs:at|3"}) << "the target frame's actions ran";
  t.GotoFrame(2, false);
  EXPECT_EQ(t.CurrentFrame(), 3) << "NextFrame";
  t.GotoFrame(0, false);
  Timeline back(Frames({{}, kPrevFrame}), host);
  back.Start();
  back.Tick();
  EXPECT_EQ(back.CurrentFrame(), 0) << "PrevFrame";
  EXPECT_FALSE(back.Playing());
}

TEST(Timeline, GetUrlTargets) {
  RecordingHost host;
  Timeline t(Frames({Cat({GetUrl("FSCommand:fullscreen", "true"), GetUrl("fscommand:quit", ""),
                          GetUrl("files/large/2.swf", "_level1"), GetUrl("", "_level3"),
                          GetUrl("http://example.com/", "_blank"), kStop})}),
             host);
  t.Start();
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"fs:fullscreen|true", "fs:quit|", "load:1|files/large/2.swf",
                                      "load:3|", "url:http://example.com/|_blank"}));
}

TEST(Timeline, GetUrl2FromTheStack) {
  RecordingHost host;
  // url = "FSCommand:" + "fullscreen", target "false"; then loadMovieNum("c.swf", 2).
  Bytes actions = Cat({PushString("FSCommand:"),
                       PushString("fullscreen"),
                       {0x21},
                       PushString("false"),
                       Record(0x9A, {0x00}),
                       PushString("c.swf"),
                       PushString("_level2"),
                       Record(0x9A, {0x40})});
  Timeline t(Frames({actions}), host);
  t.Start();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"fs:fullscreen|false", "load:2|c.swf"}));
}

TEST(Timeline, ExternalInterfaceCallRaisesTheInvokeAndPushesTheAnswer) {
  RecordingHost host;
  host.answer = "<string>pong &amp; more</string>";
  // answer = ExternalInterface.call("ping", "a<b");
  Bytes actions = Cat({PushString("answer"),
                       PushString("a<b"),
                       PushString("ping"),
                       PushInt(2),
                       PushString("flash"),
                       {0x1C},
                       PushString("external"),
                       {0x4E},
                       PushString("ExternalInterface"),
                       {0x4E},
                       PushString("call"),
                       {0x52},
                       {0x1D}});
  Timeline t(Frames({actions}), host);
  t.Start();
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0],
            "call:<invoke name=\"ping\" returntype=\"xml\"><arguments><string>a&lt;b</string>"
            "</arguments></invoke>");
  EXPECT_EQ(t.GetVariable("answer"), "pong & more");
}

TEST(Timeline, AFrameThatKeepsJumpingStillEndsTheStep) {
  RecordingHost host;
  Timeline t(Frames({GotoFrame(0)}), host);
  t.Start();  // must return
  EXPECT_EQ(t.CurrentFrame(), 0);
}

TEST(Timeline, MalformedActionPayloadsRaiseNotCrash) {
  RecordingHost host;
  // The reader checks action payloads now; either side may raise, neither may crash.
  EXPECT_THROW(
      {
        Timeline t(Frames({Record(0x83, Str("no target"))}), host);
        t.Start();
      },
      SwfError);
}

// Movies written by the swf room's writer, from structures.
ActionRecord Act(uint8_t code) {
  ActionRecord a;
  a.code = code;
  return a;
}
ActionRecord PushOf(std::initializer_list<::swf::PushValue> values) {
  ActionRecord a = Act(kActionPush);
  a.values = values;
  return a;
}
::swf::PushValue Str(const std::string& s) {
  ::swf::PushValue v;
  v.type = ::swf::PushValue::kString;
  v.string = s;
  return v;
}
::swf::PushValue Num(int32_t n) {
  ::swf::PushValue v;
  v.type = ::swf::PushValue::kInteger;
  v.integer = uint32_t(n);
  return v;
}
ActionRecord Fs(const std::string& command) {
  ActionRecord a = Act(kActionGetUrl);
  a.url = "FSCommand:" + command;
  return a;
}
ActionRecord Branch(uint8_t code, size_t target) {
  ActionRecord a = Act(code);
  a.branchTarget = target;
  return a;
}
Movie Written(std::vector<::swf::Frame> frames) {
  Movie m;
  m.frameSize = {0, 2000, 0, 2000};
  m.fileAttributes = 0;
  m.frames = std::move(frames);
  return ReadMovie(::swf::WriteMovie(m));
}
Movie OneList(ActionList actions) {
  ::swf::Frame f;
  f.actions = {std::move(actions)};
  return Written({f});
}

// If, Jump, Not, Equals, Equals2, Add and Add2 as a navigator uses them: each case raises
// "yes" when the condition it computes holds, else "no".
TEST(Timeline, BranchesAndComparisons) {
  struct Case {
    const char* what;
    ActionList condition;  // leaves one value
    const char* expected;
  } cases[] = {
      {"1 == 1", {PushOf({Num(1), Num(1)}), Act(kActionEquals)}, "yes"},
      {"1 == 2", {PushOf({Num(1), Num(2)}), Act(kActionEquals)}, "no"},
      {"'2' == 2 numerically", {PushOf({Str("2"), Num(2)}), Act(kActionEquals)}, "yes"},
      {"'a' equals2 'a'", {PushOf({Str("a"), Str("a")}), Act(kActionEquals2)}, "yes"},
      {"'a' equals2 'b'", {PushOf({Str("a"), Str("b")}), Act(kActionEquals2)}, "no"},
      {"not true", {PushOf({Num(1)}), Act(kActionNot)}, "no"},
      {"not ''", {PushOf({Str("")}), Act(kActionNot)}, "yes"},
      {"2 + 3 == 5",
       {PushOf({Num(2), Num(3)}), Act(kActionAdd), PushOf({Num(5)}), Act(kActionEquals)},
       "yes"},
      {"'2' add2 3 == '23'",
       {PushOf({Str("2"), Num(3)}), Act(kActionAdd2), PushOf({Str("23")}), Act(kActionEquals2)},
       "yes"},
  };
  for (const auto& c : cases) {
    // condition; If -> yes; Fs(no); Jump -> end; yes: Fs(yes)
    ActionList list = c.condition;
    size_t at = list.size();
    list.push_back(Branch(kActionIf, at + 3));
    list.push_back(Fs("no"));
    list.push_back(Branch(kActionJump, at + 4));
    list.push_back(Fs("yes"));
    RecordingHost host;
    Timeline t(OneList(list), host);
    t.Start();
    EXPECT_EQ(host.calls, std::vector<std::string>{std::string("fs:") + c.expected + "|"})
        << c.what;
  }
}

// SetTarget sends navigation to another level's timeline; "" comes back. GetURL2's flags:
// LoadTarget loads into the level, LoadVariables asks for variables, GET sends them along.
TEST(Timeline, SetTargetAndGetUrl2Flags) {
  class LevelsHost : public RecordingHost {
   public:
    Timeline* other = nullptr;
    Timeline* FindTimeline(const std::string& target) override {
      calls.push_back("find:" + target);
      return target == "_level1" ? other : nullptr;
    }
    void LoadVariables(int level, const std::string& url) override {
      calls.push_back("vars:" + std::to_string(level) + "|" + url);
    }
  } host;
  RecordingHost otherHost;
  ::swf::Frame a, b;
  b.actions = {{Fs("other at 1")}};
  Timeline other(Written({a, b}), otherHost);
  other.Start();
  host.other = &other;
  ActionRecord target = Act(kActionSetTarget);
  target.target = "_level1";
  ActionRecord back = Act(kActionSetTarget);
  auto getUrl2 = [](uint8_t flags) {
    ActionRecord r = Act(kActionGetUrl2);
    r.getUrl2Flags = flags;
    return r;
  };
  ActionRecord setVar = Act(kActionSetVariable);
  Timeline t(OneList({target, Act(kActionNextFrame), back, Act(kActionStop),
                      PushOf({Str("page"), Str("2 of 3")}), setVar,
                      PushOf({Str("next.swf"), Str("_level2")}), getUrl2(0x40),
                      PushOf({Str("vars.txt"), Str("_level1")}), getUrl2(0x80),
                      PushOf({Str("go.swf"), Str("_level3")}), getUrl2(0x01)}),
             host);
  t.Start();
  EXPECT_EQ(other.CurrentFrame(), 1) << "NextFrame went to the target";
  EXPECT_EQ(otherHost.calls, std::vector<std::string>{"fs:other at 1|"}) << "and ran its frame";
  EXPECT_EQ(t.CurrentFrame(), 0);
  EXPECT_FALSE(t.Playing()) << "Stop after SetTarget('') stopped this timeline";
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"find:_level1", "load:2|next.swf", "vars:1|vars.txt",
                                      "load:3|go.swf?page=2%20of%203"}));
}

// PlaceObject2 places, moves and replaces by depth, RemoveObject2 removes; a backward jump
// rebuilds the list from the first frame.
TEST(Timeline, DisplayListByDepthAcrossJumps) {
  auto shape = [](uint16_t id) {
    ::swf::DefineShape s;
    s.id = id;
    s.bounds = {0, 20, 0, 20};
    return s;
  };
  auto place = [](uint16_t depth, std::optional<uint16_t> id, bool move, int x) {
    ::swf::PlaceObject2 p;
    p.depth = depth;
    p.characterId = id;
    p.move = move;
    ::swf::Matrix m;
    m.translateX = x;
    p.matrix = m;
    return p;
  };
  ::swf::Frame f0, f1, f2;
  f0.tags = {shape(1), shape(2), place(1, 1, false, 0), place(2, 2, false, 0)};
  f0.actions = {{Act(kActionStop)}};
  f1.tags = {place(1, std::nullopt, true, 100), ::swf::RemoveObject2{2}};
  f2.tags = {place(1, 2, true, 300)};
  RecordingHost host;
  Timeline t(Written({f0, f1, f2}), host);
  t.Start();
  auto list = [&] {
    std::string out;
    for (const auto& [depth, p] : t.DisplayList())
      out += std::to_string(depth) + ":" + std::to_string(p.characterId) + "@" +
             std::to_string(p.matrix.translateX) + " ";
    return out;
  };
  EXPECT_EQ(list(), "1:1@0 2:2@0 ");
  t.GotoFrame(2, false);
  EXPECT_EQ(list(), "1:2@300 ") << "moved, removed, then replaced";
  t.GotoFrame(1, false);
  EXPECT_EQ(list(), "1:1@100 ") << "rebuilt going back";
  t.GotoFrame(0, false);
  EXPECT_EQ(list(), "1:1@0 2:2@0 ");
  EXPECT_NE(t.Character(2), nullptr);
  EXPECT_EQ(t.Character(9), nullptr);
}

// Strings, variables and action runs a movie cannot grow without end.
TEST(Timeline, CapsStopHostileActions) {
  std::string big(Timeline::kMaxStringLength / 2 + 1, 'x');
  ActionList grow = {PushOf({Str(big)}), PushOf({Str(big)}), Act(kActionStringAdd)};
  ActionList spin = {Branch(kActionJump, 0)};
  ActionList variables;
  for (size_t i = 0; i <= Timeline::kMaxVariables; ++i) {
    variables.push_back(PushOf({Str("v" + std::to_string(i)), Num(1)}));
    variables.push_back(Act(kActionSetVariable));
  }
  for (const ActionList& list : {grow, spin, variables}) {
    RecordingHost host;
    Timeline t(OneList(list), host);
    EXPECT_THROW(t.Start(), SwfError);
  }
  RecordingHost host;
  Timeline t(OneList({}), host);
  EXPECT_THROW(t.SetVariable("v", std::string(Timeline::kMaxStringLength + 1, 'x')), SwfError);
}

// Timelines of one player: found by "_levelN", every one on the host's one budget.
class LevelsHost : public RecordingHost {
 public:
  std::vector<std::unique_ptr<Timeline>> levels;
  Timeline* FindTimeline(const std::string& target) override {
    calls.push_back("find:" + target);
    for (size_t i = 0; i < levels.size(); ++i)
      if (target == "_level" + std::to_string(i)) return levels[i].get();
    return nullptr;
  }
  Timeline& Add(Movie movie) {
    levels.push_back(std::make_unique<Timeline>(std::move(movie), *this));
    return *levels.back();
  }
};

// `count` actions that end (a counted loop would need registers: straight Jumps to the next).
ActionList Busy(size_t count) {
  ActionList list;
  for (size_t i = 0; i < count; ++i) list.push_back(Branch(kActionJump, i + 1));
  return list;
}

ActionList SendTo(const std::string& target, uint16_t frame) {
  ActionRecord set = Act(kActionSetTarget);
  set.target = target;
  ActionRecord go = Act(kActionGotoFrame);
  go.frame = frame;
  return {set, go, Act(kActionSetTarget)};
}

// Frame 0 waits; frame 1 holds `lists`.
Movie FrameOneRuns(std::vector<ActionList> lists) {
  ::swf::Frame wait, run;
  wait.actions = {{Act(kActionStop)}};
  run.actions = std::move(lists);
  return Written({wait, run});
}

// A step's actions are counted once, whichever timeline and list they run in: a frame of many
// lists each under the budget, and a level that sends another to such a frame again and again,
// both end the step.
TEST(Timeline, OneBudgetForEveryRunOfAStep) {
  const size_t kUnderBudget = ActionBudget::kUnitsPerStep * 3 / 5;
  {
    LevelsHost host;
    Timeline& t = host.Add(FrameOneRuns({Busy(kUnderBudget), Busy(kUnderBudget)}));
    t.Start();
    try {
      t.GotoFrame(1, false);
      ADD_FAILURE() << "two lists of " << kUnderBudget << " actions ran in one step";
    } catch (const SwfError& e) {
      EXPECT_STREQ(e.what(), "too many actions in one step");
    }
  }
  {
    LevelsHost host;
    ActionList again;
    for (int i = 0; i < 2; ++i) {
      for (const auto& a : SendTo("_level1", 0)) again.push_back(a);
      for (const auto& a : SendTo("_level1", 1)) again.push_back(a);
    }
    Timeline& main = host.Add(FrameOneRuns({again}));
    Timeline& child = host.Add(FrameOneRuns({Busy(kUnderBudget)}));
    main.Start();
    child.Start();
    EXPECT_THROW(main.GotoFrame(1, false), SwfError)
        << "two visits of " << kUnderBudget << " actions each";
    EXPECT_EQ(child.CurrentFrame(), 1);
  }
  {
    // The next step has the whole budget again.
    LevelsHost host;
    Timeline& t = host.Add(FrameOneRuns({Busy(kUnderBudget)}));
    t.Start();
    for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(t.GotoFrame(1, false));
  }
}

// Each level sends the next to its frame 1, whose actions run within the sender's: the chain
// is cut at the depth limit, and the timelines beyond keep their frame for their own step.
TEST(Timeline, NestedRunsHaveABoundedDepth) {
  const int kChain = ActionBudget::kMaxDepth + 4;
  LevelsHost host;
  for (int i = 0; i < kChain; ++i) {
    ActionList list = {Fs("ran " + std::to_string(i))};
    if (i + 1 < kChain)
      for (const auto& a : SendTo("_level" + std::to_string(i + 1), 1)) list.push_back(a);
    host.Add(FrameOneRuns({list}));
  }
  for (auto& level : host.levels) level->Start();
  host.calls.clear();
  host.levels[0]->GotoFrame(1, false);
  std::vector<std::string> ran;
  for (const auto& c : host.calls)
    if (c.rfind("fs:", 0) == 0) ran.push_back(c);
  ASSERT_EQ(ran.size(), size_t(ActionBudget::kMaxDepth));
  EXPECT_EQ(ran.back(), "fs:ran " + std::to_string(ActionBudget::kMaxDepth - 1) + "|");
  Timeline& beyond = *host.levels[ActionBudget::kMaxDepth];
  EXPECT_EQ(beyond.CurrentFrame(), 1) << "sent there, its actions not run yet";
}

// The bytes a movie keeps: on the value stack, in its variables, and in an ExternalInterface
// request, whose escaping can make each byte six; the request is refused before it goes out.
TEST(Timeline, BytesAreCappedNotOnlyCounts) {
  const std::string chunk(60000, 'x');
  const std::string ampersands(60000, '&');
  ActionList stack;
  for (size_t i = 0; i * chunk.size() <= Timeline::kMaxStackBytes; ++i)
    stack.push_back(PushOf({Str(chunk)}));
  ActionList variables;
  for (size_t i = 0; i * chunk.size() <= Timeline::kMaxVariableBytes; ++i) {
    variables.push_back(PushOf({Str("v" + std::to_string(i)), Str(chunk)}));
    variables.push_back(Act(kActionSetVariable));
  }
  ActionList call;
  for (int i = 0; i < 4; ++i) call.push_back(PushOf({Str(ampersands)}));
  call.push_back(PushOf({Str("ping"), Num(5), Str("flash")}));
  call.push_back(Act(kActionGetVariable));
  call.push_back(PushOf({Str("external")}));
  call.push_back(Act(kActionGetMember));
  call.push_back(PushOf({Str("ExternalInterface")}));
  call.push_back(Act(kActionGetMember));
  call.push_back(PushOf({Str("call")}));
  call.push_back(Act(kActionCallMethod));
  struct Case {
    const char* what;
    ActionList list;
    const char* error;
  } cases[] = {
      {"stack", stack, "action stack too large"},
      {"variables", variables, "variables too large in all"},
      {"request", call, "ExternalInterface request too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingHost host;
    Timeline t(OneList(c.list), host);
    try {
      t.Start();
      ADD_FAILURE() << "ran to the end";
    } catch (const SwfError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
    EXPECT_EQ(host.calls, std::vector<std::string>{}) << "nothing reached the host";
  }
  // Replacing a variable gives its bytes back.
  RecordingHost host;
  Timeline t(OneList({}), host);
  for (int i = 0; i < 100; ++i) t.SetVariable("same", chunk);
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) t.SetVariable("v" + std::to_string(i), chunk);
      },
      SwfError);
}

}  // namespace
}  // namespace standin::swf
