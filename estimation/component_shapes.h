// The shapes of the components the models have: the coordinates a pair's residual rows explain
// and the number of parameters. The statistics and snooping's downdates are compiled for each
// shape with fixed-size blocks, and dispatched from this one list.
#pragma once

#include "estimation/fit_statistics.h"

// X(layout, parameters), one line per shape; a model with a component of another shape adds it
// here.
#define QUORVANE_COMPONENT_SHAPES(X)  \
  X(ComponentLayout::Whole, 5)        /* the similarity */                        \
  X(ComponentLayout::Whole, 7)        /* Helmert, Molodensky–Badekas */           \
  X(ComponentLayout::Horizontal, 3)   /* site, horizontal, the scale held */      \
  X(ComponentLayout::Horizontal, 4)   /* site, horizontal */                      \
  X(ComponentLayout::Vertical, 1)     /* site, a height shift */                  \
  X(ComponentLayout::Vertical, 3)     /* site, a height plane */                  \
  X(ComponentLayout::Vertical, 6)     /* site, a height quadric */
