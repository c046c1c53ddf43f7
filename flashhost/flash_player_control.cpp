#include "flashhost/flash_player_control.h"

#include <ole2.h>
#include <olectl.h>

#include <utility>

#include "content/content_manager.h"
#include "core/error.h"
#include "flashhost/control_link.h"
#include "flashhost/in_place_frame.h"
#include "runtime/code_provider.h"

namespace pageturn {

// ---- construction and destruction

TFlashPlayerControl::TFlashPlayerControl(TWinControl* owner)
    : TWinControl(owner),
      frame_(std::make_unique<TInPlaceFrame>(this)),
      link_(Adopt(new TFlashPlayerControlLink(this))) {
  SetBounds(Left(), Top(), 100, 100);
  InstallMessageHandlers();
  if (!CodeProvider) return;
  void* object = nullptr;
  CodeProvider->CreateFlashObject(IID_IOleObject, &object);  // success is an object coming back
  oleObject_ = Adopt(static_cast<IOleObject*>(object));
  if (!oleObject_) return;
  try {
    OleCheck(oleObject_->SetClientSite(this));
    SetControlStyle((ControlStyle() | csDoubleClicks | csNoStdEvents) & ~csAcceptsControls);
    SetTabStop(true);
    OleCheck(RequestNewObjectLayout());
    ComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(oleObject_->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(container.GetAddressOf()))) &&
        container &&
        SUCCEEDED(container->FindConnectionPoint(DIID_IShockwaveFlashEvents,
                                                 eventsConnectionPoint_.GetAddressOf())) &&
        eventsConnectionPoint_ &&
        SUCCEEDED(eventsConnectionPoint_->Advise(static_cast<IDispatch*>(this), &eventsCookie_)))
      eventsAdvised_ = true;
  } catch (...) {
    // The destructor will not run: leave nothing of this control with the object.
    ReleaseRuntimeObject();
    link_->CutLoose();
    throw;
  }
}

TFlashPlayerControl::~TFlashPlayerControl() {
  if (ContentManager) ContentManager->UnregisterControl(link_.Get());
  link_->CutLoose();
  // The object's window is given back before the object is closed, so the closing object's
  // messages never pass through a control that is half gone.
  if (adopted_) {
    DetachWindow();
    adopted_ = false;
  }
  ReleaseRuntimeObject();
  DestroyComponents();
  DestroyHandle();
}

void TFlashPlayerControl::ReleaseRuntimeObject() noexcept {
  Boundary(0, [&] {
    if (eventsAdvised_ && eventsConnectionPoint_) eventsConnectionPoint_->Unadvise(eventsCookie_);
    eventsAdvised_ = false;
    eventsConnectionPoint_.Reset();
    MarkUiActive(false);
    if (oleObject_) oleObject_->Close(OLECLOSE_NOSAVE);
    DisconnectRuntimeObject();
    // Forgotten before the last calls, which the object may answer by calling this site again.
    ComPtr<IOleObject> object = std::move(oleObject_);
    inPlaceActiveObject_.Reset();
    inPlaceObject_.Reset();
    if (object) object->SetClientSite(nullptr);
    return 0;
  });
}

// ---- connection

void TFlashPlayerControl::EnsureClientSite() {
  IOleClientSite* site = nullptr;
  HRESULT hr = E_FAIL;
  try {
    hr = oleObject_->GetClientSite(&site);
  } catch (...) {
    hr = E_FAIL;
  }
  const ComPtr<IOleClientSite> held = Adopt(site);
  if (FAILED(hr) || !site) OleCheck(oleObject_->SetClientSite(this));
}

void TFlashPlayerControl::ConnectRuntimeObject() {
  if (oleControl_) return;
  try {
    EnsureClientSite();
    OleCheck(oleObject_->QueryInterface(IID_IOleControl,
                                        reinterpret_cast<void**>(oleControl_.GetAddressOf())));
    OleCheck(oleObject_->QueryInterface(IID_IDispatch,
                                        reinterpret_cast<void**>(objectDispatch_.GetAddressOf())));
    oleObject_->QueryInterface(IID_IPerPropertyBrowsing,
                               reinterpret_cast<void**>(propertyBrowsing_.GetAddressOf()));
    propertyNotifyCookie_ = 0;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(oleObject_->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(container.GetAddressOf()))) &&
        container &&
        SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.GetAddressOf())) &&
        point) {
      DWORD cookie = 0;
      if (SUCCEEDED(point->Advise(static_cast<IPropertyNotifySink*>(this), &cookie)))
        propertyNotifyCookie_ = cookie;
    }
    if (oleControl_) oleControl_->OnAmbientPropertyChange(DISPID_UNKNOWN);
    RequestNewObjectLayout();
  } catch (...) {
    DisconnectRuntimeObject();
    throw;
  }
}

void TFlashPlayerControl::DisconnectRuntimeObject() noexcept {
  if (!oleObject_) return;
  Boundary(0, [&] {
    if (propertyNotifyCookie_ != 0) {
      ComPtr<IConnectionPointContainer> container;
      ComPtr<IConnectionPoint> point;
      if (SUCCEEDED(oleObject_->QueryInterface(
              IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()))) &&
          container &&
          SUCCEEDED(
              container->FindConnectionPoint(IID_IPropertyNotifySink, point.GetAddressOf())) &&
          point && point->Unadvise(propertyNotifyCookie_) == S_OK)
        propertyNotifyCookie_ = 0;
    }
    return 0;
  });
  propertyBrowsing_.Reset();
  objectDispatch_.Reset();
  oleControl_.Reset();
}

// ---- IUnknown

HRESULT STDMETHODCALLTYPE TFlashPlayerControl::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  IUnknown* found = nullptr;
  if (iid == DIID_IShockwaveFlashEvents || iid == IID_IDispatch || iid == IID_IUnknown)
    found = static_cast<IDispatch*>(this);
  else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
    found = static_cast<IOleInPlaceSite*>(this);
  else if (iid == IID_IFlashPlayerControlBase)
    found = link_.Get();
  else if (iid == IID_ISimpleFrameSite)
    found = static_cast<ISimpleFrameSite*>(this);
  else if (iid == IID_IPropertyNotifySink)
    found = static_cast<IPropertyNotifySink*>(this);
  else if (iid == IID_IOleInPlaceFrame)
    found = frame_.get();
  else if (iid == IID_IOleControlSite)
    found = static_cast<IOleControlSite*>(this);
  else if (iid == IID_IOleClientSite)
    found = static_cast<IOleClientSite*>(this);
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  *object = found;
  return S_OK;
}

ULONG STDMETHODCALLTYPE TFlashPlayerControl::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refs_));
}
ULONG STDMETHODCALLTYPE TFlashPlayerControl::Release() {
  return static_cast<ULONG>(InterlockedDecrement(&refs_));  // the owner frees the control
}

IOleInPlaceFrame* TFlashPlayerControl::InPlaceFrame() { return frame_.get(); }

}  // namespace pageturn
