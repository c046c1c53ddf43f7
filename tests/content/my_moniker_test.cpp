#include "content/my_moniker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "content/content_manager.h"
#include "content_test_support.h"

namespace pageturn {
namespace {

using testing::ElementsAre;
using testing_support::TRecordingCallback;

ComPtr<IMoniker> ContentMoniker(LPCWSTR url) {
  ComPtr<IMoniker> moniker;
  EXPECT_EQ(CreateContentMoniker(nullptr, url, &moniker), S_OK);
  return moniker;
}

std::wstring DisplayName(IMoniker* moniker) {
  ComPtr<IBindCtx> context;
  ::CreateBindCtx(0, &context);
  LPOLESTR name = nullptr;
  const HRESULT hr = moniker->GetDisplayName(context.Get(), nullptr, &name);
  std::wstring text = SUCCEEDED(hr) && name ? name : L"(failed)";
  ::CoTaskMemFree(name);
  return text;
}

TEST(MyMoniker, ForwardsToTheSystemMonikerForTheSameURL) {
  for (const wchar_t* url : {L"http://example.com/a/../b.swf", L"files/large/10.swf",
                             L"file:///Z:/FromMemory/46A10F369771449587DE913EFC0A258C/1/x.swf"}) {
    ComPtr<IMoniker> system;
    ASSERT_EQ(::CreateURLMoniker(nullptr, url, &system), S_OK);
    ComPtr<IMoniker> ours = ContentMoniker(url);
    EXPECT_EQ(DisplayName(ours.Get()), DisplayName(system.Get()));
    DWORD ourHash = 1, systemHash = 2;
    EXPECT_EQ(ours->Hash(&ourHash), system->Hash(&systemHash));
    EXPECT_EQ(ourHash, systemHash);
    CLSID ourClass{}, systemClass{};
    EXPECT_EQ(ours->GetClassID(&ourClass), system->GetClassID(&systemClass));
    EXPECT_EQ(ourClass, systemClass);
  }
  EXPECT_EQ(TMyMoniker::Live(), 0);
}

TEST(MyMoniker, AnswersItsOwnInterfacesOnly) {
  ComPtr<IMoniker> moniker = ContentMoniker(L"http://example.com/");
  ComPtr<IUnknown> unknown;
  ComPtr<IBinding> binding;
  ComPtr<IPersistStream> persist;
  ComPtr<IBindStatusCallback> notOurs;
  EXPECT_EQ(moniker.As(&unknown), S_OK);
  EXPECT_EQ(moniker.As(&binding), S_OK);
  EXPECT_EQ(moniker.As(&notOurs), E_NOINTERFACE);
  EXPECT_EQ(moniker.As(&persist), E_NOINTERFACE);  // its slots are on IMoniker only
  ComPtr<IUnknown> fromBinding;
  EXPECT_EQ(binding.As(&fromBinding), S_OK);
  EXPECT_EQ(fromBinding.Get(), unknown.Get());  // one identity
  // IBinding is no real binding.
  LONG priority = 0;
  EXPECT_EQ(binding->Abort(), E_FAIL);
  EXPECT_EQ(binding->Suspend(), E_FAIL);
  EXPECT_EQ(binding->Resume(), E_FAIL);
  EXPECT_EQ(binding->SetPriority(1), E_FAIL);
  EXPECT_EQ(binding->GetPriority(&priority), E_FAIL);
  EXPECT_EQ(binding->GetBindResult(nullptr, nullptr, nullptr, nullptr), E_FAIL);
}

TEST(MyMoniker, WithoutAnInnerMonikerEveryForwardFailsAndClearsItsOut) {
  ComPtr<IMoniker> moniker = ContentMoniker(nullptr);  // the system makes none for no URL
  auto* poison = reinterpret_cast<IMoniker*>(0xdeadbeef);
  IMoniker* reduced = poison;
  EXPECT_EQ(moniker->Reduce(nullptr, MKRREDUCE_ALL, nullptr, &reduced), E_FAIL);
  EXPECT_EQ(reduced, nullptr);
  IMoniker* composite = poison;
  EXPECT_EQ(moniker->ComposeWith(nullptr, FALSE, &composite), E_FAIL);
  EXPECT_EQ(composite, nullptr);
  IEnumMoniker* enumerator = reinterpret_cast<IEnumMoniker*>(0xdeadbeef);
  EXPECT_EQ(moniker->Enum(TRUE, &enumerator), E_FAIL);
  EXPECT_EQ(enumerator, nullptr);
  DWORD hash = 0;
  EXPECT_EQ(moniker->Hash(&hash), E_FAIL);
  EXPECT_EQ(moniker->IsDirty(), E_FAIL);
  EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IUnknown, nullptr), E_FAIL);
}

TEST(MyMoniker, BindToStorageIsServedByTheContentManager) {
  ContentManager = new TContentManager;
  ContentManager->SetGlobalContentHandler([](const std::wstring& url, TStream* stream,
                                             bool& handled) {
    stream->WriteBuffer("global", 6);
    delete stream;
    handled = true;
  });
  {
    ComPtr<IMoniker> moniker = ContentMoniker(L"http://nowhere.invalid/x.xml");
    auto runtime = TRecordingCallback::Create(false);
    for (int bind = 0; bind < 2; ++bind) {  // each bind registers a callback of its own
      ComPtr<IBindCtx> context;
      ASSERT_EQ(::CreateBindCtx(0, &context), S_OK);
      ComPtr<IBindStatusCallback> previous;
      ::RegisterBindStatusCallback(context.Get(), runtime.Get(), &previous, 0);
      IStream* stream = reinterpret_cast<IStream*>(0xdeadbeef);
      EXPECT_EQ(moniker->BindToStorage(context.Get(), nullptr, IID_IStream,
                                       reinterpret_cast<void**>(&stream)),
                MK_S_ASYNCHRONOUS);
      EXPECT_EQ(stream, nullptr);
    }
    EXPECT_EQ(runtime->Data(), "globalglobal");
    EXPECT_EQ(runtime->StopCount(), 2);
  }
  delete ContentManager;
  ContentManager = nullptr;
  EXPECT_EQ(TMyBindStatusCallback::Live(), 0);
  EXPECT_EQ(TMyMoniker::Live(), 0);
}

// The callback registered in a bind context, seen from the providers.
ComPtr<IBindStatusCallback> Wrapped(IBindStatusCallback* inner) {
  auto* ours = new TMyBindStatusCallback;
  ours->SetInnerCallback(inner);
  return Adopt<IBindStatusCallback>(ours);
}

TEST(MyBindStatusCallback, AsksTheRuntimesCallbackForInterfacesItLacks) {
  auto negotiating = TRecordingCallback::Create(true);
  auto plain = TRecordingCallback::Create(false);
  ComPtr<IHttpNegotiate> negotiate;
  EXPECT_EQ(Wrapped(negotiating.Get()).As(&negotiate), S_OK);
  ComPtr<IHttpNegotiate> runtimes;
  negotiating.As(&runtimes);
  EXPECT_EQ(negotiate.Get(), runtimes.Get());  // the runtime's own object
  negotiate.Reset();
  EXPECT_EQ(Wrapped(plain.Get()).As(&negotiate), E_NOINTERFACE);
  EXPECT_EQ(Wrapped(nullptr).As(&negotiate), E_NOINTERFACE);
}

TEST(MyBindStatusCallback, PassesEveryNotificationOnOrAnswersNotImplemented) {
  auto runtime = TRecordingCallback::Create(false);
  ComPtr<IBindStatusCallback> wrapped = Wrapped(runtime.Get());
  ComPtr<IBindStatusCallback> empty = Wrapped(nullptr);
  ComPtr<IMoniker> binding = ContentMoniker(L"http://example.com/");
  ComPtr<IBinding> asBinding;
  binding.As(&asBinding);
  for (IBindStatusCallback* callback : {wrapped.Get(), empty.Get()}) {
    const HRESULT expected = callback == wrapped.Get() ? S_OK : E_NOTIMPL;
    EXPECT_EQ(callback->OnStartBinding(0, asBinding.Get()), expected);
    LONG priority;
    EXPECT_EQ(callback->GetPriority(&priority), expected);
    EXPECT_EQ(callback->OnLowResource(0), expected);
    EXPECT_EQ(callback->OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, L""), expected);
    STGMEDIUM medium{};
    FORMATETC format{0, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
    ComPtr<IStream> data;
    ::CreateStreamOnHGlobal(nullptr, TRUE, &data);
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = data.Get();
    EXPECT_EQ(callback->OnDataAvailable(5, 0, &format, &medium), expected);
    EXPECT_EQ(callback->OnObjectAvailable(IID_IUnknown, data.Get()), expected);
    EXPECT_EQ(callback->OnStopBinding(S_OK, nullptr), expected);
  }
  EXPECT_THAT(runtime->Calls(),
              ElementsAre("OnStartBinding 0 binding", "OnData 5 0", "OnStopBinding 0x00000000"));
}

}  // namespace
}  // namespace pageturn
