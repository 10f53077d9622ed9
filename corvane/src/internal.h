/* Engine-internal view of the node table and the cross-module state.
 * Not installed: users see only the public headers. */
#ifndef CORVANE_INTERNAL_H
#define CORVANE_INTERNAL_H

#include <assert.h>
#include "corvane.h"

#define REFCOUNT_LOW_MASK 0xF8000000u
#define REFCOUNT_HIGH_MASK 0xF0000000u
#define MARK_MASK 0x08000000u
#define INDEX_MASK 0x07FFFFFFu
#define MAX_VARNUM 1023

/* ---- node fields ------------------------------------------------------ */

static inline unsigned LEVEL(int n) {
  return (bddnodes[n].word2 >> 27) | ((bddnodes[n].word3 >> 27) << 5);
}
static inline int LOW(int n) { return (int)(bddnodes[n].word2 & INDEX_MASK); }
static inline int HIGH(int n) { return (int)(bddnodes[n].word3 & INDEX_MASK); }
static inline bool ISFREE(int n) { return (bddnodes[n].word2 & INDEX_MASK) == FREE_LOW; }

/* word2 and word3 as bdd_makenode stores and compares them */
static inline unsigned LEVLOW_WORD(unsigned level, int low) { return (level << 27) | (unsigned)low; }
static inline unsigned LEVHIGH_WORD(unsigned level, int high) {
  return ((level >> 5) << 27) | (unsigned)high;
}
static inline void SETLEVLOWHIGH(int n, unsigned level, int low, int high) {
  bddnodes[n].word2 = LEVLOW_WORD(level, low);
  bddnodes[n].word3 = LEVHIGH_WORD(level, high);
}
static inline void SETLEVEL(int n, unsigned level) {
  SETLEVLOWHIGH(n, level, LOW(n), HIGH(n));
}
static inline void SETLOW(int n, int low) {
  bddnodes[n].word2 = (bddnodes[n].word2 & ~INDEX_MASK) | (unsigned)low;
}
static inline void SETHIGH(int n, int high) {
  bddnodes[n].word3 = (bddnodes[n].word3 & ~INDEX_MASK) | (unsigned)high;
}
static inline void SETFREE(int n) { bddnodes[n].word2 = FREE_LOW; }

static inline int HASHHEAD(int n) { return (int)(bddnodes[n].word0 & INDEX_MASK); }
static inline void SETHASHHEAD(int n, int v) {
  bddnodes[n].word0 = (bddnodes[n].word0 & ~INDEX_MASK) | (unsigned)v;
}
static inline int NEXT(int n) { return (int)(bddnodes[n].word1 & INDEX_MASK); }
static inline void SETNEXT(int n, int v) {
  bddnodes[n].word1 = (bddnodes[n].word1 & ~INDEX_MASK) | (unsigned)v;
}

static inline unsigned REFCOUNT(int n) {
  return ((bddnodes[n].word1 >> 28) << 5) | (bddnodes[n].word0 >> 27);
}
static inline void SETREFCOUNT(int n, unsigned rc) {
  bddnodes[n].word0 = (bddnodes[n].word0 & INDEX_MASK) | ((rc & 31u) << 27);
  bddnodes[n].word1 = (bddnodes[n].word1 & (MARK_MASK | INDEX_MASK)) | ((rc >> 5) << 28);
}
static inline void INCREF(int n) {
  unsigned rc = REFCOUNT(n);
  if (rc < MAX_REFCOUNT) SETREFCOUNT(n, rc + 1);
}
static inline void DECREF(int n) {
  unsigned rc = REFCOUNT(n);
  if (rc != MAX_REFCOUNT && rc > 0) SETREFCOUNT(n, rc - 1);
}

static inline bool MARKED(int n) { return (bddnodes[n].word1 & MARK_MASK) != 0; }
static inline void SETMARK(int n) { bddnodes[n].word1 |= MARK_MASK; }
static inline void UNMARK(int n) { bddnodes[n].word1 &= ~MARK_MASK; }

/* ---- hashing ------------------------------------------------------------ */

static inline unsigned PAIR(unsigned a, unsigned b) {
  return (((a + b) * (a + b + 1u)) >> 1) + a;
}
static inline unsigned TRIPLE(unsigned a, unsigned b, unsigned c) {
  return PAIR(c, PAIR(a, b));
}
static inline unsigned NODEHASH(unsigned level, int low, int high) {
  return TRIPLE(level, (unsigned)low, (unsigned)high) % (unsigned)bddnodesize;
}

/* ---- reference stack ----------------------------------------------------- */

/* End of the reference stack, for the debug-build overflow check. */
extern int *bddrefstackend;

static inline void PUSHREF(int n) {
  assert(bddrefstacktop < bddrefstackend);
  *(bddrefstacktop++) = n;
}
static inline int READREF(int k) { return *(bddrefstacktop - k); }
static inline void POPREF(int k) { bddrefstacktop -= k; }
static inline void INITREF(void) { bddrefstacktop = bddrefstack; }

/* ---- argument checks ----------------------------------------------------- */

/* The three-step root check shared by most public entries: raises and
 * returns the error code, or 0 when r is a live node. */
static inline int bdd_checkroot(BDD r) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (r < 0 || r >= bddnodesize) return bdd_error(BDD_ERR_ILLBDD);
  if (r > 1 && ISFREE(r)) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

/* ---- kernel internals shared with other modules -------------------------- */

/* Nonzero exactly while an operator has bddexception armed: node creation
 * leaves by the restart jump only then. */
extern int jumparmed;
extern int usednodes_nextreorder;
extern int minfreenodes;
extern int *bddvarset;

/* ---- block forest, shared by the block and reordering modules ------------ */

extern BddTree *vartree;
extern int blockid;
extern bddfilehandler reorder_filehandler;


/* ---- operator engine: caches, operators, pair tables --------------------- */

extern "C" {
/* Marking tables and the order-restoring node builder of substitution. */
int varset2vartable(BDD var);
int varset2svartable(BDD cube);
BDD bdd_correctify(int level, BDD l, BDD h);
/* Cache instance i (0..9, in management order) and the current creation
 * size; for tests and statistics. */
const BddCache *bdd_operator_cache(int i);
int bdd_operator_cachesize(void);
/* Allocation failure injection: the allocation made when the counter
 * reaches 0 fails once; negative disables. */
extern int bddcache_failafter;
extern int bddpairs_failafter;
extern int bddoperator_failafter;
/* Pair tables: real length of the result array, damaged flag, and a hook
 * that sets the last handed-out identifier. */
int bdd_pair_length(const bddPair *p);
int bdd_pair_damaged(const bddPair *p);
void bdd_pairs_setid(int id);
}

#endif
