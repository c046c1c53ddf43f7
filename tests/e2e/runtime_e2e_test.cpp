// The player with a runtime in its bundle: the bundle's flash.ocx is mapped from memory at start-up,
// never handed to the system loader, and a flash.ocx that is no module leaves the window as it was.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/e2e/book_harness.h"

namespace pageturn::e2e {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::vector<std::string> ModuleNames(DWORD pid) {
  std::vector<std::string> names;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = ::Module32First(snapshot, &entry); ok; ok = ::Module32Next(snapshot, &entry))
    names.push_back(Lower(entry.szModule));
  ::CloseHandle(snapshot);
  return names;
}

// Private, committed, executable-and-writable regions of the process that begin with a PE image
// whose size of image matches: what an in-memory loader leaves and the system loader never does.
int MappedImagesOfSize(HANDLE process, DWORD sizeOfImage) {
  int found = 0;
  MEMORY_BASIC_INFORMATION info;
  for (auto* at = static_cast<BYTE*>(nullptr);
       ::VirtualQueryEx(process, at, &info, sizeof info) == sizeof info;
       at = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize) {
    if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE ||
        info.AllocationBase != info.BaseAddress || info.Protect != PAGE_EXECUTE_READWRITE)
      continue;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    SIZE_T got = 0;
    if (!::ReadProcessMemory(process, info.BaseAddress, &dos, sizeof dos, &got) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE)
      continue;
    if (!::ReadProcessMemory(process, static_cast<BYTE*>(info.BaseAddress) + dos.e_lfanew, &nt,
                             sizeof nt, &got) ||
        nt.Signature != IMAGE_NT_SIGNATURE)
      continue;
    if (nt.OptionalHeader.SizeOfImage == sizeOfImage) ++found;
  }
  return found;
}

DWORD SizeOfImage(const std::string& image) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  return nt->OptionalHeader.SizeOfImage;
}

std::string StandInRuntime() { return ReadFileBytes(LinuxToWine(STANDIN_FLASH_PATH)); }

TEST(RuntimeFromTheBundle, IsMappedFromMemoryAndNeverLoadedBySystem) {
  const std::string runtime = StandInRuntime();
  ASSERT_GT(runtime.size(), 4096u);
  const std::string book = MakeBook("with-runtime.exe", {{"ExeConfig.xml", ExeConfigXml("Mapped", "5")},
                                                          {"flash.ocx", runtime}});
  TBookProcess process(book, "");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  EXPECT_EQ(process.Report().caption, "Mapped");

  for (const std::string& name : ModuleNames(process.Pid())) EXPECT_NE(name, "flash.ocx");
  HANDLE handle = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process.Pid());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(MappedImagesOfSize(handle, SizeOfImage(runtime)), 1);
  ::CloseHandle(handle);
}

TEST(RuntimeFromTheBundle, ThatIsNoModuleLeavesTheWindowAsConfigured) {
  const std::string book = MakeBook("bad-runtime.exe", {{"ExeConfig.xml", ExeConfigXml("Still here", "1", "640", "480")},
                                                         {"flash.ocx", std::string(5000, 'x')}});
  TBookProcess process(book, "");
  ASSERT_NE(process.WaitForWindow(), nullptr);
  const TWindowReport report = process.Report();
  EXPECT_EQ(report.caption, "Still here");
  EXPECT_EQ(report.rect.right - report.rect.left, 640);
  EXPECT_EQ(report.rect.bottom - report.rect.top, 480);
  process.Post(WM_CLOSE);
  DWORD code = 0xdeadbeef;
  EXPECT_TRUE(process.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace pageturn::e2e
