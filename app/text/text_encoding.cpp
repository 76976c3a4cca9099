#include "app/text/text_encoding.h"

#include <algorithm>
#include <cstdint>

#include "app/platform/platform.h"

namespace Quorvane {

std::size_t DecodeUtf8(const std::string& text, std::size_t at, std::uint32_t& code) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  std::uint32_t least = 0;
  if (first < 0x80) {
    code = first;
    return 1;
  } else if ((first & 0xE0) == 0xC0) {
    length = 2, code = first & 0x1F, least = 0x80;
  } else if ((first & 0xF0) == 0xE0) {
    length = 3, code = first & 0x0F, least = 0x800;
  } else if ((first & 0xF8) == 0xF0) {
    length = 4, code = first & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(k) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

namespace {

// Characters that show nothing, or change the direction or joining of what follows: Unicode's
// Default_Ignorable_Code_Point property and its format category (Cf), as of Unicode 15, joined
// into ranges (checked against Perl's and Python's Unicode 14 tables, plus the hieroglyph format
// controls 13439..1343F of Unicode 15); besides them the C1 controls and the line and paragraph
// separators, which break a line, and the Braille pattern blank U+2800, a symbol that shows
// nothing and is no space, which names use to look empty.
bool IsInvisible(std::uint32_t code) {
  static const struct {
    std::uint32_t first;
    std::uint32_t last;
  } kInvisible[] = {
      {0x0080, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x0600, 0x0605},
      {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},
      {0x08E2, 0x08E2},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
      {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},   {0x2800, 0x2800},
      {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},
      {0xFFF0, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
      {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
  };
  if (code < 0x80) return false;
  for (const auto& range : kInvisible) {
    if (code < range.first) return false;
    if (code <= range.last) return true;
  }
  return false;
}

void AppendHex(std::string& out, unsigned value, int digits) {
  static const char kHex[] = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  std::uint32_t code = 0;
  for (std::size_t at = 0; at < text.size();) {
    if ((text[at] & 0x80) == 0) {
      ++at;
      continue;
    }
    const std::size_t length = DecodeUtf8(text, at, code);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool ToUtf8(const std::string& text, std::string& utf8) {
  if (IsValidUtf8(text)) {
    utf8 = text;
    return true;
  }
  return GbkToUtf8(text, utf8) && IsValidUtf8(utf8);
}

std::string ForConsole(const std::string& utf8, ConsoleEncoding encoding) {
  if (encoding == ConsoleEncoding::Utf8) return utf8;
  // ASCII is the same in both; only text with other characters needs the converter.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; })) return utf8;
  return Utf8ToGbk(utf8);
}

namespace {

// Appends the character `code`, bytes [at, at + length) of `utf8`, to `safe`: a control
// character (and with `quotes` a quote or a backslash) as \xNN, an invisible one as \u{…}, any
// other as it is.
void AppendEscaped(std::string& safe, const std::string& utf8, std::size_t at, std::size_t length,
                   std::uint32_t code, bool quotes) {
  if (code < 0x20 || code == 0x7f || (quotes && (code == '"' || code == '\\'))) {
    safe += "\\x";
    AppendHex(safe, code, 2);
  } else if (IsInvisible(code)) {
    safe += "\\u{";
    AppendHex(safe, code, code > 0xFFFFF ? 6 : code > 0xFFFF ? 5 : 4);
    safe += '}';
  } else {
    safe.append(utf8, at, length);
  }
}

}  // namespace

std::string ConsoleName(const std::string& utf8, ConsoleEncoding encoding) {
  std::string safe;
  safe.reserve(utf8.size());
  std::uint32_t code = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t length = DecodeUtf8(utf8, at, code);
    if (length == 0) {  // not UTF-8 (names are kept as UTF-8): a byte of no character
      safe += "\\x";
      AppendHex(safe, static_cast<unsigned char>(utf8[at]), 2);
      ++at;
      continue;
    }
    AppendEscaped(safe, utf8, at, length, code, false);
    at += length;
  }
  return ForConsole(safe, encoding);
}

// Cutting a long field keeps one bad value of a megabyte from becoming a megabyte of standard
// error.
std::string QuotedField(const std::string& field, std::size_t longest, ConsoleEncoding encoding) {
  std::string shown = field.substr(0, std::min(field.size(), longest));
  // A cut inside a character leaves a piece of it: take the cut back to a character boundary,
  // trying UTF-8 first since GBK would take most UTF-8 pieces for other characters.
  const std::size_t back = shown.size() < field.size() ? std::min<std::size_t>(3, shown.size()) : 0;
  std::string text;
  bool decoded = false;
  for (std::size_t k = 0; k <= back && !decoded; ++k) {
    decoded = IsValidUtf8(shown.substr(0, shown.size() - k));
    if (decoded) text = shown.substr(0, shown.size() - k);
  }
  for (std::size_t k = 0; k <= std::min<std::size_t>(back, 1) && !decoded; ++k) {
    decoded = ToUtf8(shown.substr(0, shown.size() - k), text);
  }
  std::string quoted = "\"";
  if (!decoded) {
    // Neither UTF-8 nor GBK: ASCII as it is, every other byte as \xNN.
    for (const char c : shown) {
      const unsigned char b = static_cast<unsigned char>(c);
      if (b < 0x20 || b >= 0x7f || c == '"' || c == '\\') {
        quoted += "\\x";
        AppendHex(quoted, b, 2);
      } else {
        quoted += c;
      }
    }
  } else {
    std::string safe;
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t length = DecodeUtf8(text, at, code);
      AppendEscaped(safe, text, at, length, code, true);
      at += length;
    }
    quoted += ForConsole(safe, encoding);
  }
  quoted += shown.size() < field.size() ? "\"..." : "\"";
  return quoted;
}

}  // namespace Quorvane
