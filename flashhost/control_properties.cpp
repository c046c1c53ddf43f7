#include <ole2.h>
#include <olectl.h>

#include <algorithm>

#include "core/com.h"
#include "flashhost/control_link.h"
#include "flashhost/flash_player_control.h"
#include "runtime/code_provider.h"

namespace pageturn {

namespace {

// The clamped runtime versions through which a member is reached, as bit sets.
using TVersions = unsigned;
constexpr TVersions kV3to8 = 0x1F8;
constexpr TVersions kSWRemoteVersions = (1u << 4) | (1u << 5) | (1u << 7) | (1u << 8);
constexpr TVersions kStackingVersions = 1u << 5;
constexpr TVersions kLateVersions = (1u << 7) | (1u << 8);

bool Allows(TVersions versions, int clamped) {
  return clamped >= 0 && clamped <= 8 && ((versions >> clamped) & 1u) != 0;
}

// A BSTR made for one call, freed after it.
class TBStr {
 public:
  explicit TBStr(const std::wstring& text)
      : text_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!text_) throw std::bad_alloc();
  }
  ~TBStr() { ::SysFreeString(text_); }
  TBStr(const TBStr&) = delete;
  TBStr& operator=(const TBStr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

// A BSTR the runtime returns, freed on every path.
class TBStrResult {
 public:
  TBStrResult() = default;
  ~TBStrResult() { ::SysFreeString(text_); }
  TBStrResult(const TBStrResult&) = delete;
  TBStrResult& operator=(const TBStrResult&) = delete;
  BSTR* Out() { return &text_; }
  std::wstring Text() const {
    return text_ ? std::wstring(text_, ::SysStringLen(text_)) : std::wstring();
  }

 private:
  BSTR text_ = nullptr;
};

WordBool Normalised(WordBool value) { return value ? -1 : 0; }

}  // namespace

// ---- versions and the runtime's interface

std::uint32_t TFlashPlayerControl::RuntimeFileVersion() {
  return CodeProvider ? CodeProvider->RuntimeVersion : 0;
}

ComPtr<IShockwaveFlash> TFlashPlayerControl::Flash() {
  if (!oleObject_) throw OleError(E_NOINTERFACE);
  ComPtr<IShockwaveFlash> flash;
  OleCheck(oleObject_->QueryInterface(IID_IShockwaveFlash,
                                      reinterpret_cast<void**>(flash.GetAddressOf())));
  if (!flash) throw OleError(E_NOINTERFACE);
  return flash;
}

int TFlashPlayerControl::FlashMajorVersion() {
  if (!oleObject_) return -1;
  return (FlashVersion() >> 16) & 0xFF;
}

int TFlashPlayerControl::ClampedVersion() { return std::min(FlashMajorVersion(), 8); }

bool TFlashPlayerControl::MethodAllowed(int lowest) {
  if (!oleObject_) return false;
  return ClampedVersion() >= lowest;
}

// ---- property accessors: caches, gates, discarded failures

template <class T, class Get>
T TFlashPlayerControl::GetValue(const T& cached, TVersions versions, Get get) {
  T result = cached;
  if (!oleObject_) return result;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      ComPtr<IShockwaveFlash> flash = Flash();
      T live{};
      OleCheck(get(flash.Get(), version, &live));
      result = live;
    }
  } catch (...) {
  }
  return result;
}

template <class Get>
std::wstring TFlashPlayerControl::GetText(const std::wstring& cached, TVersions versions, Get get) {
  std::wstring result = cached;
  if (!oleObject_) return result;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      result.clear();
      ComPtr<IShockwaveFlash> flash = Flash();
      TBStrResult text;
      OleCheck(get(flash.Get(), version, text.Out()));
      result = text.Text();
    }
  } catch (...) {
  }
  return result;
}

template <class Put>
void TFlashPlayerControl::PutValue(TVersions versions, Put put) {
  if (!oleObject_) return;
  try {
    const int version = ClampedVersion();
    if (Allows(versions, version)) {
      ComPtr<IShockwaveFlash> flash = Flash();
      put(flash.Get(), version);
    }
  } catch (...) {
  }
}

// The three accessor shapes, one line per property below.
#define PAGETURN_INT_PROPERTY(Name, field, member, Type)                                      \
  int TFlashPlayerControl::Name() {                                                           \
    return static_cast<int>(                                                                  \
        GetValue<Type>(static_cast<Type>(cache_.field), kV3to8,                               \
                       [](IShockwaveFlash* f, int, Type* v) { return f->get_##member(v); })); \
  }                                                                                           \
  void TFlashPlayerControl::Set##Name(int value) {                                            \
    cache_.field = value;                                                                     \
    PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_##member(value); });               \
  }
#define PAGETURN_BOOL_PROPERTY(Name, field, member)                                    \
  WordBool TFlashPlayerControl::Name() {                                               \
    return GetValue<VARIANT_BOOL>(                                                     \
        cache_.field, kV3to8,                                                          \
        [](IShockwaveFlash* f, int, VARIANT_BOOL* v) { return f->get_##member(v); });  \
  }                                                                                    \
  void TFlashPlayerControl::Set##Name(WordBool value) {                                \
    cache_.field = Normalised(value);                                                  \
    PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_##member(cache_.field); }); \
  }
#define PAGETURN_TEXT_PROPERTY(Name, field, member, versions)                            \
  std::wstring TFlashPlayerControl::Name() {                                             \
    return GetText(cache_.field, versions,                                               \
                   [](IShockwaveFlash* f, int, BSTR* v) { return f->get_##member(v); }); \
  }                                                                                      \
  void TFlashPlayerControl::Set##Name(const std::wstring& value) {                       \
    cache_.field = value;                                                                \
    PutValue(versions, [&](IShockwaveFlash* f, int) {                                    \
      TBStr text(value);                                                                 \
      f->put_##member(text);                                                             \
    });                                                                                  \
  }

// Base also renews the copy that binding threads are given (see KeepBaseForBinds).
#define PAGETURN_TEXT_PROPERTY_KEEPING_BASE(Name, field, member, versions)               \
  std::wstring TFlashPlayerControl::Name() {                                             \
    return GetText(cache_.field, versions,                                               \
                   [](IShockwaveFlash* f, int, BSTR* v) { return f->get_##member(v); }); \
  }                                                                                      \
  void TFlashPlayerControl::Set##Name(const std::wstring& value) {                       \
    cache_.field = value;                                                                \
    PutValue(versions, [&](IShockwaveFlash* f, int) {                                    \
      TBStr text(value);                                                                 \
      f->put_##member(text);                                                             \
    });                                                                                  \
    KeepBaseForBinds();                                                                  \
  }

PAGETURN_TEXT_PROPERTY(Movie, movie, Movie, kV3to8)
PAGETURN_INT_PROPERTY(FrameNum, frameNum, FrameNum, long)
PAGETURN_INT_PROPERTY(Quality, quality, Quality, int)
PAGETURN_INT_PROPERTY(ScaleMode, scaleMode, ScaleMode, int)
PAGETURN_INT_PROPERTY(AlignMode, alignMode, AlignMode, int)
PAGETURN_INT_PROPERTY(BackgroundColor, backgroundColor, BackgroundColor, long)
PAGETURN_BOOL_PROPERTY(Loop, loop, Loop)
PAGETURN_TEXT_PROPERTY(WMode, wMode, WMode, kV3to8)
PAGETURN_TEXT_PROPERTY(SAlign, sAlign, SAlign, kV3to8)
PAGETURN_BOOL_PROPERTY(Menu, menu, Menu)
PAGETURN_TEXT_PROPERTY_KEEPING_BASE(Base, base, Base, kV3to8)
PAGETURN_TEXT_PROPERTY(Scale, scale, Scale, kV3to8)
PAGETURN_BOOL_PROPERTY(DeviceFont, deviceFont, DeviceFont)
PAGETURN_BOOL_PROPERTY(EmbedMovie, embedMovie, EmbedMovie)
PAGETURN_TEXT_PROPERTY(BGColor, bgColor, BGColor, kV3to8)
PAGETURN_TEXT_PROPERTY(Quality2, quality2, Quality2, kV3to8)
PAGETURN_TEXT_PROPERTY(FlashVars, flashVars, FlashVars, kLateVersions)
PAGETURN_TEXT_PROPERTY(AllowScriptAccess, allowScriptAccess, AllowScriptAccess, kLateVersions)
PAGETURN_TEXT_PROPERTY(MovieData, movieData, MovieData, kLateVersions)

#undef PAGETURN_INT_PROPERTY
#undef PAGETURN_BOOL_PROPERTY
#undef PAGETURN_TEXT_PROPERTY
#undef PAGETURN_TEXT_PROPERTY_KEEPING_BASE

void TFlashPlayerControl::KeepBaseForBinds() {
  // Taken here, on the GUI thread, whenever the base is set: binding threads and file opens take
  // this copy and never call into the runtime object, which belongs to this thread. It is the
  // base as set, which is what the runtime answers for it; asking the runtime here would add a
  // call to every setter.
  link_->KeepBase(cache_.base);
}

int TFlashPlayerControl::ReadyState() {
  return GetValue<long>(cache_.readyState, kV3to8,
                        [](IShockwaveFlash* f, int, long* v) { return f->get_ReadyState(v); });
}

int TFlashPlayerControl::TotalFrames() {
  return GetValue<long>(cache_.totalFrames, kV3to8,
                        [](IShockwaveFlash* f, int, long* v) { return f->get_TotalFrames(v); });
}

// Playing reaches the runtime only at run time.
WordBool TFlashPlayerControl::Playing() {
  if (DesignMode()) return cache_.playing;
  return GetValue<VARIANT_BOOL>(
      cache_.playing, kV3to8,
      [](IShockwaveFlash* f, int, VARIANT_BOOL* v) { return f->get_Playing(v); });
}

void TFlashPlayerControl::SetPlaying(WordBool value) {
  cache_.playing = Normalised(value);
  if (DesignMode()) return;
  PutValue(kV3to8, [&](IShockwaveFlash* f, int) { f->put_Playing(cache_.playing); });
}

// SWRemote sits after TGetPropertyNum on runtimes 4 and 5, after TGetPropertyAsNumber later.
std::wstring TFlashPlayerControl::SWRemote() {
  return GetText(cache_.swRemote, kSWRemoteVersions, [](IShockwaveFlash* f, int version, BSTR* v) {
    return version >= 7 ? f->get_SWRemote(v)
                        : reinterpret_cast<IShockwaveFlash5*>(f)->get_SWRemote(v);
  });
}

void TFlashPlayerControl::SetSWRemote(const std::wstring& value) {
  cache_.swRemote = value;
  PutValue(kSWRemoteVersions, [&](IShockwaveFlash* f, int version) {
    TBStr text(value);
    if (version >= 7)
      f->put_SWRemote(text);
    else
      reinterpret_cast<IShockwaveFlash5*>(f)->put_SWRemote(text);
  });
}

std::wstring TFlashPlayerControl::Stacking() {
  return GetText(cache_.stacking, kStackingVersions, [](IShockwaveFlash* f, int, BSTR* v) {
    return reinterpret_cast<IShockwaveFlash5*>(f)->get_Stacking(v);
  });
}

void TFlashPlayerControl::SetStacking(const std::wstring& value) {
  cache_.stacking = value;
  PutValue(kStackingVersions, [&](IShockwaveFlash* f, int) {
    TBStr text(value);
    reinterpret_cast<IShockwaveFlash5*>(f)->put_Stacking(text);
  });
}

// Gated by the module version of the loaded runtime, not by FlashVersion.
WordBool TFlashPlayerControl::AllowFullscreen() {
  WordBool result = cache_.allowFullscreen;
  if (!oleObject_ || RuntimeFileVersion() < AllowFullscreenModuleVersion) return result;
  try {
    ComPtr<IShockwaveFlash> flash = Flash();
    TBStrResult text;
    OleCheck(flash->get_AllowFullScreen(text.Out()));
    result = text.Text() == L"true" ? -1 : 0;
  } catch (...) {
  }
  return result;
}

void TFlashPlayerControl::SetAllowFullscreen(WordBool value) {
  cache_.allowFullscreen = value;  // kept as given
  if (!oleObject_ || RuntimeFileVersion() < AllowFullscreenModuleVersion) return;
  try {
    ComPtr<IShockwaveFlash> flash = Flash();
    TBStr text(value ? L"true" : L"false");
    flash->put_AllowFullScreen(text);
  } catch (...) {
  }
}

// ---- method wrappers: gated, failures raised

void TFlashPlayerControl::SetZoomRect(int left, int top, int right, int bottom) {
  if (MethodAllowed(3)) OleCheck(Flash()->SetZoomRect(left, top, right, bottom));
}
void TFlashPlayerControl::Zoom(int factor) {
  if (MethodAllowed(3)) OleCheck(Flash()->Zoom(factor));
}
void TFlashPlayerControl::Pan(int x, int y, int mode) {
  if (MethodAllowed(3)) OleCheck(Flash()->Pan(x, y, mode));
}
void TFlashPlayerControl::Play() {
  if (MethodAllowed(3)) OleCheck(Flash()->Play());
}
void TFlashPlayerControl::Stop() {
  if (MethodAllowed(3)) OleCheck(Flash()->Stop());
}
void TFlashPlayerControl::Back() {
  if (MethodAllowed(3)) OleCheck(Flash()->Back());
}
void TFlashPlayerControl::Forward() {
  if (MethodAllowed(3)) OleCheck(Flash()->Forward());
}
void TFlashPlayerControl::Rewind() {
  if (MethodAllowed(3)) OleCheck(Flash()->Rewind());
}
void TFlashPlayerControl::StopPlay() {
  if (MethodAllowed(3)) OleCheck(Flash()->StopPlay());
}
void TFlashPlayerControl::GotoFrame(int frameNum) {
  if (MethodAllowed(3)) OleCheck(Flash()->GotoFrame(frameNum));
}
int TFlashPlayerControl::CurrentFrame() {
  long frame = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->CurrentFrame(&frame));
  return frame;
}
WordBool TFlashPlayerControl::IsPlaying() {
  VARIANT_BOOL playing = VARIANT_TRUE;
  if (MethodAllowed(3)) OleCheck(Flash()->IsPlaying(&playing));
  return playing;
}
int TFlashPlayerControl::PercentLoaded() {
  long percent = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->PercentLoaded(&percent));
  return percent;
}
WordBool TFlashPlayerControl::FrameLoaded(int frameNum) {
  VARIANT_BOOL loaded = VARIANT_TRUE;
  if (MethodAllowed(3)) OleCheck(Flash()->FrameLoaded(frameNum, &loaded));
  return loaded;
}
int TFlashPlayerControl::FlashVersion() {
  long version = 0;
  OleCheck(Flash()->FlashVersion(&version));  // Flash() raises without an object
  return version;
}
void TFlashPlayerControl::LoadMovie(int layer, const std::wstring& url) {
  try {
    if (MethodAllowed(3)) Flash()->LoadMovie(layer, TBStr(url));
  } catch (...) {
    // A layer the runtime refuses is not the caller's failure.
  }
}
void TFlashPlayerControl::TGotoFrame(const std::wstring& target, int frameNum) {
  if (MethodAllowed(3)) OleCheck(Flash()->TGotoFrame(TBStr(target), frameNum));
}
void TFlashPlayerControl::TGotoLabel(const std::wstring& target, const std::wstring& label) {
  if (MethodAllowed(3)) OleCheck(Flash()->TGotoLabel(TBStr(target), TBStr(label)));
}
int TFlashPlayerControl::TCurrentFrame(const std::wstring& target) {
  long frame = 0;
  if (MethodAllowed(3)) OleCheck(Flash()->TCurrentFrame(TBStr(target), &frame));
  return frame;
}
std::wstring TFlashPlayerControl::TCurrentLabel(const std::wstring& target) {
  if (!MethodAllowed(3)) return std::wstring();
  TBStrResult label;
  OleCheck(Flash()->TCurrentLabel(TBStr(target), label.Out()));
  return label.Text();
}
void TFlashPlayerControl::TPlay(const std::wstring& target) {
  if (MethodAllowed(3)) OleCheck(Flash()->TPlay(TBStr(target)));
}
void TFlashPlayerControl::TStopPlay(const std::wstring& target) {
  if (MethodAllowed(3)) OleCheck(Flash()->TStopPlay(TBStr(target)));
}
void TFlashPlayerControl::SetVariable(const std::wstring& name, const std::wstring& value) {
  if (MethodAllowed(4)) OleCheck(Flash()->SetVariable(TBStr(name), TBStr(value)));
}
std::wstring TFlashPlayerControl::GetVariable(const std::wstring& name) {
  if (!MethodAllowed(4)) return std::wstring();
  TBStrResult value;
  OleCheck(Flash()->GetVariable(TBStr(name), value.Out()));
  return value.Text();
}
void TFlashPlayerControl::TSetProperty(const std::wstring& target, int property,
                                       const std::wstring& value) {
  if (MethodAllowed(4)) OleCheck(Flash()->TSetProperty(TBStr(target), property, TBStr(value)));
}
std::wstring TFlashPlayerControl::TGetProperty(const std::wstring& target, int property) {
  if (!MethodAllowed(4)) return std::wstring();
  TBStrResult value;
  OleCheck(Flash()->TGetProperty(TBStr(target), property, value.Out()));
  return value.Text();
}
void TFlashPlayerControl::TCallFrame(const std::wstring& target, int frameNum) {
  if (MethodAllowed(4)) OleCheck(Flash()->TCallFrame(TBStr(target), frameNum));
}
void TFlashPlayerControl::TCallLabel(const std::wstring& target, const std::wstring& label) {
  if (MethodAllowed(4)) OleCheck(Flash()->TCallLabel(TBStr(target), TBStr(label)));
}
void TFlashPlayerControl::TSetPropertyNum(const std::wstring& target, int property, double value) {
  if (MethodAllowed(4)) OleCheck(Flash()->TSetPropertyNum(TBStr(target), property, value));
}
double TFlashPlayerControl::TGetPropertyNum(const std::wstring& target, int property) {
  double value = 0.0;
  if (MethodAllowed(4)) OleCheck(Flash()->TGetPropertyNum(TBStr(target), property, &value));
  return value;
}
double TFlashPlayerControl::TGetPropertyAsNumber(const std::wstring& target, int property) {
  double value = 0.0;
  if (MethodAllowed(7)) OleCheck(Flash()->TGetPropertyAsNumber(TBStr(target), property, &value));
  return value;
}
std::wstring TFlashPlayerControl::CallFunction(const std::wstring& request) {
  if (!MethodAllowed(8)) return std::wstring();
  TBStrResult response;
  OleCheck(Flash()->CallFunction(TBStr(request), response.Out()));
  return response.Text();
}
void TFlashPlayerControl::SetReturnValue(const std::wstring& returnValue) {
  if (MethodAllowed(8)) OleCheck(Flash()->SetReturnValue(TBStr(returnValue)));
}

}  // namespace pageturn
