// The one table of the tool's options: the command line is scanned with it, its settings are read
// by the option's name in it, and --help, the manual page (man/quorvane.1) and docs/options.md
// are made from it, each option described once.
#pragma once

#include <cstddef>
#include <string>

namespace Quorvane {

// Every option, by the name the code reads it by, in the order of the table.
#define QUORVANE_OPTION_IDS(X)                                                                  \
  X(RefSrc) X(RefDes) X(RefSrcFile) X(RefDesFile) X(Apply) X(ApplyFile) X(PackedDms)            \
  X(SourceEllipsoid) X(DestinationEllipsoid) X(Grid) X(SourceCrs) X(DestinationCrs)            \
  X(DatumShift) X(Geoid)                                                                        \
  X(Model) X(FixScale) X(Vertical) X(Convention) X(Rates) X(ReferenceEpoch) X(Distortion)       \
  X(Quality) X(Exclude) X(Snoop) X(Robust) X(SigmaH) X(SigmaV) X(ToleranceH) X(ToleranceV)     \
  X(Strict)                                                                                     \
  X(Record) X(Plot) X(DistortionFile) X(ExportCrs) X(Utf8) X(Help) X(Version)

/// An option of the table. The code reads an option by this name, never by its text, so a
/// mistyped option does not build.
enum class Option : unsigned char {
#define QUORVANE_OPTION_ENUMERATOR(id) id,
  QUORVANE_OPTION_IDS(QUORVANE_OPTION_ENUMERATOR)
#undef QUORVANE_OPTION_ENUMERATOR
};

/// How many options the table has.
constexpr std::size_t kOptionCount = 0
#define QUORVANE_OPTION_COUNT(id) +1
    QUORVANE_OPTION_IDS(QUORVANE_OPTION_COUNT)
#undef QUORVANE_OPTION_COUNT
    ;

/// What an option feeds, which is also how --help, the manual page and docs/options.md group
/// them.
enum class OptionGroup { Points, Plane, Model, Quality, Output };

/// One option.
struct OptionSpec {
  Option id;
  const char* name;  // the whole argument, "--refsrc"
  /// The placeholder of its value in the usage ("LIST"), or nullptr for a flag, which takes none.
  const char* value;
  OptionGroup group;
  /// What it does, once for --help, the manual page and docs/options.md: UTF-8 prose, lines
  /// separated by "\n" and paragraphs by an empty line. Its first sentence (up to the first ". "
  /// or the end) is the summary --help gives, in ASCII.
  const char* text;
  /// Further arguments with which it is given in a run that takes it (--model site for
  /// --fix-scale), then the option itself with a value that works: the example docs/options.md
  /// shows and the tests run.
  const char* example;
};

/// The option `id`'s row of the table.
const OptionSpec& OptionOf(Option id);

/// The option whose name is exactly `argument`, or nullptr.
const OptionSpec* FindOption(const char* argument);

/// The options, in the order of their ids (grouped as --help lists them).
extern const OptionSpec kOptions[kOptionCount];

/// The usage text of --help: plain ASCII English, lines of at most 79 characters, each ended by
/// "\n"; every option of the table with its summary, and the exit statuses.
std::string UsageText();

/// The manual page, roff, as man/quorvane.1 holds it: every option of the table with its text,
/// in the page's fixed sections.
std::string ManualPage();

/// The reference page of the options, Markdown, as docs/options.md holds it: every option of the
/// table with its text and example, by group.
std::string OptionsPage();

/// "quorvane X.Y.Z\n", X.Y.Z the project version.
extern const char kVersionLine[];

}  // namespace Quorvane
