// Save/load round trips, the exact file and printer formats, and the
// loader's defence against malformed files.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "internal.h"
#include "support.h"

namespace {

// ---- helpers ---------------------------------------------------------------


std::string save_text(BDD r, int *rc = nullptr) {
  int code = 0;
  std::string s = capture([&](FILE *f) { code = bdd_save(f, r); });
  if (rc) *rc = code;
  return s;
}

int load_text(const std::string &text, BDD *root) {
  FILE *f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  int rc = bdd_load(f, root);
  fclose(f);
  return rc;
}

// Truth table index: bit v of the index is the value of variable v.
using Table = std::vector<int>;

// Second construction, independent of the operators: Shannon expansion
// straight into bdd_makenode. Valid while variable v sits at level v.
BDD build_rec(const Table &tt, int n, int v, int idx) {
  if (v == n) return tt[idx];
  BDD lo = bdd_addref(build_rec(tt, n, v + 1, idx));
  BDD hi = bdd_addref(build_rec(tt, n, v + 1, idx | (1 << v)));
  BDD r = bdd_makenode((unsigned)v, lo, hi);
  bdd_delref(lo);
  bdd_delref(hi);
  return r;
}
BDD build(const Table &tt, int n) { return build_rec(tt, n, 0, 0); }

// Same function through if-then-else, valid under any variable order.
BDD build_ite(const Table &tt, int n, int v = 0, int idx = 0) {
  if (v == n) return tt[idx];
  BDD lo = bdd_addref(build_ite(tt, n, v + 1, idx));
  BDD hi = bdd_addref(build_ite(tt, n, v + 1, idx | (1 << v)));
  BDD r = bdd_ite(bdd_ithvar(v), hi, lo);
  bdd_delref(lo);
  bdd_delref(hi);
  return r;
}

int eval(BDD r, int mask) {
  while (r > 1) r = ((mask >> bdd_var(r)) & 1) ? bdd_high(r) : bdd_low(r);
  return r;
}

Table table_of(BDD r, int n) {
  Table t(1u << n);
  for (int m = 0; m < (1 << n); m++) t[m] = eval(r, m);
  return t;
}

Table random_table(std::mt19937 &rng, int n) {
  Table t(1u << n);
  // Vary the density so that sparse and dense functions both occur.
  std::uniform_int_distribution<int> pct(5, 95);
  int p = pct(rng);
  for (auto &b : t) b = (int)(rng() % 100) < p;
  return t;
}

void reachable(BDD r, std::set<int> &out) {
  if (r < 2 || out.count(r)) return;
  out.insert(r);
  reachable(bdd_low(r), out);
  reachable(bdd_high(r), out);
}

bool any_marked() {
  for (int n = 0; n < bddnodesize; n++)
    if (MARKED(n)) return true;
  return false;
}

std::vector<long> ints_of(const std::string &s) {
  std::istringstream in(s);
  std::vector<long> v;
  long x;
  while (in >> x) v.push_back(x);
  return v;
}

// Nodes in use once every unreferenced node is collected. Between
// operations the reference stack holds nothing of value (each operator
// resets it on entry), so it is emptied first: only counts keep nodes.
int live_nodes() {
  INITREF();
  bdd_gbc();
  return bdd_getnodenum();
}

// Every unsaturated reference count in the table, by node.
std::map<int, unsigned> counted_nodes() {
  std::map<int, unsigned> m;
  for (int n = 2; n < bddnodesize; n++)
    if (!ISFREE(n) && REFCOUNT(n) > 0 && REFCOUNT(n) < MAX_REFCOUNT) m[n] = REFCOUNT(n);
  return m;
}

class IoTest : public ::testing::Test {
 protected:
  void TearDown() override {
    bdd_file_hook(nullptr);
    if (bdd_isrunning()) bdd_done();
  }
};

// ---- exact formats ------------------------------------------------------------

TEST_F(IoTest, SaveFormatsAreExact) {
  start_engine(1000, 100, 2);
  // Fresh free list: x0 = 2, !x0 = 3, x1 = 4, !x1 = 5; x0 & x1 becomes 6.
  BDD f = bdd_addref(bdd_makenode(0, 0, bdd_ithvar(1)));
  ASSERT_EQ(f, 6);
  EXPECT_EQ(save_text(f), "2 2\n0 1 \n4 1 0 1\n6 0 0 4\n");
  EXPECT_EQ(save_text(0), "0 0 0\n");
  EXPECT_EQ(save_text(1), "0 0 1\n");
  bdd_done();

  start_engine(1000, 100, 3);
  EXPECT_EQ(save_text(bdd_ithvar(2)), "1 3\n0 1 2 \n6 2 0 1\n");
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_FALSE(any_marked());
}

TEST_F(IoTest, ConstantFilesLoadBack) {
  start_engine(1000, 100, 2);
  for (int c = 0; c < 2; c++) {
    BDD root = 77;
    EXPECT_EQ(load_text(save_text(c), &root), 0);
    EXPECT_EQ(root, c);
  }
  // Whitespace is free-form: the reader does not depend on line breaks.
  BDD root = 77;
  EXPECT_EQ(load_text("  0\t0\n\n 1", &root), 0);
  EXPECT_EQ(root, 1);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, PrintFormatsAreExact) {
  start_engine(1000, 100, 2);
  BDD x0 = bdd_ithvar(0), x1 = bdd_ithvar(1);
  BDD conj = bdd_addref(bdd_makenode(0, 0, x1));  // 6
  BDD disj = bdd_addref(bdd_makenode(0, x1, 1));  // 7
  ASSERT_EQ(conj, 6);
  ASSERT_EQ(disj, 7);

  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, disj); }), "<0:0, 1:1><0:1>");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, 0); }), "F");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, 1); }), "T");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, x0); }), "<0:1>");

  EXPECT_EQ(capture([&](FILE *f) { bdd_fprinttable(f, conj); }),
            "ROOT: 6\n[    4]   1:   0   1\n[    6]   0:   0   4\n");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprinttable(f, 1); }), "ROOT: 1\n");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprinttable(f, 0); }), "ROOT: 0\n");

  const std::string head =
      "digraph G {\n"
      "0 [shape=box, label=\"0\", style=filled, shape=box, height=0.3, width=0.3];\n"
      "1 [shape=box, label=\"1\", style=filled, shape=box, height=0.3, width=0.3];\n";
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintdot(f, 0); }), head + "}\n");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintdot(f, 1); }), head + "}\n");
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintdot(f, conj); }),
            head +
                "6 [label=\"0\"];\n6 -> 0 [style=dotted];\n6 -> 4 [style=filled];\n"
                "4 [label=\"1\"];\n4 -> 0 [style=dotted];\n4 -> 1 [style=filled];\n}\n");

  EXPECT_EQ(capture([&](FILE *) { bdd_fprintall(nullptr); }), "");
  bdd_delref(conj);
  bdd_delref(disj);
  bdd_gbc();
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   2:   0   0\n"
            "[    1 - 511]   2:   1   1\n"
            "[    2 - 511]   0:   0   1\n"
            "[    3 - 511]   0:   1   0\n"
            "[    4 - 511]   1:   0   1\n"
            "[    5 - 511]   1:   1   0\n");
  EXPECT_FALSE(any_marked());
  // Only the null stream above raised anything.
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_FILE});
}

TEST_F(IoTest, LowBranchComesFirst) {
  // Both children of the root are non-constant, so the order of the two
  // walks shows in the save file, the digraph and the set.
  start_engine(1000, 100, 3);
  BDD f = bdd_addref(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)));  // x0 ? x2 : x1
  ASSERT_EQ(f, 8);
  EXPECT_EQ(save_text(f), "3 3\n0 1 2 \n4 1 0 1\n6 2 0 1\n8 0 4 6\n");
  EXPECT_EQ(capture([&](FILE *o) { bdd_fprintset(o, f); }), "<0:0, 1:1><0:1, 2:1>");
  std::string dot = capture([&](FILE *o) { bdd_fprintdot(o, f); });
  size_t head = dot.find("8 [label=\"0\"];\n8 -> 4 [style=dotted];\n8 -> 6 [style=filled];\n"
                         "4 [label=\"1\"];\n4 -> 0 [style=dotted];\n4 -> 1 [style=filled];\n"
                         "6 [label=\"2\"];\n6 -> 0 [style=dotted];\n6 -> 1 [style=filled];\n}\n");
  EXPECT_NE(head, std::string::npos) << dot;
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, PrintallBeforeVariablesExist) {
  start_engine(100, 10, 0);
  ASSERT_EQ(bddlevel2var, nullptr);
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   0:   0   0\n"
            "[    1 - 511]   0:   1   1\n");
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, PrintallListsEveryLiveNodeOnce) {
  start_engine(1000, 100, 5);
  std::mt19937 rng(7);
  Table t = random_table(rng, 5);
  BDD f = bdd_addref(build(t, 5));
  bdd_gbc();
  std::string out = capture([](FILE *fp) { bdd_fprintall(fp); });
  std::vector<int> listed;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    int n, rc, var, lo, hi;
    ASSERT_EQ(sscanf(line.c_str(), "[%d - %d] %d: %d %d", &n, &rc, &var, &lo, &hi), 5) << line;
    ASSERT_FALSE(ISFREE(n));
    EXPECT_EQ(rc, (int)REFCOUNT(n));
    EXPECT_EQ(var, bddlevel2var[LEVEL(n)]);
    EXPECT_EQ(lo, LOW(n));
    EXPECT_EQ(hi, HIGH(n));
    listed.push_back(n);
  }
  // Ascending, and exactly the nodes in use.
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
  EXPECT_EQ((int)listed.size(), bdd_getnodenum());
  bdd_delref(f);
}

// ---- round trips ------------------------------------------------------------------

TEST_F(IoTest, RoundTripGivesTheSameNode) {
  // One engine whose variable count grows with n (engine starts are
  // costly under the sanitizers).
  std::mt19937 rng(12345);
  start_engine(5000, 1000, 1);
  for (int n = 1; n <= 7; n++) {
    ASSERT_EQ(bdd_setvarnum(n), 0);
    for (int k = 0; k < 25; k++) {
      Table t = random_table(rng, n);
      BDD f = bdd_addref(build(t, n));
      int rc = -99;
      std::string text = save_text(f, &rc);
      ASSERT_EQ(rc, 0);

      // Structure: header count matches the node lines, children name
      // constants or earlier lines, the last line is the root.
      std::vector<long> v = ints_of(text);
      if (f < 2) {
        EXPECT_EQ(v, (std::vector<long>{0, 0, f}));
      } else {
        std::set<int> nodes;
        reachable(f, nodes);
        ASSERT_EQ(v[0], (long)nodes.size());
        ASSERT_EQ(v[1], n);
        ASSERT_EQ(v.size(), 2 + (size_t)n + 4 * nodes.size());
        std::set<long> seen;
        for (size_t i = 2 + n; i < v.size(); i += 4) {
          EXPECT_TRUE(nodes.count((int)v[i]));
          EXPECT_EQ(v[i + 1], bdd_var((BDD)v[i]));
          EXPECT_EQ(v[i + 2], bdd_low((BDD)v[i]));
          EXPECT_EQ(v[i + 3], bdd_high((BDD)v[i]));
          for (int c = 2; c <= 3; c++)
            EXPECT_TRUE(v[i + c] < 2 || seen.count(v[i + c])) << "child before parent";
          seen.insert(v[i]);
        }
        EXPECT_EQ(v[v.size() - 4], f);
      }

      BDD root = -1;
      ASSERT_EQ(load_text(text, &root), 0);
      EXPECT_EQ(root, f);
      EXPECT_EQ(table_of(root, n), t);
      bdd_delref(f);
    }
  }
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_FALSE(any_marked());
}

TEST_F(IoTest, LoadIntoAnotherEngineKeepsTheFunction) {
  // Functions of 2 to 8 variables, each saved while the engine had just
  // that many variables.
  std::mt19937 rng(99);
  std::vector<Table> tables;
  std::vector<std::string> texts;
  std::vector<int> nvars;
  start_engine(2000, 500, 2);
  for (int n = 2; n <= 8; n++) {
    ASSERT_EQ(bdd_setvarnum(n), 0);
    for (int k = 0; k < 6; k++) {
      tables.push_back(random_table(rng, n));
      tables.back().front() = 0;  // never constant
      tables.back().back() = 1;
      texts.push_back(save_text(bdd_addref(build(tables.back(), n))));
      nvars.push_back(n);
    }
  }
  bdd_done();

  // The second engine starts with fewer variables and a different history
  // of node allocation, so node numbers differ.
  start_engine(3000, 500, 1);
  bdd_addref(build_ite(random_table(rng, 1), 1));
  for (size_t k = 0; k < texts.size(); k++) {
    SCOPED_TRACE(k);
    int n = nvars[k];
    ASSERT_EQ(ints_of(texts[k])[1], n);
    BDD root = -1;
    ASSERT_EQ(load_text(texts[k], &root), 0);
    bdd_addref(root);
    EXPECT_EQ(bdd_varnum(), n) << "the file's variable count is raised first";
    EXPECT_EQ(table_of(root, n), tables[k]);
    EXPECT_EQ(root, build(tables[k], n)) << "canonical under identity order";
  }
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, FileNameForms) {
  start_engine(1000, 100, 3);
  char path[] = "/tmp/corvane_io_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::mt19937 rng(3);
  Table t = random_table(rng, 3);
  BDD f = bdd_addref(build(t, 3));
  EXPECT_EQ(bdd_fnsave(path, f), 0);
  BDD root = -1;
  EXPECT_EQ(bdd_fnload(path, &root), 0);
  EXPECT_EQ(root, f);

  EXPECT_EQ(bdd_fnprintdot(path, f), 0);
  FILE *in = fopen(path, "r");
  ASSERT_NE(in, nullptr);
  std::string dot;
  for (int c; (c = getc(in)) != EOF;) dot += (char)c;
  fclose(in);
  EXPECT_EQ(dot, capture([&](FILE *o) { bdd_fprintdot(o, f); }));

  recorded_errors.clear();
  root = 55;
  EXPECT_EQ(bdd_fnsave("/nonexistent-dir/x", f), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnload("/nonexistent-dir/x", &root), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnprintdot("/nonexistent-dir/x", f), BDD_ERR_FILE);
  EXPECT_EQ(root, 55);
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_FILE, BDD_ERR_FILE, BDD_ERR_FILE}));
  unlink(path);
}

// ---- references ------------------------------------------------------------------

TEST_F(IoTest, LoadedRootCarriesNoReference) {
  start_engine(2000, 100, 6);
  std::mt19937 rng(5);
  Table t = random_table(rng, 6);
  BDD f = bdd_addref(build(t, 6));
  std::string text = save_text(f);
  bdd_delref(f);
  int base = live_nodes();  // f is gone
  BDD root = -1;
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_GT(bdd_getnodenum(), base);
  EXPECT_EQ(live_nodes(), base) << "the loader left a reference behind";
}

TEST_F(IoTest, RepeatedLinesDoNotSaturateACount) {
  // Hundreds of lines that all build the same node: the loader must not
  // push its count to the saturated value, which would pin it forever.
  start_engine(2000, 100, 3);
  int base = live_nodes();
  std::string text = "700 3\n0 1 2 \n10 2 0 1\n";
  for (int k = 0; k < 699; k++) text += std::to_string(11 + k) + " 1 0 10\n";  // x1 & x2
  BDD root = -1;
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(table_of(root, 3), (Table{0, 0, 0, 0, 0, 0, 1, 1}));
  EXPECT_EQ(live_nodes(), base);
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- malformed files ---------------------------------------------------------------

struct BadFile {
  const char *what;
  std::string text;
  int code;
  bool root_cleared;  // false: the root is left untouched
};

TEST_F(IoTest, MalformedFilesAreRejectedWithoutLeaks) {
  // Three valid lines, two of which build new nodes, precede most faults,
  // so that a reference left behind shows up in the node count.
  const std::string pre = "8 2 0 1\n9 1 0 8\n10 0 9 1\n";  // x0 | (x1 & x2)
  const std::string head4 = "4 3\n0 1 2 \n" + pre;
  const std::vector<BadFile> cases = {
      {"empty", "", BDD_ERR_FORMAT, false},
      {"one number", "5", BDD_ERR_FORMAT, false},
      {"words", "abc def", BDD_ERR_FORMAT, false},
      {"negative node count", "-1 2\n0 1 \n4 1 0 1\n", BDD_ERR_FORMAT, false},
      {"negative variable count", "1 -2\n", BDD_ERR_FORMAT, false},
      {"nodes without variables", "1 0\n4 0 0 1\n", BDD_ERR_FORMAT, false},
      {"variables without nodes", "0 3\n0 1 2 \n", BDD_ERR_FORMAT, false},
      {"too many variables", "1 1024\n", BDD_ERR_FORMAT, false},
      {"node count beyond any table", "134217727 2\n0 1 \n4 1 0 1\n", BDD_ERR_FORMAT, false},
      {"count overflows int", "99999999999 2\n0 1 \n4 1 0 1\n", BDD_ERR_FORMAT, false},
      {"huge count, short file", "100000000 3\n0 1 2 \n" + pre, BDD_ERR_FORMAT, true},
      {"constant root 2", "0 0 2\n", BDD_ERR_FORMAT, false},
      {"constant root -1", "0 0 -1\n", BDD_ERR_FORMAT, false},
      {"constant root missing", "0 0", BDD_ERR_FORMAT, false},
      {"order line short", "2 3\n0 1", BDD_ERR_FORMAT, false},
      {"order level out of range", "1 2\n0 2 \n4 1 0 1\n", BDD_ERR_FORMAT, false},
      {"order level repeated", "1 2\n1 1 \n4 1 0 1\n", BDD_ERR_FORMAT, false},
      {"truncated node lines", head4, BDD_ERR_FORMAT, true},
      {"truncated inside a line", head4 + "11 2 9", BDD_ERR_FORMAT, true},
      {"negative key", head4 + "-4 1 0 1\n", BDD_ERR_FORMAT, true},
      {"key naming a constant", head4 + "1 1 0 1\n", BDD_ERR_FORMAT, true},
      {"key beyond node indices", head4 + "134217727 1 0 1\n", BDD_ERR_FORMAT,
       true},
      {"duplicate key", head4 + "9 0 0 1\n", BDD_ERR_FORMAT, true},
      {"forward child", "5 3\n0 1 2 \n" + pre + "11 0 12 1\n12 1 0 1\n", BDD_ERR_FORMAT, true},
      {"undefined child", head4 + "11 0 0 7\n", BDD_ERR_FORMAT, true},
      {"negative child", head4 + "11 0 -3 1\n", BDD_ERR_FORMAT, true},
      {"variable beyond header", head4 + "11 3 0 1\n", BDD_ERR_FORMAT, true},
      {"negative variable", head4 + "11 -1 0 1\n", BDD_ERR_FORMAT, true},
      {"word in node line", head4 + "11 x 0 1\n", BDD_ERR_FORMAT, true},
      {"child overflows int", head4 + "11 0 0 4294967297\n", BDD_ERR_FORMAT,
       true},
  };

  // Each case is checked against a clean engine that holds some BDDs of
  // its own with references, and against the recorded error codes.
  start_engine(2000, 500, 4);
  std::mt19937 rng(1);
  std::vector<BDD> held;
  for (int k = 0; k < 5; k++) held.push_back(bdd_addref(build(random_table(rng, 4), 4)));
  std::vector<Table> held_tables;
  for (BDD h : held) held_tables.push_back(table_of(h, 4));

  // The shared prefix alone is a valid file: it builds nodes, so the leak
  // check below is not vacuous.
  {
    int base = live_nodes();
    BDD root = -1;
    ASSERT_EQ(load_text("3 3\n0 1 2 \n" + pre, &root), 0);
    bdd_addref(root);
    EXPECT_GT(live_nodes(), base);
    EXPECT_EQ(table_of(root, 3), (Table{0, 1, 0, 1, 0, 1, 1, 1}));
    bdd_delref(root);
  }

  for (const BadFile &c : cases) {
    SCOPED_TRACE(c.what);
    int base = live_nodes();
    auto counts = counted_nodes();
    int varnum = bdd_varnum();
    recorded_errors.clear();
    BDD root = 4242;
    int rc = load_text(c.text, &root);
    EXPECT_EQ(rc, c.code);
    ASSERT_FALSE(recorded_errors.empty());
    EXPECT_EQ(recorded_errors.back(), c.code);
    EXPECT_EQ(root, c.root_cleared ? 0 : 4242);
    EXPECT_EQ(bdd_varnum(), varnum);
    EXPECT_EQ(counted_nodes(), counts) << "reference counts changed";
    EXPECT_EQ(live_nodes(), base) << "references left behind";
    EXPECT_FALSE(any_marked());
  }

  // The engine stays usable and the held BDDs are intact.
  recorded_errors.clear();
  for (size_t k = 0; k < held.size(); k++) EXPECT_EQ(table_of(held[k], 4), held_tables[k]);
  BDD root = -1;
  EXPECT_EQ(load_text(save_text(held[0]), &root), 0);
  EXPECT_EQ(root, held[0]);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, ExtraLinesAfterTheDeclaredCountAreIgnored) {
  start_engine(1000, 100, 2);
  BDD root = -1;
  EXPECT_EQ(load_text("1 2\n0 1 \n4 1 0 1\n6 0 0 4\n", &root), 0);
  EXPECT_EQ(root, bdd_ithvar(1));
}

TEST_F(IoTest, LargestVariableCountIsAccepted) {
  start_engine(1000, 100, 2);
  std::string text = "1 1023\n";
  for (int v = 0; v < 1023; v++) text += std::to_string(1022 - v) + " ";
  text += "\n5000 1022 1 0\n";
  BDD root = -1;
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(bdd_varnum(), 1023);
  EXPECT_EQ(root, bdd_nithvar(1022));
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, NodeTableExhaustionDuringLoad) {
  // A 10-variable function with a few hundred nodes, loaded into a table
  // that is not allowed to grow.
  std::mt19937 rng(2024);
  start_engine(20000, 1000, 10);
  Table t = random_table(rng, 10);
  std::string text = save_text(build(t, 10));
  bdd_done();

  start_engine(60, 100, 10);
  ASSERT_EQ(bdd_setmaxnodenum(bddnodesize + 1), 0);
  int base = live_nodes();
  auto counts = counted_nodes();
  BDD root = 4242;
  int rc = load_text(text, &root);
  EXPECT_EQ(rc, BDD_ERR_NODENUM);
  EXPECT_EQ(counted_nodes(), counts);
  EXPECT_EQ(root, 0);
  ASSERT_FALSE(recorded_errors.empty());
  EXPECT_EQ(recorded_errors.back(), BDD_ERR_NODENUM);
  EXPECT_EQ(live_nodes(), base);

  // While the sticky condition is set, a load is refused rather than built
  // from nodes that may have been silently replaced by 0.
  recorded_errors.clear();
  EXPECT_EQ(load_text(text, &root), BDD_ERR_NODENUM);

  bdd_clear_error();
  bdd_setmaxnodenum(0);
  recorded_errors.clear();
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(table_of(root, 10), t);
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- bad roots and streams -----------------------------------------------------------

TEST_F(IoTest, SaverAndPrintersRejectBadRoots) {
  start_engine(1000, 100, 3);
  int freenode = bddnodesize - 1;
  ASSERT_TRUE(ISFREE(freenode));
  char path[] = "/tmp/corvane_io_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "keep", 4), 4);
  close(fd);

  for (BDD bad : {-1, -1000, freenode, bddnodesize, bddnodesize + 7, 0x7FFFFFF}) {
    SCOPED_TRACE(bad);
    recorded_errors.clear();
    int rc = 0;
    EXPECT_EQ(save_text(bad, &rc), "");
    EXPECT_EQ(rc, BDD_ERR_ILLBDD);
    EXPECT_EQ(capture([&](FILE *f) { bdd_fprinttable(f, bad); }), "");
    EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, bad); }), "");
    EXPECT_EQ(capture([&](FILE *f) { bdd_fprintdot(f, bad); }), "");
    EXPECT_EQ(bdd_fnsave(path, bad), BDD_ERR_ILLBDD);
    EXPECT_EQ(bdd_fnprintdot(path, bad), BDD_ERR_ILLBDD);
    EXPECT_EQ(recorded_errors, std::vector<int>(6, BDD_ERR_ILLBDD));
  }
  // A rejected root does not clobber the file.
  FILE *in = fopen(path, "r");
  char buf[8] = {0};
  ASSERT_EQ(fread(buf, 1, sizeof buf, in), 4u);
  fclose(in);
  EXPECT_STREQ(buf, "keep");
  unlink(path);

  recorded_errors.clear();
  BDD root = 3;
  EXPECT_EQ(bdd_save(nullptr, 1), BDD_ERR_FILE);
  EXPECT_EQ(bdd_load(nullptr, &root), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnload(nullptr, &root), BDD_ERR_FILE);
  EXPECT_EQ(root, 3);
  EXPECT_EQ(recorded_errors, std::vector<int>(3, BDD_ERR_FILE));
}

TEST_F(IoTest, LoadNeedsARunningEngine) {
  recorded_errors.clear();
  bdd_error_hook(record_errors);  // not running: no default handler to fear
  BDD root = 9;
  EXPECT_EQ(load_text("0 0 1\n", &root), BDD_ERR_RUNNING);
  EXPECT_EQ(root, 9);
  // Constants need no engine to be saved or printed.
  EXPECT_EQ(save_text(1), "0 0 1\n");
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintset(f, 0); }), "F");
  EXPECT_EQ(save_text(5), "");
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_RUNNING, BDD_ERR_RUNNING}));
  bdd_error_hook(nullptr);
}

// ---- printers against the structure they print -------------------------------------

// Parses "<v:b, v:b>..." into cubes.
std::vector<std::map<int, int>> parse_set(const std::string &s) {
  std::vector<std::map<int, int>> paths;
  size_t i = 0;
  while (i < s.size()) {
    EXPECT_EQ(s[i], '<');
    size_t end = s.find('>', i);
    std::string body = s.substr(i + 1, end - i - 1);
    std::map<int, int> cube;
    std::istringstream in(body);
    std::string item;
    while (std::getline(in, item, ',')) {
      int v, b;
      EXPECT_EQ(sscanf(item.c_str(), " %d:%d", &v, &b), 2) << item;
      EXPECT_FALSE(cube.count(v));
      cube[v] = b;
    }
    paths.push_back(cube);
    i = end + 1;
  }
  return paths;
}

TEST_F(IoTest, PrintsetCoversEachSatisfyingAssignmentOnce) {
  std::mt19937 rng(77);
  start_engine(5000, 500, 1);
  for (int n = 1; n <= 7; n++) {
    ASSERT_EQ(bdd_setvarnum(n), 0);
    for (int k = 0; k < 15; k++) {
      Table t = random_table(rng, n);
      BDD f = bdd_addref(build(t, n));
      std::string out = capture([&](FILE *fp) { bdd_fprintset(fp, f); });
      if (f < 2) {
        EXPECT_EQ(out, f ? "T" : "F");
      } else {
        auto paths = parse_set(out);
        for (int m = 0; m < (1 << n); m++) {
          int hits = 0;
          for (auto &cube : paths) {
            bool ok = true;
            for (auto &[v, b] : cube) ok = ok && ((m >> v) & 1) == b;
            hits += ok;
          }
          EXPECT_EQ(hits, t[m]) << "assignment " << m;
        }
      }
      bdd_delref(f);
    }
  }
}

TEST_F(IoTest, TableAndDotListEachReachableNodeOnce) {
  std::mt19937 rng(31);
  start_engine(5000, 500, 7);
  for (int k = 0; k < 20; k++) {
    Table t = random_table(rng, 7);
    BDD f = bdd_addref(build(t, 7));
    if (f < 2) continue;
    std::set<int> nodes;
    reachable(f, nodes);

    std::string table = capture([&](FILE *fp) { bdd_fprinttable(fp, f); });
    EXPECT_FALSE(any_marked());
    std::istringstream tin(table);
    std::string line;
    std::getline(tin, line);
    EXPECT_EQ(line, "ROOT: " + std::to_string(f));
    std::vector<int> listed;
    while (std::getline(tin, line)) {
      int n, v, lo, hi;
      ASSERT_EQ(sscanf(line.c_str(), "[%d] %d: %d %d", &n, &v, &lo, &hi), 4);
      EXPECT_EQ(v, bdd_var(n));
      EXPECT_EQ(lo, bdd_low(n));
      EXPECT_EQ(hi, bdd_high(n));
      listed.push_back(n);
    }
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    EXPECT_EQ(std::set<int>(listed.begin(), listed.end()), nodes);
    EXPECT_EQ(listed.size(), nodes.size());

    std::string dot = capture([&](FILE *fp) { bdd_fprintdot(fp, f); });
    EXPECT_FALSE(any_marked());
    std::istringstream din(dot);
    std::vector<int> declared;
    std::set<int> seen;
    for (int skip = 0; skip < 3; skip++) std::getline(din, line);
    while (std::getline(din, line) && line != "}") {
      int n, v, a, b;
      if (sscanf(line.c_str(), "%d [label=\"%d\"];", &n, &v) == 2) {
        EXPECT_EQ(v, bdd_var(n));
        // Pre-order: a node is declared before its children, and its
        // parent (other than the root) was declared earlier.
        EXPECT_EQ(seen.count(n), 0u);
        bool parent_before = n == f;
        for (int p : seen) parent_before = parent_before || bdd_low(p) == n || bdd_high(p) == n;
        EXPECT_TRUE(parent_before);
        declared.push_back(n);
        seen.insert(n);
      } else if (line.find("dotted") != std::string::npos) {
        ASSERT_EQ(sscanf(line.c_str(), "%d -> %d", &a, &b), 2);
        EXPECT_EQ(a, declared.back());
        EXPECT_EQ(b, bdd_low(a));
      } else {
        ASSERT_EQ(sscanf(line.c_str(), "%d -> %d [style=filled];", &a, &b), 2) << line;
        EXPECT_EQ(a, declared.back());
        EXPECT_EQ(b, bdd_high(a));
      }
    }
    EXPECT_EQ(line, "}");
    EXPECT_EQ(declared.front(), f);
    EXPECT_EQ(declared.size(), nodes.size());
    EXPECT_EQ(std::set<int>(declared.begin(), declared.end()), nodes);
    bdd_delref(f);
  }
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- variable-name printer ------------------------------------------------------------

std::vector<int> hook_calls;
void name_hook(FILE *f, int var) {
  hook_calls.push_back(var);
  fprintf(f, "v%d", var);
}

TEST_F(IoTest, FileHookNamesEveryVariable) {
  start_engine(1000, 100, 3);
  EXPECT_EQ(bdd_file_hook(name_hook), nullptr);
  BDD x1 = bdd_ithvar(1);
  BDD disj = bdd_addref(bdd_makenode(0, x1, 1));  // x0 | x1
  BDD g = bdd_addref(bdd_makenode(0, bdd_makenode(1, 0, bdd_ithvar(2)), bdd_ithvar(2)));

  hook_calls.clear();
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, disj); }), "<v0:0, v1:1><v0:1>");
  EXPECT_EQ(hook_calls, (std::vector<int>{0, 1, 0}));

  // One call per node for the table and the digraph, one per listed node
  // in the whole-table dump.
  std::set<int> nodes;
  reachable(g, nodes);
  std::multiset<int> want;
  for (int n : nodes) want.insert(bdd_var(n));
  hook_calls.clear();
  std::string table = capture([&](FILE *f) { bdd_fprinttable(f, g); });
  EXPECT_EQ(std::multiset<int>(hook_calls.begin(), hook_calls.end()), want);
  EXPECT_NE(table.find("] v0: "), std::string::npos);
  hook_calls.clear();
  std::string dot = capture([&](FILE *f) { bdd_fprintdot(f, g); });
  EXPECT_EQ(std::multiset<int>(hook_calls.begin(), hook_calls.end()), want);
  EXPECT_NE(dot.find("[label=\"v0\"]"), std::string::npos);

  hook_calls.clear();
  capture([](FILE *f) { bdd_fprintall(f); });
  EXPECT_EQ((int)hook_calls.size(), bdd_getnodenum());

  // Null restores the numbers and hands back the printer it replaced.
  EXPECT_EQ(bdd_file_hook(nullptr), name_hook);
  hook_calls.clear();
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintset(f, disj); }), "<0:0, 1:1><0:1>");
  EXPECT_TRUE(hook_calls.empty());
}

// ---- variable order ---------------------------------------------------------------------

TEST_F(IoTest, LoadUnderAnotherVariableOrder) {
  std::mt19937 rng(4711);
  start_engine(5000, 1000, 5);
  std::vector<BDD> fs;
  std::vector<std::string> texts;
  std::vector<Table> tables;
  for (int k = 0; k < 12; k++) {
    Table t = random_table(rng, 5);
    BDD f = bdd_addref(build(t, 5));
    fs.push_back(f);
    tables.push_back(t);
    texts.push_back(save_text(f));
  }

  ASSERT_EQ(bdd_swapvar(0, 3), 0);
  ASSERT_EQ(bdd_swapvar(1, 4), 0);
  ASSERT_NE(bdd_var2level(0), 0) << "the order did not change";
  ASSERT_NE(bdd_var2level(1), 1) << "the order did not change";

  for (size_t k = 0; k < fs.size(); k++) {
    SCOPED_TRACE(k);
    // Node indices keep their function across the exchange, and the
    // loaded BDD is canonical under the new order: the same node.
    EXPECT_EQ(table_of(fs[k], 5), tables[k]);
    BDD root = -1;
    ASSERT_EQ(load_text(texts[k], &root), 0);
    EXPECT_EQ(root, fs[k]);
    EXPECT_EQ(table_of(root, 5), tables[k]);

    // Saving again reflects the new order; it still loads to the same node.
    if (fs[k] >= 2) {
      std::string again = save_text(fs[k]);
      std::vector<long> v = ints_of(again);
      for (int var = 0; var < 5; var++) EXPECT_EQ(v[2 + var], bdd_var2level(var));
      ASSERT_EQ(load_text(again, &root), 0);
      EXPECT_EQ(root, fs[k]);
    }
  }
  EXPECT_TRUE(recorded_errors.empty());
}

}  // namespace
