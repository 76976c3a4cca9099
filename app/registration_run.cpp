#include "app/registration_run.h"

#include <cstdio>

#include "app/command_line.h"
#include "common/point_list.h"

namespace Quorvane {

namespace {

// "输入的参数有误\n" ("the arguments are wrong") in GBK, the console code page of our users.
constexpr char kBadArgumentsMessage[] = "\xCA\xE4\xC8\xEB\xB5\xC4\xB2\xCE\xCA\xFD\xD3\xD0\xCE\xF3\n";

}  // namespace

int RunRegistration(int argc, const char* const* argv) {
  OptionTexts texts;
  if (!ParseCommandLine(argc, argv, texts)) {
    std::fputs(kBadArgumentsMessage, stdout);
    return kExitBadInput;
  }

  PointList source;
  PointList destination;
  ParsePointList(texts.sourceText, source);
  ParsePointList(texts.destinationText, destination);
  return kExitSuccess;
}

}  // namespace Quorvane
