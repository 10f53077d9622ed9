/* The Shannon step of the recursions over two operands: the cofactors of
 * l and r on the top level of the two. */
#ifndef CORVANE_OPS_SHANNON_H
#define CORVANE_OPS_SHANNON_H

#include "opcache.h"

/* The two halves of a split, and the level the result node goes on. */
struct Halves {
  BDD low, high;
  unsigned level;
};

/* Runs rec on the low cofactors of l and r (levels ll and lr), pushes that
 * result on the reference stack, and runs rec on the high cofactors, whose
 * result is pushed too when push_high is set (for callers that combine the
 * halves with another recursion); the caller pops what was pushed.
 * An operand below the top level goes unchanged to both halves.  Written
 * out as three branches, each with its own two calls: the compiler then
 * keeps the recursions' code as tight as the hand-written form. */
template <bool push_high = false, typename Rec>
static OPS_INLINE Halves split_rec(BDD l, BDD r, unsigned ll, unsigned lr, Rec rec) {
  Halves h;
  if (ll == lr) {
    h.low = rec(LOW(l), LOW(r));
    PUSHREF(h.low);
    h.high = rec(HIGH(l), HIGH(r));
    if (push_high) PUSHREF(h.high);
    h.level = ll;
  } else if (ll < lr) {
    h.low = rec(LOW(l), r);
    PUSHREF(h.low);
    h.high = rec(HIGH(l), r);
    if (push_high) PUSHREF(h.high);
    h.level = ll;
  } else {
    h.low = rec(l, LOW(r));
    PUSHREF(h.low);
    h.high = rec(l, HIGH(r));
    if (push_high) PUSHREF(h.high);
    h.level = lr;
  }
  return h;
}

/* The cofactors taken up front, for the recursions that need them before
 * they recurse (the general apply chooses its reuse candidate from them). */
struct Cofactors {
  BDD l0, l1, r0, r1;
  unsigned level;
};
static OPS_INLINE Cofactors cofactors(BDD l, BDD r) {
  Cofactors c;
  const unsigned ll = LEVEL(l), lr = LEVEL(r);
  c.level = ll < lr ? ll : lr;
  if (ll == c.level) {
    c.l0 = LOW(l);
    c.l1 = HIGH(l);
  } else {
    c.l0 = c.l1 = l;
  }
  if (lr == c.level) {
    c.r0 = LOW(r);
    c.r1 = HIGH(r);
  } else {
    c.r0 = c.r1 = r;
  }
  return c;
}

#endif
