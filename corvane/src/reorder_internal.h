/* The reordering subsystem's interface to the rest of the engine and to
 * the white-box tests.  Not installed. */
#ifndef CORVANE_REORDER_INTERNAL_H
#define CORVANE_REORDER_INTERNAL_H

#include "blocktree_internal.h"
#include "kernel_internal.h"
#include "reorder.h"

extern "C" {
/* Start-up (defaults, no blocks) and shut-down (blocks freed) of the
 * subsystem. */
void bdd_reorder_init(void);
void bdd_reorder_done(void);
/* Called by an operator after node creation left it for an automatic
 * reordering: runs the reordering and sets the next threshold. */
void bdd_checkreorder(void);
/* Runs one automatic reordering if ready; 0 when nothing ran. */
int bdd_reorder_auto(void);
}

#endif
