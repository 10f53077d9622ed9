// Truth-table oracle for differential tests of the operators.
//
// A truth table over n <= 10 variables has 2^n entries; entry a is the
// value under the assignment in which variable v has the value of bit v
// of a.  Tables are indexed by VARIABLE number, never by level, so they
// stay valid whatever the current variable order is.
#ifndef CORVANE_TESTS_ORACLE_H
#define CORVANE_TESTS_ORACLE_H

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include <corvane/corvane.h>

namespace oracle {

constexpr int kMaxVars = 10;

struct TT {
  int n = 0;
  std::bitset<(1u << kMaxVars)> bits;

  unsigned size() const { return 1u << n; }
  bool operator[](unsigned a) const { return bits[a]; }
  bool operator==(const TT &o) const { return n == o.n && bits == o.bits; }
  bool operator!=(const TT &o) const { return !(*this == o); }
  unsigned count() const { return (unsigned)bits.count(); }
};

inline TT tt_const(int n, bool v) {
  TT t;
  t.n = n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = v;
  return t;
}

inline TT tt_var(int n, int var) {
  TT t;
  t.n = n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = (a >> var) & 1u;
  return t;
}

// The ten binary operators, by code 0..9, from their defining formulas.
inline bool op_eval(int op, bool l, bool r) {
  switch (op) {
    case 0: return l && r;
    case 1: return l != r;
    case 2: return l || r;
    case 3: return !(l && r);
    case 4: return !(l || r);
    case 5: return !l || r;
    case 6: return l == r;
    case 7: return l && !r;
    case 8: return !l && r;
    case 9: return l || !r;
  }
  return false;
}

inline TT tt_apply(const TT &l, const TT &r, int op) {
  TT t;
  t.n = l.n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = op_eval(op, l[a], r[a]);
  return t;
}

inline TT tt_not(const TT &f) {
  TT t;
  t.n = f.n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = !f[a];
  return t;
}

inline TT tt_ite(const TT &f, const TT &g, const TT &h) {
  TT t;
  t.n = f.n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = f[a] ? g[a] : h[a];
  return t;
}

// f with variable var fixed to val (still a table over n variables).
inline TT tt_cofactor(const TT &f, int var, bool val) {
  TT t;
  t.n = f.n;
  for (unsigned a = 0; a < t.size(); a++) {
    unsigned b = val ? (a | (1u << var)) : (a & ~(1u << var));
    t.bits[a] = f[b];
  }
  return t;
}

// Quantification over a list of variables; kind 0 exists, 1 forall,
// 2 unique (exclusive or of the cofactors).
inline TT tt_quant(TT f, const std::vector<int> &vars, int kind) {
  for (int v : vars) {
    TT c0 = tt_cofactor(f, v, false), c1 = tt_cofactor(f, v, true);
    f = tt_apply(c0, c1, kind == 0 ? 2 : kind == 1 ? 0 : 1);
  }
  return f;
}

// f with every variable v replaced by the function subst[v].
inline TT tt_compose_all(const TT &f, const std::vector<TT> &subst) {
  TT t;
  t.n = f.n;
  for (unsigned a = 0; a < t.size(); a++) {
    unsigned b = 0;
    for (int v = 0; v < f.n; v++)
      if (subst[v][a]) b |= 1u << v;
    t.bits[a] = f[b];
  }
  return t;
}

inline bool tt_implies(const TT &f, const TT &g) { return (f.bits & ~g.bits).none(); }

// Variables on which f depends.
inline std::vector<int> tt_support(const TT &f) {
  std::vector<int> s;
  for (int v = 0; v < f.n; v++)
    if (tt_cofactor(f, v, false) != tt_cofactor(f, v, true)) s.push_back(v);
  return s;
}

inline TT tt_random(std::mt19937 &rng, int n, double density = 0.5) {
  TT t;
  t.n = n;
  std::bernoulli_distribution coin(density);
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = coin(rng);
  return t;
}

// Evaluate BDD r under assignment a by walking it with the public
// accessors (independent of every operator).
inline bool bdd_eval(BDD r, unsigned a) {
  while (r > 1) r = ((a >> bdd_var(r)) & 1u) ? bdd_high(r) : bdd_low(r);
  return r == 1;
}

inline TT tt_of(BDD r, int n) {
  TT t;
  t.n = n;
  for (unsigned a = 0; a < t.size(); a++) t.bits[a] = bdd_eval(r, a);
  return t;
}

namespace detail {
// Builds the function of t with the variables above level lev fixed as in
// val, straight from nodes.  The result carries one reference.
inline BDD build(const TT &t, int lev, unsigned val) {
  int nv = bdd_varnum();
  // Variables outside the table do not matter.
  while (lev < nv && bddlevel2var[lev] >= t.n) lev++;
  if (lev >= nv) return t[val] ? bddtrue : bddfalse;
  int var = bddlevel2var[lev];
  BDD lo = bdd_addref(build(t, lev + 1, val));
  BDD hi = bdd_addref(build(t, lev + 1, val | (1u << var)));
  BDD r = bdd_makenode((unsigned)lev, lo, hi);
  bdd_addref(r);
  for (BDD x : {lo, hi}) bdd_delref(x);
  return r;
}
}  // namespace detail

// The BDD of table t built node by node (no operator involved), in the
// current variable order.  The result carries one reference.
inline BDD bdd_of(const TT &t) { return detail::build(t, 0, 0); }

// Random formula over n variables, built with the operators under test
// and, in parallel, as a truth table.  The BDD carries one reference.
struct Formula {
  BDD bdd;
  TT tt;
};

inline Formula random_formula(std::mt19937 &rng, int n, int depth) {
  std::uniform_int_distribution<int> pick(0, 99);
  if (depth <= 0 || pick(rng) < 15) {
    int k = pick(rng);
    if (k < 4) {
      bool v = k & 1;
      return {v ? bddtrue : bddfalse, tt_const(n, v)};
    }
    int var = pick(rng) % n;
    if (k & 1) return {bdd_nithvar(var), tt_not(tt_var(n, var))};
    return {bdd_ithvar(var), tt_var(n, var)};
  }
  int k = pick(rng);
  if (k < 10) {
    Formula a = random_formula(rng, n, depth - 1);
    BDD r = bdd_addref(bdd_not(a.bdd));
    bdd_delref(a.bdd);
    return {r, tt_not(a.tt)};
  }
  if (k < 20) {
    Formula a = random_formula(rng, n, depth - 1);
    Formula b = random_formula(rng, n, depth - 1);
    Formula c = random_formula(rng, n, depth - 1);
    BDD r = bdd_addref(bdd_ite(a.bdd, b.bdd, c.bdd));
    for (BDD x : {a.bdd, b.bdd, c.bdd}) bdd_delref(x);
    return {r, tt_ite(a.tt, b.tt, c.tt)};
  }
  int op = pick(rng) % 10;
  Formula a = random_formula(rng, n, depth - 1);
  Formula b = random_formula(rng, n, depth - 1);
  BDD r = bdd_addref(bdd_apply(a.bdd, b.bdd, op));
  for (BDD x : {a.bdd, b.bdd}) bdd_delref(x);
  return {r, tt_apply(a.tt, b.tt, op)};
}

// A random subset of 0..n-1, in random order; each variable with
// probability p.
inline std::vector<int> random_vars(std::mt19937 &rng, int n, double p) {
  std::vector<int> v;
  std::bernoulli_distribution coin(p);
  for (int i = 0; i < n; i++)
    if (coin(rng)) v.push_back(i);
  std::shuffle(v.begin(), v.end(), rng);
  return v;
}

// Node indices reachable from r (constants excluded), by plain walking.
inline void reachable(BDD r, std::set<BDD> &seen) {
  if (r < 2 || seen.count(r)) return;
  seen.insert(r);
  reachable(bdd_low(r), seen);
  reachable(bdd_high(r), seen);
}

// True when r is a cube: every node has exactly one non-false child and
// the path ends in true.  vars receives the literal variables, signs their
// polarity (1 positive).
inline bool is_cube(BDD r, std::vector<int> *vars = nullptr, std::vector<int> *signs = nullptr) {
  if (r == 0) return false;
  while (r > 1) {
    BDD lo = bdd_low(r), hi = bdd_high(r);
    if (lo != 0 && hi != 0) return false;
    if (vars) vars->push_back(bdd_var(r));
    if (signs) signs->push_back(hi != 0);
    r = hi != 0 ? hi : lo;
  }
  return r == 1;
}

}  // namespace oracle

#endif
