// The C++ interface: exact reference counts, errors as exceptions, and
// operator-built expressions against the same expressions built through
// the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include <corvane/corvane.hpp>

#include "kernel_model.h"
#include "support.h"

namespace {

using corvane::Bdd;
using corvane::BitVector;
using corvane::Domain;
using corvane::Engine;
using corvane::Error;
using corvane::Pairing;
using corvane::VarSet;

Bdd random_function(std::mt19937 &rng, int vars) {
  std::uniform_int_distribution<int> var(0, vars - 1);
  Bdd f = corvane::ithvar(var(rng)) ^ corvane::nithvar(var(rng));
  for (int i = 0; i < 3; i++) f = rng() % 2 ? f & (corvane::ithvar(var(rng)) | f) : f ^ corvane::ithvar(var(rng));
  return f;
}

// Random copies, moves, assignments and scope exits over a set of slots;
// after every step each node's count equals the number of handles on it.
TEST(CppApi, ReferenceCountsFollowHandles) {
  Engine engine(200, 100, 8);  // small: collections run inside the steps
  std::mt19937 rng(7);
  const int before = live_nodes();
  {
    std::vector<std::optional<Bdd>> slots(10);
    std::vector<Bdd> pile;
    for (int step = 0; step < 3000; step++) {
      size_t i = rng() % slots.size(), j = rng() % slots.size();
      switch (rng() % 8) {
        case 0: slots[i] = random_function(rng, 8); break;
        // emplace destroys the old value first, so the source is another slot
        case 1: if (i != j) slots[i].emplace(slots[j] ? *slots[j] : Bdd()); break;  // copy-construct
        case 2: if (i != j && slots[j]) slots[i].emplace(std::move(*slots[j])); break;  // move-construct
        case 3: if (slots[i] && slots[j]) *slots[i] = *slots[j]; break;  // copy-assign, self included
        case 4: if (slots[i] && slots[j] && i != j) *slots[i] = std::move(*slots[j]); break;
        case 5: slots[i].reset(); break;
        case 6: if (slots[i]) pile.push_back(*slots[i]); break;  // vector growth copies or moves
        case 7: if (!pile.empty()) { std::swap(pile.back(), pile.front()); pile.pop_back(); } break;
      }
      std::map<BDD, unsigned> handles;
      for (auto &s : slots)
        if (s) handles[s->id()]++;
      for (const Bdd &b : pile) handles[b.id()]++;
      for (auto [root, n] : handles)
        if (root > 1 && km::refcount(root) != MAX_REFCOUNT) {
          ASSERT_EQ(km::refcount(root), n) << "step " << step;
        }
    }
    // Temporaries of the wrappers and their helper objects must not leak either.
    Pairing swap01({0, 1}, {1, 0});
    Pairing sub;
    sub.set(2, corvane::ithvar(0) & corvane::ithvar(1));
    Bdd f = random_function(rng, 8);
    Bdd g = f.replace(swap01).veccompose(sub).exist(VarSet{3, 4}).relprod(f, {5});
    ASSERT_EQ(g.satone().support().bdd() & g.support().bdd(), g.support().bdd());
    std::stringstream text;
    f.save(text);
    ASSERT_EQ(Bdd::load(text), f);
    const std::string path = ::testing::TempDir() + "corvane_cpp_api.bdd";
    g.save(path);
    ASSERT_EQ(Bdd::load(path), g);
    std::remove(path.c_str());
  }
  EXPECT_EQ(live_nodes(), before);
}

// A failing call throws the engine's code; nothing leaks and the engine
// keeps working with the same error handler.
TEST(CppApi, ErrorsBecomeExceptionsAndLeaveTheEngineUsable) {
  Engine engine(1000, 1000, 6);
  const std::vector<Domain> ds = Domain::extend({8, 5});  // 3 bits each
  const Domain both = Domain::overlap(ds[0], ds[1]);
  const int before = live_nodes();
  Bdd x = corvane::ithvar(0), y = corvane::ithvar(1);
  Pairing p;
  const std::vector<std::pair<int, std::function<void()>>> failures = {
      {BDD_ERR_ILLBDD, [] { Bdd bad(bdd_getallocnum()); }},
      {BDD_ERR_ILLBDD, [&] { (x & y).high().high().var(); }},
      {BDD_ERR_UNKNOWN_VAR, [] { corvane::ithvar(6); }},
      {BDD_ERR_OP, [&] { x.apply(y, 10); }},
      {BDD_ERR_UNKNOWN_VAR, [&] { x.compose(y, -1); }},
      {BDD_ERR_REPLACE, [&] { (x & y).replace(Pairing({0}, {1})); }},
      {BDD_ERR_FORMAT, [] { std::istringstream in("1 2\n0 1 \n7 0 9 1\n"); Bdd::load(in); }},
      {BDD_ERR_FILE, [] { Bdd::load(std::string("/nonexistent/corvane.bdd")); }},
      {BDD_ERR_DECVARNUM, [&] { engine.set_varnum(3); }},
      {BDD_ERR_RUNNING, [] { Engine second; }},
      {BVEC_ERR_SIZE, [&] { BitVector(ds[0]) + BitVector(4, 1); }},
      {BVEC_ERR_SIZE, [&] { BitVector(ds[0]) <= BitVector(4, 1); }},
      {BVEC_ERR_DIVZERO, [&] { BitVector(ds[1]) % 0; }},
      {BVEC_ERR_SHIFT, [&] { BitVector(ds[1]) << -1; }},
      {BDD_ERR_RANGE, [&] { ds[1] == 5; }},
      {BDD_ERR_RANGE, [&] { ds[0].equals(ds[1]); }},
      {BDD_ERR_SETSIZE, [&] { both.pair_to(p, ds[1]); }},
      {BDD_ERR_UNKNOWN_VAR, [] { Domain(7).vars(); }},
      {BDD_ERR_RANGE, [&] { BitVector v(ds[0]); v[3]; }},
  };
  for (const auto &[code, fail] : failures) {
    try {
      fail();
      ADD_FAILURE() << "no exception for code " << code;
    } catch (const Error &e) {
      EXPECT_EQ(e.code(), code);
      EXPECT_STREQ(e.what(), bdd_errstring(code));
    }
    EXPECT_EQ(((x | y) - x).satcount(), 16.0) << "after code " << code;
  }

  // A callback's own exception comes out of allsat after the walk returned.
  int calls = 0;
  EXPECT_THROW((x | y).allsat([&](const Bdd::Assignment &) {
    if (++calls == 1) throw std::logic_error("stop");
  }), std::logic_error);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ((x | y).allsat().size(), 2u);
  EXPECT_EQ(live_nodes(), before);
}

// Exhausting a limited node table throws once, and after the limit is lifted
// the very next operation builds correct results.
TEST(CppApi, NodeLimitThrowsAndRecovers) {
  Engine engine(200, 100, 16);
  engine.set_max_nodes(engine.table_size() + 50);
  std::mt19937 rng(3);
  std::vector<Bdd> kept;
  int code = 0;
  for (int i = 0; i < 2000 && code == 0; i++) {
    try {
      kept.push_back(random_function(rng, 16) & random_function(rng, 16));
    } catch (const Error &e) {
      code = e.code();
    }
  }
  ASSERT_EQ(code, BDD_ERR_NODENUM);
  EXPECT_EQ(bdderrorcond, 0);
  kept.clear();
  engine.set_max_nodes(0);
  Bdd parity;
  for (int v = 0; v < 16; v++) parity ^= corvane::ithvar(v);
  EXPECT_EQ(parity.satcount(), 32768.0);
  EXPECT_EQ(parity.nodecount(), 31);
}

// The queries agree with the C interface and with each other: the paths of
// allsat add up to satcount, a satisfying cube implies the function, the
// printed forms are the engine's own.
TEST(CppApi, QueriesAgreeWithTheCInterface) {
  Engine engine(1000, 1000, 8);
  std::mt19937 rng(5);
  for (int round = 0; round < 40; round++) {
    Bdd f = random_function(rng, 8) | random_function(rng, 8);
    double paths = 0;
    for (const Bdd::Assignment &a : f.allsat()) {
      double n = 1;
      for (signed char v : a) n *= v < 0 ? 2 : 1;
      paths += n;
    }
    EXPECT_EQ(paths, f.satcount());
    EXPECT_EQ(f.pathcount(), bdd_pathcount(f.id()));
    EXPECT_EQ(f.nodecount(), bdd_nodecount(f.id()));
    if (!f.is_false()) {
      EXPECT_TRUE((f.satone() - f).is_false());
      EXPECT_TRUE((f.satoneset(VarSet{0, 7}, true) - f).is_false());
      EXPECT_EQ(f.fullsatone().nodecount(), 8);
    }
    std::vector<int> profile = f.varprofile(), support = f.support().vars();
    int *vs = nullptr, n = 0;
    bdd_scanset(bdd_support(f.id()), &vs, &n);
    EXPECT_EQ(support, std::vector<int>(vs, vs + n));
    free(vs);
    for (int v = 0; v < 8; v++)
      EXPECT_EQ(profile[v] > 0, std::count(support.begin(), support.end(), v) == 1);
    std::ostringstream printed;
    printed << f << f.dot_string();
    EXPECT_EQ(printed.str(), capture([&](FILE *out) {
                bdd_fprintset(out, f.id());
                bdd_fprintdot(out, f.id());
              }));
  }
}

// Stopping the engine frees the tables of pairings still alive; those
// pairings must then neither free them again nor touch a later engine's.
TEST(CppApi, PairingMayOutliveItsEngine) {
  std::optional<Pairing> stale;
  {
    Engine first(100, 100, 2);
    stale.emplace(std::vector<int>{0}, std::vector<int>{1});
  }
  Engine second(100, 100, 2);
  Pairing fresh({0}, {1});
  stale.reset();
  Bdd x = corvane::ithvar(0);
  EXPECT_EQ(x.replace(fresh), corvane::ithvar(1));
}

// Random expression trees built once with the operators and once through
// the C interface with explicit references: the same node every time.
struct Expr {
  int kind, var;
  std::unique_ptr<Expr> a, b, c;
};

std::unique_ptr<Expr> random_expr(std::mt19937 &rng, int depth, int vars) {
  auto e = std::make_unique<Expr>();
  e->var = (int)(rng() % vars);
  e->kind = depth == 0 ? 0 : (int)(rng() % 13);
  if (e->kind != 0) {
    e->a = random_expr(rng, depth - 1, vars);
    e->b = random_expr(rng, depth - 1, vars);
    e->c = random_expr(rng, depth - 1, vars);
  }
  return e;
}

Bdd build_cpp(const Expr &e, const Pairing &perm) {
  if (e.kind == 0) return e.var % 3 ? corvane::ithvar(e.var) : corvane::nithvar(e.var);
  Bdd a = build_cpp(*e.a, perm), b = build_cpp(*e.b, perm);
  VarSet vs{e.var, (e.var + 2) % 6};
  switch (e.kind) {
    case 1: return a & b;
    case 2: return a | b;
    case 3: return a ^ b;
    case 4: return a - b;
    case 5: return !a;
    case 6: return corvane::ite(a, b, build_cpp(*e.c, perm));
    case 7: return a.exist(vs) | b.forall(vs);
    case 8: return a.appex(b, OP_IMP, vs) ^ a.unique(vs);
    case 9: return a.relprod(b, vs);
    case 10: return a.restrict(corvane::cube(e.var, std::vector<int>{e.var, 5 - e.var})).compose(b, e.var);
    case 11: return a.replace(perm).constrain(b | corvane::ithvar(e.var));
    default: return a.simplify(b).appall(b, OP_XOR, vs);
  }
}

BDD build_c(const Expr &e, bddPair *perm) {
  if (e.kind == 0) return bdd_addref(e.var % 3 ? bdd_ithvar(e.var) : bdd_nithvar(e.var));
  BDD a = build_c(*e.a, perm), b = build_c(*e.b, perm), r, t, u;
  int vars[2] = {e.var, (e.var + 2) % 6};
  BDD vs = bdd_addref(bdd_makeset(vars, 2));
  switch (e.kind) {
    case 1: r = bdd_addref(bdd_and(a, b)); break;
    case 2: r = bdd_addref(bdd_or(a, b)); break;
    case 3: r = bdd_addref(bdd_xor(a, b)); break;
    case 4: r = bdd_addref(bdd_apply(a, b, OP_DIFF)); break;
    case 5: r = bdd_addref(bdd_not(a)); break;
    case 6: t = build_c(*e.c, perm); r = bdd_addref(bdd_ite(a, b, t)); bdd_delref(t); break;
    case 7:
      t = bdd_addref(bdd_exist(a, vs)); u = bdd_addref(bdd_forall(b, vs));
      r = bdd_addref(bdd_or(t, u)); bdd_delref(t); bdd_delref(u); break;
    case 8:
      t = bdd_addref(bdd_appex(a, b, OP_IMP, vs)); u = bdd_addref(bdd_unique(a, vs));
      r = bdd_addref(bdd_xor(t, u)); bdd_delref(t); bdd_delref(u); break;
    case 9: r = bdd_addref(bdd_appex(a, b, OP_AND, vs)); break;
    case 10: {
      int cv[2] = {e.var, 5 - e.var};
      t = bdd_addref(bdd_ibuildcube(e.var, 2, cv)); u = bdd_addref(bdd_restrict(a, t));
      r = bdd_addref(bdd_compose(u, b, e.var)); bdd_delref(t); bdd_delref(u); break;
    }
    case 11:
      t = bdd_addref(bdd_replace(a, perm)); u = bdd_addref(bdd_or(b, bdd_ithvar(e.var)));
      r = bdd_addref(bdd_constrain(t, u)); bdd_delref(t); bdd_delref(u); break;
    default:
      t = bdd_addref(bdd_simplify(a, b)); r = bdd_addref(bdd_appall(t, b, OP_XOR, vs)); bdd_delref(t); break;
  }
  for (BDD k : {vs, a, b}) bdd_delref(k);
  return r;
}

class CppDifferential : public ::testing::TestWithParam<bool> {};

TEST_P(CppDifferential, OperatorsBuildTheSameNodesAsTheCInterface) {
  Engine engine(100, 50, 6);  // tiny table: collections and growth mid-expression
  if (GetParam()) {
    engine.varblockall();
    engine.autoreorder(REORDER_SIFT);
  }
  Pairing perm({0, 1, 2, 3, 4, 5}, {3, 5, 0, 4, 1, 2});
  std::mt19937 rng(11);
  for (int round = 0; round < 150; round++) {
    auto e = random_expr(rng, 4, 6);
    Bdd viaCpp = build_cpp(*e, perm);
    BDD viaC = build_c(*e, perm.get());
    ASSERT_EQ(viaCpp.id(), viaC) << "round " << round;
    bdd_delref(viaC);
  }
}

INSTANTIATE_TEST_SUITE_P(Reordering, CppDifferential, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "AutoSift" : "FixedOrder"; });

// Random bit-vector expressions over three 4-bit domains, built with the
// operators (copies and moves included) and through the C interface: the
// same bit nodes every time, the same domain-level readings, and a
// collection afterwards leaves exactly the nodes live before.
BitVector vec_cpp(const Expr &e, const std::vector<Domain> &ds) {
  // Domains declared together interleave: domain k has the variables k, k+3, k+6, k+9.
  switch (e.kind == 0 ? e.var % 4 : -1) {
    case 0: return BitVector(ds[0]);
    case 1: return BitVector::var(4, 1, 3);
    case 2: return BitVector::vars(ds[2].vars());
    case 3: return BitVector(4, e.var);
  }
  BitVector a = vec_cpp(*e.a, ds), b = vec_cpp(*e.b, ds);
  switch (e.kind) {
    case 1: return a + b;
    case 2: return a - b;
    case 3: return a * (e.var - 3);
    case 4: return (a * b).coerce(4);
    case 5: return (a << e.var % 6) ^ (b >> e.var % 3);
    case 6: return a.shl(b, ds[2] == e.var) + b.shr(a);
    case 7: return a / (e.var % 5 + 1) + b % (e.var % 7 + 1);
    case 8: {
      auto [q, r] = a.divmod(b);
      return q ^ r;
    }
    case 9: return corvane::ite((a < b) | (ds[1] == e.var), a, b & ~a);
    case 10: return corvane::ite((a <= b) ^ (a > b.shl(1, ds[0] == 1)) ^ (a != b) ^ (a >= b), a, b);
    default: {
      BitVector c = a;
      std::vector<BitVector> pile{c, std::move(b)};
      pile.push_back(pile[0]);  // growth copies or moves the others
      c = pile[1];
      c = c;
      pile.erase(pile.begin());
      return std::move(pile.back()) | c;
    }
  }
}

Bvec vec_c(const Expr &e) {
  if (e.kind == 0) return e.var % 4 < 3 ? bvec_varfdd(e.var % 4) : bvec_con(4, e.var);
  Bvec a = vec_c(*e.a), b = vec_c(*e.b), r, t, u, q = {0, nullptr}, m = {0, nullptr};
  BDD c, d;
  switch (e.kind) {
    case 1: r = bvec_add(a, b); break;
    case 2: r = bvec_sub(a, b); break;
    case 3: r = bvec_mulfixed(a, e.var - 3); break;
    case 4: t = bvec_mul(a, b); r = bvec_coerce(4, t); bvec_free(t); break;
    case 5:
      t = bvec_shlfixed(a, e.var % 6, bddfalse); u = bvec_shrfixed(b, e.var % 3, bddfalse);
      r = bvec_map2(t, u, bdd_xor); bvec_free(t); bvec_free(u); break;
    case 6:
      c = bdd_addref(fdd_ithvar(2, e.var)); t = bvec_shl(a, b, c); u = bvec_shr(b, a, bddfalse);
      r = bvec_add(t, u); bdd_delref(c); bvec_free(t); bvec_free(u); break;
    case 7:
      bvec_divfixed(a, e.var % 5 + 1, &q, nullptr); bvec_divfixed(b, e.var % 7 + 1, nullptr, &m);
      r = bvec_add(q, m); bvec_free(q); bvec_free(m); break;
    case 8: bvec_div(a, b, &q, &m); r = bvec_map2(q, m, bdd_xor); bvec_free(q); bvec_free(m); break;
    case 9:
      c = bdd_addref(bvec_lth(a, b)); d = bdd_addref(bdd_or(c, fdd_ithvar(1, e.var)));
      t = bvec_map1(a, bdd_not); u = bvec_map2(b, t, bdd_and); r = bvec_ite(d, a, u);
      bdd_delref(c); bdd_delref(d); bvec_free(t); bvec_free(u); break;
    case 10: {
      BDD one = bdd_addref(fdd_ithvar(0, 1)), x;
      t = bvec_shlfixed(b, 1, one);
      c = bdd_addref(bvec_lte(a, b)); d = bdd_addref(bvec_gth(a, t));
      x = bdd_addref(bdd_xor(c, d)); bdd_delref(c); bdd_delref(d);
      c = bdd_addref(bvec_neq(a, b)); d = bdd_addref(bdd_xor(x, c)); bdd_delref(x); bdd_delref(c);
      c = bdd_addref(bvec_gte(a, b)); x = bdd_addref(bdd_xor(d, c)); bdd_delref(c); bdd_delref(d);
      r = bvec_ite(x, a, b);
      bdd_delref(x); bdd_delref(one); bvec_free(t); break;
    }
    default: r = bvec_map2(a, b, bdd_or); break;
  }
  for (Bvec dead : {a, b}) bvec_free(dead);
  return r;
}

TEST(CppApi, BitVectorsAndDomainsBuildTheSameNodesAsTheCInterface) {
  Engine engine(200, 100);  // tiny table: collections and growth mid-expression
  const std::vector<Domain> ds = Domain::extend({16, 16, 16});
  const int before = live_nodes();
  {
    Pairing swap = Domain::pairing({{ds[0], ds[1]}, {ds[1], ds[0]}});
    bddPair *cswap = bdd_newpair();
    int from[2] = {0, 1}, to[2] = {1, 0}, first2[2] = {0, 1};
    fdd_setpairs(cswap, from, to, 2);
    std::mt19937 rng(13);
    for (int round = 0; round < 120; round++) {
      auto e = random_expr(rng, 3, 16);
      BitVector viaCpp = vec_cpp(*e, ds);
      Bvec viaC = vec_c(*e);
      ASSERT_EQ(viaCpp.size(), viaC.nbits) << "round " << round;
      for (int i = 0; i < viaC.nbits; i++) ASSERT_EQ(viaCpp[i].id(), viaC.bits[i]) << "round " << round;
      EXPECT_EQ(viaCpp.is_const(), bvec_isconst(viaC) != 0);
      EXPECT_EQ(viaCpp.value(), (unsigned)bvec_val(viaC));

      // Readings in domain terms of "the result equals domain 2"
      Bdd f = (viaCpp == BitVector(ds[2])).replace(swap);
      Bvec d2 = bvec_varfdd(2);
      BDD eq = bdd_addref(bvec_equ(viaC, d2));
      BDD g = bdd_addref(bdd_replace(eq, cswap));
      ASSERT_EQ(f.id(), g);
      EXPECT_EQ(f.exist(Domain::set({ds[0], ds[1]})).id(), bdd_exist(g, fdd_makeset(first2, 2)));
      EXPECT_EQ(ds[2].scan(f), fdd_scanvar(g, 2));
      int *cin = nullptr, nin = 0;
      fdd_scanset(bdd_support(g), &cin, &nin);
      std::vector<int> in;
      for (Domain d : Domain::in_set(f.support())) in.push_back(d.index());
      EXPECT_EQ(in, std::vector<int>(cin, cin + nin));
      free(cin);
      std::vector<int> all = Domain::scan_all(f);
      int *call = fdd_scanallvar(g);
      EXPECT_EQ(all, call ? std::vector<int>(call, call + 3) : std::vector<int>());
      free(call);
      std::ostringstream printed;
      printed << corvane::in_domains(f);
      EXPECT_EQ(printed.str(), capture([g](FILE *out) { fdd_fprintset(out, g); }));
      for (BDD k : {eq, g}) bdd_delref(k);
      for (Bvec k : {d2, viaC}) bvec_free(k);
    }
    bdd_freepair(cswap);
  }
  EXPECT_EQ(live_nodes(), before);
}

}  // namespace
