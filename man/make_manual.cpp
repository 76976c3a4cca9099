// Prints the manual page made from the table of options, or with "options-page" the Markdown
// reference page of the options; `cmake --build build --target manual` writes them to
// man/quorvane.1 and docs/options.md, and the tests check that the files in the tree are those.
#include <cstdio>
#include <cstring>

#include "app/cli/options.h"

int main(int argc, char** argv) {
  const bool optionsPage = argc > 1 && std::strcmp(argv[1], "options-page") == 0;
  const std::string text = optionsPage ? Quorvane::OptionsPage() : Quorvane::ManualPage();
  return std::fputs(text.c_str(), stdout) >= 0 ? 0 : 1;
}
