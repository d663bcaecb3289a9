#include "e2e/record_on_wine.h"

#include <cstdio>
#include <cstring>

#include "common/recording.h"
#include "hook/recording_decode.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include <windows.h>
#include <imm.h>

namespace tavik::e2e {

namespace {

HANDLE mapping = nullptr;
RecordingBlock* ring = nullptr;
unsigned (*hookRecord)(unsigned) = nullptr;

RecordingHeader Header() {
  RecordingHeader header;
  header.tavikVersion = "e2e";
  DWORD v = GetVersion();
  header.windowsVersion = std::to_string(v & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." +
                          std::to_string((v >> 16) & 0x7FFF);
  HKL layouts[32] = {};
  int n = GetKeyboardLayoutList(32, layouts);
  for (int i = 0; i < n; ++i) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(layouts[i])));
    header.keyboardLayouts.push_back(text);
    char name[MAX_PATH] = {};
    UINT length = ImmGetIMEFileNameA(layouts[i], name, sizeof name);
    // Wine counts the NUL too.
    if (length != 0 && length < sizeof name) header.imeFileNames.push_back(std::string(name, strnlen(name, length)));
  }
  for (int i = 0; i < kSettingCount; ++i) {
    char value[256] = {};
    GetPrivateProfileStringA(kSettingsSection, kSettingKeys[i].name, kSettingKeys[i].defaultValue, value, sizeof value,
                             kSettingsFile);
    header.settings[i] = SettingFlagFromText(value);
  }
  return header;
}

}  // namespace

bool StartRecording(const std::string& dllPath, std::string& why) {
  HMODULE library = LoadLibraryA(dllPath.c_str());
  hookRecord = library != nullptr ? reinterpret_cast<unsigned (*)(unsigned)>(
                                        reinterpret_cast<void*>(GetProcAddress(library, "HookRecord")))
                                  : nullptr;
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(RecordingBlock),
                               kRecordingBlockName);
  ring = mapping != nullptr ? static_cast<RecordingBlock*>(
                                  MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(RecordingBlock)))
                            : nullptr;
  if (hookRecord == nullptr || ring == nullptr) {
    why = hookRecord == nullptr ? "HookRecord not exported" : "no recording block";
    return false;
  }
  std::memset(static_cast<void*>(ring), 0, sizeof(RecordingBlock));
  hookRecord(GetTickCount() | 1);
  return true;
}

bool FinishRecording(const std::string& path, std::string& why) {
  if (ring == nullptr) return false;
  hookRecord(0);
  std::string text = FormatHeader(Header());
  RecordingDrain drain;
  drain.Drain(*ring, GetTickCount(), true, [&](const Record& r) { text += FormatRecord(r); });
  RecordingTrailer trailer;
  trailer.lost = ring->head.lost + drain.lost();
  trailer.passedOn = ring->head.passedOn;
  text += FormatTrailer(trailer);
  FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr) ok = std::fclose(file) == 0 && ok;
  if (!ok) why = "cannot write " + path;
  std::printf("recorded %llu lost, %llu passed on into %s\n", static_cast<unsigned long long>(trailer.lost),
              static_cast<unsigned long long>(trailer.passedOn), path.c_str());
  return ok;
}

}  // namespace tavik::e2e
