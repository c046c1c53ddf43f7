#include <tuple>
#include <type_traits>
#include <utility>

#include "flash_object.h"

namespace standin {

// ---------------------------------------------------------------------------------------------
// IDispatch: late binding of every member of the layout, by the published DISPIDs

namespace {

// How one argument type of IShockwaveFlash travels in a VARIANT.
template <class T>
struct VariantOf;
template <>
struct VariantOf<long> {
  static constexpr VARTYPE vt = VT_I4;
  static long From(const VARIANT& v) { return v.lVal; }
  static void To(VARIANT* v, long x) { v->lVal = x; }
};
template <>
struct VariantOf<int> {
  static constexpr VARTYPE vt = VT_I4;
  static int From(const VARIANT& v) { return int(v.lVal); }
  static void To(VARIANT* v, int x) { v->lVal = x; }
};
template <>
struct VariantOf<VARIANT_BOOL> {
  static constexpr VARTYPE vt = VT_BOOL;
  static VARIANT_BOOL From(const VARIANT& v) { return v.boolVal; }
  static void To(VARIANT* v, VARIANT_BOOL x) { v->boolVal = x; }
};
template <>
struct VariantOf<double> {
  static constexpr VARTYPE vt = VT_R8;
  static double From(const VARIANT& v) { return v.dblVal; }
  static void To(VARIANT* v, double x) { v->dblVal = x; }
};
template <>
struct VariantOf<BSTR> {
  static constexpr VARTYPE vt = VT_BSTR;
  static BSTR From(const VARIANT& v) { return v.bstrVal; }
  static void To(VARIANT* v, BSTR x) { v->bstrVal = x; }
};
template <>
struct VariantOf<IUnknown*> {
  static constexpr VARTYPE vt = VT_UNKNOWN;
  static IUnknown* From(const VARIANT& v) { return v.punkVal; }
  static void To(VARIANT* v, IUnknown* x) { v->punkVal = x; }
};

// The [out,retval] parameter types; every other parameter is an input.
template <class T>
constexpr bool kIsRetval = false;
template <>
constexpr bool kIsRetval<long*> = true;
template <>
constexpr bool kIsRetval<int*> = true;
template <>
constexpr bool kIsRetval<VARIANT_BOOL*> = true;
template <>
constexpr bool kIsRetval<double*> = true;
template <>
constexpr bool kIsRetval<BSTR*> = true;
template <>
constexpr bool kIsRetval<IUnknown**> = true;

// One parameter of a call made from DISPPARAMS: an input converted from its argument, or the
// [out,retval] value that becomes the result.
template <class T, bool retval = kIsRetval<T>>
class DispatchParameter {
 public:
  DispatchParameter() { VariantInit(&v_); }
  ~DispatchParameter() { VariantClear(&v_); }
  // Argument i counted in declaration order (rgvarg holds them reversed).
  HRESULT Load(DISPPARAMS* params, UINT i) {
    if (!params || i >= params->cArgs) return DISP_E_BADPARAMCOUNT;
    return VariantChangeType(&v_, &params->rgvarg[params->cArgs - 1 - i], 0, VariantOf<T>::vt);
  }
  T Get() const { return VariantOf<T>::From(v_); }
  void Store(VARIANT*) {}

 private:
  VARIANT v_;
};

template <class T>
class DispatchParameter<T, true> {
  using Value = std::remove_pointer_t<T>;

 public:
  ~DispatchParameter() {
    if constexpr (std::is_same_v<Value, BSTR>) SysFreeString(value_);
    if constexpr (std::is_same_v<Value, IUnknown*>)
      if (value_) value_->Release();
  }
  HRESULT Load(DISPPARAMS*, UINT) { return S_OK; }
  T Get() { return &value_; }
  void Store(VARIANT* result) {
    if (!result) return;
    VariantInit(result);
    result->vt = VariantOf<Value>::vt;
    VariantOf<Value>::To(result, value_);
    value_ = Value{};  // the result owns it now
  }

 private:
  Value value_{};
};

template <class... A, size_t... I>
HRESULT CallWith(FlashObject& o, HRESULT (STDMETHODCALLTYPE FlashObject::*member)(A...),
                 [[maybe_unused]] DISPPARAMS* params, [[maybe_unused]] VARIANT* result,
                 std::index_sequence<I...>) {
  std::tuple<DispatchParameter<A>...> args;
  HRESULT hr = S_OK;
  ((hr = SUCCEEDED(hr) ? std::get<I>(args).Load(params, UINT(I)) : hr), ...);
  if (FAILED(hr)) return hr;
  hr = (o.*member)(std::get<I>(args).Get()...);
  if (SUCCEEDED(hr)) (std::get<I>(args).Store(result), ...);
  return hr;
}

// Calls a member of IShockwaveFlash with the arguments of a dispatch call.
template <class... A>
HRESULT CallWith(FlashObject& o, HRESULT (STDMETHODCALLTYPE FlashObject::*member)(A...),
                 DISPPARAMS* params, VARIANT* result) {
  return CallWith(o, member, params, result, std::index_sequence_for<A...>{});
}

using DispatchCall = HRESULT (*)(FlashObject&, DISPPARAMS*, VARIANT*);

struct DispatchMember {
  const wchar_t* name;
  DISPID id;
  DispatchCall get;  // a method's call, or a property's getter
  DispatchCall put;  // a property's setter; null for methods and read-only properties
};

#define STANDIN_CALL(member)                                 \
  [](FlashObject& o, DISPPARAMS* p, VARIANT* r) -> HRESULT { \
    return CallWith(o, &FlashObject::member, p, r);          \
  }
#define STANDIN_METHOD(name, id) \
  { L## #name, id, STANDIN_CALL(name), nullptr }
#define STANDIN_READONLY(name, id) \
  { L## #name, id, STANDIN_CALL(get_##name), nullptr }
#define STANDIN_PROPERTY(name, id) \
  { L## #name, id, STANDIN_CALL(get_##name), STANDIN_CALL(put_##name) }

// In the order of the layout (slots 7 to 99).
const DispatchMember kDispatchMembers[] = {
    STANDIN_READONLY(ReadyState, -525),
    STANDIN_READONLY(TotalFrames, 124),
    STANDIN_PROPERTY(Playing, 125),
    STANDIN_PROPERTY(Quality, 105),
    STANDIN_PROPERTY(ScaleMode, 120),
    STANDIN_PROPERTY(AlignMode, 121),
    STANDIN_PROPERTY(BackgroundColor, 123),
    STANDIN_PROPERTY(Loop, 106),
    STANDIN_PROPERTY(Movie, 102),
    STANDIN_PROPERTY(FrameNum, 107),
    STANDIN_METHOD(SetZoomRect, 109),
    STANDIN_METHOD(Zoom, 118),
    STANDIN_METHOD(Pan, 119),
    STANDIN_METHOD(Play, 112),
    STANDIN_METHOD(Stop, 113),
    STANDIN_METHOD(Back, 114),
    STANDIN_METHOD(Forward, 115),
    STANDIN_METHOD(Rewind, 116),
    STANDIN_METHOD(StopPlay, 126),
    STANDIN_METHOD(GotoFrame, 127),
    STANDIN_METHOD(CurrentFrame, 128),
    STANDIN_METHOD(IsPlaying, 129),
    STANDIN_METHOD(PercentLoaded, 130),
    STANDIN_METHOD(FrameLoaded, 131),
    STANDIN_METHOD(FlashVersion, 132),
    STANDIN_PROPERTY(WMode, 133),
    STANDIN_PROPERTY(SAlign, 134),
    STANDIN_PROPERTY(Menu, 135),
    STANDIN_PROPERTY(Base, 136),
    STANDIN_PROPERTY(Scale, 137),
    STANDIN_PROPERTY(DeviceFont, 138),
    STANDIN_PROPERTY(EmbedMovie, 139),
    STANDIN_PROPERTY(BGColor, 140),
    STANDIN_PROPERTY(Quality2, 141),
    STANDIN_METHOD(LoadMovie, 142),
    STANDIN_METHOD(TGotoFrame, 143),
    STANDIN_METHOD(TGotoLabel, 144),
    STANDIN_METHOD(TCurrentFrame, 145),
    STANDIN_METHOD(TCurrentLabel, 146),
    STANDIN_METHOD(TPlay, 147),
    STANDIN_METHOD(TStopPlay, 148),
    STANDIN_METHOD(SetVariable, 151),
    STANDIN_METHOD(GetVariable, 152),
    STANDIN_METHOD(TSetProperty, 153),
    STANDIN_METHOD(TGetProperty, 154),
    STANDIN_METHOD(TCallFrame, 155),
    STANDIN_METHOD(TCallLabel, 156),
    STANDIN_METHOD(TSetPropertyNum, 157),
    STANDIN_METHOD(TGetPropertyNum, 158),
    STANDIN_METHOD(TGetPropertyAsNumber, 172),
    STANDIN_PROPERTY(SWRemote, 159),
    STANDIN_PROPERTY(FlashVars, 170),
    STANDIN_PROPERTY(AllowScriptAccess, 171),
    STANDIN_PROPERTY(MovieData, 190),
    STANDIN_PROPERTY(InlineData, 191),
    STANDIN_PROPERTY(SeamlessTabbing, 192),
    STANDIN_METHOD(EnforceLocalSecurity, 193),
    STANDIN_PROPERTY(Profile, 194),
    STANDIN_PROPERTY(ProfileAddress, 195),
    STANDIN_PROPERTY(ProfilePort, 196),
    STANDIN_METHOD(CallFunction, 198),
    STANDIN_METHOD(SetReturnValue, 199),
    STANDIN_METHOD(DisableLocalSecurity, 200),
    STANDIN_PROPERTY(AllowNetworking, 201),
    STANDIN_PROPERTY(AllowFullScreen, 202),
};

#undef STANDIN_PROPERTY
#undef STANDIN_READONLY
#undef STANDIN_METHOD
#undef STANDIN_CALL

}  // namespace

STDMETHODIMP FlashObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP FlashObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FlashObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i > 0) {
      hr = DISP_E_UNKNOWNNAME;  // named arguments are not supported
      continue;
    }
    bool found = false;
    for (const auto& member : kDispatchMembers) {
      if (lstrcmpiW(member.name, names[i]) == 0) {
        ids[i] = member.id;
        found = true;
      }
    }
    if (!found) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP FlashObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT*) {
  return Guard([&]() -> HRESULT {
    for (const auto& member : kDispatchMembers) {
      if (member.id != id) continue;
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return member.put ? member.put(*this, params, nullptr) : DISP_E_MEMBERNOTFOUND;
      return member.get(*this, params, result);
    }
    return DISP_E_MEMBERNOTFOUND;
  });
}

}  // namespace standin
