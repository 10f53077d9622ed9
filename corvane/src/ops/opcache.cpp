/* The operator caches over the engine's life: lazy creation, growth with the
 * node table, reset, release; and the operator module's start-up,
 * shut-down and variable-count entries. */
#include <stdlib.h>
#include "opcache.h"

OpCache applycache;
OpCache itecache;
OpCache quantcache;
OpCache appexcache;
OpCache replacecache;
OpCache composecache;
OpCache rescache;
OpCache misccache;
OpCache andcache;
OpCache orcache;

enum { NCACHES = 10 };
static BddCache *const caches[NCACHES] = {&applycache,   &itecache,     &quantcache, &appexcache,
                                          &replacecache, &composecache, &rescache,   &misccache,
                                          &andcache,     &orcache};
static const bool fourword[NCACHES] = {true, true, false, true, false,
                                       true, true, true,  false, false};

static int cachesize;
static int cacheratio;

/* Allocation failure injection for tests, as bddcache_failafter. */
int bddoperator_failafter = -1;

void *op_alloc(size_t bytes) {
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
 * sizes, by which the shared table is sized, and point into it. */
OpCache binpool;

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

/* Creates (or recreates, dropping the contents) cache c with room for n
 * entries, n already rounded to a prime as the cache records do. */
static int opcache_init_rounded(BddCache *c, unsigned n) {
  if (is_bin(c)) {
    c->tablesize = (int)n;
    return binpool_rebuild();
  }
  return opcache_alloc(static_cast<OpCache *>(c), n,
                       fourword[cache_index(c)] ? sizeof(BddCacheData4) : sizeof(BddCacheData3));
}

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

int cache_create(BddCache *c) { return opcache_init_rounded(c, rounded_size(cachesize)); }

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

extern "C" {

int bdd_operator_init(int size) {
  cachesize = size;
  cacheratio = 0;
  quant_scratch_init();
  support_scratch_init();
  replace_memo_forget();
  return 0;
}

void bdd_operator_done(void) {
  quant_scratch_done();
  for (int i = 0; i < NCACHES; i++)
    if (caches[i]->table != NULL) opcache_done(caches[i]);
  support_scratch_done();
}

void bdd_operator_reset(void) {
  replace_memo_forget();
  for (int i = 0; i < NCACHES; i++)
    if (caches[i] != &orcache || andcache.table == NULL) opcache_reset(caches[i]);
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
  quant_scratch_varresize();
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

