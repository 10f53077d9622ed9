/** @file
 * Corvane 2.4: reduced ordered binary decision diagrams.
 * The one header a user includes; usable from C and C++. */
#ifndef CORVANE_H
#define CORVANE_H

#include "kernel.h"
#include "prime.h"
#include "cache.h"
#include "pairs.h"
#include "operators.h"
#include "imatrix.h"
#include "blocktree.h"
#include "reorder.h"
#include "io.h"
#include "fdd.h"
#include "bvec.h"

#endif
