#include "common/text.h"

bool BoundedCopy(wchar_t* destination, size_t capacity, const wchar_t* source) {
  if (destination == nullptr || capacity == 0) return false;
  if (source == nullptr) {
    destination[0] = L'\0';
    return false;
  }
  for (size_t i = 0; i < capacity; ++i) {
    destination[i] = source[i];
    if (source[i] == L'\0') return true;
  }
  destination[0] = L'\0';
  return false;
}

void LowerCaseAscii(wchar_t* text, size_t capacity) {
  if (text == nullptr) return;
  for (size_t i = 0; i < capacity && text[i] != L'\0'; ++i) {
    if (text[i] >= L'A' && text[i] <= L'Z') text[i] = static_cast<wchar_t>(text[i] + (L'a' - L'A'));
  }
}

namespace {

// Writes characters while there is room and counts all of them.
struct Sink {
  wchar_t* out;
  size_t capacity;
  size_t length = 0;

  void put(wchar_t c) {
    if (out != nullptr && length + 1 < capacity) out[length] = c;
    ++length;
  }
  void repeat(wchar_t c, size_t n) {
    for (size_t i = 0; i < n; ++i) put(c);
  }
};

struct Spec {
  bool left = false;
  bool zero = false;
  size_t width = 0;
  bool has_precision = false;
  size_t precision = 0;
  bool wide64 = false;
};

void PutPadded(Sink& sink, const Spec& spec, const wchar_t* body, size_t body_length,
               const wchar_t* prefix, size_t prefix_length, size_t zeros) {
  const size_t total = prefix_length + zeros + body_length;
  const size_t pad = spec.width > total ? spec.width - total : 0;
  if (!spec.left && !(spec.zero && !spec.has_precision)) sink.repeat(L' ', pad);
  for (size_t i = 0; i < prefix_length; ++i) sink.put(prefix[i]);
  if (!spec.left && spec.zero && !spec.has_precision) sink.repeat(L'0', pad);
  sink.repeat(L'0', zeros);
  for (size_t i = 0; i < body_length; ++i) sink.put(body[i]);
  if (spec.left) sink.repeat(L' ', pad);
}

void PutText(Sink& sink, const Spec& spec, const wchar_t* text) {
  if (text == nullptr) text = L"(null)";
  size_t n = 0;
  while (text[n] != L'\0' && (!spec.has_precision || n < spec.precision)) ++n;
  PutPadded(sink, spec, text, n, nullptr, 0, 0);
}

void PutNumber(Sink& sink, const Spec& spec, const FormatArg& arg, wchar_t conversion) {
  // wsprintfW reads a 32-bit value unless told otherwise.
  uint64_t magnitude;
  bool negative = false;
  const bool is_signed = conversion == L'd' || conversion == L'i';
  if (spec.wide64) {
    if (is_signed && arg.number < 0) {
      negative = true;
      magnitude = 0 - static_cast<uint64_t>(arg.number);
    } else {
      magnitude = static_cast<uint64_t>(arg.number);
    }
  } else if (is_signed) {
    const int32_t v = static_cast<int32_t>(arg.number);
    negative = v < 0;
    magnitude = negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
  } else {
    magnitude = static_cast<uint32_t>(arg.number);
  }
  const unsigned base = (conversion == L'x' || conversion == L'X') ? 16 : 10;
  const wchar_t* digits = conversion == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t body[24];
  size_t n = 0;
  do {
    body[n++] = digits[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  for (size_t i = 0; i < n / 2; ++i) {
    const wchar_t t = body[i];
    body[i] = body[n - 1 - i];
    body[n - 1 - i] = t;
  }
  const size_t zeros = spec.has_precision && spec.precision > n ? spec.precision - n : 0;
  PutPadded(sink, spec, body, n, negative ? L"-" : nullptr, negative ? 1 : 0, zeros);
}

}  // namespace

size_t FormatArgs(wchar_t* destination, size_t capacity, const wchar_t* format,
                  const FormatArg* args, size_t count) {
  Sink sink{destination, capacity};
  size_t next = 0;
  for (const wchar_t* p = format; p != nullptr && *p != L'\0'; ++p) {
    if (*p != L'%') {
      sink.put(*p);
      continue;
    }
    const wchar_t* start = p++;
    if (*p == L'%') {
      sink.put(L'%');
      continue;
    }
    Spec spec;
    for (;; ++p) {
      if (*p == L'-') spec.left = true;
      else if (*p == L'0') spec.zero = true;
      else if (*p == L'#' || *p == L'+' || *p == L' ') continue;
      else break;
    }
    while (*p >= L'0' && *p <= L'9') spec.width = spec.width * 10 + static_cast<size_t>(*p++ - L'0');
    if (*p == L'.') {
      spec.has_precision = true;
      ++p;
      while (*p >= L'0' && *p <= L'9') spec.precision = spec.precision * 10 + static_cast<size_t>(*p++ - L'0');
    }
    // Size prefixes: h, l, w (wide), ll, I64, I32.
    for (;;) {
      if (*p == L'h' || *p == L'w') { ++p; continue; }
      if (*p == L'l') {
        ++p;
        if (*p == L'l') { spec.wide64 = true; ++p; }
        continue;
      }
      if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') { spec.wide64 = true; p += 3; continue; }
      if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') { p += 3; continue; }
      break;
    }
    const wchar_t conversion = *p;
    if (conversion == L'\0') {
      // A dangling conversion at the end is written as it stands.
      for (const wchar_t* q = start; q != p; ++q) sink.put(*q);
      break;
    }
    const FormatArg* arg = next < count ? &args[next] : nullptr;
    switch (conversion) {
      case L's':
      case L'S':
        ++next;
        if (arg != nullptr && arg->kind == FormatArg::Kind::kText) PutText(sink, spec, arg->text);
        break;
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
        ++next;
        if (arg != nullptr && arg->kind != FormatArg::Kind::kText) PutNumber(sink, spec, *arg, conversion);
        break;
      case L'c':
        ++next;
        if (arg != nullptr && arg->kind != FormatArg::Kind::kText) {
          const wchar_t c[1] = {static_cast<wchar_t>(arg->number)};
          PutPadded(sink, spec, c, 1, nullptr, 0, 0);
        }
        break;
      default:
        // Not a conversion this formatter knows: written as it stands.
        for (const wchar_t* q = start; q <= p; ++q) sink.put(*q);
        break;
    }
  }
  if (destination != nullptr && capacity > 0) {
    destination[sink.length < capacity ? sink.length : capacity - 1] = L'\0';
  }
  return sink.length;
}
