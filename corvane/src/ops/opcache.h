/* The operator caches: the ten cache instances, their slot computation and
 * the lookup and store steps every recursion inlines.  The instances are
 * shared between the operator families (the quantifiers run on the
 * conjunction's cache, composition on if-then-else's); their management
 * (creation, growth, reset, release) is opcache.cpp. */
#ifndef CORVANE_OPS_OPCACHE_H
#define CORVANE_OPS_OPCACHE_H

#include <string.h>
#include "../cache_internal.h"
#include "../operators_internal.h"
#include "../pairs_internal.h"
#include "../prime_internal.h"
#include "../reorder_internal.h"

/* An operator cache with the divisor of its slot computation; slotmod is
 * renewed wherever the table is replaced.  block is the allocation the
 * table lies in: a mapping of `mapped` bytes of its own, or from malloc
 * when mapped is 0. */
struct OpCache : BddCache {
  FastMod slotmod;
  void *block;
  size_t mapped;
};

/* The operator caches store the first key word complemented, so that an
 * entry of zeros is empty (it stands for a = -1, which no lookup asks for).
 * Fresh zeroed memory is then an empty cache as it is: a new or resized
 * cache costs no pass over its entries, and its pages are only touched, and
 * made resident, as entries are used. */
static inline int KEYA(int a) { return ~a; }

extern OpCache applycache CORVANE_HIDDEN; /* apply codes 1,3..9; negation (10); simplify (11) */
extern OpCache itecache CORVANE_HIDDEN;
extern OpCache quantcache CORVANE_HIDDEN;
extern OpCache appexcache CORVANE_HIDDEN;
extern OpCache replacecache CORVANE_HIDDEN;
extern OpCache composecache CORVANE_HIDDEN;
extern OpCache rescache CORVANE_HIDDEN;
extern OpCache misccache CORVANE_HIDDEN;
extern OpCache andcache CORVANE_HIDDEN;
extern OpCache orcache CORVANE_HIDDEN;

/* Conjunction and disjunction share one table (opcache.cpp says why); an
 * entry of disjunction carries OR_TAG in its first key word (node indices
 * have 27 bits). */
extern OpCache binpool CORVANE_HIDDEN;
static const int OR_TAG = 1 << 27;

/* ---- slots ------------------------------------------------------------------ */

/* Slot h mod tablesize, computed with the cache's FastMod. */
static inline BddCacheData3 *slot3(OpCache &c, unsigned h) {
  assert(c.slotmod.div == (unsigned)c.tablesize);
  return (BddCacheData3 *)c.table + FASTMOD(h, c.slotmod);
}
static inline BddCacheData4 *slot4(OpCache &c, unsigned h) {
  assert(c.slotmod.div == (unsigned)c.tablesize);
  return (BddCacheData4 *)c.table + FASTMOD(h, c.slotmod);
}

/* The caches that a growing node table may replace by a larger one in the
 * middle of an operation (operator_follow_growth) are addressed by slot
 * number: a recursion keeps the number across its sub-calls and finds the
 * entry again in whatever table is current.  A number of the old table lies
 * inside the new one; an entry stored there is misplaced, never wrong,
 * since a lookup compares the whole key. */
static inline unsigned slotno(const OpCache &c, unsigned h) {
  assert(c.slotmod.div == (unsigned)c.tablesize);
  return FASTMOD(h, c.slotmod);
}
static inline BddCacheData3 *at3(const OpCache &c, unsigned i) { return (BddCacheData3 *)c.table + i; }
static inline BddCacheData4 *at4(const OpCache &c, unsigned i) { return (BddCacheData4 *)c.table + i; }

/* ---- keys, lookup, store ---------------------------------------------------- */

/* A tag with the node index of a set root (or a pair table's identifier) in
 * its high bits; node indices have at most 27 bits, so root << 5 still fits
 * in 32 bits. */
static inline int tag(BDD var, unsigned shift, unsigned low) {
  return (int)(((unsigned)var << shift) | low);
}

/* Fills the entry e with its key and result.  Macros, not functions: a
 * call, even inlined, can change the register choices of the recursion
 * around it (unique_rec, appuni_rec did), and these stores sit in the
 * hottest code. */
#define STORE3(e, ka, kb, result) ((e)->a = KEYA(ka), (e)->b = (kb), (e)->res = (result))
#define STORE4(e, ka, kb, kc, result) \
  ((e)->a = KEYA(ka), (e)->b = (kb), (e)->c = (kc), (e)->res = (result))
/* Entries keyed by a and c alone leave b as it was. */
#define STORE_AC(e, ka, kc, result) ((e)->a = KEYA(ka), (e)->c = (kc), (e)->res = (result))

/* Double results of the counting operations occupy c and res. */
static inline double entry_double(const BddCacheData4 *e) {
  double d;
  memcpy(&d, &e->c, sizeof d);
  return d;
}
static inline void store_double(BddCacheData4 *e, int a, int b, double d) {
  e->a = KEYA(a);
  e->b = b;
  memcpy(&e->c, &d, sizeof d);
}

/* Starts loading the nodes of both operands, so that they arrive while
 * the cache slot is read instead of after it misses. */
static inline void prefetch_nodes(BDD l, BDD r) {
  __builtin_prefetch(&bddnodes[l]);
  __builtin_prefetch(&bddnodes[r]);
}

/* ---- creation --------------------------------------------------------------- */

/* Creates c with the current creation size; BDD_ERR_MEMORY (raised) when
 * the table cannot be had. */
int cache_create(BddCache *c) CORVANE_HIDDEN;

/* Creates every cache in the list that is still absent; the operator
 * returns BDD_ERR_MEMORY when this fails. */
static inline bool create_caches(BddCache *a, BddCache *b = NULL, BddCache *c = NULL) {
  BddCache *list[3] = {a, b, c};
  for (BddCache *x : list)
    if (x != NULL && x->table == NULL && cache_create(x) < 0) return false;
  return true;
}

/* malloc with the operator module's failure injection (bddoperator_failafter),
 * for the families' scratch tables. */
void *op_alloc(size_t bytes) CORVANE_HIDDEN;

/* ---- the families' scratch tables ------------------------------------------- */

/* Kept by the families themselves; the module's start-up, shut-down and
 * variable changes reach them here. */
void quant_scratch_init(void) CORVANE_HIDDEN;
void quant_scratch_done(void) CORVANE_HIDDEN;
void quant_scratch_varresize(void) CORVANE_HIDDEN;
void support_scratch_init(void) CORVANE_HIDDEN;
void support_scratch_done(void) CORVANE_HIDDEN;
/* Empties substitution's memo of table contents, with the caches; at
 * start-up its tags are numbered afresh too. */
void replace_memo_forget(void) CORVANE_HIDDEN;
void replace_memo_start(void) CORVANE_HIDDEN;

#endif
