// The decisions of the runtime's replaced imports that need no platform: class renaming, the
// cursor cache, the volume stage. The replacements themselves (interception.cpp) only add the
// system calls around these.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace pageturn {

// The name a runtime window class is really registered under: private to this copy of the host.
std::string FlashClassName(const std::string& requested, std::int32_t uniqueNumber);

// Samples in place for one wave buffer: zeros when sound is off; otherwise, for a known sample
// width of 1 or 2 bytes, each signed sample times volume / 100 (truncating toward zero). An odd
// last byte of a 16-bit buffer is left alone.
void ApplyVolumeStage(std::uint8_t* data, std::uint32_t length, bool soundEnabled,
                      bool widthKnown, std::uint32_t bytesPerSample, int volume);

// Cursors made from a module's resources, by module and resource name (numeric, or a string
// compared case-sensitively). The cursor handles are not destroyed with the cache.
class TSavedCursors {
 public:
  void AddCursor(void* cursor, void* module, const char* resourceName);
  void* FindCursor(void* module, const char* resourceName);

 private:
  struct TSavedCursor {
    void* Cursor;
    void* Module;
    bool IsNamed;
    std::uint16_t Id;
    std::string Name;
  };
  std::mutex lock_;
  std::vector<TSavedCursor> cursors_;
};

}  // namespace pageturn
