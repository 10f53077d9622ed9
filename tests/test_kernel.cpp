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
#include <functional>
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
using km::Triple;

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

// Largest prime not above n, by trial division.
int prime_at_most(long long n) {
  auto prime = [](long long c) {
    for (long long d = 2; d * d <= c; d++)
      if (c % d == 0) return false;
    return c >= 2;
  };
  while (!prime(n)) n--;
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

Triple var_triple(int v, bool negated = false) {
  return Triple{(unsigned)bddvar2level[v], negated ? 1 : 0, negated ? 0 : 1};
}

// Every variable node sits at its variable's level and is saturated.
void expect_variable_nodes() {
  for (int v = 0; v < bddvarnum; v++) {
    ASSERT_EQ(km::triple_of(bdd_ithvar(v)), var_triple(v)) << v;
    ASSERT_EQ(km::triple_of(bdd_nithvar(v)), var_triple(v, true)) << v;
    ASSERT_EQ(km::refcount(bdd_ithvar(v)), MAX_REFCOUNT) << v;
    ASSERT_EQ(km::refcount(bdd_nithvar(v)), MAX_REFCOUNT) << v;
  }
}

// A call with the value it must return and the error it must raise
// (0: none). Rows run in order, so settings can be chained.
struct Row {
  const char *what;
  std::function<double()> call;
  double want;
  int error;
};
void run_rows(const std::vector<Row> &rows) {
  for (const Row &r : rows) {
    recorded_errors.clear();
    EXPECT_EQ(r.call(), r.want) << r.what;
    EXPECT_EQ(recorded_errors, r.error ? std::vector<int>{r.error} : std::vector<int>{}) << r.what;
  }
  recorded_errors.clear();
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

TEST_F(Kernel, StartupSizesFreeListAndVariableNodes) {
  const int sizes[][3] = {{1000, 100, 1009}, {0, 0, 3},   {1, 1, 3},
                          {2, 2, 3},         {-5, -7, 3}, {-2147483647 - 1, -1, 3}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(s[0]);
    start_engine(s[0], s[1], 0);
    ASSERT_EQ(bddrunning, 1);
    EXPECT_EQ(bddnodesize, s[2]);
    EXPECT_EQ(bdd_getallocnum(), s[2]);
    EXPECT_EQ(bddfreenum, s[2] - 2);
    EXPECT_EQ(bddvarnum, 0);
    EXPECT_EQ(bdd_getnodenum(), 2);
    std::vector<int> list = km::free_list();
    ASSERT_EQ(list.size(), (size_t)s[2] - 2);
    for (int i = 0; i < s[2] - 2; i++) ASSERT_EQ(list[(size_t)i], i + 2);
    EXPECT_EQ(fields(0).level, 0u);
    EXPECT_EQ(fields(1).level, 0u);
    EXPECT_EQ(table_fault(), "");

    // Fresh variables: identity order, constants below, and in a table
    // that needs no growth the first free slots in order.
    EXPECT_EQ(bdd_setvarnum(5), 0);
    EXPECT_EQ(bdd_varnum(), 5);
    expect_variable_nodes();
    for (int v = 0; v <= 5; v++) {
      EXPECT_EQ(bddvar2level[v], v);
      EXPECT_EQ(bddlevel2var[v], v);
    }
    if (s[2] == 1009)
      for (int v = 0; v < 5; v++) {
        EXPECT_EQ(bdd_ithvar(v), 2 + 2 * v);
        EXPECT_EQ(bdd_nithvar(v), 3 + 2 * v);
      }
    EXPECT_EQ(fields(0).level, 5u);
    EXPECT_EQ(fields(1).level, 5u);
    EXPECT_EQ(table_fault(), "");
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
}

TEST_F(Kernel, SecondInitIsRefusedAndRestartStartsClean) {
  EXPECT_EQ(bdd_setmaxnodenum(3000), 0);
  start_engine(1000, 100, 3);
  EXPECT_EQ(bddmaxnodesize, 3000);  // a limit set before start-up stays
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

TEST_F(Kernel, CallsBeforeStartupAreRefusedWithoutCrash) {
  ASSERT_EQ(bdd_isrunning(), 0);
  int *set = nullptr, num = 0;
  // No handler: the calls just return their codes.
  run_rows({{"var", [] { return bdd_var(2); }, BDD_ERR_RUNNING, 0},
            {"low", [] { return bdd_low(0); }, BDD_ERR_RUNNING, 0},
            {"high", [] { return bdd_high(-1); }, BDD_ERR_RUNNING, 0},
            {"ithvar", [] { return bdd_ithvar(0); }, 0, 0},
            {"addref", [] { return bdd_addref(5); }, 5, 0},
            {"delref", [] { return bdd_delref(5); }, 5, 0},
            {"scanset", [&] { return bdd_scanset(2, &set, &num); }, BDD_ERR_RUNNING, 0},
            {"setvarnum", [] { return bdd_setvarnum(3); }, BDD_ERR_RUNNING, 0},
            {"duplicatevar", [] { return bdd_duplicatevar(0); }, 0, 0},
            {"setallocnum", [] { return bdd_setallocnum(5000); }, 0, 0},
            {"error", [] { return bdd_error(-1); }, -1, 0}});
  EXPECT_EQ(bddvarnum, 0);
  EXPECT_EQ(bddnodesize, 0);
  EXPECT_EQ(bdd_getnodenum(), 0);
}

// Refused calls return their code, raise it once and change nothing; the
// settings hand back their previous value.
TEST_F(Kernel, RefusalsAndSettings) {
  start_engine(1000, 100, 3);
  const int f = bdd_makenode(1, bdd_nithvar(2), 1);  // no reference
  const int size = bddnodesize, freeslot = size - 1, INTMIN = -2147483647 - 1;
  const int ILL = BDD_ERR_ILLBDD, VAR = BDD_ERR_UNKNOWN_VAR, RANGE = BDD_ERR_RANGE;
  int *set = nullptr, num = 0;
  std::vector<Row> rows = {
      {"var of f", [&] { return bdd_var(f); }, 1, 0},
      {"low of f", [&] { return bdd_low(f); }, bdd_nithvar(2), 0},
      {"high of f", [&] { return bdd_high(f); }, 1, 0},
      {"var of a variable", [] { return bdd_var(bdd_nithvar(2)); }, 2, 0},
      {"constants", [] { return bdd_true() * 10 + bdd_false() + bddtrue * 100 + bddfalse; }, 110, 0},
      {"var of false", [] { return bdd_var(0); }, ILL, ILL},
      {"low of true", [] { return bdd_low(1); }, ILL, ILL},
      {"high of -1", [] { return bdd_high(-1); }, ILL, ILL},
      {"var past the table", [&] { return bdd_var(size); }, ILL, ILL},
      {"low of a free slot", [&] { return bdd_low(freeslot); }, ILL, ILL},
      {"ithvar 3", [] { return bdd_ithvar(3); }, 0, VAR},
      {"ithvar -1", [] { return bdd_ithvar(-1); }, 0, VAR},
      {"nithvar 3", [] { return bdd_nithvar(3); }, 0, VAR},
      {"nithvar INT_MIN", [&] { return bdd_nithvar(INTMIN); }, 0, VAR},
      {"delref without count", [&] { return bdd_delref(f); }, f, BDD_ERR_BREAK},
      {"addref past the table", [&] { return bdd_addref(size); }, ILL, ILL},
      {"delref past the table", [&] { return bdd_delref(size); }, ILL, ILL},
      {"addref INT_MAX", [] { return bdd_addref(2147483647); }, ILL, ILL},
      {"addref of a free slot", [&] { return bdd_addref(freeslot); }, ILL, ILL},
      {"delref of a free slot", [&] { return bdd_delref(freeslot); }, ILL, ILL},
      {"scanset -1", [&] { return bdd_scanset(-1, &set, &num); }, ILL, ILL},
      {"scanset past the table", [&] { return bdd_scanset(size, &set, &num); }, ILL, ILL},
      {"scanset of a free slot", [&] { return bdd_scanset(freeslot, &set, &num); }, ILL, ILL},
      {"duplicatevar -1", [] { return bdd_duplicatevar(-1); }, 0, VAR},
      {"duplicatevar 3", [] { return bdd_duplicatevar(3); }, 0, VAR},
      {"setvarnum 0", [] { return bdd_setvarnum(0); }, 0, RANGE},
      {"setvarnum 1024", [] { return bdd_setvarnum(1024); }, 0, RANGE},
      {"setvarnum -4", [] { return bdd_setvarnum(-4); }, 0, RANGE},
      {"setvarnum fewer", [] { return bdd_setvarnum(2); }, BDD_ERR_DECVARNUM, BDD_ERR_DECVARNUM},
      {"setvarnum same", [] { return bdd_setvarnum(3); }, 0, 0},
      {"extvarnum -1", [] { return bdd_extvarnum(-1); }, RANGE, RANGE},
      {"extvarnum 2^30", [] { return bdd_extvarnum(0x40000000); }, RANGE, RANGE},
      {"extvarnum INT_MIN", [&] { return bdd_extvarnum(INTMIN); }, RANGE, RANGE},
      // Accepted but too many: the old count comes back, growth fails.
      {"extvarnum 5000", [] { return bdd_extvarnum(5000); }, 3, RANGE},
      {"minfreenodes 101", [] { return bdd_setminfreenodes(101); }, RANGE, RANGE},
      {"minfreenodes -1", [] { return bdd_setminfreenodes(-1); }, RANGE, RANGE},
      {"minfreenodes 100", [] { return bdd_setminfreenodes(100); }, 20, 0},
      {"minfreenodes 0", [] { return bdd_setminfreenodes(0); }, 100, 0},
      {"minfreenodes 20", [] { return bdd_setminfreenodes(20); }, 0, 0},
      {"factor 1.0", [] { return bdd_setincreasefactor(1.0); }, -19.0, BDD_ERR_SIZE},
      {"factor -3", [] { return bdd_setincreasefactor(-3.0); }, -19.0, BDD_ERR_SIZE},
      {"factor NaN", [] { return bdd_setincreasefactor(std::nan("")); }, -19.0, BDD_ERR_SIZE},
      {"factor 1.5", [] { return bdd_setincreasefactor(1.5); }, 2.0, 0},
      {"factor 2.0", [] { return bdd_setincreasefactor(2.0); }, 1.5, 0},
      {"step -1", [] { return bdd_setmaxincrease(-1); }, BDD_ERR_SIZE, BDD_ERR_SIZE},
      {"step 0", [] { return bdd_setmaxincrease(0); }, 10000000, 0},
      {"step 77", [] { return bdd_setmaxincrease(77); }, 0, 0},
      {"limit 1009", [] { return bdd_setmaxnodenum(1009); }, BDD_ERR_NODES, BDD_ERR_NODES},
      {"limit 500", [] { return bdd_setmaxnodenum(500); }, BDD_ERR_NODES, BDD_ERR_NODES},
      {"limit -1", [] { return bdd_setmaxnodenum(-1); }, BDD_ERR_NODES, BDD_ERR_NODES},
      {"limit 1010", [] { return bdd_setmaxnodenum(1010); }, 0, 0},
      {"limit 0", [] { return bdd_setmaxnodenum(0); }, 1010, 0},
  };
  for (int r : {0, 1, -5, INTMIN}) {  // constants and negatives: silently kept
    rows.push_back({"addref constant", [r] { return bdd_addref(r); }, (double)r, 0});
    rows.push_back({"delref constant", [r] { return bdd_delref(r); }, (double)r, 0});
  }
  run_rows(rows);

  EXPECT_EQ(bddvarnum, 3);
  EXPECT_EQ(bddmaxnodesize, 0);
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ(bddmaxnodeincrease, 77);
  EXPECT_EQ(km::refcount(f), 0u);
  EXPECT_EQ(km::refcount(0), MAX_REFCOUNT);
  EXPECT_EQ(km::refcount(1), MAX_REFCOUNT);
  EXPECT_EQ(km::refcount(freeslot), 0u);
  EXPECT_EQ(table_fault(), "");
  // A refused variable count switches reordering on again.
  bdd_autoreorder(REORDER_SIFT);
  bdd_varblockall();
  EXPECT_EQ(bdd_reorder_ready(), 1);
  bdd_autoreorder(REORDER_NONE);
  // f had no reference: after a collection it is gone.
  bdd_gbc();
  run_rows({{"var of a collected node", [&] { return bdd_var(f); }, ILL, ILL}});
  // Start-up restores factor and step.
  bdd_done();
  start_engine(1000, 100, 0);
  EXPECT_EQ(bddincreasefactor, 2.0);
  EXPECT_EQ(bddmaxnodeincrease, 10000000);
}

// ---------------------------------------------------------------------------
// Node creation

// Differential check against a map from triples to indices: every request
// either finds the recorded index or takes a fresh slot from the head of
// the free list; equal branches give the branch; levels above 31 exercise
// the split level field.
TEST_F(Kernel, MakenodeAgreesWithTripleMap) {
  start_engine(60000, 100, 1000);
  ASSERT_EQ(bddvarnum, 1000);
  std::mt19937 rng(7);
  std::map<Triple, int> known;
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
    ASSERT_EQ(km::triple_of(r), (Triple{level, lo, hi}));
    ASSERT_EQ(bdd_var(r), (int)level);  // identity order
    ASSERT_EQ(bdd_low(r), lo);
    ASSERT_EQ(bdd_high(r), hi);
  }
  ASSERT_EQ(gc_count(), gcs);
  EXPECT_EQ(table_fault(false), "");
  EXPECT_TRUE(recorded_errors.empty());
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
    std::vector<int> roots;
    for (auto &c : counts)
      if (c.second > 0) roots.push_back(c.first);
    for (int v = 0; v < bddvarnum; v++) {
      roots.push_back(bdd_ithvar(v));
      roots.push_back(bdd_nithvar(v));
    }
    // Stacked nodes that only the reference stack keeps alive.
    const std::set<int> counted = km::reachable(roots);
    std::vector<int> stacked;
    for (int k = 0; k < 200 && stacked.size() < 5; k++) {
      int n = nodes[rng() % nodes.size()];
      if (!counted.count(n)) stacked.push_back(n);
    }
    ASSERT_EQ(stacked.size(), 5u);
    bddrefstacktop = bddrefstack;
    for (int n : stacked) *bddrefstacktop++ = n;
    roots.insert(roots.end(), stacked.begin(), stacked.end());
    std::set<int> expected = km::reachable(roots);
    std::map<int, Triple> contents;
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

    // With every count released only the variable nodes stay, and the free
    // list is every other slot in ascending order.
    for (auto &c : counts)
      for (; c.second > 0; c.second--) bdd_delref(c.first);
    bdd_gbc();
    std::vector<int> rest;
    for (int n = 2 + 2 * bddvarnum; n < bddnodesize; n++) rest.push_back(n);
    EXPECT_EQ(km::free_list(), rest);
    EXPECT_EQ(table_fault(), "");
    bdd_done();
  }
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
  std::map<int, int> model;
  for (int n : {bdd_makenode(0, 0, bdd_ithvar(1)), bdd_makenode(0, 0, bdd_nithvar(1)),
                bdd_makenode(0, 0, bdd_ithvar(2)), bdd_makenode(0, 1, bdd_ithvar(2)),
                bdd_makenode(1, 0, bdd_ithvar(2)), bdd_makenode(1, 1, bdd_ithvar(2))})
    model[n] = 0;
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

TEST_F(Kernel, MarkingWalksCoverTheirSubgraphs) {
  start_engine(20000, 100, 12);
  std::mt19937 rng(5);
  std::vector<int> nodes = km::random_dag(rng, 3000);
  auto expect_marks = [](const std::set<int> &want) {
    for (int n = 2; n < bddnodesize; n++) ASSERT_EQ(fields(n).mark, want.count(n) == 1) << n;
  };
  for (int trial = 0; trial < 20; trial++) {
    int root = nodes[rng() % nodes.size()];
    std::set<int> below = km::reachable({root});
    int count = 0;
    bdd_markcount(root, &count);
    EXPECT_EQ(count, (int)below.size());
    expect_marks(below);
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
    expect_marks(upto);
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

TEST_F(Kernel, CollectionHandlersSeeBothSidesOfEachCollection) {
  start_engine(1000, 100, 2);
  gbc_calls.clear();
  bdd_gbc_hook(record_gbc);
  for (int i = 0; i < 50; i++) bdd_makenode(0, 0, 2 + i % 4);
  const int before = bddfreenum;
  bdd_gbc();
  const int after1 = bddfreenum;
  bdd_gbc();
  EXPECT_GT(after1, before);
  ASSERT_EQ(gbc_calls.size(), 4u);
  const GbcCall &a = gbc_calls[0], &b = gbc_calls[1], &c = gbc_calls[2], &d = gbc_calls[3];
  // {pre, nodes, freenodes, num}; times: zero before, accumulated after.
  const int want[4][4] = {{1, 1009, before, 0}, {0, 1009, after1, 1}, {1, 1009, after1, 1},
                          {0, 1009, after1, 2}};
  for (int k = 0; k < 4; k++) {
    const GbcCall &g = gbc_calls[(size_t)k];
    EXPECT_EQ((std::vector<int>{g.pre, g.s.nodes, g.s.freenodes, g.s.num}),
              std::vector<int>(want[k], want[k] + 4)) << k;
  }
  EXPECT_EQ(a.s.time, 0);
  EXPECT_EQ(a.s.sumtime, 0);
  EXPECT_GE(b.s.time, 0);
  EXPECT_EQ(b.s.sumtime, b.s.time);
  EXPECT_EQ(c.s.time, 0);
  EXPECT_EQ(c.s.sumtime, b.s.sumtime);
  EXPECT_EQ(d.s.sumtime, b.s.sumtime + d.s.time);
  EXPECT_EQ(gc_count(), 2);
  EXPECT_EQ(bdd_gbc_hook(bdd_default_gbchandler), record_gbc);

  // The default handler prints one line, after the collection only.
  auto printed = [](const std::function<void()> &fn) {
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
  };
  std::string out = printed([] { bdd_gbc(); });
  EXPECT_TRUE(std::regex_match(
      out, std::regex("Garbage collection #3: 1009 nodes / 1003 free / [0-9]+\\.[0-9]s / "
                      "[0-9]+\\.[0-9]s total\n")))
      << out;
  GbcStat s = {10, 5, (int)CLOCKS_PER_SEC / 2, 3 * (int)CLOCKS_PER_SEC / 2, 3};
  EXPECT_EQ(printed([&] { bdd_default_gbchandler(1, &s); }), "");
  EXPECT_EQ(printed([&] { bdd_default_gbchandler(0, &s); }),
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
    for (; n > 1; links++) n = fields(n).high;
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

// Nodes keep their slot and contents and the unique table finds them.
void expect_kept(const std::map<int, Triple> &live) {
  for (auto &l : live) ASSERT_EQ(km::triple_of(l.first), l.second);
  EXPECT_EQ(table_fault(), "");
  for (auto &l : live)
    ASSERT_EQ(bdd_makenode(l.second.level, l.second.low, l.second.high), l.first);
  EXPECT_EQ(km::live_nodes().size(), live.size());
}

TEST_F(Kernel, SetAllocnumGrowsToAPrimeAndNeverShrinks) {
  start_engine(1000, 100, 5);
  std::mt19937 rng(2);
  for (int n : km::random_dag(rng, 300)) bdd_addref(n);
  std::map<int, Triple> before;
  for (int n : km::live_nodes()) before[n] = km::triple_of(n);
  resize_calls.clear();
  bdd_resize_hook(record_resize);

  for (int request : {500, 1009, -3}) EXPECT_EQ(bdd_setallocnum(request), 1009);
  EXPECT_EQ(bddnodesize, 1009);
  EXPECT_TRUE(resize_calls.empty());
  EXPECT_EQ(bdd_setallocnum(5000), 1009);
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
  expect_kept(before);
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
  std::map<int, Triple> live;
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
  std::vector<int> list = km::free_list();
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
  expect_kept(live);
}

// ---------------------------------------------------------------------------
// Node limit and restart jump

TEST_F(Kernel, NodeLimitFailsOnceThenSilentlyUntilCleared) {
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
  EXPECT_EQ(bdd_makenode(fields(c.top).level, 0, fields(c.top).high), c.top);
  // Lifting the limit alone does not end the condition.
  EXPECT_EQ(bdd_setmaxnodenum(0), 1010);
  EXPECT_EQ(c.add(), 0);
  EXPECT_EQ(bddnodesize, 1009);
  EXPECT_EQ(gc_count(), gcs + 1);
  EXPECT_EQ(recorded_errors.size(), 1u);

  bdd_clear_error();
  EXPECT_EQ(bdderrorcond, 0);
  EXPECT_NE(c.add(), 0);
  EXPECT_EQ(bddnodesize, 2017);
  EXPECT_EQ(gc_count(), gcs + 2);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_NODENUM});
  EXPECT_EQ(table_fault(false), "");

  // Even with garbage to collect, nothing is collected while the
  // condition stands; clearing it makes the collection happen.
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
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_NODENUM, BDD_ERR_NODENUM}));
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
    volatile int jumped = 0;
    volatile int result = -1;
    if (setjmp(bddexception) == 0) {
      jumparmed = armed;
      result = c.add();
    } else {
      jumped = 1;
    }
    jumparmed = 0;
    EXPECT_EQ(jumped, (int)armed);
    EXPECT_EQ(bddnodesize, armed ? 1009 : 2017);
    if (!armed) EXPECT_GT(result, 1);
    EXPECT_TRUE(recorded_errors.empty());
    EXPECT_EQ(table_fault(false), "");
    bdd_autoreorder(REORDER_NONE);
    bdd_done();
  }
}

// ---------------------------------------------------------------------------
// Errors and statistics

TEST_F(Kernel, ErrorStringsCoverEveryCodeOnce) {
  std::set<std::string> texts;
  for (int e = 1; e <= 22; e++) {
    ASSERT_NE(bdd_errstring(-e), nullptr) << e;
    EXPECT_STREQ(bdd_errstring(e), bdd_errstring(-e));
    EXPECT_TRUE(texts.insert(bdd_errstring(-e)).second) << "repeated text for " << e;
  }
  // The ends of the range pin the indexing.
  EXPECT_STREQ(bdd_errstring(-1), "Out of memory");
  EXPECT_STREQ(bdd_errstring(BDD_ERR_ILLBDD), "Unknown BDD - was not in node table");
  EXPECT_STREQ(bdd_errstring(-22), "Division by zero");
  for (int e : {0, 23, -23, 24, -24, 25, -25, 1000, 2147483647, -2147483647 - 1})
    EXPECT_EQ(bdd_errstring(e), nullptr) << e;
}

void other_handler(int) {}

TEST_F(Kernel, ErrorRoutineAndHooks) {
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
  EXPECT_EQ((std::vector<int>{s.produced, s.nodesize, s.maxnodesize, s.freenum, s.minfreenodes,
                              s.varnum, s.cachesize, s.gbcollectnum}),
            (std::vector<int>{7, 1009, 5000, 1009 - 8, 33, 3, 321, 1}));
  CacheStats cs;
  memset(&cs, 0x5a, sizeof cs);
  bdd_cachestats(&cs);
  EXPECT_EQ((std::vector<int>{cs.uniqueAccess, cs.uniqueChain, cs.uniqueHit, cs.uniqueMiss,
                               cs.opHit, cs.opMiss, cs.swapCount}),
            std::vector<int>(7, 0));

  auto text = [] { return capture([](FILE *f) { bdd_fprintstat(f); }); };
  const char *fmt =
      "\nCache statistics\n----------------\n"
      "Unique Access:  %d\nUnique Chain:   0\nUnique Hit:     %d\nUnique Miss:    %d\n"
      "=> Hit rate =   %s\nOperator Hits:  %d\nOperator Miss:  %d\n"
      "=> Hit rate =   %s\nSwap count =    %d\n";
  char want[512];
  snprintf(want, sizeof want, fmt, 0, 0, 0, "0.00", 0, 0, "0.00", 0);
  EXPECT_EQ(text(), want);
  // Hit rates are fractions of the counters.
  bddcachestats.uniqueAccess = 9;
  bddcachestats.uniqueHit = 3;
  bddcachestats.uniqueMiss = 1;
  bddcachestats.opHit = 1;
  bddcachestats.opMiss = 2;
  bddcachestats.swapCount = 4;
  snprintf(want, sizeof want, fmt, 9, 3, 1, "0.75", 1, 2, "0.33", 4);
  EXPECT_EQ(text(), want);
  testing::internal::CaptureStdout();
  bdd_printstat();
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), want);
}

// ---------------------------------------------------------------------------
// Variables

TEST_F(Kernel, VariableCountGrowsBelowTheCurrentOrder) {
  start_engine(1000, 100, 3);
  ASSERT_EQ(bdd_swapvar(0, 2), 0);
  EXPECT_EQ(bdd_extvarnum(2), 3);
  EXPECT_EQ(bddvarnum, 5);
  const int order[] = {2, 1, 0, 3, 4, 5};  // its own inverse
  for (int i = 0; i <= 5; i++) {
    EXPECT_EQ(bddvar2level[i], order[i]) << i;
    EXPECT_EQ(bddlevel2var[i], order[i]) << i;
  }
  expect_variable_nodes();
  EXPECT_EQ(table_fault(), "");

  EXPECT_EQ(bdd_setvarnum(1023), 0);
  EXPECT_EQ(bddvarnum, 1023);
  EXPECT_EQ(fields(1).level, 1023u);
  expect_variable_nodes();
  for (int v = 5; v < 1023; v++) ASSERT_EQ(bddvar2level[v], v);
  EXPECT_EQ(table_fault(), "");
  // The reference stack holds the deepest operator nesting.
  EXPECT_GE(bddrefstackend - bddrefstack, 2 * 1023 + 4);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Kernel, TraceVariableSetsTheTraceFlag) {
  for (int set = 0; set <= 1; set++) {
    trace_enable = 0;
    if (set) setenv("CORVANE_TRACE_FILE", "", 1);
    else unsetenv("CORVANE_TRACE_FILE");
    start_engine(100, 10, 0);
    unsetenv("CORVANE_TRACE_FILE");
    EXPECT_EQ(trace_enable, set);
    EXPECT_EQ(trace_outputted, 0);
    bdd_done();
  }
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
  EXPECT_EQ(km::triple_of(f), (Triple{0, bdd_ithvar(1), 1}));
  bdd_setmaxnodenum(0);
  EXPECT_EQ(bdd_setvarnum(20), 0);
  EXPECT_EQ(bddvarnum, 20);
  expect_variable_nodes();
  EXPECT_EQ(km::triple_of(f), (Triple{0, bdd_ithvar(1), 1}));
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(table_fault(), "");
}

TEST_F(Kernel, ScansetReadsTheHighPathInLevelOrder) {
  start_engine(1000, 100, 4);
  auto scan = [](int r) {
    static int dummy;
    int *set = &dummy, num = 9;
    EXPECT_EQ(bdd_scanset(r, &set, &num), 0);
    std::vector<int> v(set, set + num);
    if (num == 0) EXPECT_EQ(set, nullptr);
    free(set);
    return v;
  };
  int s02 = bdd_addref(bdd_makenode(0, 0, bdd_ithvar(2)));
  EXPECT_EQ(scan(s02), (std::vector<int>{0, 2}));
  EXPECT_EQ(scan(0), std::vector<int>{});
  EXPECT_EQ(scan(1), std::vector<int>{});
  // After the two variables swap places the list follows the order.
  ASSERT_EQ(bdd_swapvar(0, 2), 0);
  EXPECT_EQ(scan(s02), (std::vector<int>{2, 0}));
  // Low children are not looked at.
  EXPECT_EQ(scan(bdd_makenode(bddvar2level[1], bdd_ithvar(3), bdd_nithvar(3))),
            (std::vector<int>{1, 3}));
  EXPECT_TRUE(recorded_errors.empty());
}

// ---------------------------------------------------------------------------
// Variable duplication

TEST_F(Kernel, DuplicateFirstOfThree) {
  start_engine(1000, 100, 3);
  const int old_x0 = bdd_ithvar(0);
  ASSERT_EQ(old_x0, 2);
  EXPECT_EQ(bdd_duplicatevar(0), 3);
  EXPECT_EQ(bddvarnum, 4);
  const int order[] = {0, 3, 1, 2, 4};
  for (int l = 0; l <= 4; l++) {
    EXPECT_EQ(bddlevel2var[l], order[l]);
    EXPECT_EQ(bddvar2level[order[l]], l);
  }
  // The former x0 node now reads x0 & !x3.
  EXPECT_EQ(km::triple_of(old_x0), (Triple{0, 0, bdd_nithvar(3)}));
  EXPECT_NE(bdd_ithvar(0), old_x0);
  EXPECT_EQ(km::triple_of(bdd_ithvar(0)), (Triple{0, 0, 1}));
  EXPECT_EQ(km::triple_of(bdd_ithvar(3)), (Triple{1, 0, 1}));
  EXPECT_EQ(km::triple_of(bdd_nithvar(3)), (Triple{1, 1, 0}));
  EXPECT_EQ(km::triple_of(bdd_ithvar(2)), (Triple{3, 0, 1}));
  EXPECT_EQ(fields(0).level, 4u);
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(table_fault(), "");
}

// Compares every root, assignment by assignment, with its value before
// `var` was duplicated into `n`: a path through a node of var now also
// needs n at 0, every other path is unchanged.
void expect_duplicated(const km::Snapshot &before, const std::vector<int> &roots, int var, int n) {
  std::vector<int> assign((size_t)bddvarnum);
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

void check_duplication(int varnum, int var, unsigned seed, int count) {
  SCOPED_TRACE(testing::Message() << "varnum " << varnum << " var " << var << " seed " << seed);
  if (bdd_isrunning()) bdd_done();
  start_engine(4000, 100, varnum);
  std::mt19937 rng(seed);
  std::vector<int> nodes = km::random_dag(rng, count);
  std::vector<int> roots = {nodes.back()};
  for (int k = 0; k < 25; k++) roots.push_back(nodes[rng() % nodes.size()]);
  km::Snapshot before;
  for (int r : roots) {
    bdd_addref(r);
    before.add(r);
  }
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
  EXPECT_EQ(bddvar2level[n], bddvar2level[var] + 1);
  // Rewriting nodes in place leaves their reference counts as they were.
  for (auto &c : counts) ASSERT_EQ(km::refcount(c.first), c.second) << c.first;
  expect_variable_nodes();
  expect_duplicated(before, roots, var, n);
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
  for (int r : km::random_dag(rng, 400)) bdd_addref(r);
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

TEST_F(Kernel, DuplicateAtTheVariableLimitTouchesNothing) {
  start_engine(3000, 100, 1023);
  ASSERT_EQ(bddvarnum, 1023);
  std::mt19937 rng(4);
  km::random_dag(rng, 300);
  std::vector<BddNode> copy(bddnodes, bddnodes + bddnodesize);
  const int freepos = bddfreepos, freenum = bddfreenum, size = bddnodesize;
  std::vector<int> v2l(bddvar2level, bddvar2level + 1024);
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
  for (int k = 0; k < 12; k++)
    for (int r : km::random_dag(rng, 20)) roots.push_back(bdd_addref(r));
  km::Snapshot before;
  for (int r : roots) before.add(r);
  Chain pad;
  pad.levels = 4;
  pad.fill();
  const int size = bddnodesize;
  ASSERT_EQ(bdd_duplicatevar(1), 4);
  EXPECT_GT(bddnodesize, size);
  ASSERT_EQ(table_fault(false), "");
  expect_duplicated(before, roots, 1, 4);
  EXPECT_TRUE(recorded_errors.empty());
}

}  // namespace
