// The component shapes whose loops over a pair's rows and the parameters the statistics and
// snooping compile with fixed sizes. Not for use outside estimation/.
#pragma once

// X(rows a pair, parameters), one line a shape: those of the models of the table that snoop_bench
// (bench/snoop_bench.cpp) times faster so, the site model's parts, whose few parameters leave
// the loops' own work most of the cost (snooping 4369 pairs by downdates 13 % faster
// horizontally, 6 % vertically). The similarity's and Helmert's shapes ran as fast at run-time
// sizes. Every shape, on the list or not, is computed by the same code.
#define QUORVANE_FIXED_SHAPES(X)                               \
  X(2, 4)  /* the site model's horizontal part */              \
  X(1, 3)  /* its height plane */
