// The built program's resources, read from setup.exe beside this test the way
// Windows reads them: every string in every language, both dialog templates,
// the pictures, the icon and the manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/string_table.h"
#include "resources/resource_ids.h"
#include "tests/built_program.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/scoped_state.h"

namespace {

constexpr LANGID kSimplifiedChinese = 0x0004, kTraditionalChinese = 0x0404, kGerman = 0x0007,
                 kEnglish = 0x0009, kSpanish = 0x000A, kFrench = 0x000C, kItalian = 0x0010,
                 kDutch = 0x0013;
constexpr LANGID kLanguages[] = {kSimplifiedChinese, kTraditionalChinese, kGerman, kEnglish,
                                 kSpanish, kFrench, kItalian, kDutch};
constexpr LANGID kTranslated[] = {kSimplifiedChinese, kTraditionalChinese, kGerman,
                                  kSpanish, kFrench, kItalian};

bool IsEnglishTable(LANGID lang) { return lang == kEnglish || lang == kDutch; }

HMODULE Program() {
  static const HMODULE module = LoadBuiltProgram();
  return module;
}

// The languages in which the program holds a resource.
std::vector<LANGID> LanguagesOf(LPCWSTR type, LPCWSTR name) {
  std::vector<LANGID> languages;
  EnumResourceLanguagesW(
      Program(), type, name,
      [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR list) -> BOOL {
        reinterpret_cast<std::vector<LANGID>*>(list)->push_back(lang);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages));
  std::sort(languages.begin(), languages.end());
  return languages;
}

// The bytes of one resource in exactly that language (FindResourceExW alone
// falls back to other languages); empty when absent.
std::string_view Resource(LPCWSTR type, LPCWSTR name, LANGID lang) {
  const std::vector<LANGID> held = LanguagesOf(type, name);
  if (std::find(held.begin(), held.end(), lang) == held.end()) return {};
  HRSRC found = FindResourceExW(Program(), type, name, lang);
  if (found == nullptr) return {};
  const void* data = LockResource(LoadResource(Program(), found));
  return {static_cast<const char*>(data), SizeofResource(Program(), found)};
}

// A little-endian reader that never reads past the end; a short read marks
// the whole parse as broken instead of crashing the test.
struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool broken = false;

  template <typename T>
  T Read() {
    T value{};
    if (at + sizeof(T) > bytes.size()) {
      broken = true;
      at = bytes.size();
      return value;
    }
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    at += sizeof(T);
    return value;
  }
  std::wstring Text() {  // terminated UTF-16
    std::wstring text;
    for (wchar_t c = Read<wchar_t>(); c != L'\0' && !broken; c = Read<wchar_t>()) text += c;
    return text;
  }
  void AlignTo4() { at = (at + 3) & ~size_t{3}; }
};

// One string of one language, read from its block of sixteen counted strings.
std::optional<std::wstring> StringOf(LANGID lang, UINT id) {
  Reader block{Resource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), lang)};
  if (block.bytes.empty()) return std::nullopt;
  for (UINT slot = 0; slot < 16; ++slot) {
    const WORD length = block.Read<WORD>();
    std::wstring text;
    for (WORD i = 0; i < length; ++i) text += block.Read<wchar_t>();
    if (block.broken) return std::nullopt;
    if (slot == id % 16) return length == 0 ? std::nullopt : std::optional(text);
  }
  return std::nullopt;
}

std::wstring Text(LANGID lang, UINT id) { return StringOf(lang, id).value_or(L"<absent>"); }

// The printf conversions of a text, in order ("%ws", "%d", "%x", ...).
std::vector<std::wstring> Conversions(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') continue;
    size_t end = i + 1;
    while (end < text.size() && !std::iswalpha(text[end]) && text[end] != L'%') ++end;
    if (end < text.size() && text[end] == L'w' && end + 1 < text.size()) ++end;
    found.push_back(text.substr(i, end - i + 1));
    i = end;
  }
  return found;
}

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool EndsWithCrLf(const std::wstring& text) {
  return text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0;
}

std::string LanguageName(LANGID lang) {
  char name[16];
  std::snprintf(name, sizeof name, "0x%04x", lang);
  return name;
}

struct EnglishString {
  UINT id;
  const wchar_t* text;
  size_t buffer;  // the capacity its caller loads it with
};
const EnglishString kEnglishTable[] = {
    {IDS_NO_DEVICE,
     L"Device not found, Please power on printer and  connect to computer for auto-install "
     L"(recommended), Click \"Wizard\" for custom setup or\nCancel\" to quit.",
     kNoDeviceTextCapacity},
    {IDS_MESSAGE_CAPTION, L"Message", 25},
    {IDS_INSTALLED, L"The driver for printer [%ws] is installed.", 260},
    {IDS_INSTALL_FAILED,
     L"The printer driver install failed, error code:%d. Please contact our technical support.",
     260},
    {IDS_NOTHING_TO_REMOVE, L"Nothing need to be removed there", 1024},
    {IDS_TREE_PACKAGE, L"Driver Package:%ws, version:%ws, %ws, %ws", 1024},
    {IDS_TREE_DRIVER_LIST, L"Printer driver list:", 1024},
    {IDS_TREE_DRIVER, L"Printer Driver:%ws, %ws, version:%d.%d.%d.%d, %ws", 1024},
    {IDS_TREE_NO_DRIVER, L"No printer driver", 1024},
    {IDS_TREE_QUEUE, L"Printer:%ws on the port: %ws. %ws", 1024},
    {IDS_TREE_NO_QUEUE, L"No printer", 1024},
    {IDS_REMOVED, L"Removed.", 1024},
    {IDS_REMOVE_FAILED, L"Failed. Error:%d", 1024},
    {IDS_UNINSTALL_FAILED,
     L"Uninstall driver failed. Please try again, or reboot your OS then try again, or contact "
     L"our support for assistance.",
     1024},
    {IDS_UNINSTALLED, L"The driver is uninstalled.", 1024},
    {IDS_TREE_FOLDER, L"The driver folder: %ws", 1024},
    {IDS_FOUND_PRINTER, L"Found the printer %ws, installing the driver...\r\n", 260},
    {IDS_DONE, L"Done", 260},
    {IDS_SEARCHING, L"Searching for printer devices, please wait...", 260},
    {IDS_PROTECTED_PRINT,
     L"Windows protected print mode is on: it admits only the print drivers that come with Windows, so this "
     L"printer driver cannot be installed. An administrator can turn the mode off in the printer policies of "
     L"Windows.",
     kNoDeviceTextCapacity},
    {IDS_HELP,
     L"Options:\r\n"
     L"/silence (also /silent, /verysilent, /quiet, /q, /s): install without a window\r\n"
     L"/log or /log=<file>: write the trace into a log file\r\n"
     L"/timeout=<seconds>: silently, stop searching for a printer after that time\r\n"
     L"/stage: silently, only put the driver into the driver store\r\n"
     L"/check: silently, check the installed driver and change nothing; exit code 1 when /repair has something to "
     L"mend\r\n"
     L"/repair: silently, put back what /check finds missing or changed\r\n"
     L"-u <folder>: uninstall the driver installed from that folder\r\n"
     L"/?: this help\r\n\r\n"
     L"Exit codes: 0 done; 3010 done, restart needed; 1618 another install is running, try later; "
     L"1460 no printer in time; 1622 the log cannot be written; 3014 blocked by Windows protected print mode; "
     L"any other: the Windows error of the failure.",
     1024},
};

// --- strings -----------------------------------------------------------------

TEST(ResourceStrings, EnglishAndDutchTablesAreAsWritten) {
  ASSERT_NE(Program(), nullptr) << "setup.exe is built beside unit_tests.exe";
  for (const EnglishString& s : kEnglishTable) {
    EXPECT_EQ(Text(kEnglish, s.id), s.text) << "string " << s.id;
    std::wstring dutch = s.text;
    if (s.id == IDS_NO_DEVICE) {
      dutch = L"Device not found. Power on printer, connect to computer for auto-install "
              L"(recommended). Click \"Wizard\" for custom setup or \"Cancel\" to quit.";
    } else if (s.id == IDS_INSTALLED) {
      dutch = L"The printer [%ws] is installed on the port [%ws].";
    } else if (s.id == IDS_FOUND_PRINTER) {
      dutch = L"Found the printer %ws at %ws, installing the driver...\r\n";
    }
    EXPECT_EQ(Text(kDutch, s.id), dutch) << "string " << s.id;
  }
}

TEST(ResourceStrings, StringsAndDialogsInExactlyTheEightLanguages) {
  ASSERT_NE(Program(), nullptr);
  std::vector<LANGID> eight(std::begin(kLanguages), std::end(kLanguages));
  std::sort(eight.begin(), eight.end());
  for (WORD block : {IDS_NO_DEVICE / 16 + 1, IDS_SEARCHING / 16 + 1}) {
    EXPECT_EQ(LanguagesOf(RT_STRING, MAKEINTRESOURCEW(block)), eight) << "string block " << block;
  }
  for (WORD dialog : {IDD_UNINSTALL, IDD_INSTALLER}) {
    EXPECT_EQ(LanguagesOf(RT_DIALOG, MAKEINTRESOURCEW(dialog)), eight) << "dialog " << dialog;
  }
}

TEST(ResourceStrings, EveryLanguageHoldsEveryStringWithinItsBuffer) {
  for (LANGID lang : kLanguages) {
    for (const EnglishString& s : kEnglishTable) {
      const std::optional<std::wstring> text = StringOf(lang, s.id);
      ASSERT_TRUE(text.has_value()) << "string " << s.id << " in " << LanguageName(lang);
      EXPECT_LT(text->size(), s.buffer)
          << "string " << s.id << " in " << LanguageName(lang) << " would be cut";
    }
    EXPECT_FALSE(StringOf(lang, IDS_NO_DEVICE - 1).has_value()) << "nothing before 101";
    EXPECT_FALSE(StringOf(lang, IDS_HELP + 1).has_value()) << "nothing after 121";
  }
}

// Every option a fleet's scripts type is named in every language's help.
TEST(ResourceStrings, EveryLanguagesHelpNamesEveryOption) {
  for (LANGID lang : kLanguages) {
    const std::wstring help = Text(lang, IDS_HELP);
    for (const wchar_t* option : {L"/silence", L"/log", L"/timeout=", L"/stage", L"/check", L"/repair", L"-u ", L"/?"}) {
      EXPECT_NE(help.find(option), std::wstring::npos)
          << std::string(option, option + wcslen(option)) << " in " << LanguageName(lang);
    }
  }
}

// The log appends these lines as they are: the translations bring their own
// line breaks, and the printer name (and, in the 0x0013 table, the port).
TEST(ResourceStrings, FoundAndInstalledLinesOfTheLog) {
  for (LANGID lang : kLanguages) {
    SCOPED_TRACE(LanguageName(lang));
    const std::wstring found = Text(lang, IDS_FOUND_PRINTER);
    const std::wstring installed = Text(lang, IDS_INSTALLED);
    EXPECT_TRUE(EndsWithCrLf(found));
    EXPECT_EQ(Count(found, L"\n"), 1u) << "one line";
    EXPECT_EQ(EndsWithCrLf(installed), !IsEnglishTable(lang));
    EXPECT_EQ(Count(installed, L"\n"), IsEnglishTable(lang) ? 0u : 1u);
    const size_t names = lang == kDutch ? 2 : 1;
    EXPECT_EQ(Conversions(found), std::vector<std::wstring>(names, L"%ws"));
    EXPECT_EQ(Conversions(installed), std::vector<std::wstring>(names, L"%ws"));
  }
}

// A translation that dropped, added or reordered a conversion would show the
// wrong value in its place.
TEST(ResourceStrings, TranslationsTakeTheArgumentsOfTheEnglishText) {
  for (LANGID lang : kTranslated) {
    SCOPED_TRACE(LanguageName(lang));
    for (const EnglishString& s : kEnglishTable) {
      if (s.id == IDS_FOUND_PRINTER || s.id == IDS_INSTALLED) continue;  // checked above
      std::vector<std::wstring> expected = Conversions(s.text);
      if (s.id == IDS_REMOVE_FAILED) expected = {L"%x"};
      EXPECT_EQ(Conversions(Text(lang, s.id)), expected) << "string " << s.id;
    }
    EXPECT_NE(Text(lang, IDS_REMOVE_FAILED).find(L"0x%x"), std::wstring::npos);
    EXPECT_NE(Text(lang, IDS_NO_DEVICE), Text(kEnglish, IDS_NO_DEVICE)) << "translated";
  }
  EXPECT_EQ(Conversions(Text(kDutch, IDS_REMOVE_FAILED)), std::vector<std::wstring>{L"%d"});
}

TEST(ResourceStrings, NoDeviceInstructionLengths) {
  const std::pair<LANGID, size_t> lengths[] = {
      {kGerman, 302}, {kFrench, 276}, {kSpanish, 271}, {kItalian, 269},
      {kSimplifiedChinese, 58}, {kTraditionalChinese, 60}, {kEnglish, 150}, {kDutch, 140}};
  for (const auto& [lang, length] : lengths) {
    EXPECT_EQ(Text(lang, IDS_NO_DEVICE).size(), length) << LanguageName(lang);
    EXPECT_LT(length, kNoDeviceTextCapacity) << "loaded whole";
  }
}

// Loads string `id` into a field with room for exactly `length` characters
// (up to 15).
template <size_t N = 1>
int LoadIntoFieldFor(size_t length, UINT id) {
  if constexpr (N > 16) {
    return -1;
  } else {
    if (length + 1 != N) return LoadIntoFieldFor<N + 1>(length, id);
    WideText<N> field;
    return LoadText(field, id);
  }
}

// LoadText through the program's own module, in whichever of the eight
// languages Windows picks for the user (the German run is part of the dialogs
// scenario).
class LoadTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Program(), nullptr);
    module_instance_.emplace(Program());
    WideText<kNoDeviceTextCapacity> instruction;
    LoadText(instruction, IDS_NO_DEVICE);
    for (LANGID lang : kLanguages) {
      if (Text(lang, IDS_NO_DEVICE) == instruction.c_str()) user_language = lang;
    }
    ASSERT_NE(user_language, 0) << "string 101 loaded whole from one of the eight tables";
  }
  void TearDown() override { module_instance_.reset(); }
  std::optional<ScopedModuleInstance> module_instance_;

  LANGID user_language = 0;

 private:
};

TEST_F(LoadTextTest, EveryTextWholeInTheUsersLanguage) {
  for (const EnglishString& s : kEnglishTable) {
    WideText<1024> text;
    const int loaded = LoadText(text, s.id);
    EXPECT_EQ(text.c_str(), Text(user_language, s.id));
    EXPECT_EQ(static_cast<size_t>(loaded), text.length());
  }
}

TEST_F(LoadTextTest, ShortFieldCutsAndTracesTheCut) {
  FakeMachine machine;
  const std::wstring whole = Text(user_language, IDS_NO_DEVICE);
  WideText<40> field;  // shorter than the instruction in every language
  EXPECT_EQ(LoadText(field, IDS_NO_DEVICE), 39);
  EXPECT_EQ(std::wstring(field.c_str()), whole.substr(0, 39));
  ASSERT_EQ(machine.TraceLines().size(), 1u);
  EXPECT_EQ(machine.TraceLines()[0],
            L"String 101 cut to 39 of its " + std::to_wstring(whole.size()) + L" characters");

  // A text that fills its field exactly is whole: not traced.
  const std::wstring done = Text(user_language, IDS_DONE);
  EXPECT_EQ(LoadIntoFieldFor(done.size(), IDS_DONE), static_cast<int>(done.size()));
  EXPECT_EQ(machine.TraceLines().size(), 1u);
}

TEST_F(LoadTextTest, AbsentStringLeavesTheFieldEmpty) {
  WideText<16> field;
  BoundedCopy(field, L"old text");
  EXPECT_EQ(LoadText(field, 999), 0);
  EXPECT_TRUE(field.empty());
}

// --- dialogs -----------------------------------------------------------------

struct NameOrNumber {
  std::wstring name;
  int number = -1;  // a resource or class number, when not named
};

NameOrNumber ReadNameOrNumber(Reader& r) {
  NameOrNumber value;
  const wchar_t first = r.Read<wchar_t>();
  if (first == 0xFFFF) {
    value.number = r.Read<WORD>();
  } else if (first != L'\0') {
    value.name = std::wstring(1, first) + r.Text();
  }
  return value;
}

// A control's class in words: the numbered classes by their names.
std::wstring ClassName(const NameOrNumber& c) {
  std::wstring name = c.name;
  if (c.number == 0x80) name = L"button";
  if (c.number == 0x81) name = L"edit";
  if (c.number == 0x82) name = L"static";
  for (wchar_t& ch : name) ch = static_cast<wchar_t>(std::towlower(ch));
  return name;
}

struct Control {
  DWORD help_id, ex_style, style;
  short x, y, cx, cy;
  DWORD id;
  NameOrNumber window_class, title;
  WORD extra;
};

struct Dialog {
  WORD version, signature;
  DWORD help_id, ex_style, style;
  short x, y, cx, cy;
  NameOrNumber menu, window_class;
  std::wstring title;
  WORD point_size, weight;
  BYTE italic, charset;
  std::wstring face;
  std::vector<Control> controls;
  bool broken;
};

// Reads an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX
// items, each aligned to four bytes).
Dialog ParseDialog(std::string_view bytes) {
  Reader r{bytes};
  Dialog d{};
  d.version = r.Read<WORD>();
  d.signature = r.Read<WORD>();
  d.help_id = r.Read<DWORD>();
  d.ex_style = r.Read<DWORD>();
  d.style = r.Read<DWORD>();
  const WORD count = r.Read<WORD>();
  d.x = r.Read<short>();
  d.y = r.Read<short>();
  d.cx = r.Read<short>();
  d.cy = r.Read<short>();
  d.menu = ReadNameOrNumber(r);
  d.window_class = ReadNameOrNumber(r);
  d.title = r.Text();
  if (d.style & DS_SETFONT) {
    d.point_size = r.Read<WORD>();
    d.weight = r.Read<WORD>();
    d.italic = r.Read<BYTE>();
    d.charset = r.Read<BYTE>();
    d.face = r.Text();
  }
  for (WORD i = 0; i < count && !r.broken; ++i) {
    r.AlignTo4();
    Control c{};
    c.help_id = r.Read<DWORD>();
    c.ex_style = r.Read<DWORD>();
    c.style = r.Read<DWORD>();
    c.x = r.Read<short>();
    c.y = r.Read<short>();
    c.cx = r.Read<short>();
    c.cy = r.Read<short>();
    c.id = r.Read<DWORD>();
    c.window_class = ReadNameOrNumber(r);
    c.title = ReadNameOrNumber(r);
    c.extra = r.Read<WORD>();
    r.at += c.extra;
    d.controls.push_back(c);
  }
  d.broken = r.broken || d.controls.size() != count;
  return d;
}

struct ExpectedControl {
  DWORD id;
  const wchar_t* window_class;
  DWORD style;
  short x, y, cx, cy;
  const wchar_t* english_text;
};

struct ExpectedDialog {
  WORD id;
  short cx, cy;
  const wchar_t* english_caption;
  std::vector<ExpectedControl> controls;
};

const ExpectedDialog kUninstallDialog = {
    IDD_UNINSTALL, 309, 176, L"Uninstall printer driver",
    {{IDC_REMOVE, L"button", 0x50010001, 198, 155, 50, 14, L"Remove"},
     {IDCANCEL, L"button", 0x50010000, 252, 155, 50, 14, L"Close"},
     {IDC_HEADING, L"static", 0x50020000, 8, 9, 294, 8,
      L"The printer components below will be removed from you computer."},
     {IDC_TREE, L"systreeview32", 0x50910006, 7, 22, 295, 114, L""},
     {IDC_PROGRESS, L"msctls_progress32", 0x40800000, 7, 139, 295, 11, L""}}};  // hidden

const ExpectedDialog kInstallerDialog = {
    IDD_INSTALLER, 341, 132, L"Tapstart installer",
    {{IDCANCEL, L"button", 0x50010000, 284, 9, 50, 14, L"Cancel"},
     {IDC_WIZARD, L"button", 0x40010000, 284, 25, 50, 14, L"Wizard"},  // hidden
     {IDC_LOG, L"edit", 0x50A10844, 7, 41, 325, 74, L""},
     {0xFFFFFFFF, L"static", 0x5000000E, 4, 0, 45, 41, L"#112"},
     {IDC_PICTURE, L"static", 0x5000000E, 5, 42, 327, 75, L"#113"},
     {IDC_STATUS, L"static", 0x50020000, 51, 5, 225, 30, L""},
     {IDC_PROGRESS, L"msctls_progress32", 0x50800008, 7, 119, 327, 12, L""}}};

Dialog DialogOf(const ExpectedDialog& expected, LANGID lang) {
  return ParseDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(expected.id), lang));
}

void ExpectLayout(const ExpectedDialog& expected, LANGID lang) {
  SCOPED_TRACE("dialog " + std::to_string(expected.id) + " in " + LanguageName(lang));
  const Dialog d = DialogOf(expected, lang);
  ASSERT_FALSE(d.broken) << "template present and whole";
  EXPECT_EQ(d.version, 1);
  EXPECT_EQ(d.signature, 0xFFFF) << "an extended template";
  EXPECT_EQ(d.help_id, 0u);
  EXPECT_EQ(d.ex_style, 0u);
  EXPECT_EQ(d.style, 0x80C808C8u);
  EXPECT_EQ(d.x, 0);
  EXPECT_EQ(d.y, 0);
  EXPECT_EQ(d.cx, expected.cx);
  EXPECT_EQ(d.cy, expected.cy);
  EXPECT_TRUE(d.menu.name.empty() && d.menu.number < 0) << "no menu";
  EXPECT_TRUE(d.window_class.name.empty() && d.window_class.number < 0) << "no class";
  EXPECT_FALSE(d.title.empty());
  EXPECT_EQ(d.point_size, 8);
  EXPECT_EQ(d.weight, 400);
  EXPECT_EQ(d.italic, 0);
  EXPECT_EQ(d.charset, DEFAULT_CHARSET);
  EXPECT_EQ(d.face, L"MS Shell Dlg");
  ASSERT_EQ(d.controls.size(), expected.controls.size());
  for (size_t i = 0; i < d.controls.size(); ++i) {
    const Control& c = d.controls[i];
    const ExpectedControl& e = expected.controls[i];
    SCOPED_TRACE("control " + std::to_string(static_cast<int>(e.id)));
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(ClassName(c.window_class), e.window_class);
    EXPECT_EQ(c.style, e.style) << std::hex << c.style;
    EXPECT_EQ(c.help_id, 0u);
    EXPECT_EQ(c.ex_style, 0u);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
    EXPECT_EQ(c.extra, 0);
    EXPECT_LT(c.title.number, 0) << "texts are written out, pictures as \"#number\"";
    const std::wstring english = e.english_text;
    if (english.empty() || english[0] == L'#' || IsEnglishTable(lang)) {
      EXPECT_EQ(c.title.name, english);
    } else {
      EXPECT_FALSE(c.title.name.empty());
      EXPECT_NE(c.title.name, english) << "translated";
    }
  }
  if (IsEnglishTable(lang)) {
    EXPECT_EQ(d.title, expected.english_caption);
  } else {
    EXPECT_NE(d.title, expected.english_caption) << "translated";
  }
}

TEST(DialogTemplates, SameLayoutInEveryLanguage) {
  ASSERT_NE(Program(), nullptr);
  for (LANGID lang : kLanguages) {
    ExpectLayout(kUninstallDialog, lang);
    ExpectLayout(kInstallerDialog, lang);
  }
}

// --- pictures, icon, manifest -------------------------------------------------

BITMAPINFOHEADER BitmapHeader(WORD id) {
  BITMAPINFOHEADER header{};
  const std::string_view bytes = Resource(RT_BITMAP, MAKEINTRESOURCEW(id), LANG_NEUTRAL);
  if (bytes.size() >= sizeof header) std::memcpy(&header, bytes.data(), sizeof header);
  return header;
}

TEST(ProgramPictures, BitmapsAreUncompressed24BitsOfTheirSize) {
  ASSERT_NE(Program(), nullptr);
  const struct {
    WORD id;
    LONG width, height;
  } bitmaps[] = {{IDB_GEAR, 67, 67}, {IDB_CONNECTION, 490, 122}};
  for (const auto& b : bitmaps) {
    SCOPED_TRACE("bitmap " + std::to_string(b.id));
    const BITMAPINFOHEADER header = BitmapHeader(b.id);
    EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(header.biWidth, b.width);
    EXPECT_EQ(std::abs(header.biHeight), b.height);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    const size_t stride = (static_cast<size_t>(b.width) * 3 + 3) & ~size_t{3};
    EXPECT_GE(Resource(RT_BITMAP, MAKEINTRESOURCEW(b.id), LANG_NEUTRAL).size(),
              sizeof header + stride * b.height)
        << "every row present";
    // Found whatever the user's language.
    EXPECT_NE(FindResourceW(Program(), MAKEINTRESOURCEW(b.id), RT_BITMAP), nullptr);
  }
}

TEST(ProgramPictures, IconGroupHoldsOne256PixelImageOf32Bits) {
  Reader group{Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_PROGRAM), LANG_NEUTRAL)};
  ASSERT_FALSE(group.bytes.empty());
  EXPECT_EQ(group.Read<WORD>(), 0);  // reserved
  EXPECT_EQ(group.Read<WORD>(), 1);  // icon, not cursor
  ASSERT_EQ(group.Read<WORD>(), 1) << "one image";
  EXPECT_EQ(group.Read<BYTE>(), 0) << "width 256";
  EXPECT_EQ(group.Read<BYTE>(), 0) << "height 256";
  group.Read<BYTE>();  // colour count
  group.Read<BYTE>();  // reserved
  EXPECT_EQ(group.Read<WORD>(), 1);   // planes
  EXPECT_EQ(group.Read<WORD>(), 32);  // bits per pixel
  const DWORD size = group.Read<DWORD>();
  const WORD image_id = group.Read<WORD>();
  ASSERT_FALSE(group.broken);

  // The image itself: a PNG of 256 x 256 RGBA pixels, 8 bits per channel.
  const std::string_view image = Resource(RT_ICON, MAKEINTRESOURCEW(image_id), LANG_NEUTRAL);
  ASSERT_EQ(image.size(), size);
  ASSERT_GE(image.size(), 33u);
  EXPECT_EQ(image.substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(image.substr(12, 4), "IHDR");
  auto big_endian = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(image[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(image[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(image[at + 2])) << 8) |
           static_cast<uint8_t>(image[at + 3]);
  };
  EXPECT_EQ(big_endian(16), 256u);
  EXPECT_EQ(big_endian(20), 256u);
  EXPECT_EQ(image[24], 8) << "bits per channel";
  EXPECT_EQ(image[25], 6) << "red, green, blue and alpha";

  // Windows makes an icon of it.
  HICON icon = static_cast<HICON>(
      LoadImageW(Program(), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 256, 256, 0));
  EXPECT_NE(icon, nullptr);
  if (icon != nullptr) DestroyIcon(icon);
}

TEST(ProgramManifest, AsksForAdministratorRightsAndNothingElse) {
  const std::string_view manifest =
      Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(manifest.empty());
  const std::string text(manifest);
  EXPECT_NE(text.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos);
  EXPECT_EQ(text.find("dependency"), std::string::npos) << "no common-controls version";
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
  EXPECT_EQ(text.find("dpiAware"), std::string::npos) << "no DPI awareness";
  // One manifest only: none in another language that Windows might take instead.
  EXPECT_EQ(LanguagesOf(RT_MANIFEST, MAKEINTRESOURCEW(1)),
            std::vector<LANGID>{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)});
}

}  // namespace

namespace {

// What file properties show, read from the built program as Windows reads it.
TEST(ProgramVersion, EveryFieldIsThereAndTheFixedVersionIsTheProgramsOwn) {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path = own;
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"setup.exe";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(PROGRAM_VERSION_MINOR, PROGRAM_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, PROGRAM_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

  for (const wchar_t* field : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                               L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + field;
    wchar_t* value = nullptr;
    length = 0;
    EXPECT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
                length > 1 && value[0] != L'\0')
        << "field " << testing::PrintToString(std::wstring(field));
  }
  wchar_t* version = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                             reinterpret_cast<void**>(&version), &length));
  EXPECT_STREQ(version, kProgramVersion) << "the log's version and the file's are one";
}

}  // namespace
