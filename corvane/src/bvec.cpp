/* Bit vectors: arrays of BDDs with ripple-carry arithmetic, shifts,
 * restoring division and comparisons, all built from the Boolean
 * operators.  Every BDD a vector stores carries one reference of that
 * vector; intermediate BDDs are referenced from the moment an operator
 * returns them until they are no longer needed, since any later operator
 * may collect. */
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include "bvec.h"
#include "bvec_internal.h"
#include "fdd.h"
#include "kernel_internal.h"
#include "operators.h"

/* Allocation failure injection for tests, as bddcache_failafter. */
int bddbvec_failafter = -1;

static const Bvec EMPTY = {0, NULL};

/* ---- helpers ---------------------------------------------------------------- */

/* A vector of n > 0 bits, contents unset; the empty vector after raising
 * BDD_ERR_MEMORY. */
static Bvec vec_new(int n) {
  BDD *bits = NULL;
  if (bddbvec_failafter < 0 || bddbvec_failafter-- != 0)
    bits = (BDD *)malloc(sizeof(BDD) * (size_t)n);
  if (bits == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return EMPTY;
  }
  Bvec v = {n, bits};
  return v;
}

/* n bits of the constant val (no references needed). */
static Bvec vec_const(int n, BDD val) {
  if (n == 0) return EMPTY;
  Bvec v = vec_new(n);
  for (int i = 0; i < v.nbits; i++) v.bits[i] = val;
  return v;
}

/* A failed operator returns 0 or a negative code; the vector keeps the
 * false BDD for it so that the code is never taken for a node. */
static inline BDD keep(BDD r) {
  if (r < 0) r = 0;
  bdd_addref(r);
  return r;
}
static inline void drop(BDD r) { bdd_delref(r); }

static void vec_release(Bvec v) {
  for (int i = 0; i < v.nbits; i++) drop(v.bits[i]);
  free(v.bits);
}

/* True when allocating a vector of n > 0 bits failed. */
static inline bool lost(const Bvec &v, int n) { return n > 0 && v.bits == NULL; }

/* Refuses a malformed vector record; 0 when its array can be read. */
static int vec_shape(const Bvec &v) {
  if (v.nbits < 0 || (v.nbits > 0 && v.bits == NULL)) return bdd_error(BVEC_ERR_SIZE);
  return 0;
}

/* vec_shape, and every bit a live node of a running engine. */
static int vec_check(const Bvec &v) {
  int e = vec_shape(v);
  for (int i = 0; e == 0 && i < v.nbits; i++) e = bdd_checkroot(v.bits[i]);
  return e;
}

static int vec_check2(const Bvec &a, const Bvec &b) {
  int e = vec_check(a);
  return e < 0 ? e : vec_check(b);
}

/* The first min(n, v.nbits) bits of v, referenced, then zeros. */
static Bvec coerce_core(int n, const Bvec &v) {
  if (n == 0) return EMPTY;
  Bvec res = vec_new(n);
  for (int i = 0; i < res.nbits; i++) res.bits[i] = i < v.nbits ? keep(v.bits[i]) : 0;
  return res;
}

/* e shifted by pos >= 0 bits (left when left is set), vacated bits c;
 * every stored bit referenced. */
static Bvec shift_core(const Bvec &e, int pos, BDD c, bool left) {
  const int n = e.nbits;
  Bvec res = vec_new(n);
  for (int i = 0; i < res.nbits; i++) {
    /* pos may be near INT_MAX: compare before adding */
    if (left) res.bits[i] = keep(i >= pos ? e.bits[i - pos] : c);
    else res.bits[i] = keep(pos < n - i ? e.bits[i + pos] : c);
  }
  return res;
}

/* l + r, or l - r when sub is set, of one width n > 0.  The carry out of
 * the top bit is never needed, so it is not built. */
static Bvec addsub(const Bvec &l, const Bvec &r, bool sub) {
  const int n = l.nbits;
  Bvec res = vec_new(n);
  if (res.bits == NULL) return res;
  BDD c = 0;
  for (int i = 0; i < n; i++) {
    const BDD a = l.bits[i], b = r.bits[i];
    BDD x = keep(bdd_apply(a, b, OP_XOR));
    res.bits[i] = keep(bdd_apply(x, c, OP_XOR));
    drop(x);
    if (i == n - 1) break;
    BDD t1, t2, t3;
    if (!sub) {
      /* carry: a & b | c & (a | b) */
      t1 = keep(bdd_apply(a, b, OP_AND));
      t2 = keep(bdd_apply(a, b, OP_OR));
      t3 = keep(bdd_apply(c, t2, OP_AND));
    } else {
      /* borrow: !a & (b | c) | a & b & c */
      t2 = keep(bdd_apply(b, c, OP_OR));
      t1 = keep(bdd_apply(a, t2, OP_LESS));
      drop(t2);
      t2 = keep(bdd_apply(a, b, OP_AND));
      t3 = keep(bdd_apply(t2, c, OP_AND));
    }
    BDD nc = keep(bdd_apply(t1, t3, OP_OR));
    drop(t1);
    drop(t2);
    drop(t3);
    drop(c);
    c = nc;
  }
  drop(c);
  return res;
}

/* In place: v[m] = ite(f, t[m], v[m]) for every bit. */
static void select_into(Bvec &v, BDD f, const Bvec &t) {
  for (int m = 0; m < v.nbits; m++) {
    BDD nb = keep(bdd_ite(f, t.bits[m], v.bits[m]));
    drop(v.bits[m]);
    v.bits[m] = nb;
  }
}

/* In place, one position towards the top (up) or the bottom; the bit
 * shifted out is released and a 0 comes in. */
static void shift_one(Bvec &v, bool up) {
  const int n = v.nbits;
  if (up) {
    drop(v.bits[n - 1]);
    memmove(v.bits + 1, v.bits, sizeof(BDD) * (size_t)(n - 1));
    v.bits[0] = 0;
  } else {
    drop(v.bits[0]);
    memmove(v.bits, v.bits + 1, sizeof(BDD) * (size_t)(n - 1));
    v.bits[n - 1] = 0;
  }
}

enum { CMP_LTH, CMP_LTE, CMP_EQU };

/* l < r, l <= r or l = r over one width, from bit 0 upwards so that the
 * top bit decides last.  The result is referenced. */
static BDD compare_core(const Bvec &l, const Bvec &r, int kind) {
  BDD p = kind == CMP_LTH ? 0 : 1;
  for (int i = 0; i < l.nbits; i++) {
    const BDD a = l.bits[i], b = r.bits[i];
    BDD eq = keep(bdd_apply(a, b, OP_BIIMP));
    BDD np;
    if (kind == CMP_EQU) {
      np = keep(bdd_apply(eq, p, OP_AND));
    } else {
      BDD less = keep(bdd_apply(a, b, OP_LESS));
      BDD t = keep(bdd_apply(eq, p, OP_AND));
      np = keep(bdd_apply(less, t, OP_OR));
      drop(less);
      drop(t);
    }
    drop(eq);
    drop(p);
    p = np;
  }
  return p;
}

/* Restoring division of l by r, one width k > 0, in 2k-bit registers so
 * that no partial remainder loses a bit: round n compares r * 2^(k-n)
 * with what is left of l and subtracts it where it fits.  Where r is 0
 * every round subtracts nothing and sets its quotient bit.  Returns 0 or
 * BDD_ERR_MEMORY (already raised, nothing kept). */
static int div_core(const Bvec &l, const Bvec &r, Bvec *quot, Bvec *rest) {
  const int k = l.nbits, w = 2 * k;
  Bvec remv = coerce_core(w, l);
  Bvec div = vec_new(w);
  Bvec q = vec_new(k);
  if (lost(remv, w) || lost(div, w) || lost(q, k)) {
    vec_release(remv);
    free(div.bits);
    free(q.bits);
    return BDD_ERR_MEMORY;
  }
  for (int i = 0; i < k; i++) {
    div.bits[i] = 0;
    div.bits[k + i] = keep(r.bits[i]);
    q.bits[i] = 0;
  }
  for (int n = 1; n <= k; n++) {
    shift_one(div, false);
    BDD le = compare_core(div, remv, CMP_LTE);
    Bvec d = addsub(remv, div, true);
    if (d.bits == NULL) {
      drop(le);
      vec_release(remv);
      vec_release(div);
      vec_release(q);
      return BDD_ERR_MEMORY;
    }
    select_into(remv, le, d);
    q.bits[k - n] = le;
    vec_release(d);
  }
  Bvec rm = coerce_core(k, remv);
  vec_release(remv);
  vec_release(div);
  if (rm.bits == NULL) {
    vec_release(q);
    return BDD_ERR_MEMORY;
  }
  *quot = q;
  *rest = rm;
  return 0;
}

/* Hands a division result to the caller, or releases it when the caller
 * does not want it. */
static void deliver(Bvec *out, Bvec v) {
  if (out != NULL) *out = v;
  else vec_release(v);
}

extern "C" {

/* ---- construction ------------------------------------------------------------ */

Bvec bvec_true(int nbits) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  return vec_const(nbits, 1);
}

Bvec bvec_false(int nbits) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  return vec_const(nbits, 0);
}

Bvec bvec_con(int nbits, int val) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  Bvec v = vec_const(nbits, 0);
  for (int i = 0; i < v.nbits; i++) v.bits[i] = i < 32 ? ((unsigned)val >> i) & 1u : val < 0;
  return v;
}

Bvec bvec_var(int nbits, int offset, int step) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  if (nbits > 0 && !bddrunning) return bdd_error(BDD_ERR_RUNNING), EMPTY;
  for (int i = 0; i < nbits; i++) {
    long long var = offset + (long long)i * step;
    if (var < 0 || var >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR), EMPTY;
  }
  Bvec v = vec_const(nbits, 0);
  for (int i = 0; i < v.nbits; i++) v.bits[i] = bdd_ithvar(offset + i * step);
  return v;
}

Bvec bvec_varvec(int nbits, int *var) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  if (nbits > 0 && !bddrunning) return bdd_error(BDD_ERR_RUNNING), EMPTY;
  if (nbits > 0 && var == NULL) return bdd_error(BDD_ERR_UNKNOWN_VAR), EMPTY;
  for (int i = 0; i < nbits; i++)
    if (var[i] < 0 || var[i] >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR), EMPTY;
  Bvec v = vec_const(nbits, 0);
  for (int i = 0; i < v.nbits; i++) v.bits[i] = bdd_ithvar(var[i]);
  return v;
}

Bvec bvec_varfdd(int var) {
  int n = fdd_varnum(var);
  if (n < 0) return EMPTY;
  int *vars = fdd_vars(var);
  if (vars == NULL) return EMPTY;
  return bvec_varvec(n, vars);
}

Bvec bvec_copy(Bvec v) {
  if (vec_check(v) < 0) return EMPTY;
  return coerce_core(v.nbits, v);
}

Bvec bvec_coerce(int nbits, Bvec v) {
  if (nbits < 0) return bdd_error(BDD_ERR_SIZE), EMPTY;
  if (vec_check(v) < 0) return EMPTY;
  return coerce_core(nbits, v);
}

int bvec_isconst(Bvec v) {
  if (vec_shape(v) < 0) return 0;
  for (int i = 0; i < v.nbits; i++)
    if (v.bits[i] != 0 && v.bits[i] != 1) return 0;
  return 1;
}

int bvec_val(Bvec v) {
  if (vec_shape(v) < 0) return 0;
  unsigned val = 0;
  for (int i = v.nbits - 1; i >= 0; i--) {
    if (v.bits[i] != 0 && v.bits[i] != 1) return 0;
    val = val * 2u + (unsigned)v.bits[i];
  }
  return (int)val;
}

/* ---- references -------------------------------------------------------------- */

void bvec_free(Bvec v) {
  if (vec_shape(v) < 0) return;
  vec_release(v);
}

Bvec bvec_addref(Bvec v) {
  if (vec_shape(v) < 0) return v;
  for (int i = 0; i < v.nbits; i++) bdd_addref(v.bits[i]);
  return v;
}

Bvec bvec_delref(Bvec v) {
  if (vec_shape(v) < 0) return v;
  for (int i = 0; i < v.nbits; i++) bdd_delref(v.bits[i]);
  return v;
}

/* ---- maps and selection ------------------------------------------------------ */

Bvec bvec_map1(Bvec a, BDD (*fun)(BDD)) {
  if (vec_check(a) < 0) return EMPTY;
  if (fun == NULL) return bdd_error(BDD_ERR_OP), EMPTY;
  Bvec res = vec_const(a.nbits, 0);
  for (int i = 0; i < res.nbits; i++) res.bits[i] = keep(fun(a.bits[i]));
  return res;
}

Bvec bvec_map2(Bvec a, Bvec b, BDD (*fun)(BDD, BDD)) {
  if (vec_check2(a, b) < 0) return EMPTY;
  if (a.nbits != b.nbits) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  if (fun == NULL) return bdd_error(BDD_ERR_OP), EMPTY;
  Bvec res = vec_const(a.nbits, 0);
  for (int i = 0; i < res.nbits; i++) res.bits[i] = keep(fun(a.bits[i], b.bits[i]));
  return res;
}

Bvec bvec_map3(Bvec a, Bvec b, Bvec c, BDD (*fun)(BDD, BDD, BDD)) {
  if (vec_check2(a, b) < 0 || vec_check(c) < 0) return EMPTY;
  if (a.nbits != b.nbits || a.nbits != c.nbits) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  if (fun == NULL) return bdd_error(BDD_ERR_OP), EMPTY;
  Bvec res = vec_const(a.nbits, 0);
  for (int i = 0; i < res.nbits; i++) res.bits[i] = keep(fun(a.bits[i], b.bits[i], c.bits[i]));
  return res;
}

Bvec bvec_ite(BDD a, Bvec l, Bvec r) {
  if (bdd_checkroot(a) < 0 || vec_check2(l, r) < 0) return EMPTY;
  if (l.nbits != r.nbits) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  Bvec res = vec_const(l.nbits, 0);
  for (int i = 0; i < res.nbits; i++) res.bits[i] = keep(bdd_ite(a, l.bits[i], r.bits[i]));
  return res;
}

/* ---- arithmetic ---------------------------------------------------------------- */

Bvec bvec_add(Bvec l, Bvec r) {
  if (vec_check2(l, r) < 0 || l.nbits == 0 || r.nbits == 0) return EMPTY;
  if (l.nbits != r.nbits) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  return addsub(l, r, false);
}

Bvec bvec_sub(Bvec l, Bvec r) {
  if (vec_check2(l, r) < 0 || l.nbits == 0 || r.nbits == 0) return EMPTY;
  if (l.nbits != r.nbits) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  return addsub(l, r, true);
}

/* The two registers of a shift-and-add product of width w: the sum, all
 * zeros, and the multiplicand widened to w.  False (nothing kept) when
 * either cannot be had. */
static bool start_product(int w, const Bvec &factor, Bvec *res, Bvec *addend) {
  *res = vec_const(w, 0);
  *addend = coerce_core(w, factor);
  if (!lost(*res, w) && !lost(*addend, w)) return true;
  free(res->bits);
  vec_release(*addend);
  return false;
}

/* Shift-and-add over the bits of c read modulo 2^width, so a negative
 * factor gives the two's-complement product instead of recursing on a
 * shift that never reaches 0. */
Bvec bvec_mulfixed(Bvec e, int c) {
  if (vec_check(e) < 0 || e.nbits == 0) return EMPTY;
  const int n = e.nbits;
  Bvec res, addend;
  if (!start_product(n, e, &res, &addend)) return EMPTY;
  for (int i = 0; i < n; i++) {
    /* bit i of c sign-extended; none left means the sum is complete */
    if (c >= 0 && (i >= 31 || (c >> i) == 0)) break;
    if ((c >> (i < 31 ? i : 31)) & 1) {
      Bvec sum = addsub(res, addend, false);
      vec_release(res);
      res = sum;
      if (res.bits == NULL) break;
    }
    if (i + 1 < n) shift_one(addend, true);
  }
  vec_release(addend);
  return res;
}

Bvec bvec_mul(Bvec l, Bvec r) {
  if (vec_check2(l, r) < 0 || l.nbits == 0 || r.nbits == 0) return EMPTY;
  if ((long long)l.nbits + r.nbits > INT_MAX) return bdd_error(BVEC_ERR_SIZE), EMPTY;
  const int w = l.nbits + r.nbits;
  Bvec res, addend;
  if (!start_product(w, l, &res, &addend)) return EMPTY;
  for (int n = 0; n < r.nbits; n++) {
    Bvec added = addsub(res, addend, false);
    if (added.bits == NULL) {
      vec_release(res);
      res = EMPTY;
      break;
    }
    select_into(res, r.bits[n], added);
    vec_release(added);
    shift_one(addend, true);
  }
  vec_release(addend);
  return res;
}

/* ---- shifts ----------------------------------------------------------------------- */

Bvec bvec_shlfixed(Bvec e, int pos, BDD c) {
  if (pos < 0) return bdd_error(BVEC_ERR_SHIFT), EMPTY;
  if (bdd_checkroot(c) < 0 || vec_check(e) < 0 || e.nbits == 0) return EMPTY;
  return shift_core(e, pos, c, true);
}

Bvec bvec_shrfixed(Bvec e, int pos, BDD c) {
  if (pos < 0) return bdd_error(BVEC_ERR_SHIFT), EMPTY;
  if (bdd_checkroot(c) < 0 || vec_check(e) < 0 || e.nbits == 0) return EMPTY;
  return shift_core(e, pos, c, false);
}

/* A barrel shifter: bit j of the amount selects a shift by 2^j.  The bits
 * worth the width or more force every bit to c, whatever the others say;
 * reading the amount at its own width lets every amount it can hold take
 * effect, where comparing it with counts of the same width would wrap. */
static Bvec shift_var(const Bvec &l, const Bvec &r, BDD c, bool left) {
  const int w = l.nbits;
  Bvec cur = coerce_core(w, l);
  if (cur.bits == NULL) return EMPTY;
  BDD toobig = 0;
  for (int j = 0; j < r.nbits; j++) {
    if (j >= 31 || (1 << j) >= w) {
      BDD t = keep(bdd_apply(toobig, r.bits[j], OP_OR));
      drop(toobig);
      toobig = t;
      continue;
    }
    Bvec shifted = shift_core(cur, 1 << j, c, left);
    if (shifted.bits == NULL) {
      vec_release(cur);
      drop(toobig);
      return EMPTY;
    }
    select_into(cur, r.bits[j], shifted);
    vec_release(shifted);
  }
  for (int m = 0; toobig != 0 && m < w; m++) {
    BDD nb = keep(bdd_ite(toobig, c, cur.bits[m]));
    drop(cur.bits[m]);
    cur.bits[m] = nb;
  }
  drop(toobig);
  return cur;
}

/* The checked entry of both variable shifts.  c may have no reference of
 * the caller's, and every operator the shifter calls may collect. */
static Bvec shift_var_entry(const Bvec &l, const Bvec &r, BDD c, bool left) {
  if (bdd_checkroot(c) < 0 || vec_check2(l, r) < 0 || l.nbits == 0 || r.nbits == 0) return EMPTY;
  bdd_addref(c);
  Bvec res = shift_var(l, r, c, left);
  bdd_delref(c);
  return res;
}

Bvec bvec_shl(Bvec l, Bvec r, BDD c) { return shift_var_entry(l, r, c, true); }

Bvec bvec_shr(Bvec l, Bvec r, BDD c) { return shift_var_entry(l, r, c, false); }

/* ---- division ---------------------------------------------------------------------- */

int bvec_divfixed(Bvec e, int c, Bvec *res, Bvec *rem) {
  if (c <= 0) return bdd_error(BVEC_ERR_DIVZERO);
  int err = vec_check(e);
  if (err < 0) return err;
  if (e.nbits == 0) return bdd_error(BVEC_ERR_SIZE);
  const int n = e.nbits;
  Bvec q, r;
  if (n < 31 && (c >> n) != 0) {
    /* a divisor the width cannot hold exceeds every dividend */
    q = vec_const(n, 0);
    r = coerce_core(n, e);
    if (lost(q, n) || lost(r, n)) {
      free(q.bits);
      vec_release(r);
      return BDD_ERR_MEMORY;
    }
  } else {
    Bvec d = bvec_con(n, c);
    if (d.bits == NULL) return BDD_ERR_MEMORY;
    err = div_core(e, d, &q, &r);
    free(d.bits);
    if (err < 0) return err;
  }
  deliver(res, q);
  deliver(rem, r);
  return 0;
}

int bvec_div(Bvec l, Bvec r, Bvec *res, Bvec *rem) {
  int err = vec_check2(l, r);
  if (err < 0) return err;
  if (l.nbits == 0 || r.nbits == 0 || l.nbits != r.nbits) return bdd_error(BVEC_ERR_SIZE);
  if ((res != NULL && vec_shape(*res) < 0) || (rem != NULL && vec_shape(*rem) < 0))
    return BVEC_ERR_SIZE;
  Bvec q, m;
  err = div_core(l, r, &q, &m);
  if (err < 0) return err;
  if (res != NULL) vec_release(*res);
  if (rem != NULL) vec_release(*rem);
  deliver(res, q);
  deliver(rem, m);
  return 0;
}

/* ---- comparisons ---------------------------------------------------------------------- */

/* The comparison of kind, or its negation; fixed results for an empty
 * operand and for differing widths, false after any other refusal. */
static BDD compare(const Bvec &l, const Bvec &r, int kind, bool negate) {
  if (vec_check2(l, r) < 0) return 0;
  BDD fixed = -1;
  if (l.nbits == 0 || r.nbits == 0) {
    fixed = 0;
  } else if (l.nbits != r.nbits) {
    bdd_error(BVEC_ERR_SIZE);
    fixed = kind == CMP_LTH ? 0 : 1;
  }
  if (fixed >= 0) return negate ? 1 - fixed : fixed;
  BDD p = compare_core(l, r, kind);
  if (!negate) {
    drop(p);
    return p;
  }
  BDD q = bdd_not(p);
  drop(p);
  return q < 0 ? 0 : q;
}

BDD bvec_lth(Bvec l, Bvec r) { return compare(l, r, CMP_LTH, false); }
BDD bvec_lte(Bvec l, Bvec r) { return compare(l, r, CMP_LTE, false); }
BDD bvec_gth(Bvec l, Bvec r) { return compare(l, r, CMP_LTE, true); }
BDD bvec_gte(Bvec l, Bvec r) { return compare(l, r, CMP_LTH, true); }
BDD bvec_equ(Bvec l, Bvec r) { return compare(l, r, CMP_EQU, false); }
BDD bvec_neq(Bvec l, Bvec r) { return compare(l, r, CMP_EQU, true); }

}  // extern "C"
