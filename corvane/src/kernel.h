/* Corvane kernel: node table, errors, settings, references, garbage
 * collection, table growth, variables and variable duplication. */
#ifndef CORVANE_KERNEL_H
#define CORVANE_KERNEL_H

#include <setjmp.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int BDD;

/* One node: four 32-bit words.
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

typedef struct s_CacheStats {
  int uniqueAccess;
  int uniqueChain;
  int uniqueHit;
  int uniqueMiss;
  int opHit;
  int opMiss;
  int swapCount;
} CacheStats;

typedef struct s_GbcStat {
  int nodes;
  int freenodes;
  int time;
  int sumtime;
  int num;
} GbcStat;

typedef void (*bddinthandler)(int);
typedef void (*bddgbchandler)(int, GbcStat *);
typedef void (*bdd2inthandler)(int, int);

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
#define BDD_ERRNUM 24

#define MAX_REFCOUNT 511
#define FREE_LOW 0x07FFFFFF

/* Exported kernel state. */
extern BddNode *bddnodes;
extern int bddnodesize;
extern int bddmaxnodesize;
extern int bddmaxnodeincrease;
extern double bddincreasefactor;
extern int bddfreepos;
extern int bddfreenum;
extern int bddproduced;
extern int bddvarnum;
extern int *bddrefstack;
extern int *bddrefstacktop;
extern int *bddvar2level;
extern int *bddlevel2var;
extern int bddrunning;
extern int bdderrorcond;
extern int bddresized;
extern CacheStats bddcachestats;
extern jmp_buf bddexception;
extern const int bddtrue;
extern const int bddfalse;
extern int trace_enable;
extern int trace_outputted;

/* Start-up, shut-down, nodes and accessors. */
int bdd_init(int nodesize, int cachesize);
void bdd_done(void);
BDD bdd_makenode(unsigned int level, BDD low, BDD high);
BDD bdd_true(void);
BDD bdd_false(void);
BDD bdd_ithvar(int var);
BDD bdd_nithvar(int var);
int bdd_var(BDD r);
BDD bdd_low(BDD r);
BDD bdd_high(BDD r);

/* Errors, hooks, settings, statistics. */
int bdd_error(int e);
const char *bdd_errstring(int e);
void bdd_clear_error(void);
bddinthandler bdd_error_hook(bddinthandler handler);
bddgbchandler bdd_gbc_hook(bddgbchandler handler);
bdd2inthandler bdd_resize_hook(bdd2inthandler handler);
void bdd_default_errhandler(int e);
void bdd_default_gbchandler(int pre, GbcStat *s);
int bdd_setmaxnodenum(int size);
int bdd_setmaxincrease(int size);
double bdd_setincreasefactor(double x);
int bdd_setminfreenodes(int mf);
int bdd_getnodenum(void);
int bdd_getallocnum(void);
int bdd_isrunning(void);
char *bdd_versionstr(void);
int bdd_versionnum(void);
void bdd_stats(KernelStats *s);
void bdd_cachestats(CacheStats *s);
void bdd_fprintstat(FILE *f);
void bdd_printstat(void);

/* References, marking, collection and growth. */
BDD bdd_addref(BDD r);
BDD bdd_delref(BDD r);
void bdd_mark(int i);
void bdd_mark_upto(int i, int level);
void bdd_markcount(int i, int *count);
void bdd_unmark(int i);
void bdd_unmark_upto(int i, int level);
void bdd_gbc(void);
void bdd_gbc_rehash(void);
int bdd_noderesize(int doRehash);
int bdd_noderesize2(int doRehash, int oldsize, int newsize);
int bdd_setallocnum(int size);
void bdd_checkreorder(void);

/* Variables and variable sets. */
int bdd_setvarnum(int num);
int bdd_extvarnum(int num);
int bdd_varnum(void);
int bdd_scanset(BDD r, int **varset, int *varnum);
int bdd_duplicatevar(int var);

#ifdef __cplusplus
}
#endif

#endif
