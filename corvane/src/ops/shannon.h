/* The Shannon step of the recursions over two operands: the cofactors of
 * l and r on the top level of the two, and the recursion on each half. */
#ifndef CORVANE_OPS_SHANNON_H
#define CORVANE_OPS_SHANNON_H

#include "opcache.h"

/* The Shannon step of a recursion REC over two operands, written once for
 * every recursion that splits both operands on their common top level:
 * runs REC on the low cofactors of l and r (levels ll and lr), pushes that
 * result on the reference stack, runs REC on the high cofactors, then runs
 * AFTER_HIGH (the combining recursions push the high result there); the
 * halves are left in low and high, the top level in level.  An operand
 * below the top level goes unchanged to both halves.
 *
 * A macro, not a template: each branch must compile as if written out by
 * hand.  An inlined template or lambda gives the compiler an extra inlining
 * step, and the hot recursions then come out with other register choices
 * and block order (and_rec, or_rec, relprod_rec, appquant_rec0 all did). */
#define SHANNON_SPLIT(REC, l, r, ll, lr, low, high, level, AFTER_HIGH) \
  do {                                                                 \
    if ((ll) == (lr)) {                                                \
      (low) = REC(LOW(l), LOW(r));                                     \
      PUSHREF((low));                                                  \
      (high) = REC(HIGH(l), HIGH(r));                                  \
      AFTER_HIGH;                                                      \
      (level) = (ll);                                                  \
    } else if ((ll) < (lr)) {                                          \
      (low) = REC(LOW(l), r);                                          \
      PUSHREF((low));                                                  \
      (high) = REC(HIGH(l), r);                                        \
      AFTER_HIGH;                                                      \
      (level) = (ll);                                                  \
    } else {                                                           \
      (low) = REC(l, LOW(r));                                          \
      PUSHREF((low));                                                  \
      (high) = REC(l, HIGH(r));                                        \
      AFTER_HIGH;                                                      \
      (level) = (lr);                                                  \
    }                                                                  \
  } while (0)

/* The cofactors taken up front, for the recursions that need them before
 * they recurse (the general apply chooses its reuse candidate from them). */
struct Cofactors {
  BDD l0, l1, r0, r1;
  unsigned level;
};
static inline Cofactors cofactors(BDD l, BDD r) {
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
