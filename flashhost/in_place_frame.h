// The parts of TFlashPlayerControl that more than one of its files need: the unit of the
// runtime's extents and the in-place frame, which the window and the site both reach.
#pragma once

#include <ole2.h>

#include "core/com.h"
#include "flashhost/flash_player_control.h"

namespace pageturn {

inline constexpr int kHimetricPerInch = 2540;

// ---- TInPlaceFrame: the control's IOleInPlaceFrame

class TFlashPlayerControl::TInPlaceFrame final : public IOleInPlaceFrame {
 public:
  explicit TInPlaceFrame(TFlashPlayerControl* control) : control_(control) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return control_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return control_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return control_->Release(); }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    return ComBoundary([&] {
      *window = control_->TopHandle();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override {
    return ComBoundary([&] {
      TMainMenu* menu = control_->FindMergeMenu();
      if (menu && widths) {
        static constexpr int kContainerGroups[] = {0, 2, 4};  // file, container, window
        menu->PopulateOle2Menu(shared, kContainerGroups, 3, widths->width);
      }
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) override {
    return ComBoundary([&] {
      TMainMenu* menu = control_->FindMergeMenu();
      if (!menu) return S_OK;
      menu->SetOle2MenuHandle(shared);
      return ::OleSetMenuDescriptor(descriptor, menu->WindowHandle(), activeObject, nullptr,
                                    nullptr);
    });
  }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override {
    while (::GetMenuItemCount(shared) > 0) ::RemoveMenu(shared, 0, MF_BYPOSITION);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  TFlashPlayerControl* control_;
};

}  // namespace pageturn
