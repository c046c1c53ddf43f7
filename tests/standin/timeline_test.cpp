#include "swf/timeline.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(host.calls, (std::vector<std::string>{"fs:fullscreen|true", "fs:quit|",
                                                  "load:1|files/large/2.swf", "load:3|",
                                                  "url:http://example.com/|_blank"}));
}

TEST(Timeline, GetUrl2FromTheStack) {
  RecordingHost host;
  // url = "FSCommand:" + "fullscreen", target "false"; then loadMovieNum("c.swf", 2).
  Bytes actions = Cat({PushString("FSCommand:"), PushString("fullscreen"), {0x21},
                       PushString("false"), Record(0x9A, {0x00}), PushString("c.swf"),
                       PushString("_level2"), Record(0x9A, {0x40})});
  Timeline t(Frames({actions}), host);
  t.Start();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"fs:fullscreen|false", "load:2|c.swf"}));
}

TEST(Timeline, ExternalInterfaceCallRaisesTheInvokeAndPushesTheAnswer) {
  RecordingHost host;
  host.answer = "<string>pong &amp; more</string>";
  // answer = ExternalInterface.call("ping", "a<b");
  Bytes actions = Cat({PushString("answer"), PushString("a<b"), PushString("ping"), PushInt(2),
                       PushString("flash"), {0x1C}, PushString("external"), {0x4E},
                       PushString("ExternalInterface"), {0x4E}, PushString("call"), {0x52},
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

}  // namespace
}  // namespace standin::swf
