// The component shapes whose loops over a pair's rows and the parameters the statistics and
// snooping compile with fixed sizes. Not for use outside estimation/.
#pragma once

// X(rows a pair, parameters), one line a shape: those of the models of the table that
// bench/snoop_bench.cpp and the --snoop runs of scripts/bench time faster so. Every shape, on a
// list or not, is computed by the same code, the others at run-time sizes.
//
// The statistics of every pair: the similarity's (a --snoop run on 4369 pairs, its statistics
// formed after each of 44 refits, 3.6 % slower at run-time sizes) and the site model's parts.
#define QUORVANE_FIXED_STATISTICS_SHAPES(X)                    \
  X(3, 5)  /* the similarity */                                \
  X(2, 4)  /* the site model's horizontal part */              \
  X(1, 3)  /* its height plane */

// Snooping's downdates: the site model's parts, whose few parameters leave the loops' own work
// most of the cost (snooping 4369 pairs by downdates 13 % faster horizontally, 6 % vertically);
// the similarity's and Helmert's shapes ran as fast at run-time sizes.
#define QUORVANE_FIXED_DOWNDATE_SHAPES(X)                      \
  X(2, 4)  /* the site model's horizontal part */              \
  X(1, 3)  /* its height plane */
