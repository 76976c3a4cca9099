// Prints the manual page made from the table of options; `cmake --build build --target manual`
// writes it to man/quorvane.1, and a test checks that the file in the tree is that page.
#include <cstdio>

#include "app/cli/options.h"

int main() { return std::fputs(Quorvane::ManualPage().c_str(), stdout) >= 0 ? 0 : 1; }
