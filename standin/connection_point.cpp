#include "connection_point.h"

#include "flash_object.h"

namespace standin {

// ---------------------------------------------------------------------------------------------
// Connection points

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) ConnectionPoint::AddRef() { return owner_.AddRef(); }
STDMETHODIMP_(ULONG) ConnectionPoint::Release() { return owner_.Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** c) {
  if (!c) return E_POINTER;
  return owner_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(c));
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return Guard([&] {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(typed.GetAddressOf())))) {
      // An event sink may answer only IDispatch; that is what the events are called through.
      if (iid_ == IID_IPropertyNotifySink ||
          FAILED(
              sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(typed.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    }
    DWORD c = nextCookie_++;
    sinks_[c] = typed;
    *cookie = c;
    return S_OK;
  });
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  return Guard([&] {
    auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IUnknown> keep = it->second;  // released after the map no longer names it
    sinks_.erase(it);
    return S_OK;
  });
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** e) {
  if (e) *e = nullptr;
  return E_NOTIMPL;
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
  std::vector<ComPtr<IUnknown>> out;
  for (const auto& [cookie, sink] : sinks_) out.push_back(sink);
  return out;
}

}  // namespace standin
