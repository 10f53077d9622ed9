/* Pair tables: per-level substitutions, registered so that variable
 * growth, duplication and level swaps keep every live table current.
 *
 * Each result array carries a two-int header in front of it: the number of
 * entries it really holds and a "damaged" flag.  A table may hold fewer
 * entries than there are variables when growing it failed; the missing
 * levels then stand for the identity of whatever variable sits there, and
 * the table is grown again at its next modification.  Only when a level
 * swap or a duplication has to move a real substitution into a level the
 * array cannot hold (and growing fails once more) is the table damaged;
 * the substitution operators refuse a damaged table until it is reset. */
#include <stdlib.h>
#include "pairs_internal.h"

static bddPair *pairs;
static int pairsid;

/* Allocation failure injection for tests, as bddcache_failafter. */
int bddpairs_failafter = -1;

#define PAIR_HDR 2

static inline int &pairlen(bddPair *p) { return p->result[-2]; }
static inline int &pairdamaged(bddPair *p) { return p->result[-1]; }

static int *pair_alloc(int *block, int n) {
  if (bddpairs_failafter >= 0) {
    if (bddpairs_failafter-- == 0) return NULL;
  }
  size_t bytes = (size_t)(n + PAIR_HDR) * sizeof(int);
  return (int *)(block ? realloc(block, bytes) : malloc(bytes));
}

/* Grow p to n entries; the new levels get the identity of the variable
 * now placed there.  On failure the old array stays in place. */
static int pair_grow(bddPair *p, int n) {
  int len = pairlen(p);
  if (len >= n) return 0;
  int *block = pair_alloc(p->result - PAIR_HDR, n);
  if (block == NULL) return bdd_error(BDD_ERR_MEMORY);
  p->result = block + PAIR_HDR;
  for (int v = len; v < n; v++) p->result[v] = bdd_ithvar(bddlevel2var[v]);
  pairlen(p) = n;
  return 0;
}

static void pair_release(bddPair *p) {
  int len = pairlen(p);
  for (int v = 0; v < len; v++) bdd_delref(p->result[v]);
  free(p->result - PAIR_HDR);
  free(p);
}

extern "C" {

int bdd_pair_length(const bddPair *p) { return p->result[-2]; }
int bdd_pair_damaged(const bddPair *p) { return p->result[-1]; }
void bdd_pairs_setid(int id) { pairsid = id; }

int update_pairsid(void) {
  pairsid++;
  if (pairsid == 0x1FFFFFFF) {
    /* Identifiers end up in cache tags shifted left by two: renumber the
     * live tables from 0 and forget every cached result under old ids. */
    pairsid = 0;
    for (bddPair *p = pairs; p != NULL; p = p->next) p->id = pairsid++;
    kernel_forget();
  }
  return pairsid;
}

void bdd_register_pair(bddPair *p) {
  p->next = pairs;
  pairs = p;
}

void bdd_pairs_init(void) {
  pairs = NULL;
  pairsid = 0;
}

void bdd_pairs_done(void) {
  bddPair *p = pairs;
  while (p != NULL) {
    bddPair *next = p->next;
    pair_release(p);
    p = next;
  }
  pairs = NULL;
}

bddPair *bdd_newpair(void) {
  bddPair *p = (bddPair *)malloc(sizeof(bddPair));
  if (p == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  int *block = pair_alloc(NULL, bddvarnum);
  if (block == NULL) {
    free(p);
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  p->result = block + PAIR_HDR;
  pairlen(p) = bddvarnum;
  pairdamaged(p) = 0;
  for (int v = 0; v < bddvarnum; v++) p->result[v] = bdd_ithvar(bddlevel2var[v]);
  p->id = update_pairsid();
  p->last = -1;
  bdd_register_pair(p);
  return p;
}

int bdd_setpair(bddPair *p, int oldvar, int newvar) {
  if (p == NULL) return 0;
  if (oldvar < 0 || oldvar > bddvarnum - 1 || newvar < 0 || newvar > bddvarnum - 1)
    return bdd_error(BDD_ERR_UNKNOWN_VAR);
  int e = pair_grow(p, bddvarnum);
  if (e < 0) return e;
  int v = bddvar2level[oldvar];
  bdd_delref(p->result[v]);
  p->result[v] = bdd_ithvar(newvar);
  p->id = update_pairsid();
  if (v > p->last) p->last = v;
  return 0;
}

int bdd_setbddpair(bddPair *p, int oldvar, BDD newvar) {
  if (p == NULL) return 0;
  int e = bdd_checkroot(newvar);
  if (e < 0) return e;
  if (oldvar < 0 || oldvar > bddvarnum - 1) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  e = pair_grow(p, bddvarnum);
  if (e < 0) return e;
  int v = bddvar2level[oldvar];
  bdd_delref(p->result[v]);
  p->result[v] = bdd_addref(newvar);
  p->id = update_pairsid();
  if (v > p->last) p->last = v;
  return 0;
}

int bdd_setpairs(bddPair *p, int *oldvar, int *newvar, int size) {
  if (p == NULL || size <= 0) return 0;
  for (int i = 0; i < size; i++) {
    int e = bdd_setpair(p, oldvar[i], newvar[i]);
    if (e < 0) return e;
  }
  return 0;
}

int bdd_setbddpairs(bddPair *p, int *oldvar, BDD *newvar, int size) {
  if (p == NULL || size <= 0) return 0;
  for (int i = 0; i < size; i++) {
    int e = bdd_setbddpair(p, oldvar[i], newvar[i]);
    if (e < 0) return e;
  }
  return 0;
}

void bdd_resetpair(bddPair *p) {
  if (p == NULL) return;
  /* A short table that still cannot grow is reset as far as it reaches:
   * the missing levels are identities anyway. */
  pair_grow(p, bddvarnum);
  int len = pairlen(p);
  for (int v = 0; v < len; v++) {
    bdd_delref(p->result[v]);
    p->result[v] = bdd_ithvar(bddlevel2var[v]);
  }
  pairdamaged(p) = 0;
  p->id = update_pairsid();
  p->last = 0;
}

void bdd_freepair(bddPair *p) {
  if (p == NULL) return;
  if (pairs == p) {
    pairs = p->next;
  } else {
    bddPair *q = pairs;
    while (q != NULL && q->next != p) q = q->next;
    if (q != NULL) q->next = p->next;
  }
  pair_release(p);
}

int bdd_pairs_resize(int oldsize, int newsize) {
  (void)oldsize;  /* each table knows its own length */
  for (bddPair *p = pairs; p != NULL; p = p->next) {
    int e = pair_grow(p, newsize);
    if (e < 0) return e;
  }
  return 0;
}

void bdd_pairs_vardown(int level) {
  for (bddPair *p = pairs; p != NULL; p = p->next) {
    int len = pairlen(p);
    if (level + 1 < len) {
      BDD tmp = p->result[level];
      p->result[level] = p->result[level + 1];
      p->result[level + 1] = tmp;
      if (p->last == level) p->last = level + 1;
      continue;
    }
    if (level >= len) continue;  /* both levels implicit identities */
    /* level is the last real entry; level + 1 is an implicit identity
     * whose variable has just moved up to level. */
    BDD moved = p->result[level];
    if (pair_grow(p, level + 2) == 0) {
      p->result[level + 1] = moved;
      p->result[level] = bdd_ithvar(bddlevel2var[level]);
      if (p->last == level) p->last = level + 1;
    } else {
      p->result[level] = bdd_ithvar(bddlevel2var[level]);
      if (moved != bdd_ithvar(bddlevel2var[level + 1])) {
        bdd_delref(moved);
        pairdamaged(p) = 1;
      }
      if (p->last > level) p->last = level;
    }
  }
}

void fixup_pairs(int level, int newvar) {
  /* Duplication rewrote the old node of the duplicated variable in place
   * into "var and not newvar"; entries holding it meant the variable. */
  const int dupvar = bddlevel2var[level];
  const BDD nnew = bdd_nithvar(newvar);
  for (bddPair *p = pairs; p != NULL; p = p->next) {
    int len = pairlen(p);
    int top;  /* deepest level that receives a shifted real entry */
    for (int v = 0; v < len; v++) {
      BDD e = p->result[v];
      if (e > 1 && (int)LEVEL(e) == level && LOW(e) == 0 && HIGH(e) == nnew)
        p->result[v] = bdd_ithvar(dupvar);
    }
    if (len == bddvarnum) {
      /* The entry appended by the growth is the new variable's identity,
       * which holds no reference; duplicating above the bottom level has
       * already handed its node's slot to another node. */
      top = bddvarnum - 1;
    } else {
      /* Short table: levels from len down are implicit identities, which
       * stay right; only the real entries below the new level shift. */
      if (len <= level + 1) continue;
      if (pair_grow(p, len + 1) < 0) {
        for (int v = level + 1; v < len; v++) bdd_delref(p->result[v]);
        for (int v = level + 1; v < len; v++) p->result[v] = bdd_ithvar(bddlevel2var[v]);
        pairdamaged(p) = 1;
        continue;
      }
      top = len;
    }
    for (int v = top; v >= level + 2; v--) {
      p->result[v] = p->result[v - 1];
      if ((int)LEVEL(p->result[v]) != v && v > p->last) p->last = v;
    }
    p->result[level + 1] = bdd_ithvar(newvar);
  }
}

}

/* ---- registration with the kernel --------------------------------------- */

/* A table that cannot grow now grows at its next modification: the
 * variable count's growth goes on regardless. */
static void pairs_follow_varnum(int oldnum, int num) { (void)bdd_pairs_resize(oldnum, num); }

HOOK_REGISTRAR(pairs) {
  static KernelHooks hooks;
  hooks.start = bdd_pairs_init;
  hooks.stop = bdd_pairs_done;
  hooks.varnum = pairs_follow_varnum;
  hooks.inserted = fixup_pairs;
  kernel_register(HOOK_RANK_PAIRS, &hooks);
}
