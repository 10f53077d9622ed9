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

std::vector<std::string> events;
void rec_reorder(int pre) { events.push_back(pre ? "R1" : "R0"); }

void check_contiguous(BddTree *t) {
  for (; t != nullptr; t = t->next) {
    int top = bdd_var2level(t->seq[0]);
    for (int i = 0; i <= t->last - t->first; i++) ASSERT_EQ(bdd_var2level(t->seq[i]), top + i);
    check_contiguous(t->child);
  }
}

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
  for (long n = 1;; n++) {
    long before = live_blocks;
    failed_once = false;
    fail_countdown = n;
    imatrix *m = imatrixNew(40);
    fail_countdown = 0;
    if (!failed_once) {
      ASSERT_NE(m, nullptr);
      imatrixDelete(m);
      EXPECT_EQ(live_blocks, before);
      EXPECT_EQ(n, 40 + 3) << "record, row array and 40 rows";
      break;
    }
    ASSERT_EQ(m, nullptr) << "request " << n;
    ASSERT_EQ(live_blocks, before) << "leak after failing request " << n;
  }
}

TEST_F(AllocFailure, BlockInsertionFailsCleanly) {
  start_engine(1000, 100, 8);
  bdd_intaddvarblock(0, 3, 0);
  bdd_intaddvarblock(4, 7, 0);
  for (long n = 1;; n++) {
    recorded_errors.clear();
    long before = live_blocks;
    failed_once = false;
    fail_countdown = n;
    int id = bdd_intaddvarblock(0, 7, 1);
    fail_countdown = 0;
    if (!failed_once) {
      EXPECT_EQ(id, 2);
      EXPECT_EQ(shape(vartree), "[0-7{[0-3][4-7]}]");
      break;
    }
    ASSERT_EQ(id, BDD_ERR_VARBLOCK);
    ASSERT_EQ(recorded_errors, std::vector<int>{BDD_ERR_VARBLOCK});
    ASSERT_EQ(shape(vartree), "[0-3][4-7]");
    ASSERT_EQ(live_blocks, before);
  }
}

// Runs op with its n-th allocation failing, for n = 1, 2, ... until op
// completes without meeting a failure; after each attempt the functions,
// the blocks and the hook pairing must be intact.
void sweep_failures(const std::function<void()> &op, std::vector<oracle::Formula> &fs,
                    bool expect_blocks) {
  for (long n = 1;; n++) {
    events.clear();
    recorded_errors.clear();
    long before = live_blocks;
    failed_once = false;
    fail_countdown = n;
    op();
    fail_countdown = 0;
    ASSERT_EQ(live_blocks, before) << "leak after failing request " << n;
    int r1 = 0, r0 = 0;
    for (const std::string &e : events) (e == "R1" ? r1 : r0)++;
    ASSERT_EQ(r1, r0) << "unbalanced hook calls, request " << n;
    ASSERT_LE(r1, 1);
    for (int e : recorded_errors) ASSERT_EQ(e, BDD_ERR_MEMORY) << "request " << n;
    for (size_t i = 0; i < fs.size(); i++)
      ASSERT_EQ(oracle::tt_of(fs[i].bdd, fs[i].tt.n), fs[i].tt) << "request " << n;
    std::vector<int> o = current_order();
    std::sort(o.begin(), o.end());
    for (int v = 0; v < (int)o.size(); v++) ASSERT_EQ(o[v], v);
    if (expect_blocks) check_contiguous(vartree);
    if (!failed_once) break;
    ASSERT_LT(n, 1000);
  }
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

TEST_F(AllocFailure, SwapAndSetOrderRefuseWhenTheRunCannotStart) {
  std::mt19937 rng(10);
  start_engine(20000, 1000, 10);
  bdd_reorder_hook(rec_reorder);
  std::vector<oracle::Formula> fs;
  for (int i = 0; i < 12; i++) fs.push_back(oracle::random_formula(rng, 10, 6));
  for (long n = 1;; n++) {
    std::vector<int> o = current_order();
    recorded_errors.clear();
    failed_once = false;
    fail_countdown = n;
    int rc = bdd_swapvar(2, 7);
    fail_countdown = 0;
    if (!failed_once) {
      ASSERT_EQ(rc, 0);
      break;
    }
    if (rc != 0) {
      ASSERT_EQ(rc, BDD_ERR_MEMORY) << "request " << n;
      ASSERT_EQ(current_order(), o) << "request " << n;
    }
    for (auto &f : fs) ASSERT_EQ(oracle::tt_of(f.bdd, 10), f.tt);
  }
  std::vector<int> rev{9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  sweep_failures([&] { bdd_setvarorder(rev.data()); }, fs, false);
  EXPECT_EQ(current_order(), rev);
  for (auto &f : fs) bdd_delref(f.bdd);
}

}  // namespace
