/* Direct-mapped result caches with three- and four-word entries, for
 * callers' own operations.  Empty entries hold a = -1: the rule the
 * engine's operator caches share, there with a stored complemented (see
 * cache.h for the rule and for why the engine keeps its own tables). */
#include <stdlib.h>
#include "cache.h"
#include "cache_internal.h"
#include "kernel_internal.h"
#include "prime.h"

/* Allocation failure injection for tests: the allocation made when this
 * count reaches 0 fails; negative means never. */
int bddcache_failafter = -1;

static void *cache_alloc(size_t bytes) {
  if (bddcache_failafter >= 0) {
    if (bddcache_failafter-- == 0) return NULL;
  }
  /* Zeroed, so that words a lookup may compare before its tag rejects the
   * entry (the unwritten operand word of a negation entry) are defined. */
  return calloc(1, bytes);
}

/* Sizes below 3 would ask the prime rounding for a modulus it cannot
 * produce (and a later slot computation would divide by zero), so the
 * smallest cache has 3 entries. */
static unsigned cache_primesize(int size) {
  if (size < 3) size = 3;
  return bdd_prime_gte((unsigned)size);
}

template <typename Entry>
static int cache_init(BddCache *cache, int size) {
  unsigned n = cache_primesize(size);
  Entry *t = (Entry *)cache_alloc((size_t)n * sizeof(Entry));
  if (t == NULL) {
    cache->table = NULL;
    cache->tablesize = 0;
    return bdd_error(BDD_ERR_MEMORY);
  }
  advise_large_pages(t, (size_t)n * sizeof(Entry));
  for (unsigned i = 0; i < n; i++) t[i].a = -1;
  cache->table = t;
  cache->tablesize = (int)n;
  return 0;
}

template <typename Entry>
static void cache_reset(BddCache *cache) {
  Entry *t = (Entry *)cache->table;
  if (t == NULL) return;
  int n = cache->tablesize;
  for (int i = 0; i < n; i++) t[i].a = -1;
}

static void cache_done(BddCache *cache) {
  free(cache->table);
  cache->table = NULL;
  cache->tablesize = 0;
}

extern "C" {

int BddCache3_init(BddCache *cache, int size) { return cache_init<BddCacheData3>(cache, size); }
void BddCache3_done(BddCache *cache) { cache_done(cache); }
int BddCache3_resize(BddCache *cache, int newsize) {
  cache_done(cache);
  return cache_init<BddCacheData3>(cache, newsize);
}
void BddCache3_reset(BddCache *cache) { cache_reset<BddCacheData3>(cache); }

int BddCache4_init(BddCache *cache, int size) { return cache_init<BddCacheData4>(cache, size); }
void BddCache4_done(BddCache *cache) { cache_done(cache); }
int BddCache4_resize(BddCache *cache, int newsize) {
  cache_done(cache);
  return cache_init<BddCacheData4>(cache, newsize);
}
void BddCache4_reset(BddCache *cache) { cache_reset<BddCacheData4>(cache); }

}
