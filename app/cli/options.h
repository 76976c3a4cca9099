// The one table of the tool's options: the command line is scanned with it, and --help and the
// manual page (man/quorvane.1) are made from it.
#pragma once

#include <cstddef>
#include <string>

namespace Quorvane {

/// What an option feeds, which is also how --help and the manual page group them.
enum class OptionGroup { Points, Plane, Model, Quality, Output };

/// One option.
struct OptionSpec {
  const char* name;   // the whole argument, "--refsrc"
  /// The placeholder of its value in the usage ("LIST"), or nullptr for a flag, which takes none.
  const char* value;
  OptionGroup group;
  /// Its text in --help: plain ASCII, lines of at most 50 characters separated by "\n".
  const char* help;
  /// Its paragraph in the manual page, roff (a "-" written "\-").
  const char* manual;
};

/// The options, group by group in the order --help lists them.
extern const OptionSpec kOptions[];
extern const std::size_t kOptionCount;

/// The option whose name is exactly `argument`, or nullptr.
const OptionSpec* FindOption(const char* argument);

/// The usage text of --help: plain ASCII English, lines of at most 79 characters, each ended by
/// "\n"; every option of the table with its text, and the exit statuses.
std::string UsageText();

/// The manual page, roff, as man/quorvane.1 holds it: every option of the table with its
/// paragraph, in the page's fixed sections.
std::string ManualPage();

/// "quorvane X.Y.Z\n", X.Y.Z the project version.
extern const char kVersionLine[];

}  // namespace Quorvane
