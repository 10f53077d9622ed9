// The kernel's events reach the modules built on it in a fixed order.  Two
// recorders registered at the outermost ranks bracket the modules' own
// hooks; what each recorder sees of the modules' state shows on which side
// of them it ran, and the handlers' calls show where the events fall in
// the kernel's own steps.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "src/blocktree_internal.h"
#include "src/kernel_internal.h"
#include "src/operators_internal.h"
#include "src/pairs_internal.h"
#include "support.h"

namespace {

enum { SHARED_BINARY_CACHE = 10 };

std::vector<std::string> events;
bddPair *watched = nullptr;  // the pair table whose growth the recorders see
int refuse_start = 0;        // result of the low recorder's prepare

void note(const char *side, const std::string &what) { events.push_back(std::string(side) + " " + what); }

std::string n(long v) { return std::to_string(v); }

// The conjunction/disjunction table holds no result (first words 0).
bool binary_cache_empty() {
  const BddCache *c = bdd_operator_cache(SHARED_BINARY_CACHE);
  const BddCacheData3 *t = (const BddCacheData3 *)c->table;
  for (int i = 0; t != nullptr && i < c->tablesize; i++)
    if (t[i].a != 0) return false;
  return true;
}

int gbcollections() {
  KernelStats s;
  bdd_stats(&s);
  return s.gbcollectnum;
}

template <const char *side>
struct Recorder {
  static int prepare(int cachesize) {
    note(side, "prepare running=" + n(bdd_isrunning()) +
                   " cachesize_set=" + n(bdd_operator_cachesize() == cachesize));
    return side[0] == 'l' ? refuse_start : 0;
  }
  static void start() {
    note(side, "start running=" + n(bdd_isrunning()) + " method=" + n(bdd_getreorder_method()));
  }
  static void stop() { note(side, "stop nodes=" + n(bddnodes != nullptr) + " blocks=" + n(vartree != nullptr)); }
  static void release() {
    note(side, "release nodes=" + n(bddnodes != nullptr) +
                   " caches=" + n(bdd_operator_cache(SHARED_BINARY_CACHE)->table != nullptr));
  }
  static void forget() {
    note(side, "forget gbc=" + n(gbcollections()) + " empty=" + n(binary_cache_empty()));
  }
  static void grown() { note(side, "grown size=" + n(bddnodesize)); }
  static void varnum(int oldnum, int num) {
    note(side, "varnum " + n(oldnum) + "->" + n(num) + " pairlen=" + n(bdd_pair_length(watched)));
  }
  static void inserted(int level, int var) { note(side, "inserted " + n(level) + " " + n(var)); }
  static const KernelHooks hooks;
};
template <const char *side>
const KernelHooks Recorder<side>::hooks = {prepare, start, stop, release, forget,
                                           grown,   varnum, inserted, nullptr};

constexpr char LO[] = "lo", HI[] = "hi";

void on_gbc(int pre, GbcStat *s) { events.push_back((pre ? "gc pre " : "gc post ") + n(s->num)); }
void on_resize(int, int newsize) { events.push_back("resize to " + n(newsize)); }

class HookOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kernel_register(0, &Recorder<LO>::hooks), nullptr);
    ASSERT_EQ(kernel_register(HOOK_RANKS - 1, &Recorder<HI>::hooks), nullptr);
    events.clear();
    refuse_start = 0;
  }
  void TearDown() override {
    if (bdd_isrunning()) bdd_done();
    kernel_register(0, nullptr);
    kernel_register(HOOK_RANKS - 1, nullptr);
  }
  std::vector<std::string> take() { return std::exchange(events, {}); }
};

using V = std::vector<std::string>;

TEST_F(HookOrder, LifeOfAnEngine) {
  bdd_autoreorder(REORDER_SIFT);  // the reordering module's start resets it
  ASSERT_EQ(bdd_init(101, 777), 0);
  bdd_error_hook(record_errors);
  bdd_gbc_hook(on_gbc);
  bdd_resize_hook(on_resize);
  EXPECT_EQ(take(), (V{"lo prepare running=0 cachesize_set=0", "hi prepare running=0 cachesize_set=1",
                       "lo start running=1 method=3", "hi start running=1 method=0"}));

  watched = bdd_newpair();
  bdd_setvarnum(10);
  EXPECT_EQ(take(), (V{"lo varnum 0->10 pairlen=0", "hi varnum 0->10 pairlen=10"}));

  // A conjunction leaves results behind; the operators' forget empties them
  // between the two recorders, all inside the collection's handler calls.
  bdd_and(bdd_or(bdd_ithvar(0), bdd_ithvar(1)), bdd_or(bdd_ithvar(2), bdd_ithvar(3)));
  ASSERT_FALSE(binary_cache_empty());
  bdd_gbc();
  EXPECT_EQ(take(), (V{"gc pre 0", "lo forget gbc=0 empty=0", "hi forget gbc=0 empty=1", "gc post 1"}));

  bdd_duplicatevar(1);
  EXPECT_EQ(take(), (V{"lo varnum 10->11 pairlen=10", "hi varnum 10->11 pairlen=11", "lo inserted 1 10",
                       "hi inserted 1 10", "lo forget gbc=1 empty=1", "hi forget gbc=1 empty=1"}));

  // Keep 110 products alive in the 101-node table: node creation collects,
  // finds too few nodes free and grows; the resize handler hears of it
  // before the modules.
  for (int i = 0; i < 11; i++)
    for (int j = i + 1; j < 11; j++) {
      bdd_addref(bdd_and(bdd_ithvar(i), bdd_ithvar(j)));
      bdd_addref(bdd_and(bdd_ithvar(i), bdd_nithvar(j)));
    }
  V grew = take();
  ASSERT_GE(grew.size(), 3u);
  const std::string size = n(bddnodesize);
  EXPECT_EQ(V(grew.end() - 3, grew.end()), (V{"resize to " + size, "lo grown size=" + size, "hi grown size=" + size}));

  // Shut-down in reverse: the reordering module's stop drops the blocks (and
  // forgets cached results) between the recorders' stops; the operators'
  // release frees the caches between their releases.
  bdd_varblockall();
  const std::string g = n(gbcollections());
  bdd_done();
  EXPECT_EQ(take(), (V{"hi stop nodes=1 blocks=1", "lo forget gbc=" + g + " empty=0",
                       "hi forget gbc=" + g + " empty=1", "lo stop nodes=1 blocks=0",
                       "hi release nodes=0 caches=1", "lo release nodes=0 caches=0"}));
  EXPECT_EQ(recorded_errors, std::vector<int>{});
}

// Tables of a large engine have mappings of their own, which shut-down
// empties by dropping their pages: the modules after the operators still
// find them there and empty.
TEST_F(HookOrder, LargeTablesAreEmptyForTheModulesAfterTheOperatorsAtShutDown) {
  ASSERT_EQ(bdd_init(1000000, 1000), 0);
  bdd_error_hook(record_errors);
  bdd_gbc_hook(nullptr);
  bdd_setcacheratio(4);
  watched = bdd_newpair();
  bdd_setvarnum(14);
  // Some thousands of entries, spread over the whole table.
  BDD all = 1;
  for (int i = 0; i < 14; i++)
    for (int j = i + 1; j < 14; j++) all = bdd_and(all, bdd_or(bdd_ithvar(i), bdd_nithvar(j)));
  ASSERT_GT(all, 1);
  ASSERT_FALSE(binary_cache_empty());
  take();
  bdd_done();
  EXPECT_EQ(take(), (V{"hi stop nodes=1 blocks=0", "lo forget gbc=0 empty=0", "hi forget gbc=0 empty=1",
                       "lo stop nodes=1 blocks=0", "hi release nodes=0 caches=1",
                       "lo release nodes=0 caches=0"}));
  EXPECT_EQ(recorded_errors, std::vector<int>{});
}

// A start-up refused by a module shuts down again, without preparing the
// modules after it, and returns the refusal.
TEST_F(HookOrder, RefusedStartShutsDownAgain) {
  refuse_start = BDD_ERR_MEMORY;
  const std::string g = n(gbcollections());  // the counters are set only once started
  EXPECT_EQ(bdd_init(101, 100), BDD_ERR_MEMORY);
  EXPECT_EQ(bdd_isrunning(), 0);
  EXPECT_EQ(take(), (V{"lo prepare running=0 cachesize_set=0", "hi stop nodes=1 blocks=0",
                       "lo forget gbc=" + g + " empty=1", "hi forget gbc=" + g + " empty=1",
                       "lo stop nodes=1 blocks=0",
                       "hi release nodes=0 caches=0", "lo release nodes=0 caches=0"}));
  refuse_start = 0;
  ASSERT_EQ(bdd_init(101, 100), 0);
  bdd_done();
}

}  // namespace
