/* The operator engine: result caches and their upkeep, the Boolean
 * operators, quantification, substitution, restriction, satisfying
 * assignments and counting. */
#include <math.h>
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>
#include "cache_internal.h"
#include "operators_internal.h"
#include "pairs_internal.h"
#include "prime_internal.h"
#include "reorder_internal.h"

/* ---- caches --------------------------------------------------------------- */

/* An operator cache with the divisor of its slot computation; slotmod is
 * renewed by cache_create and bdd_operator_noderesize, the only places
 * that size these caches.  block is the allocation the table lies in. */
struct OpCache : BddCache {
  FastMod slotmod;
  void *block;
};

/* The operator caches store the first key word complemented, so that an
 * entry of zeros is empty (it stands for a = -1, which no lookup asks for).
 * Fresh zeroed memory is then an empty cache as it is: a new or resized
 * cache costs no pass over its entries, and its pages are only touched, and
 * made resident, as entries are used. */
static inline int KEYA(int a) { return ~a; }

static OpCache applycache;   /* apply codes 1,3..9; negation (10); simplify (11) */
static OpCache itecache;
static OpCache quantcache;
static OpCache appexcache;
static OpCache replacecache;
static OpCache composecache;
static OpCache rescache;
static OpCache misccache;
static OpCache andcache;
static OpCache orcache;

enum { NCACHES = 10 };
static BddCache *const caches[NCACHES] = {&applycache,   &itecache,     &quantcache, &appexcache,
                                          &replacecache, &composecache, &rescache,   &misccache,
                                          &andcache,     &orcache};
static const bool fourword[NCACHES] = {true, true, false, true, false,
                                       true, true, true,  false, false};

static int cachesize;
static int cacheratio;

/* Quantifier marking table, indexed by level. */
static int *quantvarset;
static int quantvarsetsize;
static int quantvarsetID;
static int quantlast;

/* Support walk scratch table, indexed by level. */
static int *supportSet;
static int supportSize;
static int supportID;
static int supportMin;
static int supportMax;

/* Per-operation statics. */
static int applyop;
static int firstReorder;
static int reorderoff;  /* this call switched automatic reordering off */
static int quantid;
static int appexop;
static int appexid;
static int replaceid;
static BDD *replacepair;
static int replacelast;
static int composelevel;
static int miscid;
static int satPolarity;
static signed char *allsatProfile;
static bddallsathandler allsatHandler;
static int *varprofile;

/* Arguments handed from the public entries to the protected bodies; the
 * three roots are also kept alive while the operation runs. */
static BDD argf, argg, argh;
static bddPair *argpair;
static int argop;

static inline void set_args(BDD f, BDD g, BDD h) {
  argf = f;
  argg = g;
  argh = h;
}

/* Allocation failure injection for tests, as bddcache_failafter. */
int bddoperator_failafter = -1;

static void *op_alloc(size_t bytes) {
  if (bddoperator_failafter >= 0) {
    if (bddoperator_failafter-- == 0) return NULL;
  }
  return malloc(bytes ? bytes : 1);
}

static void renew_slotmod(BddCache *c) {
  static_cast<OpCache *>(c)->slotmod = FASTMOD_FOR((unsigned)c->tablesize);
}

static int cache_index(const BddCache *c) {
  int i = 0;
  while (caches[i] != c) i++;
  return i;
}

/* Conjunction and disjunction share one table, as large as the two caches
 * together: whichever of the two runs has all of it (a gate of a netlist
 * is one or the other).  The records andcache and orcache keep their own
 * sizes, by which the shared table is sized, and point into it; an entry
 * of disjunction carries OR_TAG in its first key word (node indices have
 * 27 bits). */
static OpCache binpool;
static const int OR_TAG = 1 << 27;

static inline bool is_bin(const BddCache *c) { return c == &andcache || c == &orcache; }

static void opcache_free(OpCache *oc) {
  free(oc->block);
  oc->block = NULL;
  oc->table = NULL;
  oc->tablesize = 0;
  renew_slotmod(oc);
}

/* Tables of at least this size start on a large-page boundary, so that all
 * of them can be mapped with large pages. */
static const size_t LARGE_PAGE = (size_t)2 << 20;

/* A zeroed (so empty) table of n entries of the given size in a new block;
 * NULL when the memory cannot be had. */
static void *table_alloc(unsigned n, size_t entry, void **block) {
  const size_t bytes = (size_t)n * entry;
  const size_t pad = bytes >= LARGE_PAGE ? LARGE_PAGE : 0;
  *block = NULL;
  if (bddcache_failafter < 0 || bddcache_failafter-- != 0) *block = calloc(1, bytes + pad);
  if (*block == NULL) return NULL;
  char *table = (char *)*block;
  if (pad) {
    table = (char *)(((uintptr_t)*block + pad - 1) & ~(uintptr_t)(pad - 1));
    advise_large_pages(table, bytes);
  }
  return table;
}

static void opcache_take(OpCache *oc, void *block, void *table, unsigned n) {
  oc->block = block;
  oc->table = table;
  oc->tablesize = (int)n;
  renew_slotmod(oc);
}

/* Gives oc a fresh, empty table of n entries of the given size. */
static int opcache_alloc(OpCache *oc, unsigned n, size_t entry) {
  opcache_free(oc);
  void *block;
  void *table = table_alloc(n, entry, &block);
  if (table == NULL) return bdd_error(BDD_ERR_MEMORY);
  opcache_take(oc, block, table, n);
  return 0;
}

/* Rebuilds the shared table for the sizes of the binary caches that exist
 * (a nonzero tablesize); its contents are dropped. */
static int binpool_rebuild(void) {
  const unsigned sum = (unsigned)andcache.tablesize + (unsigned)orcache.tablesize;
  int err = sum == 0 ? 0 : opcache_alloc(&binpool, prime_gte_quiet(sum), sizeof(BddCacheData3));
  if (sum == 0) opcache_free(&binpool);
  OpCache *const bins[2] = {&andcache, &orcache};
  for (OpCache *c : bins) {
    if (err < 0) c->tablesize = 0;
    c->table = c->tablesize ? binpool.table : NULL;
    renew_slotmod(c);
  }
  return err;
}

static void opcache_done(BddCache *c) {
  if (is_bin(c)) {
    c->table = NULL;
    c->tablesize = 0;
    renew_slotmod(c);
    if (andcache.table == NULL && orcache.table == NULL) opcache_free(&binpool);
    return;
  }
  opcache_free(static_cast<OpCache *>(c));
}

static unsigned rounded_size(int size) { return bdd_prime_gte((unsigned)(size < 3 ? 3 : size)); }

/* As opcache_init, with the size already rounded to a prime. */
static int opcache_init_rounded(BddCache *c, unsigned n) {
  if (is_bin(c)) {
    c->tablesize = (int)n;
    return binpool_rebuild();
  }
  return opcache_alloc(static_cast<OpCache *>(c), n,
                       fourword[cache_index(c)] ? sizeof(BddCacheData4) : sizeof(BddCacheData3));
}

/* Creates (or recreates, dropping the contents) cache c with room for the
 * smallest prime of at least size entries, as the cache records do. */
static int opcache_init(BddCache *c, int size) { return opcache_init_rounded(c, rounded_size(size)); }

template <typename Entry>
static void clear_first_words(BddCache *c) {
  Entry *t = (Entry *)c->table;
  for (int i = 0; i < c->tablesize; i++) t[i].a = 0;
}

static void opcache_reset(BddCache *c) {
  if (c->table == NULL) return;
  if (is_bin(c)) clear_first_words<BddCacheData3>(&binpool);
  else if (fourword[cache_index(c)]) clear_first_words<BddCacheData4>(c);
  else clear_first_words<BddCacheData3>(c);
}

static int cache_create(BddCache *c) { return opcache_init(c, cachesize); }

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

/* Starts loading the nodes of both operands, so that they arrive while
 * the cache slot is read instead of after it misses. */
static inline void prefetch_nodes(BDD l, BDD r) {
  __builtin_prefetch(&bddnodes[l]);
  __builtin_prefetch(&bddnodes[r]);
}

/* Double results of the counting operations occupy c and res. */
static inline double entry_double(const BddCacheData4 *e) {
  double d;
  memcpy(&d, &e->c, sizeof d);
  return d;
}
static inline void set_entry_double(BddCacheData4 *e, double d) { memcpy(&e->c, &d, sizeof d); }

/* A cache that cannot be created deep inside a recursion has no node to
 * stand for it: the error is raised by the creation and the whole operation
 * is abandoned through the armed jump buffer. */
enum { JUMP_REORDER = 1, JUMP_ABANDON = 2 };

static void need_cache(BddCache *c) {
  if (c->table == NULL && cache_create(c) < 0) longjmp(bddexception, JUMP_ABANDON);
}

static int quantvarset_ensure(void) {
  if (quantvarsetsize >= bddvarnum && quantvarset != NULL) return 0;
  free(quantvarset);
  quantvarset = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
  if (quantvarset == NULL) {
    quantvarsetsize = 0;
    return bdd_error(BDD_ERR_MEMORY);
  }
  memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
  quantvarsetsize = bddvarnum;
  quantvarsetID = 0;
  return 0;
}

extern "C" {

int bdd_operator_init(int size) {
  cachesize = size;
  cacheratio = 0;
  quantvarset = NULL;
  quantvarsetsize = 0;
  quantvarsetID = 0;
  supportSet = NULL;
  supportSize = 0;
  return 0;
}

void bdd_operator_done(void) {
  free(quantvarset);
  quantvarset = NULL;
  quantvarsetsize = 0;
  for (int i = 0; i < NCACHES; i++)
    if (caches[i]->table != NULL) opcache_done(caches[i]);
  free(supportSet);
  supportSet = NULL;
  supportSize = 0;
}

void bdd_operator_reset(void) {
  for (int i = 0; i < NCACHES; i++)
    if (caches[i] != &orcache || andcache.table == NULL) opcache_reset(caches[i]);
}

/* Replaces oc's table by an empty one of n entries, the old one going only
 * once the new one exists; false (old table kept) when it cannot be had. */
static bool opcache_regrow(OpCache *oc, unsigned n, size_t entry) {
  void *block;
  void *table = table_alloc(n, entry, &block);
  if (table == NULL) return false;
  free(oc->block);
  opcache_take(oc, block, table, n);
  return true;
}

/* Called by node creation after the table grew, possibly deep inside an
 * operation.  The caches of the recursions that only build nodes
 * (conjunction, disjunction, the other binary operators, negation,
 * simplification, if-then-else) take the ratio's new size at once: those
 * recursions find their slot again after creating nodes, so a table may be
 * replaced under them.  An operation that grows the table several times
 * otherwise runs to its end on a cache sized for the table it started
 * with (c2670 in depth-first order: 30 % fewer conjunction calls).  The
 * other caches follow when the operation ends, as before; a table that
 * cannot be had now is left as it is, and that later resize reports. */
void operator_follow_growth(void) {
  if (cacheratio <= 0) return;
  const int size = bddnodesize / cacheratio;
  const unsigned n = prime_gte_quiet((unsigned)(size < 3 ? 3 : size));
  OpCache *const four[2] = {&applycache, &itecache};
  for (OpCache *c : four)
    if (c->table != NULL && c->tablesize < (int)n) opcache_regrow(c, n, sizeof(BddCacheData4));
  const bool a = andcache.table != NULL, o = orcache.table != NULL;
  if ((a && andcache.tablesize < (int)n) || (o && orcache.tablesize < (int)n)) {
    const unsigned pool = prime_gte_quiet((a ? n : 0) + (o ? n : 0));
    if (pool < (unsigned)binpool.tablesize) return;
    if (!opcache_regrow(&binpool, pool, sizeof(BddCacheData3))) return;
    OpCache *const bins[2] = {&andcache, &orcache};
    for (OpCache *c : bins)
      if (c->table != NULL) opcache_take(c, NULL, binpool.table, n);
  }
}

void bdd_operator_varresize(void) {
  /* On failure the table stays absent; the quantifiers allocate it again
   * before they need it. */
  free(quantvarset);
  quantvarset = NULL;
  quantvarsetsize = 0;
  quantvarset_ensure();
  quantvarsetID = 0;
  opcache_reset(&misccache);
}

void bdd_operator_noderesize(void) {
  if (cacheratio <= 0) return;
  int newsize = bddnodesize / cacheratio;
  for (int i = 0; i < NCACHES; i++) {
    if (caches[i]->table == NULL) continue;
    /* One rounding per cache, as ever (it draws from the generator); a
     * cache that followed the growth already has the size and keeps its
     * entries. */
    const unsigned n = rounded_size(newsize);
    if (caches[i]->tablesize == (int)n) continue;
    /* A failed resize leaves the cache absent; it is created again on
     * its next use. */
    opcache_init_rounded(caches[i], n);
  }
  cachesize = newsize;
}

int bdd_setcacheratio(int r) {
  if (r <= 0) return bdd_error(BDD_ERR_RANGE);
  int old = cacheratio;
  if (bddnodesize == 0) return old;
  cacheratio = r;
  bdd_operator_noderesize();
  return old;
}

void checkresize(void) {
  if (bddresized) bdd_operator_noderesize();
  bddresized = 0;
}

const BddCache *bdd_operator_cache(int i) {
  if (i == NCACHES) return &binpool;
  return (i >= 0 && i < NCACHES) ? caches[i] : NULL;
}
int bdd_operator_cachesize(void) { return cachesize; }

}  // extern "C"

/* ---- entry protocol ------------------------------------------------------- */

/* Runs body with the restart buffer armed.  A reordering jump runs the
 * reordering and redoes the body once with reordering off; a second jump
 * gives 0.  An abandoned operation (a cache that could not be created in
 * the middle of the recursion) gives BDD_ERR_MEMORY. */
static BDD run_protected(BDD (*body)(void)) {
  for (;;) {
    switch (setjmp(bddexception)) {
      case 0: {
        jumparmed = 1;
        INITREF();
        /* Arguments may be fresh, unreferenced results of earlier calls:
         * keep them alive through collections inside this one. */
        PUSHREF(argf);
        PUSHREF(argg);
        PUSHREF(argh);
        if (!firstReorder) {
          bdd_disable_reorder();
          reorderoff = 1;
        }
        BDD res = body();
        if (reorderoff) {
          bdd_enable_reorder();
          reorderoff = 0;
        }
        jumparmed = 0;
        /* Nothing of this operation may pin nodes in later collections. */
        INITREF();
        checkresize();
        return res;
      }
      case JUMP_REORDER:
        jumparmed = 0;
        /* A reordering keeps only referenced nodes; the arguments must
         * outlive it for the retry. */
        bdd_addref(argf);
        bdd_addref(argg);
        bdd_addref(argh);
        bdd_checkreorder();
        bdd_delref(argf);
        bdd_delref(argg);
        bdd_delref(argh);
        if (reorderoff) {
          bdd_enable_reorder();
          reorderoff = 0;
        }
        if (--firstReorder == 0) continue;
        INITREF();
        checkresize();
        return 0;
      default:
        jumparmed = 0;
        INITREF();
        if (reorderoff) {
          bdd_enable_reorder();
          reorderoff = 0;
        }
        checkresize();
        return BDD_ERR_MEMORY;
    }
  }
}

/* Creates every cache in the list that is still absent; the operator
 * returns BDD_ERR_MEMORY when this fails. */
static bool create_caches(BddCache *a, BddCache *b = NULL, BddCache *c = NULL) {
  BddCache *list[3] = {a, b, c};
  for (BddCache *x : list)
    if (x != NULL && x->table == NULL && cache_create(x) < 0) return false;
  return true;
}

/* ---- apply, negation, if-then-else ----------------------------------------- */

static const int oprres[10][4] = {
    {0, 0, 0, 1},  // and
    {0, 1, 1, 0},  // xor
    {0, 1, 1, 1},  // or
    {1, 1, 1, 0},  // nand
    {1, 0, 0, 0},  // nor
    {1, 1, 0, 1},  // imp
    {1, 0, 0, 1},  // biimp
    {0, 0, 1, 0},  // diff
    {0, 1, 0, 0},  // less
    {1, 0, 1, 1},  // invimp
};

/* The Shannon step of the binary recursions: the cofactors of l and r on
 * the top level of the two, and that level. */
struct Cofactors {
  BDD l0, l1, r0, r1;
  unsigned level;
};
static inline Cofactors cofactors(BDD l, BDD r) {
  Cofactors c;
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  c.level = ll < lr ? ll : lr;
  if (ll == c.level) {
    c.l0 = LOW(l);
    c.l1 = HIGH(l);
  } else {
    c.l0 = c.l1 = l;
  }
  if (lr == c.level) {
    c.r0 = LOW(r);
    c.r1 = HIGH(r);
  } else {
    c.r0 = c.r1 = r;
  }
  return c;
}

/* and_rec and or_rec are two plain copies on purpose.  A shared template,
 * with or without the terminal cases split off by hand, loses the
 * compiler's partial inlining of those cases into the callers (queens 9:
 * +2.4 % to +4.6 % instructions); taking the cofactors up front as
 * apply_rec0 does costs +3.5 %. */
static BDD and_rec(BDD l, BDD r) {
  if (l == r) return r;
  if (l == 0 || r == 0) return 0;
  if (l == 1) return r;
  if (r == 1) return l;
  prefetch_nodes(l, r);
  const unsigned slot = slotno(binpool, PAIR((unsigned)l, (unsigned)r));
  BddCacheData3 *e = at3(binpool, slot);
  if (e->a == KEYA(l) && e->b == r) return e->res;
  /* Node creation protects its own operands during a collection, so only
   * the low result needs the reference stack, and only while the high
   * half runs. */
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  const BDD cand = ll <= lr ? l : r;
  unsigned lev;
  BDD low, high;
  if (ll == lr) {
    low = and_rec(LOW(l), LOW(r));
    PUSHREF(low);
    high = and_rec(HIGH(l), HIGH(r));
    lev = ll;
  } else if (ll < lr) {
    low = and_rec(LOW(l), r);
    PUSHREF(low);
    high = and_rec(HIGH(l), r);
    lev = ll;
  } else {
    low = and_rec(l, LOW(r));
    PUSHREF(low);
    high = and_rec(l, HIGH(r));
    lev = lr;
  }
  POPREF(1);
  const BDD res = makenode_reuse1(lev, low, high, cand);
  e = at3(binpool, slot);
  e->a = KEYA(l);
  e->b = r;
  e->res = res;
  return res;
}

static BDD or_rec(BDD l, BDD r) {
  if (l == r) return r;
  if (l == 1 || r == 1) return 1;
  if (l == 0) return r;
  if (r == 0) return l;
  prefetch_nodes(l, r);
  const unsigned slot = slotno(binpool, PAIR((unsigned)l, (unsigned)r));
  BddCacheData3 *e = at3(binpool, slot);
  if (e->a == KEYA(l | OR_TAG) && e->b == r) return e->res;
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  const BDD cand = ll <= lr ? l : r;
  unsigned lev;
  BDD low, high;
  if (ll == lr) {
    low = or_rec(LOW(l), LOW(r));
    PUSHREF(low);
    high = or_rec(HIGH(l), HIGH(r));
    lev = ll;
  } else if (ll < lr) {
    low = or_rec(LOW(l), r);
    PUSHREF(low);
    high = or_rec(HIGH(l), r);
    lev = ll;
  } else {
    low = or_rec(l, LOW(r));
    PUSHREF(low);
    high = or_rec(l, HIGH(r));
    lev = lr;
  }
  POPREF(1);
  const BDD res = makenode_reuse1(lev, low, high, cand);
  e = at3(binpool, slot);
  e->a = KEYA(l | OR_TAG);
  e->b = r;
  e->res = res;
  return res;
}

static BDD apply_rec0(BDD l, BDD r) {
  switch (applyop) {
    case OP_XOR:
      if (l == r) return 0;
      if (l == 0) return r;
      if (r == 0) return l;
      break;
    case OP_NAND:
      if (l == 0 || r == 0) return 1;
      break;
    case OP_NOR:
      if (l == 1 || r == 1) return 0;
      break;
    case OP_IMP:
      if (l == 0) return 1;
      if (l == 1) return r;
      if (r == 1) return 1;
      break;
    default:
      break;
  }
  if (l < 2 && r < 2) return oprres[applyop][(l << 1) | r];
  prefetch_nodes(l, r);
  const unsigned slot = slotno(applycache, TRIPLE((unsigned)l, (unsigned)r, (unsigned)applyop));
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(l) && e->b == r && e->c == applyop) return e->res;
  const Cofactors c = cofactors(l, r);
  const BDD cand = c.l0 != c.l1 ? l : r; /* l was split: it is on the result's level */
  const BDD low = apply_rec0(c.l0, c.r0);
  PUSHREF(low);
  const BDD high = apply_rec0(c.l1, c.r1);
  POPREF(1);
  const BDD res = makenode_reuse1(c.level, low, high, cand);
  e = at4(applycache, slot);
  e->a = KEYA(l);
  e->b = r;
  e->c = applyop;
  e->res = res;
  return res;
}

static BDD apply_rec(BDD l, BDD r) {
  switch (applyop) {
    case OP_AND:
      need_cache(&andcache);
      return and_rec(l, r);
    case OP_OR:
      need_cache(&orcache);
      return or_rec(l, r);
    default:
      need_cache(&applycache);
      return apply_rec0(l, r);
  }
}

static BDD not_rec(BDD r) {
  if (r == 0) return 1;
  if (r == 1) return 0;
  __builtin_prefetch(&bddnodes[r]);
  const unsigned slot = slotno(applycache, (unsigned)r);
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(r) && e->c == OP_NOT) return e->res;
  const BDD r0 = LOW(r), r1 = HIGH(r);
  const BDD low = not_rec(r0);
  PUSHREF(low);
  const BDD high = not_rec(r1);
  POPREF(1);
  const BDD res = makenode(LEVEL(r), low, high);
  e = at4(applycache, slot);
  e->a = KEYA(r);
  e->c = OP_NOT;
  e->res = res;
  return res;
}

static BDD ite_rec(BDD f, BDD g, BDD h) {
  if (f == 1) return g;
  if (f == 0) return h;
  if (g == h) return h;
  if (g == 1 && h == 0) return f;
  if (g == 0 && h == 1) return not_rec(f);
  const unsigned slot = slotno(itecache, TRIPLE((unsigned)f, (unsigned)g, (unsigned)h));
  BddCacheData4 *e = at4(itecache, slot);
  if (e->a == KEYA(f) && e->b == g && e->c == h) return e->res;
  unsigned lf = LEVEL(f), lg = LEVEL(g), lh = LEVEL(h);
  unsigned m = lf < lg ? lf : lg;
  if (lh < m) m = lh;
  BDD f0 = lf == m ? LOW(f) : f, f1 = lf == m ? HIGH(f) : f;
  BDD g0 = lg == m ? LOW(g) : g, g1 = lg == m ? HIGH(g) : g;
  BDD h0 = lh == m ? LOW(h) : h, h1 = lh == m ? HIGH(h) : h;
  PUSHREF(ite_rec(f0, g0, h0));
  PUSHREF(ite_rec(f1, g1, h1));
  BDD res = makenode_reuse(m, READREF(2), READREF(1), g, h);
  POPREF(2);
  e = at4(itecache, slot);
  e->a = KEYA(f);
  e->b = g;
  e->c = h;
  e->res = res;
  return res;
}

static BDD apply_body(void) {
  applyop = argop;
  return apply_rec(argf, argg);
}
static BDD not_body(void) { return not_rec(argf); }
static BDD ite_body(void) { return ite_rec(argf, argg, argh); }

extern "C" {

BDD bdd_apply(BDD l, BDD r, int op) {
  firstReorder = 1;
  if (bdd_checkroot(l) < 0 || bdd_checkroot(r) < 0) return 0;
  if ((unsigned)op > 9u) {
    bdd_error(BDD_ERR_OP);
    return 0;
  }
  set_args(l, r, 0);
  argop = op;
  return run_protected(apply_body);
}

BDD bdd_and(BDD l, BDD r) { return bdd_apply(l, r, OP_AND); }
BDD bdd_or(BDD l, BDD r) { return bdd_apply(l, r, OP_OR); }
BDD bdd_xor(BDD l, BDD r) { return bdd_apply(l, r, OP_XOR); }
BDD bdd_imp(BDD l, BDD r) { return bdd_apply(l, r, OP_IMP); }
BDD bdd_biimp(BDD l, BDD r) { return bdd_apply(l, r, OP_BIIMP); }

BDD bdd_not(BDD r) {
  firstReorder = 1;
  if (bdd_checkroot(r) < 0) return 0;
  if (!create_caches(&applycache)) return BDD_ERR_MEMORY;
  set_args(r, 0, 0);
  return run_protected(not_body);
}

BDD bdd_ite(BDD f, BDD g, BDD h) {
  firstReorder = 1;
  if (bdd_checkroot(f) < 0 || bdd_checkroot(g) < 0 || bdd_checkroot(h) < 0) return 0;
  if (!create_caches(&applycache, &itecache)) return BDD_ERR_MEMORY;
  set_args(f, g, h);
  return run_protected(ite_body);
}

BDD bdd_buildcube(int value, int width, BDD *variables) {
  if (width < 1) return 1;
  BDD result = 1;
  for (int z = width - 1; z >= 0; z--) {
    BDD v = (value & 1) ? variables[z] : bdd_not(variables[z]);
    bdd_addref(v);
    bdd_addref(result);
    BDD tmp = bdd_apply(result, v, OP_AND);
    bdd_delref(result);
    bdd_delref(v);
    result = tmp;
    value >>= 1;
  }
  return result;
}

BDD bdd_ibuildcube(int value, int width, int *variables) {
  if (width < 1) return 1;
  BDD result = 1;
  for (int z = width - 1; z >= 0; z--) {
    BDD v = (value & 1) ? bdd_ithvar(variables[z]) : bdd_nithvar(variables[z]);
    bdd_addref(result);
    BDD tmp = bdd_apply(result, v, OP_AND);
    bdd_delref(result);
    result = tmp;
    value >>= 1;
  }
  return result;
}

BDD bdd_makeset(int *varset, int varnum) {
  BDD res = 1;
  for (int i = varnum - 1; i >= 0; i--) {
    bdd_addref(res);
    BDD tmp = bdd_apply(res, bdd_ithvar(varset[i]), OP_AND);
    bdd_delref(res);
    res = tmp;
  }
  return res;
}

}  // extern "C"

/* ---- quantification ---------------------------------------------------------- */

extern "C" int varset2vartable(BDD var) {
  if (var < 2) return bdd_error(BDD_ERR_VARSET);
  if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  quantvarsetID++;
  if (quantvarsetID == 0x7FFFFFFF) {
    memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
    quantvarsetID = 1;
  }
  for (BDD n = var; n > 1; n = HIGH(n)) {
    quantvarset[LEVEL(n)] = quantvarsetID;
    quantlast = (int)LEVEL(n);
  }
  return 0;
}

extern "C" int varset2svartable(BDD cube) {
  if (cube < 2) return bdd_error(BDD_ERR_VARSET);
  if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  quantvarsetID++;
  if (quantvarsetID == 0x3FFFFFFF) {
    memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
    quantvarsetID = 1;
  }
  BDD n = cube;
  while (n > 1) {
    quantlast = (int)LEVEL(n);
    if (LOW(n) == 0) {
      quantvarset[LEVEL(n)] = quantvarsetID;
      n = HIGH(n);
    } else {
      quantvarset[LEVEL(n)] = -quantvarsetID;
      n = LOW(n);
    }
  }
  return 0;
}

static BDD quant_rec(BDD n) {
  if (n < 2 || (int)LEVEL(n) > quantlast) return n;
  BddCacheData3 *e = slot3(quantcache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == quantid) return e->res;
  PUSHREF(quant_rec(LOW(n)));
  PUSHREF(quant_rec(HIGH(n)));
  BDD res;
  if (quantvarset[LEVEL(n)] == quantvarsetID) res = apply_rec(READREF(2), READREF(1));
  else res = makenode(LEVEL(n), READREF(2), READREF(1));
  POPREF(2);
  e->a = KEYA(n);
  e->b = quantid;
  e->res = res;
  return res;
}

static BDD unique_rec(BDD r, BDD var) {
  if (LEVEL(r) > LEVEL(var)) return 0;
  if (r < 2 || var < 2) return r;
  BddCacheData3 *e = slot3(quantcache, (unsigned)r);
  if (e->a == KEYA(r) && e->b == quantid) return e->res;
  BDD res;
  if (LEVEL(r) == LEVEL(var)) {
    PUSHREF(unique_rec(LOW(r), HIGH(var)));
    PUSHREF(unique_rec(HIGH(r), HIGH(var)));
    res = apply_rec(READREF(2), READREF(1));
  } else {
    PUSHREF(unique_rec(LOW(r), var));
    PUSHREF(unique_rec(HIGH(r), var));
    res = makenode(LEVEL(r), READREF(2), READREF(1));
  }
  POPREF(2);
  e->a = KEYA(r);
  e->b = quantid;
  e->res = res;
  return res;
}

static BDD appquant_rec0(BDD l, BDD r) {
  switch (appexop) {
    case OP_AND:
      if (l == 0 || r == 0) return 0;
      if (l == r || l == 1) return quant_rec(r);
      if (r == 1) return quant_rec(l);
      break;
    case OP_XOR:
      if (l == r) return 0;
      if (l == 0) return quant_rec(r);
      if (r == 0) return quant_rec(l);
      break;
    case OP_OR:
      if (l == 1 || r == 1) return 1;
      if (l == r || l == 0) return quant_rec(r);
      if (r == 0) return quant_rec(l);
      break;
    case OP_NAND:
      if (l == 0 || r == 0) return 1;
      break;
    case OP_NOR:
      if (l == 1 || r == 1) return 0;
      break;
    default:
      break;
  }
  if (l < 2 && r < 2) return oprres[appexop][(l << 1) | r];
  unsigned ll = LEVEL(l), lr = LEVEL(r);
  if ((int)ll > quantlast && (int)lr > quantlast) {
    int oldop = applyop;
    applyop = appexop;
    BDD res = apply_rec(l, r);
    applyop = oldop;
    return res;
  }
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned lev;
  if (ll == lr) {
    PUSHREF(appquant_rec0(LOW(l), LOW(r)));
    PUSHREF(appquant_rec0(HIGH(l), HIGH(r)));
    lev = ll;
  } else if (ll < lr) {
    PUSHREF(appquant_rec0(LOW(l), r));
    PUSHREF(appquant_rec0(HIGH(l), r));
    lev = ll;
  } else {
    PUSHREF(appquant_rec0(l, LOW(r)));
    PUSHREF(appquant_rec0(l, HIGH(r)));
    lev = lr;
  }
  BDD res;
  if (quantvarset[lev] == quantvarsetID) res = apply_rec(READREF(2), READREF(1));
  else res = makenode(lev, READREF(2), READREF(1));
  POPREF(2);
  e->a = KEYA(l);
  e->b = r;
  e->c = appexid;
  e->res = res;
  return res;
}

static BDD relprod_rec(BDD l, BDD r) {
  if (l == 0 || r == 0) return 0;
  if (l == r || r == 1) return quant_rec(l);
  if (l == 1) return quant_rec(r);
  unsigned ll = LEVEL(l), lr = LEVEL(r);
  if ((int)ll > quantlast && (int)lr > quantlast) return and_rec(l, r);
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned lev;
  if (ll == lr) {
    PUSHREF(relprod_rec(LOW(l), LOW(r)));
    PUSHREF(relprod_rec(HIGH(l), HIGH(r)));
    lev = ll;
  } else if (ll < lr) {
    PUSHREF(relprod_rec(LOW(l), r));
    PUSHREF(relprod_rec(HIGH(l), r));
    lev = ll;
  } else {
    PUSHREF(relprod_rec(l, LOW(r)));
    PUSHREF(relprod_rec(l, HIGH(r)));
    lev = lr;
  }
  BDD res;
  if (quantvarset[lev] == quantvarsetID) res = or_rec(READREF(2), READREF(1));
  else res = makenode(lev, READREF(2), READREF(1));
  POPREF(2);
  e->a = KEYA(l);
  e->b = r;
  e->c = appexid;
  e->res = res;
  return res;
}

static BDD appquant_rec(BDD l, BDD r) {
  need_cache(&appexcache);
  if (applyop == OP_OR && appexop == OP_AND) {
    need_cache(&andcache);
    need_cache(&orcache);
    return relprod_rec(l, r);
  }
  return appquant_rec0(l, r);
}

static BDD appuni_rec(BDD l, BDD r, BDD var) {
  unsigned ll = LEVEL(l), lr = LEVEL(r), lv = LEVEL(var);
  if (ll > lv && lr > lv) return 0;
  if (l < 2 && r < 2) return oprres[appexop][(l << 1) | r];
  if (var < 2) {
    int oldop = applyop;
    applyop = appexop;
    BDD res = apply_rec(l, r);
    applyop = oldop;
    return res;
  }
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned top = ll < lr ? ll : lr;
  BDD l0 = ll == top ? LOW(l) : l, l1 = ll == top ? HIGH(l) : l;
  BDD r0 = lr == top ? LOW(r) : r, r1 = lr == top ? HIGH(r) : r;
  BDD res;
  if (top == lv) {
    PUSHREF(appuni_rec(l0, r0, HIGH(var)));
    PUSHREF(appuni_rec(l1, r1, HIGH(var)));
    res = apply_rec(READREF(2), READREF(1));
  } else {
    PUSHREF(appuni_rec(l0, r0, var));
    PUSHREF(appuni_rec(l1, r1, var));
    res = makenode_reuse(top, READREF(2), READREF(1), l, r);
  }
  POPREF(2);
  e->a = KEYA(l);
  e->b = r;
  e->c = appexid;
  e->res = res;
  return res;
}

/* The set root sits in the high bits of every tag; node indices have at
 * most 27 bits, so root << 5 still fits in 32 bits. */
static inline int tag(BDD var, unsigned shift, unsigned low) {
  return (int)(((unsigned)var << shift) | low);
}

/* argop: 0 exist, 1 forall, 2 unique (the low bits of quantid) */
static BDD quant_body(void) {
  static const int quantop[3] = {OP_OR, OP_AND, OP_XOR};
  quantid = tag(argg, 3, (unsigned)argop);
  applyop = quantop[argop];
  if (argop == 2) return unique_rec(argf, argg);
  varset2vartable(argg);
  return quant_rec(argf);
}

static BDD quantify(BDD r, BDD var, int kind) {
  firstReorder = 1;
  if (bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if (var < 2) return r;
  if (!create_caches(&quantcache)) return BDD_ERR_MEMORY;
  if (kind != 2 && quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  set_args(r, var, 0);
  argop = kind;
  return run_protected(quant_body);
}

static int appq_kind; /* 0 exist, 1 forall, 2 unique */

static BDD appq_body(void) {
  appexop = argop;
  if (appq_kind == 2) {
    applyop = OP_XOR;
    /* Operator field 10..14 with the spare low bit: no exist or forall
     * tag (operator field 0..9) can equal it. */
    appexid = tag(argh, 5, ((10u + ((unsigned)argop >> 1)) << 1) | ((unsigned)argop & 1u));
    return appuni_rec(argf, argg, argh);
  }
  varset2vartable(argh);
  applyop = appq_kind == 0 ? OP_OR : OP_AND;
  appexid = tag(argh, 5, ((unsigned)argop << 1) | (unsigned)appq_kind);
  /* The inner quantification depends on the set and the quantifier only,
   * so its tag is built from the set root directly and loses no bits. */
  quantid = tag(argh, 3, 3u + (unsigned)appq_kind);
  return appquant_rec(argf, argg);
}

static BDD appquantify(BDD l, BDD r, int op, BDD var, int kind) {
  firstReorder = 1;
  if (bdd_checkroot(l) < 0 || bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if ((unsigned)op > 9u) {
    bdd_error(BDD_ERR_OP);
    return 0;
  }
  if (var < 2) return bdd_apply(l, r, op);
  if (kind == 2) {
    if (!create_caches(&quantcache, &appexcache)) return BDD_ERR_MEMORY;
  } else {
    if (!create_caches(&quantcache)) return BDD_ERR_MEMORY;
    if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  }
  set_args(l, r, var);
  argop = op;
  appq_kind = kind;
  return run_protected(appq_body);
}

extern "C" {

BDD bdd_exist(BDD r, BDD var) { return quantify(r, var, 0); }
BDD bdd_forall(BDD r, BDD var) { return quantify(r, var, 1); }
BDD bdd_unique(BDD r, BDD var) { return quantify(r, var, 2); }
BDD bdd_appex(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, 0); }
BDD bdd_appall(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, 1); }
BDD bdd_appuni(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, 2); }

}  // extern "C"

/* ---- substitution -------------------------------------------------------------- */

extern "C" BDD bdd_correctify(int level, BDD l, BDD h) {
  int ll = (int)LEVEL(l), lh = (int)LEVEL(h);
  if (level < ll && level < lh) return makenode((unsigned)level, l, h);
  if (level == ll || level == lh) {
    bdd_error(BDD_ERR_REPLACE);
    return 0;
  }
  int lev;
  if (ll == lh) {
    PUSHREF(bdd_correctify(level, LOW(l), LOW(h)));
    PUSHREF(bdd_correctify(level, HIGH(l), HIGH(h)));
    lev = ll;
  } else if (ll < lh) {
    PUSHREF(bdd_correctify(level, LOW(l), h));
    PUSHREF(bdd_correctify(level, HIGH(l), h));
    lev = ll;
  } else {
    PUSHREF(bdd_correctify(level, l, LOW(h)));
    PUSHREF(bdd_correctify(level, l, HIGH(h)));
    lev = lh;
  }
  BDD res = makenode((unsigned)lev, READREF(2), READREF(1));
  POPREF(2);
  return res;
}

static BDD replace_rec(BDD r) {
  if (r < 2 || (int)LEVEL(r) > replacelast) return r;
  BddCacheData3 *e = slot3(replacecache, (unsigned)r);
  if (e->a == KEYA(r) && e->b == replaceid) return e->res;
  PUSHREF(replace_rec(LOW(r)));
  PUSHREF(replace_rec(HIGH(r)));
  BDD res = bdd_correctify((int)LEVEL(replacepair[LEVEL(r)]), READREF(2), READREF(1));
  POPREF(2);
  e->a = KEYA(r);
  e->b = replaceid;
  e->res = res;
  return res;
}

static BDD compose_rec(BDD f, BDD g) {
  if ((int)LEVEL(f) > composelevel) return f;
  BddCacheData4 *e = slot4(composecache, PAIR((unsigned)f, (unsigned)g));
  if (e->a == KEYA(f) && e->b == g && e->c == replaceid) return e->res;
  BDD res;
  unsigned lf = LEVEL(f), lg = LEVEL(g);
  if ((int)lf == composelevel) {
    res = ite_rec(g, HIGH(f), LOW(f));
  } else {
    unsigned lev;
    if (lf == lg) {
      PUSHREF(compose_rec(LOW(f), LOW(g)));
      PUSHREF(compose_rec(HIGH(f), HIGH(g)));
      lev = lf;
    } else if (lf < lg) {
      PUSHREF(compose_rec(LOW(f), g));
      PUSHREF(compose_rec(HIGH(f), g));
      lev = lf;
    } else {
      PUSHREF(compose_rec(f, LOW(g)));
      PUSHREF(compose_rec(f, HIGH(g)));
      lev = lg;
    }
    res = makenode_reuse(lev, READREF(2), READREF(1), f, g);
    POPREF(2);
  }
  e->a = KEYA(f);
  e->b = g;
  e->c = replaceid;
  e->res = res;
  return res;
}

static BDD veccompose_rec(BDD f) {
  if ((int)LEVEL(f) > replacelast) return f;
  BddCacheData3 *e = slot3(replacecache, (unsigned)f);
  if (e->a == KEYA(f) && e->b == replaceid) return e->res;
  PUSHREF(veccompose_rec(LOW(f)));
  PUSHREF(veccompose_rec(HIGH(f)));
  BDD res = ite_rec(replacepair[LEVEL(f)], READREF(1), READREF(2));
  POPREF(2);
  e->a = KEYA(f);
  e->b = replaceid;
  e->res = res;
  return res;
}

static BDD replace_body(void) {
  replacepair = argpair->result;
  replacelast = argpair->last;
  replaceid = (argpair->id << 2) | argop;
  return argop == 0 ? replace_rec(argf) : veccompose_rec(argf);
}

static BDD compose_body(void) {
  composelevel = bddvar2level[argop];
  replaceid = (composelevel << 2) | 1;
  return compose_rec(argf, argg);
}

/* A null table is refused; so is a table whose contents were lost when
 * it could not grow. */
static int check_pair(bddPair *pair) {
  if (pair == NULL) return bdd_error(BDD_ERR_RANGE);
  if (bdd_pair_damaged(pair)) return bdd_error(BDD_ERR_MEMORY);
  return 0;
}

extern "C" {

BDD bdd_replace(BDD r, bddPair *pair) {
  firstReorder = 1;
  if (bdd_checkroot(r) < 0) return 0;
  int e = check_pair(pair);
  if (e < 0) return e == BDD_ERR_MEMORY ? BDD_ERR_MEMORY : 0;
  if (!create_caches(&replacecache)) return BDD_ERR_MEMORY;
  set_args(r, 0, 0);
  argpair = pair;
  argop = 0;
  return run_protected(replace_body);
}

BDD bdd_compose(BDD f, BDD g, int var) {
  firstReorder = 1;
  if (bdd_checkroot(f) < 0 || bdd_checkroot(g) < 0) return 0;
  if (var < 0 || var >= bddvarnum) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return 0;
  }
  if (!create_caches(&applycache, &itecache, &composecache)) return BDD_ERR_MEMORY;
  set_args(f, g, 0);
  argop = var;
  return run_protected(compose_body);
}

BDD bdd_veccompose(BDD f, bddPair *pair) {
  firstReorder = 1;
  if (bdd_checkroot(f) < 0) return 0;
  int e = check_pair(pair);
  if (e < 0) return e == BDD_ERR_MEMORY ? BDD_ERR_MEMORY : 0;
  if (!create_caches(&applycache, &itecache, &replacecache)) return BDD_ERR_MEMORY;
  set_args(f, 0, 0);
  argpair = pair;
  argop = 2;
  return run_protected(replace_body);
}

}  // extern "C"

/* ---- restriction, simplification, support ----------------------------------- */

static BDD restrict_rec(BDD r) {
  if (r < 2 || (int)LEVEL(r) > quantlast) return r;
  BddCacheData4 *e = slot4(rescache, PAIR((unsigned)r, (unsigned)miscid));
  if (e->a == KEYA(r) && e->c == miscid) return e->res;
  int m = quantvarset[LEVEL(r)];
  BDD res;
  if (m == quantvarsetID) {
    res = restrict_rec(HIGH(r));
  } else if (m == -quantvarsetID) {
    res = restrict_rec(LOW(r));
  } else {
    PUSHREF(restrict_rec(LOW(r)));
    PUSHREF(restrict_rec(HIGH(r)));
    res = makenode_reuse1(LEVEL(r), READREF(2), READREF(1), r);
    POPREF(2);
  }
  e->a = KEYA(r);
  e->c = miscid;
  e->res = res;
  return res;
}

static BDD constrain_rec(BDD f, BDD k) {
  if (k == 1 || f < 2) return f;
  if (k == f) return 1;
  if (k == 0) return 0;
  BddCacheData4 *e = slot4(rescache, PAIR((unsigned)f, (unsigned)k));
  if (e->a == KEYA(f) && e->b == k && e->c == miscid) return e->res;
  unsigned lf = LEVEL(f), lk = LEVEL(k);
  BDD res;
  if (lf == lk) {
    if (LOW(k) == 0) res = constrain_rec(HIGH(f), HIGH(k));
    else if (HIGH(k) == 0) res = constrain_rec(LOW(f), LOW(k));
    else {
      PUSHREF(constrain_rec(LOW(f), LOW(k)));
      PUSHREF(constrain_rec(HIGH(f), HIGH(k)));
      res = makenode_reuse1(lf, READREF(2), READREF(1), f);
      POPREF(2);
    }
  } else if (lf < lk) {
    PUSHREF(constrain_rec(LOW(f), k));
    PUSHREF(constrain_rec(HIGH(f), k));
    res = makenode_reuse1(lf, READREF(2), READREF(1), f);
    POPREF(2);
  } else {
    if (LOW(k) == 0) res = constrain_rec(f, HIGH(k));
    else if (HIGH(k) == 0) res = constrain_rec(f, LOW(k));
    else {
      PUSHREF(constrain_rec(f, LOW(k)));
      PUSHREF(constrain_rec(f, HIGH(k)));
      res = makenode(lk, READREF(2), READREF(1));
      POPREF(2);
    }
  }
  e->a = KEYA(f);
  e->b = k;
  e->c = miscid;
  e->res = res;
  return res;
}

static BDD simplify_rec(BDD f, BDD d) {
  if (d == 1 || f < 2) return f;
  if (d == f) return 1;
  if (d == 0) return 0;
  const unsigned slot = slotno(applycache, TRIPLE((unsigned)f, (unsigned)d, OP_SIMPLIFY));
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(f) && e->b == d && e->c == OP_SIMPLIFY) return e->res;
  unsigned lf = LEVEL(f), ld = LEVEL(d);
  BDD res;
  if (lf == ld) {
    if (LOW(d) == 0) res = simplify_rec(HIGH(f), HIGH(d));
    else if (HIGH(d) == 0) res = simplify_rec(LOW(f), LOW(d));
    else {
      PUSHREF(simplify_rec(LOW(f), LOW(d)));
      PUSHREF(simplify_rec(HIGH(f), HIGH(d)));
      res = makenode_reuse1(lf, READREF(2), READREF(1), f);
      POPREF(2);
    }
  } else if (lf > ld) {
    PUSHREF(or_rec(LOW(d), HIGH(d)));
    res = simplify_rec(f, READREF(1));
    POPREF(1);
  } else {
    PUSHREF(simplify_rec(LOW(f), d));
    PUSHREF(simplify_rec(HIGH(f), d));
    res = makenode_reuse1(lf, READREF(2), READREF(1), f);
    POPREF(2);
  }
  e = at4(applycache, slot);
  e->a = KEYA(f);
  e->b = d;
  e->c = OP_SIMPLIFY;
  e->res = res;
  return res;
}

static BDD restrict_body(void) {
  varset2svartable(argg);
  miscid = tag(argg, 3, 1u);
  return restrict_rec(argf);
}
static BDD constrain_body(void) {
  miscid = 0;
  return constrain_rec(argf, argg);
}
static BDD simplify_body(void) { return simplify_rec(argf, argg); }

static void support_rec(BDD r) {
  while (r > 1 && !MARKED(r) && !ISFREE(r)) {
    int lev = (int)LEVEL(r);
    supportSet[lev] = supportID;
    if (lev > supportMax) supportMax = lev;
    SETMARK(r);
    support_rec(LOW(r));
    r = HIGH(r);
  }
}

extern "C" {

BDD bdd_restrict(BDD r, BDD var) {
  firstReorder = 1;
  if (bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if (var < 2) return r;
  if (!create_caches(&rescache)) return BDD_ERR_MEMORY;
  if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  set_args(r, var, 0);
  return run_protected(restrict_body);
}

BDD bdd_constrain(BDD f, BDD c) {
  firstReorder = 1;
  if (bdd_checkroot(f) < 0 || bdd_checkroot(c) < 0) return 0;
  if (!create_caches(&rescache)) return BDD_ERR_MEMORY;
  set_args(f, c, 0);
  return run_protected(constrain_body);
}

BDD bdd_simplify(BDD f, BDD d) {
  firstReorder = 1;
  if (bdd_checkroot(f) < 0 || bdd_checkroot(d) < 0) return 0;
  if (!create_caches(&applycache, &orcache)) return BDD_ERR_MEMORY;
  set_args(f, d, 0);
  return run_protected(simplify_body);
}

BDD bdd_support(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r < 2) return 1;
  if (supportSize < bddvarnum) {
    free(supportSet);
    supportSet = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
    if (supportSet == NULL) {
      supportSize = 0;
      bdd_error(BDD_ERR_MEMORY);
      return 0;
    }
    memset(supportSet, 0, sizeof(int) * (size_t)bddvarnum);
    supportSize = bddvarnum;
    supportID = 0;
  }
  if (supportID == 0x0FFFFFFF) {
    memset(supportSet, 0, sizeof(int) * (size_t)bddvarnum);
    supportID = 0;
  }
  supportID++;
  supportMin = supportMax = (int)LEVEL(r);
  support_rec(r);
  bdd_unmark(r);

  bdd_disable_reorder();
  BDD res = 1;
  for (int n = supportMax; n >= supportMin; n--) {
    if (supportSet[n] != supportID) continue;
    bdd_addref(res);
    BDD tmp = makenode((unsigned)n, 0, res);
    bdd_delref(res);
    res = tmp;
  }
  bdd_enable_reorder();
  return res;
}

}  // extern "C"

/* ---- satisfying assignments ----------------------------------------------------- */

static inline BDD pushed(BDD n) {
  PUSHREF(n);
  return n;
}

static BDD satone_rec(BDD r) {
  if (r < 2) return r;
  if (LOW(r) != 0) return pushed(makenode(LEVEL(r), satone_rec(LOW(r)), 0));
  return pushed(makenode(LEVEL(r), 0, satone_rec(HIGH(r))));
}

static BDD satoneset_rec(BDD r, BDD var) {
  if (r < 2 && var < 2) return r;
  unsigned lr = LEVEL(r), lv = LEVEL(var);
  if (lr < lv) {
    if (LOW(r) != 0) return pushed(makenode(lr, satoneset_rec(LOW(r), var), 0));
    return pushed(makenode(lr, 0, satoneset_rec(HIGH(r), var)));
  }
  if (lv < lr) {
    BDD s = satoneset_rec(r, HIGH(var));
    return pushed(satPolarity == 1 ? makenode(lv, 0, s) : makenode(lv, s, 0));
  }
  if (LOW(r) != 0) return pushed(makenode(lr, satoneset_rec(LOW(r), HIGH(var)), 0));
  return pushed(makenode(lr, 0, satoneset_rec(HIGH(r), HIGH(var))));
}

static BDD fullsatone_rec(BDD r) {
  if (r < 2) return r;
  BDD child = LOW(r) != 0 ? LOW(r) : HIGH(r);
  BDD s = fullsatone_rec(child);
  for (int l = (int)LEVEL(child) - 1; l > (int)LEVEL(r); l--) s = pushed(makenode((unsigned)l, s, 0));
  if (LOW(r) != 0) return pushed(makenode(LEVEL(r), s, 0));
  return pushed(makenode(LEVEL(r), 0, s));
}

static void allsat_rec(BDD r) {
  while (r > 1) {
    int lev = (int)LEVEL(r);
    if (LOW(r) != 0) {
      allsatProfile[bddlevel2var[lev]] = 0;
      for (int v = (int)LEVEL(LOW(r)) - 1; v > lev; v--) allsatProfile[bddlevel2var[v]] = -1;
      allsat_rec(LOW(r));
    }
    if (HIGH(r) == 0) return;
    allsatProfile[bddlevel2var[lev]] = 1;
    for (int v = (int)LEVEL(HIGH(r)) - 1; v > lev; v--) allsatProfile[bddlevel2var[v]] = -1;
    r = HIGH(r);
  }
  if (r == 1) allsatHandler(allsatProfile, bddvarnum);
}

/* A root that is only read (a variable set, a root to count) must still
 * lie in the table; the constants always do. */
static int check_set(BDD set) {
  if (set < 0 || (set > 1 && (set >= bddnodesize || ISFREE(set)))) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

extern "C" {

BDD bdd_satone(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r < 2) return r;
  bdd_disable_reorder();
  INITREF();
  PUSHREF(r);
  BDD res = satone_rec(r);
  INITREF();
  bdd_enable_reorder();
  checkresize();
  return res;
}

BDD bdd_satoneset(BDD r, BDD var, BDD pol) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r == 0) return 0;
  if (pol > 1) {
    bdd_error(BDD_ERR_ILLBDD);
    return 0;
  }
  if (check_set(var) < 0) return 0;
  bdd_disable_reorder();
  INITREF();
  PUSHREF(r);
  PUSHREF(var);
  satPolarity = pol;
  BDD res = satoneset_rec(r, var);
  INITREF();
  bdd_enable_reorder();
  checkresize();
  return res;
}

BDD bdd_fullsatone(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r == 0) return 0;
  bdd_disable_reorder();
  INITREF();
  PUSHREF(r);
  BDD res = fullsatone_rec(r);
  for (int l = (int)LEVEL(r) - 1; l >= 0; l--) res = pushed(makenode((unsigned)l, res, 0));
  INITREF();
  bdd_enable_reorder();
  checkresize();
  return res;
}

void bdd_allsat(BDD r, bddallsathandler handler) {
  if (bdd_checkroot(r) < 0) return;
  allsatProfile = (signed char *)op_alloc((size_t)bddvarnum);
  if (allsatProfile == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return;
  }
  for (int l = (int)LEVEL(r) - 1; l >= 0; l--) allsatProfile[bddlevel2var[l]] = -1;
  allsatHandler = handler;
  INITREF();
  allsat_rec(r);
  free(allsatProfile);
  allsatProfile = NULL;
}

}  // extern "C"

/* ---- counting ----------------------------------------------------------------------- */

static double satcount_rec(BDD n) {
  if (n < 2) return n;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == miscid) return entry_double(e);
  unsigned lev = LEVEL(n);
  BDD lo = LOW(n), hi = HIGH(n);
  /* Scaling by a power of two is exact, so ldexp gives the same value as
   * multiplying by pow(2, e), without the cost of pow. */
  double size = ldexp(satcount_rec(lo), (int)LEVEL(lo) - (int)lev - 1);
  size += ldexp(satcount_rec(hi), (int)LEVEL(hi) - (int)lev - 1);
  e->a = KEYA(n);
  e->b = miscid;
  set_entry_double(e, size);
  return size;
}

static double satcountln_rec(BDD n) {
  if (n == 0) return -1.0;
  if (n == 1) return 0.0;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == miscid) return entry_double(e);
  int lev = (int)LEVEL(n);
  double s1 = satcountln_rec(LOW(n));
  if (s1 >= 0.0) s1 += (int)LEVEL(LOW(n)) - lev - 1;
  double s2 = satcountln_rec(HIGH(n));
  if (s2 >= 0.0) s2 += (int)LEVEL(HIGH(n)) - lev - 1;
  double size;
  if (s1 < 0.0) size = s2;
  else if (s2 < 0.0) size = s1;
  else if (s1 < s2) size = s2 + log(pow(2.0, s1 - s2) + 1.0) / 0.6931471805599453;
  else size = s1 + log(pow(2.0, s2 - s1) + 1.0) / 0.6931471805599453;
  e->a = KEYA(n);
  e->b = miscid;
  set_entry_double(e, size);
  return size;
}

static double pathcount_rec(BDD n) {
  if (n < 2) return n;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == miscid) return entry_double(e);
  double size = pathcount_rec(LOW(n)) + pathcount_rec(HIGH(n));
  e->a = KEYA(n);
  e->b = miscid;
  set_entry_double(e, size);
  return size;
}

static void varprofile_rec(BDD n) {
  while (n > 1 && !MARKED(n)) {
    varprofile[bddlevel2var[LEVEL(n)]]++;
    SETMARK(n);
    varprofile_rec(LOW(n));
    n = HIGH(n);
  }
}

static int set_size(BDD set) {
  int k = 0;
  for (BDD n = set; n > 1; n = HIGH(n)) k++;
  return k;
}

extern "C" {

double bdd_satcount(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  miscid = 2;
  return pow(2.0, (double)LEVEL(r)) * satcount_rec(r);
}

double bdd_satcountset(BDD r, BDD varset) {
  if (bdd_checkroot(r) < 0 || check_set(varset) < 0) return 0.0;
  if (varset < 2 || r == 0) return 0.0;
  int absent = bddvarnum - set_size(varset);
  double size = bdd_satcount(r) / pow(2.0, (double)absent);
  return size >= 1.0 ? size : 1.0;
}

double bdd_satcountln(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  miscid = 3;
  double d = satcountln_rec(r);
  if (d >= 0.0) d += LEVEL(r);
  return d;
}

double bdd_satcountlnset(BDD r, BDD varset) {
  if (bdd_checkroot(r) < 0 || check_set(varset) < 0) return 0.0;
  if (varset < 2) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  int absent = bddvarnum - set_size(varset);
  double size = bdd_satcountln(r) - absent;
  return size >= 0.0 ? size : 0.0;
}

int bdd_nodecount(BDD r) {
  int e = bdd_checkroot(r);
  if (e < 0) return e;
  int num = 0;
  bdd_markcount(r, &num);
  bdd_unmark(r);
  return num;
}

int bdd_anodecount(BDD *r, int num) {
  /* Roots outside the table are refused rather than walked. */
  for (int n = 0; n < num; n++)
    if (check_set(r[n]) < 0) return BDD_ERR_ILLBDD;
  int cou = 0;
  for (int n = 0; n < num; n++) bdd_markcount(r[n], &cou);
  for (int n = 0; n < num; n++) bdd_unmark(r[n]);
  return cou;
}

double bdd_pathcount(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  miscid = 4;
  return pathcount_rec(r);
}

int *bdd_varprofile(BDD r) {
  if (bdd_checkroot(r) < 0) return NULL;
  varprofile = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
  if (varprofile == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  memset(varprofile, 0, sizeof(int) * (size_t)bddvarnum);
  varprofile_rec(r);
  bdd_unmark(r);
  int *res = varprofile;
  varprofile = NULL;
  return res;
}

}  // extern "C"

/* ==== registration with the kernel ======================================== */

static void operators_follow_varnum(int oldnum, int num) {
  (void)oldnum;
  (void)num;
  bdd_operator_varresize();
}

HOOK_REGISTRAR(operators) {
  static KernelHooks hooks;
  hooks.prepare = bdd_operator_init;
  hooks.release = bdd_operator_done;
  hooks.forget = bdd_operator_reset;
  hooks.grown = operator_follow_growth;
  hooks.varnum = operators_follow_varnum;
  kernel_register(HOOK_RANK_OPERATORS, &hooks);
}

/* ==== end of the registration ============================================= */
