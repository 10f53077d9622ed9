// Differential tests of the operators against truth tables, run on a
// roomy node table and on a tiny one (so that collections and growth
// happen in the middle of operations), plus error paths and recovery.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "src/cache_internal.h"
#include "src/kernel_internal.h"
#include "src/operators_internal.h"
#include "oracle.h"
#include "support.h"

using namespace oracle;

namespace {

constexpr int N = 10;

struct Config {
  int nodes;
  int cache;
  const char *name;
  bool reorder;
};

// Named in test output by its name, not by its raw bytes.
void PrintTo(const Config &c, std::ostream *os) { *os << c.name; }

int reorders_seen = 0;
void count_reorders(int pre) { reorders_seen += pre; }

class Ops : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override {
    start_engine(GetParam().nodes, GetParam().cache, N);
    rng.seed(977);
    if (GetParam().reorder) {
      // Automatic sifting: operations are left by the restart jump and
      // redone, and the variable order moves under the tests' feet.
      bdd_varblockall();
      bdd_autoreorder(REORDER_SIFT);
      bdd_reorder_hook(count_reorders);
      reorders_seen = 0;
    }
  }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty()) << "first unexpected error " << recorded_errors[0];
    bdd_done();
  }

  Formula rf(int depth = 5) { return random_formula(rng, N, depth); }

  // r must denote t, and be the very node the table builds for t.
  void expect_fn(BDD r, const TT &t, const char *what) {
    ASSERT_GE(r, 0) << what;
    EXPECT_EQ(tt_of(r, N), t) << what;
    BDD c = bdd_of(t);
    EXPECT_EQ(r, c) << what << ": two constructions of one function differ";
    bdd_delref(c);
  }

  BDD makeset(const std::vector<int> &vars) {
    std::vector<int> v(vars);
    return bdd_addref(bdd_makeset(v.data(), (int)v.size()));
  }

  std::mt19937 rng;
};

// Under automatic reordering the larger operations are left by the restart
// jump and redone; the buffer is disarmed afterwards in every case.
TEST_P(Ops, ApplyNegationAndIteAgreeWithTruthTables) {
  for (int it = 0; it < 30; it++) {
    Formula f = rf(it % 2 ? 7 : 5), g = rf(it % 2 ? 7 : 5), h = rf();
    // Negation shares applycache with the other codes: interleave them so
    // a stale tag would surface as a wrong answer.
    BDD n = bdd_addref(bdd_not(f.bdd));
    expect_fn(n, tt_not(f.tt), "not");
    for (int op = 0; op < 10; op++) {
      BDD r = bdd_addref(bdd_apply(f.bdd, g.bdd, op));
      expect_fn(r, tt_apply(f.tt, g.tt, op), "apply");
      // Operands in both orders and with themselves reach the terminal
      // rules as well as the recursion.
      BDD s = bdd_addref(bdd_apply(g.bdd, f.bdd, op));
      expect_fn(s, tt_apply(g.tt, f.tt, op), "apply swapped");
      expect_fn(bdd_apply(f.bdd, f.bdd, op), tt_apply(f.tt, f.tt, op), "apply self");
      for (BDD x : {r, s}) bdd_delref(x);
    }
    // A constant on either side, and the operand twice: where the result is
    // f or a constant nothing may be built; and the difference and its
    // mirror answer without a walk over f, so leave no entry of their own.
    auto stored = [](BDD l, BDD r, int op) {
      const BddCache *c = bdd_operator_cache(0);
      const BddCacheData4 &e = ((const BddCacheData4 *)c->table)[TRIPLE(l, r, op) % (unsigned)c->tablesize];
      return e.a == ~l && e.b == r && e.c == op;
    };
    for (int op = 0; op < 10; op++)
      for (BDD c : {0, 1, -1})
        for (bool left : {false, true}) {
          const BDD l = c < 0 ? f.bdd : left ? c : f.bdd, r = c < 0 || left ? f.bdd : c;
          const TT lt = l == f.bdd ? f.tt : tt_const(N, l), rt = r == f.bdd ? f.tt : tt_const(N, r);
          const TT want = tt_apply(lt, rt, op);
          const int produced = bddproduced;
          const BDD x = bdd_apply(l, r, op);
          if (want == f.tt || want == tt_const(N, false) || want == tt_const(N, true)) {
            EXPECT_EQ(bddproduced, produced) << "op " << op;
            EXPECT_FALSE((op == OP_DIFF || op == OP_LESS) && stored(l, r, op)) << "op " << op;
          }
          expect_fn(x, want, "apply with a constant or twice");
        }
    EXPECT_EQ(bdd_not(n), f.bdd);
    EXPECT_EQ((std::vector<BDD>{bdd_and(f.bdd, g.bdd), bdd_or(f.bdd, g.bdd), bdd_xor(f.bdd, g.bdd),
                                bdd_imp(f.bdd, g.bdd), bdd_biimp(f.bdd, g.bdd)}),
              (std::vector<BDD>{bdd_apply(f.bdd, g.bdd, OP_AND), bdd_apply(f.bdd, g.bdd, OP_OR),
                                bdd_apply(f.bdd, g.bdd, OP_XOR), bdd_apply(f.bdd, g.bdd, OP_IMP),
                                bdd_apply(f.bdd, g.bdd, OP_BIIMP)}));
    BDD i = bdd_addref(bdd_ite(f.bdd, g.bdd, h.bdd));
    expect_fn(i, tt_ite(f.tt, g.tt, h.tt), "ite");
    EXPECT_EQ((std::vector<BDD>{bdd_ite(f.bdd, 1, 0), bdd_ite(f.bdd, 0, 1), bdd_ite(f.bdd, g.bdd, g.bdd)}),
              (std::vector<BDD>{f.bdd, n, g.bdd}));
    EXPECT_EQ(jumparmed, 0);
    for (BDD b : {f.bdd, g.bdd, h.bdd, n, i}) bdd_delref(b);
  }
  // Constant operands of every code.
  for (int op = 0; op < 10; op++)
    for (int l = 0; l < 2; l++)
      for (int r = 0; r < 2; r++) EXPECT_EQ(bdd_apply(l, r, op), op_eval(op, l, r) ? 1 : 0);
  if (GetParam().reorder) {
    EXPECT_GT(reorders_seen, 0) << "no automatic reordering happened";
  }
  // Every level still holds a variable: the order is a permutation.
  std::vector<int> seen(N, 0);
  for (int l = 0; l < N; l++) seen[bddlevel2var[l]]++;
  EXPECT_EQ(seen, std::vector<int>(N, 1));
}

TEST_P(Ops, CombinedApplyQuantifyEqualsQuantifiedApply) {
  for (int it = 0; it < 12; it++) {
    Formula f = rf(), g = rf();
    std::vector<int> vars = random_vars(rng, N, 0.4);
    BDD set = makeset(vars);
    for (int op = 0; op < 10; op++) {
      TT applied = tt_apply(f.tt, g.tt, op);
      BDD plain = bdd_addref(bdd_apply(f.bdd, g.bdd, op));
      BDD ex = bdd_addref(bdd_appex(f.bdd, g.bdd, op, set));
      BDD al = bdd_addref(bdd_appall(f.bdd, g.bdd, op, set));
      BDD un = bdd_addref(bdd_appuni(f.bdd, g.bdd, op, set));
      expect_fn(ex, vars.empty() ? applied : tt_quant(applied, vars, 0), "appex");
      expect_fn(al, vars.empty() ? applied : tt_quant(applied, vars, 1), "appall");
      expect_fn(un, vars.empty() ? applied : tt_quant(applied, vars, 2), "appuni");
      // And the two-step versions give the same nodes.
      EXPECT_EQ(ex, bdd_exist(plain, set));
      EXPECT_EQ(al, bdd_forall(plain, set));
      EXPECT_EQ(un, bdd_unique(plain, set));
      // The three share appexcache: right after one of them has filled
      // it, each other one must still get its own answer.
      EXPECT_EQ(bdd_appex(f.bdd, g.bdd, op, set), ex);
      EXPECT_EQ(bdd_appuni(f.bdd, g.bdd, op, set), un);
      EXPECT_EQ(bdd_appex(f.bdd, g.bdd, op, set), ex);
      EXPECT_EQ(bdd_appall(f.bdd, g.bdd, op, set), al);
      EXPECT_EQ(bdd_appuni(f.bdd, g.bdd, op, set), un);
      EXPECT_EQ(bdd_appall(f.bdd, g.bdd, op, set), al);
      // ... and so must a different operator on the same operands.
      EXPECT_EQ(bdd_appex(f.bdd, g.bdd, (op + 1) % 10, set),
                bdd_exist(bdd_apply(f.bdd, g.bdd, (op + 1) % 10), set));
      for (BDD b : {plain, ex, al, un}) bdd_delref(b);
    }
    for (BDD t : {set, f.bdd, g.bdd}) bdd_delref(t);
  }
}

TEST_P(Ops, SubstitutionsAgreeWithTruthTables) {
  bddPair *rn = bdd_newpair();
  bdd_setpair(rn, 2, 6);
  bdd_replace(bdd_and(bdd_ithvar(2), bdd_ithvar(6)), rn);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_REPLACE});
  recorded_errors.clear();
  int raised = 0;
  for (int it = 0; it < 25; it++) {
    Formula f = rf(6), g = rf(6);
    // Renaming into a variable f may depend on: either the conflict is
    // reported, and real, or the result is the substitution.
    int a = (int)(rng() % N), b = (a + 1 + (int)(rng() % (N - 1))) % N;
    bdd_resetpair(rn);
    bdd_setpair(rn, a, b);
    BDD rr = bdd_addref(bdd_replace(f.bdd, rn));
    if (!recorded_errors.empty()) {
      EXPECT_EQ(recorded_errors, std::vector<int>(recorded_errors.size(), BDD_ERR_REPLACE));
      recorded_errors.clear();
      raised++;
      std::vector<int> sup = tt_support(f.tt);
      EXPECT_TRUE(std::count(sup.begin(), sup.end(), a) && std::count(sup.begin(), sup.end(), b));
    } else {
      std::vector<TT> ren;
      for (int v = 0; v < N; v++) ren.push_back(tt_var(N, v == a ? b : v));
      expect_fn(rr, tt_compose_all(f.tt, ren), "replace into variable");
    }
    bdd_delref(rr);
    // A random permutation; vector composition with the same table is the
    // same renaming, and the inverse permutation brings f back.
    std::vector<int> perm(N), olds(N);
    for (int v = 0; v < N; v++) perm[v] = olds[v] = v;
    std::shuffle(perm.begin(), perm.end(), rng);
    bddPair *p = bdd_newpair(), *q = bdd_newpair();
    ASSERT_EQ(bdd_setpairs(p, olds.data(), perm.data(), N), 0);
    ASSERT_EQ(bdd_setpairs(q, perm.data(), olds.data(), N), 0);
    std::vector<TT> subst;
    for (int v = 0; v < N; v++) subst.push_back(tt_var(N, perm[v]));
    BDD r = bdd_addref(bdd_replace(f.bdd, p));
    expect_fn(r, tt_compose_all(f.tt, subst), "replace");
    EXPECT_EQ(bdd_veccompose(f.bdd, p), r);
    EXPECT_EQ(bdd_replace(r, q), f.bdd);
    bdd_freepair(q);
    bdd_delref(r);

    int var = (int)(rng() % N);
    subst.clear();
    for (int v = 0; v < N; v++) subst.push_back(v == var ? g.tt : tt_var(N, v));
    BDD c = bdd_addref(bdd_compose(f.bdd, g.bdd, var));
    expect_fn(c, tt_compose_all(f.tt, subst), "compose");
    bdd_delref(c);

    // Every variable replaced by an arbitrary function at once.
    std::vector<Formula> fs;
    subst.clear();
    for (int v = 0; v < N; v++) {
      fs.push_back(rf(4));
      ASSERT_EQ(bdd_setbddpair(p, v, fs.back().bdd), 0);
      subst.push_back(fs.back().tt);
    }
    BDD vc = bdd_addref(bdd_veccompose(f.bdd, p));
    expect_fn(vc, tt_compose_all(f.tt, subst), "veccompose");
    bdd_delref(vc);
    bdd_freepair(p);  // releases the table's references
    for (Formula &h : fs) bdd_delref(h.bdd);

    // Restriction by a random cube.
    BDD cube = 1;
    TT want = f.tt;
    for (int v : random_vars(rng, N, 0.3)) {
      bool pos = rng() & 1;
      BDD nc = bdd_addref(bdd_and(cube, pos ? bdd_ithvar(v) : bdd_nithvar(v)));
      bdd_delref(cube);
      cube = nc;
      want = tt_cofactor(want, v, pos);
    }
    BDD rs = bdd_addref(bdd_restrict(f.bdd, cube));
    expect_fn(rs, want, "restrict");
    for (BDD b : {rs, cube, f.bdd, g.bdd}) bdd_delref(b);
  }
  EXPECT_GT(raised, 0);
  bdd_freepair(rn);
}

// Constrain and simplify agree with f on the care set; satisfying cubes
// imply the function.
TEST_P(Ops, CareSetCofactorsAndSatisfyingCubes) {
  for (int it = 0; it < 40; it++) {
    Formula f = rf(6), c = rf(4);
    TT fc = tt_apply(f.tt, c.tt, OP_AND);
    BDD k = bdd_addref(bdd_constrain(f.bdd, c.bdd));
    BDD s = bdd_addref(bdd_simplify(f.bdd, c.bdd));
    if (c.bdd != 0) {
      // The generalised cofactor: f and c == constrain(f, c) and c.
      EXPECT_EQ(tt_apply(tt_of(k, N), c.tt, OP_AND), fc) << "constrain";
    } else {
      EXPECT_EQ(k, f.bdd < 2 ? f.bdd : 0);
    }
    EXPECT_EQ(tt_apply(tt_of(s, N), c.tt, OP_AND), fc) << "simplify";
    // Both never grow f's support beyond f's and c's.
    for (BDD r : {k, s})
      for (int v : tt_support(tt_of(r, N))) {
        std::vector<int> a = tt_support(f.tt), b = tt_support(c.tt);
        EXPECT_TRUE(std::count(a.begin(), a.end(), v) || std::count(b.begin(), b.end(), v));
      }
    for (BDD x : {k, s, c.bdd}) bdd_delref(x);
    if (f.bdd == 0) {
      EXPECT_EQ(bdd_satone(0), 0);
      EXPECT_EQ(bdd_fullsatone(0), 0);
      bdd_delref(f.bdd);
      continue;
    }
    BDD one = bdd_addref(bdd_satone(f.bdd));
    std::vector<int> vars, signs;
    EXPECT_TRUE(is_cube(one, &vars, &signs));
    EXPECT_TRUE(tt_implies(tt_of(one, N), f.tt));
    if (f.bdd > 1 && bdd_low(f.bdd) != 0) {
      ASSERT_FALSE(signs.empty());
      EXPECT_EQ(signs[0], 0) << "the low branch is preferred";
    }

    std::vector<int> setvars = random_vars(rng, N, 0.5);
    BDD set = makeset(setvars);
    for (int pol = 0; pol < 2; pol++) {
      BDD s = bdd_addref(bdd_satoneset(f.bdd, set, pol));
      std::vector<int> sv, ss;
      EXPECT_TRUE(is_cube(s, &sv, &ss));
      EXPECT_TRUE(tt_implies(tt_of(s, N), f.tt));
      for (int v : setvars) EXPECT_TRUE(std::count(sv.begin(), sv.end(), v)) << "set variable " << v;
      // Set variables off the satone path take the requested polarity.
      for (size_t i = 0; i < sv.size(); i++) {
        if (!std::count(vars.begin(), vars.end(), sv[i])) {
          EXPECT_EQ(ss[i], pol);
        }
      }
      bdd_delref(s);
    }
    bdd_delref(set);

    BDD full = bdd_addref(bdd_fullsatone(f.bdd));
    std::vector<int> fv;
    EXPECT_TRUE(is_cube(full, &fv));
    EXPECT_EQ((int)fv.size(), N);
    EXPECT_EQ(tt_of(full, N).count(), 1u);
    EXPECT_TRUE(tt_implies(tt_of(full, N), f.tt));
    for (BDD x : {full, one, f.bdd}) bdd_delref(x);
  }
}

std::vector<std::vector<signed char>> allsat_seen;
void collect(signed char *profile, int size) { allsat_seen.emplace_back(profile, profile + size); }

double paths(BDD r, std::map<BDD, double> &memo) {
  if (r < 2) return r;
  auto it = memo.find(r);
  if (it != memo.end()) return it->second;
  return memo[r] = paths(bdd_low(r), memo) + paths(bdd_high(r), memo);
}

TEST_P(Ops, SupportCountsAndAllsatAgreeWithTruthTables) {
  for (int it = 0; it < 40; it++) {
    Formula f = rf(6), g = rf(5);
    // The support walk leaves no node marked: the walks below see them all.
    BDD s = bdd_addref(bdd_support(f.bdd)), w = makeset(tt_support(f.tt));
    EXPECT_EQ(s, w);
    for (BDD x : {s, w}) bdd_delref(x);
    double cnt = f.tt.count();
    EXPECT_EQ(bdd_satcount(f.bdd), cnt);
    if (cnt > 0) {
      EXPECT_NEAR(bdd_satcountln(f.bdd), std::log2(cnt), 1e-9);
    } else {
      EXPECT_EQ(bdd_satcountln(f.bdd), -1.0);
    }
    // Over a set that holds the support, the count is over the set only.
    std::vector<int> sup = tt_support(f.tt), extra = random_vars(rng, N, 0.3);
    for (int v : extra)
      if (!std::count(sup.begin(), sup.end(), v)) sup.push_back(v);
    BDD set = makeset(sup);
    double overset = cnt / std::pow(2.0, N - (int)sup.size());
    if (sup.empty()) {
      EXPECT_EQ(bdd_satcountset(f.bdd, set), 0.0);
    } else if (f.bdd == 0) {
      EXPECT_EQ(bdd_satcountset(f.bdd, set), 0.0);
      EXPECT_EQ(bdd_satcountlnset(f.bdd, set), 0.0);
    } else {
      EXPECT_EQ(bdd_satcountset(f.bdd, set), overset);
      EXPECT_NEAR(bdd_satcountlnset(f.bdd, set), std::log2(overset), 1e-9);
    }
    bdd_delref(set);

    std::set<BDD> nodes;
    reachable(f.bdd, nodes);
    EXPECT_EQ(bdd_nodecount(f.bdd), (int)nodes.size());
    std::set<BDD> both(nodes);
    reachable(g.bdd, both);
    BDD roots[2] = {f.bdd, g.bdd};
    EXPECT_EQ(bdd_anodecount(roots, 2), (int)both.size());
    std::map<BDD, double> memo;
    EXPECT_EQ(bdd_pathcount(f.bdd), paths(f.bdd, memo));
    int *prof = bdd_varprofile(f.bdd);
    ASSERT_NE(prof, nullptr);
    std::vector<int> want(N, 0);
    for (BDD n : nodes) want[bdd_var(n)]++;
    for (int v = 0; v < N; v++) EXPECT_EQ(prof[v], want[v]);
    free(prof);
    // The counters share misccache: interleaving must not mix them.
    EXPECT_EQ(bdd_satcount(f.bdd), cnt);
    // allsat: disjoint cubes that cover f, one call per path to true.
    allsat_seen.clear();
    bdd_allsat(f.bdd, collect);
    EXPECT_EQ((double)allsat_seen.size(), bdd_pathcount(f.bdd));
    std::vector<int> hits(1u << N, 0);
    for (auto &p : allsat_seen) {
      ASSERT_EQ((int)p.size(), N);
      for (unsigned a = 0; a < (1u << N); a++) {
        bool in = true;
        for (int v = 0; v < N; v++) in = in && (p[v] == -1 || p[v] == (int)((a >> v) & 1u));
        hits[a] += in;
      }
    }
    for (unsigned a = 0; a < (1u << N); a++) ASSERT_EQ(hits[a], f.tt[a] ? 1 : 0) << "assignment " << a;
    for (BDD x : {f.bdd, g.bdd}) bdd_delref(x);
  }
  EXPECT_EQ(bdd_satcount(1), std::pow(2.0, N));
  EXPECT_EQ(bdd_satcount(bdd_ithvar(3)), std::pow(2.0, N - 1));
  EXPECT_EQ(bdd_pathcount(1), 1.0);
  EXPECT_EQ(bdd_pathcount(0), 0.0);
}

TEST_P(Ops, UnreferencedArgumentsSurviveCollectionsInside) {
  // Results are returned without a reference; feeding one straight into
  // the next operator must be safe even when that operator collects.
  // Growth only when a collection frees nothing: collections are frequent.
  int oldmin = bdd_setminfreenodes(0);
  for (int it = 0; it < 60; it++) {
    Formula f = rf(6), g = rf(6), h = rf(6);
    int op1 = (int)(rng() % 10), op2 = (int)(rng() % 10);
    // the unreferenced result as the first operand, then as the second
    const bool first = it % 2;
    TT fg = tt_apply(f.tt, g.tt, op1);
    TT want = first ? tt_apply(fg, h.tt, op2) : tt_apply(h.tt, fg, op2);
    BDD a = bdd_apply(f.bdd, g.bdd, op1);
    for (BDD x : {f.bdd, g.bdd}) bdd_delref(x);
    BDD r = bdd_addref(first ? bdd_apply(a, h.bdd, op2) : bdd_apply(h.bdd, a, op2));
    expect_fn(r, want, "apply of an unreferenced result");
    TT w2 = tt_ite(want, h.tt, tt_not(h.tt));
    BDD n = bdd_not(h.bdd);
    bdd_delref(h.bdd);
    BDD i = bdd_addref(bdd_ite(r, bdd_not(n), n));
    expect_fn(i, w2, "ite of unreferenced results");
    for (BDD x : {r, i}) bdd_delref(x);
  }
  bdd_setminfreenodes(oldmin);
}

INSTANTIATE_TEST_SUITE_P(Tables, Ops,
                         ::testing::Values(Config{20000, 5000, "roomy", false}, Config{50, 10, "tiny", false},
                                           Config{50, 0, "tiny_nocache", false},
                                           Config{50, 10, "tiny_reordering", true}),
                         [](const ::testing::TestParamInfo<Config> &i) { return std::string(i.param.name); });

// ---- deep substitutions: the reference stack must hold ------------------------

class Deep : public ::testing::Test {
 protected:
  static constexpr int V = 60;
  void SetUp() override { start_engine(1000, 100, V); }
  void TearDown() override {
    EXPECT_TRUE(recorded_errors.empty());
    bdd_done();
  }
  BDD parity(int skip) {
    BDD r = 0;
    for (int v = 0; v < V; v++) {
      if (v == skip) continue;
      BDD n = bdd_addref(bdd_xor(r, bdd_ithvar(v)));
      bdd_delref(r);
      r = n;
    }
    return r;
  }
};

TEST_F(Deep, ComposeAndVecComposeWithFunctionsOverAllVariables) {
  BDD f = parity(-1);
  for (int var : {0, V / 2, V - 1}) {
    BDD g = parity(var);
    EXPECT_EQ(bdd_compose(f, g, var), 0);
    BDD ng = bdd_addref(bdd_not(g));
    EXPECT_EQ(bdd_compose(f, ng, var), 1);
    for (BDD x : {g, ng}) bdd_delref(x);
  }
  // Every x_v becomes x_v xor x_{v+1}: each variable then occurs twice in
  // the parity of all, so the result is false; with not(x_v xor x_{v+1})
  // the V negations cancel (V even) as well.
  bddPair *p = bdd_newpair();
  for (int v = 0; v < V; v++) ASSERT_EQ(bdd_setbddpair(p, v, bdd_xor(bdd_ithvar(v), bdd_ithvar((v + 1) % V))), 0);
  EXPECT_EQ(bdd_veccompose(f, p), 0);
  for (int v = 0; v < V; v++) bdd_setbddpair(p, v, bdd_biimp(bdd_ithvar(v), bdd_ithvar((v + 1) % V)));
  EXPECT_EQ(bdd_veccompose(f, p), 0);
  // x_v -> parity of all the others: each variable occurs V-1 times.
  for (int v = 0; v < V; v++) {
    BDD g = parity(v);
    bdd_setbddpair(p, v, g);
    bdd_delref(g);
  }
  EXPECT_EQ(bdd_veccompose(f, p), f);
  bdd_freepair(p);
  bdd_delref(f);
}

// ---- errors ----------------------------------------------------------------------

class Errors : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(1000, 100, 4); }
  void TearDown() override {
    if (bdd_isrunning()) bdd_done();
  }
  // Runs every operator with root r in each root position; each must
  // raise `code` once per call and return its error value.
  void every_operator_refuses(BDD r, int code) {
    BDD x = bdd_ithvar(0);
    BDD set = bdd_ithvar(1);
    bddPair *p = bdd_newpair();
    recorded_errors.clear();
    int calls = 0;
    auto bdd_call = [&](BDD got) {
      calls++;
      EXPECT_EQ(got, 0);
    };
    for (int op = 0; op < 10; op++) {
      bdd_call(bdd_apply(r, x, op));
      bdd_call(bdd_apply(x, r, op));
    }
    // A braced list runs the calls in order.
    for (BDD got : {bdd_not(r), bdd_ite(r, x, x), bdd_ite(x, r, x), bdd_ite(x, x, r),
                    bdd_exist(r, set), bdd_forall(x, r), bdd_unique(r, set),
                    bdd_appex(r, x, 0, set), bdd_appall(x, r, 1, set), bdd_appuni(x, x, 2, r),
                    bdd_replace(r, p), bdd_compose(r, x, 0), bdd_compose(x, r, 0),
                    bdd_veccompose(r, p), bdd_restrict(r, set), bdd_restrict(x, r),
                    bdd_constrain(r, x), bdd_simplify(x, r), bdd_support(r), bdd_satone(r),
                    bdd_satoneset(r, set, 1), bdd_fullsatone(r)})
      bdd_call(got);
    calls += 4;
    EXPECT_EQ(bdd_satcount(r), 0.0);
    EXPECT_EQ(bdd_satcountln(r), 0.0);
    EXPECT_EQ(bdd_pathcount(r), 0.0);
    EXPECT_EQ(bdd_varprofile(r), nullptr);
    calls++;
    EXPECT_EQ(bdd_nodecount(r), code);
    calls++;
    bdd_allsat(r, collect);
    ASSERT_EQ((int)recorded_errors.size(), calls);
    for (int e : recorded_errors) EXPECT_EQ(e, code);
    recorded_errors.clear();
    bdd_freepair(p);
  }
};

TEST_F(Errors, BadRootsAreRefused) {
  every_operator_refuses(-1, BDD_ERR_ILLBDD);
  every_operator_refuses(bddnodesize, BDD_ERR_ILLBDD);
  // A freed node: build one, drop it and collect.
  BDD t = bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  bdd_gbc();
  ASSERT_TRUE(ISFREE(t));
  every_operator_refuses(t, BDD_ERR_ILLBDD);
}

TEST_F(Errors, BadOperatorCodes) {
  BDD x = bdd_ithvar(0), y = bdd_ithvar(1);
  // Every call (a braced list runs them in order) returns false and the
  // calls together raise `codes`.
  auto refused = [](const std::vector<BDD> &got, const std::vector<int> &codes) {
    EXPECT_EQ(got, std::vector<BDD>(got.size(), 0));
    EXPECT_EQ(recorded_errors, codes);
    recorded_errors.clear();
  };
  recorded_errors.clear();
  for (int op : {10, 11, -1, 1 << 30})
    refused({bdd_apply(x, y, op), bdd_appex(x, y, op, y), bdd_appall(x, y, op, y),
             bdd_appuni(x, y, op, y)},
            std::vector<int>(4, BDD_ERR_OP));
  refused({bdd_compose(x, y, 4), bdd_compose(x, y, -1)}, std::vector<int>(2, BDD_ERR_UNKNOWN_VAR));
  refused({bdd_satoneset(x, y, 2)}, {BDD_ERR_ILLBDD});
  EXPECT_EQ(varset2vartable(1), BDD_ERR_VARSET);
  EXPECT_EQ(varset2svartable(0), BDD_ERR_VARSET);
  refused({bdd_replace(x, nullptr)}, {BDD_ERR_VARSET, BDD_ERR_VARSET, BDD_ERR_RANGE});
}

TEST_F(Errors, EmptySetsAreNoErrors) {
  BDD x = bdd_ithvar(0), y = bdd_ithvar(1);
  BDD f = bdd_addref(bdd_or(x, y));
  recorded_errors.clear();
  EXPECT_EQ(bdd_exist(f, 1), f);
  EXPECT_EQ(bdd_forall(f, 0), f);
  EXPECT_EQ(bdd_unique(f, 1), f);
  EXPECT_EQ(bdd_restrict(f, 1), f);
  for (int op = 0; op < 10; op++) {
    EXPECT_EQ(bdd_appex(x, y, op, 1), bdd_apply(x, y, op));
    EXPECT_EQ(bdd_appuni(x, y, op, 0), bdd_apply(x, y, op));
  }
  EXPECT_EQ(bdd_unique(x, x), 1);
  EXPECT_EQ(bdd_unique(y, x), 0);
  EXPECT_EQ(bdd_satcountset(f, 1), 0.0);
  EXPECT_EQ(bdd_satcountlnset(f, 0), 0.0);
  EXPECT_TRUE(recorded_errors.empty());
  bdd_delref(f);
}

TEST_F(Errors, UncheckedArgumentsAndAStoppedEngine) {
  BDD x = bdd_ithvar(0);
  recorded_errors.clear();
  EXPECT_EQ(bdd_satcountset(x, -7), 0.0);
  EXPECT_EQ(bdd_satcountlnset(x, bddnodesize + 3), 0.0);
  BDD roots[2] = {x, 1 << 26};
  EXPECT_EQ(bdd_anodecount(roots, 2), BDD_ERR_ILLBDD);
  EXPECT_EQ(bdd_satoneset(x, -2, 0), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>(4, BDD_ERR_ILLBDD));
  // The constants are always acceptable, even with the engine stopped.
  recorded_errors.clear();
  BDD consts[3] = {0, 1, 1};
  EXPECT_EQ(bdd_anodecount(consts, 3), 0);
  bdd_done();
  EXPECT_EQ(bdd_anodecount(consts, 3), 0);
  EXPECT_TRUE(recorded_errors.empty());
  // Everything else refuses a stopped engine.
  bdd_error_hook(record_errors);
  EXPECT_EQ(bdd_satcount(1), 0.0);
  EXPECT_EQ((std::vector<BDD>{bdd_apply(0, 1, 0), bdd_not(1), bdd_ite(1, 0, 1), bdd_exist(1, 1),
                              bdd_support(1), bdd_nodecount(0)}),
            (std::vector<BDD>{0, 0, 0, 0, 0, BDD_ERR_RUNNING}));
  EXPECT_EQ(recorded_errors, std::vector<int>(7, BDD_ERR_RUNNING));
  bdd_error_hook(nullptr);
  EXPECT_EQ(bdd_setcacheratio(2), 0);  // not stored before start-up
}

// ---- node limit: -17, the error condition, and recovery ----------------------------

TEST(NodeLimit, ExhaustionIsReportedAndTheEngineRecovers) {
  start_engine(50, 20, N);
  ASSERT_EQ(bdd_setmaxnodenum(400), 0);
  std::mt19937 rng(5);
  std::vector<BDD> keep;
  bool hit = false;
  for (int it = 0; it < 300 && !hit; it++) {
    Formula f = random_formula(rng, N, 7);
    keep.push_back(f.bdd);  // keep everything alive until the table is full
    hit = !recorded_errors.empty();
  }
  ASSERT_TRUE(hit);
  EXPECT_EQ(recorded_errors[0], BDD_ERR_NODENUM);
  for (int e : recorded_errors) EXPECT_EQ(e, BDD_ERR_NODENUM);
  EXPECT_EQ(bdderrorcond, 17);
  EXPECT_LE(bddnodesize, 400);
  // Garbage computed while the table was full must not survive in the
  // caches: after clearing, every result is right again.
  for (BDD b : keep) bdd_delref(b);
  recorded_errors.clear();
  bdd_clear_error();
  bdd_setmaxnodenum(0);
  std::mt19937 again(5);
  for (int it = 0; it < 40; it++) {
    Formula f = random_formula(again, N, 7);
    EXPECT_EQ(tt_of(f.bdd, N), f.tt);
    Formula g = random_formula(again, N, 5);
    BDD r = bdd_appex(f.bdd, g.bdd, OP_AND, bdd_ithvar(it % N));
    EXPECT_EQ(tt_of(r, N), tt_quant(tt_apply(f.tt, g.tt, OP_AND), {it % N}, 0));
    for (BDD t : {f.bdd, g.bdd}) bdd_delref(t);
  }
  EXPECT_TRUE(recorded_errors.empty());
  EXPECT_EQ(bdderrorcond, 0);
  bdd_done();
}

// ---- a cache that cannot be created in the middle of an operation ------------------

TEST(CacheFailure, NestedCreationAbandonsTheOperation) {
  start_engine(1000, 100, 6);
  BDD f = bdd_addref(bdd_or(bdd_and(bdd_ithvar(0), bdd_ithvar(1)), bdd_ithvar(2)));
  BDD set = bdd_addref(bdd_makeset(std::vector<int>{0, 4}.data(), 2));
  // exist creates quantcache up front; its recursion needs applycache for
  // the xor of unique quantification later, which is the next allocation.
  bddcache_failafter = 1;
  recorded_errors.clear();
  BDD r = bdd_unique(f, set);
  EXPECT_EQ(r, BDD_ERR_MEMORY);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  EXPECT_EQ(jumparmed, 0);
  // The engine goes on: the cache is created on the next attempt.
  recorded_errors.clear();
  r = bdd_unique(f, set);
  EXPECT_EQ(tt_of(r, 6), tt_quant(tt_of(f, 6), {0, 4}, 2));
  // Top-level creation failure returns -1 without arming anything.
  bddcache_failafter = 0;
  EXPECT_EQ(bdd_compose(f, bdd_ithvar(3), 1), BDD_ERR_MEMORY);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  // The relational product creates its caches inside the recursion.
  bddcache_failafter = 0;
  EXPECT_EQ(bdd_appex(f, bdd_ithvar(5), OP_AND, set), BDD_ERR_MEMORY);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  r = bdd_appex(f, bdd_ithvar(5), OP_AND, set);
  EXPECT_EQ(tt_of(r, 6), tt_quant(tt_apply(tt_of(f, 6), tt_var(6, 5), 0), {0, 4}, 0));
  EXPECT_TRUE(recorded_errors.empty());
  bddcache_failafter = -1;
  for (BDD x : {f, set}) bdd_delref(x);
  bdd_done();
}

TEST(CacheFailure, QuantifierTableLostOnGrowthIsRebuilt) {
  start_engine(1000, 100, 4);
  bddoperator_failafter = 0;
  ASSERT_EQ(bdd_setvarnum(8), 0);
  EXPECT_EQ(recorded_errors, std::vector<int>{BDD_ERR_MEMORY});
  recorded_errors.clear();
  BDD f = bdd_addref(bdd_and(bdd_ithvar(7), bdd_ithvar(6)));
  EXPECT_EQ(bdd_exist(f, bdd_ithvar(7)), bdd_ithvar(6));
  BDD cube = bdd_addref(bdd_and(bdd_ithvar(7), bdd_nithvar(5)));
  EXPECT_EQ(bdd_restrict(f, cube), bdd_ithvar(6));
  EXPECT_TRUE(recorded_errors.empty());
  for (BDD x : {f, cube}) bdd_delref(x);
  bdd_done();
}

}  // namespace
