// Result caches: the record operations, lazy creation by the operators,
// sizing by ratio and on node-table growth, and emptying on collection.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "src/cache_internal.h"
#include "src/kernel_internal.h"
#include "src/operators_internal.h"
#include "oracle.h"
#include "support.h"

namespace {

enum { APPLY, ITE, QUANT, APPEX, REPLACE, COMPOSE, RES, MISC, AND, OR, SHARED };

// Every entry's first word is `key`: -1 marks an empty record; the
// operator caches keep that word complemented, so that zeroed memory is an
// empty cache and an empty entry starts with 0.
template <typename Entry>
bool all_keys(const BddCache *c, int key = -1) {
  const Entry *t = (const Entry *)c->table;
  for (int i = 0; i < c->tablesize; i++)
    if (t[i].a != key) return false;
  return true;
}

bool cache_empty(int i) {
  const BddCache *c = bdd_operator_cache(i);
  bool four = i != QUANT && i != REPLACE && i != AND && i != OR;
  return four ? all_keys<BddCacheData4>(c, 0) : all_keys<BddCacheData3>(c, 0);
}

// Both record shapes: sizes round up to a prime (3 below two), a reset
// clears only the first word of each entry, a resize empties the table
// and done leaves none.
template <typename Entry>
void record_life(int (*init)(BddCache *, int), void (*reset)(BddCache *),
                 int (*resize)(BddCache *, int), void (*done)(BddCache *)) {
  const int sizes[][2] = {{1000, 1009}, {250, 251}, {252, 257}, {2, 3}, {1, 3}, {0, 3}, {-100, 3}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(s[0]);
    BddCache c;
    ASSERT_EQ(init(&c, s[0]), 0);
    EXPECT_EQ(c.tablesize, s[1]);
    EXPECT_TRUE(all_keys<Entry>(&c));
    Entry *t = (Entry *)c.table;
    for (int i = 0; i < c.tablesize; i++) {
      memset(&t[i], 0x5a, sizeof t[i]);
      t[i].a = i;
    }
    reset(&c);
    EXPECT_TRUE(all_keys<Entry>(&c));
    EXPECT_EQ(t[2].res, 0x5a5a5a5a);
    ASSERT_EQ(resize(&c, s[0] / 2 + 500), 0);
    EXPECT_EQ(c.tablesize, (int)bdd_prime_gte(s[0] / 2 + 500));
    EXPECT_TRUE(all_keys<Entry>(&c));
    done(&c);
    EXPECT_EQ(c.table, nullptr);
    EXPECT_EQ(c.tablesize, 0);
  }
}

TEST(CacheRecord, InitResetResizeDone) {
  record_life<BddCacheData3>(BddCache3_init, BddCache3_reset, BddCache3_resize, BddCache3_done);
  record_life<BddCacheData4>(BddCache4_init, BddCache4_reset, BddCache4_resize, BddCache4_done);
}

TEST(CacheRecord, AllocationFailureRaisesAndLeavesNoTable) {
  start_engine(100, 10, 0);
  BddCache c;
  bddcache_failafter = 0;
  EXPECT_EQ(BddCache4_init(&c, 100), BDD_ERR_MEMORY);
  EXPECT_EQ(c.table, nullptr);
  EXPECT_EQ(c.tablesize, 0);
  ASSERT_EQ(BddCache3_init(&c, 100), 0);
  bddcache_failafter = 0;
  // A failed resize has already dropped the old table.
  EXPECT_EQ(BddCache3_resize(&c, 50), BDD_ERR_MEMORY);
  EXPECT_EQ(c.table, nullptr);
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_MEMORY, BDD_ERR_MEMORY}));
  BddCache3_done(&c);
  bdd_done();
}

class Caches : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(1000, 1000, 6); }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty());
    if (bdd_isrunning()) bdd_done();
  }
};

TEST_F(Caches, CreatedLazilyByTheirFirstUser) {
  for (int i = 0; i < 10; i++) EXPECT_EQ(bdd_operator_cache(i)->table, nullptr) << i;
  bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  EXPECT_EQ(bdd_operator_cache(AND)->tablesize, 1009);
  for (int i = 0; i < 10; i++)
    EXPECT_TRUE(i == AND || bdd_operator_cache(i)->table == nullptr) << i;
  bdd_satcountln(bdd_ithvar(2));
  EXPECT_NE(bdd_operator_cache(MISC)->table, nullptr);
  bdd_compose(bdd_ithvar(0), bdd_ithvar(1), 0);
  EXPECT_NE(bdd_operator_cache(APPLY)->table, nullptr);
  EXPECT_NE(bdd_operator_cache(ITE)->table, nullptr);
  EXPECT_NE(bdd_operator_cache(COMPOSE)->table, nullptr);
  EXPECT_EQ(bdd_operator_cache(REPLACE)->table, nullptr);
  // bdd_done releases them all; a new engine starts without caches.
  bdd_done();
  start_engine(1000, 500, 6);
  for (int i = 0; i < 10; i++) EXPECT_EQ(bdd_operator_cache(i)->table, nullptr) << i;
  bdd_or(bdd_ithvar(0), bdd_ithvar(1));
  EXPECT_EQ(bdd_operator_cache(OR)->tablesize, 503);
  // Conjunction and disjunction share one table with room for both.
  EXPECT_EQ(bdd_operator_cache(SHARED)->tablesize, 503);
  bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  EXPECT_EQ(bdd_operator_cache(AND)->tablesize, 503);
  EXPECT_EQ(bdd_operator_cache(SHARED)->tablesize, (int)bdd_prime_gte(503 + 503));
}

TEST_F(Caches, RatioResizesEveryCreatedCache) {
  bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  bdd_not(bdd_ithvar(2));
  EXPECT_EQ(bdd_setcacheratio(4), 0);
  EXPECT_EQ(bdd_operator_cachesize(), 252);
  EXPECT_EQ(bdd_operator_cache(AND)->tablesize, 257);
  EXPECT_EQ(bdd_operator_cache(APPLY)->tablesize, 257);
  EXPECT_TRUE(cache_empty(AND));
  EXPECT_EQ(bdd_operator_cache(ITE)->table, nullptr);
  // Caches created later take the new size.
  bdd_ite(bdd_ithvar(0), bdd_ithvar(1), bdd_ithvar(2));
  EXPECT_EQ(bdd_operator_cache(ITE)->tablesize, 257);
  EXPECT_EQ(bdd_setcacheratio(2), 4);
  EXPECT_EQ(bdd_operator_cache(ITE)->tablesize, 509);
  // A ratio larger than the table leaves three-entry caches, which collide
  // all the time; results stay right.
  bdd_setcacheratio(100000);
  EXPECT_EQ(bdd_operator_cachesize(), 0);
  EXPECT_EQ(bdd_operator_cache(AND)->tablesize, 3);
  std::mt19937 rng(3);
  for (int it = 0; it < 10; it++) {
    oracle::Formula f = oracle::random_formula(rng, 6, 6), g = oracle::random_formula(rng, 6, 6);
    BDD r = bdd_appex(f.bdd, g.bdd, OP_AND, bdd_ithvar(it % 6));
    EXPECT_EQ(oracle::tt_of(r, 6), oracle::tt_quant(oracle::tt_apply(f.tt, g.tt, 0), {it % 6}, 0));
    EXPECT_EQ(bdd_satcount(f.bdd), (double)f.tt.count());
    for (BDD x : {f.bdd, g.bdd}) bdd_delref(x);
  }
}

// Without a ratio the caches keep their size; with one they follow the
// table. Refused ratios leave the ratio alone; one set while stopped is
// not kept.
TEST(CacheGrowth, NoRatioKeepsSizesRatioFollowsTheTable) {
  int old = bdd_setcacheratio(5);
  EXPECT_EQ(bdd_setcacheratio(6), old) << "nothing stored while stopped";
  for (int ratio : {0, 2}) {
    start_engine(50, 40, 8);
    if (ratio) {
      EXPECT_EQ((std::vector<int>{bdd_setcacheratio(0), bdd_setcacheratio(-2)}), std::vector<int>(2, BDD_ERR_RANGE));
      EXPECT_EQ(recorded_errors, std::vector<int>(2, BDD_ERR_RANGE));
      recorded_errors.clear();
      EXPECT_EQ(bdd_setcacheratio(ratio), 0) << "bdd_init starts without a ratio";
    }
    bdd_and(bdd_ithvar(0), bdd_ithvar(1));
    int before = bdd_operator_cache(AND)->tablesize;
    int nodes = bddnodesize;
    std::mt19937 rng(11);
    std::vector<BDD> keep;
    while (bddnodesize < 4 * nodes) keep.push_back(oracle::random_formula(rng, 8, 6).bdd);
    EXPECT_EQ(bddresized, 0) << "cleared when the operator ended";
    if (ratio == 0) {
      EXPECT_EQ(bdd_operator_cache(AND)->tablesize, before);
    } else {
      EXPECT_EQ(bdd_operator_cachesize(), bddnodesize / ratio);
      EXPECT_EQ(bdd_operator_cache(AND)->tablesize, (int)bdd_prime_gte((unsigned)(bddnodesize / ratio)));
    }
    for (BDD b : keep) bdd_delref(b);
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
}

// Growth inside an operation gives the caches of the node-building
// recursions their new size at once; those recursions find their slot
// again afterwards, so results stay right and the sanitizer and valgrind
// runs see no write into a replaced table.
TEST(CacheGrowth, CachesFollowGrowthInsideAnOperation) {
  using namespace oracle;
  std::mt19937 rng(21);
  int grew = 0;
  for (int round = 0; round < 60; round++) {
    SCOPED_TRACE(round);
    start_engine(60, 20, 10);
    bdd_setcacheratio(2);
    const TT tf = tt_random(rng, 10), tg = tt_random(rng, 10), th = tt_random(rng, 10);
    const BDD f = bdd_of(tf), g = bdd_of(tg), h = bdd_of(th);
    // Few free slots left, and the collection they lead to grows the table.
    for (int k = 0; k < 100 && bddfreenum > 100; k++) bdd_delref(bdd_of(tt_random(rng, 10)));
    bdd_setminfreenodes(100);
    const int before = bddnodesize;
    BDD r = 0;
    switch (round % 6) {
      case 0: r = bdd_and(f, g); EXPECT_EQ(tt_of(r, 10), tt_apply(tf, tg, OP_AND)); break;
      case 1: r = bdd_or(f, g); EXPECT_EQ(tt_of(r, 10), tt_apply(tf, tg, OP_OR)); break;
      case 2: r = bdd_xor(f, g); EXPECT_EQ(tt_of(r, 10), tt_apply(tf, tg, OP_XOR)); break;
      case 3: r = bdd_not(f); EXPECT_EQ(tt_of(r, 10), tt_not(tf)); break;
      case 4: r = bdd_ite(f, g, h); EXPECT_EQ(tt_of(r, 10), tt_ite(tf, tg, th)); break;
      default:
        r = bdd_simplify(f, g);
        EXPECT_EQ(tt_apply(tt_of(r, 10), tg, OP_AND), tt_apply(tf, tg, OP_AND));
    }
    if (bddnodesize > before) grew++;
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
  EXPECT_GE(grew, 30) << "most operations grew the table";
}

TEST_F(Caches, CollectionAndClearErrorEmptyTheCaches) {
  BDD f = bdd_addref(bdd_and(bdd_ithvar(0), bdd_or(bdd_ithvar(1), bdd_ithvar(2))));
  BDD g = bdd_addref(bdd_xor(f, bdd_ithvar(3)));
  bdd_exist(g, bdd_ithvar(1));
  bdd_satcount(g);
  for (int i : {AND, QUANT, MISC}) EXPECT_FALSE(cache_empty(i)) << i;
  bdd_gbc();
  for (int i : {APPLY, QUANT, MISC, AND, OR}) EXPECT_TRUE(cache_empty(i)) << i;
  bdd_satcount(g);
  bdd_xor(g, bdd_ithvar(4));
  EXPECT_FALSE(cache_empty(MISC));
  bdd_clear_error();
  for (int i : {APPLY, MISC}) EXPECT_TRUE(cache_empty(i)) << i;
  // Growing the variable count empties the counting cache: its results
  // depend on the number of variables.
  double before = bdd_satcount(g);
  EXPECT_FALSE(cache_empty(MISC));
  bdd_setvarnum(8);
  EXPECT_TRUE(cache_empty(MISC));
  EXPECT_EQ(bdd_satcount(g), before * 4);
  for (BDD x : {f, g}) bdd_delref(x);
}

// Entries of the apply, and and or caches sit in the slot that the plain
// remainder of their key's hash gives, also after the node table (and with
// it every cache) has grown several times.
TEST(CacheGrowth, EntriesSitInRemainderSlots) {
  start_engine(500, 100, 14);
  bdd_setcacheratio(3);
  const int initial = bdd_getallocnum();
  std::mt19937 rng(99);
  std::vector<BDD> pool;
  for (int v = 0; v < 14; v++) pool.push_back(bdd_addref(bdd_ithvar(v)));
  const int ops[] = {OP_AND, OP_OR, OP_XOR, OP_IMP, OP_BIIMP, OP_NAND, OP_DIFF};
  int checked3 = 0, checked4 = 0;
  for (int round = 0; round < 400; round++) {
    SCOPED_TRACE(round);
    const BDD a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
    const int op = round % 7 == 6 ? OP_NOT : ops[rng() % 7];
    const int size_before = bddnodesize;
    const BDD r = op == OP_NOT ? bdd_not(a) : bdd_apply(a, b, op);
    ASSERT_GE(r, 0);
    if (pool.size() < 60) pool.push_back(bdd_addref(r));
    else {
      size_t k = rng() % pool.size();
      bdd_delref(pool[k]);
      pool[k] = bdd_addref(r);
    }
    // The operation's own entry, stored last, sits in the remainder slot of
    // its key for the table's size.  (A table replaced while the operation
    // ran holds that entry at the old slot number.)
    if (bddnodesize != size_before || a < 2 || (op != OP_NOT && (b < 2 || a == b))) continue;
    if (op == OP_AND || op == OP_OR) {
      // Conjunction and disjunction share one table; a disjunction entry
      // has bit 27 set in its (complemented) first key word.
      const BddCache *c = bdd_operator_cache(SHARED);
      const BddCacheData3 &e = ((const BddCacheData3 *)c->table)[PAIR(a, b) % (unsigned)c->tablesize];
      EXPECT_EQ(e.a, ~(op == OP_OR ? a | (1 << 27) : a));
      EXPECT_EQ(e.b, b);
      EXPECT_EQ(e.res, r);
      checked3++;
    } else {
      const BddCache *c = bdd_operator_cache(APPLY);
      const unsigned h = op == OP_NOT ? (unsigned)a : TRIPLE(a, b, op);
      const BddCacheData4 &e = ((const BddCacheData4 *)c->table)[h % (unsigned)c->tablesize];
      EXPECT_EQ(e.a, ~a);
      if (op != OP_NOT) {
        EXPECT_EQ(e.b, b);
      }
      EXPECT_EQ(e.c, op);
      EXPECT_EQ(e.res, r);
      checked4++;
    }
  }
  EXPECT_GT(bdd_getallocnum(), 4 * initial);
  EXPECT_EQ(bdd_operator_cachesize(), bdd_getallocnum() / 3);
  EXPECT_GT(checked3, 60);
  EXPECT_GT(checked4, 100);
  bdd_done();
}

#if defined(__linux__)
// Address ranges of this process's mappings, with whether each is advised
// for large pages.
struct Mapping {
  uintptr_t from, to;
  bool large;
};
std::vector<Mapping> mappings() {
  std::vector<Mapping> m;
  FILE *f = fopen("/proc/self/smaps", "r");
  if (f == nullptr) return m;
  char line[512];
  while (fgets(line, sizeof line, f)) {
    unsigned long a, b;
    char dash;
    if (sscanf(line, "%lx%c%lx ", &a, &dash, &b) == 3 && dash == '-') m.push_back({a, b, false});
    else if (!m.empty() && strncmp(line, "VmFlags:", 8) == 0) m.back().large = strstr(line, " hg") != nullptr;
  }
  fclose(f);
  return m;
}

// Bytes of [from, from + bytes) that are resident.
size_t resident(uintptr_t from, size_t bytes) {
  const size_t page = (size_t)sysconf(_SC_PAGESIZE);
  std::vector<unsigned char> in((bytes + page - 1) / page);
  if (mincore((void *)from, bytes, in.data()) != 0) return bytes;
  size_t n = 0;
  for (unsigned char c : in) n += c & 1;
  return n * page;
}

// Tables of a large engine, for a first and a second engine in the process.
// Slots are hashed over the whole table, so any part of a table in small
// pages costs a fault per page on its first use: a table of half a large
// page or more starts on a large-page boundary and lies, up to the end of
// its last large page, in memory advised for large pages, and nothing
// touches it before the advice (clearing included: after the first
// conjunction the only resident page is the one its entry went to).  The
// shared table made for conjunction alone grows in place when disjunction
// is first used, keeping the conjunctions' entries at their old slots:
// results stay right and the reported sizes are those of a table built for
// both.
TEST(CacheMemory, LargeTables) {
  using namespace oracle;
  const uintptr_t large = (uintptr_t)2 << 20;
  void *probe = mmap(nullptr, 2 * large, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(probe, MAP_FAILED);
  const bool advisable =
      madvise((void *)(((uintptr_t)probe + large - 1) & ~(large - 1)), large, MADV_HUGEPAGE) == 0;
  munmap(probe, 2 * large);
  std::mt19937 rng(5);
  for (int engine = 0; engine < 2; engine++) {
    SCOPED_TRACE(engine);
    start_engine(1000000, 1000, 10);
    bdd_setcacheratio(4);
    std::vector<TT> tts;
    std::vector<BDD> fs;
    for (int i = 0; i < 24; i++) {
      tts.push_back(tt_random(rng, 10));
      fs.push_back(bdd_of(tts.back()));
    }
    for (int round = 0; round < 2; round++) {
      for (size_t i = 0; i < fs.size(); i++)
        for (size_t j = 0; j < fs.size(); j += 3) {
          const int op = round == 0 || (i + j) % 2 ? OP_AND : OP_OR;
          ASSERT_EQ(tt_of(op == OP_AND ? bdd_and(fs[i], fs[j]) : bdd_or(fs[i], fs[j]), 10),
                    tt_apply(tts[i], tts[j], op))
              << round << " " << i << " " << j;
          if (round == 0 && i == 0 && j == 0) {
            const BddCache *c = bdd_operator_cache(SHARED);
            EXPECT_LE(resident((uintptr_t)c->table, (size_t)c->tablesize * sizeof(BddCacheData3)), large);
          }
        }
      const int n = bdd_operator_cache(AND)->tablesize;
      EXPECT_EQ(n, (int)bdd_prime_gte(bdd_getallocnum() / 4));
      EXPECT_EQ(bdd_operator_cache(OR)->tablesize, round == 0 ? 0 : n);
      EXPECT_EQ(bdd_operator_cache(SHARED)->tablesize, round == 0 ? n : (int)bdd_prime_gte(2 * (unsigned)n));
    }
    for (BDD f : fs) bdd_delref(f);
    // Ratio 4: 4 MB and 6 MB, each a little short of its last large page;
    // ratio 12: the apply table 1.3 MB, under one large page.
    for (int ratio : {4, 12}) {
      SCOPED_TRACE(ratio);
      bdd_setcacheratio(ratio);
      for (BDD r : {bdd_and(bdd_ithvar(0), bdd_ithvar(1)), bdd_or(bdd_ithvar(2), bdd_ithvar(3)),
                    bdd_xor(bdd_ithvar(0), bdd_ithvar(3))})
        EXPECT_GT(r, 1);
      if (!advisable) continue;  // no large-page advice on this system
      const std::vector<Mapping> maps = mappings();
      for (int i : {APPLY, SHARED}) {
        const BddCache *c = bdd_operator_cache(i);
        const size_t bytes = (size_t)c->tablesize * (i == APPLY ? sizeof(BddCacheData4) : sizeof(BddCacheData3));
        ASSERT_GE(bytes, large / 2) << i;
        const uintptr_t from = (uintptr_t)c->table, to = (from + bytes + large - 1) & ~(large - 1);
        EXPECT_EQ(from % large, 0u) << i;
        uintptr_t at = from;
        for (const Mapping &m : maps)
          if (m.from <= at && at < m.to && m.large) at = m.to;
        EXPECT_GE(at, to) << i << ": not advised from byte " << at - from << " of " << to - from;
      }
    }
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
}
#endif

}  // namespace
