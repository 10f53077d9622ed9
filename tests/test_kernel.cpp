// Kernel: start-up, node creation and the unique table, references and
// collection, growth, the node limit, variables and variable duplication.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <functional>
#include <regex>

#include "kernel_model.h"
#include "src/kernel_internal.h"
#include "support.h"

namespace {

using km::fields;
using km::table_fault;
using km::Triple;
using V = std::vector<int>;

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

// Results of calls (a braced list runs them in order) must match `want`,
// and each call must have raised `code` once.
void expect_refused(const V &got, const V &want, int code) {
  EXPECT_EQ(got, want);
  EXPECT_EQ(recorded_errors, code ? V(want.size(), code) : V());
  recorded_errors.clear();
}

// A chain of distinct nodes kept alive through one reference on its top:
// each link is (level, 0, previous top), walked through high children.
struct Chain {
  int top = 1, length = 0, levels = 8;
  int add() {
    int n = bdd_makenode((unsigned)(length % levels), 0, top);
    if (n == 0) return 0;
    bdd_addref(n);
    if (top > 1) bdd_delref(top);
    top = n;
    length++;
    return n;
  }
  void fill() {  // until the free list is empty
    while (bddfreenum > 0) ASSERT_NE(add(), 0);
  }
};

// Every variable node sits at its variable's level and is saturated.
void expect_variable_nodes() {
  for (int v = 0; v < bddvarnum; v++) {
    const unsigned lev = (unsigned)bddvar2level[v];
    ASSERT_EQ(km::triple_of(bdd_ithvar(v)), (Triple{lev, 0, 1})) << v;
    ASSERT_EQ(km::triple_of(bdd_nithvar(v)), (Triple{lev, 1, 0})) << v;
    ASSERT_EQ(km::refcount(bdd_ithvar(v)), MAX_REFCOUNT) << v;
    ASSERT_EQ(km::refcount(bdd_nithvar(v)), MAX_REFCOUNT) << v;
  }
}

V range(int from, int to) {  // from .. to-1
  V v;
  for (int i = from; i < to; i++) v.push_back(i);
  return v;
}

// ---------------------------------------------------------------------------
// Start-up, shut-down and refusals

// Without an engine calls return their codes (no handler yet). Each start
// sizes the table to a prime and lays out the free list; the trace
// variable's presence alone sets the flag; shut-down clears everything.
TEST_F(Kernel, StartupSizesFreeListAndVariableNodes) {
  ASSERT_EQ(bdd_isrunning(), 0);
  int *set = nullptr, num = 0;
  EXPECT_EQ((V{bdd_var(2), bdd_low(0), bdd_high(-1), bdd_scanset(2, &set, &num),
               bdd_setvarnum(3), bdd_error(-1)}),
            (V{BDD_ERR_RUNNING, BDD_ERR_RUNNING, BDD_ERR_RUNNING, BDD_ERR_RUNNING,
               BDD_ERR_RUNNING, -1}));
  EXPECT_EQ((V{bdd_ithvar(0), bdd_addref(5), bdd_delref(5), bdd_duplicatevar(0),
               bdd_setallocnum(5000), bddvarnum, bddnodesize, bdd_getnodenum()}),
            (V{0, 5, 5, 0, 0, 0, 0, 0}));
  const int sizes[][3] = {{1000, 100, 1009}, {0, 0, 3},   {1, 1, 3},
                          {2, 2, 3},         {-5, -7, 3}, {-2147483647 - 1, -1, 3}};
  for (int traced = 0; traced < 6; traced++) {
    const int *s = sizes[traced];
    SCOPED_TRACE(s[0]);
    trace_enable = 0;
    if (traced % 2) setenv("CORVANE_TRACE_FILE", "", 1);
    start_engine(s[0], s[1], 0);
    unsetenv("CORVANE_TRACE_FILE");
    ASSERT_EQ(bddrunning, 1);
    EXPECT_EQ((V{trace_enable, trace_outputted}), (V{traced % 2, 0}));
    EXPECT_EQ((V{bddnodesize, bdd_getallocnum(), bddfreenum, bddvarnum, bdd_getnodenum()}),
              (V{s[2], s[2], s[2] - 2, 0, 2}));
    EXPECT_EQ(km::free_list(), range(2, s[2]));
    EXPECT_EQ(fields(0).level + fields(1).level, 0u);
    EXPECT_EQ(table_fault(), "");
    // Fresh variables: identity order, constants below, and in a table
    // that needs no growth the first free slots in order.
    EXPECT_EQ(bdd_setvarnum(5), 0);
    EXPECT_EQ((V{bdd_varnum(), bddproduced}), (V{5, 10}));
    expect_variable_nodes();
    EXPECT_EQ(V(bddvar2level, bddvar2level + 6), range(0, 6));
    EXPECT_EQ(V(bddlevel2var, bddlevel2var + 6), range(0, 6));
    if (s[2] == 1009) {
      for (int v = 0; v < 5; v++)
        EXPECT_EQ((V{bdd_ithvar(v), bdd_nithvar(v)}), (V{2 + 2 * v, 3 + 2 * v}));
    }
    EXPECT_EQ(fields(0).level, 5u);
    EXPECT_EQ(fields(1).level, 5u);
    EXPECT_EQ(table_fault(), "");
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
    EXPECT_EQ((V{bdd_isrunning(), bddnodesize, bddmaxnodesize, bddproduced, bddvarnum}), V(5, 0));
    EXPECT_EQ((std::vector<const void *>{bddnodes, bddrefstack, bddvar2level}),
              std::vector<const void *>(3, nullptr));
  }
  trace_enable = 0;
}

TEST_F(Kernel, SecondInitRefusedAndLimitSetBeforeStartUp) {
  EXPECT_EQ(bdd_setmaxnodenum(3000), 0);
  start_engine(1000, 100, 3);
  EXPECT_EQ(bddmaxnodesize, 3000);  // a limit set before start-up stays
  int f = bdd_addref(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)));
  int freenum = bddfreenum;
  lrand48();
  lrand48();
  EXPECT_EQ(bdd_init(5000, 10), BDD_ERR_RUNNING);
  EXPECT_EQ(recorded_errors, V{BDD_ERR_RUNNING});
  // Our handler and table survive; the generator was seeded again anyway.
  EXPECT_EQ((V{bddnodesize, bddfreenum, bddvarnum}), (V{1009, freenum, 3}));
  EXPECT_EQ(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)), f);
  long after_init = lrand48();
  srand48(48879);
  EXPECT_EQ(after_init, lrand48());
  EXPECT_EQ(table_fault(), "");
}

// Refused calls return their code, raise it once and change nothing; the
// settings hand back their previous value.
TEST_F(Kernel, RefusalsAndSettings) {
  start_engine(1000, 100, 3);
  const int f = bdd_makenode(1, bdd_nithvar(2), 1);  // no reference
  const int size = bddnodesize, freeslot = size - 1, INTMIN = -2147483647 - 1;
  const int ILL = BDD_ERR_ILLBDD, RANGE = BDD_ERR_RANGE, NODES = BDD_ERR_NODES;
  int *set = nullptr, num = 0;
  expect_refused({bdd_var(f), bdd_low(f), bdd_high(f), bdd_var(bdd_nithvar(2)), bdd_true(),
                  bdd_false(), bddtrue, bddfalse, bdd_setvarnum(3)},
                 {1, bdd_nithvar(2), 1, 2, 1, 0, 1, 0, 0}, 0);
  expect_refused({bdd_var(0), bdd_low(1), bdd_high(-1), bdd_var(size), bdd_low(freeslot),
                  bdd_addref(size), bdd_delref(size), bdd_addref(2147483647), bdd_addref(freeslot),
                  bdd_delref(freeslot), bdd_scanset(-1, &set, &num), bdd_scanset(size, &set, &num),
                  bdd_scanset(freeslot, &set, &num)},
                 V(13, ILL), ILL);
  expect_refused({bdd_ithvar(3), bdd_ithvar(-1), bdd_nithvar(3), bdd_nithvar(INTMIN),
                  bdd_duplicatevar(-1), bdd_duplicatevar(3)},
                 V(6, 0), BDD_ERR_UNKNOWN_VAR);
  expect_refused({bdd_delref(f)}, {f}, BDD_ERR_BREAK);
  expect_refused({bdd_setvarnum(2)}, {BDD_ERR_DECVARNUM}, BDD_ERR_DECVARNUM);
  // The last count is accepted but too large: the old count comes back.
  expect_refused({bdd_setvarnum(0), bdd_setvarnum(1024), bdd_setvarnum(-4), bdd_extvarnum(-1),
                  bdd_extvarnum(0x40000000), bdd_extvarnum(INTMIN), bdd_setminfreenodes(101),
                  bdd_setminfreenodes(-1), bdd_extvarnum(5000)},
                 {0, 0, 0, RANGE, RANGE, RANGE, RANGE, RANGE, 3}, RANGE);
  expect_refused({bdd_setmaxincrease(-1)}, {BDD_ERR_SIZE}, BDD_ERR_SIZE);
  for (double x : {1.0, -3.0, std::nan("")}) EXPECT_EQ(bdd_setincreasefactor(x), -19.0) << x;
  EXPECT_EQ(recorded_errors, V(3, BDD_ERR_SIZE));
  recorded_errors.clear();
  expect_refused({bdd_setmaxnodenum(1009), bdd_setmaxnodenum(500), bdd_setmaxnodenum(-1)},
                 V(3, NODES), NODES);
  // Constants and negative numbers are silently left alone.
  for (int r : {0, 1, -5, INTMIN}) expect_refused({bdd_addref(r), bdd_delref(r)}, {r, r}, 0);
  // Settings chain through their previous values.
  expect_refused({bdd_setminfreenodes(100), bdd_setminfreenodes(0), bdd_setminfreenodes(20),
                  bdd_setmaxincrease(0), bdd_setmaxincrease(77), bdd_setmaxnodenum(1010),
                  bdd_setmaxnodenum(0)},
                 {20, 100, 0, 10000000, 0, 0, 1010}, 0);
  EXPECT_EQ(bdd_setincreasefactor(1.5), 2.0);
  EXPECT_EQ(bdd_setincreasefactor(2.0), 1.5);

  EXPECT_EQ((V{bddvarnum, bddmaxnodesize, bddmaxnodeincrease}), (V{3, 0, 77}));
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ((V{(int)km::refcount(f), (int)km::refcount(0), (int)km::refcount(1),
               (int)km::refcount(freeslot)}),
            (V{0, MAX_REFCOUNT, MAX_REFCOUNT, 0}));
  EXPECT_EQ(table_fault(), "");
  // A refused variable count switches reordering on again.
  bdd_autoreorder(REORDER_SIFT);
  bdd_varblockall();
  EXPECT_EQ(bdd_reorder_ready(), 1);
  bdd_autoreorder(REORDER_NONE);
  bdd_gbc();  // f had no reference
  expect_refused({bdd_var(f)}, {ILL}, ILL);
  // Start-up restores factor and step.
  bdd_done();
  start_engine(1000, 100, 0);
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ(bddmaxnodeincrease, 10000000);
}

// ---------------------------------------------------------------------------
// Node creation, references and collection

// A collection keeps exactly what the counts and the reference stack reach,
// leaves every kept node in its slot with its contents, and rebuilds chains
// and an ascending free list.
TEST_F(Kernel, CollectionKeepsExactlyTheReachableNodes) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    SCOPED_TRACE(seed);
    start_engine(30000, 100, 16);
    std::mt19937 rng(seed);
    const int gcs = gc_count();
    V nodes = km::random_dag(rng, 8000);
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
    V roots = range(2, 2 + 2 * bddvarnum);  // the variable nodes
    for (auto &c : counts)
      if (c.second > 0) roots.push_back(c.first);
    // Stacked nodes that only the reference stack keeps alive.
    const std::set<int> counted = km::reachable(roots);
    bddrefstacktop = bddrefstack;
    for (int k = 0; k < 500 && bddrefstacktop - bddrefstack < 5; k++) {
      int n = nodes[rng() % nodes.size()];
      if (!counted.count(n)) *bddrefstacktop++ = n;
      if (!counted.count(n)) roots.push_back(n);
    }
    ASSERT_EQ(bddrefstacktop - bddrefstack, 5);
    std::set<int> expected = km::reachable(roots);
    std::map<int, Triple> contents;
    for (int n : expected) contents[n] = km::triple_of(n);
    ASSERT_LT(expected.size(), nodes.size());  // something must go

    bdd_gbc();
    bddrefstacktop = bddrefstack;
    EXPECT_EQ(km::live_nodes(), expected);
    for (auto &c : contents) ASSERT_EQ(km::triple_of(c.first), c.second);
    for (auto &c : counts) ASSERT_EQ(km::refcount(c.first), (unsigned)c.second);
    V list = km::free_list();
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ(table_fault(), "");
    EXPECT_TRUE(recorded_errors.empty());
    // The unique table finds every survivor again.
    for (auto &c : contents)
      ASSERT_EQ(bdd_makenode(c.second.level, c.second.low, c.second.high), c.first);
    // With every count released only the variable nodes stay, and the free
    // list is every other slot in ascending order.
    for (auto &c : counts)
      for (; c.second > 0; c.second--) bdd_delref(c.first);
    bdd_gbc();
    EXPECT_EQ(km::free_list(), range(2 + 2 * bddvarnum, bddnodesize));
    EXPECT_EQ(table_fault(), "");
    bdd_done();
  }
}

// The count is split over two words: walks up and down across its 5-bit
// boundary, then up to saturation, where it stays for good.
TEST_F(Kernel, CountsCrossTheSplitAndSaturate) {
  start_engine(1000, 100, 3);
  const int f = bdd_makenode(0, bdd_ithvar(1), 1), g = bdd_makenode(1, 0, bdd_ithvar(2));
  bdd_addref(g);
  for (int step = 0; step < 160; step++) {  // 0 up to 40, down to 0, twice
    const int want = 40 - std::abs(step % 80 - 40) + (step % 80 < 40 ? 1 : -1);
    ASSERT_EQ(step % 80 < 40 ? bdd_addref(f) : bdd_delref(f), f);
    ASSERT_EQ(km::refcount(f), (unsigned)want) << step;
    ASSERT_FALSE(fields(f).mark);
  }
  for (int i = 0; i < 600; i++) bdd_addref(f);
  EXPECT_EQ(km::refcount(f), MAX_REFCOUNT);
  for (int i = 0; i < 600; i++) ASSERT_EQ(bdd_delref(f), f);
  EXPECT_EQ(km::refcount(f), MAX_REFCOUNT);
  // The count bits never spill into a neighbour or the hash and next fields.
  EXPECT_EQ(km::refcount(g), 1u);
  EXPECT_EQ(table_fault(), "");
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, MarkingWalksCoverTheirSubgraphs) {
  start_engine(20000, 100, 12);
  std::mt19937 rng(5);
  V nodes = km::random_dag(rng, 3000);
  auto expect_marks = [](const std::set<int> &want) {
    for (int n = 2; n < bddnodesize; n++) ASSERT_EQ(fields(n).mark, want.count(n) == 1) << n;
  };
  for (int trial = 0; trial < 20; trial++) {
    int root = nodes[rng() % nodes.size()];
    int count = 0, again = 0;
    bdd_markcount(root, &count);
    std::set<int> below = km::reachable({root});
    EXPECT_EQ(count, (int)below.size());
    expect_marks(below);
    bdd_markcount(root, &again);
    EXPECT_EQ(again, 0);  // already marked nodes are not counted twice
    bdd_unmark(root);
    ASSERT_EQ(table_fault(), "");
    // Bounded walks stop below a level.
    unsigned limit = (unsigned)(rng() % 12);
    bdd_mark_upto(root, (int)limit);
    expect_marks(km::reachable({root}, limit));
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
  EXPECT_TRUE(fields(fields(r).low).mark && fields(fields(r).high).mark);
  bdd_unmark(fields(r).low);
  bdd_unmark(fields(r).high);
  EXPECT_EQ(table_fault(), "");
}

std::vector<std::pair<int, GbcStat>> gbc_calls;
void record_gbc(int pre, GbcStat *s) { gbc_calls.push_back({pre, *s}); }
std::vector<V> resize_calls;  // old size, new size, size seen during the call
void record_resize(int oldsize, int newsize) {
  resize_calls.push_back({oldsize, newsize, bddnodesize});
}

TEST_F(Kernel, CollectionHandlersSeeBothSidesOfEachCollection) {
  start_engine(1000, 100, 2);
  gbc_calls.clear();
  bdd_gbc_hook(record_gbc);
  for (int i = 0; i < 50; i++) bdd_makenode(0, 0, 2 + i % 4);
  const int before = bddfreenum;
  bdd_gbc();
  const int after = bddfreenum;
  bdd_gbc();
  EXPECT_GT(after, before);
  ASSERT_EQ(gbc_calls.size(), 4u);
  // pre, nodes, free nodes, collections so far; times: none before,
  // accumulated after.
  const int want[4][4] = {
      {1, 1009, before, 0}, {0, 1009, after, 1}, {1, 1009, after, 1}, {0, 1009, after, 2}};
  for (int k = 0; k < 4; k++) {
    const auto &g = gbc_calls[(size_t)k];
    EXPECT_EQ((V{g.first, g.second.nodes, g.second.freenodes, g.second.num}),
              V(want[k], want[k] + 4)) << k;
  }
  const GbcStat &a = gbc_calls[0].second, &b = gbc_calls[1].second, &c = gbc_calls[2].second,
                &d = gbc_calls[3].second;
  EXPECT_EQ((V{a.time, a.sumtime, b.sumtime, c.time, c.sumtime, d.sumtime}),
            (V{0, 0, b.time, 0, b.sumtime, b.sumtime + d.time}));
  EXPECT_GE(b.time, 0);
  EXPECT_EQ(gc_count(), 2);
  EXPECT_EQ(bdd_gbc_hook(bdd_default_gbchandler), record_gbc);

  // The default handler prints one line, after the collection only.
  std::string out = capture_stdout(bdd_gbc);
  EXPECT_TRUE(std::regex_match(out, std::regex("Garbage collection #3: 1009 nodes / 1003 free / "
                                               "[0-9]+\\.[0-9]s / [0-9]+\\.[0-9]s total\n")))
      << out;
  GbcStat s = {10, 5, (int)CLOCKS_PER_SEC / 2, 3 * (int)CLOCKS_PER_SEC / 2, 3};
  EXPECT_EQ(capture_stdout([&] { bdd_default_gbchandler(1, &s); }), "");
  EXPECT_EQ(capture_stdout([&] { bdd_default_gbchandler(0, &s); }),
            "Garbage collection #3: 10 nodes / 5 free / 0.5s / 1.5s total\n");
}

// ---------------------------------------------------------------------------
// Growth, the node limit and the restart jump

TEST_F(Kernel, GrowthFollowsFactorStepAndLimit) {
  const struct {
    double factor;
    int step, limit;
  } settings[] = {{2.0, 10000000, 0}, {1.5, 10000000, 0}, {3.0, 700, 0},
                  {2.0, 10000000, 5000}, {1.1, 50, 0}};
  for (const auto &set : settings) {
    SCOPED_TRACE(set.factor);
    start_engine(1000, 100, 4);
    EXPECT_EQ(bdd_setincreasefactor(set.factor), 2.0);
    EXPECT_EQ((V{bdd_setmaxincrease(set.step), bdd_setmaxnodenum(set.limit)}), (V{10000000, 0}));
    resize_calls.clear();
    bdd_resize_hook(record_resize);
    Chain c;
    V sizes = {bddnodesize};
    for (int round = 0; round < 4; round++) {
      c.fill();
      const int gcs = gc_count();
      int n = c.add();
      if (set.limit && sizes.back() >= (int)odd_prime_lte(set.limit)) {
        EXPECT_EQ(n, 0);  // the limit is reached: no further growth
        EXPECT_EQ(recorded_errors, V{BDD_ERR_NODENUM});
        break;
      }
      ASSERT_NE(n, 0);
      EXPECT_EQ(gc_count(), gcs + 1);  // a collection came first
      const long long old = sizes.back();
      long long want = std::min((long long)((double)old * set.factor), old + set.step);
      if (set.limit && want > set.limit) want = set.limit;
      sizes.push_back(bddnodesize);
      EXPECT_EQ(bddnodesize, (int)odd_prime_lte((unsigned)want));
      ASSERT_EQ(resize_calls.size(), (size_t)round + 1);
      EXPECT_EQ(resize_calls.back(), (V{(int)old, bddnodesize, bddnodesize}));
      ASSERT_EQ(table_fault(false), "");
    }
    // Every link of the chain is where it was created.
    int n = c.top, links = 0;
    for (; n > 1; links++) n = fields(n).high;
    EXPECT_EQ(links, c.length);
    bdd_done();
    bdd_setmaxnodenum(0);
  }
}

// Growth after a collection happens exactly when at most minfreenodes
// percent of the table came free.
TEST_F(Kernel, GrowthTriggerIsTheFreePercentage) {
  // {garbage nodes, minfree, grows}; 1009 slots: 202 free is 20 %, 212 is 21 %.
  const int cases[][3] = {{150, 20, 1}, {202, 20, 1}, {211, 20, 1}, {212, 20, 0},
                          {300, 20, 0}, {300, 30, 1}, {10, 0, 1},   {11, 0, 0},
                          {600, 100, 1}, {10, 1, 1},  {31, 2, 0}};
  for (const auto &k : cases) {
    SCOPED_TRACE(testing::Message() << k[0] << " free, minfree " << k[1]);
    start_engine(1000, 100, 4);
    EXPECT_EQ(bdd_setminfreenodes(k[1]), 20);
    // Unreferenced nodes (level, 1, variable node), distinct from the chain.
    for (int i = 0; i < k[0]; i++)
      ASSERT_GT(bdd_makenode((unsigned)(10 + i % 100), 1, 2 + i / 100), 1);
    Chain c;
    c.fill();
    ASSERT_EQ(bddnodesize, 1009);
    ASSERT_NE(c.add(), 0);
    EXPECT_EQ(bddnodesize != 1009, k[2] == 1);
    EXPECT_EQ(table_fault(false), "");
    bdd_done();
    bdd_setminfreenodes(20);
  }
}

// A collection followed by growth may leave its sweep to the growth's
// rehash, but only unseen: the same operations give the same nodes, the
// same free list, the same collection reports and a sound table whether
// no handler, a recording collection handler, a resize handler or the
// default printer is installed (the handlers count a kept function's nodes,
// which walks its marks), whether growth happens or is refused by the
// node limit, and whether automatic reordering restarts operations.
TEST_F(Kernel, CollectionBeforeGrowthIsTheSameWhoeverWatches) {
  enum { NONE, RECORDER, RESIZER, PRINTER };
  static int watched = 0, watched_size = 0;
  static BDD kept_root;
  static std::string faults, reports;
  static int mode;
  struct Run {
    V results, free_list;
    int size, collections;
    std::string reports;
  };
  auto look = [] {
    watched++;
    if (bdd_nodecount(kept_root) != watched_size) faults += "count ";
    // A resize handler runs before the new slots are laid out, so only
    // the collection handler checks the whole table.
    if (mode == RECORDER) faults += table_fault(false);
  };
  static std::function<void()> look_fn;
  look_fn = look;
  auto run = [](int how, int limit, bool reorder) {
    mode = how;
    start_engine(1000, 100, 12);
    bdd_setmaxnodenum(limit);
    if (reorder) {
      bdd_varblockall();
      bdd_autoreorder(REORDER_SIFT);
    }
    watched = 0;
    faults.clear();
    reports.clear();
    kept_root = bdd_addref(bdd_and(bdd_ithvar(0), bdd_ithvar(11)));
    watched_size = bdd_nodecount(kept_root);
    if (how == RECORDER)
      bdd_gbc_hook([](int pre, GbcStat *s) {
        if (pre) return;
        look_fn();
        reports += "Garbage collection #" + std::to_string(s->num) + ": " +
                   std::to_string(s->nodes) + " nodes / " + std::to_string(s->freenodes) +
                   " free\n";
      });
    if (how == RESIZER) bdd_resize_hook([](int, int) { look_fn(); });
    if (how == PRINTER) bdd_gbc_hook(bdd_default_gbchandler);
    Run r;
    const std::string printed = capture_stdout([&] {
      std::mt19937 rng(21);
      V held = {bdd_ithvar(0)};
      bdd_addref(held[0]);
      for (int step = 0; step < 400; step++) {
        const BDD a = held[rng() % held.size()], c = held[rng() % held.size()];
        const BDD b = bdd_xor(c, bdd_ithvar((int)(rng() % 12)));
        const int op = (int)(rng() % 3);
        BDD x = op == 0 ? bdd_xor(a, b) : op == 1 ? bdd_or(a, bdd_not(b)) : bdd_and(a, b);
        r.results.push_back(x);
        if (x == 0 && !recorded_errors.empty()) break;  // the limit was reached
        held.push_back(bdd_addref(x));
        if (held.size() > 200) bdd_delref(held[rng() % held.size()]);
      }
    });
    if (how == PRINTER) {  // the printed lines without their times
      std::regex times(" / [0-9.]+s / [0-9.]+s total");
      reports = std::regex_replace(printed, times, "");
    }
    r.reports = reports;
    r.size = bddnodesize;
    r.collections = gc_count();
    r.free_list = km::free_list();
    EXPECT_EQ(table_fault(false), "") << how;
    EXPECT_EQ(faults, "") << how;
    EXPECT_TRUE(how == NONE || how == PRINTER || watched > 0) << how;
    bdd_done();
    bdd_setmaxnodenum(0);
    recorded_errors.clear();
    return r;
  };
  for (bool reorder : {false, true})
    for (int limit : {0, 3000}) {
      SCOPED_TRACE(testing::Message() << "limit " << limit << ", reordering " << reorder);
      const Run plain = run(NONE, limit, reorder);
      EXPECT_GT(plain.collections, 1);
      EXPECT_GT(plain.size, 1009);
      const Run recorded = run(RECORDER, limit, reorder);
      EXPECT_NE(recorded.reports, "");
      for (const Run &seen : {recorded, run(RESIZER, limit, reorder), run(PRINTER, limit, reorder)}) {
        EXPECT_EQ(seen.results, plain.results);
        EXPECT_EQ(seen.free_list, plain.free_list);
        EXPECT_EQ((V{seen.size, seen.collections}), (V{plain.size, plain.collections}));
      }
      EXPECT_EQ(run(PRINTER, limit, reorder).reports, recorded.reports);
    }
}

// Nodes keep their slot and contents, and the unique table finds them.
void expect_kept(const std::map<int, Triple> &live) {
  for (auto &l : live) ASSERT_EQ(km::triple_of(l.first), l.second);
  EXPECT_EQ(table_fault(), "");
  for (auto &l : live)
    ASSERT_EQ(bdd_makenode(l.second.level, l.second.low, l.second.high), l.first);
  EXPECT_EQ(km::live_nodes().size(), live.size());
}

std::map<int, Triple> live_contents() {
  std::map<int, Triple> live;
  for (int n : km::live_nodes()) live[n] = km::triple_of(n);
  return live;
}

// Growth without a rehash (as the reordering engine grows) appends the new
// slots in front of the old free list and leaves the old chains alone; a
// rehash from cleared heads then makes the table whole again. Explicit
// growth rounds to a prime, never shrinks and ignores limit and step.
TEST_F(Kernel, ExplicitGrowthKeepsEveryNode) {
  start_engine(1000, 100, 6);
  std::mt19937 rng(8);
  V nodes = km::random_dag(rng, 200);
  for (size_t i = 0; i < nodes.size(); i += 2) bdd_addref(nodes[i]);
  bdd_gbc();
  const V oldlist = km::free_list();
  const int oldfree = bddfreenum;
  std::vector<unsigned> heads;
  for (int n = 0; n < 1009; n++) heads.push_back(bddnodes[n].word0);
  const auto live = live_contents();

  resize_calls.clear();
  bdd_resize_hook(record_resize);
  EXPECT_EQ(bdd_noderesize2(0, 1009, 3000), 0);
  const int size = (int)odd_prime_lte(3000);
  ASSERT_EQ(bddnodesize, size);
  EXPECT_EQ(bddfreenum, oldfree + size - 1009);
  V want = range(1009, size);
  want.insert(want.end(), oldlist.begin(), oldlist.end());
  EXPECT_EQ(km::free_list(), want);
  for (int n = 0; n < 1009; n++) ASSERT_EQ(bddnodes[n].word0, heads[(size_t)n]) << n;
  for (auto &l : live) ASSERT_EQ(km::triple_of(l.first), l.second);
  for (int n = 0; n < bddnodesize; n++) bddnodes[n].word0 &= ~km::kIndexMask;
  bdd_gbc_rehash();
  V list = km::free_list();
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
  expect_kept(live);

  EXPECT_EQ((V{bdd_setallocnum(500), bdd_setallocnum(size), bdd_setallocnum(-3), bddnodesize}),
            V(4, size));
  EXPECT_EQ(bdd_setallocnum(5000), size);
  EXPECT_EQ(resize_calls, (std::vector<V>{{1009, size, size}, {size, 4999, 4999}}));
  EXPECT_EQ(bdd_setallocnum(5002), 4999);  // 4999 is still the largest prime
  EXPECT_EQ(bddnodesize, 4999);
  bdd_setmaxnodenum(6000);
  bdd_setmaxincrease(10);
  EXPECT_EQ(bdd_setallocnum(20000), 4999);
  EXPECT_EQ(bddnodesize, (int)odd_prime_lte(20000));
  expect_kept(live);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, NodeLimitFailsOnceThenSilentlyUntilCleared) {
  start_engine(1000, 100, 4);
  EXPECT_EQ(bdd_setmaxnodenum(1010), 0);  // no prime fits between
  Chain c;
  c.fill();
  const int gcs = gc_count();
  EXPECT_EQ(c.add(), 0);
  EXPECT_EQ(recorded_errors, V{BDD_ERR_NODENUM});
  EXPECT_EQ((V{bdderrorcond, gc_count(), bddnodesize}), (V{17, gcs + 1, 1009}));
  // Later creations fail at once: no collection, no second error, even
  // once the limit is lifted. Existing triples are still found.
  EXPECT_EQ(bdd_makenode(3, 0, c.top), 0);
  EXPECT_EQ(bdd_makenode(5, 1, c.top), 0);
  EXPECT_EQ(bdd_makenode(fields(c.top).level, 0, fields(c.top).high), c.top);
  EXPECT_EQ(bdd_setmaxnodenum(0), 1010);
  EXPECT_EQ(c.add(), 0);
  EXPECT_EQ((V{gc_count(), bddnodesize, (int)recorded_errors.size()}), (V{gcs + 1, 1009, 1}));

  bdd_clear_error();
  EXPECT_EQ(bdderrorcond, 0);
  EXPECT_NE(c.add(), 0);
  EXPECT_EQ((V{bddnodesize, gc_count()}), (V{2017, gcs + 2}));
  EXPECT_EQ(recorded_errors, V{BDD_ERR_NODENUM});
  EXPECT_EQ(table_fault(false), "");

  // Even with garbage to collect, nothing is collected while the
  // condition stands; once cleared, the collection happens.
  bdd_setmaxnodenum(2018);
  c.fill();
  EXPECT_EQ(c.add(), 0);
  EXPECT_EQ(gc_count(), gcs + 3);
  bdd_delref(c.top);
  EXPECT_EQ(bdd_makenode(3, 0, 2), 0);
  EXPECT_EQ(gc_count(), gcs + 3);
  bdd_clear_error();
  EXPECT_GT(bdd_makenode(3, 0, 2), 1);
  EXPECT_EQ(gc_count(), gcs + 4);
  EXPECT_EQ(recorded_errors, V(2, BDD_ERR_NODENUM));
  EXPECT_EQ(table_fault(false), "");
}

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
    volatile int jumped = 0, result = -1;
    if (setjmp(bddexception) == 0) {
      jumparmed = armed;
      result = c.add();
    } else {
      jumped = 1;
    }
    jumparmed = 0;
    EXPECT_EQ(jumped, (int)armed);
    EXPECT_EQ(bddnodesize, armed ? 1009 : 2017);
    EXPECT_TRUE(armed || result > 1);
    EXPECT_TRUE(recorded_errors.empty());
    EXPECT_EQ(table_fault(false), "");
    bdd_autoreorder(REORDER_NONE);
    bdd_done();
  }
}

// ---------------------------------------------------------------------------
// Errors, hooks and statistics

void other_handler(int) {}

TEST_F(Kernel, ErrorsHooksAndStatistics) {
  std::set<std::string> texts;
  for (int e = 1; e <= 22; e++) {
    ASSERT_NE(bdd_errstring(-e), nullptr) << e;
    EXPECT_STREQ(bdd_errstring(e), bdd_errstring(-e));
    EXPECT_TRUE(texts.insert(bdd_errstring(-e)).second) << "repeated text for " << e;
  }
  // The ends of the range pin the indexing.
  EXPECT_STREQ(bdd_errstring(-1), "Out of memory");
  EXPECT_STREQ(bdd_errstring(-22), "Division by zero");
  for (int e : {0, 23, -23, 24, -24, 25, -25, 1000, 2147483647, -2147483647 - 1})
    EXPECT_EQ(bdd_errstring(e), nullptr) << e;
  EXPECT_STREQ(bdd_versionstr(), "Corvane - release 2.4");
  EXPECT_EQ(bdd_versionnum(), 24);

  start_engine(1000, 321, 3);
  EXPECT_EQ((V{bdd_error(BDD_ERR_FILE), bdd_error(-99)}), (V{BDD_ERR_FILE, -99}));
  EXPECT_EQ(recorded_errors, (V{BDD_ERR_FILE, -99}));
  EXPECT_EQ(bdderrorcond, 0);  // raising does not set the condition
  EXPECT_EQ(bdd_error_hook(other_handler), record_errors);
  EXPECT_EQ(bdd_error_hook(nullptr), other_handler);
  EXPECT_EQ(bdd_error(-3), -3);
  EXPECT_EQ(bdd_error_hook(record_errors), nullptr);
  EXPECT_EQ(bdd_resize_hook(record_resize), nullptr);
  EXPECT_EQ(bdd_resize_hook(nullptr), record_resize);

  bdd_setmaxnodenum(5000);
  bdd_setminfreenodes(33);
  bdd_makenode(0, bdd_ithvar(1), 1);
  bdd_gbc();
  KernelStats s;
  bdd_stats(&s);
  EXPECT_EQ((V{s.produced, s.nodesize, s.maxnodesize, s.freenum, s.minfreenodes, s.varnum,
               s.cachesize, s.gbcollectnum}),
            (V{7, 1009, 5000, 1009 - 8, 33, 3, 321, 1}));
  CacheStats cs;
  memset(&cs, 0x5a, sizeof cs);
  bdd_cachestats(&cs);
  EXPECT_EQ((V{cs.uniqueAccess, cs.uniqueChain, cs.uniqueHit, cs.uniqueMiss, cs.opHit, cs.opMiss,
               cs.swapCount}),
            V(7, 0));
  const char *fmt =
      "\nCache statistics\n----------------\n"
      "Unique Access:  %d\nUnique Chain:   0\nUnique Hit:     %d\nUnique Miss:    %d\n"
      "=> Hit rate =   %s\nOperator Hits:  %d\nOperator Miss:  %d\n"
      "=> Hit rate =   %s\nSwap count =    %d\n";
  char want[512];
  snprintf(want, sizeof want, fmt, 0, 0, 0, "0.00", 0, 0, "0.00", 0);
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintstat(f); }), want);
  // Hit rates are fractions of the counters.
  bddcachestats = CacheStats{9, 0, 3, 1, 1, 2, 4};
  snprintf(want, sizeof want, fmt, 9, 3, 1, "0.75", 1, 2, "0.33", 4);
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintstat(f); }), want);
  EXPECT_EQ(capture_stdout(bdd_printstat), want);

  // Start-up installs the default hooks, shut-down removes them.
  bdd_done();
  EXPECT_EQ(bdd_init(100, 10), 0);
  EXPECT_EQ(bdd_error_hook(record_errors), bdd_default_errhandler);
  EXPECT_EQ(bdd_gbc_hook(nullptr), bdd_default_gbchandler);
  EXPECT_EQ(bdd_resize_hook(nullptr), nullptr);
  bdd_done();
  EXPECT_EQ(bdd_error_hook(nullptr), nullptr);
}

TEST_F(Kernel, DefaultErrorHandlerAborts) {
  start_engine(1000, 100, 2);
  const std::pair<void (*)(), const char *> deaths[] = {
      {[] { bdd_ithvar(7); }, "BDD error: Unknown variable\n"},
      {[] { bdd_delref(bddnodesize + 3); }, "BDD error: Unknown BDD - was not in node table\n"}};
  for (const auto &[call, text] : deaths)
    EXPECT_EXIT({ bdd_error_hook(bdd_default_errhandler); call(); },
                testing::KilledBySignal(SIGABRT), text);
  // A code without a message still names itself.
  EXPECT_EXIT(bdd_default_errhandler(-40), testing::KilledBySignal(SIGABRT), "BDD error: .*-40");
  // The parent engine is untouched.
  EXPECT_EQ(bdd_ithvar(1), 4);
  EXPECT_TRUE(recorded_errors.empty());
}

// ---------------------------------------------------------------------------
// Variables

TEST_F(Kernel, VariablesGrowBelowTheOrderAndScansetFollowsIt) {
  start_engine(1000, 100, 3);
  auto scan = [](int r) {
    static int dummy;
    int *set = &dummy, num = 9;
    EXPECT_EQ(bdd_scanset(r, &set, &num), 0);
    V v(set, set + num);
    EXPECT_TRUE(num > 0 || set == nullptr);
    free(set);
    return v;
  };
  int s02 = bdd_addref(bdd_makenode(0, 0, bdd_ithvar(2)));
  EXPECT_EQ(scan(s02), (V{0, 2}));
  EXPECT_EQ(scan(0), V{});
  EXPECT_EQ(scan(1), V{});
  // Low children are not looked at.
  EXPECT_EQ(scan(bdd_makenode(1, bdd_ithvar(2), bdd_nithvar(2))), (V{1, 2}));
  ASSERT_EQ(bdd_swapvar(0, 2), 0);
  EXPECT_EQ(scan(s02), (V{2, 0}));  // the list follows the order

  EXPECT_EQ(bdd_extvarnum(2), 3);
  EXPECT_EQ(bddvarnum, 5);
  const V order = {2, 1, 0, 3, 4, 5};  // its own inverse
  EXPECT_EQ(V(bddvar2level, bddvar2level + 6), order);
  EXPECT_EQ(V(bddlevel2var, bddlevel2var + 6), order);
  expect_variable_nodes();
  EXPECT_EQ(table_fault(), "");
  EXPECT_EQ(bdd_setvarnum(1023), 0);
  EXPECT_EQ(bddvarnum, 1023);
  EXPECT_EQ(fields(1).level, 1023u);
  expect_variable_nodes();
  EXPECT_EQ(V(bddvar2level + 5, bddvar2level + 1024), range(5, 1024));
  EXPECT_EQ(table_fault(), "");
  // The reference stack holds the deepest operator nesting.
  EXPECT_GE(bddrefstackend - bddrefstack, 2 * 1023 + 4);
  EXPECT_TRUE(recorded_errors.empty());
  // At the variable limit a duplication is refused and touches nothing.
  std::mt19937 rng(4);
  km::random_dag(rng, 300);
  std::vector<BddNode> copy(bddnodes, bddnodes + bddnodesize);
  const V state = {bddfreepos, bddfreenum, bddnodesize, bddvarnum};
  const V v2l(bddvar2level, bddvar2level + 1024);
  EXPECT_EQ(bdd_duplicatevar(500), 0);
  EXPECT_FALSE(recorded_errors.empty());
  ASSERT_EQ((V{bddfreepos, bddfreenum, bddnodesize, bddvarnum}), state);
  EXPECT_EQ(memcmp(copy.data(), bddnodes, sizeof(BddNode) * copy.size()), 0);
  EXPECT_EQ(V(bddvar2level, bddvar2level + 1024), v2l);
}

TEST_F(Kernel, VariableNodesFailingToFitLeaveTheCountAlone) {
  start_engine(10, 10, 2);
  ASSERT_EQ(bddnodesize, 11);
  EXPECT_EQ(bdd_setmaxnodenum(12), 0);  // no prime between 11 and 12
  int f = bdd_addref(bdd_makenode(0, bdd_ithvar(1), 1));
  EXPECT_EQ(bdd_setvarnum(20), BDD_ERR_NODENUM);
  EXPECT_EQ(recorded_errors, V{BDD_ERR_NODENUM});
  EXPECT_EQ((V{bddvarnum, bdderrorcond, (int)fields(0).level, bdd_ithvar(1), bdd_ithvar(2)}),
            (V{2, 17, 2, 4, 0}));
  recorded_errors.clear();
  bdd_clear_error();
  bdd_gbc();
  EXPECT_EQ(table_fault(), "");
  EXPECT_EQ(km::triple_of(f), (Triple{0, bdd_ithvar(1), 1}));
  bdd_setmaxnodenum(0);
  EXPECT_EQ(bdd_setvarnum(20), 0);
  EXPECT_EQ(bddvarnum, 20);
  expect_variable_nodes();
  EXPECT_EQ(km::triple_of(f), (Triple{0, bdd_ithvar(1), 1}));
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(table_fault(), "");
}

// ---------------------------------------------------------------------------
// Variable duplication

// Compares every root, assignment by assignment, with its value before
// `var` was duplicated into `n`: a path through a node of var now also
// needs n at 0, every other path is unchanged.
void expect_duplicated(const km::Snapshot &before, const V &roots, int var, int n) {
  V assign((size_t)bddvarnum);
  for (unsigned bits = 0; bits < (1u << bddvarnum); bits++) {
    for (int v = 0; v < bddvarnum; v++) assign[(size_t)v] = (bits >> v) & 1;
    for (int r : roots) {
      bool tested;
      bool old = before.eval(r, assign, var, &tested);
      ASSERT_EQ(km::eval_table(r, assign), old && !(tested && assign[(size_t)n]))
          << "root " << r << " bits " << bits;
    }
  }
}

// Duplicates each of `vars` in turn and checks the order, the counts and
// every root. `swap` exchanges variables 1 and 3 first; `full` leaves no
// free slot, so the new nodes come from collections and growth in the
// middle of the duplication (the padding chain is not ordered).
void check_duplication(int varnum, const V &vars, unsigned seed, int count, bool swap = false,
                       bool full = false) {
  SCOPED_TRACE(testing::Message() << varnum << " variables, var " << vars[0] << ", seed " << seed);
  if (bdd_isrunning()) bdd_done();
  start_engine(4000, 100, varnum);
  std::mt19937 rng(seed);
  V nodes = km::random_dag(rng, count);
  V roots = {bdd_addref(nodes.back())};
  for (int k = 0; k < 25; k++) roots.push_back(bdd_addref(nodes[rng() % nodes.size()]));
  ASSERT_EQ(swap ? bdd_swapvar(1, 3) : 0, 0);
  for (int var : vars) {
    km::Snapshot before;
    for (int r : roots) before.add(r);
    bdd_gbc();
    std::map<int, unsigned> counts;
    for (auto &e : before.nodes) counts[e.first] = km::refcount(e.first);
    Chain pad;
    pad.levels = bddvarnum;
    if (full) pad.fill();
    const int size = bddnodesize, num = bddvarnum, n = bdd_duplicatevar(var);
    ASSERT_EQ(n, num);
    ASSERT_EQ(bddvarnum, num + 1);
    EXPECT_TRUE(!full || bddnodesize > size);
    ASSERT_EQ(table_fault(!full), "");
    EXPECT_TRUE(recorded_errors.empty());
    // Levels: a permutation with the new variable right below var.
    V seen((size_t)num + 1, 0);
    for (int l = 0; l <= num; l++) {
      ASSERT_EQ(bddvar2level[bddlevel2var[l]], l);
      seen[(size_t)bddlevel2var[l]]++;
    }
    EXPECT_EQ(seen, V((size_t)num + 1, 1));
    EXPECT_EQ(bddvar2level[n], bddvar2level[var] + 1);
    // Rewriting nodes in place leaves their reference counts as they were.
    for (auto &c : counts) ASSERT_EQ(km::refcount(c.first), c.second) << c.first;
    expect_variable_nodes();
    expect_duplicated(before, roots, var, n);
  }
  bdd_done();
}

TEST_F(Kernel, DuplicateAnyVariableRepeatedlyAndAfterReorder) {
  for (unsigned seed = 1; seed <= 3; seed++) {
    check_duplication(6, {5}, seed, 600);  // lowest
    check_duplication(6, {2}, seed, 600);  // middle
    check_duplication(6, {0}, seed, 600);  // top
    check_duplication(1, {0}, seed, 5);
    check_duplication(2, {0}, seed, 10);
    check_duplication(5, {1, 3, 5, 0}, seed, 400, true);
    check_duplication(4, {1}, seed, 240, false, true);
  }
}

}  // namespace
