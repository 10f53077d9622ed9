// Variable reordering: level exchanges, explicit orders, every strategy,
// automatic reordering inside operations, the controls and hooks, and the
// behaviour when the node table runs out in the middle of a run. Every
// handle must keep its function, checked against truth tables indexed by
// variable number.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "src/blocktree_internal.h"
#include "src/kernel_internal.h"
#include "src/reorder_internal.h"
#include "src/ops/protocol.h"
#include "oracle.h"
#include "support.h"

using oracle::Formula;
using oracle::TT;

namespace {

// ---- helpers ----------------------------------------------------------------

// Ordered and reduced below r, and no two reachable nodes alike.
void check_canonical(const std::vector<BDD> &roots) {
  std::set<BDD> seen;
  for (BDD r : roots) oracle::reachable(r, seen);
  std::set<std::tuple<int, int, int>> triples;
  for (BDD n : seen) {
    BDD lo = bdd_low(n), hi = bdd_high(n);
    ASSERT_NE(lo, hi) << "redundant node " << n;
    for (BDD c : {lo, hi})
      if (c > 1) {
        ASSERT_LT(bdd_var2level(bdd_var(n)), bdd_var2level(bdd_var(c))) << "order broken at " << n;
      }
    ASSERT_TRUE(triples.insert({bdd_var(n), lo, hi}).second) << "duplicate node " << n;
  }
}

struct Pool {
  std::vector<Formula> fs;
  void check(const char *when) const {
    for (size_t i = 0; i < fs.size(); i++)
      ASSERT_EQ(oracle::tt_of(fs[i].bdd, fs[i].tt.n), fs[i].tt) << "formula " << i << " " << when;
    std::vector<BDD> roots;
    for (const Formula &f : fs) roots.push_back(f.bdd);
    check_canonical(roots);
  }
  void release() {
    for (const Formula &f : fs) bdd_delref(f.bdd);
    fs.clear();
  }
};

Pool random_pool(std::mt19937 &rng, int n, int count, int depth) {
  Pool p;
  for (int i = 0; i < count; i++) p.fs.push_back(oracle::random_formula(rng, n, depth));
  return p;
}

// Variable i of one operand beside variable n + i of the other.
std::vector<int> interleaved_order(int n) {
  std::vector<int> order;
  for (int i = 0; i < n; i++) {
    order.push_back(i);
    order.push_back(n + i);
  }
  return order;
}

std::vector<int> identity_order(int vars) {
  std::vector<int> order(vars);
  std::iota(order.begin(), order.end(), 0);
  return order;
}

// The equality of the operands' bits, a = b, over bits a_i = var i and
// b_i = var n + i: exponential when all a's precede all b's, linear when
// the pairs are interleaved.
BDD equality(int n) {
  BDD r = bddtrue;
  for (int i = 0; i < n; i++) {
    BDD e = bdd_addref(bdd_biimp(bdd_ithvar(i), bdd_ithvar(n + i)));
    BDD t = bdd_addref(bdd_and(r, e));
    for (BDD x : {e, r}) bdd_delref(x);
    r = t;
  }
  return r;
}

// Checks f against a = b on all 2^(2n) assignments (too many variables
// for the table oracle).
bool is_equality(BDD f, int n) {
  unsigned mask = (1u << n) - 1;
  for (unsigned a = 0; a < (1u << (2 * n)); a++)
    if (oracle::bdd_eval(f, a) != ((a & mask) == ((a >> n) & mask))) return false;
  return true;
}

// The constants and both literals of variables from..to-1: children for
// filler nodes that no exchange above them can reuse.
std::vector<BDD> literals(int from, int to) {
  std::vector<BDD> deep{bddfalse, bddtrue};
  for (int v = from; v < to; v++) deep.insert(deep.end(), {bdd_ithvar(v), bdd_nithvar(v)});
  return deep;
}

// Referenced nodes on level lev, one over each ordered pair of distinct
// nodes of `below`, until two free slots are left.
std::vector<BDD> fill_level(unsigned lev, const std::vector<BDD> &below) {
  std::vector<BDD> made;
  for (size_t i = 0; i < below.size() && bddfreenum > 2; i++)
    for (size_t j = 0; j < below.size() && bddfreenum > 2; j++)
      if (i != j) made.push_back(bdd_addref(bdd_makenode(lev, below[i], below[j])));
  return made;
}

std::vector<int> list_ids(BddTree *t) {
  std::vector<int> ids;
  for (; t != nullptr; t = t->next) ids.push_back(t->id);
  return ids;
}

// Collections interleaved with the reorder hook's calls.
void rec_gbc(int pre, GbcStat *) { events.push_back(pre ? "G1" : "G0"); }

class Reorder : public ::testing::Test {
 protected:
  void TearDown() override {
    if (bdd_isrunning()) bdd_done();
    events.clear();
  }
};

// ---- level exchanges ----------------------------------------------------------

// Random swaps, each undone by its inverse, and random explicit orders:
// every function survives, the order is exactly the one asked for, and
// returning to an order returns to its node count.
TEST_F(Reorder, SwapsAndExplicitOrdersKeepFunctionsAndNodeCount) {
  std::mt19937 rng(11);
  start_engine(20000, 1000, 10);
  Pool p = random_pool(rng, 10, 25, 6);
  const int before = live_nodes();
  const std::vector<int> order0 = current_order();
  std::uniform_int_distribution<int> var(0, 9);
  for (int round = 0; round < 30; round++) {
    int x = var(rng), y = var(rng);
    int lx = bdd_var2level(x), ly = bdd_var2level(y);
    std::vector<int> o = current_order();
    ASSERT_EQ(bdd_swapvar(x, y), 0);
    std::swap(o[lx], o[ly]);
    ASSERT_EQ(current_order(), o) << "swap " << x << "," << y << " moved other variables";
    p.check("after swap");
    ASSERT_EQ(bdd_swapvar(y, x), 0);
    ASSERT_EQ(current_order(), order0);
    ASSERT_EQ(live_nodes(), before) << "swap and its inverse changed the live node count";
  }
  for (int round = 0; round < 10; round++) {
    std::vector<int> order = identity_order(10);
    std::shuffle(order.begin(), order.end(), rng);
    bdd_setvarorder(order.data());
    ASSERT_EQ(current_order(), order);
    for (int v = 0; v < 10; v++) ASSERT_EQ(bdd_level2var(bdd_var2level(v)), v);
    p.check("after setvarorder");
  }
  bdd_setvarorder(const_cast<int *>(order0.data()));
  EXPECT_EQ(live_nodes(), before);
  EXPECT_TRUE(recorded_errors.empty());
  p.release();
}

// Refused orders and swaps start no run and move nothing; a swap of the
// end variables moves only them; a repeated entry keeps its first place.
TEST_F(Reorder, SwapAndOrderArgumentsAtTheEdges) {
  start_engine(1000, 100, 4);
  bdd_reorder_hook(rec_reorder);
  int bad[4] = {3, 2, 4, 0}, neg[4] = {-1, 2, 1, 0}, dup[4] = {0, 2, 0, 1}, good[4] = {3, 2, 1, 0};
  bdd_setvarorder(bad);
  bdd_setvarorder(neg);
  EXPECT_EQ((std::vector<int>{bdd_swapvar(0, 4), bdd_swapvar(-1, 2)}), std::vector<int>(2, BDD_ERR_UNKNOWN_VAR));
  EXPECT_EQ(recorded_errors, std::vector<int>(4, BDD_ERR_UNKNOWN_VAR));
  EXPECT_EQ(current_order(), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(events.empty()) << "no run may start";
  recorded_errors.clear();
  ASSERT_EQ(bdd_swapvar(0, 3), 0);
  EXPECT_EQ(current_order(), (std::vector<int>{3, 1, 2, 0}));
  EXPECT_EQ((std::vector<int>{bdd_swapvar(2, 2), bdd_swapvar(77, 77)}), std::vector<int>(2, 0));
  bdd_setvarorder(dup);
  std::vector<int> o = current_order();
  EXPECT_EQ((std::vector<int>{o[0], o[1]}), (std::vector<int>{0, 2}));
  std::sort(o.begin(), o.end());
  EXPECT_EQ(o, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(recorded_errors.empty());

  o = current_order();
  ASSERT_EQ(bdd_intaddvarblock(2, 3, 0), 0);
  events.clear();
  bdd_setvarorder(good);
  EXPECT_EQ((std::vector<int>{bdd_swapvar(3, 3), bdd_swapvar(0, 1)}), std::vector<int>(2, BDD_ERR_VARBLOCK));
  EXPECT_EQ(recorded_errors, std::vector<int>(3, BDD_ERR_VARBLOCK));
  EXPECT_EQ(current_order(), o);
  EXPECT_TRUE(events.empty());
}

TEST_F(Reorder, IndependentVariablesSwapWithoutNodeWork) {
  start_engine(1000, 100, 4);
  BDD a = bdd_addref(bdd_and(bdd_ithvar(0), bdd_ithvar(1)));
  BDD b = bdd_addref(bdd_or(bdd_ithvar(2), bdd_ithvar(3)));
  BDD a_hi = bdd_high(a), b_lo = bdd_low(b);
  int produced_before = bddproduced;
  ASSERT_EQ(bdd_swapvar(1, 2), 0);
  EXPECT_EQ(bddproduced, produced_before) << "no node should be created";
  EXPECT_EQ(bdd_high(a), a_hi);
  EXPECT_EQ(bdd_low(b), b_lo);
  EXPECT_EQ(oracle::tt_of(a, 4), oracle::tt_apply(oracle::tt_var(4, 0), oracle::tt_var(4, 1), 0));
  for (BDD r : {a, b}) bdd_delref(r);
}

// ---- strategies ---------------------------------------------------------------------

class ReorderMethod : public Reorder, public ::testing::WithParamInterface<int> {};

TEST_P(ReorderMethod, PreservesFunctionsAndBlockStructure) {
  int method = GetParam();
  std::mt19937 rng(100 + method);
  start_engine(50000, 2000, 10);
  // Nested blocks: {0..3 not fixed: {0,1} {2,3}}, {4..5 fixed: {4} {5}},
  // singletons 6..9.
  const int blocks[][3] = {{0, 3, 0}, {0, 1, 0}, {2, 3, 0}, {4, 5, 1}, {4, 4, 1}, {5, 5, 1}};
  for (int i = 0; i < 6; i++)
    ASSERT_EQ(bdd_intaddvarblock(blocks[i][0], blocks[i][1], blocks[i][2]), i);
  for (int v = 6; v < 10; v++) bdd_intaddvarblock(v, v, 0);
  Pool p = random_pool(rng, 10, 30, 7);
  for (int round = 0; round < 4; round++) {
    bdd_reorder(method);
    SCOPED_TRACE("round " + std::to_string(round));
    p.check("after bdd_reorder");
    check_blocks(vartree);
    // The fixed block's children keep their order: 4 above 5.
    ASSERT_LT(bdd_var2level(4), bdd_var2level(5));
  }
  EXPECT_TRUE(recorded_errors.empty());
  p.release();
}

TEST_P(ReorderMethod, SingleBlockIsLeftAlone) {
  int method = GetParam();
  start_engine(1000, 100, 4);
  bdd_intaddvarblock(0, 3, 0);
  BDD f = bdd_addref(bdd_and(bdd_ithvar(3), bdd_ithvar(0)));
  bdd_reorder(method);
  EXPECT_EQ(current_order(), (std::vector<int>{0, 1, 2, 3}));
  ASSERT_NE(vartree, nullptr);
  EXPECT_EQ(vartree->next, nullptr);
  bdd_delref(f);
}

INSTANTIATE_TEST_SUITE_P(AllMethods, ReorderMethod, ::testing::Range(1, 8));

// ---- sifting against a plain reference ----------------------------------------------

// One sifting pass over blocks of consecutive levels (`units`, in level
// order), computed plainly: the size with a block on every place in turn,
// the others keeping their order, then the place the sweep rule picks: the
// blocks with most nodes first, each sweeping towards the nearer end and
// then the other way while within 20 % of the best size seen, and put on
// the first place reached with the smallest size.
void reference_sift_pass(std::vector<std::vector<int>> &units) {
  const int num = (int)units.size();
  auto place = [&](const std::vector<std::vector<int>> &list) {
    std::vector<int> o;
    for (const std::vector<int> &u : list) o.insert(o.end(), u.begin(), u.end());
    bdd_setvarorder(o.data());
    return bdd_getnodenum();
  };
  bdd_gbc();
  std::vector<int> count((size_t)bdd_varnum(), 0);
  for (int n = 2; n < bddnodesize; n++)
    if (!ISFREE(n)) count[(size_t)bddlevel2var[LEVEL(n)]]++;
  struct Weight {  // the engine's record layout, so qsort orders ties alike
    int weight;
    void *unit;
  };
  std::vector<Weight> w;
  for (const std::vector<int> &u : units) {
    int sum = 0;
    for (int v : u) sum -= count[(size_t)v];
    w.push_back({sum, (void *)&u});
  }
  qsort(w.data(), w.size(), sizeof(Weight), [](const void *a, const void *b) {
    int x = ((const Weight *)a)->weight, y = ((const Weight *)b)->weight;
    return x < y ? -1 : x > y ? 1 : 0;
  });
  std::vector<std::vector<int>> seq;
  for (const Weight &rec : w) seq.push_back(*(const std::vector<int> *)rec.unit);
  for (const std::vector<int> &u : seq) {
    int cur = (int)(std::find(units.begin(), units.end(), u) - units.begin());
    std::vector<std::vector<int>> rest = units;
    rest.erase(rest.begin() + cur);
    std::vector<int> sizes;
    for (int p = 0; p < num; p++) {
      std::vector<std::vector<int>> list = rest;
      list.insert(list.begin() + p, u);
      sizes.push_back(place(list));
    }
    int best = sizes[(size_t)cur], bestplace = cur;
    auto limit = [&] { return best + best / 5; };
    int dir = cur <= num / 2 ? -1 : 1;
    for (int sweep = 0; sweep < 2; sweep++, dir = -dir) {
      bool moved = false;
      while (cur + dir >= 0 && cur + dir < num && (sizes[(size_t)cur] <= limit() || !moved)) {
        moved = true;
        cur += dir;
        if (sizes[(size_t)cur] < best) {
          best = sizes[(size_t)cur];
          bestplace = cur;
        }
      }
    }
    units = rest;
    units.insert(units.begin() + bestplace, u);
    place(units);
  }
}

// Random functions beside a badly ordered equality, with blocks of one and
// of two variables: one sifting pass and iterated passes end on the
// reference's order and size.
TEST_F(Reorder, SiftingMatchesAReferenceThatTriesEveryPlace) {
  for (int seed = 1; seed <= 4; seed++)
    for (int method : {REORDER_SIFT, REORDER_SIFTITE}) {
      const int width = seed % 2 + 1;
      SCOPED_TRACE("seed " + std::to_string(seed) + " method " + std::to_string(method));
      std::vector<int> order[2];
      int size[2];
      for (int run = 0; run < 2; run++) {
        start_engine(50000, 2000, 12);
        std::mt19937 rng((unsigned)seed);
        Pool p = random_pool(rng, 10, 4 + 3 * seed, 6);
        BDD eq = equality(6);
        std::vector<std::vector<int>> units;
        for (int v = 0; v < 12; v += width) {
          units.push_back(width == 1 ? std::vector<int>{v} : std::vector<int>{v, v + 1});
          if (run == 1) bdd_intaddvarblock(v, v + width - 1, 0);
        }
        if (run == 0) {
          int last;
          do {
            last = bdd_getnodenum();
            reference_sift_pass(units);
          } while (method == REORDER_SIFTITE && bdd_getnodenum() != last);
        } else {
          bdd_reorder(method);
        }
        p.check("after sifting");
        ASSERT_TRUE(is_equality(eq, 6));
        order[run] = current_order();
        size[run] = live_nodes();
        bdd_delref(eq);
        p.release();
        bdd_done();
      }
      EXPECT_EQ(order[1], order[0]);
      EXPECT_EQ(size[1], size[0]);
      EXPECT_NE(order[0], identity_order(12));
    }
}

// Badly ordered the equality needs 3 * 2^n - 3 nodes, interleaved 3n.
// (A window of two only sinks the first block here: every exchange among
// the a's keeps the size.)
TEST_F(Reorder, StrategiesShrinkASeparatedEquality) {
  const int n = 8;
  for (int method : {REORDER_SIFT, REORDER_SIFTITE, REORDER_WIN3ITE}) {
    SCOPED_TRACE(method);
    start_engine(100000, 5000, 2 * n);
    BDD f = equality(n);
    EXPECT_EQ(bdd_nodecount(f), 3 * (1 << n) - 3);
    bdd_varblockall();
    bdd_reorder(method);
    EXPECT_TRUE(is_equality(f, n));
    if (method == REORDER_SIFT) {
      EXPECT_LE(bdd_nodecount(f), 3 * n + 2);
      EXPECT_GT(bdd_reorder_gain(), 80);
    }
    EXPECT_LT(bdd_nodecount(f), (3 * (1 << n) - 3) / 2);
    check_blocks(vartree);
    bdd_delref(f);
    bdd_done();
  }
}

TEST_F(Reorder, Win2MovesAnIndifferentBlockToTheEnd) {
  // With no nodes that depend on two variables every exchange keeps the
  // size, so the first block sinks to the bottom and the rest move up.
  start_engine(1000, 100, 4);
  bdd_varblockall();
  bdd_reorder(REORDER_WIN2);
  EXPECT_EQ(current_order(), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(list_ids(vartree), (std::vector<int>{1, 2, 3, 0}));
}

TEST_F(Reorder, FixedParentKeepsChildOrderButGrandchildrenMove) {
  const int n = 4;
  for (int method = 1; method <= 7; method++) {
    start_engine(50000, 1000, 2 * n + 2);
    // Fixed block 0..9 with children {0..7} (not fixed) and {8..9}.
    bdd_intaddvarblock(0, 2 * n + 1, 1);
    bdd_intaddvarblock(0, 2 * n - 1, 0);
    bdd_intaddvarblock(2 * n, 2 * n + 1, 0);
    for (int v = 0; v < 2 * n; v++) bdd_intaddvarblock(v, v, 0);
    BDD f = equality(n);
    int bad = bdd_nodecount(f);
    bdd_reorder(method);
    for (int v = 0; v < 2 * n; v++)
      ASSERT_LT(bdd_var2level(v), bdd_var2level(2 * n)) << "method " << method;
    check_blocks(vartree);
    if (method == REORDER_SIFT || method == REORDER_SIFTITE) {
      EXPECT_LT(bdd_nodecount(f), bad) << "grandchildren were not reordered";
    }
    bdd_delref(f);
    bdd_done();
  }
}

TEST_F(Reorder, NoBlocksOrUnknownMethodStillRunsButMovesNothing) {
  std::mt19937 rng(3);
  for (int method : {REORDER_SIFT, REORDER_WIN2, REORDER_RANDOM, 8, -1, 0}) {
    start_engine(10000, 1000, 6);
    if (method == 8 || method == -1 || method == 0) bdd_varblockall();
    bdd_reorder_hook(rec_reorder);
    bdd_gbc_hook(rec_gbc);
    Pool p = random_pool(rng, 6, 5, 5);
    events.clear();
    bdd_reorder(method);
    EXPECT_EQ(current_order(), (std::vector<int>{0, 1, 2, 3, 4, 5})) << "method " << method;
    EXPECT_EQ(events, (std::vector<std::string>{"R1", "G1", "G0", "R0"})) << "method " << method;
    p.check("after a run that moves nothing");
    p.release();
    bdd_done();
  }
}

// ---- external counts after a run ----------------------------------------------------

TEST_F(Reorder, RootsReleasedAfterReorderingAreCollected) {
  start_engine(10000, 1000, 8);
  int empty = live_nodes();
  // inner is a root and also a child of outer, so it gains references
  // from a live node during the run.
  BDD inner = bdd_addref(bdd_and(bdd_ithvar(6), bdd_ithvar(7)));
  BDD outer = bdd_addref(bdd_or(inner, bdd_and(bdd_ithvar(0), bdd_ithvar(3))));
  BDD other = bdd_addref(bdd_xor(inner, bdd_ithvar(2)));
  bdd_addref(inner);  // counts above one must not grow either
  std::set<BDD> below;
  oracle::reachable(outer, below);
  ASSERT_TRUE(below.count(inner));
  bdd_varblockall();
  for (int i = 0; i < 5; i++) bdd_reorder(i % 2 ? REORDER_SIFT : REORDER_RANDOM);
  bdd_clrvarblocks();
  for (int i = 0; i < 40; i++) ASSERT_EQ(bdd_swapvar(i % 8, (i + 3) % 8), 0);
  EXPECT_EQ(REFCOUNT(inner), 2u);
  EXPECT_EQ(REFCOUNT(outer), 1u);
  EXPECT_EQ(REFCOUNT(other), 1u);
  for (BDD x : {outer, other, inner, inner}) bdd_delref(x);
  EXPECT_EQ(live_nodes(), empty) << "a released root survived";
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- automatic reordering -----------------------------------------------------------

class AutoReorder : public Reorder, public ::testing::WithParamInterface<int> {};

TEST_P(AutoReorder, OperationsKeepTheirResultsWhileTheOrderChanges) {
  int method = GetParam();
  std::mt19937 rng(1000 + method);
  start_engine(400, 200, 10);
  bdd_intaddvarblock(0, 4, 0);
  bdd_intaddvarblock(0, 1, 0);
  bdd_intaddvarblock(2, 4, 0);
  bdd_intaddvarblock(5, 9, 0);
  for (int v = 5; v < 10; v++) bdd_intaddvarblock(v, v, 0);
  int runs = 0;
  bdd_reorder_hook([](int pre) { events.push_back(pre ? "R1" : "R0"); });
  bdd_autoreorder(method);
  Pool p = random_pool(rng, 10, 60, 7);
  for (const std::string &e : events) runs += e == "R1";
  EXPECT_GE(runs, 1) << "the threshold was never crossed";
  EXPECT_EQ(bdd_getreorder_times(), -1 - runs);
  p.check("after automatic reordering");
  check_blocks(vartree);
  EXPECT_TRUE(recorded_errors.empty());
  p.release();
}

INSTANTIATE_TEST_SUITE_P(SeveralMethods, AutoReorder,
                         ::testing::Values(REORDER_WIN2, REORDER_SIFT, REORDER_WIN3ITE,
                                           REORDER_RANDOM));

// Automatic runs need blocks, an enabled engine and a count left; a count
// of two allows exactly two runs.
TEST_F(Reorder, AutomaticRunsNeedBlocksAndStopAfterTheCount) {
  std::mt19937 rng(77);
  start_engine(300, 100, 10);
  bdd_varblockall();
  bdd_reorder_hook(rec_reorder);
  EXPECT_EQ(bdd_autoreorder_times(REORDER_SIFT, 2), REORDER_NONE);
  EXPECT_EQ(bdd_getreorder_method(), REORDER_SIFT);
  Pool p = random_pool(rng, 10, 80, 7);
  EXPECT_EQ(std::count(events.begin(), events.end(), "R1"), 2);
  EXPECT_EQ(bdd_getreorder_times(), 0);
  EXPECT_EQ(bdd_reorder_ready(), 0);
  p.check("after two automatic runs");
  p.release();

  events.clear();
  bdd_clrvarblocks();
  bdd_autoreorder(REORDER_SIFT);
  EXPECT_EQ(bdd_reorder_ready(), 0);
  p = random_pool(rng, 10, 80, 7);
  EXPECT_TRUE(events.empty());
  bdd_varblockall();
  EXPECT_EQ(bdd_reorder_ready(), 1);
  bdd_disable_reorder();
  bdd_disable_reorder();
  EXPECT_EQ(bdd_reorder_ready(), 0);
  bdd_enable_reorder();
  EXPECT_EQ(bdd_reorder_ready(), 1);
  bdd_autoreorder_times(REORDER_SIFT, 0);
  EXPECT_EQ(bdd_reorder_ready(), 0);
  EXPECT_EQ(bdd_reorder_auto(), 0);
  EXPECT_TRUE(events.empty());
  p.release();
}

// The engine's own suspensions put the previous state back: a suspension by
// the user outlives support, the satisfying assignments, new variables,
// duplication and an operation's retry after an automatic run (whose hook
// suspends reordering here); without one, reordering stays possible.
TEST_F(Reorder, EngineSuspensionsKeepTheUsersSwitch) {
  start_engine(300, 100, 10);
  bdd_varblockall();
  bdd_autoreorder(REORDER_SIFT);
  BDD f = bdd_addref(bdd_and(bdd_ithvar(1), bdd_nithvar(4)));
  int vars[2] = {0, 3};
  BDD set = bdd_addref(bdd_makeset(vars, 2));
  const std::vector<std::pair<const char *, std::function<void()>>> calls = {
      {"support", [&] { bdd_support(f); }},
      {"satone", [&] { bdd_satone(f); }},
      {"satoneset", [&] { bdd_satoneset(f, set, 1); }},
      {"fullsatone", [&] { bdd_fullsatone(f); }},
      {"setvarnum", [&] { bdd_setvarnum(bdd_varnum() + 1); }},
      {"setvarnum unchanged", [&] { bdd_setvarnum(bdd_varnum()); }},
      {"duplicatevar", [&] { bdd_duplicatevar(2); }},
  };
  for (const auto &call : calls) {
    bdd_disable_reorder();
    call.second();
    EXPECT_EQ(bdd_reorder_ready(), 0) << call.first << " lifted the user's suspension";
    bdd_enable_reorder();
    call.second();
    EXPECT_EQ(bdd_reorder_ready(), 1) << call.first << " left reordering suspended";
  }
  bdd_reorder_hook([](int pre) {
    events.push_back(pre ? "R1" : "R0");
    if (!pre) bdd_disable_reorder();
  });
  std::mt19937 rng(77);
  Pool p = random_pool(rng, 10, 80, 7);
  const auto runs = std::count(events.begin(), events.end(), "R1");
  ASSERT_GE(runs, 1) << "the threshold was never crossed";
  EXPECT_EQ(runs, 1) << "the retry lifted the hook's suspension";
  EXPECT_EQ(bdd_reorder_ready(), 0) << "the retry lifted the hook's suspension";
  p.check("after the retry");
  p.release();
}

// The protected run on its own, with a body that leaves by the restart
// jumps: the retry runs suspended, and every way out of it (result, second
// reordering jump, abandonment) puts back the state it found.
TEST_F(Reorder, ProtectedRunRestoresTheSuspensionOnEveryExit) {
  start_engine(1000, 100, 4);
  bdd_varblockall();
  bdd_autoreorder(REORDER_SIFT);
  const int second_exit[3] = {0, JUMP_REORDER, JUMP_ABANDON};
  const BDD result[3] = {1, 0, BDD_ERR_MEMORY};
  for (int way = 0; way < 3; way++)
    for (bool user_off : {false, true}) {
      if (user_off) bdd_disable_reorder();
      int calls = 0, ready_in_retry = -1;
      BDD r = run_protected(1, 0, 0, [&]() -> BDD {
        if (++calls == 1) longjmp(bddexception, JUMP_REORDER);
        ready_in_retry = bdd_reorder_ready();
        if (second_exit[way] != 0) longjmp(bddexception, second_exit[way]);
        return 1;
      });
      EXPECT_EQ(r, result[way]) << way;
      EXPECT_EQ(calls, 2) << way;
      EXPECT_EQ(ready_in_retry, 0) << way;
      EXPECT_EQ(jumparmed, 0) << way;
      EXPECT_EQ(bdd_reorder_ready(), user_off ? 0 : 1) << "exit " << way << ", user suspension " << user_off;
      bdd_enable_reorder();
    }
}

// A pass reports the nodes in use before and after it, and the gain sets
// the next threshold. Roots below other roots must each be walked once
// when the run counts references, or nodes under them outlive their last
// parent; after a run a root's children can have higher indices than the
// root, so later runs meet roots through other roots before their turn.
TEST_F(Reorder, GainThresholdAndPassFiguresMatchTheLiveCounts) {
  start_engine(100000, 1000, 16);
  BDD f = equality(8);  // badly ordered: sifting gains a lot
  BDD inner1 = bdd_addref(bdd_high(bdd_high(f)));
  BDD inner2 = bdd_addref(bdd_low(bdd_high(bdd_high(bdd_high(f)))));
  EXPECT_EQ(bdd_reorder_gain(), 0);
  // A run that moves nothing: its figures are the live count twice.
  bdd_reorder(REORDER_NONE);
  EXPECT_EQ(bdd_reorder_gain(), 0);
  const int before = bdd_getnodenum();
  EXPECT_EQ(live_nodes(), before);
  bdd_varblockall();
  bdd_autoreorder(REORDER_SIFT);
  bdd_checkreorder();
  int used = bdd_getnodenum();
  EXPECT_EQ(live_nodes(), used) << "the run left garbage";
  EXPECT_EQ(bdd_reorder_gain(), 100 * (before - used) / before);
  ASSERT_GE(bdd_reorder_gain(), 20);
  EXPECT_EQ(usednodes_nextreorder, 2 * used);
  // Now the order is good: another pass gains little.
  bdd_checkreorder();
  used = bddnodesize - bddfreenum;
  const int gain = bdd_reorder_gain();
  ASSERT_LT(gain, 20);
  EXPECT_EQ(usednodes_nextreorder, 2 * used + 2 * used * (20 - gain) / 20);
  bdd_autoreorder(REORDER_NONE);

  std::set<BDD> below;
  oracle::reachable(f, below);
  std::vector<BDD> held{inner1, inner2};
  for (BDD m : below) {
    std::set<BDD> under;
    oracle::reachable(m, under);
    for (BDD n : under)
      if (n > m && bdd_var(n) != 15 && held.size() < 22) {
        held.push_back(bdd_addref(m));
        held.push_back(bdd_addref(n));
      }
  }
  ASSERT_GT(held.size(), 2u);
  for (int round = 0; round < 3; round++) {
    int start = live_nodes();
    bdd_reorder(REORDER_RANDOM);
    int after = bdd_getnodenum();
    ASSERT_EQ(live_nodes(), after);
    ASSERT_EQ(bdd_reorder_gain(), 100 * (start - after) / start) << "round " << round;
  }
  EXPECT_TRUE(is_equality(f, 8));
  for (BDD r : held) bdd_delref(r);
  bdd_delref(f);
}

// Roots for the probe below: the held BDDs and every variable node.
std::vector<BDD> probe_roots;
int probe_mismatches = 0, probe_calls = 0;

// The size every strategy measures after each move must be the nodes still
// reachable (plus the two constants): an exchange frees the nodes of the
// lower variable that lost their last parent, and nothing else.
int reachable_probe() {
  std::vector<BDD> roots = probe_roots;
  for (int v = 0; v < bdd_varnum(); v++) {
    roots.push_back(bdd_ithvar(v));
    roots.push_back(bdd_nithvar(v));
  }
  int live = bdd_getnodenum();
  if (live != bdd_anodecount(roots.data(), (int)roots.size()) + 2) probe_mismatches++;
  probe_calls++;
  return live;
}

TEST_F(Reorder, EveryMoveLeavesExactlyTheReachableNodes) {
  start_engine(20000, 1000, 10);
  std::mt19937 rng(5);
  Pool p = random_pool(rng, 10, 20, 7);
  probe_roots.clear();
  for (const oracle::Formula &f : p.fs) probe_roots.push_back(f.bdd);
  probe_roots.push_back(equality(5));
  bdd_varblockall();
  bddsizehandler old = bdd_reorder_probe(reachable_probe);
  probe_mismatches = probe_calls = 0;
  for (int method : {REORDER_SIFT, REORDER_WIN3ITE, REORDER_RANDOM}) bdd_reorder(method);
  bdd_reorder_probe(old);
  EXPECT_GT(probe_calls, 100);
  EXPECT_EQ(probe_mismatches, 0);
  p.check("after the passes");
  EXPECT_TRUE(is_equality(probe_roots.back(), 5));
  bdd_delref(probe_roots.back());
  p.release();
}

// ---- controls -------------------------------------------------------------------------

TEST_F(Reorder, SettingsAndLookups) {
  start_engine(1000, 100, 5);
  // Calls in a braced list run in order: each setter hands back the old value.
  EXPECT_EQ((std::vector<int>{bdd_getreorder_method(), bdd_getreorder_times(),
                              bdd_autoreorder(REORDER_WIN3), bdd_getreorder_times(),
                              bdd_autoreorder_times(42, 7), bdd_getreorder_method(),
                              bdd_getreorder_times(), bdd_reorder_verbose(3),
                              bdd_reorder_verbose(0)}),
            (std::vector<int>{REORDER_NONE, 0, REORDER_NONE, -1, REORDER_WIN3, 42, 7, 0, 3}));

  EXPECT_EQ(bdd_reorder_probe(nullptr), &bdd_getnodenum);
  EXPECT_EQ(bdd_reorder_probe(nullptr), &bdd_getnodenum);
  EXPECT_EQ(bdd_reorder_hook(nullptr), &bdd_default_reohandler);
  EXPECT_EQ(bdd_reorder_hook(bdd_default_reohandler), nullptr);
  const int E = BDD_ERR_UNKNOWN_VAR;
  EXPECT_EQ((std::vector<int>{bdd_var2level(4), bdd_level2var(0), bdd_var2level(5),
                              bdd_level2var(5), bdd_level2var(-1)}),
            (std::vector<int>{4, 0, E, E, E}));
  EXPECT_EQ(recorded_errors.size(), 3u);
}

int method_seen_in_hook = -100, times_seen_in_hook = -100;
void peek_settings(int pre) {
  rec_reorder(pre);
  if (pre) {
    method_seen_in_hook = bdd_getreorder_method();
    times_seen_in_hook = bdd_getreorder_times();
  }
}

// Every entry makes one full run, even an identity order; inside it the
// hooks see the run's own method and count, restored afterwards.
TEST_F(Reorder, HooksRunOncePerRunAroundOneCollection) {
  start_engine(1000, 100, 4);
  bdd_reorder_hook(peek_settings);
  bdd_gbc_hook(rec_gbc);
  const std::vector<std::string> one_run{"R1", "G1", "G0", "R0"};
  ASSERT_EQ(bdd_swapvar(0, 3), 0);
  EXPECT_EQ(events, one_run);
  events.clear();
  int order[4] = {3, 1, 2, 0};  // the order it already has
  bdd_setvarorder(order);
  EXPECT_EQ(events, one_run);
  events.clear();
  bdd_varblockall();
  bdd_autoreorder_times(REORDER_WIN2, 5);
  bdd_reorder(REORDER_SIFTITE);
  EXPECT_EQ(events, one_run);
  EXPECT_EQ(method_seen_in_hook, REORDER_SIFTITE);
  EXPECT_EQ(times_seen_in_hook, 1);
  EXPECT_EQ(bdd_getreorder_method(), REORDER_WIN2);
  EXPECT_EQ(bdd_getreorder_times(), 5);
}

// The default hook prints one line before and one after a run, and only
// when verbose; at level 2 sifting prints a head and an end per block.
TEST_F(Reorder, TracesOfTheDefaultHookAndOfSifting) {
  start_engine(10000, 100, 12);
  BDD f = equality(6);
  bdd_varblockall();
  EXPECT_EQ(capture_stdout([] { bdd_reorder(REORDER_SIFT); }), "");
  bdd_reorder_verbose(1);
  int before = live_nodes();
  std::string out = capture_stdout([] { bdd_reorder(REORDER_WIN2); });
  char expect[100];
  snprintf(expect, sizeof expect, "Start reordering\nEnd reordering. Went from %d to %d nodes (",
           before, bdd_getnodenum());
  EXPECT_EQ(out.rfind(expect, 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 6), " sec)\n");
  bdd_reorder_hook(nullptr);
  bdd_reorder_verbose(2);
  out = capture_stdout([] { bdd_reorder(REORDER_SIFT); });
  for (const char *mark : {"Sift ", "\n> "}) {
    size_t k = 0;
    for (size_t p = out.find(mark); p != std::string::npos; p = out.find(mark, p + 1)) k++;
    EXPECT_EQ(k, 12u) << out;
  }
  bdd_delref(f);
}

TEST(ReorderStopped, CallsWithoutAnEngineAreHarmless) {
  ASSERT_EQ(bddrunning, 0);
  bdd_reorder(REORDER_SIFT);
  int order[1] = {0};
  bdd_setvarorder(order);
  EXPECT_EQ(bdd_swapvar(0, 1), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(bdd_var2level(0), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(bdd_level2var(0), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(bdd_reorder_ready(), 0);
}

// ---- table growth and exhaustion in the middle of a run -------------------------------

TEST_F(Reorder, ExhaustionDuringSetVarOrderLeavesEverythingIntact) {
  const int n = 8;
  start_engine(500, 100, 2 * n);
  std::vector<int> inter = interleaved_order(n);
  bdd_setvarorder(inter.data());
  BDD f = equality(n);
  BDD g = bdd_addref(bdd_xor(bdd_ithvar(0), bdd_ithvar(2 * n - 1)));
  int before = live_nodes();
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  std::vector<int> separated = identity_order(2 * n);
  bdd_reorder_hook(rec_reorder);
  bdd_setvarorder(separated.data());
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(bdderrorcond, 17);
  EXPECT_EQ(events, (std::vector<std::string>{"R1", "R0"}));
  // Refused as a whole: the order and the table are as before.
  EXPECT_EQ(current_order(), inter);
  EXPECT_EQ(live_nodes(), before);
  EXPECT_TRUE(is_equality(f, n));
  for (unsigned a = 0; a < (1u << (2 * n)); a++)
    ASSERT_EQ(oracle::bdd_eval(g, a), ((a & 1) != 0) != (((a >> (2 * n - 1)) & 1) != 0));
  check_canonical({f, g});

  // Once the condition is cleared the same order is reached, the table
  // growing in the middle of exchanges.
  bdd_clear_error();
  bdd_setmaxnodenum(0);
  recorded_errors.clear();
  const int size0 = bddnodesize;
  bdd_setvarorder(separated.data());
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(current_order(), separated);
  EXPECT_GT(bddnodesize, size0);
  EXPECT_EQ(bdd_nodecount(f), 3 * (1 << n) - 3);
  EXPECT_TRUE(is_equality(f, n));
  check_canonical({f, g});
  for (BDD x : {f, g}) bdd_delref(x);
}

TEST_F(Reorder, ExhaustionDuringSwapVarIsRefused) {
  start_engine(500, 100, 6);
  BDD f = bdd_addref(bdd_and(bdd_biimp(bdd_ithvar(0), bdd_ithvar(1)), bdd_ithvar(5)));
  auto check_f = [f] {
    for (unsigned a = 0; a < 64; a++)
      ASSERT_EQ(oracle::bdd_eval(f, a), (((a & 1) != 0) == ((a & 2) != 0)) && ((a & 32) != 0));
  };
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  // Fill the table with referenced nodes on the top level, so that moving
  // variable 0 down needs nodes that cannot be had.
  // Top-level nodes over level-1 children only: the exchange needs new
  // top-variable nodes over the deep ones, none of which exist.
  std::vector<BDD> filler = fill_level(1, literals(2, 6)), top = fill_level(0, filler);
  filler.insert(filler.end(), top.begin(), top.end());
  ASSERT_LE(bddfreenum, 2);
  ASSERT_TRUE(recorded_errors.empty());
  int before = live_nodes();
  std::vector<int> order0 = current_order();

  EXPECT_EQ(bdd_swapvar(0, 5), BDD_ERR_NODENUM);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(current_order(), order0);
  EXPECT_EQ(live_nodes(), before);
  check_f();
  for (BDD r : filler) ASSERT_LE(bdd_var(r), 1);
  // Released filler makes room: the same swap now succeeds.
  for (BDD r : filler) bdd_delref(r);
  bdd_clear_error();
  EXPECT_EQ(bdd_swapvar(0, 5), 0);
  EXPECT_EQ(bdd_var2level(0), 5);
  EXPECT_EQ(bdd_var2level(5), 0);
  check_f();
  bdd_delref(f);
}

// Variable 0 first passes variable 1, which it never meets (a free
// exchange), then needs nodes to pass variable 2 that the full table cannot
// give: the exchange already made is taken back, for a swap as for the
// move of block {0,1} below block {2,3}, and both blocks stay whole.
TEST_F(Reorder, ExhaustionAfterAFreeExchangeTakesItBack) {
  start_engine(500, 100, 8);
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  const std::vector<BDD> top = fill_level(0, fill_level(2, literals(3, 8)));
  ASSERT_LE(bddfreenum, 2);
  ASSERT_TRUE(recorded_errors.empty());
  std::vector<TT> tts;
  for (BDD r : top) tts.push_back(oracle::tt_of(r, 8));
  const int before = live_nodes();
  EXPECT_EQ(bdd_swapvar(0, 3), BDD_ERR_NODENUM);
  EXPECT_EQ(current_order(), identity_order(8));
  EXPECT_EQ(live_nodes(), before);
  bdd_clear_error();
  ASSERT_EQ(bdd_intaddvarblock(0, 1, 0), 0);
  ASSERT_EQ(bdd_intaddvarblock(2, 3, 0), 1);
  bdd_reorder(REORDER_WIN2);
  EXPECT_EQ(recorded_errors, std::vector<int>(2, BDD_ERR_NODENUM));
  EXPECT_EQ(current_order(), identity_order(8));
  check_blocks(vartree);
  EXPECT_EQ(list_ids(vartree), (std::vector<int>{0, 1}));
  EXPECT_EQ(live_nodes(), before);
  for (size_t k = 0; k < top.size(); k++) ASSERT_EQ(oracle::tt_of(top[k], 8), tts[k]);
}

// Moving block {0,1} below {2,3} takes two free exchanges (1 past 2, then
// 0 past 2) before the one the full table refuses (1 past the variable 3 it
// meets): undone in the order they were made, they would leave 2 on top.
TEST_F(Reorder, RefusedBlockMoveUndoesItsExchangesLastFirst) {
  start_engine(500, 100, 8);
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  std::vector<BDD> below = fill_level(3, literals(4, 8));
  below.insert(below.end(), {bddfalse, bddtrue});
  const std::vector<BDD> top = fill_level(1, below);
  ASSERT_LE(bddfreenum, 2);
  std::vector<TT> tts;
  for (BDD r : top) tts.push_back(oracle::tt_of(r, 8));
  const int before = live_nodes();
  ASSERT_EQ(bdd_intaddvarblock(0, 1, 0), 0);
  ASSERT_EQ(bdd_intaddvarblock(2, 3, 0), 1);
  bdd_reorder(REORDER_WIN2);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(current_order(), identity_order(8));
  EXPECT_EQ(live_nodes(), before);
  for (size_t k = 0; k < top.size(); k++) ASSERT_EQ(oracle::tt_of(top[k], 8), tts[k]);
}

TEST_F(Reorder, ExhaustionDuringAPassKeepsDiagramsAndBlocks) {
  // A random shuffle of an interleaved equality explores orders far too
  // large for the capped table.
  const int n = 8;
  start_engine(200, 100, 2 * n);
  std::vector<int> inter = interleaved_order(n);
  bdd_setvarorder(inter.data());
  std::mt19937 rng(4);
  BDD f = equality(n);
  Pool p = random_pool(rng, 10, 4, 4);
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  bdd_varblockall();
  bdd_reorder_hook(rec_reorder);
  for (int round = 0; round < 6; round++) bdd_reorder(REORDER_RANDOM);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(std::count(events.begin(), events.end(), "R1"), 6);
  EXPECT_EQ(std::count(events.begin(), events.end(), "R0"), 6);
  EXPECT_TRUE(is_equality(f, n));
  p.check("after an exhausted pass");
  check_blocks(vartree, false);
  bdd_delref(f);
  p.release();
}

}  // namespace
