// Variable blocks and the interaction matrix: insertion rules, identifiers,
// the printed forest and matrix, and refusal of blocks that cannot be laid
// out on consecutive levels.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "src/blocktree_internal.h"
#include "support.h"

namespace {

std::string order_text() { return capture([](FILE *f) { bdd_fprintorder(f); }); }

// prev links mirror next links, and first blocks have no prev.
void check_links(BddTree *t) {
  ASSERT_TRUE(t == nullptr || t->prev == nullptr);
  for (; t != nullptr; t = t->next) {
    if (t->next != nullptr) {
      ASSERT_EQ(t->next->prev, t);
    }
    check_links(t->child);
  }
}

class Blocks : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(1000, 100, 10); }
  void TearDown() override { bdd_done(); }
};

void print_named(FILE *out, int id) { fprintf(out, "<b%d>", id); }

TEST_F(Blocks, NestingAndPrint) {
  EXPECT_EQ(bdd_intaddvarblock(0, 3, 0), 0);
  EXPECT_EQ(bdd_intaddvarblock(0, 1, 0), 1);
  EXPECT_EQ(bdd_intaddvarblock(2, 3, 0), 2);
  EXPECT_EQ(bdd_intaddvarblock(4, 5, 0), 3);
  EXPECT_EQ(shape(vartree), "[0-3{[0-1][2-3]}][4-5]");
  EXPECT_EQ(order_text(), "  0{\n     1\n     2\n  0}\n  3\n");
  check_links(vartree);
  EXPECT_EQ(bdd_blockfile_hook(print_named), nullptr);
  EXPECT_EQ(order_text(), "<b0>{\n   <b1>\n   <b2>\n<b0>}\n<b3>\n");
  EXPECT_EQ(bdd_blockfile_hook(nullptr), &print_named);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(Blocks, EnclosingAndOverlapRules) {
  EXPECT_EQ(bdd_intaddvarblock(0, 1, 0), 0);
  EXPECT_EQ(bdd_intaddvarblock(0, 5, 0), 1);
  EXPECT_EQ(shape(vartree), "[0-5{[0-1]}]");
  check_links(vartree);
  bdd_clrvarblocks();
  EXPECT_EQ(vartree, nullptr);

  EXPECT_EQ(bdd_intaddvarblock(0, 3, 0), 0);
  EXPECT_EQ(bdd_intaddvarblock(1, 5, 0), BDD_ERR_VARBLOCK);  // partial overlap
  EXPECT_EQ(bdd_intaddvarblock(4, 7, 0), 1);
  EXPECT_EQ(bdd_intaddvarblock(0, 5, 0), BDD_ERR_VARBLOCK);  // cuts 4..7
  EXPECT_EQ(shape(vartree), "[0-3][4-7]");
  EXPECT_EQ(bdd_intaddvarblock(0, 7, 0), 2);                 // no id used by failures
  EXPECT_EQ(shape(vartree), "[0-7{[0-3][4-7]}]");
  EXPECT_EQ(bdd_intaddvarblock(8, 9, 0), 3);
  EXPECT_EQ(bdd_intaddvarblock(2, 9, 0), BDD_ERR_VARBLOCK);
  EXPECT_EQ(shape(vartree), "[0-7{[0-3][4-7]}][8-9]");
  check_links(vartree);
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_VARBLOCK, BDD_ERR_VARBLOCK, BDD_ERR_VARBLOCK}));
}

TEST_F(Blocks, InsertBetweenAndInFront) {
  EXPECT_EQ(bdd_intaddvarblock(4, 5, 0), 0);
  EXPECT_EQ(bdd_intaddvarblock(0, 1, 0), 1);
  EXPECT_EQ(bdd_intaddvarblock(8, 9, 0), 2);
  EXPECT_EQ(bdd_intaddvarblock(6, 7, 0), 3);
  EXPECT_EQ(bdd_intaddvarblock(2, 2, 0), 4);
  EXPECT_EQ(shape(vartree), "[0-1][2-2][4-5][6-7][8-9]");
  EXPECT_EQ(bdd_intaddvarblock(2, 7, 0), 5);
  EXPECT_EQ(shape(vartree), "[0-1][2-7{[2-2][4-5][6-7]}][8-9]");
  EXPECT_EQ(bdd_intaddvarblock(5, 5, 1), 6);
  EXPECT_EQ(shape(vartree), "[0-1][2-7{[2-2][4-5{[5-5]}][6-7]}][8-9]");
  check_links(vartree);
}

// A repeated range takes an identifier and changes nothing; refusals take
// none; clearing restarts the count.
TEST_F(Blocks, IdentifiersAndRefusals) {
  EXPECT_EQ(bdd_intaddvarblock(2, 1, 0), BDD_ERR_VARBLOCK);
  EXPECT_EQ(bdd_intaddvarblock(0, 10, 0), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(bdd_intaddvarblock(-1, 3, 0), BDD_ERR_UNKNOWN_VAR);
  EXPECT_EQ(vartree, nullptr);
  EXPECT_EQ(bdd_intaddvarblock(2, 4, 1), 0);
  EXPECT_EQ(bdd_intaddvarblock(2, 4, 0), 1);
  EXPECT_EQ(shape(vartree), "[2-4]");
  EXPECT_EQ((std::vector<int>{vartree->id, vartree->fixed}), (std::vector<int>{0, 1}));
  EXPECT_EQ(bdd_intaddvarblock(5, 5, 256), 2);
  EXPECT_EQ(vartree->next->fixed, 0);
  int vars[2] = {8, 6};
  BDD set = bdd_addref(bdd_makeset(vars, 2));
  EXPECT_EQ(bdd_addvarblock(set, 0), 3);  // spans the set
  EXPECT_EQ((std::vector<int>{bdd_addvarblock(bddtrue, 0), bdd_addvarblock(-3, 0),
                              bdd_addvarblock(bddnodesize, 0)}),
            (std::vector<int>{BDD_ERR_VARBLOCK, BDD_ERR_ILLBDD, BDD_ERR_ILLBDD}));
  EXPECT_EQ(shape(vartree), "[2-4][5-5][6-8]");
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_VARBLOCK, BDD_ERR_UNKNOWN_VAR, BDD_ERR_UNKNOWN_VAR,
                                               BDD_ERR_VARBLOCK, BDD_ERR_ILLBDD, BDD_ERR_ILLBDD}));
  bdd_delref(set);

  bdd_clrvarblocks();
  bdd_varblockall();
  int v = 0;
  for (BddTree *t = vartree; t != nullptr; t = t->next, v++)
    EXPECT_EQ((std::vector<int>{t->first, t->last, t->fixed, t->id}), (std::vector<int>{v, v, 1, v}));
  EXPECT_EQ(v, 10);
}

// seq lists a block's variables in level order; a block must fit on
// consecutive levels.
TEST_F(Blocks, NonConsecutiveLevelsAreRefused) {
  int order[10] = {0, 5, 1, 2, 3, 4, 6, 7, 8, 9};
  bdd_setvarorder(order);
  // 0..4 occupy levels 0 and 2..5: no room for seq.
  EXPECT_EQ(bdd_intaddvarblock(0, 4, 0), BDD_ERR_VARBLOCK);
  EXPECT_EQ(vartree, nullptr);
  EXPECT_EQ(bdd_intaddvarblock(1, 4, 0), 0);  // levels 2..5
  EXPECT_EQ(bdd_intaddvarblock(0, 5, 0), 1);  // levels 0..5 enclose it
  EXPECT_EQ(shape(vartree), "[0-5{[1-4]}]");
  EXPECT_EQ(std::vector<int>(vartree->seq, vartree->seq + 6), (std::vector<int>{0, 5, 1, 2, 3, 4}));

  // update_seq on a block that does not fit leaves seq alone.
  BddTree *t = bddtree_new(99);
  t->first = 0;
  t->last = 4;
  int seq[5] = {-7, -7, -7, -7, -7};
  t->seq = seq;
  update_seq(t);
  for (int k : seq) EXPECT_EQ(k, -7);
  t->last = 12;  // unknown variables
  update_seq(t);
  for (int k : seq) EXPECT_EQ(k, -7);
  t->seq = nullptr;
  bddtree_del(t);
}

// The list primitive refuses overlaps and bad ranges, raising nothing.
TEST_F(Blocks, TreePrimitives) {
  bddtree_del(nullptr);
  BddTree *list = bddtree_addrange(bddtree_addrange(nullptr, 2, 3, 0, 10), 0, 1, 0, 11);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(shape(list), "[0-1][2-3]");
  EXPECT_EQ(bddtree_addrange(list, 1, 2, 0, 12), nullptr);
  EXPECT_EQ(bddtree_addrange(list, -1, 2, 0, 12), nullptr);
  EXPECT_EQ(shape(list), "[0-1][2-3]");
  bddtree_del(list);
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- interaction matrix ----------------------------------------------------

// Against a plain boolean model, with no symmetry kept; out-of-range
// cells are ignored and read as clear.
TEST(InteractionMatrix, BitsAndBounds) {
  for (int size : {0, 1, 8, 20}) {
    imatrix *m = imatrixNew(size);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->size, size);
    std::vector<std::vector<bool>> model(size + 2, std::vector<bool>(size + 2, false));
    std::mt19937 rng(size);
    for (int k = 0; k < 4 * size * size + 10; k++) {
      int a = (int)(rng() % (size + 2)) - 1, b = (int)(rng() % (size + 2)) - 1;
      bool set = rng() % 3 != 0;
      set ? imatrixSet(m, a, b) : imatrixClr(m, a, b);
      if (a >= 0 && b >= 0 && a < size && b < size) model[a + 1][b + 1] = set;
      if (k % 7 != 0) continue;
      for (int x = -1; x <= size; x++)
        for (int y = -1; y <= size; y++) {
          ASSERT_EQ(imatrixDepends(m, x, y) != 0, (bool)model[x + 1][y + 1]) << x << "," << y;
        }
    }
    imatrixDelete(m);
  }
}

TEST(InteractionMatrix, Print) {
  imatrix *m = imatrixNew(2);
  imatrixSet(m, 0, 1);
  imatrixSet(m, 1, 0);
  EXPECT_EQ(capture([&](FILE *f) { imatrixFPrint(m, f); }), "    ab\n 0 a x\n 1 bx \n");
  imatrixDelete(m);

  imatrix *big = imatrixNew(28);
  std::string s = capture([&](FILE *f) { imatrixFPrint(big, f); });
  std::string header = s.substr(0, s.find('\n'));
  EXPECT_EQ(header, "    abcdefghijklmnopqrstuvwxyzAB");
  EXPECT_NE(s.find("\n26 A"), std::string::npos);
  imatrixDelete(big);
}

}  // namespace
