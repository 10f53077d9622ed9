/* Bit vectors: fixed-width arrays of BDDs standing for unsigned integers,
 * with arithmetic, shifts, division and comparisons. */
#ifndef CORVANE_BVEC_H
#define CORVANE_BVEC_H

#include "kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A vector of nbits BDDs, bit 0 least significant. The empty vector has
 *  nbits 0 and bits NULL. A vector owns its array and one reference on
 *  each bit; every vector a function returns is released with bvec_free.
 *  Operands are never changed or released by an operation. */
typedef struct s_Bvec {
  int nbits;
  BDD *bits;
} Bvec;

/* Common refusals: a negative width argument is BDD_ERR_SIZE; an operand
 * whose nbits is negative, or positive with a null array, is
 * BVEC_ERR_SIZE; a bit (or BDD argument) that is not a live node is
 * BDD_ERR_ILLBDD; an engine that is not running is BDD_ERR_RUNNING; an
 * array that cannot be allocated is BDD_ERR_MEMORY. Functions returning a
 * vector return the empty vector after any of them. */

/** nbits bits, all 1. Width 0 gives the empty vector. */
Bvec bvec_true(int nbits);

/** nbits bits, all 0. Width 0 gives the empty vector. */
Bvec bvec_false(int nbits);

/** The constant val in nbits bits; a negative val is sign-extended, so
 *  bits above 31 copy its sign. */
Bvec bvec_con(int nbits, int val);

/** Bit i is the variable offset + i * step. BDD_ERR_UNKNOWN_VAR when any of
 *  them is not a declared variable. */
Bvec bvec_var(int nbits, int offset, int step);

/** The variables of finite domain var, least significant first, as many
 *  bits as the domain has variables. The domain module's errors
 *  (BDD_ERR_UNKNOWN_VAR, BDD_ERR_RUNNING) give the empty vector. */
Bvec bvec_varfdd(int var);

/** Bit i is the variable var[i]. BDD_ERR_UNKNOWN_VAR when var is null (for
 *  a positive width) or names an undeclared variable. */
Bvec bvec_varvec(int nbits, int *var);

/** A copy of v holding its own references; empty for an empty v. */
Bvec bvec_copy(Bvec v);

/** v truncated or zero-extended to nbits bits, with its own references. */
Bvec bvec_coerce(int nbits, Bvec v);

/** 1 when every bit of v is a constant (also for the empty vector), 0
 *  otherwise and after BVEC_ERR_SIZE for a malformed v. */
int bvec_isconst(Bvec v);

/** The unsigned value of a constant vector (modulo 2^32); 0 when a bit is
 *  not constant, for the empty vector, and after BVEC_ERR_SIZE. */
int bvec_val(Bvec v);

/** Releases v: one reference off every bit, then the array. Also safe
 *  after the engine has been shut down. A malformed v is BVEC_ERR_SIZE,
 *  and nothing is released then. */
void bvec_free(Bvec v);

/** Adds one reference to every bit of v; returns v (BVEC_ERR_SIZE and
 *  nothing done for a malformed v). */
Bvec bvec_addref(Bvec v);

/** Removes one reference from every bit of v; returns v (BVEC_ERR_SIZE
 *  and nothing done for a malformed v). */
Bvec bvec_delref(Bvec v);

/** Bit i is fun(a[i]). A null fun is BDD_ERR_OP. */
Bvec bvec_map1(Bvec a, BDD (*fun)(BDD));

/** Bit i is fun(a[i], b[i]). BVEC_ERR_SIZE when the widths differ; a null
 *  fun is BDD_ERR_OP. */
Bvec bvec_map2(Bvec a, Bvec b, BDD (*fun)(BDD, BDD));

/** Bit i is fun(a[i], b[i], c[i]). BVEC_ERR_SIZE when the widths differ; a
 *  null fun is BDD_ERR_OP. */
Bvec bvec_map3(Bvec a, Bvec b, Bvec c, BDD (*fun)(BDD, BDD, BDD));

/** Bit i is if a then l[i] else r[i]. BVEC_ERR_SIZE when the widths
 *  differ. */
Bvec bvec_ite(BDD a, Bvec l, Bvec r);

/** l + r modulo 2^width. Empty (no error) when an operand is empty;
 *  BVEC_ERR_SIZE when the widths differ. */
Bvec bvec_add(Bvec l, Bvec r);

/** l - r modulo 2^width. Empty (no error) when an operand is empty;
 *  BVEC_ERR_SIZE when the widths differ. */
Bvec bvec_sub(Bvec l, Bvec r);

/** e * c modulo 2^width, of e's width. A negative c counts as
 *  c + 2^width (the two's-complement product). Empty for an empty e. */
Bvec bvec_mulfixed(Bvec e, int c);

/** l * r, exact, of width l.nbits + r.nbits. Empty (no error) when an
 *  operand is empty. */
Bvec bvec_mul(Bvec l, Bvec r);

/** e shifted left by pos bits, the vacated low bits c; every bit is c when
 *  pos is at least the width. BVEC_ERR_SHIFT for a negative pos. */
Bvec bvec_shlfixed(Bvec e, int pos, BDD c);

/** e shifted right by pos bits, the vacated high bits c; every bit is c
 *  when pos is at least the width. BVEC_ERR_SHIFT for a negative pos. */
Bvec bvec_shrfixed(Bvec e, int pos, BDD c);

/** l shifted left by the unsigned amount held in r, filling with c; every
 *  bit is c where the amount is at least l's width. r may have any width.
 *  Empty (no error) when an operand is empty. */
Bvec bvec_shl(Bvec l, Bvec r, BDD c);

/** l shifted right by the unsigned amount held in r, filling with c; every
 *  bit is c where the amount is at least l's width. r may have any width.
 *  Empty (no error) when an operand is empty. */
Bvec bvec_shr(Bvec l, Bvec r, BDD c);

/** Divides e by the constant c: stores the quotient in *res and the
 *  remainder in *rem, both of e's width and owned by the caller (what they
 *  held before is overwritten, not released; a null pointer discards that
 *  part). A c beyond the width gives quotient 0 and remainder e.
 *  Returns 0, or BVEC_ERR_DIVZERO for c <= 0, BVEC_ERR_SIZE for an empty
 *  or malformed e, BDD_ERR_ILLBDD, BDD_ERR_RUNNING, BDD_ERR_MEMORY; after
 *  an error *res and *rem are untouched. */
int bvec_divfixed(Bvec e, int c, Bvec *res, Bvec *rem);

/** Divides l by r (one width): releases the vectors *res and *rem hold on
 *  entry (they must be valid vectors, the empty one allowed), then stores
 *  the quotient and the remainder, of that width and owned by the caller;
 *  a null pointer discards that part. Where r is 0 the quotient is all
 *  ones and the remainder l. Returns 0, or BVEC_ERR_SIZE (empty operand or
 *  widths differ), BDD_ERR_ILLBDD, BDD_ERR_RUNNING, BDD_ERR_MEMORY; after
 *  an error *res and *rem are untouched. */
int bvec_div(Bvec l, Bvec r, Bvec *res, Bvec *rem);

/* The comparisons are unsigned and return a BDD without a reference. With
 * an empty operand bvec_lth, bvec_lte and bvec_equ give bddfalse and their
 * negations bvec_gte, bvec_gth and bvec_neq bddtrue. When the widths
 * differ they raise BVEC_ERR_SIZE and bvec_lth gives bddfalse, bvec_lte
 * and bvec_equ bddtrue, and the negations the opposite. After any other
 * refusal every comparison gives bddfalse. */

/** l < r. */
BDD bvec_lth(Bvec l, Bvec r);
/** l <= r. */
BDD bvec_lte(Bvec l, Bvec r);
/** l > r. */
BDD bvec_gth(Bvec l, Bvec r);
/** l >= r. */
BDD bvec_gte(Bvec l, Bvec r);
/** l = r. */
BDD bvec_equ(Bvec l, Bvec r);
/** l != r. */
BDD bvec_neq(Bvec l, Bvec r);

#ifdef __cplusplus
}
#endif

#endif
