// What the content manager requires of a Flash host control: its movie setters, its Base, and
// the four external-resource events. Implemented by TFlashPlayerControl (flashhost/).
#pragma once

#ifndef _WIN32
#error "content/flash_player_control_base.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>

#include "core/stream.h"

namespace pageturn {

// {911FA1AF-CDB2-45ED-8271-5662000000BC}
inline constexpr IID IID_IFlashPlayerControlBase = {
    0x911FA1AF, 0xCDB2, 0x45ED, {0x82, 0x71, 0x56, 0x62, 0x00, 0x00, 0x00, 0xBC}};

// Slots in this order after IUnknown. The Fire operations return S_FALSE when the control has no
// handler for the event, else S_OK; the manager looks only at `handled` and at the streams.
// Handlers are not guarded: an exception they raise comes out of the Fire call, and the content
// manager contains it at its own boundary.
struct IFlashPlayerControlBase : public IUnknown {
  // The control's Movie property.
  virtual HRESULT STDMETHODCALLTYPE SetMovieURL(LPCWSTR url) = 0;
  // The runtime's LoadMovie into `layer`.
  virtual HRESULT STDMETHODCALLTYPE LoadMovieURL(int layer, LPCWSTR url) = 0;
  // The control's Base property; the caller frees the string (SysFreeString). Null means empty.
  virtual HRESULT STDMETHODCALLTYPE GetBaseURL(BSTR* baseURL) = 0;
  // OnLoadExternalResource(url, stream): the handler writes the whole content into `stream`,
  // which stays the caller's.
  virtual HRESULT STDMETHODCALLTYPE FireLoadExternalResource(LPCWSTR url, TStream* stream) = 0;
  // OnLoadExternalResourceEx(url, stream, handled): a handler that sets `handled` owns `stream`
  // from then on and deletes it when the content is complete; otherwise it must not keep it.
  virtual HRESULT STDMETHODCALLTYPE FireLoadExternalResourceEx(LPCWSTR url, TStream* stream,
                                                               bool* handled) = 0;
  // OnLoadExternalResourceAsync(path, stream): `*stream` is null on entry; a handler that serves
  // the path sets it to a new stream (allocated with new), which the caller then owns.
  virtual HRESULT STDMETHODCALLTYPE FireLoadExternalResourceAsync(LPCWSTR path,
                                                                  TStream** stream) = 0;
  // OnUnloadExternalResourceAsync(stream): the stream of a closing fake file handle, freed by
  // the caller afterwards; the handler must not free it.
  virtual HRESULT STDMETHODCALLTYPE FireUnloadExternalResourceAsync(TStream* stream) = 0;
};

}  // namespace pageturn

__CRT_UUID_DECL(pageturn::IFlashPlayerControlBase, 0x911FA1AF, 0xCDB2, 0x45ED, 0x82, 0x71, 0x56,
                0x62, 0x00, 0x00, 0x00, 0xBC)
