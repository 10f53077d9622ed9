// Kernel: start-up, node creation and the unique table, references and
// collection, growth, the node limit, variables and variable duplication.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <vector>

#include "kernel_model.h"
#include "support.h"

// Engine internals the tests steer directly.
extern int jumparmed;
extern int usednodes_nextreorder;
extern int *bddrefstackend;

namespace {

using km::fields;
using km::is_free;
using km::table_fault;

class Kernel : public ::testing::Test {
 protected:
  void TearDown() override {
    if (bdd_isrunning()) {
      bdd_autoreorder(REORDER_NONE);
      bdd_done();
    }
    bdd_setmaxnodenum(0);
    bdd_setminfreenodes(20);
  }
};

int gc_count() {
  KernelStats s;
  bdd_stats(&s);
  return s.gbcollectnum;
}

// Largest prime not above n and smallest not below, by trial division.
bool slow_prime(unsigned n) {
  if (n < 2) return false;
  for (unsigned d = 2; (unsigned long long)d * d <= n; d++)
    if (n % d == 0) return false;
  return true;
}
int prime_at_most(long long n) {
  while (!slow_prime((unsigned)n)) n--;
  return (int)n;
}

// A chain of distinct nodes kept alive through one reference on its top:
// each link is (level, 0, previous top), so the chain is walked through
// high children only.
struct Chain {
  int top = 1;
  int length = 0;
  int levels = 8;
  int add() {
    int n = bdd_makenode((unsigned)(length % levels), 0, top);
    if (n == 0) return 0;
    bdd_addref(n);
    if (top > 1) bdd_delref(top);
    top = n;
    length++;
    return n;
  }
  // Adds links until the free list is empty.
  void fill() {
    while (bddfreenum > 0) ASSERT_NE(add(), 0);
  }
};

// ---------------------------------------------------------------------------
// Start-up and shut-down

TEST_F(Kernel, InitBuildsAscendingFreeList) {
  start_engine(1000, 100, 0);
  ASSERT_EQ(bddrunning, 1);
  EXPECT_EQ(bddnodesize, 1009);
  EXPECT_EQ(bddfreenum, 1007);
  EXPECT_EQ(bddfreepos, 2);
  EXPECT_EQ(bddvarnum, 0);
  EXPECT_EQ(bdd_getnodenum(), 2);
  EXPECT_EQ(bdd_getallocnum(), 1009);
  std::vector<int> list = km::free_list();
  ASSERT_EQ(list.size(), 1007u);
  for (int i = 0; i < 1007; i++) ASSERT_EQ(list[(size_t)i], i + 2);
  EXPECT_EQ(fields(0).level, 0u);
  EXPECT_EQ(fields(1).level, 0u);
  EXPECT_EQ(table_fault(), "");
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, SecondInitIsRefusedAndLeavesEngineIntact) {
  start_engine(1000, 100, 3);
  int f = bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2));
  bdd_addref(f);
  int freenum = bddfreenum;
  lrand48();
  lrand48();

  EXPECT_EQ(bdd_init(5000, 10), BDD_ERR_RUNNING);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_RUNNING});
  // Our handler and table survive; the generator was seeded again anyway.
  EXPECT_EQ(bddnodesize, 1009);
  EXPECT_EQ(bddfreenum, freenum);
  EXPECT_EQ(bddvarnum, 3);
  EXPECT_EQ(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)), f);
  long after_init = lrand48();
  srand48(48879);
  EXPECT_EQ(after_init, lrand48());
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, RestartAfterDone) {
  EXPECT_EQ(bdd_setmaxnodenum(3000), 0);
  start_engine(1000, 100, 2);
  EXPECT_EQ(bddmaxnodesize, 3000);  // a limit set before start-up stays
  bdd_makenode(0, 0, bdd_ithvar(1));
  EXPECT_GT(bddproduced, 0);
  bdd_done();
  EXPECT_EQ(bdd_isrunning(), 0);
  EXPECT_EQ(bddnodesize, 0);
  EXPECT_EQ(bddmaxnodesize, 0);
  EXPECT_EQ(bddproduced, 0);
  EXPECT_EQ(bddvarnum, 0);
  EXPECT_EQ(bddnodes, nullptr);
  EXPECT_EQ(bddrefstack, nullptr);
  EXPECT_EQ(bddvar2level, nullptr);

  start_engine(200, 10, 4);
  EXPECT_EQ(bddnodesize, 211);
  EXPECT_EQ(bdd_ithvar(0), 2);
  EXPECT_EQ(bddproduced, 8);
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, TinyAndNegativeSizesGiveSmallWorkingTable) {
  const int sizes[][2] = {{0, 0}, {1, 1}, {2, 2}, {-5, -7}, {-2147483647 - 1, -1}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(s[0]);
    start_engine(s[0], s[1], 0);
    ASSERT_EQ(bdd_isrunning(), 1);
    EXPECT_EQ(bddnodesize, 3);
    EXPECT_EQ(bddfreenum, 1);
    EXPECT_EQ(table_fault(), "");
    // Growth from the tiny table carries every variable node.
    EXPECT_EQ(bdd_setvarnum(5), 0);
    EXPECT_EQ(bddvarnum, 5);
    for (int v = 0; v < 5; v++) {
      EXPECT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)v, 0, 1}));
      EXPECT_EQ(km::triple_of(bdd_nithvar(v)), (km::Triple{(unsigned)v, 1, 0}));
    }
    EXPECT_EQ(table_fault(), "");
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
}

TEST_F(Kernel, StateBeforeStartupIsRefusedWithoutCrash) {
  ASSERT_EQ(bdd_isrunning(), 0);
  // No handler: the calls must just return their codes.
  EXPECT_EQ(bdd_var(2), BDD_ERR_RUNNING);
  EXPECT_EQ(bdd_low(0), BDD_ERR_RUNNING);
  EXPECT_EQ(bdd_high(-1), BDD_ERR_RUNNING);
  EXPECT_EQ(bdd_ithvar(0), 0);
  EXPECT_EQ(bdd_addref(5), 5);
  EXPECT_EQ(bdd_delref(5), 5);
  int *set = nullptr, num = 0;
  EXPECT_EQ(bdd_scanset(2, &set, &num), BDD_ERR_RUNNING);
  EXPECT_EQ(bdd_setvarnum(3), BDD_ERR_RUNNING);
  EXPECT_EQ(bddvarnum, 0);
  EXPECT_EQ(bdd_duplicatevar(0), 0);
  EXPECT_EQ(bdd_setallocnum(5000), 0);
  EXPECT_EQ(bddnodesize, 0);
  EXPECT_EQ(bdd_getnodenum(), 0);
}

// ---------------------------------------------------------------------------
// Node creation and accessors

TEST_F(Kernel, MakenodeSharesTriplesAndSkipsRedundantTests) {
  start_engine(1000, 100, 3);
  const int produced = bddproduced;
  int a = bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2));
  EXPECT_EQ(a, 8);  // next on the free list after the six variable nodes
  EXPECT_EQ(bddproduced, produced + 1);
  EXPECT_EQ(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)), a);
  EXPECT_EQ(bddproduced, produced + 1);
  EXPECT_EQ(bddfreenum, 1009 - 2 - 6 - 1);
  // A test whose branches agree is no test at all.
  EXPECT_EQ(bdd_makenode(1, a, a), a);
  EXPECT_EQ(bdd_makenode(2, 0, 0), 0);
  EXPECT_EQ(bdd_makenode(2, 1, 1), 1);
  EXPECT_EQ(bddproduced, produced + 1);
  // The variable nodes are found again, not rebuilt.
  EXPECT_EQ(bdd_makenode(2, 0, 1), bdd_ithvar(2));
  EXPECT_EQ(bdd_makenode(2, 1, 0), bdd_nithvar(2));
  EXPECT_EQ(bddproduced, produced + 1);
  EXPECT_EQ(table_fault(), "");
}

// Differential check against a map from triples to indices: every request
// either finds the recorded index or takes a fresh slot from the head of
// the free list; levels above 31 exercise the split level field.
TEST_F(Kernel, MakenodeAgreesWithTripleMap) {
  start_engine(60000, 100, 1000);
  ASSERT_EQ(bddvarnum, 1000);
  std::mt19937 rng(7);
  std::map<km::Triple, int> known;
  std::vector<int> pool = {0, 1};
  for (int v = 0; v < 1000; v++) {
    known[{(unsigned)v, 0, 1}] = bdd_ithvar(v);
    known[{(unsigned)v, 1, 0}] = bdd_nithvar(v);
  }
  const int gcs = gc_count();
  for (int i = 0; i < 40000; i++) {
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    unsigned level = (unsigned)(rng() % 1000);
    int lo = pool[pick(rng)], hi = pool[pick(rng)];
    if (rng() % 4 == 0) hi = lo;
    const int expected_head = bddfreepos;
    const int produced = bddproduced;
    int r = bdd_makenode(level, lo, hi);
    if (lo == hi) {
      ASSERT_EQ(r, lo);
      ASSERT_EQ(bddproduced, produced);
      continue;
    }
    auto it = known.find({level, lo, hi});
    if (it != known.end()) {
      ASSERT_EQ(r, it->second);
      ASSERT_EQ(bddproduced, produced);
    } else {
      ASSERT_EQ(r, expected_head);
      ASSERT_EQ(bddproduced, produced + 1);
      known[{level, lo, hi}] = r;
      pool.push_back(r);
    }
    ASSERT_EQ(km::triple_of(r), (km::Triple{level, lo, hi}));
  }
  ASSERT_EQ(gc_count(), gcs);
  EXPECT_EQ(table_fault(false), "");
}

TEST_F(Kernel, AccessorsAndTheirRefusals) {
  start_engine(1000, 100, 3);
  int f = bdd_makenode(1, bdd_nithvar(2), 1);
  EXPECT_EQ(bdd_var(f), 1);
  EXPECT_EQ(bdd_low(f), bdd_nithvar(2));
  EXPECT_EQ(bdd_high(f), 1);
  EXPECT_EQ(bdd_var(bdd_nithvar(2)), 2);
  EXPECT_TRUE(recorded_errors.empty());

  EXPECT_EQ(bdd_var(0), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_low(1), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_high(-1), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_var(bddnodesize), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_low(bddnodesize - 1), BDD_ERR_ILLBDD);  // a free slot
  EXPECT_EQ(recorded_errors, std::vector<int>(5, BDD_ERR_ILLBDD));
  recorded_errors.clear();

  EXPECT_EQ(bdd_ithvar(3), 0);
  EXPECT_EQ(bdd_ithvar(-1), 0);
  EXPECT_EQ(bdd_nithvar(3), 0);
  EXPECT_EQ(bdd_nithvar(-2147483647 - 1), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>(4, BDD_ERR_UNKNOWN_VAR));
  EXPECT_EQ(bdd_true(), 1);
  EXPECT_EQ(bdd_false(), 0);
  EXPECT_EQ(bddtrue, 1);
  EXPECT_EQ(bddfalse, 0);

  bdd_gbc();  // f had no reference
  recorded_errors.clear();
  EXPECT_EQ(bdd_var(f), BDD_ERR_ILLBDD);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_ILLBDD});
}

// ---------------------------------------------------------------------------
// References and collection

// A collection keeps exactly what the counts and the reference stack reach,
// leaves every kept node in its slot with its contents, and rebuilds chains
// and an ascending free list.
TEST_F(Kernel, CollectionKeepsExactlyTheReachableNodes) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    SCOPED_TRACE(seed);
    start_engine(30000, 100, 16);
    std::mt19937 rng(seed);
    const int gcs = gc_count();
    std::vector<int> nodes = km::random_dag(rng, 8000);
    ASSERT_EQ(gc_count(), gcs);
    // Variable nodes are saturated: leave them out of the count model.
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](int n) { return km::refcount(n) != 0; }),
                nodes.end());
    ASSERT_GT(nodes.size(), 4000u);

    std::map<int, int> counts;  // model of the external counts
    for (int k = 0; k < 400; k++) {
      int n = nodes[rng() % nodes.size()];
      bdd_addref(n);
      counts[n]++;
    }
    for (int k = 0; k < 200; k++) {  // release some again, some down to 0
      auto it = counts.begin();
      std::advance(it, (long)(rng() % counts.size()));
      if (it->second == 0) continue;
      bdd_delref(it->first);
      it->second--;
    }
    std::vector<int> stacked;
    for (int k = 0; k < 5; k++) stacked.push_back(nodes[rng() % nodes.size()]);
    bddrefstacktop = bddrefstack;
    for (int n : stacked) *bddrefstacktop++ = n;

    std::vector<int> roots = stacked;
    for (auto &c : counts)
      if (c.second > 0) roots.push_back(c.first);
    for (int v = 0; v < bddvarnum; v++) {
      roots.push_back(bdd_ithvar(v));
      roots.push_back(bdd_nithvar(v));
    }
    std::set<int> expected = km::reachable(roots);
    std::map<int, km::Triple> contents;
    for (int n : expected) contents[n] = km::triple_of(n);
    ASSERT_LT(expected.size(), nodes.size());  // something must go

    bdd_gbc();
    bddrefstacktop = bddrefstack;

    EXPECT_EQ(km::live_nodes(), expected);
    for (auto &c : contents) ASSERT_EQ(km::triple_of(c.first), c.second);
    for (auto &c : counts) ASSERT_EQ(km::refcount(c.first), (unsigned)c.second);
    std::vector<int> list = km::free_list();
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ(table_fault(), "");
    EXPECT_TRUE(recorded_errors.empty());
    // The unique table finds every survivor again.
    for (auto &c : contents)
      ASSERT_EQ(bdd_makenode(c.second.level, c.second.low, c.second.high), c.first);
    bdd_done();
  }
}

TEST_F(Kernel, CollectionWithoutRootsFreesEverySlot) {
  start_engine(1000, 100, 0);
  std::mt19937 rng(3);
  for (int i = 0; i < 300; i++) bdd_makenode(rng() % 5, (int)(rng() % 2), 0);
  Chain c;
  for (int i = 0; i < 100; i++) c.add();
  bdd_delref(c.top);
  bdd_gbc();
  EXPECT_EQ(bddfreepos, 2);
  EXPECT_EQ(bddfreenum, 1007);
  std::vector<int> list = km::free_list();
  ASSERT_EQ(list.size(), 1007u);
  for (int i = 0; i < 1007; i++) ASSERT_EQ(list[(size_t)i], i + 2);
  EXPECT_EQ(table_fault(false), "");
}

TEST_F(Kernel, ReferenceStackAloneKeepsANode) {
  start_engine(1000, 100, 3);
  int f = bdd_makenode(0, bdd_ithvar(2), 1);
  int g = bdd_makenode(0, bdd_nithvar(2), 1);
  ASSERT_EQ(km::refcount(f), 0u);
  bddrefstacktop = bddrefstack;
  *bddrefstacktop++ = f;
  bdd_gbc();
  bddrefstacktop = bddrefstack;
  EXPECT_FALSE(is_free(f));
  EXPECT_TRUE(is_free(g));
  EXPECT_EQ(km::triple_of(f), (km::Triple{0, bdd_ithvar(2), 1}));
}

TEST_F(Kernel, CountsSaturateAndFollowAModel) {
  start_engine(1000, 100, 3);
  int f = bdd_makenode(0, bdd_ithvar(1), 1);
  for (int i = 0; i < 600; i++) ASSERT_EQ(bdd_addref(f), f);
  EXPECT_EQ(km::refcount(f), 511u);
  for (int i = 0; i < 600; i++) ASSERT_EQ(bdd_delref(f), f);
  EXPECT_EQ(km::refcount(f), 511u);
  EXPECT_TRUE(recorded_errors.empty());

  // Random walks across the 5-bit boundary of the split count.
  std::mt19937 rng(11);
  const int nodes[] = {bdd_makenode(0, 0, bdd_ithvar(1)), bdd_makenode(0, 0, bdd_nithvar(1)),
                       bdd_makenode(0, 0, bdd_ithvar(2)), bdd_makenode(0, 1, bdd_ithvar(2)),
                       bdd_makenode(1, 0, bdd_ithvar(2)), bdd_makenode(1, 1, bdd_ithvar(2))};
  std::map<int, int> model;
  for (int n : nodes) model[n] = 0;
  ASSERT_EQ(model.size(), 6u);
  for (int step = 0; step < 20000; step++) {
    auto it = model.begin();
    std::advance(it, (long)(rng() % model.size()));
    const bool saturated = it->second == 511;
    if (rng() % 2 && it->second > 0) {
      bdd_delref(it->first);
      if (!saturated) it->second--;
    } else {
      bdd_addref(it->first);
      if (!saturated) it->second++;
    }
    ASSERT_EQ(km::refcount(it->first), (unsigned)it->second);
    ASSERT_FALSE(fields(it->first).mark);
  }
  // The count bits never spill into the hash and next fields.
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, ReferenceRefusals) {
  start_engine(1000, 100, 3);
  int f = bdd_makenode(0, bdd_ithvar(1), 1);
  EXPECT_EQ(bdd_delref(f), f);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_BREAK});
  EXPECT_EQ(km::refcount(f), 0u);
  recorded_errors.clear();

  for (int r : {0, 1, -5, -2147483647 - 1}) {
    EXPECT_EQ(bdd_addref(r), r);
    EXPECT_EQ(bdd_delref(r), r);
  }
  EXPECT_EQ(km::refcount(0), 511u);
  EXPECT_EQ(km::refcount(1), 511u);
  EXPECT_TRUE(recorded_errors.empty());

  EXPECT_EQ(bdd_addref(bddnodesize), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_delref(bddnodesize), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_addref(2147483647), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_addref(bddnodesize - 1), BDD_ERR_ILLBDD);  // free slot
  EXPECT_EQ(bdd_delref(bddnodesize - 1), BDD_ERR_ILLBDD);
  EXPECT_EQ(recorded_errors, std::vector<int>(5, BDD_ERR_ILLBDD));
  EXPECT_EQ(km::refcount(bddnodesize - 1), 0u);
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, MarkingWalksCoverTheirSubgraphs) {
  start_engine(20000, 100, 12);
  std::mt19937 rng(5);
  std::vector<int> nodes = km::random_dag(rng, 3000);
  for (int trial = 0; trial < 20; trial++) {
    int root = nodes[rng() % nodes.size()];
    std::set<int> below = km::reachable({root});
    int count = 0;
    bdd_markcount(root, &count);
    EXPECT_EQ(count, (int)below.size());
    for (int n = 2; n < bddnodesize; n++)
      ASSERT_EQ(fields(n).mark, below.count(n) == 1) << n;
    int again = 0;
    bdd_markcount(root, &again);
    EXPECT_EQ(again, 0);  // already marked nodes are not counted twice
    bdd_unmark(root);
    ASSERT_EQ(table_fault(), "");

    // Bounded walks stop below a level: expected set by an explicit walk.
    unsigned limit = (unsigned)(rng() % 12);
    std::set<int> upto;
    std::vector<int> todo = {root};
    while (!todo.empty()) {
      int n = todo.back();
      todo.pop_back();
      if (n <= 1 || upto.count(n) || fields(n).level > limit) continue;
      upto.insert(n);
      todo.push_back(fields(n).low);
      todo.push_back(fields(n).high);
    }
    bdd_mark_upto(root, (int)limit);
    for (int n = 2; n < bddnodesize; n++)
      ASSERT_EQ(fields(n).mark, upto.count(n) == 1) << n;
    bdd_unmark_upto(root, (int)limit);
    ASSERT_EQ(table_fault(), "");
  }
  // bdd_unmark_upto clears the node at which it stops for its level, and
  // nothing below it.
  auto stop = std::find_if(nodes.begin(), nodes.end(), [](int n) {
    return fields(n).level >= 1 && fields(n).low > 1 && fields(n).high > 1;
  });
  ASSERT_NE(stop, nodes.end());
  const int r = *stop;
  bdd_mark(r);
  bdd_unmark_upto(r, (int)fields(r).level - 1);
  EXPECT_FALSE(fields(r).mark);
  EXPECT_TRUE(fields(fields(r).low).mark);
  EXPECT_TRUE(fields(fields(r).high).mark);
  bdd_unmark(fields(r).low);
  bdd_unmark(fields(r).high);
  EXPECT_EQ(table_fault(), "");
}

// ---------------------------------------------------------------------------
// Handlers

struct GbcCall {
  int pre;
  GbcStat s;
};
std::vector<GbcCall> gbc_calls;
void record_gbc(int pre, GbcStat *s) { gbc_calls.push_back({pre, *s}); }

struct ResizeCall {
  int oldsize, newsize, seen_size;
};
std::vector<ResizeCall> resize_calls;
void record_resize(int oldsize, int newsize) {
  resize_calls.push_back({oldsize, newsize, bddnodesize});
}

TEST_F(Kernel, CollectionHandlerSeesBothSidesOfEachCollection) {
  start_engine(1000, 100, 2);
  gbc_calls.clear();
  bdd_gbc_hook(record_gbc);
  for (int i = 0; i < 50; i++) bdd_makenode(0, 0, 2 + i % 4);
  const int before = bddfreenum;
  bdd_gbc();
  const int after1 = bddfreenum;
  bdd_gbc();
  ASSERT_EQ(gbc_calls.size(), 4u);
  const GbcCall &a = gbc_calls[0], &b = gbc_calls[1], &c = gbc_calls[2], &d = gbc_calls[3];
  EXPECT_EQ(a.pre, 1);
  EXPECT_EQ(a.s.nodes, 1009);
  EXPECT_EQ(a.s.freenodes, before);
  EXPECT_EQ(a.s.time, 0);
  EXPECT_EQ(a.s.sumtime, 0);
  EXPECT_EQ(a.s.num, 0);
  EXPECT_EQ(b.pre, 0);
  EXPECT_EQ(b.s.nodes, 1009);
  EXPECT_EQ(b.s.freenodes, after1);
  EXPECT_GT(after1, before);
  EXPECT_GE(b.s.time, 0);
  EXPECT_EQ(b.s.sumtime, b.s.time);
  EXPECT_EQ(b.s.num, 1);
  EXPECT_EQ(c.pre, 1);
  EXPECT_EQ(c.s.freenodes, after1);
  EXPECT_EQ(c.s.time, 0);
  EXPECT_EQ(c.s.sumtime, b.s.sumtime);
  EXPECT_EQ(c.s.num, 1);
  EXPECT_EQ(d.pre, 0);
  EXPECT_EQ(d.s.sumtime, b.s.sumtime + d.s.time);
  EXPECT_EQ(d.s.num, 2);
  EXPECT_EQ(gc_count(), 2);
  EXPECT_EQ(bdd_gbc_hook(nullptr), record_gbc);
}

TEST_F(Kernel, DefaultCollectionHandlerPrintsOneLineAfter) {
  start_engine(1000, 100, 0);
  bdd_gbc_hook(bdd_default_gbchandler);
  testing::internal::CaptureStdout();
  bdd_gbc();
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(
      out, std::regex("Garbage collection #1: 1009 nodes / 1007 free / [0-9]+\\.[0-9]s / "
                      "[0-9]+\\.[0-9]s total\n")))
      << out;

  GbcStat s = {10, 5, (int)CLOCKS_PER_SEC / 2, 3 * (int)CLOCKS_PER_SEC / 2, 3};
  testing::internal::CaptureStdout();
  bdd_default_gbchandler(1, &s);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::CaptureStdout();
  bdd_default_gbchandler(0, &s);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Garbage collection #3: 10 nodes / 5 free / 0.5s / 1.5s total\n");
}

// ---------------------------------------------------------------------------
// Growth

TEST_F(Kernel, GrowthFollowsFactorStepAndLimit) {
  struct Setting {
    double factor;
    int step;
    int limit;
  };
  const Setting settings[] = {{2.0, 10000000, 0}, {1.5, 10000000, 0}, {3.0, 700, 0},
                              {2.0, 10000000, 5000}, {1.1, 50, 0}};
  for (const Setting &set : settings) {
    SCOPED_TRACE(set.factor);
    start_engine(1000, 100, 4);
    EXPECT_EQ(bdd_setincreasefactor(set.factor), 2.0);
    EXPECT_EQ(bdd_setmaxincrease(set.step), 10000000);
    EXPECT_EQ(bdd_setmaxnodenum(set.limit), 0);
    resize_calls.clear();
    bdd_resize_hook(record_resize);

    Chain c;
    std::vector<int> sizes = {bddnodesize};
    for (int round = 0; round < 4; round++) {
      c.fill();
      const int gcs = gc_count();
      int n = c.add();
      if (set.limit && sizes.back() >= prime_at_most(set.limit)) {
        EXPECT_EQ(n, 0);  // the limit is reached: no further growth
        EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
        break;
      }
      ASSERT_NE(n, 0);
      EXPECT_EQ(gc_count(), gcs + 1);  // a collection came first
      const long long old = sizes.back();
      long long want = (long long)((double)old * set.factor);
      if (want > old + set.step) want = old + set.step;
      if (set.limit && want > set.limit) want = set.limit;
      sizes.push_back(bddnodesize);
      EXPECT_EQ(bddnodesize, prime_at_most(want));
      ASSERT_EQ(resize_calls.size(), (size_t)round + 1);
      EXPECT_EQ(resize_calls.back().oldsize, old);
      EXPECT_EQ(resize_calls.back().newsize, bddnodesize);
      EXPECT_EQ(resize_calls.back().seen_size, bddnodesize);
      ASSERT_EQ(table_fault(false), "");
    }
    // Every link of the chain is where it was created.
    int n = c.top, links = 0;
    while (n > 1) {
      n = fields(n).high;
      links++;
    }
    EXPECT_EQ(links, c.length);
    bdd_done();
    bdd_setmaxnodenum(0);
  }
}

// Growth after a collection happens exactly when at most minfreenodes
// percent of the table came free.
TEST_F(Kernel, GrowthTriggerIsTheFreePercentage) {
  struct Case {
    int garbage, minfree;
    bool grows;
  };
  // 1009 slots: 202 free is 20 %, 212 free is 21 %.
  const Case cases[] = {{150, 20, true},  {202, 20, true}, {211, 20, true},
                        {212, 20, false}, {300, 20, false}, {300, 30, true},
                        {10, 0, true},    {11, 0, false},   {600, 100, true},
                        {10, 1, true},    {31, 2, false}};
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.garbage << " free, minfree " << k.minfree);
    start_engine(1000, 100, 4);
    EXPECT_EQ(bdd_setminfreenodes(k.minfree), 20);
    // Unreferenced nodes (level, 1, variable node), distinct from the chain.
    for (int i = 0; i < k.garbage; i++)
      ASSERT_GT(bdd_makenode((unsigned)(10 + i % 100), 1, 2 + i / 100), 1);
    Chain c;
    c.fill();
    ASSERT_EQ(bddnodesize, 1009);
    ASSERT_NE(c.add(), 0);
    EXPECT_EQ(bddnodesize != 1009, k.grows);
    EXPECT_EQ(table_fault(false), "");
    bdd_done();
    bdd_setminfreenodes(20);
  }
}

TEST_F(Kernel, SetAllocnumGrowsToAPrimeAndNeverShrinks) {
  start_engine(1000, 100, 5);
  std::mt19937 rng(2);
  std::vector<int> nodes = km::random_dag(rng, 300);
  for (int n : nodes) bdd_addref(n);
  std::map<int, km::Triple> before;
  for (int n : km::live_nodes()) before[n] = km::triple_of(n);
  resize_calls.clear();
  bdd_resize_hook(record_resize);

  EXPECT_EQ(bdd_setallocnum(500), 1009);
  EXPECT_EQ(bdd_setallocnum(1009), 1009);
  EXPECT_EQ(bdd_setallocnum(-3), 1009);
  EXPECT_EQ(bddnodesize, 1009);
  EXPECT_TRUE(resize_calls.empty());

  EXPECT_EQ(bdd_setallocnum(5000), 1009);
  EXPECT_EQ(bddnodesize, prime_at_most(5000));
  ASSERT_EQ(bddnodesize, 4999);
  ASSERT_EQ(resize_calls.size(), 1u);
  EXPECT_EQ(resize_calls[0].oldsize, 1009);
  EXPECT_EQ(resize_calls[0].newsize, 4999);
  EXPECT_EQ(resize_calls[0].seen_size, 4999);
  EXPECT_EQ(bdd_setallocnum(5002), 4999);  // 4999 is still the largest prime
  EXPECT_EQ(bddnodesize, 4999);
  // The user limit and the step do not apply here.
  bdd_setmaxnodenum(6000);
  bdd_setmaxincrease(10);
  EXPECT_EQ(bdd_setallocnum(20000), 4999);
  EXPECT_EQ(bddnodesize, prime_at_most(20000));

  for (auto &b : before) ASSERT_EQ(km::triple_of(b.first), b.second);
  EXPECT_EQ(km::live_nodes().size(), before.size());
  EXPECT_EQ(table_fault(), "");
  for (auto &b : before)
    ASSERT_EQ(bdd_makenode(b.second.level, b.second.low, b.second.high), b.first);
  EXPECT_TRUE(recorded_errors.empty());
}

// Growth without a rehash (as the reordering engine grows) appends the new
// slots in front of the old free list and leaves the old chains alone; a
// rehash from cleared heads then makes the table whole again.
TEST_F(Kernel, GrowthWithoutRehashThenRehash) {
  start_engine(1000, 100, 6);
  std::mt19937 rng(8);
  std::vector<int> nodes = km::random_dag(rng, 200);
  for (size_t i = 0; i < nodes.size(); i += 2) bdd_addref(nodes[i]);
  bdd_gbc();
  const std::vector<int> oldlist = km::free_list();
  const int oldfree = bddfreenum;
  std::vector<unsigned> heads;
  for (int n = 0; n < 1009; n++) heads.push_back(bddnodes[n].word0);
  std::map<int, km::Triple> live;
  for (int n : km::live_nodes()) live[n] = km::triple_of(n);

  resize_calls.clear();
  bdd_resize_hook(record_resize);
  EXPECT_EQ(bdd_noderesize2(0, 1009, 3000), 0);
  const int size = prime_at_most(3000);
  ASSERT_EQ(bddnodesize, size);
  ASSERT_EQ(resize_calls.size(), 1u);
  EXPECT_EQ(resize_calls[0].newsize, size);
  EXPECT_EQ(bddfreenum, oldfree + size - 1009);
  std::vector<int> want;
  for (int n = 1009; n < size; n++) want.push_back(n);
  want.insert(want.end(), oldlist.begin(), oldlist.end());
  EXPECT_EQ(km::free_list(), want);
  for (int n = 0; n < 1009; n++) ASSERT_EQ(bddnodes[n].word0, heads[(size_t)n]) << n;
  for (auto &l : live) ASSERT_EQ(km::triple_of(l.first), l.second);

  for (int n = 0; n < bddnodesize; n++) bddnodes[n].word0 &= ~km::kIndexMask;
  bdd_gbc_rehash();
  EXPECT_EQ(table_fault(), "");
  std::vector<int> list = km::free_list();
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
  for (auto &l : live)
    ASSERT_EQ(bdd_makenode(l.second.level, l.second.low, l.second.high), l.first);
  EXPECT_EQ(km::live_nodes().size(), live.size());
}

// ---------------------------------------------------------------------------
// Node limit

TEST_F(Kernel, NodeLimitFailsOnceThenSilently) {
  start_engine(1000, 100, 4);
  EXPECT_EQ(bdd_setmaxnodenum(1010), 0);  // no prime fits between
  Chain c;
  c.fill();
  const int gcs = gc_count();
  EXPECT_EQ(c.add(), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(bdderrorcond, 17);
  EXPECT_EQ(gc_count(), gcs + 1);
  EXPECT_EQ(bddnodesize, 1009);

  // Later creations fail at once: no collection, no second error.
  EXPECT_EQ(bdd_makenode(3, 0, c.top), 0);
  EXPECT_EQ(bdd_makenode(5, 1, c.top), 0);
  EXPECT_EQ(gc_count(), gcs + 1);
  EXPECT_EQ(recorded_errors.size(), 1u);
  // Existing triples are still found.
  int link = fields(c.top).high;
  EXPECT_EQ(bdd_makenode(fields(c.top).level, 0, link), c.top);

  // Even with garbage to collect, nothing is collected while the
  // condition stands.
  bdd_delref(c.top);
  EXPECT_EQ(bdd_makenode(3, 0, 2), 0);
  EXPECT_EQ(gc_count(), gcs + 1);

  bdd_clear_error();
  EXPECT_EQ(bdderrorcond, 0);
  int n = bdd_makenode(3, 0, 2);
  EXPECT_GT(n, 1);
  EXPECT_EQ(gc_count(), gcs + 2);
  EXPECT_EQ(recorded_errors.size(), 1u);
  EXPECT_EQ(table_fault(false), "");

  // With the limit lifted the table grows again.
  EXPECT_EQ(bdd_setmaxnodenum(0), 1010);
  Chain d;
  d.fill();
  ASSERT_NE(d.add(), 0);
  EXPECT_GT(bddnodesize, 1009);
  EXPECT_EQ(recorded_errors.size(), 1u);
  EXPECT_EQ(table_fault(false), "");
}

TEST_F(Kernel, ClearErrorLetsCreationGrowAgain) {
  start_engine(1000, 100, 4);
  bdd_setmaxnodenum(1010);
  Chain c;
  c.fill();
  EXPECT_EQ(c.add(), 0);
  ASSERT_EQ(bdderrorcond, 17);
  bdd_setmaxnodenum(0);
  EXPECT_EQ(c.add(), 0);  // still sticky
  EXPECT_EQ(bddnodesize, 1009);
  bdd_clear_error();
  EXPECT_NE(c.add(), 0);
  EXPECT_EQ(bddnodesize, 2017);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(table_fault(false), "");
}

// ---------------------------------------------------------------------------
// Restart jump

// With reordering ready and the table past the reorder threshold, node
// creation leaves through the restart jump only while an operator has the
// buffer armed; otherwise it grows the table and carries on.
TEST_F(Kernel, RestartJumpOnlyWhileArmed) {
  for (volatile int armed = 1; armed >= 0; armed--) {
    SCOPED_TRACE(armed);
    start_engine(1000, 100, 4);
    bdd_autoreorder(REORDER_SIFT);
    bdd_varblockall();
    ASSERT_EQ(bdd_reorder_ready(), 1);
    ASSERT_EQ(usednodes_nextreorder, 1009);
    static Chain c;
    c = Chain();
    c.fill();
    volatile int jumped = 0;
    volatile int result = -1;
    if (setjmp(bddexception) == 0) {
      jumparmed = armed;
      result = c.add();
    } else {
      jumped = 1;
    }
    jumparmed = 0;
    if (armed) {
      EXPECT_EQ(jumped, 1);  // the setup does reach the jump
      EXPECT_EQ(bddnodesize, 1009);
    } else {
      EXPECT_EQ(jumped, 0);
      EXPECT_GT(result, 1);
      EXPECT_EQ(bddnodesize, 2017);
    }
    EXPECT_TRUE(recorded_errors.empty());
    EXPECT_EQ(table_fault(false), "");
    bdd_autoreorder(REORDER_NONE);
    bdd_done();
  }
}

// ---------------------------------------------------------------------------
// Errors, settings, statistics

TEST_F(Kernel, ErrorStrings) {
  const char *expected[] = {"Out of memory",
                            "Unknown variable",
                            "Value out of range",
                            "Unknown BDD root dereferenced",
                            "bdd_init() called twice",
                            "File operation failed",
                            "Incorrect file format",
                            "Variables not in ascending order",
                            "User called break",
                            "Mismatch in size of variable sets",
                            "Cannot allocate fewer nodes than already in use",
                            "Unknown operator",
                            "Illegal variable set",
                            "Bad variable block operation",
                            "Trying to decrease the number of variables",
                            "Trying to replace with variables already in the bdd",
                            "Number of nodes reached user defined maximum",
                            "Unknown BDD - was not in node table",
                            "Bad size argument",
                            "Mismatch in bitvector size",
                            "Illegal shift-left/right parameter",
                            "Division by zero"};
  for (int e = 1; e <= 22; e++) {
    ASSERT_NE(bdd_errstring(-e), nullptr) << e;
    EXPECT_STREQ(bdd_errstring(-e), expected[e - 1]);
    EXPECT_STREQ(bdd_errstring(e), expected[e - 1]);
  }
  EXPECT_EQ(bdd_errstring(BDD_ERR_ILLBDD), bdd_errstring(18));
  for (int e : {0, 23, -23, 24, -24, 25, -25, 1000, 2147483647, -2147483647 - 1})
    EXPECT_EQ(bdd_errstring(e), nullptr) << e;
}

void other_handler(int) {}

TEST_F(Kernel, ErrorRoutineAndHooks) {
  ASSERT_EQ(bdd_isrunning(), 0);
  EXPECT_EQ(bdd_error(-1), -1);  // no handler before start-up
  start_engine(100, 10, 0);
  EXPECT_EQ(bdd_error(BDD_ERR_FILE), BDD_ERR_FILE);
  EXPECT_EQ(bdd_error(-99), -99);
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_FILE, -99}));
  EXPECT_EQ(bdderrorcond, 0);  // raising does not set the condition

  EXPECT_EQ(bdd_error_hook(other_handler), record_errors);
  EXPECT_EQ(bdd_error_hook(nullptr), other_handler);
  EXPECT_EQ(bdd_error(-3), -3);
  EXPECT_EQ(bdd_error_hook(record_errors), nullptr);
  EXPECT_EQ(bdd_resize_hook(record_resize), nullptr);
  EXPECT_EQ(bdd_resize_hook(nullptr), record_resize);

  // Start-up installs the defaults, shut-down removes them.
  bdd_done();
  EXPECT_EQ(bdd_init(100, 10), 0);
  EXPECT_EQ(bdd_error_hook(record_errors), bdd_default_errhandler);
  EXPECT_EQ(bdd_gbc_hook(nullptr), bdd_default_gbchandler);
  EXPECT_EQ(bdd_resize_hook(nullptr), nullptr);
  bdd_done();
  EXPECT_EQ(bdd_error_hook(nullptr), nullptr);
}

TEST_F(Kernel, SettingsReturnOldValuesOrRefuse) {
  start_engine(1000, 100, 0);
  EXPECT_EQ(bdd_setminfreenodes(101), BDD_ERR_RANGE);
  EXPECT_EQ(bdd_setminfreenodes(-1), BDD_ERR_RANGE);
  EXPECT_EQ(bdd_setminfreenodes(100), 20);
  EXPECT_EQ(bdd_setminfreenodes(0), 100);
  EXPECT_EQ(bdd_setminfreenodes(20), 0);

  EXPECT_EQ(bdd_setincreasefactor(1.0), -19.0);
  EXPECT_EQ(bdd_setincreasefactor(-3.0), -19.0);
  EXPECT_EQ(bdd_setincreasefactor(std::nan("")), -19.0);
  EXPECT_EQ(bdd_setincreasefactor(1.5), 2.0);
  EXPECT_EQ(bdd_setincreasefactor(2.0), 1.5);

  EXPECT_EQ(bdd_setmaxincrease(-1), BDD_ERR_SIZE);
  EXPECT_EQ(bdd_setmaxincrease(0), 10000000);
  EXPECT_EQ(bdd_setmaxincrease(77), 0);

  EXPECT_EQ(bdd_setmaxnodenum(1009), BDD_ERR_NODES);
  EXPECT_EQ(bdd_setmaxnodenum(500), BDD_ERR_NODES);
  EXPECT_EQ(bdd_setmaxnodenum(-1), BDD_ERR_NODES);
  EXPECT_EQ(bdd_setmaxnodenum(1010), 0);
  EXPECT_EQ(bdd_setmaxnodenum(0), 1010);
  EXPECT_EQ(bddmaxnodesize, 0);

  EXPECT_EQ(recorded_errors,
            (std::vector<int>{BDD_ERR_RANGE, BDD_ERR_RANGE, BDD_ERR_SIZE, BDD_ERR_SIZE,
                              BDD_ERR_SIZE, BDD_ERR_SIZE, BDD_ERR_NODES, BDD_ERR_NODES,
                              BDD_ERR_NODES}));
  // The refused calls changed nothing.
  KernelStats s;
  bdd_stats(&s);
  EXPECT_EQ(s.minfreenodes, 20);
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ(bddmaxnodeincrease, 77);

  // Start-up restores factor and step.
  bdd_done();
  start_engine(1000, 100, 0);
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ(bddmaxnodeincrease, 10000000);
}

TEST_F(Kernel, VersionAndStatistics) {
  EXPECT_STREQ(bdd_versionstr(), "Corvane - release 2.4");
  EXPECT_EQ(bdd_versionnum(), 24);

  start_engine(1000, 321, 3);
  bdd_setmaxnodenum(5000);
  bdd_setminfreenodes(33);
  bdd_makenode(0, bdd_ithvar(1), 1);
  bdd_gbc();
  KernelStats s;
  bdd_stats(&s);
  EXPECT_EQ(s.produced, 7);
  EXPECT_EQ(s.nodesize, 1009);
  EXPECT_EQ(s.maxnodesize, 5000);
  EXPECT_EQ(s.freenum, 1009 - 8);
  EXPECT_EQ(s.minfreenodes, 33);
  EXPECT_EQ(s.varnum, 3);
  EXPECT_EQ(s.cachesize, 321);
  EXPECT_EQ(s.gbcollectnum, 1);

  CacheStats cs;
  memset(&cs, 0x5a, sizeof cs);
  bdd_cachestats(&cs);
  EXPECT_EQ(cs.uniqueAccess, 0);
  EXPECT_EQ(cs.uniqueChain, 0);
  EXPECT_EQ(cs.uniqueHit, 0);
  EXPECT_EQ(cs.uniqueMiss, 0);
  EXPECT_EQ(cs.opHit, 0);
  EXPECT_EQ(cs.opMiss, 0);
  EXPECT_EQ(cs.swapCount, 0);
}

std::string printstat_text() {
  FILE *f = tmpfile();
  if (f == nullptr) return "<no tmpfile>";
  bdd_fprintstat(f);
  rewind(f);
  std::string text;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

TEST_F(Kernel, PrintedStatistics) {
  start_engine(1000, 100, 0);
  EXPECT_EQ(printstat_text(),
            "\nCache statistics\n----------------\n"
            "Unique Access:  0\nUnique Chain:   0\nUnique Hit:     0\nUnique Miss:    0\n"
            "=> Hit rate =   0.00\n"
            "Operator Hits:  0\nOperator Miss:  0\n"
            "=> Hit rate =   0.00\n"
            "Swap count =    0\n");
  // Hit rates are fractions of the counters.
  bddcachestats.uniqueAccess = 9;
  bddcachestats.uniqueHit = 3;
  bddcachestats.uniqueMiss = 1;
  bddcachestats.opHit = 1;
  bddcachestats.opMiss = 2;
  bddcachestats.swapCount = 4;
  EXPECT_EQ(printstat_text(),
            "\nCache statistics\n----------------\n"
            "Unique Access:  9\nUnique Chain:   0\nUnique Hit:     3\nUnique Miss:    1\n"
            "=> Hit rate =   0.75\n"
            "Operator Hits:  1\nOperator Miss:  2\n"
            "=> Hit rate =   0.33\n"
            "Swap count =    4\n");
  testing::internal::CaptureStdout();
  bdd_printstat();
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), printstat_text());
}

TEST_F(Kernel, DefaultErrorHandlerAborts) {
  start_engine(1000, 100, 2);
  EXPECT_EXIT(
      {
        bdd_error_hook(bdd_default_errhandler);
        bdd_ithvar(7);
      },
      testing::KilledBySignal(SIGABRT), "BDD error: Unknown variable\n");
  EXPECT_EXIT(
      {
        bdd_error_hook(bdd_default_errhandler);
        bdd_delref(bddnodesize + 3);
      },
      testing::KilledBySignal(SIGABRT), "BDD error: Unknown BDD - was not in node table\n");
  // A code without a message still names itself.
  EXPECT_EXIT(bdd_default_errhandler(-40), testing::KilledBySignal(SIGABRT), "BDD error: .*-40");
  // The parent engine is untouched.
  EXPECT_EQ(bdd_ithvar(1), 4);
  EXPECT_TRUE(recorded_errors.empty());
}

// ---------------------------------------------------------------------------
// Variables

TEST_F(Kernel, FreshVariablesTakeTheFirstSlots) {
  start_engine(1000, 100, 0);
  EXPECT_EQ(bdd_setvarnum(3), 0);
  const int want[] = {2, 3, 4, 5, 6, 7};
  for (int v = 0; v < 3; v++) {
    EXPECT_EQ(bdd_ithvar(v), want[2 * v]);
    EXPECT_EQ(bdd_nithvar(v), want[2 * v + 1]);
    EXPECT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)v, 0, 1}));
    EXPECT_EQ(km::triple_of(bdd_nithvar(v)), (km::Triple{(unsigned)v, 1, 0}));
    EXPECT_EQ(km::refcount(bdd_ithvar(v)), 511u);
    EXPECT_EQ(km::refcount(bdd_nithvar(v)), 511u);
    EXPECT_EQ(bddvar2level[v], v);
    EXPECT_EQ(bddlevel2var[v], v);
  }
  EXPECT_EQ(fields(0).level, 3u);
  EXPECT_EQ(fields(1).level, 3u);
  EXPECT_EQ(bddvar2level[3], 3);
  EXPECT_EQ(bddlevel2var[3], 3);
  EXPECT_EQ(bdd_varnum(), 3);
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, VariableCountRangeAndGrowth) {
  start_engine(1000, 100, 0);
  EXPECT_EQ(bdd_setvarnum(0), 0);
  EXPECT_EQ(bdd_setvarnum(1024), 0);
  EXPECT_EQ(bdd_setvarnum(-4), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>(3, BDD_ERR_RANGE));
  EXPECT_EQ(bddvarnum, 0);
  recorded_errors.clear();

  EXPECT_EQ(bdd_setvarnum(5), 0);
  EXPECT_EQ(bdd_setvarnum(3), BDD_ERR_DECVARNUM);
  EXPECT_EQ(bdd_setvarnum(5), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_DECVARNUM});
  EXPECT_EQ(bddvarnum, 5);
  // Reordering is switched on again after both.
  bdd_autoreorder(REORDER_SIFT);
  bdd_varblockall();
  EXPECT_EQ(bdd_reorder_ready(), 1);
  bdd_autoreorder(REORDER_NONE);
  recorded_errors.clear();

  EXPECT_EQ(bdd_extvarnum(2), 5);
  EXPECT_EQ(bddvarnum, 7);
  EXPECT_EQ(bdd_extvarnum(-1), BDD_ERR_RANGE);
  EXPECT_EQ(bdd_extvarnum(0x40000000), BDD_ERR_RANGE);
  EXPECT_EQ(bdd_extvarnum(-2147483647 - 1), BDD_ERR_RANGE);
  EXPECT_EQ(recorded_errors, std::vector<int>(3, BDD_ERR_RANGE));
  recorded_errors.clear();
  // A huge but accepted count returns the old one although the growth fails.
  EXPECT_EQ(bdd_extvarnum(5000), 7);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_RANGE});
  EXPECT_EQ(bddvarnum, 7);

  EXPECT_EQ(bdd_setvarnum(1023), 0);
  EXPECT_EQ(bddvarnum, 1023);
  EXPECT_EQ(fields(1).level, 1023u);
  for (int v = 0; v < 1023; v++) {
    ASSERT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)v, 0, 1}));
    ASSERT_EQ(bddvar2level[v], v);
  }
  EXPECT_EQ(table_fault(), "");
  // The reference stack holds the deepest operator nesting.
  EXPECT_GE(bddrefstackend - bddrefstack, 2 * 1023 + 4);
}

TEST_F(Kernel, NewVariablesGoBelowAReorderedOrder) {
  start_engine(1000, 100, 3);
  ASSERT_EQ(bdd_swapvar(0, 2), 0);
  ASSERT_EQ(bddvar2level[0], 2);
  ASSERT_EQ(bddvar2level[2], 0);
  EXPECT_EQ(bdd_extvarnum(2), 3);
  const int v2l[] = {2, 1, 0, 3, 4, 5};
  const int l2v[] = {2, 1, 0, 3, 4, 5};
  for (int i = 0; i <= 5; i++) {
    EXPECT_EQ(bddvar2level[i], v2l[i]) << i;
    EXPECT_EQ(bddlevel2var[i], l2v[i]) << i;
  }
  for (int v = 0; v < 5; v++)
    EXPECT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)bddvar2level[v], 0, 1}));
  EXPECT_EQ(table_fault(), "");
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, TraceVariableSetsTheTraceFlag) {
  trace_enable = 0;
  unsetenv("CORVANE_TRACE_FILE");
  start_engine(100, 10, 0);
  EXPECT_EQ(trace_enable, 0);
  bdd_done();
  setenv("CORVANE_TRACE_FILE", "", 1);
  start_engine(100, 10, 0);
  unsetenv("CORVANE_TRACE_FILE");
  EXPECT_EQ(trace_enable, 1);
  EXPECT_EQ(trace_outputted, 0);
  trace_enable = 0;
}

TEST_F(Kernel, VariableNodesFailingToFitLeaveTheCountAlone) {
  start_engine(10, 10, 2);
  ASSERT_EQ(bddnodesize, 11);
  EXPECT_EQ(bdd_setmaxnodenum(12), 0);  // no prime between 11 and 12
  int f = bdd_makenode(0, bdd_ithvar(1), 1);
  bdd_addref(f);

  EXPECT_EQ(bdd_setvarnum(20), BDD_ERR_NODENUM);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(bddvarnum, 2);
  EXPECT_EQ(bdderrorcond, 17);
  EXPECT_EQ(fields(0).level, 2u);
  EXPECT_EQ(bdd_ithvar(2), 0);
  EXPECT_EQ(bdd_ithvar(1), 4);
  recorded_errors.clear();

  bdd_clear_error();
  bdd_gbc();
  EXPECT_EQ(table_fault(), "");
  EXPECT_EQ(km::triple_of(f), (km::Triple{0, bdd_ithvar(1), 1}));
  bdd_setmaxnodenum(0);
  EXPECT_EQ(bdd_setvarnum(20), 0);
  EXPECT_EQ(bddvarnum, 20);
  for (int v = 0; v < 20; v++) {
    ASSERT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)v, 0, 1}));
    ASSERT_EQ(km::triple_of(bdd_nithvar(v)), (km::Triple{(unsigned)v, 1, 0}));
  }
  EXPECT_EQ(km::triple_of(f), (km::Triple{0, bdd_ithvar(1), 1}));
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, ScansetReadsTheHighPath) {
  start_engine(1000, 100, 4);
  int *set = nullptr, num = -1;
  int s02 = bdd_makenode(0, 0, bdd_ithvar(2));
  ASSERT_EQ(bdd_scanset(s02, &set, &num), 0);
  ASSERT_EQ(num, 2);
  EXPECT_EQ(set[0], 0);
  EXPECT_EQ(set[1], 2);
  free(set);

  // After the two variables swap places the list follows the order.
  bdd_addref(s02);
  ASSERT_EQ(bdd_swapvar(0, 2), 0);
  set = nullptr;
  ASSERT_EQ(bdd_scanset(s02, &set, &num), 0);
  ASSERT_EQ(num, 2);
  EXPECT_EQ(set[0], 2);
  EXPECT_EQ(set[1], 0);
  free(set);

  for (int c : {0, 1}) {
    set = (int *)&num;
    num = 9;
    EXPECT_EQ(bdd_scanset(c, &set, &num), 0);
    EXPECT_EQ(num, 0);
    EXPECT_EQ(set, nullptr);
  }
  // Low children are not looked at.
  int g = bdd_makenode(bddvar2level[1], bdd_ithvar(3), bdd_nithvar(3));
  ASSERT_EQ(bdd_scanset(g, &set, &num), 0);
  ASSERT_EQ(num, 2);
  EXPECT_EQ(set[0], 1);
  EXPECT_EQ(set[1], 3);
  free(set);
  EXPECT_TRUE(recorded_errors.empty());

  EXPECT_EQ(bdd_scanset(-1, &set, &num), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_scanset(bddnodesize, &set, &num), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_scanset(bddnodesize - 1, &set, &num), BDD_ERR_ILLBDD);
  EXPECT_EQ(recorded_errors, std::vector<int>(3, BDD_ERR_ILLBDD));
}

// ---------------------------------------------------------------------------
// Variable duplication

TEST_F(Kernel, DuplicateFirstOfThree) {
  start_engine(1000, 100, 3);
  const int old_x0 = bdd_ithvar(0);
  ASSERT_EQ(old_x0, 2);
  EXPECT_EQ(bdd_duplicatevar(0), 3);
  EXPECT_EQ(bddvarnum, 4);
  const int order[] = {0, 3, 1, 2};
  for (int l = 0; l < 4; l++) {
    EXPECT_EQ(bddlevel2var[l], order[l]);
    EXPECT_EQ(bddvar2level[order[l]], l);
  }
  EXPECT_EQ(bddlevel2var[4], 4);
  EXPECT_EQ(bddvar2level[4], 4);
  // The former x0 node now reads x0 & !x3.
  EXPECT_EQ(km::triple_of(old_x0), (km::Triple{0, 0, bdd_nithvar(3)}));
  EXPECT_NE(bdd_ithvar(0), old_x0);
  EXPECT_EQ(km::triple_of(bdd_ithvar(0)), (km::Triple{0, 0, 1}));
  EXPECT_EQ(km::triple_of(bdd_ithvar(3)), (km::Triple{1, 0, 1}));
  EXPECT_EQ(km::triple_of(bdd_nithvar(3)), (km::Triple{1, 1, 0}));
  EXPECT_EQ(km::triple_of(bdd_ithvar(2)), (km::Triple{3, 0, 1}));
  EXPECT_EQ(fields(0).level, 4u);
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(table_fault(), "");
}

// Random functions over all variables are compared, assignment by
// assignment, with their value before the duplication: a path through a
// node of the duplicated variable now also needs the new variable at 0,
// every other path is unchanged.
void check_duplication(int varnum, int var, unsigned seed, int count) {
  SCOPED_TRACE(testing::Message() << "varnum " << varnum << " var " << var << " seed " << seed);
  if (bdd_isrunning()) bdd_done();
  start_engine(4000, 100, varnum);
  std::mt19937 rng(seed);
  std::vector<int> nodes = km::random_dag(rng, count);
  std::vector<int> roots;
  for (int k = 0; k < 25 && !nodes.empty(); k++) {
    int r = nodes[rng() % nodes.size()];
    bdd_addref(r);
    roots.push_back(r);
  }
  roots.push_back(nodes.back());
  bdd_addref(nodes.back());
  km::Snapshot before;
  for (int r : roots) before.add(r);
  bdd_gbc();
  std::map<int, unsigned> counts;
  for (auto &e : before.nodes) counts[e.first] = km::refcount(e.first);

  const int n = bdd_duplicatevar(var);
  ASSERT_EQ(n, varnum);
  ASSERT_EQ(bddvarnum, varnum + 1);
  ASSERT_EQ(table_fault(), "");
  EXPECT_TRUE(recorded_errors.empty());

  // Levels: a permutation with the new variable right below var.
  std::vector<int> seen((size_t)varnum + 1, 0);
  for (int l = 0; l <= varnum; l++) {
    ASSERT_EQ(bddvar2level[bddlevel2var[l]], l);
    seen[(size_t)bddlevel2var[l]]++;
  }
  for (int c : seen) ASSERT_EQ(c, 1);
  // Rewriting nodes in place leaves their reference counts as they were.
  for (auto &c : counts) ASSERT_EQ(km::refcount(c.first), c.second) << c.first;
  EXPECT_EQ(bddvar2level[n], bddvar2level[var] + 1);
  for (int v = 0; v <= varnum; v++) {
    ASSERT_EQ(km::triple_of(bdd_ithvar(v)), (km::Triple{(unsigned)bddvar2level[v], 0, 1}));
    ASSERT_EQ(km::triple_of(bdd_nithvar(v)), (km::Triple{(unsigned)bddvar2level[v], 1, 0}));
    ASSERT_EQ(km::refcount(bdd_ithvar(v)), 511u);
  }

  std::vector<int> assign((size_t)varnum + 1);
  const unsigned total = 1u << (varnum + 1);
  for (unsigned bits = 0; bits < total; bits++) {
    for (int v = 0; v <= varnum; v++) assign[(size_t)v] = (bits >> v) & 1;
    for (int r : roots) {
      bool tested;
      bool old = before.eval(r, assign, var, &tested);
      bool want = old && !(tested && assign[(size_t)n]);
      ASSERT_EQ(km::eval_table(r, assign), want) << "root " << r << " bits " << bits;
    }
  }
  bdd_done();
}

TEST_F(Kernel, DuplicateLowestMiddleAndTopVariable) {
  for (unsigned seed = 1; seed <= 3; seed++) {
    check_duplication(6, 5, seed, 600);  // lowest
    check_duplication(6, 2, seed, 600);  // middle
    check_duplication(6, 0, seed, 600);  // top
    check_duplication(1, 0, seed, 5);
    check_duplication(2, 0, seed, 10);
  }
}

TEST_F(Kernel, DuplicateAfterReorderAndRepeatedly) {
  start_engine(4000, 100, 5);
  std::mt19937 rng(9);
  std::vector<int> nodes = km::random_dag(rng, 400);
  for (int r : nodes) bdd_addref(r);
  ASSERT_EQ(bdd_swapvar(1, 3), 0);
  ASSERT_EQ(bddvar2level[1], 3);
  for (int round = 0; round < 6; round++) {
    int var = (int)(rng() % (unsigned)bddvarnum);
    const int lev = bddvar2level[var];
    ASSERT_EQ(bdd_duplicatevar(var), 5 + round);
    EXPECT_EQ(bddvar2level[5 + round], lev + 1);
    EXPECT_EQ(bddlevel2var[lev + 1], 5 + round);
    ASSERT_EQ(table_fault(), "");
  }
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, DuplicateRefusals) {
  start_engine(1000, 100, 3);
  EXPECT_EQ(bdd_duplicatevar(-1), 0);
  EXPECT_EQ(bdd_duplicatevar(3), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>(2, BDD_ERR_UNKNOWN_VAR));
  EXPECT_EQ(bddvarnum, 3);
  bdd_done();

  // At the variable limit the duplication fails before touching any node.
  start_engine(3000, 100, 1023);
  ASSERT_EQ(bddvarnum, 1023);
  std::mt19937 rng(4);
  std::vector<int> nodes = km::random_dag(rng, 300);
  std::vector<BddNode> copy(bddnodes, bddnodes + bddnodesize);
  const int freepos = bddfreepos, freenum = bddfreenum, size = bddnodesize;
  std::vector<int> v2l(bddvar2level, bddvar2level + 1024);
  recorded_errors.clear();
  EXPECT_EQ(bdd_duplicatevar(500), 0);
  EXPECT_FALSE(recorded_errors.empty());
  EXPECT_EQ(bddvarnum, 1023);
  ASSERT_EQ(bddnodesize, size);
  EXPECT_EQ(bddfreepos, freepos);
  EXPECT_EQ(bddfreenum, freenum);
  EXPECT_EQ(memcmp(copy.data(), bddnodes, sizeof(BddNode) * (size_t)size), 0);
  EXPECT_EQ(std::vector<int>(bddvar2level, bddvar2level + 1024), v2l);
}

TEST_F(Kernel, DuplicateWhileTheTableMustGrow) {
  // The rewritten level needs new nodes: with a full table they come from
  // collections and growth in the middle of the duplication.
  start_engine(2000, 10, 4);
  std::mt19937 rng(12);
  std::vector<int> roots;
  for (int k = 0; k < 12; k++) {
    std::vector<int> nodes = km::random_dag(rng, 20);
    for (int r : nodes) bdd_addref(r);
    roots.insert(roots.end(), nodes.begin(), nodes.end());
  }
  km::Snapshot before;
  for (int r : roots) before.add(r);
  Chain pad;
  pad.levels = 4;
  pad.fill();
  const int size = bddnodesize;
  ASSERT_EQ(bdd_duplicatevar(1), 4);
  EXPECT_GT(bddnodesize, size);
  ASSERT_EQ(table_fault(false), "");
  std::vector<int> assign(5);
  for (unsigned bits = 0; bits < 32; bits++) {
    for (int v = 0; v < 5; v++) assign[(size_t)v] = (bits >> v) & 1;
    for (int r : roots) {
      bool tested;
      bool old = before.eval(r, assign, 1, &tested);
      ASSERT_EQ(km::eval_table(r, assign), old && !(tested && assign[4]));
    }
  }
  EXPECT_TRUE(recorded_errors.empty());
}

}  // namespace
