/** @file
 * Direct-mapped result caches, for operations that callers build on the engine.
 *
 * Empty entries. One rule holds here and in the engine's own operator caches: an entry is
 * empty when its first key word a is -1, which no node index equals. These functions keep the
 * words as the caller writes them, so every entry of a new, resized or reset cache has
 * a = -1. The engine's caches keep a complemented (~a), so there the empty entry is all
 * zeros, and a new table is empty as the allocator hands it over.
 *
 * Why the engine does not use these functions: the caller reads and writes the entries of
 * @c table directly, so the entry layout and the stored a are a contract; the engine wants the
 * complemented key, a slot divisor kept with each cache, and one table shared by conjunction
 * and disjunction, none of which fits the public record. */
#ifndef CORVANE_CACHE_H
#define CORVANE_CACHE_H

#ifdef __cplusplus
extern "C" {
#endif

/** Three-word cache entry; a = -1 marks it empty (see above). */
typedef struct s_BddCacheData3 {
  int a, b, res;
} BddCacheData3;

/** Four-word cache entry; a = -1 marks it empty (see above). */
typedef struct s_BddCacheData4 {
  int a, b, c, res;
} BddCacheData4;

/** A direct-mapped operator cache. */
typedef struct s_BddCache {
  void *table;
  int tablesize;
} BddCache;

/** Creates @p cache with a prime number of three-word entries, at least @p size, all empty.
 * Returns 0 or BDD_ERR_MEMORY. */
int BddCache3_init(BddCache *cache, int size);
/** Frees the table of @p cache and marks it not created. */
void BddCache3_done(BddCache *cache);
/** Drops the contents of @p cache and recreates it with at least @p newsize entries. Returns 0
 * or BDD_ERR_MEMORY (the old table is gone then). */
int BddCache3_resize(BddCache *cache, int newsize);
/** Empties every entry of @p cache, keeping its size. */
void BddCache3_reset(BddCache *cache);
/** As BddCache3_init, for four-word entries. */
int BddCache4_init(BddCache *cache, int size);
/** As BddCache3_done, for four-word entries. */
void BddCache4_done(BddCache *cache);
/** As BddCache3_resize, for four-word entries. */
int BddCache4_resize(BddCache *cache, int newsize);
/** As BddCache3_reset, for four-word entries. */
void BddCache4_reset(BddCache *cache);

#ifdef __cplusplus
}
#endif

#endif
