/* The kernel's engine-internal interface: the node fields, hashing, node
 * creation, the reference stack, the kernel state other modules read, and
 * the hooks through which the modules built on the kernel follow its
 * events.  Each of those modules keeps its own internals in its own
 * <module>_internal.h.  Not installed: users see only the public headers. */
#ifndef CORVANE_KERNEL_INTERNAL_H
#define CORVANE_KERNEL_INTERNAL_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include "kernel.h"

/* Engine-only symbols: hidden, so the library's own code reaches them
 * directly instead of through the dynamic symbol table. */
#define CORVANE_HIDDEN __attribute__((visibility("hidden")))

#define REFCOUNT_LOW_MASK 0xF8000000u
#define REFCOUNT_HIGH_MASK 0xF0000000u
#define MARK_MASK 0x08000000u
#define INDEX_MASK 0x07FFFFFFu
#define MAX_VARNUM 1023

/* ---- node fields ------------------------------------------------------ */

static inline unsigned LEVEL(int n) {
  return (bddnodes[n].word2 >> 27) | ((bddnodes[n].word3 >> 27) << 5);
}
static inline int LOW(int n) { return (int)(bddnodes[n].word2 & INDEX_MASK); }
static inline int HIGH(int n) { return (int)(bddnodes[n].word3 & INDEX_MASK); }
static inline bool ISFREE(int n) { return (bddnodes[n].word2 & INDEX_MASK) == FREE_LOW; }

/* word2 and word3 as bdd_makenode stores and compares them */
static inline unsigned LEVLOW_WORD(unsigned level, int low) { return (level << 27) | (unsigned)low; }
static inline unsigned LEVHIGH_WORD(unsigned level, int high) {
  return ((level >> 5) << 27) | (unsigned)high;
}
static inline void SETLEVLOWHIGH(int n, unsigned level, int low, int high) {
  bddnodes[n].word2 = LEVLOW_WORD(level, low);
  bddnodes[n].word3 = LEVHIGH_WORD(level, high);
}
static inline void SETLEVEL(int n, unsigned level) {
  SETLEVLOWHIGH(n, level, LOW(n), HIGH(n));
}
static inline void SETLOW(int n, int low) {
  bddnodes[n].word2 = (bddnodes[n].word2 & ~INDEX_MASK) | (unsigned)low;
}
static inline void SETHIGH(int n, int high) {
  bddnodes[n].word3 = (bddnodes[n].word3 & ~INDEX_MASK) | (unsigned)high;
}
static inline void SETFREE(int n) { bddnodes[n].word2 = FREE_LOW; }

static inline int HASHHEAD(int n) { return (int)(bddnodes[n].word0 & INDEX_MASK); }
static inline void SETHASHHEAD(int n, int v) {
  bddnodes[n].word0 = (bddnodes[n].word0 & ~INDEX_MASK) | (unsigned)v;
}
static inline int NEXT(int n) { return (int)(bddnodes[n].word1 & INDEX_MASK); }
static inline void SETNEXT(int n, int v) {
  bddnodes[n].word1 = (bddnodes[n].word1 & ~INDEX_MASK) | (unsigned)v;
}

static inline unsigned REFCOUNT(int n) {
  return ((bddnodes[n].word1 >> 28) << 5) | (bddnodes[n].word0 >> 27);
}
static inline void SETREFCOUNT(int n, unsigned rc) {
  bddnodes[n].word0 = (bddnodes[n].word0 & INDEX_MASK) | ((rc & 31u) << 27);
  bddnodes[n].word1 = (bddnodes[n].word1 & (MARK_MASK | INDEX_MASK)) | ((rc >> 5) << 28);
}
static inline void INCREF(int n) {
  unsigned rc = REFCOUNT(n);
  if (rc < MAX_REFCOUNT) SETREFCOUNT(n, rc + 1);
}
static inline void DECREF(int n) {
  unsigned rc = REFCOUNT(n);
  if (rc != MAX_REFCOUNT && rc > 0) SETREFCOUNT(n, rc - 1);
}

static inline bool MARKED(int n) { return (bddnodes[n].word1 & MARK_MASK) != 0; }
static inline void SETMARK(int n) { bddnodes[n].word1 |= MARK_MASK; }
static inline void UNMARK(int n) { bddnodes[n].word1 &= ~MARK_MASK; }

/* ---- hashing ------------------------------------------------------------ */

static inline unsigned PAIR(unsigned a, unsigned b) {
  return (((a + b) * (a + b + 1u)) >> 1) + a;
}
static inline unsigned TRIPLE(unsigned a, unsigned b, unsigned c) {
  return PAIR(c, PAIR(a, b));
}
/* a % d by a runtime-constant divisor d, without the division: with
 * mul = 2^64 / d rounded up, the low 64 bits of mul * a are the fraction
 * a / d scaled by 2^64, and multiplying that fraction by d leaves the
 * remainder in the high word.  Exact for every 32-bit a and every d >= 1
 * (d = 1 gives mul = 0 and so 0).  A hardware division costs several times
 * more than the two multiplications, and every unique-table and cache
 * lookup takes one. */
struct FastMod {
  uint64_t mul;
  unsigned div;
};
static inline FastMod FASTMOD_FOR(unsigned d) {
  FastMod f;
  f.mul = d == 0 ? 0 : UINT64_MAX / d + 1;
  f.div = d;
  return f;
}
static inline unsigned FASTMOD(unsigned a, FastMod f) {
  uint64_t frac = f.mul * a;
  return (unsigned)(((unsigned __int128)frac * f.div) >> 64);
}

/* The divisor of NODEHASH, always FASTMOD_FOR(bddnodesize): the kernel
 * renews it wherever the table size changes. */
extern FastMod nodemod CORVANE_HIDDEN;

static inline unsigned NODEHASH(unsigned level, int low, int high) {
  assert(nodemod.div == (unsigned)bddnodesize);
  return FASTMOD(TRIPLE(level, (unsigned)low, (unsigned)high), nodemod);
}

/* ---- node creation -------------------------------------------------------- */

/* The rare part of bdd_makenode, taken when no slot is free (collection,
 * restart jump, growth, exhaustion).  Out of line so that the common path
 * below needs no saved registers and inlines into the recursions. */
BDD makenode_slow(unsigned level, BDD low, BDD high) CORVANE_HIDDEN;

/* Moves the first free slot to the front of chain `bucket` as the node
 * with words w2 and w3.  A free slot's refcount is already 0; its word0
 * hash field belongs to bucket r and is kept. */
static inline BDD take_free_slot(unsigned bucket, unsigned w2, unsigned w3) {
  BddNode *const nodes = bddnodes;
  const int r = bddfreepos;
  bddfreepos = (int)(nodes[r].word1 & INDEX_MASK);
  bddfreenum--;
  bddproduced++;
  nodes[r].word1 = nodes[bucket].word0 & INDEX_MASK;
  nodes[r].word2 = w2;
  nodes[r].word3 = w3;
  nodes[bucket].word0 = (nodes[bucket].word0 & ~INDEX_MASK) | (unsigned)r;
  return r;
}

/* bdd_makenode: the node (level, low, high), found in its chain or made. */
static inline BDD makenode(unsigned level, BDD low, BDD high) {
  if (low == high) return low;
  const unsigned w2 = LEVLOW_WORD(level, low);
  const unsigned w3 = LEVHIGH_WORD(level, high);
  const unsigned bucket = NODEHASH(level, low, high);
  const BddNode *const nodes = bddnodes;
  for (unsigned r = nodes[bucket].word0 & INDEX_MASK; r != 0; r = nodes[r].word1 & INDEX_MASK)
    if (nodes[r].word2 == w2 && nodes[r].word3 == w3) return (BDD)r;
  if (__builtin_expect(bddfreepos == 0, 0)) return makenode_slow(level, low, high);
  return take_free_slot(bucket, w2, w3);
}

/* Node creation for a recursion over operand a: where the halves came
 * back as a's own children, canonicity makes the node a itself, and the
 * chain walk (two dependent cache misses) is skipped.  Conjoining a large
 * function with a constraint over a few top variables rebuilds the large
 * function's top part this way, node for node.  The hottest recursions
 * pass only the operand on the result's level, which keeps one value
 * fewer alive across their sub-calls. */
static inline bool HAS_WORDS(int n, unsigned w2, unsigned w3) {
  return bddnodes[n].word2 == w2 && bddnodes[n].word3 == w3;
}
static inline BDD makenode_reuse1(unsigned level, BDD low, BDD high, BDD a) {
  if (low == high) return low;
  if (HAS_WORDS(a, LEVLOW_WORD(level, low), LEVHIGH_WORD(level, high))) return a;
  return makenode(level, low, high);
}
/* The same with two candidate operands. */
static inline BDD makenode_reuse(unsigned level, BDD low, BDD high, BDD a, BDD b) {
  if (low != high && HAS_WORDS(b, LEVLOW_WORD(level, low), LEVHIGH_WORD(level, high))) return b;
  return makenode_reuse1(level, low, high, a);
}

/* Asks for large pages under a big block the engine reads at random (node
 * table, caches): it cuts the address-translation misses that otherwise
 * come with nearly every node and cache access.  Only a hint. */
void advise_large_pages(void *block, size_t bytes) CORVANE_HIDDEN;

/* ---- reference stack ----------------------------------------------------- */

/* End of the reference stack, for the debug-build overflow check. */
extern int *bddrefstackend;

static inline void PUSHREF(int n) {
  assert(bddrefstacktop < bddrefstackend);
  *(bddrefstacktop++) = n;
}
static inline int READREF(int k) { return *(bddrefstacktop - k); }
static inline void POPREF(int k) { bddrefstacktop -= k; }
static inline void INITREF(void) { bddrefstacktop = bddrefstack; }

/* ---- argument checks ----------------------------------------------------- */

/* The three-step root check shared by most public entries: raises and
 * returns the error code, or 0 when r is a live node. */
static inline int bdd_checkroot(BDD r) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (r < 0 || r >= bddnodesize) return bdd_error(BDD_ERR_ILLBDD);
  if (r > 1 && ISFREE(r)) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

/* ---- kernel internals shared with other modules -------------------------- */

/* Nonzero exactly while an operator has bddexception armed: node creation
 * leaves by the restart jump only then. */
extern int jumparmed;
/* Nodes in use at which node creation may leave for an automatic
 * reordering; the reordering module sets the next one after each run. */
extern int usednodes_nextreorder;
/* Nonzero while automatic reordering is suspended (bdd_disable_reorder,
 * and the kernel itself while it builds variable nodes).  Part of the
 * restart gate, so the kernel keeps it; the reordering module's controls
 * set and clear it. */
extern int reorder_suspended;
/* The engine's own suspensions: reorder_suspend switches automatic
 * reordering off and returns the previous state, which reorder_resume puts
 * back, so that a suspension by the user outlasts them. */
static inline int reorder_suspend(void) {
  const int previous = reorder_suspended;
  reorder_suspended = 1;
  return previous;
}
static inline void reorder_resume(int previous) { reorder_suspended = previous; }
extern int minfreenodes;
extern int *bddvarset;
/* Nonzero while bdd_done runs the modules' stop hooks: what is forgotten
 * then is about to be released. */
extern int kernel_stopping CORVANE_HIDDEN;

extern "C" {
/* Rebuilds every chain and the free list from the node contents (every
 * chain head cleared beforehand). */
void bdd_gbc_rehash(void);
/* Grows the node table by the growth policy.  Returns 0; -1 without an
 * error when the user limit is reached; BDD_ERR_MEMORY when the table
 * cannot be enlarged. */
int bdd_noderesize(int doRehash);
/* Grows the node table to the largest prime not above newsize; 0 when that
 * is not larger; BDD_ERR_MEMORY as bdd_noderesize. */
int bdd_noderesize2(int doRehash, int oldsize, int newsize);
}

/* ---- modules built on the kernel ----------------------------------------- */

/* What a module above the kernel must do at the kernel's events.  The
 * kernel names no module: each registers its record under a fixed rank
 * from its own source file, so the record is linked exactly when the
 * module is (from a static archive too).  A null entry is skipped.
 *
 * Ranks follow use: a module ranks above every module it calls.  The
 * kernel runs the entries in ascending rank, and those of shut-down in
 * descending rank, at these points:
 *   prepare(cachesize)  bdd_init, once the node table exists and before the
 *                       kernel counts itself running or installs its default
 *                       handlers; a negative result shuts down again and is
 *                       bdd_init's result
 *   start()             bdd_init, last, with the kernel running
 *   stop()              bdd_done, first, nodes and variables still there
 *   release()           bdd_done, after the node and variable tables are gone
 *   forget()            in every collection after the sweep (before the
 *                       handler's closing call), in bdd_clear_error, and
 *                       wherever node indices may denote other functions
 *   grown()             node creation grew the table (after the resize
 *                       handler was told)
 *   varnum(old, num)    bdd_setvarnum built the nodes of variables old..num-1
 *   inserted(level, v)  bdd_duplicatevar placed the new variable v on
 *                       level + 1, below the duplicated one
 *   reorder_due()       node creation reached the reordering threshold inside
 *                       an operator: nonzero lets it leave by the restart
 *                       jump (any entry decides)
 */
struct KernelHooks {
  int (*prepare)(int cachesize);
  void (*start)(void);
  void (*stop)(void);
  void (*release)(void);
  void (*forget)(void);
  void (*grown)(void);
  void (*varnum)(int oldnum, int num);
  void (*inserted)(int level, int var);
  int (*reorder_due)(void);
};

/* The ranks of today's modules, and the number of places; the unused ones
 * are free for tests. */
enum HookRank {
  HOOK_RANK_PAIRS = 1,
  HOOK_RANK_REORDER = 2,
  HOOK_RANK_OPERATORS = 3,
  HOOK_RANK_FDD = 4,
  HOOK_RANKS = 8
};

/* Puts hooks (NULL: none) at rank and returns the record it replaces;
 * ranks outside 0..HOOK_RANKS-1 are ignored (NULL returned).  The record
 * must outlive its registration. */
const KernelHooks *kernel_register(int rank, const KernelHooks *hooks);

/* Registers a module's hooks before any ordinary static constructor runs,
 * so that a program's own static objects may already start the engine:
 *   HOOK_REGISTRAR(pairs) { static KernelHooks h; ...; kernel_register(...); } */
#define HOOK_REGISTRAR(module) \
  __attribute__((constructor(101))) static void register_##module##_hooks(void)

/* Runs every forget() entry: cached results mentioning node indices are
 * void. */
void kernel_forget(void) CORVANE_HIDDEN;

#endif
