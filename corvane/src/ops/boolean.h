/* The Boolean recursions: conjunction, disjunction, the general apply,
 * negation and if-then-else.  apply.cpp runs them for its public entries;
 * the quantifiers, substitution and simplification call them from their
 * own recursions.  They are defined here, static, and so compiled into each
 * family file that includes them: within one file the compiler inlines
 * their terminal cases into the calling recursion (the relational product
 * tests for a constant operand before it calls the conjunction), which a
 * call into another file would lose.  For the same reason applyop, the
 * general apply's operator, is each such file's own. */
#ifndef CORVANE_OPS_BOOLEAN_H
#define CORVANE_OPS_BOOLEAN_H

#include "protocol.h"
#include "shannon.h"

/* The operator of the running general apply (and of the quantifiers'
 * combination of cofactors). */
[[maybe_unused]] static int applyop;

[[maybe_unused]] static const int oprres[10][4] = {
    {0, 0, 0, 1},  // and
    {0, 1, 1, 0},  // xor
    {0, 1, 1, 1},  // or
    {1, 1, 1, 0},  // nand
    {1, 0, 0, 0},  // nor
    {1, 1, 0, 1},  // imp
    {1, 0, 0, 1},  // biimp
    {0, 0, 1, 0},  // diff
    {0, 1, 0, 0},  // less
    {1, 0, 1, 1},  // invimp
};

/* The compiler splits the terminal cases off these recursions and inlines
 * them into their callers, the recursive calls included; but not for a
 * file-local function with a single caller besides itself, as and_rec is in
 * apply.cpp (queens 9: 3.3 % more instructions).  A file where that is so
 * declares the recursion with __attribute__((used)) before it includes this
 * header: the compiler then no longer treats it as fully known. */

/* and_rec and or_rec are two plain copies on purpose.  A shared template,
 * with or without the terminal cases split off by hand, loses the
 * compiler's partial inlining of those cases into the callers (queens 9:
 * +2.4 % to +4.6 % instructions); taking the cofactors up front as
 * apply_rec0 does costs +3.5 %. */
[[maybe_unused]] static BDD and_rec(BDD l, BDD r) {
  if (l == r) return r;
  if (l == 0 || r == 0) return 0;
  if (l == 1) return r;
  if (r == 1) return l;
  prefetch_nodes(l, r);
  const unsigned slot = slotno(binpool, PAIR((unsigned)l, (unsigned)r));
  BddCacheData3 *e = at3(binpool, slot);
  if (e->a == KEYA(l) && e->b == r) return e->res;
  /* Node creation protects its own operands during a collection, so only
   * the low result needs the reference stack, and only while the high
   * half runs. */
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  const BDD cand = ll <= lr ? l : r;
  unsigned lev;
  BDD low, high;
  SHANNON_SPLIT(and_rec, l, r, ll, lr, low, high, lev, );
  POPREF(1);
  const BDD res = makenode_reuse1(lev, low, high, cand);
  e = at3(binpool, slot);
  STORE3(e, l, r, res);
  return res;
}

[[maybe_unused]] static BDD or_rec(BDD l, BDD r) {
  if (l == r) return r;
  if (l == 1 || r == 1) return 1;
  if (l == 0) return r;
  if (r == 0) return l;
  prefetch_nodes(l, r);
  const unsigned slot = slotno(binpool, PAIR((unsigned)l, (unsigned)r));
  BddCacheData3 *e = at3(binpool, slot);
  if (e->a == KEYA(l | OR_TAG) && e->b == r) return e->res;
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  const BDD cand = ll <= lr ? l : r;
  unsigned lev;
  BDD low, high;
  SHANNON_SPLIT(or_rec, l, r, ll, lr, low, high, lev, );
  POPREF(1);
  const BDD res = makenode_reuse1(lev, low, high, cand);
  e = at3(binpool, slot);
  STORE3(e, l | OR_TAG, r, res);
  return res;
}

[[maybe_unused]] static BDD apply_rec0(BDD l, BDD r) {
  switch (applyop) {
    case OP_XOR:
      if (l == r) return 0;
      if (l == 0) return r;
      if (r == 0) return l;
      break;
    case OP_NAND:
      if (l == 0 || r == 0) return 1;
      break;
    case OP_NOR:
      if (l == 1 || r == 1) return 0;
      break;
    case OP_IMP:
      if (l == 0) return 1;
      if (l == 1) return r;
      if (r == 1) return 1;
      break;
    /* The difference (and less, its mirror) takes its operands' shortcuts
     * too: a fixpoint loop subtracts a large set from a small one, and
     * without them the recursion walks all of l where r is 0 and all of the
     * shared part where l = r, only to rebuild l or reach 0.  No node is
     * built either way, so only the time differs. */
    case OP_DIFF:
      if (l == r || l == 0 || r == 1) return 0;
      if (r == 0) return l;
      break;
    case OP_LESS:
      if (l == r || r == 0 || l == 1) return 0;
      if (l == 0) return r;
      break;
    default:
      break;
  }
  if (l < 2 && r < 2) return oprres[applyop][(l << 1) | r];
  prefetch_nodes(l, r);
  const unsigned slot = slotno(applycache, TRIPLE((unsigned)l, (unsigned)r, (unsigned)applyop));
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(l) && e->b == r && e->c == applyop) return e->res;
  const Cofactors c = cofactors(l, r);
  const BDD cand = c.l0 != c.l1 ? l : r; /* l was split: it is on the result's level */
  const BDD low = apply_rec0(c.l0, c.r0);
  PUSHREF(low);
  const BDD high = apply_rec0(c.l1, c.r1);
  POPREF(1);
  const BDD res = makenode_reuse1(c.level, low, high, cand);
  e = at4(applycache, slot);
  STORE4(e, l, r, applyop, res);
  return res;
}

/* l applyop r, on the cache of the operator. */
[[maybe_unused]] static BDD apply_rec(BDD l, BDD r) {
  switch (applyop) {
    case OP_AND:
      need_cache(&andcache);
      return and_rec(l, r);
    case OP_OR:
      need_cache(&orcache);
      return or_rec(l, r);
    default:
      need_cache(&applycache);
      return apply_rec0(l, r);
  }
}

[[maybe_unused]] static BDD not_rec(BDD r) {
  if (r == 0) return 1;
  if (r == 1) return 0;
  __builtin_prefetch(&bddnodes[r]);
  const unsigned slot = slotno(applycache, (unsigned)r);
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(r) && e->c == OP_NOT) return e->res;
  const BDD r0 = LOW(r), r1 = HIGH(r);
  const BDD low = not_rec(r0);
  PUSHREF(low);
  const BDD high = not_rec(r1);
  POPREF(1);
  const BDD res = makenode(LEVEL(r), low, high);
  e = at4(applycache, slot);
  STORE_AC(e, r, OP_NOT, res);
  return res;
}

[[maybe_unused]] static BDD ite_rec(BDD f, BDD g, BDD h) {
  if (f == 1) return g;
  if (f == 0) return h;
  if (g == h) return h;
  if (g == 1 && h == 0) return f;
  if (g == 0 && h == 1) return not_rec(f);
  const unsigned slot = slotno(itecache, TRIPLE((unsigned)f, (unsigned)g, (unsigned)h));
  BddCacheData4 *e = at4(itecache, slot);
  if (e->a == KEYA(f) && e->b == g && e->c == h) return e->res;
  unsigned lf = LEVEL(f), lg = LEVEL(g), lh = LEVEL(h);
  unsigned m = lf < lg ? lf : lg;
  if (lh < m) m = lh;
  BDD f0 = lf == m ? LOW(f) : f, f1 = lf == m ? HIGH(f) : f;
  BDD g0 = lg == m ? LOW(g) : g, g1 = lg == m ? HIGH(g) : g;
  BDD h0 = lh == m ? LOW(h) : h, h1 = lh == m ? HIGH(h) : h;
  PUSHREF(ite_rec(f0, g0, h0));
  PUSHREF(ite_rec(f1, g1, h1));
  BDD res = makenode_reuse(m, READREF(2), READREF(1), g, h);
  POPREF(2);
  e = at4(itecache, slot);
  STORE4(e, f, g, h, res);
  return res;
}

#endif
