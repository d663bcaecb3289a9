// The end-to-end test's meeting point: a named block of shared memory that
// the driver, the target program and the test IME (inside the target) all
// map, and the messages the driver sends the target.
#pragma once

#include <cstdint>

namespace tavik::e2e {

inline constexpr const char kSharedName[] = "tavik-e2e-shared";

// ImmEscapeA code with which the target asks the test IME to take on the
// composition and candidate list the driver staged.
inline constexpr unsigned kEscapeApplyStaged = 0x0800 + 0x54;  // IME_ESC_PRIVATE_FIRST + 'T'

// Messages the driver sends (SendMessage: they are done when it returns).
enum TargetCommand : unsigned {
  kCmdSetOpen = 0x8000 + 1,  // WM_APP + n; wParam: 0 or 1
  kCmdSetMode,               // wParam: conversion, lParam: sentence
  kCmdApplyStaged,           // composition, attributes and candidates from the block
  kCmdSnapshot,              // fill the snapshot fields; wParam: whose text, 1 editor (also 0), 2 plain
  kCmdFocus,                 // wParam: 0 none, 1 editor, 2 plain (a window without IME)
  kCmdForeground,            // bring the target to the foreground
  kCmdNotify,                // ImmNotifyIME(NI_COMPOSITIONSTR, wParam, 0), for the driver's own check of the IME
  kCmdConfigure,             // ImmConfigureIMEA(IME_CONFIG_GENERAL), likewise
  kCmdLayout,                // wParam: a keyboard layout id such as 0xE0020411, made the target thread's layout
  kCmdSetText,               // stagedText into wParam's window (1 editor, 2 plain), caret at lParam characters (-1: end)
  kCmdSync,                  // posted: the target writes wParam to syncSeq once it gets here
  kCmdHold,                  // posted: the target signals kHeldEvent and waits for kReleaseEvent
};

// Events (auto-reset) with which the driver makes the target hold still
// while it queues a burst of keystrokes (the load test), so that every
// keystroke of the burst is queued before the target takes the first.
inline constexpr const char kHeldEvent[] = "tavik-e2e-held";
inline constexpr const char kReleaseEvent[] = "tavik-e2e-release";

struct Keystroke {
  uint32_t vk;
  uint32_t scanKey;  // scan code plus 0x100 when extended
  uint32_t up;
  uint32_t message;
  uint32_t process;  // the target program (original or host copy) that took it
  uint32_t imeTook;  // it came as VK_PROCESSKEY: the IME took the key
};

// The key the target's own keyboard hook answers, with what the block's
// probe fields ask for, as the hook library's stages will: from inside a
// hook procedure in the target's thread.
inline constexpr uint32_t kProbeVk = 0x86;  // F23: no stage has any use for it
inline constexpr uint32_t kProbeScan = 0x6E;

// kConvert: the henkan key converted a composition; a is the reading's
// length and b the converted text's, in characters.
enum ImeCallKind : uint32_t { kNotifyIme = 1, kImeConfigure = 2, kImeSelect = 3, kConvert = 4 };

struct ImeCall {
  uint32_t kind;
  uint32_t a;
  uint32_t b;
  uint32_t c;
};

struct Shared {
  // Written by the target.
  volatile uint32_t targetReady;
  uint32_t targetProcessId;
  uint64_t targetWindow;
  uint32_t hookLoadedInTarget;  // tavikhook.dll is mapped into the target process
  uint32_t imeActive;           // the test IME is the target's keyboard layout
  // Every keystroke message the target retrieved, in order; room for the
  // load test's whole run (tavik-e2e --load). What does not fit is counted
  // in keysLost, never written over what is there.
  volatile uint32_t keyCount;
  volatile uint32_t keysLost;
  Keystroke keys[1 << 18];
  // WM_IME_COMPOSITION messages: retrieved from the target's message queue
  // (posted ones, which message hooks see), and handled by the editor's
  // window procedure (posted and sent alike).
  volatile uint32_t queuedCompositions;
  volatile uint32_t editorCompositions;

  // Staged by the driver, taken on by the IME at kEscapeApplyStaged.
  uint32_t stagedLength;
  uint8_t stagedComposition[512];
  uint8_t stagedAttributes[512];
  int32_t stagedCandidates;  // entries of the first candidate list; -1: no list
  uint32_t stagedTextLength;
  uint8_t stagedText[4096];  // code page 932, "\n" for a line break

  // Written by the test IME.
  volatile uint32_t imeCallCount;
  ImeCall imeCalls[4096];
  uint32_t committedLength;
  uint8_t committed[8192];

  // The target's answer to kCmdSnapshot.
  volatile uint32_t syncSeq;
  uint32_t snapOpen;
  uint32_t snapConversion;
  uint32_t snapSentence;
  int32_t snapCompositionLength;
  uint8_t snapComposition[512];
  int32_t snapAttributesLength;
  uint8_t snapAttributes[512];
  int32_t snapCandidates;  // dwCount of the first candidate list; -1: no list
  // The text of the edit control asked for, as code page 932 with "\n" for
  // each "\r\n", and its caret in characters ("\r\n" counting as one).
  int32_t snapEditTextLength;
  uint8_t snapEditText[4096];
  uint32_t snapCaret;
  uint32_t snapCapsLock;
  uint8_t snapKeyboard[256];  // GetKeyboardState: the target thread's idea of every key
  uint32_t snapHookLoaded;
  uint64_t snapLayout;     // GetKeyboardLayout(0)
  char snapImeFile[260];   // ImmGetIMEFileNameA of the thread's keyboard layout ("" when it fails)
  char snapHostFile[260];  // GetModuleFileNameA(NULL) of the target program

  // Set by the driver; the target's hook carries them out at the next F23
  // key-down and clears probeArmed.
  volatile uint32_t probeArmed;
  uint32_t probeOpen;
  uint32_t probeConversion;
  uint32_t probeSentence;
  uint32_t probeConfigure;  // also ImmConfigureIMEA(IME_CONFIG_GENERAL)
};

}  // namespace tavik::e2e
