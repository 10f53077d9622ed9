/** @file
 * Corvane kernel: node table, errors, settings, references, garbage
 * collection, table growth, variables and variable duplication. */
#ifndef CORVANE_KERNEL_H
#define CORVANE_KERNEL_H

#include <setjmp.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/** A BDD: the index of its root node in the node table; 0 is false, 1 true. */
typedef int BDD;

/** One node of the table: four 32-bit words (16 bytes).
 *   word0: bits 31..27 refcount low 5 bits, bits 26..0 head of the bucket
 *          whose number is this node's index
 *   word1: bits 31..28 refcount high 4 bits, bit 27 mark, bits 26..0 next
 *   word2: bits 31..27 level low 5 bits, bits 26..0 low child
 *   word3: bits 31..27 level high 5 bits, bits 26..0 high child */
typedef struct s_BddNode {
  unsigned int word0;
  unsigned int word1;
  unsigned int word2;
  unsigned int word3;
} BddNode;

/** Kernel sizes and counters, filled by bdd_stats. */
typedef struct s_KernelStats {
  int produced;
  int nodesize;
  int maxnodesize;
  int freenum;
  int minfreenodes;
  int varnum;
  int cachesize;
  int gbcollectnum;
} KernelStats;

/** Cache statistics counters, copied by bdd_cachestats. */
typedef struct s_CacheStats {
  int uniqueAccess;
  int uniqueChain;
  int uniqueHit;
  int uniqueMiss;
  int opHit;
  int opMiss;
  int swapCount;
} CacheStats;

/** What the collection handler is told: table size, free nodes, ticks of this
 * collection (0 before it), total ticks and number of collections. */
typedef struct s_GbcStat {
  int nodes;
  int freenodes;
  int time;
  int sumtime;
  int num;
} GbcStat;

/** Handler taking one int: the error code, or 1/0 before/after a reordering. */
typedef void (*bddinthandler)(int);
/** Collection handler: (1 before / 0 after, statistics). */
typedef void (*bddgbchandler)(int, GbcStat *);
/** Resize handler: (old size, new size). */
typedef void (*bdd2inthandler)(int, int);
/** Printer of a variable name, block identifier or domain number: (stream, number). */
typedef void (*bddfilehandler)(FILE *, int);

///@{
/** Error codes: negative codes passed to the error handler and returned; bdd_errstring gives the
 * message of each. */
#define BDD_ERR_MEMORY      (-1)
#define BDD_ERR_UNKNOWN_VAR (-2)
#define BDD_ERR_RANGE       (-3)
#define BDD_ERR_DEREF       (-4)
#define BDD_ERR_RUNNING     (-5)
#define BDD_ERR_FILE        (-6)
#define BDD_ERR_FORMAT      (-7)
#define BDD_ERR_ORDER       (-8)
#define BDD_ERR_BREAK       (-9)
#define BDD_ERR_SETSIZE     (-10)
#define BDD_ERR_NODES       (-11)
#define BDD_ERR_OP          (-12)
#define BDD_ERR_VARSET      (-13)
#define BDD_ERR_VARBLOCK    (-14)
#define BDD_ERR_DECVARNUM   (-15)
#define BDD_ERR_REPLACE     (-16)
#define BDD_ERR_NODENUM     (-17)
#define BDD_ERR_ILLBDD      (-18)
#define BDD_ERR_SIZE        (-19)
#define BVEC_ERR_SIZE       (-20)
#define BVEC_ERR_SHIFT      (-21)
#define BVEC_ERR_DIVZERO    (-22)
///@}
/** Size of the message table. */
#define BDD_ERRNUM 24

/** A saturated reference count: never changed again, never collected. */
#define MAX_REFCOUNT 511
/** Low-child value that marks a free node. */
#define FREE_LOW 0x07FFFFFF

/* Exported kernel state: read-only for users, written by the engine. */
extern BddNode *bddnodes; /**< the node table; read it only between engine calls */
extern int bddnodesize; /**< number of node slots */
extern int bddmaxnodesize; /**< user limit on the table size, 0 = none */
extern int bddmaxnodeincrease; /**< largest growth step, in nodes */
extern double bddincreasefactor; /**< growth factor of the table */
extern int bddfreepos; /**< first free node, 0 = none */
extern int bddfreenum; /**< number of free nodes */
extern int bddproduced; /**< nodes created since start-up */
extern int bddvarnum; /**< number of variables */
extern int *bddrefstack; /**< reference stack protecting intermediate results */
extern int *bddrefstacktop; /**< next free slot of the reference stack */
extern int *bddvar2level; /**< level of each variable */
extern int *bddlevel2var; /**< variable at each level */
extern int bddrunning; /**< 1 between bdd_init and bdd_done */
/** Sticky condition: 17 after a node-table exhaustion, until bdd_clear_error. */
extern int bdderrorcond;
extern int bddresized; /**< set when the node table grew during the current operation */
extern CacheStats bddcachestats; /**< cache statistics counters */
extern jmp_buf bddexception; /**< restart point armed by every operator */
extern const int bddtrue; /**< 1 */
extern const int bddfalse; /**< 0 */
extern int trace_enable; /**< 1 when CORVANE_TRACE_FILE was set at start-up */
extern int trace_outputted; /**< always 0 */

/* Start-up, shut-down, nodes and accessors. */
/** Starts the engine with a node table of at least @p nodesize nodes (rounded up to a prime)
 * and operator caches of @p cachesize entries, and installs the default handlers. Returns 0;
 * BDD_ERR_RUNNING if the engine already runs (it stays untouched); BDD_ERR_MEMORY if the table
 * cannot be obtained (the engine stays stopped). */
int bdd_init(int nodesize, int cachesize);
/** Stops the engine and frees everything it owns: nodes, caches, variable tables and any pair
 * table still registered. Every BDD handed out before becomes invalid; the engine can be
 * started again. */
void bdd_done(void);
/** The unique node (level, low, high), created if absent; low == high gives low. Unreferenced.
 * Engine building block: the arguments are not checked. When no node can be had it raises
 * BDD_ERR_NODENUM once, sets bdderrorcond and returns 0. */
BDD bdd_makenode(unsigned int level, BDD low, BDD high);
/** The constant true, 1. */
BDD bdd_true(void);
/** The constant false, 0. */
BDD bdd_false(void);
/** The BDD of variable @p var. Permanent: it needs no reference. BDD_ERR_UNKNOWN_VAR (result 0)
 * unless 0 <= var < bdd_varnum(). */
BDD bdd_ithvar(int var);
/** The BDD of the negation of variable @p var; permanent, errors as bdd_ithvar. */
BDD bdd_nithvar(int var);
/** The variable tested at the root of @p r. Returns BDD_ERR_RUNNING when the engine is stopped,
 * BDD_ERR_ILLBDD for a constant, a freed node or an index outside the table (the code itself
 * is the result). */
int bdd_var(BDD r);
/** The low (false) child of @p r, unreferenced; errors as bdd_var. */
BDD bdd_low(BDD r);
/** The high (true) child of @p r, unreferenced; errors as bdd_var. */
BDD bdd_high(BDD r);

/* Errors, hooks, settings, statistics. */
/** Raises error @p e: calls the installed error handler, if any, and returns @p e. */
int bdd_error(int e);
/** The message of error code @p e (its sign is ignored); NULL for codes outside -1..-22. A
 * static string: not to be freed. */
const char *bdd_errstring(int e);
/** Clears the sticky condition bdderrorcond left by a node-table exhaustion and empties the
 * operator caches, so node creation may collect and grow again. */
void bdd_clear_error(void);
/** Installs the error handler (NULL: none) and returns the previous one. The handler runs
 * inside engine frames: it may record, print or exit, but must not call the engine, throw or
 * jump out. bdd_init installs bdd_default_errhandler. */
bddinthandler bdd_error_hook(bddinthandler handler);
/** Installs the garbage-collection handler (NULL: none), called before and after every
 * collection; returns the previous one. It must not create or free nodes. */
bddgbchandler bdd_gbc_hook(bddgbchandler handler);
/** Installs the handler told (old size, new size) at each node-table growth (NULL: none);
 * returns the previous one. */
bdd2inthandler bdd_resize_hook(bdd2inthandler handler);
/** The default error handler: prints "BDD error: <message>" on stderr and aborts the process. */
void bdd_default_errhandler(int e);
/** The default collection handler: after each collection prints one line with the node counts
 * and times on stdout. */
void bdd_default_gbchandler(int pre, GbcStat *s);
/** Limits the node table to @p size nodes (0: no limit). Returns the previous limit;
 * BDD_ERR_NODES unless size is 0 or above the current table size. */
int bdd_setmaxnodenum(int size);
/** Sets the largest growth step of the node table, in nodes. Returns the previous step;
 * BDD_ERR_SIZE for a negative size. */
int bdd_setmaxincrease(int size);
/** Sets the factor by which the node table grows. Returns the previous factor; BDD_ERR_SIZE
 * (returned as -19.0) unless x > 1. */
double bdd_setincreasefactor(double x);
/** Sets the percentage of free nodes below which a collection is followed by growth. Returns
 * the previous value; BDD_ERR_RANGE outside 0..100. */
int bdd_setminfreenodes(int mf);
/** Nodes in use, the two constants included (collected garbage excluded only after a
 * collection). */
int bdd_getnodenum(void);
/** The size of the node table. */
int bdd_getallocnum(void);
/** 1 between bdd_init and bdd_done, else 0. */
int bdd_isrunning(void);
/** The version text; a static string, not to be freed or changed. */
char *bdd_versionstr(void);
/** The version as a number (24 for 2.4). */
int bdd_versionnum(void);
/** Fills the caller's record @p s with the kernel's sizes and counters. */
void bdd_stats(KernelStats *s);
/** Copies the cache statistics counters into the caller's record @p s. */
void bdd_cachestats(CacheStats *s);
/** Prints the cache statistics to @p f. */
void bdd_fprintstat(FILE *f);
/** Prints the cache statistics to stdout. */
void bdd_printstat(void);

/* References, marking, collection and growth. */
/** Adds one external reference to @p r and returns r: a referenced node survives collections.
 * Constants, negative values and a stopped engine are ignored; BDD_ERR_ILLBDD (returned) for
 * an index outside the table or a freed node. Counts saturate at 511 and then never change. */
BDD bdd_addref(BDD r);
/** Removes one external reference from @p r and returns r. Ignores what bdd_addref ignores;
 * BDD_ERR_ILLBDD as there; BDD_ERR_BREAK when the count is already 0 (it stays 0). */
BDD bdd_delref(BDD r);
/** Marks every node reachable from node @p i. Walks used by the engine itself; every mark must
 * be cleared (bdd_unmark) before other engine calls. */
void bdd_mark(int i);
/** As bdd_mark, not descending below @p level. */
void bdd_mark_upto(int i, int level);
/** As bdd_mark, adding 1 to *@p count for each node it marks. */
void bdd_markcount(int i, int *count);
/** Clears the marks set by bdd_mark below node @p i. */
void bdd_unmark(int i);
/** Clears the marks below node @p i, not descending below @p level. */
void bdd_unmark_upto(int i, int level);
/** Runs one garbage collection: frees every node that is neither referenced nor reachable from
 * a referenced node or the reference stack, and empties the operator caches. */
void bdd_gbc(void);
/** Grows the node table to the largest prime not above @p size, ignoring the limits (never
 * shrinks). Returns the size before the call. */
int bdd_setallocnum(int size);

/* Variables and variable sets. */
/** Sets the number of variables to @p num; variables are only ever added, at the bottom of the
 * order. Returns 0; BDD_ERR_RANGE (returning 0) outside 1..1023; BDD_ERR_DECVARNUM (returned)
 * for a decrease; BDD_ERR_MEMORY (-1); -17 when the node table is exhausted (the count stays
 * as it was); BDD_ERR_RUNNING when the engine is stopped. */
int bdd_setvarnum(int num);
/** Adds @p num variables. Returns the number of the first new one (the previous count);
 * BDD_ERR_RANGE for a negative or huge num. */
int bdd_extvarnum(int num);
/** The number of variables. */
int bdd_varnum(void);
/** Lists the variables of the variable set @p r, top level first, in a new array *@p varset of
 * *@p varnum entries that the caller frees (NULL and 0 for a constant). Returns 0;
 * BDD_ERR_RUNNING, BDD_ERR_ILLBDD, BDD_ERR_MEMORY. */
int bdd_scanset(BDD r, int **varset, int *varnum);
/** Adds a variable directly below @p var in the order; existing functions that test var now
 * also require the new variable to be false there. Returns the new variable's number; 0 after
 * BDD_ERR_UNKNOWN_VAR or a failed growth. */
int bdd_duplicatevar(int var);

#ifdef __cplusplus
}
#endif

#endif
