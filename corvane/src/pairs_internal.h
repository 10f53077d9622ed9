/* The pair tables' interface to the rest of the engine and to the
 * white-box tests.  Not installed. */
#ifndef CORVANE_PAIRS_INTERNAL_H
#define CORVANE_PAIRS_INTERNAL_H

#include "kernel_internal.h"
#include "pairs.h"

extern "C" {
/* Start-up and shut-down of the registry (shut-down frees every table
 * left). */
void bdd_pairs_init(void);
void bdd_pairs_done(void);
/* Extends every table to the new variable count, new variables mapping to
 * themselves.  Returns 0 or BDD_ERR_MEMORY. */
int bdd_pairs_resize(int oldsize, int newsize);
/* Makes room in every table for variable newvar inserted below level. */
void fixup_pairs(int level, int newvar);
/* Keeps every table current after levels level and level + 1 were
 * exchanged. */
void bdd_pairs_vardown(int level);
/* Adds p to the registry that growth and reordering keep current. */
void bdd_register_pair(bddPair *p);
/* A fresh table identifier (renumbering all tables, and emptying the
 * caches, when identifiers run out). */
int update_pairsid(void);
/* Real length of a table's result array, its damaged flag, and a setter of
 * the last handed-out identifier. */
int bdd_pair_length(const bddPair *p);
int bdd_pair_damaged(const bddPair *p);
void bdd_pairs_setid(int id);
/* Allocation failure injection, as bddcache_failafter. */
extern int bddpairs_failafter;
}

#endif
