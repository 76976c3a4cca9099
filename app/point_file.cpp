#include "app/point_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <memory>

#include "app/command_line.h"

namespace Quorvane {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Checks one field, [begin, end) with the blanks around it, and converts it. The argument parser
// converts with atof, which is strtod without an end pointer; strtod here gives the same double
// for the same digits, and its end pointer confirms that the whole field was the number.
bool ReadNumber(const char* begin, const char* end, double& value, std::string& problem) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  const std::string field(begin, end);
  if (field.empty()) {
    problem = "is empty";
    return false;
  }
  // Decimal notation only: strtod would also take "0x1p3", "inf" and "nan".
  if (field.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    problem = QuotedField(field) + " is not a number";
    return false;
  }
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(field.c_str(), &stop);
  if (stop != field.c_str() + field.size() || stop == field.c_str()) {
    problem = QuotedField(field) + " is not a number";
    return false;
  }
  if (!std::isfinite(value)) {
    problem = QuotedField(field) + " is too large for a double";
    return false;
  }
  return true;
}

}  // namespace

bool ParsePointFileText(const std::string& text, PointList& list, std::string& problem) {
  const std::size_t kept = list.size();
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (std::size_t line = 1; start < text.size(); ++line) {
    std::size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    const std::size_t next = stop + 1;
    if (stop > start && text[stop - 1] == '\r') --stop;

    std::size_t first = start;
    while (first < stop && IsBlank(text[first])) ++first;
    if (first == stop || text[first] == '#') {
      start = next;
      continue;
    }

    const char* const base = text.data();
    double values[3];
    std::size_t fieldStart = start;
    int fields = 0;
    for (;;) {
      const void* comma = std::memchr(base + fieldStart, ',', stop - fieldStart);
      const std::size_t fieldEnd =
          comma ? static_cast<std::size_t>(static_cast<const char*>(comma) - base) : stop;
      if (fields < 3) {
        std::string why;
        if (!ReadNumber(base + fieldStart, base + fieldEnd, values[fields], why)) {
          problem = "line " + std::to_string(line) + ": field " + std::to_string(fields + 1) +
                    " " + why;
          list.resize(kept);
          return false;
        }
      }
      ++fields;
      if (!comma) break;
      fieldStart = fieldEnd + 1;
    }
    if (fields != 3) {
      problem = "line " + std::to_string(line) + ": " + std::to_string(fields) +
                " fields where a point has 3 (lon,lat,h)";
      list.resize(kept);
      return false;
    }
    list.emplace_back(values[0], values[1], values[2]);
    start = next;
  }
  return true;
}

bool ReadPointFile(const std::string& path, PointList& list, std::string& problem) {
  // C streams rather than iostreams: a folder opens on Linux and only fails at the first read,
  // which std::ferror reports and an istream iterator would take for the end of an empty file.
  errno = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) {
    problem = std::string("cannot be opened (") +
              (errno != 0 ? std::strerror(errno) : "open failed") + ")";
    return false;
  }
  std::string text;
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, got);
  if (std::ferror(file.get())) {
    problem = std::string("cannot be read (") +
              (errno != 0 ? std::strerror(errno) : "read failed") + ")";
    return false;
  }
  const std::size_t before = list.size();
  if (!ParsePointFileText(text, list, problem)) return false;
  if (list.size() == before) {
    problem = "holds no points";
    return false;
  }
  return true;
}

}  // namespace Quorvane
