/* Direct-mapped operator result caches. */
#ifndef CORVANE_CACHE_H
#define CORVANE_CACHE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct s_BddCacheData3 {
  int a, b, res;
} BddCacheData3;

typedef struct s_BddCacheData4 {
  int a, b, c, res;
} BddCacheData4;

/* table points to BddCacheData3 or BddCacheData4 entries, by family. */
typedef struct s_BddCache {
  void *table;
  int tablesize;
} BddCache;

int BddCache3_init(BddCache *cache, int size);
void BddCache3_done(BddCache *cache);
int BddCache3_resize(BddCache *cache, int newsize);
void BddCache3_reset(BddCache *cache);
int BddCache4_init(BddCache *cache, int size);
void BddCache4_done(BddCache *cache);
int BddCache4_resize(BddCache *cache, int newsize);
void BddCache4_reset(BddCache *cache);

#ifdef __cplusplus
}
#endif

#endif
