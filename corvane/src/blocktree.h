/* Variable blocks: the forest of variable ranges that reordering moves
 * as units. */
#ifndef CORVANE_BLOCKTREE_H
#define CORVANE_BLOCKTREE_H

#include <stdio.h>
#include "kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct s_BddTree {
  int first, last;  /* variable range of the block */
  int pos;          /* position in the sibling list, kept by sifting */
  int *seq;         /* the block's variables in level order */
  char fixed;       /* nonzero: children keep their relative order */
  int id;
  struct s_BddTree *next, *prev;
  struct s_BddTree *child;
} BddTree;

BddTree *bddtree_new(int id);
void bddtree_del(BddTree *t);
BddTree *bddtree_addrange(BddTree *t, int first, int last, int fixed, int id);
void update_seq(BddTree *t);

int bdd_addvarblock(BDD b, int fixed);
int bdd_intaddvarblock(int first, int last, int fixed);
void bdd_varblockall(void);
void bdd_clrvarblocks(void);
void bdd_fprintorder(FILE *out);
void bdd_printorder(void);

#ifdef __cplusplus
}
#endif

#endif
