// Finite domains: value, range and equality BDDs evaluated on assignments
// against brute force, scanning back, overlapping domains, renaming through
// domain pairs, the printers, the references the module keeps, and its
// refusals (also when allocations fail).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_inject.h"
#include "src/blocktree_internal.h"
#include "oracle.h"
#include "support.h"

namespace {

using Assign = std::vector<int>;  // value of each BDD variable

bool eval(BDD r, const Assign &a) {
  while (r > 1) r = a[bdd_var(r)] ? bdd_high(r) : bdd_low(r);
  return r == 1;
}

// Writes bit pattern p into the variables of domain d.
void put(Assign &a, int d, int p) {
  for (int i = 0; i < fdd_varnum(d); i++) a[fdd_vars(d)[i]] = (p >> i) & 1;
}

// f = f op g, f owning its reference.
void fold(BDD &f, BDD g, int op) {
  BDD t = bdd_addref(bdd_apply(f, g, op));
  bdd_delref(f);
  f = t;
}

std::vector<int> vars_of(int d) { return std::vector<int>(fdd_vars(d), fdd_vars(d) + fdd_varnum(d)); }

class Fdd : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(20000, 1000, 0); }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty()) << "first unexpected error " << recorded_errors[0];
    if (bdd_isrunning()) bdd_done();
  }
  // fn must report exactly `code`, once.
  static void refused(int code, const std::function<void()> &fn, const std::string &what = "") {
    recorded_errors.clear();
    fn();
    EXPECT_EQ(recorded_errors, std::vector<int>{code}) << what;
    recorded_errors.clear();
  }
  Assign random_assign() {
    Assign a(bdd_varnum());
    for (int &x : a) x = (int)(rng() & 1);
    return a;
  }
  std::mt19937 rng{77};
};

TEST_F(Fdd, EveryValueOfAssortedSizesEncodesAndScansBack) {
  std::vector<int> sizes{1, 2, 3, 5, 8, 13, 6, 4};
  ASSERT_EQ(fdd_extdomain(sizes.data(), 6), 0);
  ASSERT_EQ(fdd_extdomain(sizes.data() + 6, 2), 6);
  std::set<int> used;
  for (int d = 0; d < 8; d++) {
    const int w = fdd_varnum(d);
    EXPECT_EQ(fdd_domainsize(d), sizes[d]);
    EXPECT_TRUE((1 << w) >= sizes[d] && (w == 1 || (1 << (w - 1)) < sizes[d])) << d;
    for (int x : vars_of(d)) EXPECT_TRUE(used.insert(x).second);
    BDD dom = fdd_domain(d);
    for (int p = 0; p < (1 << w); p++) {
      Assign a = random_assign();
      put(a, d, p);
      EXPECT_EQ(eval(dom, a), p < sizes[d]) << "domain " << d << " pattern " << p;
    }
    for (int v = 0; v < sizes[d]; v++) {
      BDD c = fdd_ithvar(d, v);
      std::vector<int> vars, own = vars_of(d);
      ASSERT_TRUE(oracle::is_cube(c, &vars));
      std::sort(vars.begin(), vars.end());
      std::sort(own.begin(), own.end());
      EXPECT_EQ(vars, own);
      for (int p = 0; p < (1 << w); p++) {
        Assign a = random_assign();
        put(a, d, p);
        EXPECT_EQ(eval(c, a), p == v);
      }
      int *all = fdd_scanallvar(c);
      ASSERT_NE(all, nullptr);
      for (int e = 0; e < 8; e++) EXPECT_EQ(all[e], e == d ? v : 0);
      free(all);
      EXPECT_EQ(fdd_scanvar(c, d), v);
    }
    refused(BDD_ERR_RANGE, [&] { EXPECT_EQ(fdd_ithvar(d, sizes[d]), bddfalse); });
  }
  EXPECT_EQ((int)used.size(), bdd_varnum());

  // The assignment read is the engine's own choice of one, whatever the order.
  for (int round = 0; round < 4; round++) {
    BDD f = bddfalse;
    for (int k = 0; k < 5; k++)
      fold(f, bdd_and(fdd_ithvar(4, (int)(rng() % 8)), fdd_ithvar(5, (int)(rng() % 13))), OP_OR);
    int *all = fdd_scanallvar(f), *one = fdd_scanallvar(bdd_satone(f));
    ASSERT_TRUE(all && one);
    EXPECT_EQ(std::vector<int>(all, all + 8), std::vector<int>(one, one + 8));
    Assign a(bdd_varnum());
    for (int d = 0; d < 8; d++) put(a, d, all[d]);
    EXPECT_TRUE(eval(f, a));
    free(all);
    free(one);
    bdd_delref(f);
    bdd_reorder(REORDER_RANDOM);
  }
  EXPECT_EQ(fdd_scanvar(bddfalse, 0), -1);
  EXPECT_EQ(fdd_scanallvar(bddfalse), nullptr);

  // One call interleaves its domains' bits; separate calls give blocks.
  fdd_clearall();
  int s[] = {4, 8};
  fdd_extdomain(s, 2);
  EXPECT_EQ(vars_of(0), (std::vector<int>{0, 2}));
  EXPECT_EQ(vars_of(1), (std::vector<int>{1, 3, 4}));
  fdd_clearall();
  EXPECT_EQ(fdd_extdomain(s, 1), 0);
  EXPECT_EQ(fdd_extdomain(s + 1, 1), 1);
  EXPECT_EQ(vars_of(1), (std::vector<int>{2, 3, 4}));
}

TEST_F(Fdd, EqualityMatchesBitPatternsAndTheUnionOfEqualValues) {
  int together[] = {6, 6}, alone = 6;
  fdd_extdomain(together, 2);
  fdd_extdomain(&alone, 1);
  for (auto [a, b] : {std::pair{0, 1}, std::pair{2, 0}, std::pair{1, 1}}) {
    BDD eq = bdd_addref(fdd_equals(a, b));
    for (int p = 0; p < 8; p++)
      for (int q = 0; q < 8; q++) {
        Assign x = random_assign();
        put(x, a, p);
        put(x, b, q);
        EXPECT_EQ(eval(eq, x), a == b || p == q);
      }
    // A second construction: the union of (a = v and b = v) over the domain.
    BDD un = bddfalse;
    for (int v = 0; v < 6; v++) fold(un, bdd_and(fdd_ithvar(a, v), fdd_ithvar(b, v)), OP_OR);
    EXPECT_EQ(bdd_and(eq, fdd_domain(a)), un);
    for (BDD r : {un, eq}) bdd_delref(r);
  }
  int odd[] = {5, 8};
  fdd_extdomain(odd, 2);  // same width, different sizes
  refused(BDD_ERR_RANGE, [] { EXPECT_EQ(fdd_equals(3, 4), bddfalse); });
}

TEST_F(Fdd, OverlappingDomainsCombineTheirBits) {
  int s[] = {4, 8, 3, 5};
  fdd_extdomain(s, 4);
  ASSERT_EQ(fdd_overlapdomain(0, 1), 4);
  ASSERT_EQ(fdd_overlapdomain(2, 3), 5);
  EXPECT_EQ(fdd_domainsize(4), 32);
  EXPECT_EQ(fdd_domainsize(5), 15);
  EXPECT_EQ(fdd_varnum(5), 5);
  for (int v = 0; v < 32; v++) EXPECT_EQ(fdd_ithvar(4, v), bdd_and(fdd_ithvar(0, v % 4), fdd_ithvar(1, v / 4)));
  for (int x = 0; x < 3; x++)
    for (int y = 0; y < 5; y++) {
      BDD c = bdd_addref(bdd_and(fdd_ithvar(2, x), fdd_ithvar(3, y)));
      const int v = x + 4 * y;  // the low domain fills two whole bits
      EXPECT_EQ(fdd_scanvar(c, 5), v);
      if (v < 15) {
        EXPECT_EQ(fdd_ithvar(5, v), c);
      }
      bdd_delref(c);
    }
  EXPECT_EQ(fdd_ithset(5), bdd_and(fdd_ithset(2), fdd_ithset(3)));

  // Products beyond the largest size, or wider than any size needs, are refused.
  int big[] = {1 << 15, (1 << 15) + 1, 1, (1 << 29) + 1};
  fdd_extdomain(big, 4);
  refused(BDD_ERR_RANGE, [] { EXPECT_EQ(fdd_overlapdomain(6, 7), BDD_ERR_RANGE); });
  refused(BDD_ERR_RANGE, [] { EXPECT_EQ(fdd_overlapdomain(8, 9), BDD_ERR_RANGE); });
  EXPECT_EQ(fdd_overlapdomain(8, 6), 10);
}

TEST_F(Fdd, PairsRenameRelationsBetweenDomains) {
  int s[] = {6, 6, 6, 7};
  fdd_extdomain(s, 2);
  fdd_extdomain(s + 2, 2);
  // A random relation over (0, 1), renamed to (2, 3), against building it there.
  BDD rel = bddfalse, want = bddfalse;
  for (int k = 0; k < 12; k++) {
    int x = (int)(rng() % 6), y = (int)(rng() % 6);
    fold(rel, bdd_and(fdd_ithvar(0, x), fdd_ithvar(1, y)), OP_OR);
    fold(want, bdd_and(fdd_ithvar(2, x), fdd_ithvar(3, y)), OP_OR);
  }
  bddPair *p = bdd_newpair(), *q = bdd_newpair(), *back = bdd_newpair();
  int from[] = {0, 1}, to[] = {2, 3};
  ASSERT_EQ(fdd_setpairs(p, from, to, 2), 0);
  ASSERT_EQ(fdd_setpair(q, 0, 2), 0);
  ASSERT_EQ(fdd_setpair(q, 1, 3), 0);
  ASSERT_EQ(fdd_setpairs(back, to, from, 2), 0);
  EXPECT_EQ(bdd_replace(rel, p), want);
  EXPECT_EQ(bdd_replace(rel, q), want);
  EXPECT_EQ(bdd_replace(want, back), rel);
  for (BDD r : {rel, want}) bdd_delref(r);

  int mixed[] = {5, 8, 4};
  fdd_extdomain(mixed, 3);
  EXPECT_EQ(fdd_setpair(p, 4, 5), 0);  // equal widths suffice
  refused(BDD_ERR_SETSIZE, [&] { EXPECT_EQ(fdd_setpair(p, 6, 4), BDD_ERR_SETSIZE); });
  int bad[] = {0, 9};
  refused(BDD_ERR_UNKNOWN_VAR, [&] { EXPECT_EQ(fdd_setpairs(p, from, bad, 2), BDD_ERR_UNKNOWN_VAR); });
  for (bddPair *x : {p, q, back}) bdd_freepair(x);
}

TEST_F(Fdd, VariableSetsScanBackAndMakeBlocks) {
  int s[] = {3, 4, 5};
  fdd_extdomain(s, 3);
  int list[] = {2, 0};
  BDD set = fdd_makeset(list, 2);
  std::vector<int> vars, want = vars_of(0), v2 = vars_of(2);
  want.insert(want.end(), v2.begin(), v2.end());
  ASSERT_TRUE(oracle::is_cube(set, &vars));
  EXPECT_EQ(std::set<int>(vars.begin(), vars.end()), std::set<int>(want.begin(), want.end()));

  auto scan = [](BDD r) {
    int *v = nullptr, n = -1;
    EXPECT_EQ(fdd_scanset(r, &v, &n), 0);
    std::vector<int> out(v, v + n);
    free(v);
    return out;
  };
  EXPECT_EQ(scan(set), (std::vector<int>{0, 2}));
  EXPECT_EQ(scan(fdd_ithset(1)), std::vector<int>{1});
  // One bit of a domain is enough to name it.
  EXPECT_EQ(scan(bdd_and(bdd_ithvar(fdd_vars(0)[1]), fdd_ithset(2))), (std::vector<int>{0, 2}));
  EXPECT_EQ(scan(bddtrue), std::vector<int>{});

  const int nodes = bdd_getnodenum();
  int bad[] = {0, 3};
  refused(BDD_ERR_UNKNOWN_VAR, [&] { EXPECT_EQ(fdd_makeset(bad, 2), bddfalse); });
  EXPECT_EQ(bdd_getnodenum(), nodes);

  EXPECT_EQ(fdd_intaddvarblock(1, 2, 0), 0);
  EXPECT_EQ(shape(vartree), "[1-6]");  // bits of 1 and 2, interleaved with 0's
  for (auto [f, l] : {std::pair{2, 1}, std::pair{-1, 0}, std::pair{0, 3}})
    refused(BDD_ERR_VARBLOCK, [&] { EXPECT_EQ(fdd_intaddvarblock(f, l, 0), BDD_ERR_VARBLOCK); });
}

// Reads printed paths back as the set of (pattern per domain) tuples they
// allow; a domain left out of a path allows every pattern.
std::set<std::vector<int>> read_paths(const std::string &text, const std::vector<int> &widths) {
  std::set<std::vector<int>> out;
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('>', pos);
    std::vector<std::vector<int>> allowed;
    for (int w : widths) {
      allowed.emplace_back();
      for (int p = 0; p < (1 << w); p++) allowed.back().push_back(p);
    }
    // items "d:v/v/..." separated by ", "
    for (size_t at = pos + 1; at < end;) {
      size_t colon = text.find(':', at), stop = std::min(text.find(", ", at), end);
      std::vector<int> &vals = allowed[std::stoi(text.substr(at, colon - at))];
      std::string list = text.substr(colon + 1, stop - colon - 1);
      std::replace(list.begin(), list.end(), '/', ' ');
      std::istringstream in(list);
      vals.clear();
      for (int v; in >> v;) vals.push_back(v);
      at = stop + 2;
    }
    std::vector<std::vector<int>> tuples{{}};
    for (auto &vals : allowed) {
      std::vector<std::vector<int>> next;
      for (auto &t : tuples)
        for (int v : vals) {
          next.push_back(t);
          next.back().push_back(v);
        }
      tuples.swap(next);
    }
    for (auto &t : tuples) EXPECT_TRUE(out.insert(t).second) << "paths overlap";
  }
  return out;
}

std::vector<int> hook_calls;
void name_domain(FILE *f, int d) {
  hook_calls.push_back(d);
  fprintf(f, "D%c", 'a' + d);
}

TEST_F(Fdd, PrintedPathsListTheAllowedValues) {
  int four = 4, five = 5;
  fdd_extdomain(&four, 1);
  auto text = [](BDD r) { return capture([r](FILE *f) { fdd_fprintset(f, r); }); };
  EXPECT_EQ(text(fdd_ithvar(0, 2)), "<0:2>");
  EXPECT_EQ(text(bdd_nithvar(fdd_vars(0)[0])), "<0:0/2>");
  EXPECT_EQ(text(bddfalse), "F");
  EXPECT_EQ(text(bddtrue), "T");
  fdd_clearall();
  fdd_extdomain(&five, 1);
  EXPECT_EQ(text(bdd_ithvar(fdd_vars(0)[0])), "<0:1/3/5/7>");
  EXPECT_EQ(capture_stdout([] {
              fdd_printset(bddfalse);
              fdd_printset(fdd_ithvar(0, 4));
            }),
            "F<0:4>");

  // Random functions over four domains: the printed paths cover exactly
  // the satisfying patterns, once each.
  int s[] = {3, 6, 2};
  fdd_extdomain(s, 3);  // domains 1..3 on variables 3..8
  for (int round = 0; round < 20; round++) {
    oracle::Formula f = oracle::random_formula(rng, 9, 5);
    std::set<std::vector<int>> want;
    for (int a = 0; a < (1 << 9); a++) {
      Assign x(9);
      for (int v = 0; v < 9; v++) x[v] = (a >> v) & 1;
      std::vector<int> t(4, 0);
      for (int d = 0; d < 4; d++)
        for (int i = 0; i < fdd_varnum(d); i++) t[d] |= x[fdd_vars(d)[i]] << i;
      if (eval(f.bdd, x)) want.insert(t);
    }
    if (f.bdd > 1) {
      EXPECT_EQ(read_paths(text(f.bdd), {3, 2, 3, 1}), want) << text(f.bdd);
    } else {
      EXPECT_EQ(text(f.bdd), f.bdd ? "T" : "F");
    }
    bdd_delref(f.bdd);
  }

  // The name printer writes into the same stream, once per shown domain.
  BDD g = bdd_addref(bdd_or(bdd_and(fdd_ithvar(1, 2), fdd_ithvar(3, 1)), fdd_ithvar(2, 3)));
  hook_calls.clear();
  EXPECT_EQ(fdd_file_hook(name_domain), nullptr);
  std::string named = text(g);
  EXPECT_EQ(fdd_file_hook(nullptr), name_domain);
  std::string plain = text(g), renamed;
  for (size_t i = 0; i < plain.size(); i++)
    renamed += i > 0 && (plain[i - 1] == '<' || plain[i - 1] == ' ') ? std::string("D") + char('a' + plain[i] - '0')
                                                                      : std::string(1, plain[i]);
  EXPECT_EQ(named, renamed);
  EXPECT_EQ(hook_calls.size(), (size_t)std::count(plain.begin(), plain.end(), ':'));
  bdd_delref(g);
}

TEST_F(Fdd, ResultsCarryNoReferenceAndClearingReleasesTheSets) {
  bdd_setvarnum(13);
  bdd_gbc();
  const int base = bdd_getnodenum();
  int s[] = {5, 7, 5, 16};
  fdd_extdomain(s, 4);
  fdd_overlapdomain(0, 1);
  EXPECT_EQ(bdd_varnum(), 13);
  bdd_gbc();
  const int withsets = bdd_getnodenum();
  EXPECT_GT(withsets, base);
  const BDD set = fdd_ithset(4);
  bddPair *p = bdd_newpair();
  int from[] = {0}, to[] = {2};
  for (int v = 0; v < 5; v++) {
    fdd_ithvar(0, v);
    fdd_equals(0, 2);
    fdd_domain(v);
    fdd_makeset(from, 1);
    fdd_setpairs(p, from, to, 1);
    free(fdd_scanallvar(fdd_ithvar(4, v)));
    free(fdddec2bin(3, 9 + v));
    capture([](FILE *f) { fdd_fprintset(f, fdd_domain(0)); });
  }
  bdd_freepair(p);
  fdd_intaddvarblock(0, 1, 1);
  bdd_gbc();
  EXPECT_EQ(bdd_getnodenum(), withsets);
  EXPECT_EQ(fdd_ithset(4), set);  // still the module's, still alive
  ASSERT_TRUE(oracle::is_cube(set));
  fdd_clearall();
  bdd_gbc();
  EXPECT_EQ(bdd_getnodenum(), base);
  EXPECT_EQ(fdd_extdomain(s, 1), 0);  // variables are handed out from 0 again
  EXPECT_EQ(fdd_vars(0)[0], 0);
  int *bits = fdddec2bin(0, 6);
  EXPECT_EQ(std::vector<int>(bits, bits + 3), (std::vector<int>{0, 1, 1}));
  free(bits);
}

TEST_F(Fdd, BadArgumentsAreRefusedWithTheirCodes) {
  int s[] = {4, 3};
  fdd_extdomain(s, 2);
  const int nvars = bdd_varnum();
  // A bad size anywhere in the call declares nothing, nor does a call that
  // would need more variables than the engine allows (40 x 30 bits).
  for (int bad : {0, -3, 0x40000000}) {
    int sizes[] = {4, bad};
    refused(BDD_ERR_RANGE, [&] { EXPECT_EQ(fdd_extdomain(sizes, 2), BDD_ERR_RANGE); });
  }
  std::vector<int> wide(40, 1 << 29);
  refused(BDD_ERR_RANGE, [&] { EXPECT_EQ(fdd_extdomain(wide.data(), 40), BDD_ERR_RANGE); });
  EXPECT_EQ(fdd_domainnum(), 2);
  EXPECT_EQ(bdd_varnum(), nvars);

  BDD dead = bdd_and(fdd_ithvar(0, 1), fdd_ithvar(1, 2));
  bdd_gbc();
  struct Call {
    const char *name;
    bool on_bdd;                              // refuses bad roots rather than bad domains
    std::function<bool(int, BDD)> succeeded;  // (domain, root)
  };
  const std::vector<Call> calls{
      {"domainsize", false, [](int d, BDD) { return fdd_domainsize(d) >= 0; }},
      {"varnum", false, [](int d, BDD) { return fdd_varnum(d) >= 0; }},
      {"vars", false, [](int d, BDD) { return fdd_vars(d) != nullptr; }},
      {"ithvar", false, [](int d, BDD) { return fdd_ithvar(d, 0) != bddfalse; }},
      {"ithset", false, [](int d, BDD) { return fdd_ithset(d) != bddfalse; }},
      {"domain", false, [](int d, BDD) { return fdd_domain(d) != bddfalse; }},
      {"equals", false, [](int d, BDD) { return fdd_equals(0, d) != bddfalse; }},
      {"makeset", false, [](int d, BDD) { return fdd_makeset(&d, 1) != bddfalse; }},
      {"overlap", false, [](int d, BDD) { return fdd_overlapdomain(d, 0) >= 0; }},
      {"setpair", false, [](int d, BDD) { return fdd_setpair(nullptr, 0, d) >= 0; }},
      {"dec2bin", false, [](int d, BDD) { return fdddec2bin(d, 0) != nullptr; }},
      {"scanvar", true, [](int d, BDD r) { return fdd_scanvar(r, d) >= 0; }},
      {"scanallvar", true, [](int, BDD r) { return fdd_scanallvar(r) != nullptr; }},
      {"scanset", true, [](int, BDD r) { int *v, n; return fdd_scanset(r, &v, &n) >= 0; }},
      {"fprintset", true, [](int, BDD r) { return !capture([r](FILE *f) { fdd_fprintset(f, r); }).empty(); }},
  };
  for (const Call &c : calls) {
    if (c.on_bdd) {
      for (BDD r : {-1, bddnodesize, dead})
        refused(BDD_ERR_ILLBDD, [&] { EXPECT_FALSE(c.succeeded(0, r)); }, c.name);
    } else {
      for (int d : {-1, 2, 1 << 30})
        refused(BDD_ERR_UNKNOWN_VAR, [&] { EXPECT_FALSE(c.succeeded(d, 1)); }, c.name);
    }
  }
  refused(BDD_ERR_UNKNOWN_VAR, [] { EXPECT_EQ(fdd_scanvar(1, 2), BDD_ERR_UNKNOWN_VAR); });
  refused(BDD_ERR_RANGE, [] { EXPECT_EQ(fdddec2bin(1, 4), nullptr); });
  refused(BDD_ERR_FILE, [] { fdd_fprintset(nullptr, 1); });

  // Stopped engine: every entry refuses before reaching any domain state.
  bdd_done();
  bdd_error_hook(record_errors);
  for (const Call &c : calls) refused(BDD_ERR_RUNNING, [&] { EXPECT_FALSE(c.succeeded(0, 1)); }, c.name);
  refused(BDD_ERR_RUNNING, [&] { EXPECT_EQ(fdd_extdomain(s, 1), BDD_ERR_RUNNING); });
  refused(BDD_ERR_RUNNING, [] { EXPECT_EQ(fdd_domainnum(), BDD_ERR_RUNNING); });
  refused(BDD_ERR_RUNNING, [] { EXPECT_EQ(fdd_intaddvarblock(0, 0, 0), BDD_ERR_RUNNING); });
  bdd_error_hook(nullptr);
}

// Every allocation of a call failing in turn: the call either completes or
// reports only out-of-memory, leaks nothing and leaves the declared domains
// as they were.
TEST_F(Fdd, AllocationFailuresLeaveDomainsIntact) {
  if (!ALLOC_INJECTION) GTEST_SKIP() << "allocator injection needs the plain glibc allocator";
  using namespace alloc_inject;
  recorded_errors.reserve(64);
  int s[] = {6, 6};
  fdd_extdomain(s, 2);
  const BDD eq = bdd_addref(fdd_equals(0, 1)), three = bdd_addref(fdd_ithvar(0, 3));
  auto sweep = [&](const char *what, const std::function<bool()> &op) {
    SCOPED_TRACE(what);
    const int domains = fdd_domainnum();
    bool done = false;
    each_failing_request([&] { recorded_errors.clear(); return done = op(); }, [&](long n, bool failed) {
      SCOPED_TRACE(n);
      ASSERT_EQ(fdd_domainsize(0), 6);
      ASSERT_EQ(fdd_equals(0, 1), eq);
      ASSERT_EQ(fdd_scanvar(fdd_ithvar(1, 5), 1), 5);
      for (int e : recorded_errors) ASSERT_EQ(e, BDD_ERR_MEMORY);
      // A failure the engine works around still completes the call.
      ASSERT_TRUE(failed || done);
      if (failed) {
        ASSERT_EQ(recorded_errors.size(), 1u);
        ASSERT_EQ(fdd_domainnum(), domains);
      }
    });
  };
  int grow[] = {7, 9, 11};
  ASSERT_NO_FATAL_FAILURE(sweep("extdomain", [&] { return fdd_extdomain(grow, 3) == 2; }));
  // Refused attempts handed out no variable: the new domains follow the old.
  ASSERT_EQ(fdd_domainnum(), 5);
  EXPECT_EQ(fdd_vars(2)[0], 6);
  EXPECT_EQ(fdd_vars(4)[3], 16);
  ASSERT_NO_FATAL_FAILURE(sweep("overlap", [&] { return fdd_overlapdomain(2, 3) == 5; }));
  ASSERT_NO_FATAL_FAILURE(sweep("scanallvar", [&] {
    int *a = fdd_scanallvar(three);
    bool ok = a != nullptr && a[0] == 3;
    free(a);
    return ok;
  }));
  ASSERT_NO_FATAL_FAILURE(sweep("scanset", [&] {
    int *v = nullptr, n = 0;
    bool ok = fdd_scanset(fdd_ithset(1), &v, &n) == 0 && n == 1 && v[0] == 1;
    free(v);
    return ok;
  }));
  ASSERT_NO_FATAL_FAILURE(sweep("dec2bin", [&] {
    int *b = fdddec2bin(0, 5);
    bool ok = b != nullptr && b[0] + 2 * b[1] + 4 * b[2] == 5;
    free(b);
    return ok;
  }));
  // An unbuffered stream over a fixed buffer: printing allocates nothing else.
  static char buf[64];
  FILE *f = fmemopen(buf, sizeof buf, "w");
  setvbuf(f, nullptr, _IONBF, 0);
  ASSERT_NO_FATAL_FAILURE(sweep("fprintset", [&] {
    memset(buf, 0, sizeof buf);
    rewind(f);
    fdd_fprintset(f, three);
    return std::string(buf) == "<0:3>";
  }));
  fclose(f);
  for (BDD x : {three, eq}) bdd_delref(x);
}

}  // namespace
