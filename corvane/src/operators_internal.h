/* The operator engine's interface to the rest of the engine and to the
 * white-box tests.  Not installed. */
#ifndef CORVANE_OPERATORS_INTERNAL_H
#define CORVANE_OPERATORS_INTERNAL_H

#include "cache.h"
#include "kernel_internal.h"
#include "operators.h"

extern "C" {
/* Start-up: no cache is created until an operator needs it.  Returns 0. */
int bdd_operator_init(int cachesize);
/* Frees every operator cache and scratch table. */
void bdd_operator_done(void);
/* Empties every created operator cache. */
void bdd_operator_reset(void);
/* Re-creates the quantifier table for the variable count and empties the
 * cache that depends on it; BDD_ERR_MEMORY on failure. */
void bdd_operator_varresize(void);
/* With a cache ratio set, resizes every created cache to the node-table
 * size divided by the ratio. */
void bdd_operator_noderesize(void);
/* Resizes the caches if the node table grew during the operator that just
 * ended. */
void checkresize(void);
/* After node creation grew the table: the caches that can follow the
 * growth inside an operation take their new size. */
void operator_follow_growth(void) CORVANE_HIDDEN;

/* Marking tables and the order-restoring node builder of substitution. */
int varset2vartable(BDD var);
int varset2svartable(BDD cube);
BDD bdd_correctify(int level, BDD l, BDD h);
/* Cache instance i (0..9, in management order; 10 is the table that
 * conjunction and disjunction share) and the current creation size; for
 * tests and statistics.  The entries keep their first key word
 * complemented (see cache.h): an all-zero entry is empty. */
const BddCache *bdd_operator_cache(int i);
int bdd_operator_cachesize(void);
/* Allocation failure injection, as bddcache_failafter. */
extern int bddoperator_failafter;
}

#endif
