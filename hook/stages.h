// The stages of the keyboard hook procedure. Which keys each one claims,
// the settings that gate it and the order they run in are the rows of
// stage_table.h.
#pragma once

#include "hook/hook_call.h"

namespace tavik {

// The "@" key (scan key 0x1A) as the cancel key: Esc while kana is entered.
Outcome CancelKeyStage(HookCall& k);

// The eiji key (scan key 0x63): romaji switch, CapsLock, closing.
Outcome EijiKeyStage(HookCall& k);

// The eisu key (scan key 0x3A): katakana key, CapsLock off, closing.
Outcome EisuKeyStage(HookCall& k);

// Left Shift (scan key 0x2A) and the comma key (scan key 0x33) in romaji
// kana input: the chord types Backspace.
Outcome RomajiBackspaceStage(HookCall& k);
// A Backspace key-up (scan key 0x0E) ends the romaji backspace's
// substitution; the keystroke itself goes on unchanged.
Outcome BackspaceReleaseRule(HookCall& k);

// The hankaku/zenkaku key opens and closes the IME (IME ONOFF); with Ctrl it
// opens the IME's configuration dialog.
Outcome HankakuZenkakuStage(HookCall& k);
// The muhenkan and hiragana keys open a closed IME in kana input (IME ON).
Outcome ImeOnStage(HookCall& k);

// With OASYS KAKUTEI, Space and Enter commit a converted composition and act
// in the same press.
Outcome SpaceCommitStage(HookCall& k);
Outcome EnterCommitStage(HookCall& k);
// The cursor and editing keys, and the keys that only commit.
Outcome CommitKeysStage(HookCall& k);

// Direct commit input (KAKUTEI INPUT): never swallows a keystroke itself.
Outcome DirectCommitStage(HookCall& k);
// The henkan and muhenkan keys while katakana is held back, and the short
// while after they committed it.
Outcome ConversionKeysStage(HookCall& k);

// Esc in the Internet Explorer browser.
Outcome BrowserStage(HookCall& k);

// --- Closing an IME from a key ----------------------------------------------

// What an IME about to be closed is composing, and whether it may close.
enum class PendingComposition {
  kNone,         // nothing composed: close
  kOakFinished,  // an OAK-family IME's finished composition: complete, then close
  kFinished,     // any other IME's finished composition: complete, then close
  kUnfinished,   // still being converted: leave the IME open
  kKeptOpen,     // an OAK-family IME in the OASYS host, which asks to keep it open
};
// Reads the composition's attributes (and the IME's family and the host
// only as far as they matter). `asTypedIsFinished`: an unconverted
// composition of another IME counts as finished (held-back katakana).
PendingComposition ExaminePendingComposition(HookCall& k, InputContext& context, bool asTypedIsFinished);

// The eiji and eisu keys' shared steps: closing an IME open in a half-width
// mode (swallow, or pass on to the next step), and keeping the key from a
// closed IME that would act on it wrongly (swallow or pass on).
Outcome HalfWidthClose(HookCall& k);
Outcome ClosedImeSwallow(HookCall& k);

// While a keystroke the library sent is out, one typed before it is sent
// again behind it (true: discard this one). See typed_order.cpp.
bool SentBehindOurs(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam, intptr_t lParam);

// The keyboard hook procedure: runs the stages for one keystroke and returns
// what Windows is to get (nonzero discards the keystroke). A keystroke no
// stage claims goes straight on to the next hook.
intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                           uintptr_t wParam, intptr_t lParam);
// The same procedure without its first look: every keystroke of code 0 or
// more builds the per-call record and goes through the stage table. For the
// test that the first look leaves out only keys no stage acts on.
intptr_t KeyboardProcedureWithoutFirstLook(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process,
                                           int32_t code, uintptr_t wParam, intptr_t lParam);

// The message hook procedure, installed for direct commit input. `message`
// is the retrieved message's number, all it reads of the record that lParam
// points to (read by the caller only for code 0 or above).
intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                          intptr_t lParam, uint32_t message);
// The same in a program with its own variables (its name, to leave it
// alone), recording while the block's recording word is set (the process's
// RecordingSource says where to).
intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                          uintptr_t wParam, intptr_t lParam, uint32_t message);

}  // namespace tavik
