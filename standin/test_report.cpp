// The object's state as the test surface reports it.
#include "flash_object.h"

namespace standin {

void FlashObject::FillReport(Report& report) const {
  report.Add(L"movie", movie_);
  report.Add(L"base", base_);
  report.Add(L"ready_state", readyState_);
  Player::Level* main = player_.FindLevel(0);
  report.Add(L"total_frames", main && main->timeline ? main->timeline->FrameCount() : 0);
  report.Add(L"frame", main && main->timeline ? main->timeline->CurrentFrame() : 0);
  report.Add(L"playing", main && main->timeline && main->timeline->Playing() ? 1 : 0);
  report.Add(L"bytes", main ? (long long)main->bytes : 0);
  std::vector<std::wstring> numbers;
  for (const auto& [number, level] : player_.Levels()) {
    numbers.push_back(std::to_wstring(number));
    std::wstring prefix = L"level" + std::to_wstring(number) + L"_";
    report.Add(prefix + L"url", level->url);
    report.Add(prefix + L"frame", level->timeline ? level->timeline->CurrentFrame() : 0);
    report.Add(prefix + L"frames", level->timeline ? level->timeline->FrameCount() : 0);
  }
  report.Add(L"levels", Join(numbers, L","));
  COLORREF bg = BackgroundRgb();
  wchar_t buf[16];
  wsprintfW(buf, L"%02X%02X%02X", GetRValue(bg), GetGValue(bg), GetBValue(bg));
  report.Add(L"background", buf);
  report.Add(L"window", window_ ? 1 : 0);
  report.Add(L"extent_cx", extent_.cx);
  report.Add(L"extent_cy", extent_.cy);
  report.Add(L"events", eventLog_.Join(L","));
  report.Add(L"site_calls", siteCalls_.Join(L","));
  report.Add(L"fetches", player_.FetchLog().Join(L"|"));
  report.Add(L"loads_peak", (long long)player_.PeakLoads());
  report.Add(L"retired_bytes", (long long)player_.RetiredBytes());
  report.Add(L"error", EscapeLineBreaks(player_.LastError()));
  report.Add(L"errors", EscapeLineBreaks(player_.Errors().Join(L"|")));
}

}  // namespace standin
