// Properties and methods against fake runtimes of versions 3 to 10, each presenting the interface
// layout of its version: which members reach the runtime, through which slot, and what comes back
// from caches, refusals and failures. The runtime is never asked by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "core/text.h"
#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using Gates = FakeRuntimeTest;

constexpr unsigned V(std::initializer_list<int> versions) {
  unsigned set = 0;
  for (int v : versions) set |= 1u << v;
  return set;
}
constexpr unsigned k3to8 = 0x1F8;

struct TMember {
  const char* name;
  std::function<void(TFlashPlayerControl&)> use;
  const char* call;    // what the runtime must see when the gate passes
  unsigned versions;   // clamped versions that pass
};

const std::vector<TMember>& Members() {
  static const std::vector<TMember> members = {
      {"Movie set", [](auto& c) { c.SetMovie(L"m.swf"); }, "put_Movie(m.swf)", k3to8},
      {"Movie get", [](auto& c) { c.Movie(); }, "get_Movie", k3to8},
      {"FrameNum set", [](auto& c) { c.SetFrameNum(4); }, "put_FrameNum(4)", k3to8},
      {"Playing set", [](auto& c) { c.SetPlaying(1); }, "put_Playing(-1)", k3to8},
      {"Quality get", [](auto& c) { c.Quality(); }, "get_Quality", k3to8},
      {"ScaleMode set", [](auto& c) { c.SetScaleMode(2); }, "put_ScaleMode(2)", k3to8},
      {"AlignMode set", [](auto& c) { c.SetAlignMode(3); }, "put_AlignMode(3)", k3to8},
      {"BackgroundColor set", [](auto& c) { c.SetBackgroundColor(255); },
       "put_BackgroundColor(255)", k3to8},
      {"Loop set", [](auto& c) { c.SetLoop(7); }, "put_Loop(-1)", k3to8},
      {"WMode set", [](auto& c) { c.SetWMode(L"window"); }, "put_WMode(window)", k3to8},
      {"SAlign set", [](auto& c) { c.SetSAlign(L"LT"); }, "put_SAlign(LT)", k3to8},
      {"Menu set", [](auto& c) { c.SetMenu(0); }, "put_Menu(0)", k3to8},
      {"Base get", [](auto& c) { c.Base(); }, "get_Base", k3to8},
      {"Scale set", [](auto& c) { c.SetScale(L"showall"); }, "put_Scale(showall)", k3to8},
      {"DeviceFont set", [](auto& c) { c.SetDeviceFont(1); }, "put_DeviceFont(-1)", k3to8},
      {"EmbedMovie set", [](auto& c) { c.SetEmbedMovie(1); }, "put_EmbedMovie(-1)", k3to8},
      {"BGColor set", [](auto& c) { c.SetBGColor(L"#FFFFFF"); }, "put_BGColor(#FFFFFF)", k3to8},
      {"Quality2 set", [](auto& c) { c.SetQuality2(L"high"); }, "put_Quality2(high)", k3to8},
      {"ReadyState", [](auto& c) { c.ReadyState(); }, "get_ReadyState", k3to8},
      {"TotalFrames", [](auto& c) { c.TotalFrames(); }, "get_TotalFrames", k3to8},
      {"SWRemote set", [](auto& c) { c.SetSWRemote(L"r"); }, "put_SWRemote(r)", V({4, 5, 7, 8})},
      {"SWRemote get", [](auto& c) { c.SWRemote(); }, "get_SWRemote", V({4, 5, 7, 8})},
      {"Stacking set", [](auto& c) { c.SetStacking(L"below"); }, "put_Stacking(below)", V({5})},
      {"Stacking get", [](auto& c) { c.Stacking(); }, "get_Stacking", V({5})},
      {"FlashVars set", [](auto& c) { c.SetFlashVars(L"a=1"); }, "put_FlashVars(a=1)", V({7, 8})},
      {"AllowScriptAccess get", [](auto& c) { c.AllowScriptAccess(); }, "get_AllowScriptAccess",
       V({7, 8})},
      {"MovieData set", [](auto& c) { c.SetMovieData(L"d"); }, "put_MovieData(d)", V({7, 8})},
      {"Play", [](auto& c) { c.Play(); }, "Play", k3to8},
      {"Pan", [](auto& c) { c.Pan(1, 2, 0); }, "Pan(1,2,0)", k3to8},
      {"GotoFrame", [](auto& c) { c.GotoFrame(3); }, "GotoFrame(3)", k3to8},
      {"LoadMovie", [](auto& c) { c.LoadMovie(1, L"l.swf"); }, "LoadMovie(1,l.swf)", k3to8},
      {"TPlay", [](auto& c) { c.TPlay(L"/clip"); }, "TPlay(/clip)", k3to8},
      {"SetVariable", [](auto& c) { c.SetVariable(L"a", L"b"); }, "SetVariable(a,b)",
       V({4, 5, 6, 7, 8})},
      {"TGetPropertyNum", [](auto& c) { c.TGetPropertyNum(L"/", 2); }, "TGetPropertyNum(/,2)",
       V({4, 5, 6, 7, 8})},
      {"TGetPropertyAsNumber", [](auto& c) { c.TGetPropertyAsNumber(L"/", 2); },
       "TGetPropertyAsNumber(/,2)", V({7, 8})},
      {"CallFunction", [](auto& c) { c.CallFunction(L"<invoke/>"); }, "CallFunction(<invoke/>)",
       V({8})},
      {"SetReturnValue", [](auto& c) { c.SetReturnValue(L"<null/>"); }, "SetReturnValue(<null/>)",
       V({8})},
  };
  return members;
}

TEST_F(Gates, EachMemberReachesTheRuntimeOnlyInItsVersionsAndThroughItsSlot) {
  for (int version = 3; version <= 10; ++version) {
    script.majorVersion = version;
    MakeControl();
    ASSERT_NE(fake, nullptr);
    EXPECT_EQ(control->FlashMajorVersion(), version);
    const int clamped = std::min(version, 8);
    for (const TMember& member : Members()) {
      SCOPED_TRACE("version " + std::to_string(version) + ", " + member.name);
      fake->calls.clear();
      member.use(*control);
      const bool passes = (member.versions >> clamped) & 1u;
      // Exactly the one member, or nothing: a call by a slot of the wrong layout would show as
      // another name.
      EXPECT_EQ(fake->Calls(), passes ? member.call : "");
    }
  }
}

TEST_F(Gates, AllowFullscreenFollowsTheModuleVersionNotFlashVersion) {
  struct TCase {
    std::uint32_t moduleVersion;
    int flashVersion;
    bool reaches;
  } cases[] = {
      {0x09001000, 10, false},  // 9.0.16.0
      {0x09001BFF, 9, false},
      {0x09001C00, 3, true},  // 9.0.28.0, whatever FlashVersion says
      {0x0A010000, 10, true},
      {0, 10, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.moduleVersion));
    script.majorVersion = c.flashVersion;
    CodeProvider->RuntimeVersion = c.moduleVersion;
    MakeControl();
    fake->calls.clear();
    control->SetAllowFullscreen(5);
    EXPECT_EQ(fake->Calls(), c.reaches ? "put_AllowFullScreen(true)" : "");
    control->SetAllowFullscreen(0);
    EXPECT_EQ(fake->Calls("put"), c.reaches ? "put_AllowFullScreen(true),put_AllowFullScreen(false)" : "");
    control->SetAllowFullscreen(5);
    fake->texts["AllowFullScreen"] = L"TRUE";  // not the exact text
    EXPECT_EQ(control->AllowFullscreen(), c.reaches ? 0 : 5) << "the cache keeps 5 as set";
    fake->texts["AllowFullScreen"] = L"true";
    EXPECT_EQ(control->AllowFullscreen(), c.reaches ? -1 : 5);
  }
}

TEST_F(Gates, CachesRefusalsAndFailures) {
  // No runtime object: everything from the caches, methods give their defaults.
  CodeProvider->GetClassObjectProc = nullptr;
  MakeControl();
  ASSERT_EQ(control->RuntimeObject(), nullptr);
  control->SetMovie(L"before.swf");
  control->SetPlaying(5);
  control->SetAllowFullscreen(5);
  control->SetSWRemote(L"kept");
  EXPECT_EQ(control->Movie(), L"before.swf");
  EXPECT_EQ(control->Playing(), -1) << "stored as true";
  EXPECT_EQ(control->AllowFullscreen(), 5) << "stored as given";
  EXPECT_EQ(control->SWRemote(), L"kept");
  EXPECT_EQ(control->IsPlaying(), -1);
  EXPECT_EQ(control->FrameLoaded(3), -1);
  EXPECT_EQ(control->CurrentFrame(), 0);
  EXPECT_EQ(control->GetVariable(L"x"), L"");
  EXPECT_EQ(control->ReadyState(), 0);
  EXPECT_NO_THROW(control->Play());
  EXPECT_THROW(control->FlashVersion(), OleError);

  // Version 6: SWRemote stays in the cache and reads back from it.
  CodeProvider->GetClassObjectProc = nullptr;
  TFakeRuntime::Install(script);
  script.majorVersion = 6;
  MakeControl();
  control->SetSWRemote(L"six");
  EXPECT_EQ(control->SWRemote(), L"six");
  EXPECT_EQ(fake->Calls("put_SWRemote"), "");

  // A live runtime answers with its value; the cache is not updated by a read.
  script.majorVersion = 9;
  MakeControl();
  control->SetQuality(1);
  fake->numbers["Quality"] = 3;
  EXPECT_EQ(control->Quality(), 3);
  fake->texts["Movie"] = L"live.swf";
  EXPECT_EQ(control->Movie(), L"live.swf");

  // A failing runtime: strings come back empty, numbers and booleans from the cache, setters
  // keep the new value, wrappers raise (LoadMovie excepted).
  script.runtimeCalls = E_ACCESSDENIED;
  control->SetMovie(L"refused.swf");
  control->SetFrameNum(12);
  control->SetLoop(1);
  EXPECT_EQ(control->Movie(), L"");
  EXPECT_EQ(control->FrameNum(), 12);
  EXPECT_EQ(control->Loop(), -1);
  script.runtimeCalls = S_OK;
  fake->texts["Movie"] = L"";
  script.runtimeCalls = E_ACCESSDENIED;
  try {
    control->Play();
    ADD_FAILURE() << "Play did not raise";
  } catch (const OleError& e) {
    EXPECT_EQ(e.hr(), E_ACCESSDENIED);
  }
  EXPECT_THROW(control->GetVariable(L"v"), OleError);
  EXPECT_NO_THROW(control->LoadMovie(0, L"x.swf"));
  EXPECT_EQ(fake->Calls("Invoke") + fake->Calls("GetIDsOfNames"), "") << "never by name";
}

TEST_F(Gates, MethodResultsComeFromTheRuntime) {
  MakeControl();
  EXPECT_EQ(control->CurrentFrame(), 7);
  EXPECT_EQ(control->IsPlaying(), 0);
  EXPECT_EQ(control->PercentLoaded(), 42);
  EXPECT_EQ(control->FrameLoaded(2), 0);
  EXPECT_EQ(control->TCurrentFrame(L"/"), 3);
  EXPECT_EQ(control->TCurrentLabel(L"/"), L"label");
  EXPECT_EQ(control->TGetProperty(L"/", 1), L"prop");
  EXPECT_DOUBLE_EQ(control->TGetPropertyNum(L"/", 1), 1.5);
  EXPECT_DOUBLE_EQ(control->TGetPropertyAsNumber(L"/", 1), 2.5);
  EXPECT_EQ(control->CallFunction(L"<invoke/>"), L"<string>answer</string>");
  EXPECT_EQ(control->FlashVersion(), 9 << 16);
}

// Playing reaches the runtime only at run time: in design mode it is the cache both ways.
TEST_F(Gates, PlayingStaysWithTheCacheInDesignMode) {
  MakeControl();
  fake->numbers["Playing"] = 0;
  control->SetDesignMode(true);
  fake->calls.clear();
  control->SetPlaying(1);
  EXPECT_EQ(control->Playing(), -1);
  EXPECT_EQ(fake->Calls("put_Playing") + fake->Calls("get_Playing"), "");
  control->SetDesignMode(false);
  EXPECT_EQ(control->Playing(), 0) << "the runtime's own value at run time";
  control->SetPlaying(1);
  EXPECT_EQ(fake->Calls("put_Playing"), "put_Playing(-1)");
}

// Every published property both ways: a value set reaches the runtime through its own member
// and the runtime's value comes back through its own member; without a runtime each reads back
// what was set (booleans stored as -1).
TEST_F(Gates, EveryPropertyGoesBothWaysAndKeepsItsCache) {
  using C = TFlashPlayerControl;
  struct TNumber {
    const char* name;
    std::function<void(C&, int)> set;
    std::function<int(C&)> get;
    bool boolean = false;
  } numbers[] = {
      {"FrameNum", [](C& c, int v) { c.SetFrameNum(v); }, [](C& c) { return c.FrameNum(); }},
      {"Quality", [](C& c, int v) { c.SetQuality(v); }, [](C& c) { return c.Quality(); }},
      {"ScaleMode", [](C& c, int v) { c.SetScaleMode(v); }, [](C& c) { return c.ScaleMode(); }},
      {"AlignMode", [](C& c, int v) { c.SetAlignMode(v); }, [](C& c) { return c.AlignMode(); }},
      {"BackgroundColor", [](C& c, int v) { c.SetBackgroundColor(v); },
       [](C& c) { return c.BackgroundColor(); }},
      {"Playing", [](C& c, int v) { c.SetPlaying(v); }, [](C& c) { return int{c.Playing()}; },
       true},
      {"Loop", [](C& c, int v) { c.SetLoop(v); }, [](C& c) { return int{c.Loop()}; }, true},
      {"Menu", [](C& c, int v) { c.SetMenu(v); }, [](C& c) { return int{c.Menu()}; }, true},
      {"DeviceFont", [](C& c, int v) { c.SetDeviceFont(v); },
       [](C& c) { return int{c.DeviceFont()}; }, true},
      {"EmbedMovie", [](C& c, int v) { c.SetEmbedMovie(v); },
       [](C& c) { return int{c.EmbedMovie()}; }, true},
  };
  struct TText {
    const char* name;
    std::function<void(C&, const std::wstring&)> set;
    std::function<std::wstring(C&)> get;
  } texts[] = {
      {"Movie", [](C& c, const std::wstring& v) { c.SetMovie(v); }, [](C& c) { return c.Movie(); }},
      {"WMode", [](C& c, const std::wstring& v) { c.SetWMode(v); }, [](C& c) { return c.WMode(); }},
      {"SAlign", [](C& c, const std::wstring& v) { c.SetSAlign(v); },
       [](C& c) { return c.SAlign(); }},
      {"Base", [](C& c, const std::wstring& v) { c.SetBase(v); }, [](C& c) { return c.Base(); }},
      {"Scale", [](C& c, const std::wstring& v) { c.SetScale(v); }, [](C& c) { return c.Scale(); }},
      {"BGColor", [](C& c, const std::wstring& v) { c.SetBGColor(v); },
       [](C& c) { return c.BGColor(); }},
      {"Quality2", [](C& c, const std::wstring& v) { c.SetQuality2(v); },
       [](C& c) { return c.Quality2(); }},
      {"SWRemote", [](C& c, const std::wstring& v) { c.SetSWRemote(v); },
       [](C& c) { return c.SWRemote(); }},
      {"FlashVars", [](C& c, const std::wstring& v) { c.SetFlashVars(v); },
       [](C& c) { return c.FlashVars(); }},
      {"AllowScriptAccess", [](C& c, const std::wstring& v) { c.SetAllowScriptAccess(v); },
       [](C& c) { return c.AllowScriptAccess(); }},
      {"MovieData", [](C& c, const std::wstring& v) { c.SetMovieData(v); },
       [](C& c) { return c.MovieData(); }},
  };

  MakeControl();
  int sample = 10;
  for (const TNumber& n : numbers) {
    SCOPED_TRACE(n.name);
    ++sample;
    n.set(*control, sample);
    EXPECT_EQ(fake->numbers[n.name], n.boolean ? -1 : sample) << "through put_" << n.name;
    fake->numbers[n.name] = n.boolean ? 0 : sample + 100;
    EXPECT_EQ(n.get(*control), n.boolean ? 0 : sample + 100) << "through get_" << n.name;
  }
  for (const TText& t : texts) {
    SCOPED_TRACE(t.name);
    const std::wstring given = L"set " + SystemToWide(t.name);
    t.set(*control, given);
    EXPECT_EQ(fake->texts[t.name], given) << "through put_" << t.name;
    fake->texts[t.name] = L"live " + SystemToWide(t.name);
    EXPECT_EQ(t.get(*control), fake->texts[t.name]) << "through get_" << t.name;
  }

  CodeProvider->GetClassObjectProc = nullptr;
  MakeControl();
  ASSERT_EQ(control->RuntimeObject(), nullptr);
  for (const TNumber& n : numbers) {
    SCOPED_TRACE(std::string(n.name) + " cached");
    n.set(*control, 7);
    EXPECT_EQ(n.get(*control), n.boolean ? -1 : 7);
  }
  for (const TText& t : texts) {
    SCOPED_TRACE(std::string(t.name) + " cached");
    t.set(*control, L"cached");
    EXPECT_EQ(t.get(*control), L"cached");
  }
}

}  // namespace
}  // namespace pageturn::test
