// Text from files and arguments in the two encodings Chinese users have (UTF-8 and GBK), and
// quoted safely into one-line messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/text/console_text.h"

namespace Quorvane {

/// The length of the UTF-8 character at `at` in `text`, with its code point in `code`; 0 when
/// the bytes there are no well-formed character (overlong, a surrogate, past U+10FFFF, cut
/// short). `at` must be inside `text`.
std::size_t DecodeUtf8(const std::string& text, std::size_t at, std::uint32_t& code);

/// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past
/// U+10FFFF). ASCII is.
bool IsValidUtf8(const std::string& text);

/// `text` as UTF-8: itself when it is valid UTF-8, otherwise read as GBK (the code page Chinese
/// Windows writes files and arguments in) and converted. False when it is neither.
bool ToUtf8(const std::string& text, std::string& utf8);

/// UTF-8 text for the console: as it is for --utf8, converted to GBK otherwise (a character GBK
/// lacks becomes "?").
std::string ForConsole(const std::string& utf8, ConsoleEncoding encoding);

/// A point's name (UTF-8) for a column of standard output, in the console's encoding: as it is,
/// but for the characters that could move a column, break a line or reach the terminal as a
/// command, and those that show nothing: control characters (TAB, CR, ESC among them) as \xNN,
/// the invisible ones QuotedField escapes as \u{XXXX}, bytes of no character as \xNN.
std::string ConsoleName(const std::string& utf8, ConsoleEncoding encoding);

/// `field` in double quotes for a one-line message, in the console's encoding, whatever
/// encoding the field came in (UTF-8, GBK, or neither). Escaped so that nothing in it can break
/// the line, change the terminal or hide: control bytes (escape sequences included), '"' and
/// '\\' as \xNN; the C1 controls, the line and paragraph separators and every character of
/// Unicode's Default_Ignorable_Code_Point property or format category Cf (byte-order mark,
/// zero-width characters, bidirectional marks, variation selectors, tag characters, fillers) and
/// the Braille pattern blank U+2800 as \u{XXXX} (four to six hex digits); bytes that are neither
/// UTF-8 nor GBK text as \xNN. Past its first `longest` bytes the field is cut, and "..." follows
/// the closing quote.
std::string QuotedField(const std::string& field, std::size_t longest = 40,
                        ConsoleEncoding encoding = ConsoleEncoding::Gbk);

/// A `longest` for file paths, which are shown whole unless absurd.
constexpr std::size_t kLongestQuotedPath = 4096;

}  // namespace Quorvane
