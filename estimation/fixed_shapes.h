// The component shapes whose loops over a pair's rows and the parameters the statistics and
// snooping compile with fixed sizes. Not for use outside estimation/.
#pragma once

// X(rows a pair, parameters), one line a shape: those of the models of the table that snoop_bench
// times faster so (bench/snoop_bench.cpp). Every shape, on the list or not, is computed by the
// same code, the others with their sizes given at run time.
#define QUORVANE_FIXED_SHAPES(X)                               \
  X(3, 5)  /* the similarity */                                \
  X(3, 7)  /* Helmert, Molodensky–Badekas */                   \
  X(2, 4)  /* the site model's horizontal part */              \
  X(1, 3)  /* its height plane */
