// What the tool says about itself: --help and --version.
#pragma once

namespace Quorvane {

/// The usage text of --help: plain ASCII English, lines of at most 79 characters, each ended by
/// "\n". It names every option; the manual page man/quorvane.1 says the same at more length.
extern const char kUsageText[];

/// "quorvane X.Y.Z\n", X.Y.Z the project version.
extern const char kVersionLine[];

}  // namespace Quorvane
