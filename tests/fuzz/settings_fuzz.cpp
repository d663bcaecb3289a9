// Fuzz target: any text as the settings file, read by HookStart and by the
// tray program's start-up step. Every flag either reads must be 0 or 1, the
// hooks must be the ones the flags ask for, and the tray's own rewrite of
// the file must leave nothing to rewrite the next time.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hook/shared_block.h"
#include "sim/desktop.h"
#include "tests/support/fake_tray_platform.h"
#include "tray/tray.h"

namespace {

using namespace tavik;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "settings: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  sim::Desktop desktop;
  desktop.profiles().SetFile(kSettingsFile, text);
  HookSharedBlock block{};
  HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  for (int32_t f : block.flag) {
    if (f != 0 && f != 1) Broken("HookStart read a flag other than 0 or 1");
  }
  if (!desktop.HookInstalled(w32::WH_KEYBOARD)) Broken("no keyboard hook");
  if (desktop.HookInstalled(w32::WH_GETMESSAGE) != block.On(kKakuteiInput)) Broken("message hook against its flag");
  HookEnd(desktop, block);
  if (desktop.HookInstalled(w32::WH_KEYBOARD) || desktop.HookInstalled(w32::WH_GETMESSAGE)) Broken("hooks left");

  sim::FakeTrayPlatform tray;
  tray.profiles().SetFile(kSettingsFile, text);
  tray::OsVersion version{148, w32::VER_PLATFORM_WIN32_NT};
  tray::TraySettings first{};
  tray::LoadOrResetSettings(tray, version, first);
  for (int32_t f : first.flag) {
    if (f != 0 && f != 1) Broken("the tray read a flag other than 0 or 1");
  }
  // What the step wrote is consistent: a second start-up reads the same
  // flags and writes nothing.
  tray.ClearTrace();
  tray::TraySettings second{};
  tray::LoadOrResetSettings(tray, version, second);
  if (!tray.Calls("WritePrivateProfileStringA").empty()) Broken("a second start-up rewrote the file");
  for (int i = 0; i < kSettingCount; ++i) {
    if (first.flag[i] != second.flag[i]) Broken("a second start-up read other flags");
  }
  return 0;
}
