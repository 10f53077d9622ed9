// Pair tables: registry and identifiers, the set/reset/free operations,
// growth with the variable count (also when growing fails), and upkeep
// across level swaps and variable duplication.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "src/kernel_internal.h"
#include "src/operators_internal.h"
#include "src/pairs_internal.h"
#include "oracle.h"
#include "support.h"

using namespace oracle;

namespace {

class Pairs : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(2000, 500, 6); }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty()) << "first unexpected error " << recorded_errors[0];
    bddpairs_failafter = -1;
    if (bdd_isrunning()) bdd_done();
  }
  // The table of r renamed by the variable map m (m[v] = new variable).
  static TT renamed(const TT &t, const std::vector<int> &m) {
    std::vector<TT> subst;
    for (int v = 0; v < t.n; v++) subst.push_back(tt_var(t.n, m[v]));
    return tt_compose_all(t, subst);
  }
  std::mt19937 rng{21};
};

// Fresh tables are identities with distinct ids; every modification,
// reset included, takes a new id, so no cached answer of the old contents
// is reused.
TEST_F(Pairs, IdentityIdsAndReset) {
  std::set<int> ids;
  std::vector<bddPair *> ps;
  for (int i = 0; i < 3; i++) {
    ps.push_back(bdd_newpair());
    ASSERT_NE(ps.back(), nullptr);
    EXPECT_EQ(ps.back()->last, -1);
    EXPECT_TRUE(ids.insert(ps.back()->id).second);
    for (int l = 0; l < 6; l++) EXPECT_EQ(ps.back()->result[l], bdd_ithvar(bddlevel2var[l]));
  }
  Formula f = random_formula(rng, 6, 6);
  EXPECT_EQ(bdd_replace(f.bdd, ps[0]), f.bdd);
  EXPECT_EQ(bdd_veccompose(f.bdd, ps[1]), f.bdd);
  bdd_delref(f.bdd);
  bddPair *p = ps[2];
  BDD g = bdd_addref(bdd_and(bdd_ithvar(0), bdd_nithvar(1)));
  const struct {
    std::function<void()> change;
    int last;
    BDD want;
  } steps[] = {  // last only grows, until the reset
      {[&] { EXPECT_EQ(bdd_setpair(p, 1, 3), 0); }, 1, bdd_addref(bdd_and(bdd_ithvar(0), bdd_nithvar(3)))},
      {[&] { EXPECT_EQ(bdd_setpair(p, 0, 5), 0); }, 1, bdd_addref(bdd_and(bdd_ithvar(5), bdd_nithvar(3)))},
      {[&] { EXPECT_EQ(bdd_setbddpair(p, 4, bdd_ithvar(5)), 0); }, 4, bdd_addref(bdd_and(bdd_ithvar(5), bdd_nithvar(3)))},
      {[&] { bdd_resetpair(p); }, 0, bdd_addref(g)},
  };
  for (const auto &s : steps) {
    s.change();
    EXPECT_TRUE(ids.insert(p->id).second);
    EXPECT_EQ(p->last, s.last);
    EXPECT_EQ(bdd_replace(g, p), s.want);
    bdd_delref(s.want);
  }
  EXPECT_EQ(bdd_veccompose(g, p), g);
  for (bddPair *q : ps) bdd_freepair(q);
  bdd_delref(g);
}

TEST_F(Pairs, ArrayFormsStopAtTheFirstError) {
  bddPair *p = bdd_newpair();
  int olds[3] = {0, 9, 2}, news[3] = {1, 1, 3};
  EXPECT_EQ(bdd_setpairs(p, olds, news, 3), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_UNKNOWN_VAR});
  recorded_errors.clear();
  EXPECT_EQ(p->result[bddvar2level[0]], bdd_ithvar(1));
  EXPECT_EQ(p->result[bddvar2level[2]], bdd_ithvar(2)) << "third entry untouched";
  BDD g = bdd_addref(bdd_and(bdd_ithvar(4), bdd_ithvar(5)));
  BDD gs[3] = {g, -3, g};
  int bolds[3] = {3, 4, 5};
  EXPECT_EQ(bdd_setbddpairs(p, bolds, gs, 3), BDD_ERR_ILLBDD);
  EXPECT_EQ(p->result[bddvar2level[3]], g);
  EXPECT_EQ(p->result[bddvar2level[4]], bdd_ithvar(4));
  EXPECT_EQ(
      (std::vector<int>{bdd_setbddpair(p, 6, g), bdd_setpair(p, -1, 0), bdd_setpair(p, 0, 6)}),
      std::vector<int>(3, BDD_ERR_UNKNOWN_VAR));
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_ILLBDD, BDD_ERR_UNKNOWN_VAR, BDD_ERR_UNKNOWN_VAR,
                                               BDD_ERR_UNKNOWN_VAR}));
  recorded_errors.clear();
  // Null tables and empty arrays are accepted and ignored.
  EXPECT_EQ((std::vector<int>{bdd_setpair(nullptr, 0, 1), bdd_setbddpair(nullptr, 0, g),
                              bdd_setpairs(p, olds, news, 0),
                              bdd_setbddpairs(nullptr, bolds, gs, 3)}),
            std::vector<int>(4, 0));
  bdd_freepair(nullptr);
  // The table holds a reference on g: it survives a collection even
  // after the caller lets go.
  bdd_delref(g);
  bdd_gbc();
  EXPECT_FALSE(ISFREE(g));
  bdd_freepair(p);
  bdd_gbc();
  EXPECT_TRUE(ISFREE(g));
}

TEST_F(Pairs, IdsAreRenumberedBeforeTheyOverflowTheTags) {
  bddPair *a = bdd_newpair(), *b = bdd_newpair(), *c = bdd_newpair();
  bdd_setpair(a, 0, 1);
  BDD f = bdd_addref(bdd_and(bdd_ithvar(0), bdd_ithvar(2)));
  BDD want = bdd_addref(bdd_and(bdd_ithvar(1), bdd_ithvar(2)));
  EXPECT_EQ(bdd_replace(f, a), want);
  bdd_pairs_setid(0x1FFFFFFE - 1);
  bddPair *d = bdd_newpair();
  EXPECT_EQ(d->id, 0x1FFFFFFE);
  // The next identifier renumbers the registry, newest first, and
  // returns the count.
  EXPECT_EQ(update_pairsid(), 4);
  EXPECT_EQ((std::vector<int>{d->id, c->id, b->id, a->id}), (std::vector<int>{0, 1, 2, 3}));
  // Every cache was emptied: a (now id 3) must not get b's old answer
  // (the operator caches keep their first key word complemented, so an
  // empty entry starts with 0)...
  for (int i = 0; i < 10; i++) {
    const BddCache *k = bdd_operator_cache(i);
    if (k->table == NULL) continue;
    const int *words = (const int *)k->table;
    int stride = (i == 2 || i == 4 || i == 8 || i == 9) ? 3 : 4;
    for (int s = 0; s < k->tablesize; s++) EXPECT_EQ(words[s * stride], 0) << "cache " << i;
  }
  // ... and substitutions stay right under the new ids.
  EXPECT_EQ(bdd_replace(f, a), want);
  EXPECT_EQ(bdd_replace(f, d), f);
  bdd_setpair(d, 2, 3);
  EXPECT_EQ(d->id, 5);
  EXPECT_EQ(bdd_replace(f, d), bdd_and(bdd_ithvar(0), bdd_ithvar(3)));
  for (bddPair *p : {a, b, c, d}) bdd_freepair(p);
  for (BDD x : {f, want}) bdd_delref(x);
}

TEST_F(Pairs, TableThatCannotGrowKeepsItsArrayAndGrowsLater) {
  bddPair *p = bdd_newpair(), *q = bdd_newpair();
  bdd_setpair(p, 1, 0);
  bddpairs_failafter = 0;  // the first table in the registry fails (q)
  ASSERT_EQ(bdd_setvarnum(9), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  EXPECT_EQ(bdd_pair_length(q), 6) << "old array kept";
  EXPECT_EQ(bdd_pair_length(p), 6) << "tables after the failure are not grown";
  // Short tables still substitute: the missing levels are identities.
  BDD f = bdd_addref(bdd_and(bdd_ithvar(1), bdd_ithvar(8)));
  EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(0), bdd_ithvar(8)));
  EXPECT_EQ(bdd_veccompose(f, q), f);
  // The next modification grows the table.
  EXPECT_EQ(bdd_setpair(p, 8, 7), 0);
  EXPECT_EQ(bdd_pair_length(p), 9);
  EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(0), bdd_ithvar(7)));
  // If growing fails again, the modification is refused and nothing moves.
  bddpairs_failafter = 0;
  int id = q->id;
  EXPECT_EQ(bdd_setpair(q, 8, 2), BDD_ERR_MEMORY);
  EXPECT_EQ(q->id, id);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  EXPECT_EQ(bdd_setpair(q, 8, 2), 0);
  EXPECT_EQ(bdd_replace(f, q), bdd_and(bdd_ithvar(1), bdd_ithvar(2)));
  bdd_freepair(p);
  bdd_freepair(q);
  bdd_delref(f);
}

// A table that could not be made is not registered; the registered ones
// grow with the variable count, the new levels holding identities.
TEST_F(Pairs, NewPairFailureRegistersNothingAndTablesGrow) {
  bddpairs_failafter = 0;
  EXPECT_EQ(bdd_newpair(), nullptr);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  bddPair *p = bdd_newpair();
  bdd_setpair(p, 1, 0);
  ASSERT_EQ(bdd_setvarnum(9), 0);
  EXPECT_EQ(bdd_pair_length(p), 9);
  for (int l = 6; l < 9; l++) EXPECT_EQ(p->result[l], bdd_ithvar(bddlevel2var[l]));
  BDD f = bdd_addref(bdd_and(bdd_ithvar(1), bdd_ithvar(8)));
  EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(0), bdd_ithvar(8)));
  bdd_freepair(p);
  bdd_delref(f);
}

TEST_F(Pairs, TablesFollowLevelSwaps) {
  // Random renamings and random functions, with the order shuffled
  // between setting the table and using it. The renaming table is reused
  // with new contents each round: only its id in the cache tags keeps the
  // answers of one round from the next.
  bddPair *p = bdd_newpair();
  for (int it = 0; it < 25; it++) {
    Formula f = random_formula(rng, 6, 6);
    std::vector<int> m{0, 1, 2, 3, 4, 5};
    std::shuffle(m.begin(), m.end(), rng);
    std::vector<int> olds{0, 1, 2, 3, 4, 5};
    bdd_setpairs(p, olds.data(), m.data(), 6);
    bddPair *q = bdd_newpair();
    std::vector<Formula> gs;
    std::vector<TT> subst;
    for (int v = 0; v < 6; v++) {
      gs.push_back(random_formula(rng, 6, 3));
      bdd_setbddpair(q, v, gs.back().bdd);
      subst.push_back(gs.back().tt);
    }
    // Before the reordering below empties the caches, they still hold the
    // last round's answers for shared subfunctions.
    EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), 6), renamed(f.tt, m));
    std::vector<int> order{0, 1, 2, 3, 4, 5};
    std::shuffle(order.begin(), order.end(), rng);
    bdd_setvarorder(order.data());
    for (int l = 0; l < 6; l++) ASSERT_EQ(bddlevel2var[l], order[l]);
    int x = (int)(rng() % 6), y = (int)(rng() % 6);
    EXPECT_EQ(bdd_swapvar(x, y), 0);
    EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), 6), renamed(f.tt, m));
    EXPECT_EQ(tt_of(bdd_veccompose(f.bdd, q), 6), tt_compose_all(f.tt, subst));
    EXPECT_EQ(tt_of(bdd_veccompose(f.bdd, p), 6), renamed(f.tt, m));
    bdd_freepair(q);
    for (Formula &g : gs) bdd_delref(g.bdd);
    bdd_delref(f.bdd);
  }
  bdd_freepair(p);
}

TEST_F(Pairs, EqualContentsShareAnswersAcrossTablesAndOrders) {
  // Renaming tags its cached answers by the table's contents, so that a
  // fresh table equal to an earlier one meets that one's answers.  Tables
  // are made anew, changed in place and freed, more distinct contents are
  // in use than the memo holds, and the order changes in between: after a
  // reordering, a table made equal to another's contents from before it
  // (the same array, now another renaming) must not meet the answers that
  // table gave under the new order.
  std::vector<std::vector<int>> pool;
  for (int k = 0; k < 12; k++) {
    std::vector<int> m{0, 1, 2, 3, 4, 5};
    // some renamings touch only the top three variables
    std::shuffle(m.begin(), m.begin() + (k % 3 == 0 ? 3 : 6), rng);
    pool.push_back(m);
  }
  auto table_of = [&](const std::vector<int> &m) {
    bddPair *p = bdd_newpair();
    for (int v = 0; v < 6; v++)
      if (m[v] != v) bdd_setpair(p, v, m[v]);
    return p;
  };
  // The renaming that a table's array stands for under the current order.
  auto map_of = [&](const bddPair *p) {
    std::vector<int> m(6);
    for (int l = 0; l < 6; l++) m[bddlevel2var[l]] = bdd_var(p->result[l]);
    return m;
  };
  bddPair *kept = table_of(pool[0]);
  for (int it = 0; it < 40; it++) {
    Formula f = random_formula(rng, 6, 6);
    const std::vector<int> &m = pool[rng() % pool.size()];
    bddPair *p = table_of(m);
    EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), 6), renamed(f.tt, m)) << it;
    EXPECT_EQ(tt_of(bdd_replace(f.bdd, kept), 6), renamed(f.tt, map_of(kept))) << it;
    // changed in place: a new identifier, other contents
    const std::vector<int> &m2 = pool[rng() % pool.size()];
    for (int v = 0; v < 6; v++) bdd_setpair(p, v, m2[v]);
    EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), 6), renamed(f.tt, m2)) << it;
    bdd_freepair(p);
    if (it % 5 == 4) {
      const std::vector<int> before(kept->result, kept->result + 6);
      std::vector<int> order{0, 1, 2, 3, 4, 5};
      std::shuffle(order.begin(), order.end(), rng);
      bdd_setvarorder(order.data());
      EXPECT_EQ(tt_of(bdd_replace(f.bdd, kept), 6), renamed(f.tt, map_of(kept))) << it;
      bddPair *same = bdd_newpair();
      for (int l = 0; l < 6; l++) bdd_setbddpair(same, bddlevel2var[l], before[l]);
      ASSERT_TRUE(std::equal(before.begin(), before.end(), same->result));
      EXPECT_EQ(tt_of(bdd_replace(f.bdd, same), 6), renamed(f.tt, map_of(same))) << it;
      bdd_freepair(same);
    }
    bdd_delref(f.bdd);
  }
  bdd_freepair(kept);
}

TEST_F(Pairs, AnswersCachedAfterACollectionInsideARenamingStayItsOwn) {
  // A collection in the middle of a renaming empties the caches and the
  // memo of table contents while the renaming goes on storing answers
  // under its tag: no later table of other contents may be given that tag.
  bdd_gbc();
  auto swap_table = [](int a, int b) {
    bddPair *p = bdd_newpair();
    bdd_setpair(p, a, b);
    bdd_setpair(p, b, a);
    return p;
  };
  // f depends on every variable, so each renaming below has to rebuild it.
  Formula f = random_formula(rng, 6, 8);
  while (tt_of(f.bdd, 6) == tt_of(bdd_exist(f.bdd, bdd_ithvar(0)), 6) ||
         tt_of(f.bdd, 6) == tt_of(bdd_exist(f.bdd, bdd_ithvar(5)), 6)) {
    bdd_delref(f.bdd);
    f = random_formula(rng, 6, 8);
  }
  std::vector<bddPair *> early{swap_table(1, 2), swap_table(1, 3)};
  bddPair *a = swap_table(0, 5);
  // Fill the table with a referenced chain of nodes up to two free slots.
  int top = 1;
  for (int i = 0; bddfreenum > 2; i++) {
    int n = bdd_makenode((unsigned)(i % 6), 0, top);
    bdd_addref(n);
    if (top > 1) bdd_delref(top);
    top = n;
  }
  EXPECT_EQ(bdd_replace(bdd_ithvar(1), early[0]), bdd_ithvar(2));
  EXPECT_EQ(bdd_replace(bdd_ithvar(1), early[1]), bdd_ithvar(3));
  KernelStats before, after;
  bdd_stats(&before);
  const BDD ra = bdd_addref(bdd_replace(f.bdd, a));
  bdd_stats(&after);
  ASSERT_GT(after.gbcollectnum, before.gbcollectnum) << "no collection inside the renaming";
  EXPECT_EQ(tt_of(ra, 6), renamed(f.tt, {5, 1, 2, 3, 4, 0}));
  // Fresh tables of other contents, as many as the memo had numbered
  // before (used on a constant, which leaves f's cache slots alone), then
  // one more, on f.
  const int swaps[3][2] = {{0, 3}, {1, 4}, {2, 4}};
  for (int k = 0; k < 3; k++) {
    bddPair *p = swap_table(swaps[k][0], swaps[k][1]);
    std::vector<int> m{0, 1, 2, 3, 4, 5};
    std::swap(m[swaps[k][0]], m[swaps[k][1]]);
    if (k < 2) EXPECT_EQ(bdd_replace(bddtrue, p), bddtrue);
    else EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), 6), renamed(f.tt, m));
    bdd_freepair(p);
  }
  for (bddPair *p : early) bdd_freepair(p);
  bdd_freepair(a);
  bdd_delref(ra);
  bdd_delref(top);
  bdd_delref(f.bdd);
}

TEST_F(Pairs, SinglePairFollowsItsVariableDown) {
  // The entry at the table's last level moves one level down with its
  // variable; last must follow, or the renaming would stop short.
  for (int a = 0; a < 5; a++) {
    bddPair *p = bdd_newpair();
    int b = (a + 3) % 6;
    if (b == a + 1) b = (b + 1) % 6;
    bdd_setpair(p, a, b);
    int below = bddlevel2var[bddvar2level[a] + 1];
    ASSERT_EQ(bdd_swapvar(a, below), 0);
    BDD f = bdd_addref(bdd_and(bdd_ithvar(a), bdd_nithvar(below)));
    EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(b), bdd_nithvar(below))) << a << "->" << b;
    bdd_delref(f);
    bdd_freepair(p);
  }
}

TEST_F(Pairs, RenamingAndVectorCompositionKeepTheirAnswersApart) {
  // With a function entry the two operations differ: renaming takes the
  // entry's top variable, composition the whole function. Their cached
  // answers must stay apart under one identifier and under the next (an
  // odd and an even one, in some order), the second time from the cache.
  bddPair *p = bdd_newpair();
  BDD g = bdd_addref(bdd_and(bdd_ithvar(1), bdd_ithvar(2)));
  BDD f = bdd_addref(bdd_or(bdd_ithvar(0), bdd_ithvar(4)));
  BDD ren = bdd_addref(bdd_or(bdd_ithvar(1), bdd_ithvar(4)));
  BDD com = bdd_addref(bdd_or(g, bdd_ithvar(4)));
  for (int k = 0; k < 4; k++) {
    if (k % 2 == 0) bdd_setbddpair(p, 0, g);
    EXPECT_EQ(bdd_replace(f, p), ren) << k;
    EXPECT_EQ(bdd_veccompose(f, p), com) << k;
  }
  for (BDD b : {g, f, ren, com}) bdd_delref(b);
  bdd_freepair(p);
}

TEST_F(Pairs, ShortTableAcrossLevelSwaps) {
  bddPair *p = bdd_newpair();
  bdd_setpair(p, 5, 0);  // level 5, the last real entry after the failure
  bddpairs_failafter = 0;
  ASSERT_EQ(bdd_setvarnum(8), 0);
  recorded_errors.clear();
  ASSERT_EQ(bdd_pair_length(p), 6);
  BDD f = bdd_addref(bdd_and(bdd_ithvar(5), bdd_ithvar(7)));
  // Swapping two implicit levels changes nothing in the table.
  EXPECT_EQ(bdd_swapvar(6, 7), 0);
  EXPECT_EQ(bdd_pair_length(p), 6);
  EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(0), bdd_ithvar(7)));
  // Moving the last real entry into the implicit part grows the table.
  EXPECT_EQ(bdd_swapvar(5, 7), 0);
  EXPECT_EQ(bddvar2level[5], 6);
  EXPECT_EQ(bdd_replace(f, p), bdd_and(bdd_ithvar(0), bdd_ithvar(7)));
  EXPECT_FALSE(bdd_pair_damaged(p));
  EXPECT_TRUE(recorded_errors.empty());
  bdd_freepair(p);
  bdd_delref(f);
}

TEST_F(Pairs, DamagedTableIsRefusedUntilReset) {
  bddPair *p = bdd_newpair();
  bdd_setpair(p, 5, 0);
  bddpairs_failafter = 0;
  ASSERT_EQ(bdd_setvarnum(8), 0);
  recorded_errors.clear();
  // The swap must move a real substitution out of the array and cannot
  // grow it: the table is marked rather than silently changed.
  bddpairs_failafter = 0;
  EXPECT_EQ(bdd_swapvar(5, 6), 0);
  EXPECT_TRUE(bdd_pair_damaged(p));
  recorded_errors.clear();
  BDD f = bdd_addref(bdd_and(bdd_ithvar(5), bdd_ithvar(7)));
  EXPECT_EQ(bdd_replace(f, p), BDD_ERR_MEMORY);
  EXPECT_EQ(bdd_veccompose(f, p), BDD_ERR_MEMORY);
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_MEMORY, BDD_ERR_MEMORY}));
  recorded_errors.clear();
  bdd_resetpair(p);
  EXPECT_FALSE(bdd_pair_damaged(p));
  EXPECT_EQ(bdd_pair_length(p), 8);
  EXPECT_EQ(bdd_replace(f, p), f);
  bdd_freepair(p);
  bdd_delref(f);
}

TEST_F(Pairs, TablesFollowVariableDuplication) {
  // Duplicating a variable above the bottom of the order once raised a
  // spurious error; identity entries of the duplicated variable must keep
  // meaning that variable for veccompose as well as for replace.
  for (int dup : {0, 3, 5})
    for (bool shortfirst : {false, true}) {
      SCOPED_TRACE(testing::Message() << "dup " << dup << " short " << shortfirst);
      // Two swaps: 1 <-> 3 and 2 <-> 4.
      bddPair *p = bdd_newpair();
      int olds[4] = {1, 3, 4, 2}, news[4] = {3, 1, 2, 4};
      bdd_setpairs(p, olds, news, 4);
      // Live nodes of the duplicated variable make duplication build new
      // nodes, which reuse the slots it frees.
      Formula g = random_formula(rng, 6, 6);
      if (shortfirst) bddpairs_failafter = 0;  // the growth inside duplication fails
      int nv = bdd_duplicatevar(dup);
      ASSERT_EQ(nv, bdd_varnum() - 1);
      if (shortfirst)
        recorded_errors.erase(std::remove(recorded_errors.begin(), recorded_errors.end(), BDD_ERR_MEMORY),
                              recorded_errors.end());
      EXPECT_TRUE(recorded_errors.empty()) << recorded_errors[0];
      recorded_errors.clear();
      int n = bdd_varnum();
      if (dup != 5 || !shortfirst) {
        EXPECT_EQ(bdd_pair_length(p), n) << "a short table is grown when entries must shift";
      }
      EXPECT_FALSE(bdd_pair_damaged(p));
      std::vector<int> m(n);
      for (int v = 0; v < n; v++) m[v] = v;
      for (int i = 0; i < 4; i++) m[olds[i]] = news[i];
      for (int it = 0; it < 10; it++) {
        Formula f = random_formula(rng, n, 5);
        EXPECT_EQ(tt_of(bdd_replace(f.bdd, p), n), renamed(f.tt, m));
        EXPECT_EQ(tt_of(bdd_veccompose(f.bdd, p), n), renamed(f.tt, m));
        bdd_delref(f.bdd);
      }
      bdd_freepair(p);
      bdd_delref(g.bdd);
      bdd_done();
      start_engine(2000, 500, 6);
    }
}

TEST(PairsStopped, DoneFreesEveryRegisteredTable) {
  start_engine(500, 100, 4);
  bddPair *p = bdd_newpair();
  BDD g = bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  bdd_setbddpair(p, 2, g);
  bdd_newpair();
  // Run under the sanitizer, a table left behind would show up as a leak.
  bdd_done();
  EXPECT_TRUE(recorded_errors.empty());
}

}  // namespace
