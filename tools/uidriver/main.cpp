// Command line, the command table, and output.
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

#include "uidriver.h"

namespace {

struct Command {
  const char* usage;
  CommandFunction function;
};

std::map<std::wstring, Command>& Commands() {
  static std::map<std::wstring, Command> table;
  return table;
}

int Usage() {
  Print(L"usage: uidriver.exe COMMAND [ARGUMENTS] [--exe NAME] [--pid ID] [--caption TEXT]"
        L" [--with ID] [--timeout SECONDS]");
  for (const auto& [name, command] : Commands()) {
    std::wstring usage(command.usage, command.usage + std::strlen(command.usage));
    Print(L"  " + name + L" " + usage);
  }
  return 2;
}

bool NeedsValue(int i, int argc) {
  if (i + 1 < argc) return true;
  Print(L"an option lacks its value");
  return false;
}

}  // namespace

CommandRegistration::CommandRegistration(const wchar_t* name, const char* usage,
                                         CommandFunction function) {
  Commands()[name] = {usage, function};
}

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': out += L"\\\\"; break;
      case L'"': out += L"\\\""; break;
      case L'\r': out += L"\\r"; break;
      case L'\n': out += L"\\n"; break;
      case L'\t': out += L"\\t"; break;
      default: out += c;
    }
  }
  return out + L"\"";
}

std::wstring Hex(ULONG_PTR value) {
  wchar_t text[32];
  swprintf(text, 32, L"0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool ParseNumber(const std::wstring& text, long* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  *value = std::wcstol(text.c_str(), &end, 0);
  return end != nullptr && *end == L'\0';
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  auto found = Commands().find(argv[1]);
  if (found == Commands().end()) return Usage();

  Invocation invocation;
  Selector& s = invocation.selector;
  for (int i = 2; i < argc; ++i) {
    const std::wstring word = argv[i];
    long number = 0;
    if (word == L"--exe") {
      if (!NeedsValue(i, argc)) return 2;
      s.exe = argv[++i];
    } else if (word == L"--pid") {
      if (!NeedsValue(i, argc) || !ParseNumber(argv[++i], &number)) return 2;
      s.pid = static_cast<DWORD>(number);
    } else if (word == L"--caption") {
      if (!NeedsValue(i, argc)) return 2;
      s.caption = argv[++i];
      s.has_caption = true;
    } else if (word == L"--with") {
      if (!NeedsValue(i, argc) || !ParseNumber(argv[++i], &number)) return 2;
      s.with_control = static_cast<int>(number);
      s.has_with_control = true;
    } else if (word == L"--timeout") {
      if (!NeedsValue(i, argc)) return 2;
      const double seconds = std::wcstod(argv[++i], nullptr);
      s.timeout_ms = seconds > 0 ? static_cast<DWORD>(seconds * 1000) : 0;
    } else {
      invocation.words.push_back(word);
    }
  }
  return found->second.function(invocation);
}
