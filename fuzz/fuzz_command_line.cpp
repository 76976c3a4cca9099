// libFuzzer target over the command-line scan, the point-list parser, the point-file parser (names,
// headers, separators, angles in every notation, σ and epoch columns), the streaming point-file
// reader, the --exclude reader, the --grid keys and the quoting of text in messages.
//
// The input is a command line: its bytes split at every NUL into arguments after the program
// path, so an empty argument is two NULs in a row. Every argument is also fed to the point-list
// parser, and the whole input as one text, NULs included, to both parsers. That text is also
// written to a file and read back by the streaming reader, which must agree with the parser of
// the whole text, in forms the input's first byte chooses: a byte-order mark before it, CRLF
// line ends, a first line of the longest length allowed or one byte longer, and enough comment
// lines before it that its lines straddle the reader's 64 KiB chunks. Fuzzed inputs are short;
// these forms reach the lengths and boundaries where a reader can cut a file short.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/options.h"
#include "app/cli/run_settings.h"
#include "app/input/point_file.h"
#include "app/text/text_encoding.h"
#include "common/point_list.h"

namespace {

// More arguments than this exercise nothing new in a scan that looks at one argument at a time,
// and only make every input slower.
constexpr std::size_t kMaxArguments = 64;

// A failed invariant is a finding like any crash: abort so libFuzzer records the input.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Number of fields the parser sees: one more than the commas, less one for a comma at the end,
// which opens no field; none at all in an empty text.
std::size_t FieldCount(const std::string& text) {
  if (text.empty()) return 0;
  std::size_t commas = 0;
  for (char c : text) commas += c == ',';
  return commas + 1 - (text.back() == ',' ? 1 : 0);
}

void CheckPointList(const std::string& text) {
  Quorvane::PointList list;
  Quorvane::ParsePointList(text, list);
  // Fields 3j..3j+2 make point j and an incomplete last group is dropped, whatever the fields
  // hold.
  Require(list.size() == FieldCount(text) / 3, "one point per complete group of three fields");

  // A list that already holds points is left exactly as it was.
  const Quorvane::Point3 kept(-7.25, 8.5, 1e300);
  Quorvane::PointList filled{kept};
  Quorvane::ParsePointList(text, filled);
  Require(filled.size() == 1 && std::memcmp(&filled[0], &kept, sizeof kept) == 0,
          "a non-empty list is not touched");
}

// A --grid value the keys reader takes is a grid within the ranges it promises; one it refuses
// says why in one line.
void CheckGridKeys(const std::string& text) {
  Quorvane::GridSpec spec;
  std::string problem;
  if (!Quorvane::ParseGridSpec(text, spec, problem, Quorvane::ConsoleEncoding::Utf8)) {
    Require(!problem.empty() && problem.find('\n') == std::string::npos, "one-line grid problem");
    return;
  }
  Require(std::fabs(spec.meridian) <= 180.0 && spec.scale >= 0.9 && spec.scale <= 1.1 &&
              std::fabs(spec.originLatitude) <= 80.0 && spec.height >= -1000.0 &&
              spec.height <= 9000.0 && std::isfinite(spec.falseEasting) &&
              std::isfinite(spec.falseNorthing),
          "a grid the keys give is within its ranges");
}

// σ and epochs, where a file gives them, one for each point: a σ above 0 or 0 for none, an epoch
// a decimal year of 1900 to 2100 or NaN for none.
void CheckObservations(const Quorvane::ObservationList& list) {
  Require(list.precision.empty() || list.precision.size() == list.points.size(),
          "a σ for every point or none");
  Require(list.epochs.empty() || list.epochs.size() == list.points.size(),
          "an epoch for every point or none");
  for (const Quorvane::Precision& sigma : list.precision) {
    Require(std::isfinite(sigma.horizontal) && sigma.horizontal >= 0.0 &&
                std::isfinite(sigma.vertical) && sigma.vertical >= 0.0,
            "a σ is a length or 0");
  }
  for (const double epoch : list.epochs) {
    Require(std::isnan(epoch) || (epoch >= 1900.0 && epoch <= 2100.0), "an epoch is a year");
  }
}

// A file in memory for the streaming reader, named by its descriptor's path (a regular file to
// the reader, as a point file on disk is); its descriptor in `fd`.
const std::string& ScratchFile(int& fd) {
  static int descriptor = -1;
  static const std::string path = [] {
    descriptor = memfd_create("quorvane-points", MFD_CLOEXEC);
    Require(descriptor >= 0, "a file in memory");
    return "/proc/self/fd/" + std::to_string(descriptor);
  }();
  fd = descriptor;
  return path;
}

// `text` in the form the bits of `form` choose.
std::string FileForm(const std::string& text, unsigned form) {
  const std::string lineEnd = (form & 2u) != 0 ? "\r\n" : "\n";
  std::string file = (form & 1u) != 0 ? "\xEF\xBB\xBF" : "";
  if ((form & 112u) == 112u) {
    // Sixteen full comment lines pass the first 64 KiB chunk; an eighth of the inputs, as they
    // make every run write and read that much.
    for (int k = 0; k < 16; ++k) {
      file += "#" + std::string(Quorvane::kLongestPointLine - 1, '-') + lineEnd;
    }
  }
  if ((form & 4u) != 0) {
    file += "#" + std::string(Quorvane::kLongestPointLine - 1 + ((form & 8u) != 0 ? 1 : 0), '-') +
            lineEnd;
  }
  for (const char c : text) {
    if (c == '\n') {
      file += lineEnd;
    } else {
      file += c;
    }
  }
  return file;
}

// The streaming reader on `file` agrees with the parser of the whole text: the same points and
// names, or a refusal (the reader also refuses a file without points).
void CheckStreamedFile(const std::string& file, const Quorvane::PointFileOptions& options) {
  int fd = -1;
  const std::string& path = ScratchFile(fd);
  Require(ftruncate(fd, 0) == 0 &&
              pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()),
          "the file in memory is written");
  Quorvane::ObservationList whole;
  Quorvane::ObservationList streamed;
  std::string wholeProblem;
  std::string streamProblem;
  const bool parsed = Quorvane::ParsePointFileText(file, options, whole, wholeProblem);
  const bool read = Quorvane::ReadPointFile(path, options, streamed, streamProblem);
  if (parsed && !whole.points.empty()) {
    Require(read, "a file the parser takes is read whole");
    Require(streamed.points.size() == whole.points.size() && streamed.names == whole.names,
            "the reader gives the parser's points and names");
    for (std::size_t k = 0; k < whole.points.size(); ++k) {
      Require(std::memcmp(&streamed.points[k], &whole.points[k], sizeof whole.points[k]) == 0,
              "the reader gives the parser's doubles");
    }
    CheckObservations(whole);
    Require(streamed.precision.size() == whole.precision.size() &&
                streamed.epochs.size() == whole.epochs.size(),
            "the reader gives the parser's σ and epochs");
  } else {
    Require(!read && streamed.points.empty() && !streamProblem.empty() &&
                streamProblem.find('\n') == std::string::npos,
            "a file the parser refuses, or one without points, is refused in one line");
    Require(parsed || streamProblem == wholeProblem, "the reader refuses it for the same reason");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* const bytes = reinterpret_cast<const char*>(data);

  // Each argument in an allocation of its own, exactly as long as the argument and its NUL, and
  // the vector exactly argc long with no terminating null pointer: a read past any argument or
  // past argv[argc - 1] is a heap overflow AddressSanitizer reports.
  std::vector<std::unique_ptr<char[]>> storage;
  storage.push_back(std::make_unique<char[]>(std::strlen("quorvane") + 1));
  std::strcpy(storage.back().get(), "quorvane");
  std::size_t start = 0;
  while (storage.size() <= kMaxArguments) {
    const void* nul = std::memchr(bytes + start, '\0', size - start);
    const std::size_t end = nul ? static_cast<const char*>(nul) - bytes : size;
    auto argument = std::make_unique<char[]>(end - start + 1);
    std::memcpy(argument.get(), bytes + start, end - start);
    argument[end - start] = '\0';
    storage.push_back(std::move(argument));
    if (!nul) break;
    start = end + 1;
  }
  std::vector<const char*> argv(storage.size());
  for (std::size_t i = 0; i < storage.size(); ++i) argv[i] = storage[i].get();
  const int argc = static_cast<int>(argv.size());

  // Stale values from an earlier scan must not survive: the texts are overwritten as a whole.
  Quorvane::OptionTexts texts{"stale source", "stale destination"};
  const bool complete = Quorvane::ParseCommandLine(argc, argv.data(), texts);
  Require(complete == ((!texts.sourceText.empty() || texts.Has(Quorvane::Option::RefSrcFile)) &&
                       (!texts.destinationText.empty() || texts.Has(Quorvane::Option::RefDesFile))),
          "the result says whether both lists have a value or a file");

  // A value that is not empty is an argument that directly follows its option.
  auto followsOption = [&](const std::string& value, const char* option) {
    if (value.empty()) return true;
    for (int i = 1; i + 1 < argc; ++i) {
      if (std::strcmp(argv[i], option) == 0 && value == argv[i + 1]) return true;
    }
    return false;
  };
  Require(followsOption(texts.sourceText, "--refsrc"), "source value follows --refsrc");
  Require(followsOption(texts.destinationText, "--refdes"), "destination value follows --refdes");
  // Every value option's value follows it, and every option seen was given by name.
  auto appears = [&](const char* option) {
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], option) == 0) return true;
    }
    return false;
  };
  for (const Quorvane::OptionSpec& option : Quorvane::kOptions) {
    if (!texts.Has(option.id)) continue;
    const std::string& value = texts.Value(option.id);
    Require(option.value != nullptr || value.empty(), "a flag has no value");
    Require(followsOption(value, option.name), "a value follows its option");
    // A flag is set only by an argument that is exactly its name.
    Require(appears(option.name), "an option is seen only when given");
  }
  // An unknown option is an argument of its own that starts with "--".
  for (const std::string& unknown : texts.unknown) {
    Require(unknown.rfind("--", 0) == 0 && appears(unknown.c_str()), "unknown options as given");
  }

  // Exclusions: accepted lists leave pairs out of each part, and a refusal is one line; with
  // names, by name too.
  std::string problem;
  const std::vector<std::string> names = {"YL01", "3", "h", "\xE7\x82\xB9", "a", "b", "c"};
  for (const std::size_t components : {std::size_t{1}, std::size_t{2}}) {
    Quorvane::Exclusions excluded;
    const std::vector<std::string> none;
    if (Quorvane::ParseExclusions(std::string(bytes, size), 7, components == 2 ? names : none,
                                  components, Quorvane::ConsoleEncoding::Utf8, excluded,
                                  problem)) {
      Require(excluded.size() == components && excluded[0].size() == 7, "one row per part");
    } else {
      Require(!problem.empty() && problem.find('\n') == std::string::npos, "one-line problem");
    }
  }
  // Quoted text stays on one line and holds no control byte, whatever it quotes.
  for (const Quorvane::ConsoleEncoding encoding :
       {Quorvane::ConsoleEncoding::Gbk, Quorvane::ConsoleEncoding::Utf8}) {
    for (const char c : Quorvane::QuotedField(std::string(bytes, size), 200, encoding)) {
      Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, "no control byte quoted");
    }
  }

  // The strict file syntax: every line it accepts is a point or skipped, and a refusal leaves
  // the list as it was and explains itself in one line.
  {
    const std::string text(bytes, size);
    for (const bool grid : {false, true}) {
      Quorvane::ObservationList filePoints{{Quorvane::Point3(1.0, 2.0, 3.0)}, {}};
      Quorvane::PointFileOptions options;
      options.grid = grid;
      options.packedDms = size % 2 == 1;
      std::string fileProblem;
      if (Quorvane::ParsePointFileText(text, options, filePoints, fileProblem)) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        Require(filePoints.points.size() <= 1 + lines + 1, "at most one point per line");
        Require(filePoints.names.empty() || filePoints.names.size() + 1 == filePoints.points.size(),
                "every point named or none");
        for (const Quorvane::Point3& p : filePoints.points) {
          Require(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z),
                  "file points are finite");
          Require(grid || (std::fabs(p.x) <= 180 && std::fabs(p.y) <= 90),
                  "geographic points within range");
        }
        for (const std::string& name : filePoints.names) {
          Require(!name.empty() && Quorvane::IsValidUtf8(name), "names are UTF-8");
        }
      } else {
        Require(filePoints.points.size() == 1 && filePoints.names.empty(),
                "a refused file adds nothing");
        Require(!fileProblem.empty() && fileProblem.find('\n') == std::string::npos,
                "one-line file problem");
      }
      // One kind of list a run: a file of either kind is read by the same reader.
      if (grid == (size / 2 % 2 == 0)) {
        CheckStreamedFile(FileForm(text, size > 0 ? static_cast<unsigned char>(bytes[0]) : 0u),
                          options);
      }
    }
  }

  CheckPointList(texts.sourceText);
  CheckPointList(texts.destinationText);
  for (int i = 1; i < argc; ++i) CheckPointList(argv[i]);
  if (texts.Has(Quorvane::Option::Grid)) CheckGridKeys(texts.Value(Quorvane::Option::Grid));
  CheckPointList(std::string(bytes, size));
  return 0;
}
