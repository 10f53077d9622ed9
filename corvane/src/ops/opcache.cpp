/* The operator caches over the engine's life: lazy creation, growth with the
 * node table, reset, release; and the operator module's start-up,
 * shut-down and variable-count entries. */
#include <stdlib.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif
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

/* Returns a table's block to where it came from. */
static void block_free(void *block, size_t mapped) {
#if defined(__linux__)
  if (mapped) {
    munmap(block, mapped);
    return;
  }
#endif
  (void)mapped;
  free(block);
}

static void opcache_free(OpCache *oc) {
  block_free(oc->block, oc->mapped);
  oc->block = NULL;
  oc->mapped = 0;
  oc->table = NULL;
  oc->tablesize = 0;
  renew_slotmod(oc);
}

/* Tables of at least half this size start on a large-page boundary and
 * their blocks reach to the end of the table's last large page, so that all
 * of them can be mapped with large pages.  Slots are hashed over the whole
 * table, so even a short run touches most of its pages: a table of 4 MB
 * cut at its last whole large page left 1.9 MB in small pages, about 480
 * faults of some 10 us each on its first use, where two large pages are
 * cleared in about 0.3 ms.  Past the table the block is only address
 * space; the rounding may make up to one large page resident more.
 * Where the system has anonymous mappings such a block is one of its own,
 * zero without being cleared: once an engine has freed its tables, malloc
 * serves blocks of this size from its heap, where calloc clears them
 * before the advice is given, in small pages (a c1355 build after c432
 * and c499 in one process: 1,100 to 1,400 faults, against 7). */
static const size_t LARGE_PAGE = (size_t)2 << 20;

/* A zeroed block of the given size: a mapping of its own (its length in
 * *mapped) when own is asked for and the system has them, else from
 * calloc (*mapped 0). */
static void *block_alloc(size_t bytes, bool own, size_t *mapped) {
  *mapped = 0;
#if defined(__linux__)
  if (own) {
    void *m = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return NULL;
    *mapped = bytes;
    return m;
  }
#endif
  (void)own;
  return calloc(1, bytes);
}

/* A zeroed (so empty) table of n entries of the given size in a new block
 * with address space for `reserve` (at least n) of them; NULL when the
 * memory cannot be had. */
static void *table_alloc(unsigned n, size_t entry, void **block, size_t *mapped, unsigned reserve) {
  const size_t bytes = (size_t)(reserve > n ? reserve : n) * entry;
  const bool large = bytes >= LARGE_PAGE / 2;
  const size_t span = large ? (bytes + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1) : bytes;
  const size_t pad = large ? LARGE_PAGE : 0;
  *block = NULL;
  *mapped = 0;
  if (bddcache_failafter < 0 || bddcache_failafter-- != 0) *block = block_alloc(span + pad, large, mapped);
  if (*block == NULL) return NULL;
  char *table = (char *)*block;
  if (large) {
    table = (char *)(((uintptr_t)*block + pad - 1) & ~(uintptr_t)(pad - 1));
    advise_large_pages(table, span);
  }
  return table;
}

static void opcache_take(OpCache *oc, void *block, size_t mapped, void *table, unsigned n) {
  oc->block = block;
  oc->mapped = mapped;
  oc->table = table;
  oc->tablesize = (int)n;
  renew_slotmod(oc);
}

/* Gives oc a fresh, empty table of n entries of the given size (in a block
 * with address space for `reserve` of them). */
static int opcache_alloc(OpCache *oc, unsigned n, size_t entry, unsigned reserve = 0) {
  opcache_free(oc);
  void *block;
  size_t mapped;
  void *table = table_alloc(n, entry, &block, &mapped, reserve);
  if (table == NULL) return bdd_error(BDD_ERR_MEMORY);
  opcache_take(oc, block, mapped, table, n);
  return 0;
}

/* Room in oc's block from its table on, in bytes; 0 for a block from malloc. */
static size_t room(const OpCache *oc) {
  return oc->mapped ? (size_t)((char *)oc->block + oc->mapped - (char *)oc->table) : 0;
}

/* Rebuilds the shared table for the sizes of the binary caches that exist
 * (a nonzero tablesize); its contents are dropped.  Except when the second
 * of them is created (`created`): a table of its own mapping made for one
 * of them has address space for both, and grows in place keeping its
 * entries (misplaced, never wrong: a lookup compares the whole key; and
 * past its old end the table was never written), where a new table would
 * have its large pages cleared once more (c499's first build: 7 large-page
 * faults -> 6; at most the first table's pages are saved). */
static int binpool_rebuild(bool created = false) {
  const unsigned sum = (unsigned)andcache.tablesize + (unsigned)orcache.tablesize;
  const unsigned n = sum == 0 ? 0 : prime_gte_quiet(sum);
  const bool one = andcache.tablesize == 0 || orcache.tablesize == 0;
  int err = 0;
  if (created && binpool.table != NULL && n >= (unsigned)binpool.tablesize &&
      room(&binpool) >= (size_t)n * sizeof(BddCacheData3)) {
    binpool.tablesize = (int)n;
    renew_slotmod(&binpool);
  } else if (sum != 0) {
    err = opcache_alloc(&binpool, n, sizeof(BddCacheData3), one ? prime_gte_quiet(2 * sum) : 0);
  }
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
static int opcache_init_rounded(BddCache *c, unsigned n, bool created = false) {
  if (is_bin(c)) {
    c->tablesize = (int)n;
    return binpool_rebuild(created);
  }
  return opcache_alloc(static_cast<OpCache *>(c), n,
                       fourword[cache_index(c)] ? sizeof(BddCacheData4) : sizeof(BddCacheData3));
}

template <typename Entry>
static void clear_first_words(BddCache *c) {
  Entry *t = (Entry *)c->table;
  for (int i = 0; i < c->tablesize; i++) t[i].a = 0;
}

/* Empties a table of its own mapping by dropping its pages, which then
 * read as zeros; false where that cannot be done. */
static bool drop_pages(const OpCache *oc) {
#if defined(__linux__) && defined(MADV_DONTNEED)
  return oc->mapped != 0 && madvise(oc->block, oc->mapped, MADV_DONTNEED) == 0;
#else
  (void)oc;
  return false;
#endif
}

static void opcache_reset(BddCache *c) {
  if (c->table == NULL) return;
  /* At shut-down the tables are released right after: dropping their pages
   * spares the pass over them and the clearing of pages never touched
   * (bdd_done after a c432 build: 0.64 ms -> 0.45 ms). */
  if (kernel_stopping && drop_pages(is_bin(c) ? &binpool : static_cast<OpCache *>(c))) return;
  if (is_bin(c)) clear_first_words<BddCacheData3>(&binpool);
  else if (fourword[cache_index(c)]) clear_first_words<BddCacheData4>(c);
  else clear_first_words<BddCacheData3>(c);
}

int cache_create(BddCache *c) { return opcache_init_rounded(c, rounded_size(cachesize), true); }

/* Replaces oc's table by an empty one of n entries, the old one going only
 * once the new one exists; false (old table kept) when it cannot be had. */
static bool opcache_regrow(OpCache *oc, unsigned n, size_t entry) {
  void *block;
  size_t mapped;
  void *table = table_alloc(n, entry, &block, &mapped, n);
  if (table == NULL) return false;
  block_free(oc->block, oc->mapped);
  opcache_take(oc, block, mapped, table, n);
  return true;
}

extern "C" {

int bdd_operator_init(int size) {
  cachesize = size;
  cacheratio = 0;
  quant_scratch_init();
  support_scratch_init();
  replace_memo_start();
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
      if (c->table != NULL) opcache_take(c, NULL, 0, binpool.table, n);
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

