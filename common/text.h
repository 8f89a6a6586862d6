// Fixed-size wide text fields, and the only two ways to fill them: bounded copy
// and bounded format. Capacities count the terminator; a field is always
// terminated. The formatter is type-safe: each conversion takes the next
// argument only when the argument is of its kind, and a conversion without an
// argument writes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <type_traits>

// A file or folder path: Windows' MAX_PATH, terminator included.
constexpr size_t kPathCapacity = 260;

// A text field of N UTF-16 characters, terminator included. Plain data, so that
// records holding it can come zero-filled from the heap: zero is the empty text.
template <size_t N>
struct WideText {
  static_assert(N > 0, "a text field holds at least its terminator");
  static constexpr size_t kCapacity = N;
  wchar_t chars[N];

  const wchar_t* c_str() const { return chars; }
  wchar_t* data() { return chars; }
  bool empty() const { return chars[0] == L'\0'; }
  size_t length() const {
    size_t n = 0;
    while (n < N && chars[n] != L'\0') ++n;
    return n;
  }
  void clear() { chars[0] = L'\0'; }
  bool equals(const wchar_t* other) const {
    return other != nullptr && std::wcscmp(chars, other) == 0;
  }
};

// Copies a terminated string whole, or not at all. Fails (and leaves the
// destination empty) when the source does not fit with its terminator or is
// absent; fails without writing when there is no destination or no capacity.
bool BoundedCopy(wchar_t* destination, size_t capacity, const wchar_t* source);

template <size_t N>
bool BoundedCopy(WideText<N>& destination, const wchar_t* source) {
  return BoundedCopy(destination.chars, N, source);
}

// One argument of the formatter.
struct FormatArg {
  enum class Kind { kText, kSigned, kUnsigned };
  Kind kind;
  const wchar_t* text;
  int64_t number;
};

inline FormatArg MakeFormatArg(const wchar_t* text) { return {FormatArg::Kind::kText, text, 0}; }
inline FormatArg MakeFormatArg(wchar_t* text) { return {FormatArg::Kind::kText, text, 0}; }
template <size_t N>
FormatArg MakeFormatArg(const WideText<N>& text) {
  return {FormatArg::Kind::kText, text.chars, 0};
}
template <typename T, typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
FormatArg MakeFormatArg(T value) {
  if constexpr (std::is_enum_v<T>) {
    return MakeFormatArg(static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (std::is_signed_v<T>) {
    return {FormatArg::Kind::kSigned, nullptr, static_cast<int64_t>(value)};
  } else {
    return {FormatArg::Kind::kUnsigned, nullptr, static_cast<int64_t>(value)};
  }
}

// Formats into destination (capacity counts the terminator) and returns the
// length the whole text needs, without terminator. Output that does not fit is
// cut at capacity - 1 characters; a capacity of 0 writes nothing.
//
// Conversions, as the string tables and trace lines use them:
//   %ws %s %ls %S   wide string        %d %i  signed decimal
//   %u              unsigned decimal   %x %X  hexadecimal
//   %c              one character      %%     a percent sign
// with the flags - 0, a width and a precision (%.32ws keeps 32 characters,
// %.3d shows at least three digits, %04x pads with zeros). Integers are
// formatted at 32 bits, like wsprintfW does, unless the size is ll or I64.
size_t FormatArgs(wchar_t* destination, size_t capacity, const wchar_t* format,
                  const FormatArg* args, size_t count);

// Bounded format: true when the whole text fit, false when it was cut or there
// was no room at all.
template <typename... A>
bool BoundedFormat(wchar_t* destination, size_t capacity, const wchar_t* format,
                   const A&... args) {
  if (destination == nullptr || capacity == 0) return false;
  if constexpr (sizeof...(A) == 0) {
    return FormatArgs(destination, capacity, format, nullptr, 0) < capacity;
  } else {
    const FormatArg list[] = {MakeFormatArg(args)...};
    return FormatArgs(destination, capacity, format, list, sizeof...(A)) < capacity;
  }
}

template <size_t N, typename... A>
bool BoundedFormat(WideText<N>& destination, const wchar_t* format, const A&... args) {
  return BoundedFormat(destination.chars, N, format, args...);
}

// Lower-cases A to Z in place, as the C locale does; nothing else changes.
void LowerCaseAscii(wchar_t* text, size_t capacity);
