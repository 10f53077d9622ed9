// The division-free remainder behind unique-table and cache slots, and the
// node table it drives: node creation and collection must pick exactly the
// buckets, slots and free-list order that plain remainders give.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "src/internal.h"
#include "kernel_model.h"
#include "support.h"

namespace {

std::vector<unsigned> dividends_for(unsigned d, std::mt19937 &rng) {
  std::vector<unsigned> v = {0u,          1u,          2u,          d - 1u,     d,
                             d + 1u,      2u * d - 1u, 2u * d,      0x7FFFFFFFu, 0x80000000u,
                             0x80000001u, UINT_MAX - 1u, UINT_MAX};
  // The largest multiples of d and their neighbours, where rounding errors
  // of a reciprocal would show first.
  unsigned top = UINT_MAX / d * d;
  v.push_back(top);
  v.push_back(top - 1u);
  if (top != UINT_MAX) v.push_back(top + 1u);
  for (unsigned k = 1; k < 40; k++) {
    unsigned long long m = (unsigned long long)d * (UINT_MAX / d / k);
    v.push_back((unsigned)m);
    v.push_back((unsigned)m - 1u);
  }
  std::uniform_int_distribution<unsigned> any(0, UINT_MAX);
  for (int k = 0; k < 3000; k++) v.push_back(any(rng));
  return v;
}

void expect_exact(unsigned d, std::mt19937 &rng) {
  const FastMod f = FASTMOD_FOR(d);
  int wrong = 0;
  for (unsigned a : dividends_for(d, rng)) {
    if (FASTMOD(a, f) != a % d && wrong++ < 5)
      ADD_FAILURE() << a << " mod " << d << ": " << FASTMOD(a, f) << " instead of " << a % d;
  }
}

TEST(FastMod, MatchesRemainderForManyDivisors) {
  std::mt19937 rng(12345);
  std::vector<unsigned> divisors = {1u, 2u, 3u, 4u, 5u, 7u, 11u, 13u, 1009u, 65521u, 65536u, 65537u,
                                    0x7FFFFFFFu, 0x80000000u, 0x80000001u, UINT_MAX - 4u,
                                    UINT_MAX - 1u, UINT_MAX};
  // Every prime a table can get: small ones and those around 2^27, the
  // node-table limit.
  for (unsigned p = 3; p < 2000; p = bdd_prime_gte(p + 1)) divisors.push_back(p);
  unsigned lo = 1u << 27, hi = 1u << 27;
  for (int k = 0; k < 40; k++) {
    lo = bdd_prime_lte(lo - 1);
    hi = bdd_prime_gte(hi + 1);
    divisors.push_back(lo);
    divisors.push_back(hi);
  }
  std::uniform_int_distribution<unsigned> any(1, UINT_MAX);
  for (int k = 0; k < 200; k++) divisors.push_back(any(rng));
  for (unsigned d : divisors) expect_exact(d, rng);
}

TEST(FastMod, ExhaustiveForSmallDivisorsOverLowDividends) {
  for (unsigned d = 1; d <= 64; d++) {
    const FastMod f = FASTMOD_FOR(d);
    for (unsigned a = 0; a < 100000; a++) ASSERT_EQ(FASTMOD(a, f), a % d) << a << " mod " << d;
  }
}

// ---- the node table against a straightforward model --------------------

// Node table model written from the layout alone: remainder buckets, new
// nodes at the front of their chain, the free list taken from its head,
// and a collection that frees downwards so the list ends up ascending.
struct Model {
  std::vector<BddNode> t;
  int freepos, freenum;

  static unsigned rc(const BddNode &b) { return ((b.word1 >> 28) << 5) | (b.word0 >> 27); }
  static void setrc(BddNode &b, unsigned r) {
    b.word0 = (b.word0 & 0x07FFFFFFu) | ((r & 31u) << 27);
    b.word1 = (b.word1 & 0x0FFFFFFFu) | ((r >> 5) << 28);
  }
  unsigned bucket(unsigned level, int lo, int hi) const {
    return km::bucket_of(level, lo, hi);
  }
  unsigned level(int n) const { return (t[n].word2 >> 27) | ((t[n].word3 >> 27) << 5); }
  int low(int n) const { return (int)(t[n].word2 & 0x07FFFFFFu); }
  int high(int n) const { return (int)(t[n].word3 & 0x07FFFFFFu); }
  bool isfree(int n) const { return low(n) == 0x07FFFFFF; }

  int make(unsigned lev, int lo, int hi) {
    if (lo == hi) return lo;
    unsigned w2 = (lev << 27) | (unsigned)lo, w3 = ((lev >> 5) << 27) | (unsigned)hi;
    unsigned b = bucket(lev, lo, hi);
    for (int r = (int)(t[b].word0 & 0x07FFFFFFu); r != 0; r = (int)(t[r].word1 & 0x07FFFFFFu))
      if (t[r].word2 == w2 && t[r].word3 == w3) return r;
    if (freepos == 0) {
      collect();
      // The engine would grow the table here (minfreenodes is 0).
      if (freenum * 100 / (int)t.size() <= 0) return -1;
    }
    int r = freepos;
    freepos = (int)(t[r].word1 & 0x07FFFFFFu);
    freenum--;
    t[r].word1 = t[b].word0 & 0x07FFFFFFu;
    t[r].word2 = w2;
    t[r].word3 = w3;
    t[b].word0 = (t[b].word0 & ~0x07FFFFFFu) | (unsigned)r;
    return r;
  }

  void mark(int n, std::vector<char> &m) {
    if (n < 2 || m[n] || isfree(n)) return;
    m[n] = 1;
    mark(low(n), m);
    mark(high(n), m);
  }

  void collect() {
    const int size = (int)t.size();
    std::vector<char> m(t.size(), 0);
    for (int n = 0; n < size; n++)
      if (rc(t[n]) != 0) mark(n, m);
    for (int n = 0; n < size; n++) t[n].word0 &= ~0x07FFFFFFu;
    freepos = 0;
    freenum = 0;
    for (int n = size - 1; n >= 2; n--) {
      if (m[n]) {
        unsigned b = bucket(level(n), low(n), high(n));
        t[n].word1 = (t[n].word1 & 0xF0000000u) | (t[b].word0 & 0x07FFFFFFu);
        t[b].word0 = (t[b].word0 & ~0x07FFFFFFu) | (unsigned)n;
      } else {
        t[n].word2 = 0x07FFFFFFu;
        t[n].word1 = (unsigned)freepos;
        freepos = n;
        freenum++;
      }
    }
  }
};

int gbcollectnum_of() {
  KernelStats s;
  bdd_stats(&s);
  return s.gbcollectnum;
}

::testing::AssertionResult same_table(const Model &m) {
  if ((int)m.t.size() != bddnodesize) return ::testing::AssertionFailure() << "size differs";
  if (m.freepos != bddfreepos || m.freenum != bddfreenum)
    return ::testing::AssertionFailure() << "free list head/count " << bddfreepos << "/" << bddfreenum
                                         << ", model " << m.freepos << "/" << m.freenum;
  for (int n = 0; n < bddnodesize; n++) {
    const BddNode &a = bddnodes[n], &b = m.t[(size_t)n];
    if (a.word0 != b.word0 || a.word1 != b.word1 || a.word2 != b.word2 || a.word3 != b.word3)
      return ::testing::AssertionFailure() << "slot " << n << " differs";
  }
  return ::testing::AssertionSuccess();
}

// Random creations, references and collections (explicit ones and those
// forced by an exhausted free list) on a table that never has to grow:
// every returned index and, after every step, every word of the table must
// be the model's.
TEST(FastModTable, CreationAndCollectionMatchModel) {
  for (int nodes : {101, 1009, 4099}) {
    start_engine(nodes, 100, 12);
    bdd_setminfreenodes(0);
    Model m;
    m.t.assign(bddnodes, bddnodes + bddnodesize);
    m.freepos = bddfreepos;
    m.freenum = bddfreenum;
    ASSERT_TRUE(same_table(m));

    std::mt19937 rng((unsigned)nodes);
    std::vector<int> pool = {0, 1};
    std::vector<int> held;
    int collections = 0, made = 0;
    for (int step = 0; step < 20000; step++) {
      int what = (int)(rng() % 100);
      if (what < 85) {
        unsigned lev = rng() % 12;
        int lo = pool[rng() % pool.size()], hi = pool[rng() % pool.size()];
        if (lo > 1 && (m.isfree(lo) || m.level(lo) <= lev)) continue;
        if (hi > 1 && (m.isfree(hi) || m.level(hi) <= lev)) continue;
        int before = gbcollectnum_of();
        int want = m.make(lev, lo, hi);
        if (want < 0) break;  // the table is full of referenced nodes
        int got = bdd_makenode(lev, lo, hi);
        ASSERT_EQ(got, want) << "step " << step;
        collections += gbcollectnum_of() - before;
        made++;
        if (got > 1) pool.push_back(got);
      } else if (what < 93 && pool.size() > 2 && held.size() < 8) {
        int n = pool[rng() % pool.size()];
        if (n < 2 || m.isfree(n)) continue;
        bdd_addref(n);
        // Counts saturate: the variable nodes keep theirs for good.
        unsigned r = Model::rc(m.t[(size_t)n]);
        if (r < MAX_REFCOUNT) Model::setrc(m.t[(size_t)n], r + 1);
        held.push_back(n);
      } else if (what < 98 && !held.empty()) {
        size_t k = rng() % held.size();
        int n = held[k];
        held.erase(held.begin() + (long)k);
        bdd_delref(n);
        unsigned r = Model::rc(m.t[(size_t)n]);
        if (r != MAX_REFCOUNT) Model::setrc(m.t[(size_t)n], r - 1);
      } else {
        bdd_gbc();
        m.collect();
        collections++;
      }
      ASSERT_TRUE(same_table(m)) << "step " << step;
      // Dead pool entries would be resurrected as children: keep live ones.
      if (collections > 0 && step % 50 == 0) {
        std::vector<int> live;
        for (int n : pool)
          if (n < 2 || !m.isfree(n)) live.push_back(n);
        pool.swap(live);
      }
    }
    EXPECT_GT(collections, 2);
    EXPECT_GT(made, 1000);
    EXPECT_EQ(bdd_getallocnum(), (int)m.t.size());
    EXPECT_EQ(km::table_fault(), "");
    bdd_done();
  }
}

// Every filled entry of the apply, and and or caches sits in the slot that
// the plain remainder of its key's hash gives, also after the node table
// (and with it every cache) has grown several times.
TEST(FastModCache, EntriesSitInRemainderSlots) {
  enum { APPLY = 0, SHARED = 10 };
  start_engine(500, 100, 14);
  bdd_setcacheratio(3);
  const int initial = bdd_getallocnum();
  std::mt19937 rng(99);
  std::vector<BDD> pool;
  for (int v = 0; v < 14; v++) pool.push_back(bdd_addref(bdd_ithvar(v)));
  const int ops[] = {OP_AND, OP_OR, OP_XOR, OP_IMP, OP_BIIMP, OP_NAND, OP_DIFF};
  int checked3 = 0, checked4 = 0;
  for (int round = 0; round < 400; round++) {
    BDD a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
    BDD r = round % 7 == 6 ? bdd_not(a) : bdd_apply(a, b, ops[rng() % 7]);
    ASSERT_GE(r, 0);
    if (pool.size() < 60) pool.push_back(bdd_addref(r));
    else {
      size_t k = rng() % pool.size();
      bdd_delref(pool[k]);
      pool[k] = bdd_addref(r);
    }
    // Conjunction and disjunction share one table; a disjunction entry has
    // bit 27 set in its (complemented) first key word.
    {
      const BddCache *c = bdd_operator_cache(SHARED);
      if (c->table != nullptr) {
        const BddCacheData3 *t = (const BddCacheData3 *)c->table;
        for (int k = 0; k < c->tablesize; k++) {
          if (t[k].a == 0) continue;
          const unsigned l = (unsigned)~t[k].a & INDEX_MASK;
          ASSERT_EQ(PAIR(l, (unsigned)t[k].b) % (unsigned)c->tablesize, (unsigned)k) << "round " << round;
          checked3++;
        }
      }
    }
    const BddCache *c = bdd_operator_cache(APPLY);
    if (c->table == nullptr) continue;
    const BddCacheData4 *t = (const BddCacheData4 *)c->table;
    for (int k = 0; k < c->tablesize; k++) {
      if (t[k].a == 0) continue;
      unsigned h = t[k].c == OP_NOT ? (unsigned)~t[k].a
                                    : TRIPLE((unsigned)~t[k].a, (unsigned)t[k].b, (unsigned)t[k].c);
      ASSERT_EQ(h % (unsigned)c->tablesize, (unsigned)k) << "apply cache round " << round;
      checked4++;
    }
  }
  EXPECT_GT(bdd_getallocnum(), 4 * initial);
  EXPECT_EQ(bdd_operator_cachesize(), bdd_getallocnum() / 3);
  EXPECT_GT(checked3, 1000);
  EXPECT_GT(checked4, 1000);
  bdd_done();
}

}  // namespace
