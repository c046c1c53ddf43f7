// IShockwaveFlash: the properties and methods of the layout, called by slot.
#include "flash_object.h"
#include "url_resolve.h"

namespace standin {

namespace {

// Major 10 in bits 16 to 23, as runtime 10.3 reports it.
constexpr long kFlashVersion = 0x000A03B7;

}  // namespace

// ---------------------------------------------------------------------------------------------
// IShockwaveFlash

HRESULT FlashObject::GetInt(int v, int* out) const {
  if (!out) return E_POINTER;
  *out = v;
  return S_OK;
}
HRESULT FlashObject::PutInt(int& field, int v) {
  field = v;
  return S_OK;
}
HRESULT FlashObject::GetBool(bool v, VARIANT_BOOL* out) const {
  if (!out) return E_POINTER;
  *out = v ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT FlashObject::PutBool(bool& field, VARIANT_BOOL v) {
  field = v != VARIANT_FALSE;
  return S_OK;
}
HRESULT FlashObject::GetString(const std::wstring& v, BSTR* out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ReturnBstr(v, out);
}
HRESULT FlashObject::PutString(std::wstring& field, BSTR v) {
  return Guard([&] {
    field = FromBstr(v);
    return S_OK;
  });
}

// ScaleMode and Scale are two faces of one setting, as are AlignMode and SAlign: each keeps
// what was put, and the one put last is what the stage follows.
STDMETHODIMP FlashObject::put_ScaleMode(int v) {
  static const wchar_t* const kNames[] = {L"ShowAll", L"NoBorder", L"ExactFit", L"NoScale"};
  scaleMode_ = v;
  stageScale_ = v >= 0 && v <= 3 ? kNames[v] : L"ShowAll";
  OnChanged();
  return S_OK;
}

STDMETHODIMP FlashObject::put_Scale(BSTR v) {
  return Guard([&] {
    scale_ = FromBstr(v);
    stageScale_ = scale_;
    OnChanged();
    return S_OK;
  });
}

STDMETHODIMP FlashObject::put_AlignMode(int v) {
  alignMode_ = v;
  // The bits as letters: 1 left, 2 right, 4 top, 8 bottom.
  stageAlign_.clear();
  if (v & 1) stageAlign_ += L'L';
  if (v & 2) stageAlign_ += L'R';
  if (v & 4) stageAlign_ += L'T';
  if (v & 8) stageAlign_ += L'B';
  OnChanged();
  return S_OK;
}

STDMETHODIMP FlashObject::put_SAlign(BSTR v) {
  return Guard([&] {
    salign_ = FromBstr(v);
    stageAlign_ = salign_;
    OnChanged();
    return S_OK;
  });
}

STDMETHODIMP FlashObject::get_ReadyState(long* v) {
  if (!v) return E_POINTER;
  *v = readyState_;
  return S_OK;
}

STDMETHODIMP FlashObject::get_TotalFrames(long* v) {
  if (!v) return E_POINTER;
  Player::Level* main = player_.FindLevel(0);
  *v = main && main->timeline ? main->timeline->FrameCount() : 0;
  return S_OK;
}

STDMETHODIMP FlashObject::get_Playing(VARIANT_BOOL* v) {
  if (!v) return E_POINTER;
  Player::Level* main = player_.FindLevel(0);
  *v = main && main->timeline && main->timeline->Playing() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP FlashObject::put_Playing(VARIANT_BOOL v) { return v ? Play() : Stop(); }

STDMETHODIMP FlashObject::get_BackgroundColor(long* v) {
  if (!v) return E_POINTER;
  COLORREF c = BackgroundRgb();
  *v = backgroundOverride_ >= 0 ? backgroundOverride_
                                : long(GetRValue(c)) << 16 | long(GetGValue(c)) << 8 | GetBValue(c);
  return S_OK;
}

STDMETHODIMP FlashObject::put_BackgroundColor(long v) {
  backgroundOverride_ = v < 0 ? -1 : (v & 0xFFFFFF);
  OnChanged();
  return S_OK;
}

STDMETHODIMP FlashObject::get_BGColor(BSTR* v) {
  if (!v) return E_POINTER;
  *v = nullptr;
  if (backgroundOverride_ < 0) return ReturnBstr(L"", v);
  wchar_t buf[16];
  wsprintfW(buf, L"#%06lX", backgroundOverride_);
  return ReturnBstr(buf, v);
}

STDMETHODIMP FlashObject::put_BGColor(BSTR v) {
  std::wstring s = FromBstr(v);
  if (!s.empty() && s[0] == L'#') s.erase(0, 1);
  if (s.empty()) return put_BackgroundColor(-1);
  wchar_t* end = nullptr;
  long rgb = long(wcstoul(s.c_str(), &end, 16));
  if (!end || *end) return E_INVALIDARG;
  return put_BackgroundColor(rgb);
}

STDMETHODIMP FlashObject::put_Loop(VARIANT_BOOL v) {
  player_.SetLoop(v != VARIANT_FALSE);
  return S_OK;
}

STDMETHODIMP FlashObject::put_Movie(BSTR v) {
  return Guard([&] {
    movie_ = FromBstr(v);
    if (movie_.empty()) {
      player_.Unload(0);
      return S_OK;
    }
    player_.Load(0, IsAbsoluteUrl(movie_) ? movie_ : ResolveUrl(base_, L"", movie_));
    return S_OK;
  });
}

STDMETHODIMP FlashObject::get_FrameNum(long* v) {
  if (!v) return E_POINTER;
  Player::Level* main = player_.FindLevel(0);
  *v = main && main->timeline ? main->timeline->CurrentFrame() : 0;
  return S_OK;
}

STDMETHODIMP FlashObject::Play() {
  if (Player::Level* main = player_.FindLevel(0); main && main->timeline)
    main->timeline->SetPlaying(true);
  return S_OK;
}

STDMETHODIMP FlashObject::Stop() {
  if (Player::Level* main = player_.FindLevel(0); main && main->timeline)
    main->timeline->SetPlaying(false);
  return S_OK;
}

HRESULT FlashObject::GotoLevelFrame(Player::Level* level, long frame) {
  return Guard([&] {
    if (!level || !level->timeline) return E_FAIL;
    Player::ActionScope scope(player_);
    level->timeline->GotoFrame(frame, false);
    OnChanged();
    return S_OK;
  });
}

STDMETHODIMP FlashObject::Back() {
  Player::Level* main = player_.FindLevel(0);
  if (main && main->timeline) GotoLevelFrame(main, main->timeline->CurrentFrame() - 1);
  return S_OK;
}

STDMETHODIMP FlashObject::Forward() {
  Player::Level* main = player_.FindLevel(0);
  if (main && main->timeline) GotoLevelFrame(main, main->timeline->CurrentFrame() + 1);
  return S_OK;
}

STDMETHODIMP FlashObject::Rewind() { return GotoFrame(0); }

STDMETHODIMP FlashObject::GotoFrame(long frame) {
  return GotoLevelFrame(player_.FindLevel(0), frame);
}

STDMETHODIMP FlashObject::PercentLoaded(long* percent) {
  if (!percent) return E_POINTER;
  Player::Level* main = player_.FindLevel(0);
  *percent = main && main->timeline ? 100 : player_.LoadingPercent();
  return S_OK;
}

STDMETHODIMP FlashObject::FrameLoaded(long frame, VARIANT_BOOL* loaded) {
  if (!loaded) return E_POINTER;
  Player::Level* main = player_.FindLevel(0);
  *loaded = main && main->timeline && frame >= 0 && frame < main->timeline->FrameCount()
                ? VARIANT_TRUE
                : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP FlashObject::FlashVersion(long* version) {
  if (!version) return E_POINTER;
  *version = kFlashVersion;
  return S_OK;
}

std::wstring FlashObject::ResolveRequest(int level, const std::wstring& relative) const {
  Player::Level* requester = player_.FindLevel(level);
  std::wstring movieUrl = requester ? requester->url : movie_;
  if (movieUrl.empty()) movieUrl = movie_;
  return ResolveUrl(base_, movieUrl, relative);
}

STDMETHODIMP FlashObject::LoadMovie(int layer, BSTR url) {
  return Guard([&] {
    if (layer < 0) return E_INVALIDARG;
    std::wstring u = FromBstr(url);
    if (layer == 0) movie_ = u;
    if (u.empty()) {
      player_.Unload(layer);
      return S_OK;
    }
    player_.Load(layer, ResolveRequest(0, u));
    return S_OK;
  });
}

STDMETHODIMP FlashObject::TGotoFrame(BSTR target, long frame) {
  return GotoLevelFrame(player_.TargetLevel(FromBstr(target)), frame);
}

STDMETHODIMP FlashObject::TCurrentFrame(BSTR target, long* frame) {
  if (!frame) return E_POINTER;
  *frame = 0;
  Player::Level* level = player_.TargetLevel(FromBstr(target));
  if (!level || !level->timeline) return E_FAIL;
  *frame = level->timeline->CurrentFrame();
  return S_OK;
}

STDMETHODIMP FlashObject::TCurrentLabel(BSTR target, BSTR* label) {
  if (!label) return E_POINTER;
  *label = nullptr;
  if (!player_.TargetLevel(FromBstr(target))) return E_FAIL;
  return ReturnBstr(L"", label);  // frame labels are outside the played subset
}

STDMETHODIMP FlashObject::TPlay(BSTR target) {
  Player::Level* level = player_.TargetLevel(FromBstr(target));
  if (!level || !level->timeline) return E_FAIL;
  level->timeline->SetPlaying(true);
  return S_OK;
}

STDMETHODIMP FlashObject::TStopPlay(BSTR target) {
  Player::Level* level = player_.TargetLevel(FromBstr(target));
  if (!level || !level->timeline) return E_FAIL;
  level->timeline->SetPlaying(false);
  return S_OK;
}

STDMETHODIMP FlashObject::SetVariable(BSTR name, BSTR value) {
  return Guard([&] {
    player_.SetVariable(FromBstr(name), FromBstr(value));
    return S_OK;
  });
}

STDMETHODIMP FlashObject::GetVariable(BSTR name, BSTR* value) {
  return Guard([&] {
    if (!value) return E_POINTER;
    *value = nullptr;
    return ReturnBstr(player_.GetVariable(FromBstr(name)), value);
  });
}

STDMETHODIMP FlashObject::TGetProperty(BSTR target, int property, BSTR* value) {
  return Guard([&] {
    if (!value) return E_POINTER;
    *value = nullptr;
    Player::Level* level = player_.TargetLevel(FromBstr(target));
    if (!level || !level->timeline) return E_FAIL;
    std::wstring v = L"0";
    switch (property) {
      case 4:
        v = std::to_wstring(level->timeline->CurrentFrame() + 1);
        break;  // _currentframe
      case 5:
      case 12:
        v = std::to_wstring(level->timeline->FrameCount());
        break;  // _totalframes
      case 11:
        v = L"/";
        break;  // _target
      case 13:
        v = L"";
        break;  // _name
      case 15:
        v = level->url;
        break;  // _url
      default:
        break;
    }
    return ReturnBstr(v, value);
  });
}

STDMETHODIMP FlashObject::TGetPropertyNum(BSTR target, int property, double* value) {
  if (!value) return E_POINTER;
  *value = 0;
  Bstr text;
  HRESULT hr = TGetProperty(target, property, text.Out());
  if (FAILED(hr)) return hr;
  *value = wcstod(FromBstr(text.get()).c_str(), nullptr);
  return S_OK;
}

STDMETHODIMP FlashObject::get_InlineData(IUnknown** v) {
  if (v) *v = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::get_ProfilePort(long* v) {
  if (!v) return E_POINTER;
  *v = profilePort_;
  return S_OK;
}

STDMETHODIMP FlashObject::put_ProfilePort(long v) {
  profilePort_ = v;
  return S_OK;
}

STDMETHODIMP FlashObject::CallFunction(BSTR request, BSTR* response) {
  if (!response) return E_POINTER;
  *response = nullptr;
  // No movie of the played subset registers callbacks (ExternalInterface.addCallback).
  eventLog_.Add(L"CallFunction(" + FromBstr(request) + L")");
  return E_FAIL;
}

STDMETHODIMP FlashObject::SetReturnValue(BSTR value) {
  return Guard([&] {
    if (!inFlashCall_) return E_FAIL;  // only an answer to a FlashCall in progress means anything
    returnValue_ = FromBstr(value);
    return S_OK;
  });
}

}  // namespace standin
