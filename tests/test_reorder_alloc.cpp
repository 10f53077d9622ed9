// Allocation failures inside block insertion, the interaction matrix and
// reordering runs: each must fail cleanly, leaving the order, the blocks
// and every function as they were. The allocator of this test binary
// fails the n-th request on demand (glibc only; the sanitizer build brings
// its own allocator, so there the suite is skipped).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "src/blocktree_internal.h"
#include "alloc_inject.h"
#include "oracle.h"
#include "support.h"

using namespace alloc_inject;

namespace {

class AllocFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ALLOC_INJECTION) GTEST_SKIP() << "allocator injection needs the plain glibc allocator";
    // The recorders must not allocate while requests are failing.
    events.reserve(64);
    recorded_errors.reserve(64);
  }
  void TearDown() override {
    fail_countdown = 0;
    if (bddrunning) bdd_done();
    events.clear();
  }
};

TEST_F(AllocFailure, MatrixCreationReleasesEverything) {
  const long before = live_blocks;
  imatrix *m = nullptr;
  each_failing_request([&] { m = imatrixNew(40); return false; }, [&](long n, bool failed) {
    ASSERT_EQ(m == nullptr, failed) << "request " << n;
    EXPECT_TRUE(failed || n == 40 + 3) << "record, row array and 40 rows";
  });
  imatrixDelete(m);
  EXPECT_EQ(live_blocks, before);
}

TEST_F(AllocFailure, BlockInsertionFailsCleanly) {
  start_engine(1000, 100, 8);
  bdd_intaddvarblock(0, 3, 0);
  bdd_intaddvarblock(4, 7, 0);
  int id = 0;
  each_failing_request([&] { recorded_errors.clear(); id = bdd_intaddvarblock(0, 7, 1); return false; },
                       [&](long, bool failed) {
                         ASSERT_EQ(id, failed ? BDD_ERR_VARBLOCK : 2);
                         ASSERT_EQ(recorded_errors, failed ? std::vector<int>{BDD_ERR_VARBLOCK} : std::vector<int>{});
                         ASSERT_EQ(shape(vartree), failed ? "[0-3][4-7]" : "[0-7{[0-3][4-7]}]");
                       });
}

// Runs op with each of its allocations failing in turn; after each attempt
// nothing may leak and the functions, the blocks and the hook pairing must
// be intact.
void sweep_failures(const std::function<void()> &op, std::vector<oracle::Formula> &fs,
                    bool expect_blocks) {
  long before = 0;
  each_failing_request([&] { events.clear(); recorded_errors.clear(); before = live_blocks; op(); return false; },
                       [&](long n, bool) {
    ASSERT_EQ(live_blocks, before) << "request " << n;
    SCOPED_TRACE(n);
    int r1 = 0, r0 = 0;
    for (const std::string &e : events) (e == "R1" ? r1 : r0)++;
    ASSERT_EQ(r1, r0) << "unbalanced hook calls";
    ASSERT_LE(r1, 1);
    for (int e : recorded_errors) ASSERT_EQ(e, BDD_ERR_MEMORY);
    for (size_t i = 0; i < fs.size(); i++) ASSERT_EQ(oracle::tt_of(fs[i].bdd, fs[i].tt.n), fs[i].tt);
    std::vector<int> o = current_order();
    std::sort(o.begin(), o.end());
    for (int v = 0; v < (int)o.size(); v++) ASSERT_EQ(o[v], v);
    if (expect_blocks) check_blocks(vartree, false);
  });
}

TEST_F(AllocFailure, ReorderPassesSurviveEveryFailingRequest) {
  std::mt19937 rng(9);
  for (int method : {REORDER_SIFT, REORDER_RANDOM, REORDER_WIN3}) {
    start_engine(20000, 1000, 10);
    bdd_reorder_hook(rec_reorder);
    bdd_intaddvarblock(0, 5, 0);
    for (int v = 0; v < 10; v++) bdd_intaddvarblock(v, v, 0);
    std::vector<oracle::Formula> fs;
    for (int i = 0; i < 12; i++) fs.push_back(oracle::random_formula(rng, 10, 6));
    sweep_failures([&] { bdd_reorder(method); }, fs, true);
    for (auto &f : fs) bdd_delref(f.bdd);
    bdd_done();
  }
}

// The level exchange gathers a level into scratch arrays and keeps a bit
// per occupied bucket; without them it scans every bucket and chains each
// moved node at once. Both must put every node at the same index, so that
// the nodes made after a reordering do not depend on what memory it had.
// Only requests of 512 bytes or more fail: the run's own records are
// smaller with ten variables and a few dozen roots, the scratch and the
// bits are not.
TEST_F(AllocFailure, SiftingWithoutScratchLeavesTheSameTable) {
  auto sift = [](bool starve) {
    std::mt19937 rng(21);
    start_engine(1000, 1000, 10);
    for (int v = 0; v < 10; v++) bdd_intaddvarblock(v, v, 0);
    std::vector<oracle::Formula> fs;
    for (int i = 0; i < 16; i++) fs.push_back(oracle::random_formula(rng, 10, 8));
    const std::vector<int> before = current_order();
    recorded_errors.clear();
    fail_from_bytes = starve ? 512 : 0;
    refused_large = 0;
    bdd_reorder(REORDER_SIFT);
    fail_from_bytes = 0;
    EXPECT_EQ(refused_large > 0, starve) << "the scratch was " << (starve ? "had" : "refused");
    EXPECT_EQ(recorded_errors, std::vector<int>{});
    EXPECT_NE(current_order(), before) << "sifting moved nothing";
    for (auto &f : fs) EXPECT_EQ(oracle::tt_of(f.bdd, 10), f.tt);
    std::vector<unsigned> table;
    for (int n = 0; n < bddnodesize; n++)
      table.insert(table.end(), {bddnodes[n].word0, bddnodes[n].word1, bddnodes[n].word2, bddnodes[n].word3});
    table.insert(table.end(), {(unsigned)bddfreepos, (unsigned)bddfreenum, (unsigned)bddproduced});
    for (int v : current_order()) table.push_back((unsigned)v);
    for (auto &f : fs) bdd_delref(f.bdd);
    bdd_done();
    return table;
  };
  const std::vector<unsigned> plain = sift(true);
  EXPECT_TRUE(plain == sift(false));
}

TEST_F(AllocFailure, SwapAndSetOrderRefuseWhenTheRunCannotStart) {
  std::mt19937 rng(10);
  start_engine(20000, 1000, 10);
  bdd_reorder_hook(rec_reorder);
  std::vector<oracle::Formula> fs;
  for (int i = 0; i < 12; i++) fs.push_back(oracle::random_formula(rng, 10, 6));
  // A refused swap leaves the order; one that works around a failure swaps.
  std::vector<int> o = current_order();
  int rc = 0;
  each_failing_request([&] { recorded_errors.clear(); rc = bdd_swapvar(2, 7); return false; }, [&](long n, bool) {
    if (rc != 0) {
      ASSERT_EQ(rc, BDD_ERR_MEMORY) << "request " << n;
      ASSERT_EQ(current_order(), o) << "request " << n;
    }
    for (auto &f : fs) ASSERT_EQ(oracle::tt_of(f.bdd, 10), f.tt);
    o = current_order();
  });
  ASSERT_EQ(rc, 0);
  std::vector<int> rev{9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  sweep_failures([&] { bdd_setvarorder(rev.data()); }, fs, false);
  EXPECT_EQ(current_order(), rev);
  for (auto &f : fs) bdd_delref(f.bdd);
}

}  // namespace
