#include "e2e/wine_connection.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "sim/print.h"
// clang-format off
#include <imm.h>
// clang-format on

namespace tavik::e2e {

namespace {

using sim::HexBytes;
using sim::ImeTold;
using sim::KeyId;

constexpr KeyId kProbe{kProbeVk, kProbeScan};
constexpr DWORD kTimeoutMs = 5000;

bool Fail(std::string& why, const std::string& what) {
  why = what;
  return false;
}

std::string_view View(const uint8_t* p, size_t n) { return {reinterpret_cast<const char*>(p), n}; }

INPUT Input(const KeyId& key, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = static_cast<WORD>(key.vk);
  in.ki.wScan = static_cast<WORD>(key.scanKey & 0xFF);
  in.ki.dwFlags = ((key.scanKey & 0x100) != 0 ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  return in;
}

}  // namespace

std::vector<ImeTold> ImeToldSince(const Shared& s, uint32_t from) {
  std::vector<ImeTold> told;
  for (uint32_t i = from; i < s.imeCallCount && i < std::size(s.imeCalls); ++i) {
    const ImeCall& call = s.imeCalls[i];
    if (call.kind == kImeConfigure) {
      told.push_back(ImeTold{0, ImeTold::Kind::kConfigure});
    } else if (call.kind == kNotifyIme && call.a == NI_COMPOSITIONSTR) {
      told.push_back(ImeTold{call.b});
    }
  }
  return told;
}

bool WineConnection::Start(const std::string& dllPath, const std::string& imePath, const std::string& targetPath, std::string& why) {
  dllPath_ = dllPath;
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kSharedName);
  if (mapping_ == nullptr) return Fail(why, "cannot create the shared block");
  shared_ = static_cast<Shared*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (shared_ == nullptr) return Fail(why, "cannot map the shared block");
  std::memset(shared_, 0, sizeof(Shared));
  held_ = CreateEventA(nullptr, FALSE, FALSE, kHeldEvent);
  release_ = CreateEventA(nullptr, FALSE, FALSE, kReleaseEvent);
  if (held_ == nullptr || release_ == nullptr) return Fail(why, "cannot create the events a burst is typed with");

  if (!LoadHookLibrary(why)) return false;
  if (!targets_.Start(imePath, targetPath, *shared_, why)) return false;
  return CheckIme(why) && CheckConversion(why) && CheckLayouts(why) && CheckImeFromHook(why);
}

void WineConnection::Stop() {
  if (hookLibrary_ != nullptr) {
    if (started_) HookEndNow();
    if (block_ != nullptr) UnmapViewOfFile(block_);
    if (blockMapping_ != nullptr) CloseHandle(blockMapping_);
    FreeLibrary(hookLibrary_);
  }
  targets_.Stop();
  if (held_ != nullptr) CloseHandle(held_);
  if (release_ != nullptr) CloseHandle(release_);
  if (shared_ != nullptr) UnmapViewOfFile(shared_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
}

// The target's state once it has handled every message posted to it so
// far (the IME posts its composition messages), with the text of one of
// its edit controls (as kCmdFocus names them).
void WineConnection::Snapshot(WPARAM textOf) {
  uint32_t seq = ++syncSeq_;
  PostMessageA(targets_.window(), kCmdSync, seq, 0);
  for (DWORD start = GetTickCount(); shared_->syncSeq != seq && GetTickCount() - start < kTimeoutMs;) Sleep(1);
  Tell(kCmdSnapshot, textOf);
}

// An edit control's text and caret, as the target reads them.
sim::AppText WineConnection::Text(WPARAM window) {
  Snapshot(window);
  const Shared& s = *shared_;
  size_t n = s.snapEditTextLength > 0 ? static_cast<size_t>(s.snapEditTextLength) : 0;
  return sim::AppText{std::string(reinterpret_cast<const char*>(s.snapEditText), n), s.snapCaret};
}

// The text of an edit control, with the caret at `caret` characters (-1:
// after the text).
void WineConnection::SetText(WPARAM window, const std::string& text, LPARAM caret) {
  size_t n = text.size() < sizeof shared_->stagedText ? text.size() : sizeof shared_->stagedText;
  std::memcpy(shared_->stagedText, text.data(), n);
  shared_->stagedTextLength = static_cast<uint32_t>(n);
  Tell(kCmdSetText, window, caret);
}

// Types the keystrokes and waits until the target has taken them and
// whatever they made the hook send.
bool WineConnection::Type(const std::vector<std::pair<KeyId, bool>>& keys, std::string& why) {
  std::vector<INPUT> inputs;
  for (const auto& [key, up] : keys) inputs.push_back(Input(key, up));
  if (!inputs.empty() && SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
    return Fail(why, "SendInput failed");
  }
  return Settle(why);
}

// Types a burst at full speed: the target holds still until every
// keystroke of it is in its queue, so that what the hook sends meanwhile
// goes behind the last of them, then takes them as fast as it can. The
// simulated desktop's Burst does the same.
bool WineConnection::Burst(const std::vector<std::pair<KeyId, bool>>& keys, std::string& why) {
  std::vector<INPUT> inputs;
  for (const auto& [key, up] : keys) inputs.push_back(Input(key, up));
  PostMessageA(targets_.window(), kCmdHold, 0, 0);
  if (WaitForSingleObject(held_, kTimeoutMs) != WAIT_OBJECT_0) return Fail(why, "the target did not hold still");
  UINT sent = inputs.empty() ? 0 : SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  SetEvent(release_);
  if (sent != inputs.size()) return Fail(why, "SendInput failed");
  return Settle(why);
}

// Rounds of F24 until one brings nothing else: keystrokes that the hook
// sends while the target takes ours queue up behind the first F24.
bool WineConnection::Settle(std::string& why) {
  for (int round = 0; round < 8; ++round) {
    uint32_t before = shared_->keyCount;
    INPUT sentinel[2] = {Input(kSentinel, false), Input(kSentinel, true)};
    SendInput(2, sentinel, sizeof(INPUT));
    DWORD start = GetTickCount();
    while (!SentinelUpAfter(before)) {
      if (GetTickCount() - start > kTimeoutMs) return Fail(why, "the target did not take the keystrokes in time");
      Sleep(2);
    }
    bool other = false;
    for (uint32_t i = before; i < shared_->keyCount; ++i) other = other || shared_->keys[i].vk != kSentinel.vk;
    if (!other && round > 0) return true;
  }
  return Fail(why, "keystrokes keep coming");
}

// Before any scenario relies on it: the test IME takes on what is staged,
// reports it through IMM32, and does what it is told.
bool WineConnection::CheckIme(std::string& why) {
  Shared& s = *shared_;
  const uint8_t text[] = {0x83, 0x4A, 0x83, 0x4C};
  const uint8_t attr[] = {2, 2, 1, 1};
  uint32_t told = s.imeCallCount;
  Tell(kCmdSetOpen, 1);
  Tell(kCmdSetMode, 0x19, 0);
  s.stagedLength = sizeof text;
  std::memcpy(s.stagedComposition, text, sizeof text);
  std::memcpy(s.stagedAttributes, attr, sizeof attr);
  s.stagedCandidates = 3;
  SetText(1, "");
  Tell(kCmdApplyStaged);
  // The application shows no composition: its text is what was committed.
  if (!Text(1).text.empty()) return Fail(why, "the composition shows in the edit control's text");
  if (!s.snapOpen || s.snapConversion != 0x19) return Fail(why, "the test IME does not keep open status and mode");
  if (s.snapCompositionLength != 4 || std::memcmp(s.snapComposition, text, 4) != 0) {
    return Fail(why, "the test IME's composition reads back as " + HexBytes(View(s.snapComposition, 4)));
  }
  if (s.snapAttributesLength != 4 || std::memcmp(s.snapAttributes, attr, 4) != 0) {
    return Fail(why, "the test IME's attributes read back as " + HexBytes(View(s.snapAttributes, 4)));
  }
  if (s.snapCandidates != 3) return Fail(why, "the test IME's candidate list reads back wrong");
  Tell(kCmdNotify, CPS_REVERT);
  Snapshot();
  if (s.snapAttributesLength != 4 || s.snapAttributes[0] != 0 || s.snapAttributes[3] != 0) {
    return Fail(why, "CPS_REVERT did not revert the test IME's composition");
  }
  Tell(kCmdNotify, CPS_COMPLETE);
  Snapshot();
  if (s.snapCompositionLength != 0 || s.committedLength != 4 || std::memcmp(s.committed, text, 4) != 0) {
    return Fail(why, "CPS_COMPLETE did not commit the test IME's composition");
  }
  // Once: neither the edit control's own IME handling nor WM_IME_CHAR
  // adds it again.
  std::string edit = Text(1).text;
  if (edit != std::string(reinterpret_cast<const char*>(text), sizeof text)) {
    return Fail(why, "the committed text reached the edit control as " +
                         HexBytes(edit));
  }
  Tell(kCmdApplyStaged);
  Tell(kCmdNotify, CPS_CANCEL);
  Snapshot();
  if (s.snapCompositionLength != 0 || s.committedLength != 4) {
    return Fail(why, "CPS_CANCEL did not drop the test IME's composition");
  }
  // A commit stays in the edit control when a later composition is cancelled.
  if (Text(1).text != edit) return Fail(why, "cancelling a composition changed the committed text in the edit control");
  Tell(kCmdConfigure);
  std::vector<ImeTold> got = ImeToldSince(s, told);
  if (got != std::vector<ImeTold>{{CPS_REVERT}, {CPS_COMPLETE}, {CPS_CANCEL}, {0, ImeTold::Kind::kConfigure}}) {
    std::string list;
    for (const ImeTold& g : got) list += " " + sim::Word(g);
    return Fail(why, "the test IME's record of what it was told is wrong:" + list);
  }
  std::printf("ok   the test IME keeps its state, reports it through IMM32 and records what it is told\n\n");
  return true;
}

// Henkan converts what was typed, and the news reaches the target through
// its message queue, where a WH_GETMESSAGE hook sees it; CPS_REVERT brings
// back what was typed and says so only when that changes something; the
// key-up, and a henkan with nothing to convert or a closed IME, are not
// the IME's.
bool WineConnection::CheckConversion(std::string& why) {
  Shared& s = *shared_;
  const uint8_t typed[] = {0x82, 0xA9, 0x82, 0xC8};      // かな
  const uint8_t converted[] = {0x95, 0xCF, 0x8A, 0xB7};  // 変換
  const uint8_t convertedAttr[] = {1, 1, 1, 1};
  const uint8_t inputAttr[] = {0, 0, 0, 0};
  const KeyId henkan{VK_CONVERT, 0x79};
  auto stage = [&](const uint8_t* text, uint32_t n) {
    s.stagedLength = n;
    if (n != 0) std::memcpy(s.stagedComposition, text, n);
    std::memset(s.stagedAttributes, 0, sizeof s.stagedAttributes);
    s.stagedCandidates = -1;
    Tell(kCmdApplyStaged);
  };
  auto composition = [&](const uint8_t* text, const uint8_t* attr, uint32_t n) {
    Snapshot();
    return s.snapCompositionLength == static_cast<int32_t>(n) && s.snapAttributesLength == static_cast<int32_t>(n) &&
           std::memcmp(s.snapComposition, text, n) == 0 && std::memcmp(s.snapAttributes, attr, n) == 0;
  };
  // What the target retrieved of the henkan keystrokes since `from`, the
  // sentinels left out: each as "down"/"up", "*" when the IME took it.
  auto henkanKeys = [&](uint32_t from) {
    std::string got;
    for (uint32_t i = from; i < s.keyCount; ++i) {
      if (s.keys[i].vk == kSentinel.vk) continue;
      got += (got.empty() ? "" : " ") + std::string(s.keys[i].up ? "up" : "down") + (s.keys[i].imeTook ? "*" : "") +
             (s.keys[i].vk == VK_CONVERT ? "" : "?");
    }
    return got;
  };

  Tell(kCmdSetOpen, 1);
  SetText(1, "");
  stage(typed, sizeof typed);
  uint32_t keys = s.keyCount;
  uint32_t queued = s.queuedCompositions;
  uint32_t calls = s.imeCallCount;
  if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
  if (!composition(converted, convertedAttr, 4)) {
    return Fail(why, "henkan left the test IME's composition " + HexBytes(View(s.snapComposition, 4)) + " / " +
                         HexBytes(View(s.snapAttributes, 4)));
  }
  if (henkanKeys(keys) != "down* up") {
    return Fail(why, "the target got henkan as " + henkanKeys(keys) + ", not as VK_PROCESSKEY down and itself up");
  }
  if (s.queuedCompositions != queued + 1) {
    return Fail(why, "the conversion's WM_IME_COMPOSITION did not come through the target's message queue once");
  }
  bool recorded = false;
  for (uint32_t i = calls; i < s.imeCallCount; ++i) recorded = recorded || s.imeCalls[i].kind == kConvert;
  if (!recorded) return Fail(why, "the test IME did not record its conversion");

  uint32_t sent = s.editorCompositions;
  Tell(kCmdNotify, CPS_REVERT);
  if (!composition(typed, inputAttr, 4)) return Fail(why, "CPS_REVERT did not bring back what was typed");
  if (s.editorCompositions != sent + 1) return Fail(why, "CPS_REVERT of a conversion sent no WM_IME_COMPOSITION");
  Tell(kCmdNotify, CPS_REVERT);
  if (!composition(typed, inputAttr, 4) || s.editorCompositions != sent + 1) {
    return Fail(why, "CPS_REVERT of a composition that was not converted changed it or sent a message");
  }
  uint32_t committed = s.committedLength;
  Tell(kCmdNotify, CPS_COMPLETE);
  Snapshot();
  if (s.committedLength != committed + 4 || std::memcmp(s.committed + committed, typed, 4) != 0) {
    return Fail(why, "CPS_COMPLETE after a revert did not commit what was typed");
  }

  // Nothing to convert, then a closed IME: the key is the application's.
  keys = s.keyCount;
  queued = s.queuedCompositions;
  if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
  stage(typed, sizeof typed);
  Tell(kCmdSetOpen, 0);
  if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
  if (henkanKeys(keys) != "down up down up" || s.queuedCompositions != queued ||
      !composition(typed, inputAttr, 4)) {
    return Fail(why, "henkan with nothing to convert or a closed IME reached the IME (" + henkanKeys(keys) + ")");
  }
  stage(nullptr, 0);
  SetText(1, "");
  std::printf("ok   henkan converts through the message queue, CPS_REVERT brings back what was typed\n\n");
  return true;
}

bool WineConnection::CheckLayouts(std::string& why) {
  if (!targets_.CheckLayouts(why)) return false;
  std::printf("ok   the target switches to the layout of each IME file name (ImmGetIMEFileNameA: \"%s\")\n\n",
              shared_->snapImeFile);
  return true;
}

// The stages change the IME's open status and mode, and open its
// configuration, from inside the keyboard hook in the target's thread:
// the target's own hook does the same, on the default layout and on
// another, and the target must read back what it set.
bool WineConnection::CheckImeFromHook(std::string& why) {
  Shared& s = *shared_;
  struct Probe {
    uint32_t open, conversion, sentence, configure;
  };
  const Probe probes[] = {{1, 0x9, 0x8, 1}, {0, 0x19, 0, 0}};
  for (const char* imeFile : {kImeFileNames[0], kImeFileNames[1]}) {
    if (!targets_.UseImeFile(imeFile, why)) return false;
    for (const Probe& p : probes) {
      Tell(kCmdSetOpen, p.open ? 0 : 1);
      Tell(kCmdSetMode, 0, 0);
      uint32_t told = s.imeCallCount;
      s.probeOpen = p.open;
      s.probeConversion = p.conversion;
      s.probeSentence = p.sentence;
      s.probeConfigure = p.configure;
      s.probeArmed = 1;
      if (!Type({{kProbe, false}, {kProbe, true}}, why)) return false;
      Snapshot();
      if (s.probeArmed) return Fail(why, std::string("the target's keyboard hook did not run under ") + imeFile);
      if (s.snapOpen != p.open || s.snapConversion != p.conversion || s.snapSentence != p.sentence) {
        char got[96];
        std::snprintf(got, sizeof got, "open %u mode 0x%X sentence 0x%X", s.snapOpen, s.snapConversion,
                      s.snapSentence);
        return Fail(why,
                    std::string("under ") + imeFile + " the IME state set from a keyboard hook reads back as " + got);
      }
      std::vector<ImeTold> want;
      if (p.configure) want.push_back(ImeTold{0, ImeTold::Kind::kConfigure});
      if (ImeToldSince(s, told) != want) {
        return Fail(why, std::string("under ") + imeFile +
                             " ImmConfigureIMEA from a keyboard hook did not reach the test IME once");
      }
    }
  }
  if (!targets_.UseDefaults(why)) return false;
  std::printf("ok   open status, mode and configuration set from a keyboard hook in the target reach the IME\n\n");
  return true;
}


bool WineConnection::SentinelUpAfter(uint32_t from) const {
  for (uint32_t i = from; i < shared_->keyCount; ++i) {
    if (shared_->keys[i].vk == kSentinel.vk && shared_->keys[i].up) return true;
  }
  return false;
}

// Loads the library as the tray program does, and maps its shared block:
// the named block that the library maps in every process it is loaded into.
bool WineConnection::LoadHookLibrary(std::string& why) {
  hookLibrary_ = LoadLibraryA(dllPath_.c_str());
  if (hookLibrary_ == nullptr) return Fail(why, "cannot load " + dllPath_);
  hookStart_ = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookStart")));
  hookEnd_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookEnd")));
  if (hookStart_ == nullptr || hookEnd_ == nullptr) return Fail(why, "HookStart or HookEnd not exported");
  blockMapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kSharedBlockName);
  void* view = blockMapping_ != nullptr ? MapViewOfFile(blockMapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                                        sizeof(HookSharedBlock))
                                        : nullptr;
  block_ = static_cast<HookSharedBlock*>(view);
  if (block_ == nullptr) {
    return Fail(why, std::string("no shared block ") + kSharedBlockName + " after loading " + dllPath_);
  }
  return true;
}

}  // namespace tavik::e2e
