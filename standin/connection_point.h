// One connection point of the ShockwaveFlash object (its events or property notifications).
// Its reference count is the object's.
#pragma once

#include <ocidl.h>

#include <map>
#include <vector>

#include "com_support.h"

namespace standin {

class FlashObject;

class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(FlashObject& owner, const IID& iid) : owner_(owner), iid_(iid) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

  // The sinks, as the connection's interface (IDispatch for events).
  std::vector<ComPtr<IUnknown>> Sinks() const;
  void Clear() { sinks_.clear(); }

 private:
  FlashObject& owner_;
  IID iid_;
  std::map<DWORD, ComPtr<IUnknown>> sinks_;
  DWORD nextCookie_ = 1;
};

}  // namespace standin
