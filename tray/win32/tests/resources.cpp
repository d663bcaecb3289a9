// Checks tavik.exe's resources as Windows finds them: every resource the
// program loads exists in Japanese (0x0411), the texts came through the
// resource compiler as the right UTF-16, and the templates agree with the
// ids the program's code uses.
//   usage: tavik-resources-check TAVIK.EXE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tray/tray.h"
// clang-format off
#include <windows.h>
// clang-format on

#include "tray/win32/tests/wine_windows.h"

namespace {

using tavik::wintest::Utf8;

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

void CheckText(const std::wstring& got, const wchar_t* want, const char* what) {
  bool ok = got == want;
  Check(ok, what);
  if (!ok) std::printf("     got \"%s\", want \"%s\"\n", Utf8(got).c_str(), Utf8(want).c_str());
}

// The bytes of a resource in Japanese, or empty when there is none.
std::vector<uint8_t> Resource(HMODULE module, LPCSTR type, int id) {
  HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kJapanese);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
}

// Reads a dialog template (the classic DLGTEMPLATE the resource compiler
// writes for DIALOG): the window's style and extended style, and each
// control's id, class and style. A predefined class may be stored as its
// atom or by name.
struct Item {
  uint32_t style;
  int y, cx, cy;
  int id;
  int classAtom;
  std::wstring className;
  std::wstring text;
  bool Is(int atom, const wchar_t* name) const { return classAtom == atom || lstrcmpiW(className.c_str(), name) == 0; }
};
struct Template {
  uint32_t style = 0, exStyle = 0;
  int cx = 0, cy = 0;
  std::wstring title;
  std::vector<Item> items;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : b_(bytes) {}
  uint16_t Word() {
    uint16_t v = 0;
    if (at_ + 2 <= b_.size()) std::memcpy(&v, &b_[at_], 2);
    at_ += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t v = Word();
    return v | uint32_t{Word()} << 16;
  }
  // A string or an ordinal (0xFFFF then the number); an ordinal comes back
  // as its negative number in `ordinal`.
  std::wstring SzOrOrd(int* ordinal = nullptr) {
    uint16_t first = Word();
    if (first == 0xFFFF) {
      uint16_t number = Word();
      if (ordinal) *ordinal = number;
      return {};
    }
    std::wstring s;
    for (uint16_t c = first; c != 0 && at_ <= b_.size(); c = Word()) s += static_cast<wchar_t>(c);
    return s;
  }
  void AlignDword() { at_ = (at_ + 3) & ~size_t{3}; }

 private:
  const std::vector<uint8_t>& b_;
  size_t at_ = 0;
};

Template ReadDialog(const std::vector<uint8_t>& bytes) {
  Template t;
  Reader r(bytes);
  t.style = r.Dword();
  t.exStyle = r.Dword();
  int count = r.Word();
  r.Word();  // x
  r.Word();  // y
  t.cx = r.Word();
  t.cy = r.Word();
  r.SzOrOrd();  // menu
  r.SzOrOrd();  // class
  t.title = r.SzOrOrd();
  if (t.style & DS_SETFONT) {
    r.Word();
    r.SzOrOrd();
  }
  for (int i = 0; i < count; ++i) {
    r.AlignDword();
    Item item{};
    item.style = r.Dword();
    r.Dword();  // extended style
    r.Word();  // x
    item.y = r.Word();
    item.cx = r.Word();
    item.cy = r.Word();
    item.id = static_cast<int16_t>(r.Word());
    item.classAtom = 0;
    item.className = r.SzOrOrd(&item.classAtom);
    item.text = r.SzOrOrd();
    uint16_t extra = r.Word();
    for (uint16_t k = 0; k < extra; k += 2) r.Word();
    t.items.push_back(item);
  }
  return t;
}

void CheckDialogs(HMODULE module) {
  const uint32_t frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

  // The hidden window: no WS_VISIBLE, a tool window, no controls.
  Template main = ReadDialog(Resource(module, RT_DIALOG, tavik::tray::kMainDialog));
  Check(main.style == 0x80C800C0, "dialog 102: WS_POPUP|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME|DS_SETFONT, not visible");
  Check(main.exStyle == WS_EX_TOOLWINDOW, "dialog 102: WS_EX_TOOLWINDOW only");
  Check(main.items.empty() && main.title.empty() && main.cx == 187 && main.cy == 93,
        "dialog 102: 187 x 93, no title, no controls");

  Template about = ReadDialog(Resource(module, RT_DIALOG, tavik::tray::kAboutDialog));
  Check(about.style == frame, "dialog 100: style");
  CheckText(about.title, L"tavikのﾊﾞｰｼﾞｮﾝ情報", "dialog 100: title");
  Check(about.items.size() == 5 && about.items[0].Is(0x82, L"Static") && (about.items[0].style & 0x1F) == SS_ICON &&
            about.items[0].cx == 20 && about.items[0].cy == 20 && about.items[4].id == IDOK,
        "dialog 100: the icon first, 20 x 20, OK last");
  // The line on 32-bit programs: an empty static the program fills in, wide
  // and tall enough for two lines of its longest text, reaching below the
  // box of 203 by 55 units, which grows by 11 units to show it.
  Check(about.cx == 203 && about.cy == 55, "dialog 100: 203 x 55");
  Check(about.items.size() == 5 && about.items[3].id == tavik::tray::kAboutNote && about.items[3].Is(0x82, L"Static") &&
            about.items[3].text.empty() && about.items[3].cx >= 150 && about.items[3].cy >= 16 &&
            about.items[3].y + about.items[3].cy <= about.cy + 11 && about.items[3].y + about.items[3].cy > about.cy,
        "dialog 100: the empty note reaching below the box, inside it once grown");

  // The settings dialog: OK first in tab order; every control the model
  // drives is there, as an automatic check box, or for the pair an
  // automatic radio button without a tab stop or a group of its own.
  Template settings = ReadDialog(Resource(module, RT_DIALOG, tavik::tray::kSettingsDialog));
  CheckText(settings.title, L"tavikの設定", "dialog 133: title");
  Check(settings.items.size() == 27 && settings.items[0].id == IDOK && settings.items[1].id == IDCANCEL &&
            (settings.items[0].style & 0xF) == BS_DEFPUSHBUTTON,
        "dialog 133: 27 controls, OK (the default button) then Cancel first");
  auto find = [&](int id) -> const Item* {
    for (const Item& item : settings.items) {
      if (item.id == id) return &item;
    }
    return nullptr;
  };
  bool allThere = true;
  for (tavik::Setting key : tavik::kSettingsInTreeOrder) {
    int id = tavik::tray::ControlOf(key);
    const Item* item = find(id);
    bool radio = key == tavik::kKanaToEijiCapsLockOff;
    bool ok = item != nullptr && item->Is(0x80, L"Button") &&
              (item->style & 0xF) == static_cast<uint32_t>(radio ? BS_AUTORADIOBUTTON : BS_AUTOCHECKBOX) &&
              ((item->style & WS_TABSTOP) != 0) == !radio && (item->style & WS_GROUP) == 0;
    if (!ok) std::printf("     control %d of %s\n", id, tavik::kSettingKeys[key].name);
    allThere = allThere && ok;
  }
  const Item* keep = find(tavik::tray::kRadioKeepCapsLock);
  allThere = allThere && keep != nullptr && (keep->style & 0xF) == BS_AUTORADIOBUTTON &&
             (keep->style & (WS_TABSTOP | WS_GROUP)) == 0;
  Check(allThere, "dialog 133: a control of the right kind for each of the 24 settings");
}

void CheckMenu(HMODULE module) {
  std::vector<uint8_t> bytes = Resource(module, RT_MENU, tavik::tray::kTrayMenu);
  HMENU menu = bytes.empty() ? nullptr : LoadMenuIndirectW(bytes.data());
  HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
  // The three original items keep their places; the added ones follow.
  struct {
    UINT id;
    const wchar_t* text;
  } const want[] = {{tavik::tray::ID_TRAY_SETTINGS, L"tavikの設定(&S)"},
                    {0, nullptr},
                    {tavik::tray::ID_TRAY_ABOUT, L"ﾊﾞｰｼﾞｮﾝ情報(&A)"},
                    {0, nullptr},
                    {tavik::tray::ID_TRAY_EXIT, L"終了(&X)"},
                    {0, nullptr},
                    {tavik::tray::ID_TRAY_PAUSE, L"一時停止(&P)"},
                    {tavik::tray::ID_TRAY_RECORD, L"問題の記録(&R)"},
                    {tavik::tray::ID_TRAY_RECORDINGS, L"記録のフォルダーを開く(&O)"}};
  constexpr int kItems = sizeof want / sizeof want[0];
  bool ok = popup != nullptr && GetMenuItemCount(popup) == kItems;
  for (int i = 0; ok && i < kItems; ++i) ok = GetMenuItemID(popup, i) == want[i].id;
  Check(ok, "menu 130: settings, about, exit, then pause and the two recording items");
  for (int i = 0; popup != nullptr && i < kItems; ++i) {
    if (want[i].text == nullptr) continue;
    wchar_t text[64] = {};
    GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
    CheckText(text, want[i].text, "menu 130: an item's text");
  }
  if (menu) DestroyMenu(menu);
}

void CheckString(HMODULE module) {
  // Strings come in blocks of 16, each a length and that many characters.
  int id = tavik::tray::kAboutMenuString;
  std::vector<uint8_t> block = Resource(module, RT_STRING, id / 16 + 1);
  Check(!block.empty(), "string 101: its block");
  Reader r(block);
  std::wstring text;
  for (int i = 0; i <= id % 16; ++i) {
    text.clear();
    for (int n = r.Word(); n > 0; --n) text += static_cast<wchar_t>(r.Word());
  }
  CheckText(text, L"tavik のﾊﾞｰｼﾞｮﾝ情報(&A)...", "string 101");
}

void CheckIcon(HMODULE module) {
  // GRPICONDIR: three words, then 14-byte entries (width, height, colour
  // count, reserved, planes, bit count, size, id).
  std::vector<uint8_t> group = Resource(module, RT_GROUP_ICON, tavik::tray::kIconResource);
  Reader r(group);
  r.Word();
  r.Word();
  int count = r.Word();
  std::string images;
  for (int i = 0; i < count; ++i) {
    uint16_t size = r.Word();
    uint16_t colours = r.Word();
    r.Word();
    uint16_t bits = r.Word();
    r.Dword();
    int imageId = r.Word();
    bool present = FindResourceExA(module, RT_ICON, MAKEINTRESOURCEA(imageId), kJapanese) != nullptr;
    char line[64];
    std::snprintf(line, sizeof line, "%dx%d/%d/%d%s ", size & 0xFF, size >> 8, colours & 0xFF, bits,
                  present ? "" : "(missing)");
    images += line;
  }
  std::printf("     icon 128: %s\n", images.c_str());
  Check(images == "16x16/16/4 32x32/16/4 48x48/0/8 ", "icon 128: 16x16 and 32x32 in 16 colours, 48x48 in 256");
}

void CheckVersion(const char* path, HMODULE module) {
  Check(!Resource(module, RT_VERSION, 1).empty(), "version resource 1 in Japanese");
  std::wstring widePath(path, path + std::strlen(path));
  DWORD size = GetFileVersionInfoSizeW(widePath.c_str(), nullptr);
  std::vector<uint8_t> info(size);
  if (size == 0 || !GetFileVersionInfoW(widePath.c_str(), 0, size, info.data())) {
    Check(false, "version information readable");
    return;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  Check(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr &&
            fixed->dwFileVersionMS == 0x00010002 && fixed->dwFileVersionLS == 0x00020001 &&
            fixed->dwProductVersionMS == 0x00010002 && fixed->dwProductVersionLS == 0x00020001,
        "version 1.2.2.1");
  WORD* translation = nullptr;
  Check(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &length) &&
            length == 4 && translation[0] == 0x0411 && translation[1] == 0x04B0,
        "translation 0x0411 / 0x04B0");

  struct {
    const wchar_t* name;
    const wchar_t* value;  // null: any text
  } const strings[] = {
      {L"Comments", L"親指ｼﾌﾄｷｰﾎﾞｰﾄﾞﾕｰﾃｨﾘﾃｨ"}, {L"FileDescription", L"tavik ｱﾌﾟﾘｹｰｼｮﾝ"},
      {L"ProductName", L"tavik ｱﾌﾟﾘｹｰｼｮﾝ"},      {L"InternalName", L"tavik"},
      {L"OriginalFilename", L"tavik.exe"},          {L"FileVersion", L"1, 2, 2, 1"},
      {L"ProductVersion", L"1, 2, 2, 1"},           {L"LegalCopyright", nullptr},
  };
  for (const auto& s : strings) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\041104b0\\") + s.name;
    wchar_t* value = nullptr;
    bool found = VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) && value;
    std::string what = "version string " + Utf8(s.name);
    if (s.value == nullptr) {
      Check(found && value[0] != 0, what.c_str());
    } else {
      CheckText(found ? value : L"(missing)", s.value, what.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavik-resources-check TAVIK.EXE\n");
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("FAIL cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }

  struct {
    LPCSTR type;
    int id;
    const char* what;
  } const wanted[] = {
      {RT_DIALOG, tavik::tray::kAboutDialog, "dialog 100"},
      {RT_DIALOG, tavik::tray::kMainDialog, "dialog 102"},
      {RT_DIALOG, tavik::tray::kSettingsDialog, "dialog 133"},
      {RT_MENU, tavik::tray::kTrayMenu, "menu 130"},
      {RT_STRING, tavik::tray::kAboutMenuString / 16 + 1, "string block of 101"},
      {RT_GROUP_ICON, tavik::tray::kIconResource, "icon 128"},
      {RT_VERSION, 1, "version 1"},
  };
  for (const auto& w : wanted) {
    std::string what = std::string(w.what) + " in Japanese";
    Check(FindResourceExA(module, w.type, MAKEINTRESOURCEA(w.id), kJapanese) != nullptr, what.c_str());
  }

  // The manifest, as Windows reads it at start: the settings it must carry.
  HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
  std::string text;
  if (manifest != nullptr) {
    text.assign(static_cast<const char*>(LockResource(LoadResource(module, manifest))), SizeofResource(module, manifest));
  }
  for (const char* setting : {"level=\"asInvoker\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true</dpiAware>",
                             ">PerMonitorV2</dpiAwareness>", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""}) {
    Check(text.find(setting) != std::string::npos, (std::string("the manifest says ") + setting).c_str());
  }

  CheckDialogs(module);
  CheckMenu(module);
  CheckString(module);
  CheckIcon(module);
  CheckVersion(argv[1], module);
  FreeLibrary(module);

  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
