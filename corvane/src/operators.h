/* Boolean operators, quantification, substitution, restriction,
 * satisfying assignments and counting, and the management of the
 * operator caches. */
#ifndef CORVANE_OPERATORS_H
#define CORVANE_OPERATORS_H

#include "kernel.h"
#include "pairs.h"

#ifdef __cplusplus
extern "C" {
#endif

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
/* Cache tags, never valid apply codes. */
#define OP_NOT 10
#define OP_SIMPLIFY 11

typedef void (*bddallsathandler)(signed char *, int);

/* Operator cache management. */
int bdd_operator_init(int cachesize);
void bdd_operator_done(void);
void bdd_operator_reset(void);
void bdd_operator_varresize(void);
void bdd_operator_noderesize(void);
int bdd_setcacheratio(int r);
void checkresize(void);

/* Apply, negation, if-then-else, cubes. */
BDD bdd_apply(BDD l, BDD r, int op);
BDD bdd_and(BDD l, BDD r);
BDD bdd_or(BDD l, BDD r);
BDD bdd_xor(BDD l, BDD r);
BDD bdd_imp(BDD l, BDD r);
BDD bdd_biimp(BDD l, BDD r);
BDD bdd_not(BDD r);
BDD bdd_ite(BDD f, BDD g, BDD h);
BDD bdd_buildcube(int value, int width, BDD *variables);
BDD bdd_ibuildcube(int value, int width, int *variables);
BDD bdd_makeset(int *varset, int varnum);

/* Quantification and relational products. */
BDD bdd_exist(BDD r, BDD var);
BDD bdd_forall(BDD r, BDD var);
BDD bdd_unique(BDD r, BDD var);
BDD bdd_appex(BDD l, BDD r, int op, BDD var);
BDD bdd_appall(BDD l, BDD r, int op, BDD var);
BDD bdd_appuni(BDD l, BDD r, int op, BDD var);

/* Substitution. */
BDD bdd_replace(BDD r, bddPair *pair);
BDD bdd_compose(BDD f, BDD g, int var);
BDD bdd_veccompose(BDD f, bddPair *pair);

/* Restriction, simplification, support. */
BDD bdd_restrict(BDD r, BDD var);
BDD bdd_constrain(BDD f, BDD c);
BDD bdd_simplify(BDD f, BDD d);
BDD bdd_support(BDD r);

/* Satisfying assignments and counting. */
BDD bdd_satone(BDD r);
BDD bdd_satoneset(BDD r, BDD var, BDD pol);
BDD bdd_fullsatone(BDD r);
void bdd_allsat(BDD r, bddallsathandler handler);
double bdd_satcount(BDD r);
double bdd_satcountset(BDD r, BDD varset);
double bdd_satcountln(BDD r);
double bdd_satcountlnset(BDD r, BDD varset);
int bdd_nodecount(BDD r);
int bdd_anodecount(BDD *r, int num);
double bdd_pathcount(BDD r);
int *bdd_varprofile(BDD r);

#ifdef __cplusplus
}
#endif

#endif
