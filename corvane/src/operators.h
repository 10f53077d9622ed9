/** @file
 * Boolean operators, quantification, substitution, restriction,
 * satisfying assignments and counting, and the management of the
 * operator caches.
 *
 * Common contract of the operators returning a BDD, unless a comment says
 * otherwise: each BDD argument is checked (BDD_ERR_RUNNING when the engine
 * is stopped, BDD_ERR_ILLBDD for a negative, out-of-table or freed index)
 * and the result after such an error is 0; a cache that cannot be created
 * raises BDD_ERR_MEMORY and the result is -1. The result carries no
 * reference: addref it to keep it across further engine calls. If the node
 * table runs out inside, BDD_ERR_NODENUM is raised once, bdderrorcond is
 * set and the result is meaningless. Variable sets are conjunctions of
 * positive literals (bdd_makeset).
 */
#ifndef CORVANE_OPERATORS_H
#define CORVANE_OPERATORS_H

#include "kernel.h"
#include "pairs.h"

#ifdef __cplusplus
extern "C" {
#endif

///@{
/** Operator codes of bdd_apply and the apply-quantify family */
#define OP_AND 0
#define OP_XOR 1
#define OP_OR 2
#define OP_NAND 3
#define OP_NOR 4
#define OP_IMP 5
#define OP_BIIMP 6
#define OP_DIFF 7
#define OP_LESS 8
#define OP_INVIMP 9
///@}
/** Cache tag of negation; not an apply code. */
#define OP_NOT 10
/** Cache tag of simplification; not an apply code. */
#define OP_SIMPLIFY 11

/** bdd_allsat callback: (profile indexed by variable, number of variables). */
typedef void (*bddallsathandler)(signed char *, int);

/* Operator caches. */
/** Makes the caches follow node-table growth at one entry per @p r nodes, resizing them now.
 * Returns the previous ratio (0: none); BDD_ERR_RANGE for r <= 0. Before bdd_init nothing is
 * stored. */
int bdd_setcacheratio(int r);

/* Apply, negation, if-then-else, cubes. */
/** @p l op @p r for an OP_... code. BDD_ERR_OP (result 0) for a code outside 0..9. */
BDD bdd_apply(BDD l, BDD r, int op);
/** Conjunction. */
BDD bdd_and(BDD l, BDD r);
/** Disjunction. */
BDD bdd_or(BDD l, BDD r);
/** Exclusive or. */
BDD bdd_xor(BDD l, BDD r);
/** Implication: not l, or r. */
BDD bdd_imp(BDD l, BDD r);
/** Equivalence. */
BDD bdd_biimp(BDD l, BDD r);
/** Negation. */
BDD bdd_not(BDD r);
/** If @p f then @p g else @p h. */
BDD bdd_ite(BDD f, BDD g, BDD h);
/** The conjunction of the @p width BDDs of @p variables, each negated where its bit of @p value
 * is 0; bit 0 selects the polarity of the last element. 1 for width < 1. */
BDD bdd_buildcube(int value, int width, BDD *variables);
/** As bdd_buildcube over variable numbers; an unknown number raises BDD_ERR_UNKNOWN_VAR and
 * stands for false. */
BDD bdd_ibuildcube(int value, int width, int *variables);
/** The variable set (conjunction of positive literals) of the @p varnum variables of @p varset;
 * order and repetitions do not matter; 1 for varnum <= 0. An unknown variable raises
 * BDD_ERR_UNKNOWN_VAR and gives 0. */
BDD bdd_makeset(int *varset, int varnum);

/* Quantification and relational products. */
/** @p r with the variables of the set @p var existentially quantified; a constant set is the
 * empty set. */
BDD bdd_exist(BDD r, BDD var);
/** @p r with the variables of @p var universally quantified. */
BDD bdd_forall(BDD r, BDD var);
/** @p r with the variables of @p var uniquely quantified (exclusive or of the cofactors). */
BDD bdd_unique(BDD r, BDD var);
/** exists @p var . (@p l op @p r) in one pass; with OP_AND the relational product. BDD_ERR_OP
 * for a bad code. */
BDD bdd_appex(BDD l, BDD r, int op, BDD var);
/** forall @p var . (@p l op @p r) in one pass. BDD_ERR_OP for a bad code. */
BDD bdd_appall(BDD l, BDD r, int op, BDD var);
/** unique @p var . (@p l op @p r) in one pass. BDD_ERR_OP for a bad code. */
BDD bdd_appuni(BDD l, BDD r, int op, BDD var);

/* Substitution. */
/** @p r with every variable renamed as the live table @p pair says (not checked).
 * BDD_ERR_REPLACE when a target variable already occurs where the renaming cannot place it;
 * the result is then meaningless. */
BDD bdd_replace(BDD r, bddPair *pair);
/** @p f with the function @p g substituted for variable @p var. BDD_ERR_UNKNOWN_VAR (result 0)
 * for a bad var. */
BDD bdd_compose(BDD f, BDD g, int var);
/** @p f with, at once, every variable replaced by the function the live table @p pair holds for
 * it (not checked). */
BDD bdd_veccompose(BDD f, bddPair *pair);

/* Restriction, simplification, support. */
/** @p r with each variable of the cube @p var fixed to its literal's value; a constant cube
 * returns r. */
BDD bdd_restrict(BDD r, BDD var);
/** The generalised cofactor of @p f by the care set @p c. */
BDD bdd_constrain(BDD f, BDD c);
/** A function that agrees with @p f wherever @p d holds, usually smaller. */
BDD bdd_simplify(BDD f, BDD d);
/** The variable set of the variables @p r tests (1 for a constant). Errors give 0,
 * BDD_ERR_MEMORY included. */
BDD bdd_support(BDD r);

/* Satisfying assignments and counting. */
/** One satisfying assignment of @p r as a cube over the variables of one path; 0 for false. */
BDD bdd_satone(BDD r);
/** As bdd_satone, also fixing each variable of the set @p var missing on the path to polarity
 * @p pol. BDD_ERR_ILLBDD (result 0) for pol > 1. */
BDD bdd_satoneset(BDD r, BDD var, BDD pol);
/** One satisfying assignment of @p r as a cube over all variables; 0 for false. */
BDD bdd_fullsatone(BDD r);
/** Calls @p handler once per path of @p r to true, with a profile indexed by variable (0 false,
 * 1 true, -1 either) owned by the engine and valid during the call only. The handler must not
 * call the engine. BDD_ERR_MEMORY when the profile cannot be allocated. */
void bdd_allsat(BDD r, bddallsathandler handler);
/** The number of satisfying assignments of @p r over all variables; 0.0 after an error. */
double bdd_satcount(BDD r);
/** The number of satisfying assignments of @p r over the variables of the set @p varset (0.0
 * for a constant set); arguments not checked. */
double bdd_satcountset(BDD r, BDD varset);
/** log2 of bdd_satcount(@p r), for counts beyond a double; -1.0 for false, 0.0 after an error. */
double bdd_satcountln(BDD r);
/** log2 of bdd_satcountset(@p r, @p varset); arguments not checked. */
double bdd_satcountlnset(BDD r, BDD varset);
/** The number of distinct non-constant nodes of @p r; the (negative) error code after an error. */
int bdd_nodecount(BDD r);
/** The number of distinct non-constant nodes of the @p num roots of @p r together; arguments
 * not checked. */
int bdd_anodecount(BDD *r, int num);
/** The number of paths of @p r to true; 0.0 after an error. */
double bdd_pathcount(BDD r);
/** A new array of bdd_varnum() ints, owned by the caller (free()), counting for each variable
 * the nodes of @p r that test it. NULL after an error, BDD_ERR_MEMORY included. */
int *bdd_varprofile(BDD r);

#ifdef __cplusplus
}
#endif

#endif
