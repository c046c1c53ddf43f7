// The host's, the stand-in's and the fake runtime's declarations of the runtime's interface
// against the published table, slot by slot: each calls or answers by position, so one member
// out of place would reach a different member of a real runtime.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "flashhost/shockwave_flash.h"
#include "standin/shockwave_flash.h"
#include "tests/flashhost/published_flash.h"

namespace pageturn::test {
namespace {

// The vtable slot of a virtual member: with the C++ ABI of g++ and mingw, a pointer to a
// virtual member holds one more than the byte offset of its vtable entry. -1 for anything else.
template <class Member>
int SlotOf(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  if ((raw[0] & 1) == 0) return -1;
  return static_cast<int>((raw[0] - 1) / sizeof(void*));
}

struct TSlot {
  int published;
  const char* name;
  int host, standIn, fake;
};

TEST(InterfaceLayout, EveryDeclarationOfTheRuntimesInterfaceKeepsThePublishedSlots) {
#define PUBLISHED(slot, member)                                                                \
  TSlot {                                                                                      \
    slot, #member, SlotOf(&pageturn::IShockwaveFlash::member),                                 \
        SlotOf(&standin::IShockwaveFlash::member), SlotOf(&published::IShockwaveFlash::member) \
  }
  // The published table of runtimes 9 and 10, after IUnknown's and IDispatch's slots 0 to 6.
  const TSlot slots[] = {
      PUBLISHED(7, get_ReadyState),
      PUBLISHED(8, get_TotalFrames),
      PUBLISHED(9, get_Playing),
      PUBLISHED(10, put_Playing),
      PUBLISHED(11, get_Quality),
      PUBLISHED(12, put_Quality),
      PUBLISHED(13, get_ScaleMode),
      PUBLISHED(14, put_ScaleMode),
      PUBLISHED(15, get_AlignMode),
      PUBLISHED(16, put_AlignMode),
      PUBLISHED(17, get_BackgroundColor),
      PUBLISHED(18, put_BackgroundColor),
      PUBLISHED(19, get_Loop),
      PUBLISHED(20, put_Loop),
      PUBLISHED(21, get_Movie),
      PUBLISHED(22, put_Movie),
      PUBLISHED(23, get_FrameNum),
      PUBLISHED(24, put_FrameNum),
      PUBLISHED(25, SetZoomRect),
      PUBLISHED(26, Zoom),
      PUBLISHED(27, Pan),
      PUBLISHED(28, Play),
      PUBLISHED(29, Stop),
      PUBLISHED(30, Back),
      PUBLISHED(31, Forward),
      PUBLISHED(32, Rewind),
      PUBLISHED(33, StopPlay),
      PUBLISHED(34, GotoFrame),
      PUBLISHED(35, CurrentFrame),
      PUBLISHED(36, IsPlaying),
      PUBLISHED(37, PercentLoaded),
      PUBLISHED(38, FrameLoaded),
      PUBLISHED(39, FlashVersion),
      PUBLISHED(40, get_WMode),
      PUBLISHED(41, put_WMode),
      PUBLISHED(42, get_SAlign),
      PUBLISHED(43, put_SAlign),
      PUBLISHED(44, get_Menu),
      PUBLISHED(45, put_Menu),
      PUBLISHED(46, get_Base),
      PUBLISHED(47, put_Base),
      PUBLISHED(48, get_Scale),
      PUBLISHED(49, put_Scale),
      PUBLISHED(50, get_DeviceFont),
      PUBLISHED(51, put_DeviceFont),
      PUBLISHED(52, get_EmbedMovie),
      PUBLISHED(53, put_EmbedMovie),
      PUBLISHED(54, get_BGColor),
      PUBLISHED(55, put_BGColor),
      PUBLISHED(56, get_Quality2),
      PUBLISHED(57, put_Quality2),
      PUBLISHED(58, LoadMovie),
      PUBLISHED(59, TGotoFrame),
      PUBLISHED(60, TGotoLabel),
      PUBLISHED(61, TCurrentFrame),
      PUBLISHED(62, TCurrentLabel),
      PUBLISHED(63, TPlay),
      PUBLISHED(64, TStopPlay),
      PUBLISHED(65, SetVariable),
      PUBLISHED(66, GetVariable),
      PUBLISHED(67, TSetProperty),
      PUBLISHED(68, TGetProperty),
      PUBLISHED(69, TCallFrame),
      PUBLISHED(70, TCallLabel),
      PUBLISHED(71, TSetPropertyNum),
      PUBLISHED(72, TGetPropertyNum),
      PUBLISHED(73, TGetPropertyAsNumber),
      PUBLISHED(74, get_SWRemote),
      PUBLISHED(75, put_SWRemote),
      PUBLISHED(76, get_FlashVars),
      PUBLISHED(77, put_FlashVars),
      PUBLISHED(78, get_AllowScriptAccess),
      PUBLISHED(79, put_AllowScriptAccess),
      PUBLISHED(80, get_MovieData),
      PUBLISHED(81, put_MovieData),
      PUBLISHED(82, get_InlineData),
      PUBLISHED(83, put_InlineData),
      PUBLISHED(84, get_SeamlessTabbing),
      PUBLISHED(85, put_SeamlessTabbing),
      PUBLISHED(86, EnforceLocalSecurity),
      PUBLISHED(87, get_Profile),
      PUBLISHED(88, put_Profile),
      PUBLISHED(89, get_ProfileAddress),
      PUBLISHED(90, put_ProfileAddress),
      PUBLISHED(91, get_ProfilePort),
      PUBLISHED(92, put_ProfilePort),
      PUBLISHED(93, CallFunction),
      PUBLISHED(94, SetReturnValue),
      PUBLISHED(95, DisableLocalSecurity),
      PUBLISHED(96, get_AllowNetworking),
      PUBLISHED(97, put_AllowNetworking),
      PUBLISHED(98, get_AllowFullScreen),
      PUBLISHED(99, put_AllowFullScreen),
  };
#undef PUBLISHED
  for (const TSlot& s : slots) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.host, s.published) << "flashhost/shockwave_flash.h";
    EXPECT_EQ(s.standIn, s.published) << "standin/shockwave_flash.h";
    EXPECT_EQ(s.fake, s.published) << "tests/flashhost/published_flash.h";
  }
}

TEST(InterfaceLayout, TheOlderTailKeepsThePublishedSlots) {
  // Runtimes 4 and 5 after TGetPropertyNum (slot 72, shared by every release).
  const struct {
    int published;
    const char* name;
    int host, fake;
  } slots[] = {
#define OLDER(slot, member) \
  {slot, #member, SlotOf(&IShockwaveFlash5::member), SlotOf(&published::IShockwaveFlash5::member)}
      OLDER(72, TGetPropertyNum), OLDER(73, get_SWRemote), OLDER(74, put_SWRemote),
      OLDER(75, get_Stacking),    OLDER(76, put_Stacking),
#undef OLDER
  };
  for (const auto& s : slots) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.host, s.published) << "flashhost/shockwave_flash.h";
    EXPECT_EQ(s.fake, s.published) << "tests/flashhost/published_flash.h";
  }
}

}  // namespace
}  // namespace pageturn::test
