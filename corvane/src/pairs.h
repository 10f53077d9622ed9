/* Pair tables: substitutions of variables, kept current across
 * variable growth, duplication and reordering. */
#ifndef CORVANE_PAIRS_H
#define CORVANE_PAIRS_H

#include "kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct s_bddPair {
  BDD *result;  /* indexed by level */
  int last;
  int id;
  struct s_bddPair *next;
} bddPair;

bddPair *bdd_newpair(void);
int bdd_setpair(bddPair *p, int oldvar, int newvar);
int bdd_setbddpair(bddPair *p, int oldvar, BDD newvar);
int bdd_setpairs(bddPair *p, int *oldvar, int *newvar, int size);
int bdd_setbddpairs(bddPair *p, int *oldvar, BDD *newvar, int size);
void bdd_resetpair(bddPair *p);
void bdd_freepair(bddPair *p);
void bdd_pairs_init(void);
void bdd_pairs_done(void);
int bdd_pairs_resize(int oldsize, int newsize);
void bdd_pairs_vardown(int level);
void fixup_pairs(int level, int newvar);
void bdd_register_pair(bddPair *p);
int update_pairsid(void);

#ifdef __cplusplus
}
#endif

#endif
