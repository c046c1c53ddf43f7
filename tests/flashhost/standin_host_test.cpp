// The stand-in runtime hosted by TFlashPlayerControl in a real window on Xvfb, reached both ways
// the player reaches a runtime: registered on the system, and handed over as bytes (a bundle's
// flash.ocx); our loader maps it from memory in both. The stand-in's window becomes the control's,
// a movie loaded from a memory stream plays and shows, and its FSCommand and FlashCall reach the
// control's handlers.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "core/stream.h"
#include "runtime/code_provider.h"
#include "standin/standin_test_surface.h"
#include "tests/flashhost/flashhost_test_support.h"
#include "tests/support/swf_builder.h"

namespace pageturn::test {
namespace {

using swftest::Cat;
using swftest::GetUrl;
using swftest::SwfBuilder;

std::map<std::string, std::string> Report(IStandInTestSurface* surface) {
  BSTR text = nullptr;
  std::map<std::string, std::string> fields;
  if (surface->GetReport(&text) != S_OK) return fields;
  const std::string all = Narrow(std::wstring(text, ::SysStringLen(text)));
  ::SysFreeString(text);
  std::size_t at = 0;
  while (at < all.size()) {
    std::size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  return fields;
}

using TDllProc = HRESULT(STDAPICALLTYPE*)();
void CallExport(const char* name) {
  const HMODULE module = ::LoadLibraryA(STANDIN_FLASH_PATH);
  ASSERT_NE(module, nullptr);
  const auto proc = reinterpret_cast<TDllProc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(proc(), S_OK);
  ::FreeLibrary(module);
}

enum class TRoad { Registered, FromBytes };

class StandinHost : public ::testing::TestWithParam<TRoad> {
 protected:
  static void SetUpTestSuite() { CallExport("DllRegisterServer"); }
  static void TearDownTestSuite() {
    LoadRuntimeFromStream(nullptr);  // unmaps the stand-in before it is unregistered
    CallExport("DllUnregisterServer");
  }
  void SetUp() override {
    if (GetParam() == TRoad::Registered) {
      delete std::exchange(CodeProvider, nullptr);
      new TFlashOCXCodeProviderBasedOnSystemInstalledOCX();  // becomes CodeProvider
    } else {
      TFileStream file(STANDIN_FLASH_PATH, TFileStream::Mode::OpenReadShareAll);
      TMemoryStream image;
      image.CopyFrom(file, 0);
      LoadRuntimeFromStream(&image);
    }
    ASSERT_NE(CodeProvider, nullptr);
    ASSERT_NE(CodeProvider->Loader, nullptr) << "mapped by our loader";
  }
};

TEST_P(StandinHost, HostsTheRuntimeInPlaceAndPlaysAMovieFromMemory) {
  TForm form(nullptr);
  form.SetBounds(20, 20, 520, 420);
  form.Show();
  TFlashPlayerControl control(nullptr);
  ASSERT_NE(control.RuntimeObject(), nullptr);
  std::vector<std::string> commands, calls;
  control.OnFSCommand = [&](TWinControl*, const std::wstring& command, const std::wstring& args) {
    commands.push_back(Narrow(command) + "|" + Narrow(args));
  };
  control.OnFlashCall = [&](TWinControl*, const std::wstring& request) {
    calls.push_back(Narrow(request));
  };
  control.SetParent(&form);
  control.SetAlign(TAlign::alClient);

  ComPtr<IStandInTestSurface> surface;
  ASSERT_EQ(control.RuntimeObject()->QueryInterface(IID_IStandInTestSurface,
                                                     reinterpret_cast<void**>(surface.GetAddressOf())),
            S_OK);
  auto report = Report(surface.Get());
  ASSERT_TRUE(control.HandleAllocated());
  char className[64] = {};
  ::GetClassNameA(control.Handle(), className, sizeof className);
  EXPECT_STRNE(className, "TFlashPlayerControl") << "the window is the runtime's";
  EXPECT_EQ(report["window"], "1") << "in-place active";
  EXPECT_EQ(::GetParent(control.Handle()), form.Handle());
  const RECT client = form.ClientRect();
  EXPECT_EQ(control.Width(), client.right);
  EXPECT_EQ(control.Height(), client.bottom);
  const int ppi = ScreenPixelsPerInch();
  EXPECT_EQ(report["extent_cx"], std::to_string(::MulDiv(control.Width(), 2540, ppi)));
  EXPECT_EQ(report["extent_cy"], std::to_string(::MulDiv(control.Height(), 2540, ppi)));

  // A green movie that asks for full screen in its first frame, handed over positioned at its end.
  const auto movie = SwfBuilder()
                         .FileAttributes()
                         .Background(0x20, 0x80, 0x40)
                         .DoAction(GetUrl("FSCommand:fullscreen", "true"))
                         .ShowFrame()
                         .End()
                         .Build(false);
  TMemoryStream stream;
  stream.WriteBuffer(movie.data(), movie.size());
  control.SetMovieFromStream(stream);
  ASSERT_TRUE(PumpMessagesUntil([&] { return !commands.empty(); }))
      << Report(surface.Get())["error"];
  EXPECT_EQ(commands, std::vector<std::string>{"fullscreen|true"});
  report = Report(surface.Get());
  EXPECT_EQ(report["bytes"], std::to_string(movie.size()));
  EXPECT_EQ(report["movie"], Narrow(control.Movie()));
  EXPECT_EQ(report["background"], "208040");

  // What the runtime paints is on the screen, over the whole control.
  ::RedrawWindow(control.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  for (POINT at : {POINT{5, 5}, POINT{control.Width() / 2, control.Height() / 2},
                   POINT{control.Width() - 5, control.Height() - 5}}) {
    ::ClientToScreen(control.Handle(), &at);
    COLORREF pixel = CLR_INVALID;
    PumpMessagesUntil([&] {  // until the display has caught up with the paint
      const HDC screen = ::GetDC(nullptr);
      pixel = ::GetPixel(screen, at.x, at.y);
      ::ReleaseDC(nullptr, screen);
      return pixel == RGB(0x20, 0x80, 0x40);
    }, 5000);
    EXPECT_EQ(pixel, RGB(0x20, 0x80, 0x40)) << at.x << "," << at.y;
  }

  // FlashCall: a request reaches the handler; the host probe is answered by the control.
  BSTR answer = nullptr;
  ASSERT_EQ(surface->FireEvent(STANDIN_ON_CALLER, 197, L"<invoke name=\"page\"/>", L"", 0, &answer),
            S_OK);
  ::SysFreeString(answer);
  EXPECT_EQ(calls, std::vector<std::string>{"<invoke name=\"page\"/>"});
  const std::wstring probe = std::wstring(L"<invoke name=\"p\"><arguments><string>") +
                             HostProbeId + L"</string></arguments></invoke>";
  BSTR probed = nullptr;
  ASSERT_EQ(surface->FireEvent(STANDIN_ON_CALLER, 197, probe.c_str(), L"", 0, &probed), S_OK);
  std::string probeReport = Narrow(std::wstring(probed, ::SysStringLen(probed)));
  ::SysFreeString(probed);
  EXPECT_EQ(calls.size(), 1u) << "the probe is not raised";
  if (control.FlashMajorVersion() >= 8)
    EXPECT_NE(probeReport.find("return_value=" + Narrow(HostProbeAnswer)), std::string::npos)
        << probeReport;
  surface.Reset();
}

INSTANTIATE_TEST_SUITE_P(Roads, StandinHost, ::testing::Values(TRoad::Registered, TRoad::FromBytes),
                         [](const auto& info) {
                           return info.param == TRoad::Registered ? "Registered" : "FromBytes";
                         });

}  // namespace
}  // namespace pageturn::test
