/** @file
 * Dynamic variable reordering: level exchanges, strategies and controls. */
#ifndef CORVANE_REORDER_H
#define CORVANE_REORDER_H

#include <stdio.h>
#include "kernel.h"
#include "blocktree.h"

#ifdef __cplusplus
extern "C" {
#endif

///@{
/** Reordering methods */
#define REORDER_NONE 0
#define REORDER_WIN2 1
#define REORDER_WIN2ITE 2
#define REORDER_SIFT 3
#define REORDER_SIFTITE 4
#define REORDER_WIN3 5
#define REORDER_WIN3ITE 6
#define REORDER_RANDOM 7

///@}

/** Node-count probe used while reordering. */
typedef int (*bddsizehandler)(void);

/** Exchanges the levels of variables @p x and @p y; every BDD keeps its function. Returns 0;
 * BDD_ERR_VARBLOCK when blocks are defined; BDD_ERR_UNKNOWN_VAR; BDD_ERR_RUNNING;
 * BDD_ERR_MEMORY when the run cannot start. */
int bdd_swapvar(int x, int y);
/** Reorders the variables now with a REORDER_... method, within the declared blocks (none
 * declared: nothing moves); node indices keep their functions. BDD_ERR_RUNNING when the engine
 * is stopped. */
void bdd_reorder(int method);
/** Reorders with @p method whenever the node count grows past the threshold (REORDER_NONE:
 * never); returns the previous method. */
int bdd_autoreorder(int method);
/** As bdd_autoreorder, for at most @p num automatic runs; returns the previous method. */
int bdd_autoreorder_times(int method, int num);
/** The automatic reordering method. */
int bdd_getreorder_method(void);
/** The number of automatic runs left (-1: unlimited). */
int bdd_getreorder_times(void);
/** Suspends automatic reordering until bdd_enable_reorder. */
void bdd_disable_reorder(void);
/** Lifts a suspension by bdd_disable_reorder. */
void bdd_enable_reorder(void);
/** 1 when an automatic reordering may run now, else 0. */
int bdd_reorder_ready(void);
/** The percentage by which the last reordering reduced the node count. */
int bdd_reorder_gain(void);
/** Installs the handler called before (1) and after (0) every reordering (NULL: none); returns
 * the previous one. */
bddinthandler bdd_reorder_hook(bddinthandler handler);
/** Installs the printer of block identifiers used by bdd_fprintorder (NULL: numbers); returns
 * the previous one. */
bddfilehandler bdd_blockfile_hook(bddfilehandler handler);
/** Installs the node-count probe used while reordering and returns the previous one; NULL only
 * returns the current probe. */
bddsizehandler bdd_reorder_probe(bddsizehandler handler);
/** Sets the amount of reordering trace on stdout (0: none); returns the previous level. */
int bdd_reorder_verbose(int level);
/** The default reordering handler: with tracing on, reports the run's start and its result. */
void bdd_default_reohandler(int pre);
/** The level of variable @p var; BDD_ERR_UNKNOWN_VAR (returned) when out of range. */
int bdd_var2level(int var);
/** The variable at level @p level; BDD_ERR_UNKNOWN_VAR (returned) when out of range. */
int bdd_level2var(int level);
/** Installs the complete order @p order, bdd_varnum() variables from the top level down.
 * BDD_ERR_VARBLOCK when blocks are defined (order unchanged). */
void bdd_setvarorder(int *order);

#ifdef __cplusplus
}
#endif

#endif
