#include "tray/recording.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "hook/recording_decode.h"

namespace tavik::tray {

namespace {

// The settings as the hook library reads them (the file-only keys too).
void ReadLibrarySettings(TrayPlatform& p, int32_t (&flags)[kSettingCount]) {
  for (int i = 0; i < kSettingCount; ++i) {
    char value[256] = {};
    p.GetPrivateProfileStringA(kSettingsSection, kSettingKeys[i].name, kSettingKeys[i].defaultValue, value,
                               sizeof value, kSettingsFile);
    value[sizeof value - 1] = '\0';
    flags[i] = SettingFlagFromText(value);
  }
}

RecordingHeader Header(TrayPlatform& p, const Recorder& r) {
  RecordingHeader header;
  header.tavikVersion = r.tavikVersion;
  uint32_t v = p.GetVersion();
  header.windowsVersion = std::to_string(v & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." +
                          std::to_string((v >> 16) & 0x7FFF);
  Hkl layouts[32] = {};
  int32_t n = p.GetKeyboardLayoutList(32, layouts);
  for (int32_t i = 0; i < n && i < 32; ++i) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uintptr_t>(layouts[i])));
    header.keyboardLayouts.push_back(text);
    char name[w32::MAX_PATH] = {};
    uint32_t length = p.ImmGetIMEFileNameA(layouts[i], name, sizeof name);
    // Some count the NUL too.
    if (length != 0 && length < sizeof name) header.imeFileNames.push_back(std::string(name, strnlen(name, length)));
  }
  ReadLibrarySettings(p, header.settings);
  return header;
}

bool Write(TrayPlatform& p, Recorder& r, const std::string& text) {
  uint32_t written = 0;
  return p.WriteFile(r.file, text.data(), static_cast<uint32_t>(text.size()), &written) != 0 &&
         written == text.size();
}

void Report(TrayPlatform& p, TrayState& s, const char* format, const std::string& path) {
  char text[w32::MAX_PATH + 256];
  std::snprintf(text, sizeof text, format, path.c_str());
  p.MessageBoxA(s.window, text, s.programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
}

void Release(TrayPlatform& p, Recorder& r) {
  if (r.ring != nullptr) p.UnmapViewOfFile(r.ring);
  r.ring = nullptr;
  if (!IsNull(r.mapping)) p.CloseHandle(r.mapping);
  r.mapping = Handle{};
  if (!IsNull(r.file) && r.file != kInvalidHandle) p.CloseHandle(r.file);
  r.file = Handle{};
}

// Drains into the file; false when a write failed (recording then stops).
bool DrainToFile(TrayPlatform& p, Recorder& r, bool final) {
  bool ok = true;
  r.drain.Drain(*r.ring, p.GetTickCount(), final, [&](const Record& record) {
    if (ok) ok = Write(p, r, FormatRecord(record));
  });
  return ok;
}

// Stops the libraries, takes what they left, ends the file: the trailer is
// written even after a failed write, in case the disk has room again.
bool Finish(TrayPlatform& p, TrayState& s, Recorder& r) {
  if (!IsNull(r.hookRecord)) p.CallExport(r.hookRecord, 0);
  if (!IsNull(s.window)) p.KillTimer(s.window, kRecordingTimer);
  bool ok = DrainToFile(p, r, true);
  RecordingTrailer trailer;
  trailer.lost = std::atomic_ref<uint64_t>(r.ring->head.lost).load() + r.drain.lost();
  trailer.passedOn = std::atomic_ref<uint64_t>(r.ring->head.passedOn).load();
  ok = Write(p, r, FormatTrailer(trailer)) && ok;
  Release(p, r);
  s.recording = false;
  RefreshTrayIcon(p, s);
  return ok;
}

}  // namespace

std::string RecordingsFolder(TrayPlatform& p) {
  char base[w32::MAX_PATH] = {};
  uint32_t n = p.GetEnvironmentVariableA("LOCALAPPDATA", base, sizeof base);
  if (n == 0 || n >= sizeof base) return "";
  return std::string(base, n) + "\\" + kRecordingFolder;
}

namespace {

bool MakeFolder(TrayPlatform& p, const std::string& folder) {
  return p.CreateDirectoryA(folder.c_str()) != 0 || p.GetLastError() == w32::ERROR_ALREADY_EXISTS;
}

}  // namespace

bool StartRecording(TrayPlatform& p, TrayState& s, Recorder& r) {
  if (s.recording || IsNull(s.hookLibrary)) return false;
  r.hookRecord = p.GetProcAddress(s.hookLibrary, kRecordExportName);
  std::string folder = RecordingsFolder(p);
  if (IsNull(r.hookRecord) || folder.empty()) {
    p.MessageBoxA(s.window, kRecordingBlockFailedText, s.programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
    return false;
  }

  // The block may be left from an earlier recording, still mapped by the
  // programs that recorded into it: its ring starts afresh either way.
  r.mapping = p.CreateFileMappingA(sizeof(RecordingBlock), kRecordingBlockName);
  r.ring = IsNull(r.mapping) ? nullptr : static_cast<RecordingBlock*>(p.MapViewOfFile(r.mapping, sizeof(RecordingBlock)));
  if (r.ring == nullptr) {
    Release(p, r);
    p.MessageBoxA(s.window, kRecordingBlockFailedText, s.programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
    return false;
  }
  std::memset(static_cast<void*>(r.ring), 0, sizeof(RecordingBlock));
  r.drain = RecordingDrain{};

  SystemTime t{};
  p.GetLocalTime(&t);
  char name[64];
  std::snprintf(name, sizeof name, "\\tavik-%04u-%02u-%02u-%02u%02u%02u.txt", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  r.path = folder + name;
  r.file = MakeFolder(p, folder) ? p.CreateFileA(r.path.c_str()) : kInvalidHandle;
  if (r.file == kInvalidHandle) {
    Release(p, r);
    Report(p, s, kRecordingFailedText, r.path);
    return false;
  }

  RecordingHeader header = Header(p, r);
  Record settings;
  settings.kind = RecordKind::kSettings;
  settings.bitness = sizeof(void*) * 8;
  settings.process = s.programName;
  settings.time = p.GetTickCount();
  std::memcpy(settings.settings, header.settings, sizeof settings.settings);
  if (!Write(p, r, FormatHeader(header)) || !Write(p, r, FormatRecord(settings))) {
    Release(p, r);
    Report(p, s, kRecordingFailedText, r.path);
    return false;
  }

  // A session number unlike the last, never 0 (which means off).
  r.session = (r.session + p.GetTickCount()) | 1;
  p.CallExport(r.hookRecord, r.session);
  if (!IsNull(s.window)) p.SetTimer(s.window, kRecordingTimer, kRecordingInterval);
  s.recording = true;
  RefreshTrayIcon(p, s);
  return true;
}

void StopRecording(TrayPlatform& p, TrayState& s, Recorder& r) {
  if (!s.recording || r.ring == nullptr) return;
  std::string path = r.path;
  if (!Finish(p, s, r)) Report(p, s, kRecordingFailedText, path);
}

void ToggleRecording(TrayPlatform& p, TrayState& s, Recorder& r) {
  if (s.recording) {
    StopRecording(p, s, r);
  } else {
    StartRecording(p, s, r);
  }
}

void OnRecordingTimer(TrayPlatform& p, TrayState& s, Recorder& r) {
  if (!s.recording || r.ring == nullptr) return;
  if (DrainToFile(p, r, false)) return;
  // Told once; what the libraries record after a failed write would be lost too.
  std::string path = r.path;
  Finish(p, s, r);
  Report(p, s, kRecordingFailedText, path);
}

void OpenRecordingsFolder(TrayPlatform& p, TrayState& s) {
  std::string folder = RecordingsFolder(p);
  if (folder.empty() || !MakeFolder(p, folder)) {
    Report(p, s, kRecordingFailedText, folder.empty() ? std::string("%LOCALAPPDATA%\\tavik") : folder);
    return;
  }
  p.ShellExecuteA(s.window, "open", folder.c_str());
}

bool RecordRequested(const char* commandLine) {
  if (commandLine == nullptr) return false;
  for (const char* c = commandLine; (c = std::strstr(c, "/record")) != nullptr; c += 7) {
    bool startsWord = c == commandLine || c[-1] == ' ' || c[-1] == '\t';
    bool endsWord = c[7] == '\0' || c[7] == ' ' || c[7] == '\t';
    if (startsWord && endsWord) return true;
  }
  return false;
}

}  // namespace tavik::tray
