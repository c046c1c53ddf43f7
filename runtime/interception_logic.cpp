#include "runtime/interception_logic.h"

#include <cstdio>
#include <cstring>

#include "runtime/pe_image.h"

namespace pageturn {

std::string FlashClassName(const std::string& requested, std::int32_t uniqueNumber) {
  return "FlashPlayerControl_" + requested + "_" + std::to_string(uniqueNumber);
}

void ApplyVolumeStage(std::uint8_t* data, std::uint32_t length, bool soundEnabled,
                      bool widthKnown, std::uint32_t bytesPerSample, int volume) {
  if (!soundEnabled) {
    std::memset(data, 0, length);
    return;
  }
  if (!widthKnown) return;
  if (bytesPerSample == 1) {
    for (std::uint32_t i = 0; i < length; ++i) {
      const int sample = static_cast<std::int8_t>(data[i]);
      data[i] = static_cast<std::uint8_t>(sample * volume / 100);
    }
  } else if (bytesPerSample == 2) {
    for (std::uint32_t i = 0; i + 1 < length; i += 2) {
      std::int16_t sample;
      std::memcpy(&sample, data + i, 2);
      const auto scaled = static_cast<std::uint16_t>(int{sample} * volume / 100);
      std::memcpy(data + i, &scaled, 2);
    }
  }
}

void TSavedCursors::AddCursor(void* cursor, void* module, const char* resourceName) {
  std::lock_guard<std::mutex> hold(lock_);
  if (IsOrdinalName(resourceName))
    cursors_.push_back({cursor, module, false,
                        static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(resourceName)), {}});
  else
    cursors_.push_back({cursor, module, true, 0, resourceName});
}

void* TSavedCursors::FindCursor(void* module, const char* resourceName) {
  std::lock_guard<std::mutex> hold(lock_);
  const bool named = !IsOrdinalName(resourceName);
  for (const TSavedCursor& c : cursors_) {
    if (c.Module != module || c.IsNamed != named) continue;
    if (named ? c.Name == resourceName
              : c.Id == static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(resourceName)))
      return c.Cursor;
  }
  return nullptr;
}

}  // namespace pageturn
