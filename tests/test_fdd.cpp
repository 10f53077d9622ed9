// Finite domains: encoding of values checked by evaluating the BDDs on
// assignments, ranges and equality against brute force, scanning back,
// overlapping domains, renaming through domain pairs, the printers, the
// references the module keeps, and its refusals (also when allocation
// fails).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "alloc_inject.h"
#include "internal.h"
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

Assign random_assign(std::mt19937 &rng) {
  Assign a(bdd_varnum());
  for (int &x : a) x = (int)(rng() & 1);
  return a;
}

class Fdd : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(20000, 1000, 0); }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty()) << "first unexpected error " << recorded_errors[0];
    if (bdd_isrunning()) bdd_done();
  }
  // Runs fn and returns the errors it reported.
  static std::vector<int> errors_of(const std::function<void()> &fn) {
    recorded_errors.clear();
    fn();
    std::vector<int> e = recorded_errors;
    recorded_errors.clear();
    return e;
  }
  std::mt19937 rng{77};
};

TEST_F(Fdd, EveryValueOfAssortedSizesEncodesAndScansBack) {
  std::vector<int> sizes{1, 2, 3, 5, 8, 13};
  ASSERT_EQ(fdd_extdomain(sizes.data(), 6), 0);
  int more[] = {6, 4};
  ASSERT_EQ(fdd_extdomain(more, 2), 6);
  sizes.insert(sizes.end(), {6, 4});
  ASSERT_EQ(fdd_domainnum(), 8);

  std::set<int> used;
  for (int d = 0; d < 8; d++) {
    int w = fdd_varnum(d);
    EXPECT_EQ(fdd_domainsize(d), sizes[d]);
    EXPECT_TRUE((1 << w) >= sizes[d] && (w == 1 || (1 << (w - 1)) < sizes[d])) << d;
    for (int i = 0; i < w; i++) EXPECT_TRUE(used.insert(fdd_vars(d)[i]).second);
  }
  // The second call's domains follow the first's, interleaved among themselves.
  EXPECT_EQ((int)used.size(), bdd_varnum());
  EXPECT_EQ(std::vector<int>(fdd_vars(6), fdd_vars(6) + 3), (std::vector<int>{14, 16, 18}));
  EXPECT_EQ(std::vector<int>(fdd_vars(7), fdd_vars(7) + 2), (std::vector<int>{15, 17}));

  for (int d = 0; d < 8; d++) {
    int w = fdd_varnum(d);
    BDD dom = fdd_domain(d);
    for (int p = 0; p < (1 << w); p++) {
      Assign a = random_assign(rng);
      put(a, d, p);
      EXPECT_EQ(eval(dom, a), p < sizes[d]) << "domain " << d << " pattern " << p;
    }
    for (int v = 0; v < sizes[d]; v++) {
      BDD c = fdd_ithvar(d, v);
      std::vector<int> vars;
      ASSERT_TRUE(oracle::is_cube(c, &vars));
      EXPECT_EQ(std::set<int>(vars.begin(), vars.end()),
                std::set<int>(fdd_vars(d), fdd_vars(d) + w));
      for (int p = 0; p < (1 << w); p++) {
        Assign a = random_assign(rng);
        put(a, d, p);
        EXPECT_EQ(eval(c, a), p == v);
      }
      int *all = fdd_scanallvar(c);
      ASSERT_NE(all, nullptr);
      for (int e = 0; e < 8; e++) EXPECT_EQ(all[e], e == d ? v : 0);
      free(all);
      EXPECT_EQ(fdd_scanvar(c, d), v);
    }
    EXPECT_TRUE(errors_of([&] { EXPECT_EQ(fdd_ithvar(d, sizes[d]), bddfalse); }) ==
                std::vector<int>{BDD_ERR_RANGE});
  }
  // The assignment read is the engine's own choice of one, whatever the order.
  for (int round = 0; round < 4; round++) {
    BDD f = bddfalse;
    for (int k = 0; k < 5; k++) {
      BDD c = bdd_addref(bdd_and(fdd_ithvar(4, (int)(rng() % 8)), fdd_ithvar(5, (int)(rng() % 13))));
      BDD g = bdd_addref(bdd_or(f, c));
      bdd_delref(c);
      bdd_delref(f);
      f = g;
    }
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
}

TEST_F(Fdd, DeclarationInterleavesBitsOfOneCall) {
  int s[] = {4, 8};
  fdd_extdomain(s, 2);
  EXPECT_EQ(std::vector<int>(fdd_vars(0), fdd_vars(0) + 2), (std::vector<int>{0, 2}));
  EXPECT_EQ(std::vector<int>(fdd_vars(1), fdd_vars(1) + 3), (std::vector<int>{1, 3, 4}));
  fdd_clearall();
  EXPECT_EQ(fdd_extdomain(s, 1), 0);
  EXPECT_EQ(fdd_extdomain(s + 1, 1), 1);
  EXPECT_EQ(std::vector<int>(fdd_vars(1), fdd_vars(1) + 3), (std::vector<int>{2, 3, 4}));
}

TEST_F(Fdd, EqualityMatchesBitPatternsAndTheUnionOfEqualValues) {
  int together[] = {6, 6}, alone = 6;
  fdd_extdomain(together, 2);
  fdd_extdomain(&alone, 1);
  for (auto [a, b] : {std::pair{0, 1}, std::pair{2, 0}, std::pair{1, 1}}) {
    BDD eq = bdd_addref(fdd_equals(a, b));
    for (int p = 0; p < 8; p++)
      for (int q = 0; q < 8; q++) {
        Assign x = random_assign(rng);
        put(x, a, p);
        put(x, b, q);
        EXPECT_EQ(eval(eq, x), a == b || p == q);
      }
    // A second construction: the union of (a = v and b = v) over the domain.
    BDD un = bddfalse;
    for (int v = 0; v < 6; v++) {
      BDD t = bdd_addref(bdd_and(fdd_ithvar(a, v), fdd_ithvar(b, v)));
      BDD n = bdd_addref(bdd_or(un, t));
      bdd_delref(t);
      bdd_delref(un);
      un = n;
    }
    EXPECT_EQ(bdd_and(eq, fdd_domain(a)), un);
    bdd_delref(un);
    bdd_delref(eq);
  }
  int odd[] = {5, 8};
  fdd_extdomain(odd, 2);  // same width, different sizes
  EXPECT_EQ(errors_of([] { EXPECT_EQ(fdd_equals(3, 4), bddfalse); }), std::vector<int>{BDD_ERR_RANGE});
}

TEST_F(Fdd, OverlappingDomainsCombineTheirBits) {
  int s[] = {4, 8, 3, 5};
  fdd_extdomain(s, 4);
  int o1 = fdd_overlapdomain(0, 1), o2 = fdd_overlapdomain(2, 3);
  ASSERT_EQ(o1, 4);
  ASSERT_EQ(o2, 5);
  EXPECT_EQ(fdd_domainsize(o1), 32);
  EXPECT_EQ(fdd_domainsize(o2), 15);
  EXPECT_EQ(fdd_varnum(o2), 5);
  for (int v = 0; v < 32; v++) EXPECT_EQ(fdd_ithvar(o1, v), bdd_and(fdd_ithvar(0, v % 4), fdd_ithvar(1, v / 4)));
  for (int x = 0; x < 3; x++)
    for (int y = 0; y < 5; y++) {
      BDD c = bdd_addref(bdd_and(fdd_ithvar(2, x), fdd_ithvar(3, y)));
      int v = x + 4 * y;  // the low domain fills two whole bits
      EXPECT_EQ(fdd_scanvar(c, o2), v);
      if (v < 15) {
        EXPECT_EQ(fdd_ithvar(o2, v), c);
      }
      bdd_delref(c);
    }
  EXPECT_EQ(fdd_ithset(o2), bdd_and(fdd_ithset(2), fdd_ithset(3)));

  // Products beyond the largest size, or wider than any size needs, are refused.
  int big[] = {1 << 15, (1 << 15) + 1, 1, (1 << 29) + 1};
  fdd_extdomain(big, 4);
  int before = fdd_domainnum();
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_overlapdomain(6, 7), BDD_ERR_RANGE); }),
            std::vector<int>{BDD_ERR_RANGE});
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_overlapdomain(8, 9), BDD_ERR_RANGE); }),
            std::vector<int>{BDD_ERR_RANGE});
  EXPECT_EQ(fdd_domainnum(), before);
  EXPECT_EQ(fdd_overlapdomain(8, 6), before);
}

TEST_F(Fdd, PairsRenameRelationsBetweenDomains) {
  int s[] = {6, 6, 6, 7};
  fdd_extdomain(s, 2);
  fdd_extdomain(s + 2, 2);
  // A random relation over (0, 1), renamed to (2, 3), against building it there.
  BDD rel = bddfalse, want = bddfalse;
  for (int k = 0; k < 12; k++) {
    int x = (int)(rng() % 6), y = (int)(rng() % 6);
    BDD a = bdd_addref(bdd_or(rel, bdd_and(fdd_ithvar(0, x), fdd_ithvar(1, y))));
    BDD b = bdd_addref(bdd_or(want, bdd_and(fdd_ithvar(2, x), fdd_ithvar(3, y))));
    bdd_delref(rel);
    bdd_delref(want);
    rel = a;
    want = b;
  }
  bddPair *p = bdd_newpair();
  int from[] = {0, 1}, to[] = {2, 3};
  ASSERT_EQ(fdd_setpairs(p, from, to, 2), 0);
  EXPECT_EQ(bdd_replace(rel, p), want);
  // Swapping the roles by single pairs gives the converse.
  bddPair *q = bdd_newpair();
  ASSERT_EQ(fdd_setpair(q, 0, 1), 0);
  ASSERT_EQ(fdd_setpair(q, 1, 0), 0);
  BDD conv = bdd_addref(bdd_replace(rel, q));
  for (int x = 0; x < 6; x++)
    for (int y = 0; y < 6; y++) {
      Assign a(bdd_varnum()), b(bdd_varnum());
      put(a, 0, x), put(a, 1, y), put(b, 0, y), put(b, 1, x);
      EXPECT_EQ(eval(conv, a), eval(rel, b));
    }
  bdd_delref(conv);
  bdd_delref(rel);
  bdd_delref(want);

  int mixed[] = {5, 8, 4};
  fdd_extdomain(mixed, 3);
  EXPECT_EQ(fdd_setpair(p, 4, 5), 0);  // equal widths suffice
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_setpair(p, 6, 4), BDD_ERR_SETSIZE); }),
            std::vector<int>{BDD_ERR_SETSIZE});
  int bad[] = {0, 9};
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_setpairs(p, from, bad, 2), BDD_ERR_UNKNOWN_VAR); }),
            std::vector<int>{BDD_ERR_UNKNOWN_VAR});
  bdd_freepair(p);
  bdd_freepair(q);
}

TEST_F(Fdd, VariableSetsScanBackAndMakeBlocks) {
  int s[] = {3, 4, 5};
  fdd_extdomain(s, 3);
  int list[] = {2, 0};
  BDD set = fdd_makeset(list, 2);
  std::vector<int> vars;
  ASSERT_TRUE(oracle::is_cube(set, &vars));
  std::set<int> want(fdd_vars(0), fdd_vars(0) + 2);
  want.insert(fdd_vars(2), fdd_vars(2) + 3);
  EXPECT_EQ(std::set<int>(vars.begin(), vars.end()), want);

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

  int nodes = bdd_getnodenum();
  int bad[] = {0, 3};
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_makeset(bad, 2), bddfalse); }),
            std::vector<int>{BDD_ERR_UNKNOWN_VAR});
  EXPECT_EQ(bdd_getnodenum(), nodes);

  EXPECT_EQ(fdd_intaddvarblock(1, 2, 0), 0);
  EXPECT_EQ(shape(vartree), "[1-6]");  // bits of 1 and 2, interleaved with 0's
  for (auto [f, l] : {std::pair{2, 1}, std::pair{-1, 0}, std::pair{0, 3}})
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_intaddvarblock(f, l, 0), BDD_ERR_VARBLOCK); }),
              std::vector<int>{BDD_ERR_VARBLOCK});
}

// Reads printed paths back as sets of (pattern per domain) tuples; a
// domain left out of a path stands for all its patterns.
std::set<std::vector<int>> read_paths(const std::string &text, const std::vector<int> &widths) {
  std::set<std::vector<int>> out;
  size_t pos = 0;
  while (pos < text.size()) {
    EXPECT_EQ(text[pos], '<');
    size_t end = text.find('>', pos);
    std::string body = text.substr(pos + 1, end - pos - 1);
    std::vector<std::vector<int>> allowed(widths.size());
    for (size_t d = 0; d < widths.size(); d++)
      for (int p = 0; p < (1 << widths[d]); p++) allowed[d].push_back(p);
    for (size_t at = 0; at < body.size();) {
      size_t colon = body.find(':', at), comma = body.find(", ", at);
      int d = std::stoi(body.substr(at, colon - at));
      std::string vals = body.substr(colon + 1, (comma == std::string::npos ? body.size() : comma) - colon - 1);
      allowed[d].clear();
      for (size_t v = 0; v < vals.size();) {
        size_t slash = vals.find('/', v);
        allowed[d].push_back(std::stoi(vals.substr(v, slash - v)));
        v = slash == std::string::npos ? vals.size() : slash + 1;
      }
      at = comma == std::string::npos ? body.size() : comma + 2;
    }
    std::vector<std::vector<int>> tuples{{}};
    for (auto &vals : allowed) {
      std::vector<std::vector<int>> next;
      for (auto &t : tuples)
        for (int v : vals) {
          next.push_back(t);
          next.back().push_back(v);
        }
      tuples = next;
    }
    for (auto &t : tuples) EXPECT_TRUE(out.insert(t).second) << "paths overlap";
    pos = end + 1;
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
  testing::internal::CaptureStdout();
  fdd_printset(bddfalse);
  fdd_printset(fdd_ithvar(0, 4));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "F<0:4>");

  // Random functions over three domains: the printed paths cover exactly
  // the satisfying patterns, once each.
  int s[] = {3, 6, 2};
  fdd_extdomain(s, 3);  // domains 1..3, variables 3..8
  std::vector<int> widths{3, 2, 3, 1};
  for (int round = 0; round < 20; round++) {
    oracle::Formula f = oracle::random_formula(rng, 9, 5);
    std::set<std::vector<int>> want;
    for (int a = 0; a < (1 << 3); a++)
      for (int b = 0; b < 4; b++)
        for (int c = 0; c < 8; c++)
          for (int d = 0; d < 2; d++) {
            Assign x(9);
            put(x, 0, a), put(x, 1, b), put(x, 2, c), put(x, 3, d);
            if (eval(f.bdd, x)) want.insert({a, b, c, d});
          }
    std::string t = text(f.bdd);
    if (f.bdd > 1) {
      EXPECT_EQ(read_paths(t, widths), want) << t;
    }
    bdd_delref(f.bdd);
  }

  // The name printer writes into the same stream, once per shown domain.
  BDD g = bdd_addref(bdd_or(bdd_and(fdd_ithvar(1, 2), fdd_ithvar(3, 1)), fdd_ithvar(2, 3)));
  hook_calls.clear();
  EXPECT_EQ(fdd_file_hook(name_domain), nullptr);
  std::string named = text(g);
  EXPECT_EQ(fdd_file_hook(nullptr), name_domain);
  std::string plain = text(g);
  std::string renamed = plain;
  for (size_t i = 0; i + 1 < renamed.size(); i++)
    if ((renamed[i] == '<' || renamed[i] == ' ') && isdigit(renamed[i + 1]))
      renamed.replace(i + 1, 1, std::string("D") + char('a' + renamed[i + 1] - '0'));
  EXPECT_EQ(named, renamed);
  EXPECT_EQ(hook_calls.size(), (size_t)std::count(plain.begin(), plain.end(), ':'));
  bdd_delref(g);
}

TEST_F(Fdd, ResultsCarryNoReferenceAndClearingReleasesTheSets) {
  bdd_setvarnum(13);
  bdd_gbc();
  int base = bdd_getnodenum();
  int s[] = {5, 7, 5, 16};
  fdd_extdomain(s, 4);
  fdd_overlapdomain(0, 1);
  EXPECT_EQ(bdd_varnum(), 13);
  bdd_gbc();
  int withsets = bdd_getnodenum();
  EXPECT_GT(withsets, base);
  BDD set = fdd_ithset(4);
  bddPair *p = bdd_newpair();
  int from[] = {0}, to[] = {2};
  for (int v = 0; v < 5; v++) {
    fdd_ithvar(0, v);
    fdd_equals(0, 2);
    fdd_domain(v % 5);
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
  int *bits = nullptr;
  EXPECT_EQ(fdd_extdomain(s, 1), 0);  // variables are handed out from 0 again
  EXPECT_EQ(fdd_vars(0)[0], 0);
  bits = fdddec2bin(0, 6);
  EXPECT_EQ(std::vector<int>(bits, bits + 3), (std::vector<int>{0, 1, 1}));
  free(bits);
}

TEST_F(Fdd, BadArgumentsAreRefusedWithTheirCodes) {
  int s[] = {4, 3};
  fdd_extdomain(s, 2);
  int nvars = bdd_varnum();
  // A bad size anywhere in the call declares nothing.
  for (int bad : {0, -3, 0x40000000}) {
    int sizes[] = {4, bad};
    EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_extdomain(sizes, 2), BDD_ERR_RANGE); }),
              std::vector<int>{BDD_ERR_RANGE});
  }
  EXPECT_EQ(fdd_domainnum(), 2);
  EXPECT_EQ(bdd_varnum(), nvars);
  int many = 1 << 29;  // 30 bits each: the variable count would pass its maximum
  std::vector<int> wide(40, many);
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_extdomain(wide.data(), 40), BDD_ERR_RANGE); }),
            std::vector<int>{BDD_ERR_RANGE});
  EXPECT_EQ(fdd_domainnum(), 2);

  BDD dead = bdd_and(fdd_ithvar(0, 1), fdd_ithvar(1, 2));
  bdd_gbc();
  FILE *null_stream = nullptr;
  const std::vector<std::pair<std::string, std::function<int(int, BDD)>>> calls{
      {"domainsize", [](int d, BDD) { return fdd_domainsize(d) < 0 ? 0 : 1; }},
      {"varnum", [](int d, BDD) { return fdd_varnum(d) < 0 ? 0 : 1; }},
      {"vars", [](int d, BDD) { return fdd_vars(d) == nullptr ? 0 : 1; }},
      {"ithvar", [](int d, BDD) { return fdd_ithvar(d, 0); }},
      {"ithset", [](int d, BDD) { return fdd_ithset(d); }},
      {"domain", [](int d, BDD) { return fdd_domain(d); }},
      {"equals", [](int d, BDD) { return fdd_equals(0, d); }},
      {"makeset", [](int d, BDD) { return fdd_makeset(&d, 1); }},
      {"overlap", [](int d, BDD) { return fdd_overlapdomain(d, 0) < 0 ? 0 : 1; }},
      {"setpair", [](int d, BDD) { return fdd_setpair(nullptr, 0, d) < 0 ? 0 : 1; }},
      {"dec2bin", [](int d, BDD) { return fdddec2bin(d, 0) == nullptr ? 0 : 1; }},
      {"scanvar", [](int d, BDD r) { return fdd_scanvar(r, d) < 0 ? 0 : 1; }},
      {"scanallvar", [](int, BDD r) { return fdd_scanallvar(r) == nullptr ? 0 : 1; }},
      {"scanset", [](int, BDD r) { int *v, n; return fdd_scanset(r, &v, &n) < 0 ? 0 : 1; }},
      {"fprintset", [](int, BDD r) { fdd_fprintset(stdout, r); return 0; }},
  };
  for (auto &[name, fn] : calls) {
    bool takes_bdd = name.rfind("scan", 0) == 0 || name == "fprintset";
    if (!takes_bdd) {
      for (int d : {-1, 2, 1 << 30})
        EXPECT_EQ(errors_of([&] { EXPECT_EQ(fn(d, 1), 0) << name; }),
                  std::vector<int>{BDD_ERR_UNKNOWN_VAR}) << name << " " << d;
    } else {
      for (BDD r : {-1, bddnodesize, dead})
        EXPECT_EQ(errors_of([&] { EXPECT_EQ(fn(0, r), 0) << name; }),
                  std::vector<int>{BDD_ERR_ILLBDD}) << name << " " << r;
    }
  }
  EXPECT_EQ(errors_of([] { EXPECT_EQ(fdd_scanvar(1, 2), BDD_ERR_UNKNOWN_VAR); }),
            std::vector<int>{BDD_ERR_UNKNOWN_VAR});
  EXPECT_EQ(errors_of([] { EXPECT_EQ(fdddec2bin(1, 4), nullptr); }), std::vector<int>{BDD_ERR_RANGE});
  EXPECT_EQ(errors_of([&] { fdd_fprintset(null_stream, 1); }), std::vector<int>{BDD_ERR_FILE});

  bdd_done();
  // Stopped engine: every entry refuses, no domain state is reachable.
  bdd_error_hook(record_errors);
  for (auto &[name, fn] : calls)
    EXPECT_EQ(errors_of([&] { fn(0, 1); }), std::vector<int>{BDD_ERR_RUNNING}) << name;
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_extdomain(s, 1), BDD_ERR_RUNNING); }),
            std::vector<int>{BDD_ERR_RUNNING});
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_domainnum(), BDD_ERR_RUNNING); }),
            std::vector<int>{BDD_ERR_RUNNING});
  EXPECT_EQ(errors_of([&] { EXPECT_EQ(fdd_intaddvarblock(0, 0, 0), BDD_ERR_RUNNING); }),
            std::vector<int>{BDD_ERR_RUNNING});
  bdd_error_hook(nullptr);
}

// Every allocation of a call failing in turn: the call either completes or
// reports only out-of-memory, leaks nothing, and leaves the declared
// domains as they were.
TEST_F(Fdd, AllocationFailuresLeaveDomainsIntact) {
  if (!ALLOC_INJECTION) GTEST_SKIP() << "allocator injection needs the plain glibc allocator";
  using namespace alloc_inject;
  recorded_errors.reserve(64);
  int s[] = {6, 6};
  fdd_extdomain(s, 2);
  BDD eq = bdd_addref(fdd_equals(0, 1));
  auto intact = [&] {
    ASSERT_EQ(fdd_domainsize(0), 6);
    ASSERT_EQ(fdd_equals(0, 1), eq);
    ASSERT_EQ(fdd_scanvar(fdd_ithvar(1, 5), 1), 5);
  };
  auto sweep = [&](const char *what, const std::function<int()> &op) {
    for (long n = 1;; n++) {
      int domains = fdd_domainnum();
      long before = live_blocks;
      recorded_errors.clear();
      failed_once = false;
      fail_countdown = n;
      int rc = op();
      fail_countdown = 0;
      long after = live_blocks;
      ASSERT_NO_FATAL_FAILURE(intact());
      for (int e : recorded_errors) ASSERT_EQ(e, BDD_ERR_MEMORY) << what << " request " << n;
      // A failure the engine worked around still completes the call.
      if (!failed_once || rc >= 0) {
        ASSERT_EQ(rc, 0) << what;
        break;
      }
      ASSERT_EQ(rc, BDD_ERR_MEMORY) << what << " request " << n;
      ASSERT_EQ(recorded_errors.size(), 1u) << what << " request " << n;
      ASSERT_EQ(after, before) << what << " request " << n;
      ASSERT_EQ(fdd_domainnum(), domains) << what << " request " << n;
      ASSERT_LT(n, 200);
    }
  };
  int grow[] = {7, 9, 11};
  ASSERT_NO_FATAL_FAILURE(
      sweep("extdomain", [&] { return fdd_extdomain(grow, 3) == 2 ? 0 : BDD_ERR_MEMORY; }));
  // Refused attempts handed out no variable: the new domains follow the old.
  ASSERT_EQ(fdd_domainnum(), 5);
  EXPECT_EQ(fdd_vars(2)[0], 6);
  EXPECT_EQ(fdd_vars(4)[3], 16);
  ASSERT_NO_FATAL_FAILURE(
      sweep("overlap", [&] { return fdd_overlapdomain(2, 3) == 5 ? 0 : BDD_ERR_MEMORY; }));
  BDD three = bdd_addref(fdd_ithvar(0, 3));
  ASSERT_NO_FATAL_FAILURE(sweep("scanallvar", [&] {
    int *a = fdd_scanallvar(three);
    int rc = a == nullptr ? BDD_ERR_MEMORY : a[0] == 3 ? 0 : -100;
    free(a);
    return rc;
  }));
  ASSERT_NO_FATAL_FAILURE(sweep("scanset", [&] {
    int *v = nullptr, n = 0;
    int rc = fdd_scanset(fdd_ithset(1), &v, &n);
    if (rc == 0 && (n != 1 || v[0] != 1)) rc = -100;
    free(v);
    return rc;
  }));
  ASSERT_NO_FATAL_FAILURE(sweep("dec2bin", [&] {
    int *b = fdddec2bin(0, 5);
    int rc = b == nullptr ? BDD_ERR_MEMORY : b[0] + 2 * b[1] + 4 * b[2] == 5 ? 0 : -100;
    free(b);
    return rc;
  }));
  // An unbuffered stream over a fixed buffer: printing itself allocates nothing.
  static char buf[64];
  FILE *f = fmemopen(buf, sizeof buf, "w");
  setvbuf(f, nullptr, _IONBF, 0);
  ASSERT_NO_FATAL_FAILURE(sweep("fprintset", [&] {
    memset(buf, 0, sizeof buf);
    rewind(f);
    fdd_fprintset(f, three);
    std::string t(buf);
    return t == "<0:3>" ? 0 : t.empty() ? BDD_ERR_MEMORY : -100;
  }));
  fclose(f);
  bdd_delref(three);
  bdd_delref(eq);
}

}  // namespace
