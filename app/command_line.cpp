#include "app/command_line.h"

#include <cwchar>
#include <cwctype>

#include "common/scoped_handle.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

constexpr unsigned long kLongestTimeoutSeconds = 86400;  // a day
// A folder that ends at a quote and what follows it is read again, at most
// this often in one line (each time one quote fewer is left).
constexpr int kMostResplits = 8;

void NoteMistyped(CommandLineOptions& options, const wchar_t* what) {
  if (options.mistyped.empty()) BoundedCopy(options.mistyped, what);
}

// A whole number of seconds from 1 to a day, digits only; 0 for anything else.
DWORD ReadTimeout(const wchar_t* text) {
  if (*text == L'\0') return 0;
  unsigned long seconds = 0;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    if (*c < L'0' || *c > L'9') return 0;
    seconds = seconds * 10 + static_cast<unsigned long>(*c - L'0');
    if (seconds > kLongestTimeoutSeconds) return 0;
  }
  return static_cast<DWORD>(seconds);
}

void ReadArguments(LPWSTR* args, int first, int count, CommandLineOptions& options, int resplits);

// Splits `rest` as further arguments, by the same rules as the whole line.
void ReadRest(const wchar_t* rest, CommandLineOptions& options, int resplits) {
  if (resplits >= kMostResplits) {
    NoteMistyped(options, L"-u");
    return;
  }
  const size_t length = std::wcslen(rest);
  // A program word in front, so that the rest is split as arguments are.
  LocalBlock<wchar_t> line = LocalBlock<wchar_t>::Allocate((length + 3) * sizeof(wchar_t));
  if (!line) {
    NoteMistyped(options, L"-u");
    return;
  }
  line.get()[0] = L'x';
  line.get()[1] = L' ';
  std::wmemcpy(line.get() + 2, rest, length + 1);
  int count = 0;
  LocalBlock<LPWSTR> args(os.CommandLineToArgvW(line.get(), &count));
  if (!args) {
    NoteMistyped(options, L"-u");
    return;
  }
  ReadArguments(args.get(), 1, count, options, resplits + 1);
}

void ReadFolder(LPWSTR folder, CommandLineOptions& options, int resplits) {
  options.uninstall = true;
  // A quote here was typed as backslash-quote ("C:\Tapstart\" read as an
  // escaped quote): the folder ends with that backslash.
  wchar_t* quote = std::wcschr(folder, L'"');
  wchar_t after_quote = L'\0';
  if (quote != nullptr) {
    after_quote = quote[1];
    quote[0] = L'\\';
    if (after_quote != L'\0') quote[1] = L'\0';
  }
  // A later "-u" replaces an earlier one, refusal included.
  options.directory_refused = folder[0] == L'\0' || !BoundedCopy(options.directory, folder);
  if (options.directory_refused) {
    options.directory.clear();
    NoteMistyped(options, folder[0] == L'\0' ? L"-u with an empty folder" : L"-u with a folder too long");
  }
  if (quote != nullptr && after_quote != L'\0') {
    quote[1] = after_quote;
    ReadRest(quote + 1, options, resplits);
  }
}

void ReadArguments(LPWSTR* args, int first, int count, CommandLineOptions& options, int resplits) {
  for (int i = first; i < count; ++i) {
    const wchar_t* argument = args[i];
    if (_wcsicmp(argument, L"-u") == 0) {
      if (i + 1 >= count) {
        NoteMistyped(options, L"-u without a folder");
        continue;
      }
      // The folder is never read as an option.
      ReadFolder(args[++i], options, resplits);
    } else if (IsSilentOption(argument)) {
      options.silent = true;
    } else if (_wcsicmp(argument, L"/finish") == 0) {
      options.finish = true;
    } else if (_wcsnicmp(argument, L"/after=", 7) == 0) {
      options.after = static_cast<DWORD>(std::wcstoul(argument + 7, nullptr, 10));
    } else if (_wcsnicmp(argument, L"/result=", 8) == 0) {
      options.result = static_cast<DWORD>(std::wcstoul(argument + 8, nullptr, 10));
    } else if (_wcsnicmp(argument, L"/timeout=", 9) == 0) {
      options.timeout_seconds = ReadTimeout(argument + 9);
      if (options.timeout_seconds == 0) NoteMistyped(options, L"/timeout");
    } else if (_wcsicmp(argument, L"/log") == 0) {
      options.log = true;
      options.log_path.clear();
      options.log_refused = false;
    } else if (_wcsnicmp(argument, L"/log=", 5) == 0) {
      options.log = true;
      options.log_refused = argument[5] == L'\0' || !BoundedCopy(options.log_path, argument + 5);
      if (argument[5] == L'\0') NoteMistyped(options, L"/log= without a file");
    } else if (_wcsicmp(argument, L"/stage") == 0) {
      options.stage = true;
    } else if (_wcsicmp(argument, L"/check") == 0) {
      options.check = true;
    } else if (_wcsicmp(argument, L"/repair") == 0) {
      options.repair = true;
    } else if (_wcsicmp(argument, L"/?") == 0) {
      options.help = true;
    }
  }
}

}  // namespace

bool IsSilentOption(const wchar_t* argument) {
  for (const wchar_t* option : {L"/silence", L"/silent", L"/verysilent", L"/quiet", L"/q", L"/s"}) {
    if (_wcsicmp(argument, option) == 0) return true;
  }
  return false;
}

CommandLineOptions ParseCommandLine(const wchar_t* command_line) {
  CommandLineOptions options;
  // An empty line would give the program's own path as its one word.
  if (command_line == nullptr || command_line[0] == L'\0') return options;
  int count = 0;
  LocalBlock<LPWSTR> args(os.CommandLineToArgvW(command_line, &count));
  if (!args) return options;  // read as an empty command line
  ReadArguments(args.get(), 1, count, options, 0);
  return options;
}
