// Save/load round trips, the exact file and printer formats, and the
// loader's defence against malformed files.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "src/kernel_internal.h"
#include "oracle.h"
#include "support.h"

namespace {

using namespace oracle;

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

// Vary the density so that sparse and dense functions both occur.
TT random_table(std::mt19937 &rng, int n) {
  return tt_random(rng, n, std::uniform_int_distribution<int>(5, 95)(rng) / 100.0);
}

bool any_marked() {
  for (int n = 0; n < bddnodesize; n++)
    if (MARKED(n)) return true;
  return false;
}

// Every unsaturated reference count in the table, by node.
std::map<int, unsigned> counted_nodes() {
  std::map<int, unsigned> m;
  for (int n = 2; n < bddnodesize; n++)
    if (!ISFREE(n) && REFCOUNT(n) > 0 && REFCOUNT(n) < MAX_REFCOUNT) m[n] = REFCOUNT(n);
  return m;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<unreadable>";
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
  // Fresh free list: xi = 2 + 2i, !xi = 3 + 2i; new nodes from 8 on. The
  // printers are checked against an independent walk further down; here
  // only the pinned-down layout of one digraph.
  BDD ite = bdd_addref(bdd_makenode(0, bdd_ithvar(1), bdd_ithvar(2)));  // x0 ? x2 : x1
  ASSERT_EQ(ite, 8);
  EXPECT_EQ(capture([&](FILE *f) { bdd_fprintdot(f, ite); }),
            "digraph G {\n"
            "0 [shape=box, label=\"0\", style=filled, shape=box, height=0.3, width=0.3];\n"
            "1 [shape=box, label=\"1\", style=filled, shape=box, height=0.3, width=0.3];\n"
            "8 [label=\"0\"];\n8 -> 4 [style=dotted];\n8 -> 6 [style=filled];\n"
            "4 [label=\"1\"];\n4 -> 0 [style=dotted];\n4 -> 1 [style=filled];\n"
            "6 [label=\"2\"];\n6 -> 0 [style=dotted];\n6 -> 1 [style=filled];\n}\n");
  EXPECT_EQ(capture([&](FILE *) { bdd_fprintall(nullptr); }), "");
  bdd_delref(ite);
  bdd_gbc();
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   3:   0   0\n[    1 - 511]   3:   1   1\n"
            "[    2 - 511]   0:   0   1\n[    3 - 511]   0:   1   0\n"
            "[    4 - 511]   1:   0   1\n[    5 - 511]   1:   1   0\n"
            "[    6 - 511]   2:   0   1\n[    7 - 511]   2:   1   0\n");
  EXPECT_FALSE(any_marked());
  // Only the null stream above raised anything.
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_FILE});

  // Files that are odd but sound.
  std::string widest = "1 1023\n";
  for (int v = 0; v < 1023; v++) widest += std::to_string(1022 - v) + " ";
  const std::pair<std::string, std::function<BDD()>> odd[] = {
      {"0 0 0\n", [] { return 0; }},
      {"  0\t0\n\n 1", [] { return 1; }},  // whitespace is free-form
      {"1 2\n0 1 \n4 1 0 1\n6 0 0 4\n", [] { return bdd_ithvar(1); }},  // lines past the count
      {"1 4\n0 1 2 3 \n4 3 1 0\n", [] { return bdd_nithvar(3); }},  // one variable more
      {widest + "\n5000 1022 1 0\n", [] { return bdd_nithvar(1022); }},  // largest count
  };
  for (const auto &c : odd) {
    BDD root = 77;
    ASSERT_EQ(load_text(c.first, &root), 0) << c.first.substr(0, 20);
    EXPECT_EQ(root, c.second());
  }
  EXPECT_EQ(bdd_varnum(), 1023);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_FILE});
  bdd_done();

  // Before any variable exists the constants show their raw level.
  start_engine(100, 10, 0);
  ASSERT_EQ(bddlevel2var, nullptr);
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintall(f); }),
            "[    0 - 511]   0:   0   0\n[    1 - 511]   0:   1   1\n");
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- round trips and printers against an independent walk -------------------

std::string fmt(const char *format, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

// The nodes below f, each once, low branch first, in pre- or post-order.
void walk(BDD f, bool pre, std::set<int> &seen, std::vector<int> &out) {
  if (f < 2 || !seen.insert(f).second) return;
  if (pre) out.push_back(f);
  walk(bdd_low(f), pre, seen, out);
  walk(bdd_high(f), pre, seen, out);
  if (!pre) out.push_back(f);
}
std::vector<int> walk(BDD f, bool pre) {
  std::set<int> seen;
  std::vector<int> out;
  walk(f, pre, seen, out);
  return out;
}

// What the saver and the printers must write for f, built from the walk:
// children before parents in the file, index order in the table, parents
// first in the digraph.
std::string expected_save(BDD f) {
  if (f < 2) return fmt("0 0 %d\n", f);
  std::vector<int> post = walk(f, false);
  std::string s = fmt("%d %d\n", (int)post.size(), bddvarnum);
  for (int v = 0; v < bddvarnum; v++) s += fmt("%d ", bdd_var2level(v));
  s += "\n";
  for (int n : post) s += fmt("%d %d %d %d\n", n, bdd_var(n), bdd_low(n), bdd_high(n));
  return s;
}
std::string expected_table(BDD f) {
  std::string s = fmt("ROOT: %d\n", f);
  std::vector<int> nodes = walk(f, true);
  for (int n : std::set<int>(nodes.begin(), nodes.end()))
    s += fmt("[%5d] %3d: %3d %3d\n", n, bdd_var(n), bdd_low(n), bdd_high(n));
  return s;
}
std::string expected_dot(BDD f) {
  std::string s = "digraph G {\n";
  for (int c = 0; c < 2; c++)
    s += fmt("%d [shape=box, label=\"%d\", style=filled, shape=box, height=0.3, width=0.3];\n",
             c, c);
  for (int n : walk(f, true))
    s += fmt("%d [label=\"%d\"];\n%d -> %d [style=dotted];\n%d -> %d [style=filled];\n", n,
             bdd_var(n), n, bdd_low(n), n, bdd_high(n));
  return s + "}\n";
}

// Each satisfying assignment must lie on exactly one path of "<v:b, ...>".
void check_printset(BDD f, int n, const TT &t) {
  std::string out = capture([&](FILE *fp) { bdd_fprintset(fp, f); });
  if (f < 2) {
    EXPECT_EQ(out, f ? "T" : "F");
    return;
  }
  std::vector<std::map<int, int>> paths;
  for (size_t i = 0; i < out.size();) {
    EXPECT_EQ(out[i], '<');
    size_t end = out.find('>', i);
    std::istringstream in(out.substr(i + 1, end - i - 1));
    paths.emplace_back();
    for (std::string item; std::getline(in, item, ',');) {
      int v, b;
      EXPECT_EQ(sscanf(item.c_str(), " %d:%d", &v, &b), 2) << item;
      EXPECT_TRUE(paths.back().emplace(v, b).second) << "variable twice on a path";
    }
    i = end + 1;
  }
  for (int m = 0; m < (1 << n); m++) {
    int hits = 0;
    for (auto &cube : paths) {
      bool ok = true;
      for (auto &[v, b] : cube) ok = ok && ((m >> v) & 1) == b;
      hits += ok;
    }
    EXPECT_EQ(hits, (int)t[m]) << "assignment " << m;
  }
}

// One engine whose variable count grows with n (engine starts are costly
// under the sanitizers).
TEST_F(IoTest, RoundTripAndPrintersAgreeWithTheStructure) {
  std::mt19937 rng(12345);
  std::vector<BDD> kept;  // the last functions, with their files and tables
  std::vector<std::string> texts;
  std::vector<TT> tables;
  start_engine(5000, 1000, 1);
  for (int n = 1; n <= 7; n++) {
    ASSERT_EQ(bdd_setvarnum(n), 0);
    for (int k = 0; k < 25; k++) {
      SCOPED_TRACE(testing::Message() << n << " variables, function " << k);
      TT t = random_table(rng, n);
      BDD f = bdd_of(t);
      int rc = -99;
      std::string text = save_text(f, &rc);
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(text, expected_save(f));
      BDD root = -1;
      ASSERT_EQ(load_text(text, &root), 0);
      EXPECT_EQ(root, f);
      EXPECT_EQ(tt_of(root, n), t);
      check_printset(f, n, t);
      EXPECT_EQ(capture([&](FILE *fp) { bdd_fprinttable(fp, f); }), expected_table(f));
      EXPECT_EQ(capture([&](FILE *fp) { bdd_fprintdot(fp, f); }), expected_dot(f));
      EXPECT_FALSE(any_marked());
      if (n < 7 || k < 13) {
        bdd_delref(f);
        continue;
      }
      kept.push_back(f);
      texts.push_back(text);
      tables.push_back(t);
    }
  }
  EXPECT_TRUE(recorded_errors.empty());

  // The whole-table dump lists every node in use once, in index order.
  bdd_gbc();
  std::string want;
  int listed = 0;
  for (int n = 0; n < bddnodesize; n++) {
    if (ISFREE(n)) continue;
    want += fmt("[%5d - %2d] %3d: %3d %3d\n", n, (int)REFCOUNT(n), bddlevel2var[LEVEL(n)], LOW(n),
                HIGH(n));
    listed++;
  }
  EXPECT_EQ(capture([](FILE *fp) { bdd_fprintall(fp); }), want);
  EXPECT_EQ(listed, bdd_getnodenum());

  // Under another order, node indices keep their function and a file
  // saved before loads to the same, canonical node; saving again writes
  // the new order and still loads to that node.
  ASSERT_EQ(bdd_swapvar(0, 3), 0);
  ASSERT_EQ(bdd_swapvar(1, 4), 0);
  ASSERT_NE(bdd_var2level(0), 0) << "the order did not change";
  for (size_t k = 0; k < kept.size(); k++) {
    SCOPED_TRACE(k);
    EXPECT_EQ(tt_of(kept[k], 7), tables[k]);
    BDD root = -1;
    ASSERT_EQ(load_text(texts[k], &root), 0);
    EXPECT_EQ(root, kept[k]);
    EXPECT_EQ(save_text(kept[k]), expected_save(kept[k]));
    ASSERT_EQ(load_text(save_text(kept[k]), &root), 0);
    EXPECT_EQ(root, kept[k]);
  }
  EXPECT_TRUE(recorded_errors.empty());
}

// ---- malformed files and refusals -------------------------------------------

TEST_F(IoTest, MalformedFilesAreRejectedWithoutLeaks) {
  // Three valid lines, two of which build new nodes, precede most faults,
  // so that a reference left behind shows up in the node count.
  const std::string pre = "8 2 0 1\n9 1 0 8\n10 0 9 1\n";  // x0 | (x1 & x2)
  const std::string head4 = "4 3\n0 1 2 \n" + pre;
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
  std::vector<TT> held_tables;
  for (int k = 0; k < 5; k++) {
    held_tables.push_back(random_table(rng, 4));
    held.push_back(bdd_of(held_tables.back()));
  }
  // The shared prefix alone is a valid file that builds nodes, so the leak
  // check below is not vacuous.
  int base = live_nodes();
  BDD root = -1;
  ASSERT_EQ(load_text("3 3\n0 1 2 \n" + pre, &root), 0);
  EXPECT_EQ(tt_of(bdd_addref(root), 3), tt_apply(tt_var(3, 0), tt_apply(tt_var(3, 1), tt_var(3, 2), OP_AND), OP_OR));
  EXPECT_GT(live_nodes(), base);
  bdd_delref(root);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    base = live_nodes();
    auto counts = counted_nodes();
    recorded_errors.clear();
    root = 4242;
    EXPECT_EQ(load_text(c.text, &root), BDD_ERR_FORMAT);
    ASSERT_FALSE(recorded_errors.empty());
    EXPECT_EQ(recorded_errors.back(), BDD_ERR_FORMAT);
    EXPECT_EQ(root, c.root_cleared ? 0 : 4242);
    EXPECT_EQ(bdd_varnum(), 4);
    EXPECT_EQ(counted_nodes(), counts) << "reference counts changed";
    EXPECT_EQ(live_nodes(), base) << "references left behind";
    EXPECT_FALSE(any_marked());
  }
  // The engine stays usable and the held BDDs are intact.
  recorded_errors.clear();
  for (size_t k = 0; k < held.size(); k++) EXPECT_EQ(tt_of(held[k], 4), held_tables[k]);
  EXPECT_EQ(load_text(save_text(held[0]), &root), 0);
  EXPECT_EQ(root, held[0]);
  // Hundreds of lines that all build the same node must not push its count
  // to the saturated value, which would pin it forever.
  std::string text = "700 3\n0 1 2 \n10 2 0 1\n";
  for (int k = 0; k < 699; k++) text += std::to_string(11 + k) + " 1 0 10\n";  // x1 & x2
  base = live_nodes();
  ASSERT_EQ(load_text(text, &root), 0);
  EXPECT_EQ(tt_of(root, 3), tt_apply(tt_var(3, 1), tt_var(3, 2), OP_AND));
  EXPECT_EQ(live_nodes(), base);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, NodeTableExhaustionDuringLoad) {
  // A 10-variable function with a few hundred nodes, loaded into a table
  // that is not allowed to grow.
  std::mt19937 rng(2024);
  start_engine(20000, 1000, 10);
  TT t = random_table(rng, 10);
  std::string text = save_text(bdd_of(t));
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
  EXPECT_EQ(tt_of(root, 10), t);
  EXPECT_TRUE(recorded_errors.empty());
}

TEST_F(IoTest, FileNamesBadRootsAndStreams) {
  // Without an engine a load is refused; constants need none to be saved
  // or printed.
  recorded_errors.clear();
  bdd_error_hook(record_errors);  // not running: no default handler to fear
  BDD root = 9;
  EXPECT_EQ(load_text("0 0 1\n", &root), BDD_ERR_RUNNING);
  EXPECT_EQ(root, 9);
  EXPECT_EQ(save_text(1), "0 0 1\n");
  EXPECT_EQ(capture([](FILE *f) { bdd_fprintset(f, 0); }), "F");
  EXPECT_EQ(save_text(5), "");
  EXPECT_EQ(recorded_errors, (std::vector<int>{BDD_ERR_RUNNING, BDD_ERR_RUNNING}));
  bdd_error_hook(nullptr);

  start_engine(1000, 100, 3);
  char path[] = "/tmp/corvane_io_XXXXXX";
  ASSERT_EQ(close(mkstemp(path)), 0);
  std::mt19937 rng(3);
  BDD f = bdd_of(random_table(rng, 3));
  EXPECT_EQ(bdd_fnsave(path, f), 0);
  EXPECT_EQ(bdd_fnload(path, &root), 0);
  EXPECT_EQ(root, f);
  EXPECT_EQ(bdd_fnprintdot(path, f), 0);
  EXPECT_EQ(read_file(path), capture([&](FILE *o) { bdd_fprintdot(o, f); }));

  const char *nodir = "/nonexistent-dir/x";
  root = 55;
  EXPECT_EQ((std::vector<int>{bdd_fnsave(nodir, f), bdd_fnload(nodir, &root),
                              bdd_fnprintdot(nodir, f), bdd_save(nullptr, 1),
                              bdd_load(nullptr, &root), bdd_fnload(nullptr, &root)}),
            std::vector<int>(6, BDD_ERR_FILE));
  EXPECT_EQ(root, 55);
  EXPECT_EQ(recorded_errors, std::vector<int>(6, BDD_ERR_FILE));

  const int freenode = bddnodesize - 1;
  ASSERT_TRUE(ISFREE(freenode));
  std::ofstream(path) << "keep";
  for (BDD bad : {-1, -1000, freenode, bddnodesize, bddnodesize + 7, 0x7FFFFFF}) {
    SCOPED_TRACE(bad);
    recorded_errors.clear();
    int rc = 0;
    EXPECT_EQ(capture([&](FILE *o) {
                bdd_fprinttable(o, bad);
                bdd_fprintset(o, bad);
                bdd_fprintdot(o, bad);
              }) + save_text(bad, &rc),
              "");
    EXPECT_EQ((std::vector<int>{rc, bdd_fnsave(path, bad), bdd_fnprintdot(path, bad)}),
              std::vector<int>(3, BDD_ERR_ILLBDD));
    EXPECT_EQ(recorded_errors, std::vector<int>(6, BDD_ERR_ILLBDD));
  }
  EXPECT_EQ(read_file(path), "keep") << "a rejected root clobbered the file";
  unlink(path);
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
  std::string out;
  auto calls = [&](const std::function<void(FILE *)> &fn) {
    hook_calls.clear();
    out = capture(fn);
    return std::multiset<int>(hook_calls.begin(), hook_calls.end());
  };
  calls([&](FILE *f) { bdd_fprintset(f, disj); });
  EXPECT_EQ(out, "<v0:0, v1:1><v0:1>");
  EXPECT_EQ(hook_calls, (std::vector<int>{0, 1, 0}));
  // One call per node for the table and the digraph, one per listed node
  // in the whole-table dump.
  std::multiset<int> want;
  for (int n : walk(g, true)) want.insert(bdd_var(n));
  EXPECT_EQ(calls([&](FILE *f) { bdd_fprinttable(f, g); }), want);
  EXPECT_NE(out.find("] v0: "), std::string::npos);
  EXPECT_EQ(calls([&](FILE *f) { bdd_fprintdot(f, g); }), want);
  EXPECT_NE(out.find("[label=\"v0\"]"), std::string::npos);
  EXPECT_EQ((int)calls([](FILE *f) { bdd_fprintall(f); }).size(), bdd_getnodenum());
  // Null restores the numbers and hands back the printer it replaced.
  EXPECT_EQ(bdd_file_hook(nullptr), name_hook);
  EXPECT_TRUE(calls([&](FILE *f) { bdd_fprintset(f, disj); }).empty());
  EXPECT_EQ(out, "<0:0, 1:1><0:1>");
}

}  // namespace
