/** @file
 * Variable blocks: the forest of variable ranges that reordering moves
 * as units. */
#ifndef CORVANE_BLOCKTREE_H
#define CORVANE_BLOCKTREE_H

#include <stdio.h>
#include "kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A variable block: a range of variables that reordering moves as a unit. */
typedef struct s_BddTree {
  int first, last;  /* variable range of the block */
  int pos;          /* position in the sibling list, kept by sifting */
  int *seq;         /* the block's variables in level order */
  char fixed;       /* nonzero: children keep their relative order */
  int id;
  struct s_BddTree *next, *prev;
  struct s_BddTree *child;
} BddTree;

/** A new empty block with identifier @p id, owned by the caller (bddtree_del); NULL if
 * allocation fails. */
BddTree *bddtree_new(int id);
/** Frees @p t with its children and every block after it in its sibling list; NULL does
 * nothing. */
void bddtree_del(BddTree *t);
/** Inserts the block @p first..@p last into the sibling list starting at @p t; returns the new
 * first block, or NULL when the range cuts an existing block. */
BddTree *bddtree_addrange(BddTree *t, int first, int last, int fixed, int id);
/** Recomputes the level-ordered variable list of block @p t from the current order. */
void update_seq(BddTree *t);

/** Makes the variables of the set @p b, from its smallest to its largest variable, one
 * reordering block (@p fixed: its children keep their relative order). Returns the block
 * identifier; BDD_ERR_VARBLOCK for an empty set or a range that cuts an existing block;
 * bdd_scanset's code for a bad set. */
int bdd_addvarblock(BDD b, int fixed);
/** Makes variables @p first..@p last one reordering block. Returns its identifier;
 * BDD_ERR_UNKNOWN_VAR for a variable out of range; BDD_ERR_VARBLOCK for last < first or a
 * range that cuts an existing block. */
int bdd_intaddvarblock(int first, int last, int fixed);
/** Makes every variable a fixed block of its own, so every variable can move in a reordering. */
void bdd_varblockall(void);
/** Removes every variable block. */
void bdd_clrvarblocks(void);
/** Prints the blocks with their variables in the current order to @p out. */
void bdd_fprintorder(FILE *out);
/** Prints the blocks and the current order to stdout. */
void bdd_printorder(void);

#ifdef __cplusplus
}
#endif

#endif
