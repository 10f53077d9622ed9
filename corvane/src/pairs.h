/** @file
 * Pair tables: substitutions of variables, kept current across
 * variable growth, duplication and reordering. */
#ifndef CORVANE_PAIRS_H
#define CORVANE_PAIRS_H

#include "kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A substitution table, created by bdd_newpair and released by bdd_freepair. */
typedef struct s_bddPair {
  BDD *result;  /* indexed by level */
  int last;
  int id;
  struct s_bddPair *next;
} bddPair;

/** A new substitution table holding the identity, owned by the caller until bdd_freepair
 * (bdd_done frees tables left over). NULL after BDD_ERR_MEMORY. */
bddPair *bdd_newpair(void);
/** Maps variable @p oldvar to variable @p newvar in @p p. Returns 0; BDD_ERR_UNKNOWN_VAR for
 * either variable out of range (table unchanged). A NULL table is ignored. */
int bdd_setpair(bddPair *p, int oldvar, int newvar);
/** Maps variable @p oldvar to the function @p newvar in @p p; the table keeps its own reference
 * on it. Returns 0; BDD_ERR_UNKNOWN_VAR, BDD_ERR_RUNNING or BDD_ERR_ILLBDD (table unchanged). */
int bdd_setbddpair(bddPair *p, int oldvar, BDD newvar);
/** bdd_setpair for @p size pairs of the two arrays, in order. Returns 0 or the first error code
 * (entries before it stay set). */
int bdd_setpairs(bddPair *p, int *oldvar, int *newvar, int size);
/** bdd_setbddpair for @p size pairs of the two arrays, in order. Returns 0 or the first error
 * code (entries before it stay set). */
int bdd_setbddpairs(bddPair *p, int *oldvar, BDD *newvar, int size);
/** Makes @p p the identity again; p must not be NULL. */
void bdd_resetpair(bddPair *p);
/** Releases the table @p p and the references it holds; NULL is ignored. */
void bdd_freepair(bddPair *p);

#ifdef __cplusplus
}
#endif

#endif
