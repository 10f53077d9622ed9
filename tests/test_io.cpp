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
  int p = std::uniform_int_distribution<int>(5, 95)(rng);
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
  for (long x; in >> x;) v.push_back(x);
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

std::string temp_path() {
  char path[] = "/tmp/corvane_io_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  close(fd);
  return path;
}

std::string read_file(const std::string &path) {
  std::string s;
  FILE *in = fopen(path.c_str(), "r");
  if (in == nullptr) return "<unreadable>";
  for (int c; (c = getc(in)) != EOF;) s += (char)c;
  fclose(in);
  return s;
}

class IoTest : public ::testing::Test {
 protected:
  void TearDown() override {
    bdd_file_hook(nullptr);
    if (bdd_isrunning()) bdd_done();
  }
};

// ---- exact formats ----------------------------------------------------------

TEST_F(IoTest, SaveAndPrintFormatsAreExact) {
  start_engine(1000, 100, 3);
  // Fresh free list: xi = 2 + 2i, !xi = 3 + 2i; new nodes from 8 on.
  BDD x0 = bdd_ithvar(0), x1 = bdd_ithvar(1), x2 = bdd_ithvar(2);
  BDD ite = bdd_addref(bdd_makenode(0, x1, x2));   // x0 ? x2 : x1, both branches nodes
  BDD conj = bdd_addref(bdd_makenode(0, 0, x1));   // x0 & x1
  BDD disj = bdd_addref(bdd_makenode(0, x1, 1));   // x0 | x1
  ASSERT_EQ(ite, 8);
  ASSERT_EQ(conj, 9);
  ASSERT_EQ(disj, 10);
  auto set = [](BDD r) { return capture([&](FILE *f) { bdd_fprintset(f, r); }); };
  auto table = [](BDD r) { return capture([&](FILE *f) { bdd_fprinttable(f, r); }); };
  auto dot = [](BDD r) { return capture([&](FILE *f) { bdd_fprintdot(f, r); }); };
  const std::string head =
      "digraph G {\n"
      "0 [shape=box, label=\"0\", style=filled, shape=box, height=0.3, width=0.3];\n"
      "1 [shape=box, label=\"1\", style=filled, shape=box, height=0.3, width=0.3];\n";
  // The low branch is walked first everywhere.
  const std::pair<std::string, std::string> cases[] = {
      {save_text(ite), "3 3\n0 1 2 \n4 1 0 1\n6 2 0 1\n8 0 4 6\n"},
      {save_text(conj), "2 3\n0 1 2 \n4 1 0 1\n9 0 0 4\n"},
      {save_text(x2), "1 3\n0 1 2 \n6 2 0 1\n"},
      {save_text(0), "0 0 0\n"},
      {save_text(1), "0 0 1\n"},
      {set(disj), "<0:0, 1:1><0:1>"},
      {set(ite), "<0:0, 1:1><0:1, 2:1>"},
      {set(x0), "<0:1>"},
      {set(0), "F"},
      {set(1), "T"},
      {table(conj), "ROOT: 9\n[    4]   1:   0   1\n[    9]   0:   0   4\n"},
      {table(0), "ROOT: 0\n"},
      {table(1), "ROOT: 1\n"},
      {dot(0), head + "}\n"},
      {dot(1), head + "}\n"},
      {dot(ite), head + "8 [label=\"0\"];\n8 -> 4 [style=dotted];\n8 -> 6 [style=filled];\n"
                        "4 [label=\"1\"];\n4 -> 0 [style=dotted];\n4 -> 1 [style=filled];\n"
                        "6 [label=\"2\"];\n6 -> 0 [style=dotted];\n6 -> 1 [style=filled];\n}\n"},
  };
  for (size_t k = 0; k < sizeof cases / sizeof cases[0]; k++)
    EXPECT_EQ(cases[k].first, cases[k].second) << "case " << k;

  EXPECT_EQ(capture([&](FILE *) { bdd_fprintall(nullptr); }), "");
  for (BDD r : {ite, conj, disj}) bdd_delref(r);
  bdd_gbc();
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   3:   0   0\n[    1 - 511]   3:   1   1\n"
            "[    2 - 511]   0:   0   1\n[    3 - 511]   0:   1   0\n"
            "[    4 - 511]   1:   0   1\n[    5 - 511]   1:   1   0\n"
            "[    6 - 511]   2:   0   1\n[    7 - 511]   2:   1   0\n");
  EXPECT_FALSE(any_marked());
  // Only the null stream above raised anything.
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_FILE});
  bdd_done();

  // Before any variable exists the constants show their raw level.
  start_engine(100, 10, 0);
  ASSERT_EQ(bddlevel2var, nullptr);
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   0:   0   0\n[    1 - 511]   0:   1   1\n");
  EXPECT_TRUE(recorded_errors.empty());
}

// Files that are odd but sound load to the expected root.
TEST_F(IoTest, UnusualButValidFiles) {
  std::string widest = "1 1023\n";
  for (int v = 0; v < 1023; v++) widest += std::to_string(1022 - v) + " ";
  widest += "\n5000 1022 1 0\n";
  const struct {
    const char *what;
    std::string text;
    std::function<BDD()> want;
    int varnum;
  } cases[] = {
      {"constant 0", "0 0 0\n", [] { return 0; }, 2},
      {"constant 1", "0 0 1\n", [] { return 1; }, 2},
      {"free-form whitespace", "  0\t0\n\n 1", [] { return 1; }, 2},
      {"lines past the count", "1 2\n0 1 \n4 1 0 1\n6 0 0 4\n", [] { return bdd_ithvar(1); }, 2},
      {"largest variable count", widest, [] { return bdd_nithvar(1022); }, 1023},
  };
  start_engine(1000, 100, 2);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    BDD root = 77;
    ASSERT_EQ(load_text(c.text, &root), 0);
    EXPECT_EQ(root, c.want());
    EXPECT_EQ(bdd_varnum(), c.varnum);
  }
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- round trips and printers against the structure they show ---------------

// Parses "<v:b, v:b>..." into cubes.
std::vector<std::map<int, int>> parse_set(const std::string &s) {
  std::vector<std::map<int, int>> paths;
  for (size_t i = 0; i < s.size();) {
    EXPECT_EQ(s[i], '<');
    size_t end = s.find('>', i);
    std::istringstream in(s.substr(i + 1, end - i - 1));
    std::map<int, int> cube;
    for (std::string item; std::getline(in, item, ',');) {
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

// Node lines as {node, var, low, high}: each must match the table, and
// together they list every node below f exactly once.
using Row = std::vector<int>;
void expect_nodes_of(BDD f, const std::vector<Row> &rows, const char *what) {
  SCOPED_TRACE(what);
  std::set<int> nodes, listed;
  reachable(f, nodes);
  for (const Row &r : rows) {
    EXPECT_TRUE(listed.insert(r[0]).second) << "listed twice: " << r[0];
    EXPECT_EQ(r[1], bdd_var(r[0]));
    EXPECT_EQ(r[2], bdd_low(r[0]));
    EXPECT_EQ(r[3], bdd_high(r[0]));
  }
  EXPECT_EQ(listed, nodes);
  EXPECT_EQ(rows.size(), nodes.size());
}

void check_save_and_load(BDD f, int n, const Table &t) {
  int rc = -99;
  std::string text = save_text(f, &rc);
  ASSERT_EQ(rc, 0);
  // Header count matches the node lines, children name constants or
  // earlier lines, the last line is the root.
  std::vector<long> v = ints_of(text);
  if (f < 2) {
    EXPECT_EQ(v, (std::vector<long>{0, 0, f}));
  } else {
    ASSERT_EQ(v.size(), 2 + (size_t)n + 4 * (size_t)v[0]);
    ASSERT_EQ(v[1], n);
    std::vector<Row> rows;
    std::set<long> seen;
    for (size_t i = 2 + n; i < v.size(); i += 4) {
      rows.push_back({(int)v[i], (int)v[i + 1], (int)v[i + 2], (int)v[i + 3]});
      for (int c = 2; c <= 3; c++)
        EXPECT_TRUE(v[i + c] < 2 || seen.count(v[i + c])) << "child before parent";
      seen.insert(v[i]);
    }
    expect_nodes_of(f, rows, "save");
    EXPECT_EQ(rows.back()[0], f);
  }
  BDD root = -1;
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(root, f);
  EXPECT_EQ(table_of(root, n), t);
}

void check_printset(BDD f, int n, const Table &t) {
  std::string out = capture([&](FILE *fp) { bdd_fprintset(fp, f); });
  if (f < 2) {
    EXPECT_EQ(out, f ? "T" : "F");
    return;
  }
  // Each satisfying assignment lies on exactly one printed path.
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

void check_table_and_dot(BDD f) {
  if (f < 2) return;
  std::istringstream tin(capture([&](FILE *fp) { bdd_fprinttable(fp, f); }));
  EXPECT_FALSE(any_marked());
  std::string line;
  std::getline(tin, line);
  EXPECT_EQ(line, "ROOT: " + std::to_string(f));
  std::vector<Row> rows;
  while (std::getline(tin, line)) {
    Row r(4);
    ASSERT_EQ(sscanf(line.c_str(), "[%d] %d: %d %d", &r[0], &r[1], &r[2], &r[3]), 4);
    EXPECT_TRUE(rows.empty() || rows.back()[0] < r[0]) << "table not in index order";
    rows.push_back(r);
  }
  expect_nodes_of(f, rows, "table");

  std::istringstream din(capture([&](FILE *fp) { bdd_fprintdot(fp, f); }));
  EXPECT_FALSE(any_marked());
  rows.clear();
  for (int skip = 0; skip < 3; skip++) std::getline(din, line);
  while (std::getline(din, line) && line != "}") {
    int n, v, a, b;
    if (sscanf(line.c_str(), "%d [label=\"%d\"];", &n, &v) == 2) {
      // Pre-order: a node's parent (other than the root's) came earlier.
      bool parent_before = n == f;
      for (const Row &p : rows) parent_before = parent_before || p[2] == n || p[3] == n;
      EXPECT_TRUE(parent_before) << n;
      rows.push_back({n, v, -1, -1});
    } else {
      const bool low = line.find("dotted") != std::string::npos;
      ASSERT_EQ(sscanf(line.c_str(), low ? "%d -> %d [style=dotted];" : "%d -> %d [style=filled];",
                       &a, &b), 2) << line;
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(a, rows.back()[0]);
      rows.back()[low ? 2 : 3] = b;
    }
  }
  EXPECT_EQ(line, "}");
  EXPECT_EQ(rows.front()[0], f);
  expect_nodes_of(f, rows, "dot");
}

// One engine whose variable count grows with n (engine starts are costly
// under the sanitizers).
TEST_F(IoTest, RoundTripAndPrintersAgreeWithTheStructure) {
  std::mt19937 rng(12345);
  start_engine(5000, 1000, 1);
  for (int n = 1; n <= 7; n++) {
    ASSERT_EQ(bdd_setvarnum(n), 0);
    for (int k = 0; k < 25; k++) {
      SCOPED_TRACE(testing::Message() << n << " variables, function " << k);
      Table t = random_table(rng, n);
      BDD f = bdd_addref(build(t, n));
      check_save_and_load(f, n, t);
      check_printset(f, n, t);
      check_table_and_dot(f);
      bdd_delref(f);
    }
  }
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_FALSE(any_marked());

  // The whole-table dump lists every node in use once, in index order.
  BDD f = bdd_addref(build(random_table(rng, 7), 7));
  bdd_gbc();
  std::istringstream in(capture([](FILE *fp) { bdd_fprintall(fp); }));
  std::vector<int> listed;
  for (std::string line; std::getline(in, line);) {
    int n, rc, var, lo, hi;
    ASSERT_EQ(sscanf(line.c_str(), "[%d - %d] %d: %d %d", &n, &rc, &var, &lo, &hi), 5) << line;
    ASSERT_FALSE(ISFREE(n));
    EXPECT_EQ(rc, (int)REFCOUNT(n));
    EXPECT_EQ(var, bddlevel2var[LEVEL(n)]);
    EXPECT_EQ(lo, LOW(n));
    EXPECT_EQ(hi, HIGH(n));
    listed.push_back(n);
  }
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
  EXPECT_EQ((int)listed.size(), bdd_getnodenum());
  bdd_delref(f);
}

// Functions of 2 to 8 variables, each saved while the engine had just that
// many variables, loaded into an engine with fewer variables and another
// allocation history: the loader raises the count, builds new nodes, and
// hands back a root without a reference.
TEST_F(IoTest, LoadIntoAnotherEngineKeepsTheFunction) {
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

  start_engine(3000, 500, 1);
  bdd_addref(build(random_table(rng, 1), 1));
  for (size_t k = 0; k < texts.size(); k++) {
    SCOPED_TRACE(k);
    int n = nvars[k];
    ASSERT_EQ(ints_of(texts[k])[1], n);
    BDD root = -1;
    // Once the count needs no raising (which adds variable nodes), a load
    // that builds new nodes must leave none of them referenced.
    if (bdd_varnum() == n && n >= 5) {
      const int base = live_nodes();
      ASSERT_EQ(load_text(texts[k], &root), 0);
      EXPECT_GT(bdd_getnodenum(), base);
      EXPECT_EQ(live_nodes(), base) << "the loader left a reference behind";
    }
    ASSERT_EQ(load_text(texts[k], &root), 0);
    bdd_addref(root);
    EXPECT_EQ(bdd_varnum(), n) << "the file's variable count is raised first";
    EXPECT_EQ(table_of(root, n), tables[k]);
    EXPECT_EQ(root, build(tables[k], n)) << "canonical under identity order";
  }
  EXPECT_TRUE(recorded_errors.empty());
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

TEST_F(IoTest, LoadUnderAnotherVariableOrder) {
  std::mt19937 rng(4711);
  start_engine(5000, 1000, 5);
  std::vector<BDD> fs;
  std::vector<std::string> texts;
  std::vector<Table> tables;
  for (int k = 0; k < 12; k++) {
    tables.push_back(random_table(rng, 5));
    fs.push_back(bdd_addref(build(tables.back(), 5)));
    texts.push_back(save_text(fs.back()));
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
    // Saving again reflects the new order; it still loads to the same node.
    if (fs[k] >= 2) {
      std::vector<long> v = ints_of(save_text(fs[k]));
      for (int var = 0; var < 5; var++) EXPECT_EQ(v[2 + var], bdd_var2level(var));
      ASSERT_EQ(load_text(save_text(fs[k]), &root), 0);
      EXPECT_EQ(root, fs[k]);
    }
  }
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- malformed files and refusals -------------------------------------------

TEST_F(IoTest, MalformedFilesAreRejectedWithoutLeaks) {
  // Three valid lines, two of which build new nodes, precede most faults,
  // so that a reference left behind shows up in the node count.
  const std::string pre = "8 2 0 1\n9 1 0 8\n10 0 9 1\n";  // x0 | (x1 & x2)
  const std::string head4 = "4 3\n0 1 2 \n" + pre;
  const int F = BDD_ERR_FORMAT;
  const struct {
    const char *what;
    std::string text;
    bool root_cleared;  // false: the root is left untouched
  } cases[] = {
      {"empty", "", false},
      {"one number", "5", false},
      {"words", "abc def", false},
      {"negative node count", "-1 2\n0 1 \n4 1 0 1\n", false},
      {"negative variable count", "1 -2\n", false},
      {"nodes without variables", "1 0\n4 0 0 1\n", false},
      {"variables without nodes", "0 3\n0 1 2 \n", false},
      {"too many variables", "1 1024\n", false},
      {"node count beyond any table", "134217727 2\n0 1 \n4 1 0 1\n", false},
      {"count overflows int", "99999999999 2\n0 1 \n4 1 0 1\n", false},
      {"huge count, short file", "100000000 3\n0 1 2 \n" + pre, true},
      {"constant root 2", "0 0 2\n", false},
      {"constant root -1", "0 0 -1\n", false},
      {"constant root missing", "0 0", false},
      {"order line short", "2 3\n0 1", false},
      {"order level out of range", "1 2\n0 2 \n4 1 0 1\n", false},
      {"order level repeated", "1 2\n1 1 \n4 1 0 1\n", false},
      {"truncated node lines", head4, true},
      {"truncated inside a line", head4 + "11 2 9", true},
      {"negative key", head4 + "-4 1 0 1\n", true},
      {"key naming a constant", head4 + "1 1 0 1\n", true},
      {"key beyond node indices", head4 + "134217727 1 0 1\n", true},
      {"duplicate key", head4 + "9 0 0 1\n", true},
      {"forward child", "5 3\n0 1 2 \n" + pre + "11 0 12 1\n12 1 0 1\n", true},
      {"undefined child", head4 + "11 0 0 7\n", true},
      {"negative child", head4 + "11 0 -3 1\n", true},
      {"variable beyond header", head4 + "11 3 0 1\n", true},
      {"negative variable", head4 + "11 -1 0 1\n", true},
      {"word in node line", head4 + "11 x 0 1\n", true},
      {"child overflows int", head4 + "11 0 0 4294967297\n", true},
  };

  // Each case runs against an engine that holds BDDs of its own.
  start_engine(2000, 500, 4);
  std::mt19937 rng(1);
  std::vector<BDD> held;
  std::vector<Table> held_tables;
  for (int k = 0; k < 5; k++) {
    held.push_back(bdd_addref(build(random_table(rng, 4), 4)));
    held_tables.push_back(table_of(held.back(), 4));
  }
  // The shared prefix alone is a valid file that builds nodes, so the leak
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
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    int base = live_nodes();
    auto counts = counted_nodes();
    recorded_errors.clear();
    BDD root = 4242;
    EXPECT_EQ(load_text(c.text, &root), F);
    ASSERT_FALSE(recorded_errors.empty());
    EXPECT_EQ(recorded_errors.back(), F);
    EXPECT_EQ(root, c.root_cleared ? 0 : 4242);
    EXPECT_EQ(bdd_varnum(), 4);
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
  EXPECT_EQ(load_text(text, &root), BDD_ERR_NODENUM);
  EXPECT_EQ(counted_nodes(), counts);
  EXPECT_EQ(root, 0);
  ASSERT_FALSE(recorded_errors.empty());
  EXPECT_EQ(recorded_errors.back(), BDD_ERR_NODENUM);
  EXPECT_EQ(live_nodes(), base);
  // While the sticky condition is set, a load is refused rather than built
  // from nodes that may have been silently replaced by 0.
  EXPECT_EQ(load_text(text, &root), BDD_ERR_NODENUM);

  bdd_clear_error();
  bdd_setmaxnodenum(0);
  recorded_errors.clear();
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(table_of(root, 10), t);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, FileNamesBadRootsAndStreams) {
  start_engine(1000, 100, 3);
  const std::string path = temp_path();
  std::mt19937 rng(3);
  BDD f = bdd_addref(build(random_table(rng, 3), 3));
  EXPECT_EQ(bdd_fnsave(path.c_str(), f), 0);
  BDD root = -1;
  EXPECT_EQ(bdd_fnload(path.c_str(), &root), 0);
  EXPECT_EQ(root, f);
  EXPECT_EQ(bdd_fnprintdot(path.c_str(), f), 0);
  EXPECT_EQ(read_file(path), capture([&](FILE *o) { bdd_fprintdot(o, f); }));

  const char *nodir = "/nonexistent-dir/x";
  root = 55;
  EXPECT_EQ(bdd_fnsave(nodir, f), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnload(nodir, &root), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnprintdot(nodir, f), BDD_ERR_FILE);
  EXPECT_EQ(bdd_save(nullptr, 1), BDD_ERR_FILE);
  EXPECT_EQ(bdd_load(nullptr, &root), BDD_ERR_FILE);
  EXPECT_EQ(bdd_fnload(nullptr, &root), BDD_ERR_FILE);
  EXPECT_EQ(root, 55);
  EXPECT_EQ(recorded_errors, std::vector<int>(6, BDD_ERR_FILE));

  int freenode = bddnodesize - 1;
  ASSERT_TRUE(ISFREE(freenode));
  FILE *keep = fopen(path.c_str(), "w");
  ASSERT_NE(keep, nullptr);
  fputs("keep", keep);
  fclose(keep);
  for (BDD bad : {-1, -1000, freenode, bddnodesize, bddnodesize + 7, 0x7FFFFFF}) {
    SCOPED_TRACE(bad);
    recorded_errors.clear();
    int rc = 0;
    EXPECT_EQ(save_text(bad, &rc), "");
    EXPECT_EQ(rc, BDD_ERR_ILLBDD);
    EXPECT_EQ(capture([&](FILE *o) { bdd_fprinttable(o, bad); }), "");
    EXPECT_EQ(capture([&](FILE *o) { bdd_fprintset(o, bad); }), "");
    EXPECT_EQ(capture([&](FILE *o) { bdd_fprintdot(o, bad); }), "");
    EXPECT_EQ(bdd_fnsave(path.c_str(), bad), BDD_ERR_ILLBDD);
    EXPECT_EQ(bdd_fnprintdot(path.c_str(), bad), BDD_ERR_ILLBDD);
    EXPECT_EQ(recorded_errors, std::vector<int>(6, BDD_ERR_ILLBDD));
  }
  EXPECT_EQ(read_file(path), "keep") << "a rejected root clobbered the file";
  unlink(path.c_str());
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

std::vector<int> hook_calls;
void name_hook(FILE *f, int var) {
  hook_calls.push_back(var);
  fprintf(f, "v%d", var);
}

TEST_F(IoTest, FileHookNamesEveryVariable) {
  start_engine(1000, 100, 3);
  EXPECT_EQ(bdd_file_hook(name_hook), nullptr);
  BDD disj = bdd_addref(bdd_makenode(0, bdd_ithvar(1), 1));  // x0 | x1
  BDD g = bdd_addref(bdd_makenode(0, bdd_makenode(1, 0, bdd_ithvar(2)), bdd_ithvar(2)));
  auto calls = [](const std::function<void(FILE *)> &fn, std::string *out = nullptr) {
    hook_calls.clear();
    std::string s = capture(fn);
    if (out) *out = s;
    return std::multiset<int>(hook_calls.begin(), hook_calls.end());
  };
  std::string out;
  EXPECT_EQ(calls([&](FILE *f) { bdd_fprintset(f, disj); }, &out), (std::multiset<int>{0, 0, 1}));
  EXPECT_EQ(out, "<v0:0, v1:1><v0:1>");
  EXPECT_EQ(hook_calls, (std::vector<int>{0, 1, 0}));

  // One call per node for the table and the digraph, one per listed node
  // in the whole-table dump.
  std::set<int> nodes;
  reachable(g, nodes);
  std::multiset<int> want;
  for (int n : nodes) want.insert(bdd_var(n));
  EXPECT_EQ(calls([&](FILE *f) { bdd_fprinttable(f, g); }, &out), want);
  EXPECT_NE(out.find("] v0: "), std::string::npos);
  EXPECT_EQ(calls([&](FILE *f) { bdd_fprintdot(f, g); }, &out), want);
  EXPECT_NE(out.find("[label=\"v0\"]"), std::string::npos);
  EXPECT_EQ((int)calls([](FILE *f) { bdd_fprintall(f); }).size(), bdd_getnodenum());

  // Null restores the numbers and hands back the printer it replaced.
  EXPECT_EQ(bdd_file_hook(nullptr), name_hook);
  EXPECT_TRUE(calls([&](FILE *f) { bdd_fprintset(f, disj); }, &out).empty());
  EXPECT_EQ(out, "<0:0, 1:1><0:1>");
}

}  // namespace
