// The kernel: node table and unique table, start-up and shut-down, errors
// and settings, reference counts, garbage collection, growth, variables and
// variable duplication.
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include "kernel_internal.h"
#include "prime.h"

extern "C" {

BddNode *bddnodes = nullptr;
int bddnodesize = 0;
int bddmaxnodesize = 0;
int bddmaxnodeincrease = 10000000;
double bddincreasefactor = 2.0;
int bddfreepos = 0;
int bddfreenum = 0;
int bddproduced = 0;
int bddvarnum = 0;
int *bddrefstack = nullptr;
int *bddrefstacktop = nullptr;
int *bddvar2level = nullptr;
int *bddlevel2var = nullptr;
int bddrunning = 0;
int bdderrorcond = 0;
int bddresized = 0;
CacheStats bddcachestats;
jmp_buf bddexception;
extern const int bddtrue = 1;
extern const int bddfalse = 0;
int trace_enable = 0;
int trace_outputted = 0;

}  // extern "C"

int *bddrefstackend = nullptr;
FastMod nodemod = {0, 0};
int jumparmed = 0;
int usednodes_nextreorder = 0;
int reorder_suspended = 0;
int minfreenodes = 20;
// Whether the last collection run by node creation was followed by
// growth: a table that keeps filling up with live nodes grows again.
static bool last_collection_grew = false;
int *bddvarset = nullptr;
int kernel_stopping = 0;

static BddNode *alloced = nullptr;
// Nodes the block at alloced has room for: the start-up reservation, or the
// table's size once growth went beyond it (a later bdd_init reserves this).
static int reserved_nodes = 100000000;
static int cachesize = 0;
static bddinthandler err_handler = nullptr;
static bddgbchandler gbc_handler = nullptr;
static bdd2inthandler resize_handler = nullptr;
static int gbcollectnum = 0;
static int gbcclock = 0;

// Node indices are 27 bits and FREE_LOW marks free slots, so no table may
// hold more slots than this.
static constexpr int MAX_TABLE_SIZE = 0x07FFFFFF;

static const char *const errorstrings[BDD_ERRNUM] = {
    "Out of memory",
    "Unknown variable",
    "Value out of range",
    "Unknown BDD root dereferenced",
    "bdd_init() called twice",
    "File operation failed",
    "Incorrect file format",
    "Variables not in ascending order",
    "User called break",
    "Mismatch in size of variable sets",
    "Cannot allocate fewer nodes than already in use",
    "Unknown operator",
    "Illegal variable set",
    "Bad variable block operation",
    "Trying to decrease the number of variables",
    "Trying to replace with variables already in the bdd",
    "Number of nodes reached user defined maximum",
    "Unknown BDD - was not in node table",
    "Bad size argument",
    "Mismatch in bitvector size",
    "Illegal shift-left/right parameter",
    "Division by zero",
    nullptr,
    nullptr,
};

void advise_large_pages(void *block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only whole large pages inside the block; smaller blocks gain nothing.
  const uintptr_t large = (uintptr_t)2 << 20;
  uintptr_t from = ((uintptr_t)block + large - 1) & ~(large - 1);
  uintptr_t to = ((uintptr_t)block + bytes) & ~(large - 1);
  if (to > from) madvise((void *)from, to - from, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

static void init_free_slots(int from, int to) {
  for (int n = from; n < to; n++) {
    bddnodes[n].word0 = 0;
    bddnodes[n].word1 = (unsigned)(n + 1);
    bddnodes[n].word2 = FREE_LOW;
    bddnodes[n].word3 = 0;
  }
}

// ---------------------------------------------------------------------------
// Modules built on the kernel

// Zero-initialised before any constructor runs, so registration may come
// in any order.
static const KernelHooks *hook_table[HOOK_RANKS];

const KernelHooks *kernel_register(int rank, const KernelHooks *hooks) {
  if (rank < 0 || rank >= HOOK_RANKS) return nullptr;
  const KernelHooks *old = hook_table[rank];
  hook_table[rank] = hooks;
  return old;
}

// Calls entry `field` of every registered record, ascending or descending
// by rank, with the given arguments.
template <typename Field, typename... Args>
static void run_hooks(Field field, bool descending, Args... args) {
  for (int k = 0; k < HOOK_RANKS; k++) {
    const KernelHooks *h = hook_table[descending ? HOOK_RANKS - 1 - k : k];
    if (h != nullptr && h->*field != nullptr) (h->*field)(args...);
  }
}

void kernel_forget(void) { run_hooks(&KernelHooks::forget, false); }

// The first refusal ends the start-up: the modules after it are not asked.
static int run_prepare_hooks(int size) {
  for (int k = 0; k < HOOK_RANKS; k++) {
    const KernelHooks *h = hook_table[k];
    if (h == nullptr || h->prepare == nullptr) continue;
    const int err = h->prepare(size);
    if (err < 0) return err;
  }
  return 0;
}

static bool reordering_due(void) {
  for (const KernelHooks *h : hook_table)
    if (h != nullptr && h->reorder_due != nullptr && h->reorder_due()) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

extern "C" int bdd_init(int nodesize, int initcachesize) {
  if (getenv("CORVANE_TRACE_FILE") != nullptr) trace_enable = 1;
  srand48(0xBEEF);

  if (bddrunning) return bdd_error(BDD_ERR_RUNNING);

  if (nodesize > MAX_TABLE_SIZE) nodesize = MAX_TABLE_SIZE;
  unsigned size = bdd_prime_gte(nodesize < 0 ? 0u : (unsigned)nodesize);
  if (size > (unsigned)MAX_TABLE_SIZE) size = bdd_prime_lte(MAX_TABLE_SIZE);
  bddnodesize = (int)size;
  nodemod = FASTMOD_FOR(size);

  // Reserve address space up front so growth within the reservation never
  // moves the table; pages are only touched as slots are initialised.
  // On a large-page boundary, so that the first slots, which every run
  // touches, lie in large pages too: small pages there cost a fault each.
  alloced = nullptr;
  if (reserved_nodes > 0 && reserved_nodes >= bddnodesize) {
    void *block = nullptr;
    if (posix_memalign(&block, (size_t)2 << 20, sizeof(BddNode) * (size_t)reserved_nodes) == 0)
      alloced = (BddNode *)block;
  }
  if (alloced == nullptr) {
    alloced = (BddNode *)malloc(sizeof(BddNode) * (size_t)bddnodesize);
    if (alloced == nullptr) {
      bddnodesize = 0;
      nodemod = FASTMOD_FOR(0);
      return bdd_error(BDD_ERR_MEMORY);
    }
    reserved_nodes = bddnodesize;
  }
  advise_large_pages(alloced, sizeof(BddNode) * (size_t)reserved_nodes);
  bddnodes = alloced;
  bddresized = 0;

  init_free_slots(0, bddnodesize);
  SETNEXT(bddnodesize - 1, 0);

  for (int n = 0; n < 2; n++) {
    SETREFCOUNT(n, MAX_REFCOUNT);
    SETLOW(n, n);
    SETHIGH(n, n);
  }

  int err = run_prepare_hooks(initcachesize);
  if (err < 0) {
    bddrunning = 1;
    bdd_done();
    return err;
  }

  bddfreepos = 2;
  bddrunning = 1;
  bddfreenum = bddnodesize - 2;
  bddmaxnodeincrease = 10000000;
  cachesize = initcachesize;
  bddincreasefactor = 2.0;
  bddvarnum = 0;
  usednodes_nextreorder = bddnodesize;
  memset(&bddcachestats, 0, sizeof(bddcachestats));
  gbcollectnum = 0;
  gbcclock = 0;
  last_collection_grew = false;
  bdderrorcond = 0;
  jumparmed = 0;

  bdd_gbc_hook(bdd_default_gbchandler);
  bdd_error_hook(bdd_default_errhandler);
  bdd_resize_hook(nullptr);

  run_hooks(&KernelHooks::start, false);

  // The restart point is armed by each operator for its own duration only:
  // a buffer armed here would point into a frame that has returned.
  return 0;
}

extern "C" void bdd_done(void) {
  kernel_stopping = 1;
  run_hooks(&KernelHooks::stop, true);
  kernel_stopping = 0;

  free(alloced);
  alloced = nullptr;
  bddnodes = nullptr;
  free(bddrefstack);
  bddrefstack = bddrefstacktop = bddrefstackend = nullptr;
  free(bddvarset);
  bddvarset = nullptr;
  free(bddvar2level);
  bddvar2level = nullptr;
  free(bddlevel2var);
  bddlevel2var = nullptr;

  run_hooks(&KernelHooks::release, true);

  resize_handler = nullptr;
  gbc_handler = nullptr;
  err_handler = nullptr;
  bddrunning = 0;
  bddnodesize = 0;
  nodemod = FASTMOD_FOR(0);
  bddmaxnodesize = 0;
  bddvarnum = 0;
  bddproduced = 0;
  bddfreepos = 0;
  bddfreenum = 0;
  jumparmed = 0;
}

// ---------------------------------------------------------------------------
// Node creation

extern "C" BDD bdd_makenode(unsigned int level, BDD low, BDD high) {
  return makenode(level, low, high);
}

static void run_collection(bool growth_likely);
static void settle_table(void);

// Called by makenode with the node absent from its chain and no free slot.
// The operands are protected here, for the collection, so that callers
// need not keep both on the reference stack around every creation.
__attribute__((noinline, cold)) BDD makenode_slow(unsigned level, BDD low, BDD high) {
  if (bdderrorcond) return 0;
  const bool protect = bddrefstacktop != nullptr && bddrefstacktop + 2 <= bddrefstackend;
  if (protect) {
    PUSHREF(low);
    PUSHREF(high);
  }
  run_collection(last_collection_grew);
  if (protect) POPREF(2);
  if (jumparmed && bddnodesize - bddfreenum >= usednodes_nextreorder && reordering_due()) {
    settle_table();
    longjmp(bddexception, 1);
  }
  if ((long long)bddfreenum * 100 / bddnodesize <= minfreenodes) {
    const int before = bddnodesize;
    bdd_noderesize(1);
    settle_table();
    last_collection_grew = bddnodesize != before;
    if (last_collection_grew) run_hooks(&KernelHooks::grown, false);
  } else {
    last_collection_grew = false;
  }
  if (bddfreepos == 0) {
    bdderrorcond = -BDD_ERR_NODENUM;
    bdd_error(BDD_ERR_NODENUM);
    return 0;
  }
  // A collection leaves the chains as they were for live nodes, so the
  // node is still absent; growth changes its bucket.
  return take_free_slot(NODEHASH(level, low, high), LEVLOW_WORD(level, low),
                        LEVHIGH_WORD(level, high));
}

extern "C" BDD bdd_true(void) { return 1; }
extern "C" BDD bdd_false(void) { return 0; }

extern "C" BDD bdd_ithvar(int var) {
  if (var < 0 || var >= bddvarnum) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return 0;
  }
  return bddvarset[2 * var];
}

extern "C" BDD bdd_nithvar(int var) {
  if (var < 0 || var >= bddvarnum) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return 0;
  }
  return bddvarset[2 * var + 1];
}

// Accessors refuse the constants too: they have no variable or children.
static int check_inner_node(BDD r) {
  int err = bdd_checkroot(r);
  if (err < 0) return err;
  if (r < 2) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

extern "C" int bdd_var(BDD r) {
  int err = check_inner_node(r);
  return err < 0 ? err : bddlevel2var[LEVEL(r)];
}

extern "C" BDD bdd_low(BDD r) {
  int err = check_inner_node(r);
  return err < 0 ? err : LOW(r);
}

extern "C" BDD bdd_high(BDD r) {
  int err = check_inner_node(r);
  return err < 0 ? err : HIGH(r);
}

// ---------------------------------------------------------------------------
// Errors, hooks, settings, statistics

extern "C" int bdd_error(int e) {
  if (err_handler != nullptr) err_handler(e);
  return e;
}

extern "C" const char *bdd_errstring(int e) {
  long m = e < 0 ? -(long)e : (long)e;
  if (m < 1 || m > BDD_ERRNUM) return nullptr;
  return errorstrings[m - 1];
}

extern "C" void bdd_clear_error(void) {
  bdderrorcond = 0;
  kernel_forget();
}

extern "C" bddinthandler bdd_error_hook(bddinthandler handler) {
  bddinthandler old = err_handler;
  err_handler = handler;
  return old;
}

extern "C" bddgbchandler bdd_gbc_hook(bddgbchandler handler) {
  bddgbchandler old = gbc_handler;
  gbc_handler = handler;
  return old;
}

extern "C" bdd2inthandler bdd_resize_hook(bdd2inthandler handler) {
  bdd2inthandler old = resize_handler;
  resize_handler = handler;
  return old;
}

extern "C" void bdd_default_errhandler(int e) {
  const char *msg = bdd_errstring(e);
  if (msg != nullptr)
    fprintf(stderr, "BDD error: %s\n", msg);
  else
    fprintf(stderr, "BDD error: unknown error code %d\n", e);
  abort();
}

extern "C" void bdd_default_gbchandler(int pre, GbcStat *s) {
  if (pre) return;
  printf("Garbage collection #%d: %d nodes / %d free", s->num, s->nodes, s->freenodes);
  printf(" / %.1fs / %.1fs total\n", (float)s->time / (float)CLOCKS_PER_SEC,
         (float)s->sumtime / (float)CLOCKS_PER_SEC);
}

extern "C" int bdd_setmaxnodenum(int size) {
  if (size > bddnodesize || size == 0) {
    int old = bddmaxnodesize;
    bddmaxnodesize = size;
    return old;
  }
  return bdd_error(BDD_ERR_NODES);
}

extern "C" int bdd_setmaxincrease(int size) {
  if (size < 0) return bdd_error(BDD_ERR_SIZE);
  int old = bddmaxnodeincrease;
  bddmaxnodeincrease = size;
  return old;
}

extern "C" double bdd_setincreasefactor(double x) {
  // Written so that NaN is refused as well.
  if (!(x > 1.0)) return (double)bdd_error(BDD_ERR_SIZE);
  double old = bddincreasefactor;
  bddincreasefactor = x;
  return old;
}

extern "C" int bdd_setminfreenodes(int mf) {
  if ((unsigned)mf > 100u) return bdd_error(BDD_ERR_RANGE);
  int old = minfreenodes;
  minfreenodes = mf;
  return old;
}

extern "C" int bdd_getnodenum(void) { return bddnodesize - bddfreenum; }
extern "C" int bdd_getallocnum(void) { return bddnodesize; }
extern "C" int bdd_isrunning(void) { return bddrunning; }

extern "C" char *bdd_versionstr(void) {
  static char version[] = "Corvane - release 2.4";
  return version;
}

extern "C" int bdd_versionnum(void) { return 24; }

extern "C" void bdd_stats(KernelStats *s) {
  s->produced = bddproduced;
  s->nodesize = bddnodesize;
  s->maxnodesize = bddmaxnodesize;
  s->freenum = bddfreenum;
  s->minfreenodes = minfreenodes;
  s->varnum = bddvarnum;
  s->cachesize = cachesize;
  s->gbcollectnum = gbcollectnum;
}

extern "C" void bdd_cachestats(CacheStats *s) { *s = bddcachestats; }

static float hitrate(int hits, int misses) {
  unsigned h = (unsigned)hits, m = (unsigned)misses;
  if (h + m == 0) return 0.0f;
  return (float)h / (float)(h + m);
}

extern "C" void bdd_fprintstat(FILE *f) {
  const CacheStats &s = bddcachestats;
  fprintf(f, "\nCache statistics\n");
  fprintf(f, "----------------\n");
  fprintf(f, "Unique Access:  %ld\n", (long)s.uniqueAccess);
  fprintf(f, "Unique Chain:   %ld\n", (long)s.uniqueChain);
  fprintf(f, "Unique Hit:     %ld\n", (long)s.uniqueHit);
  fprintf(f, "Unique Miss:    %ld\n", (long)s.uniqueMiss);
  fprintf(f, "=> Hit rate =   %.2f\n", hitrate(s.uniqueHit, s.uniqueMiss));
  fprintf(f, "Operator Hits:  %ld\n", (long)s.opHit);
  fprintf(f, "Operator Miss:  %ld\n", (long)s.opMiss);
  fprintf(f, "=> Hit rate =   %.2f\n", hitrate(s.opHit, s.opMiss));
  fprintf(f, "Swap count =    %ld\n", (long)s.swapCount);
}

extern "C" void bdd_printstat(void) { bdd_fprintstat(stdout); }

// ---------------------------------------------------------------------------
// References and marking walks

static int check_refable(BDD r) {
  if (r >= bddnodesize || ISFREE(r)) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

extern "C" BDD bdd_addref(BDD r) {
  if (r <= 1 || !bddrunning) return r;
  int err = check_refable(r);
  if (err < 0) return err;
  INCREF(r);
  return r;
}

extern "C" BDD bdd_delref(BDD r) {
  if (r <= 1 || !bddrunning) return r;
  int err = check_refable(r);
  if (err < 0) return err;
  if (REFCOUNT(r) == 0) {
    bdd_error(BDD_ERR_BREAK);
    return r;
  }
  DECREF(r);
  return r;
}

// The collector's marking walk; internal so its recursion and the
// collector's calls are direct.
static void mark_live(int i) {
  while (i > 1 && !MARKED(i) && !ISFREE(i)) {
    SETMARK(i);
    mark_live(LOW(i));
    i = HIGH(i);
  }
}

extern "C" void bdd_mark(int i) { mark_live(i); }

extern "C" void bdd_mark_upto(int i, int level) {
  while (i > 1 && !MARKED(i) && !ISFREE(i) && LEVEL(i) <= (unsigned)level) {
    SETMARK(i);
    bdd_mark_upto(LOW(i), level);
    i = HIGH(i);
  }
}

extern "C" void bdd_markcount(int i, int *count) {
  while (i > 1 && !MARKED(i) && !ISFREE(i)) {
    SETMARK(i);
    (*count)++;
    bdd_markcount(LOW(i), count);
    i = HIGH(i);
  }
}

extern "C" void bdd_unmark(int i) {
  while (i > 1 && MARKED(i) && !ISFREE(i)) {
    UNMARK(i);
    bdd_unmark(LOW(i));
    i = HIGH(i);
  }
}

extern "C" void bdd_unmark_upto(int i, int level) {
  while (i > 1 && MARKED(i)) {
    UNMARK(i);
    if (LEVEL(i) > (unsigned)level) return;
    bdd_unmark_upto(LOW(i), level);
    i = HIGH(i);
  }
}

// ---------------------------------------------------------------------------
// Garbage collection

static inline void link_into_bucket(int n) {
  unsigned b = NODEHASH(LEVEL(n), LOW(n), HIGH(n));
  SETNEXT(n, HASHHEAD((int)b));
  SETHASHHEAD((int)b, n);
}

// Bucket of a marked live node, or NOT_LIVE for a slot the sweep frees.
static constexpr unsigned NOT_LIVE = ~0u;
static inline unsigned sweep_bucket(int n) {
  if (!MARKED(n) || ISFREE(n)) return NOT_LIVE;
  return NODEHASH(LEVEL(n), LOW(n), HIGH(n));
}

// How many nodes ahead the sweep looks up a live node's bucket, so that
// the bucket head (anywhere in the table) is in cache when it is linked.
enum { SWEEP_AHEAD = 16 };

// Bucket of a live node, or NOT_LIVE for a free slot.
static inline unsigned rehash_bucket(int n) {
  if (ISFREE(n)) return NOT_LIVE;
  return NODEHASH(LEVEL(n), LOW(n), HIGH(n));
}

// Rebuilds every chain and the free list in one pass downwards, so the free
// list comes out ascending and every chain lists its nodes in ascending
// order.  The collector (collect) keeps the marked nodes, clearing their
// marks, and frees the rest; the rehash keeps every node that is not free.
// Buckets are worked out SWEEP_AHEAD nodes early and their heads fetched
// meanwhile: a node's bucket depends only on its words 2 and 3 and its
// mark, which stay as they are until the node's own turn.
template <bool collect>
static void relink_table(void) {
  const int size = bddnodesize;
  BddNode *const nodes = bddnodes;
  const auto bucket = [](int n) { return collect ? sweep_bucket(n) : rehash_bucket(n); };
  const unsigned keep = collect ? ~(MARK_MASK | INDEX_MASK) : ~INDEX_MASK;
  unsigned ahead[SWEEP_AHEAD];
  for (int k = 0; k < SWEEP_AHEAD; k++) {
    const int n = size - 1 - k;
    if (n >= 2) ahead[n % SWEEP_AHEAD] = bucket(n);
  }
  int freepos = 0, freenum = 0;
  for (int n = size - 1; n >= 2; n--) {
    const unsigned b = ahead[n % SWEEP_AHEAD];
    const int m = n - SWEEP_AHEAD;
    if (m >= 2) {
      const unsigned bm = bucket(m);
      ahead[m % SWEEP_AHEAD] = bm;
      if (bm != NOT_LIVE) __builtin_prefetch(&nodes[bm], 1);
    }
    BddNode &node = nodes[n];
    if (b != NOT_LIVE) {
      node.word1 = (node.word1 & keep) | (nodes[b].word0 & INDEX_MASK);
      nodes[b].word0 = (nodes[b].word0 & ~INDEX_MASK) | (unsigned)n;
    } else {
      if (collect) node.word2 = FREE_LOW;
      node.word1 = (unsigned)freepos;
      freepos = n;
      freenum++;
    }
  }
  bddfreepos = freepos;
  bddfreenum = freenum;
}

// A collection that node creation runs when the table is full is often
// followed at once by growth, whose rehash rebuilds every chain and the
// free list again.  When the last one was, and the marking shows that
// growth will be asked for again, the collection leaves its sweep to that
// rehash: the table stays marked, with empty chains and no free list,
// until settle_table (called by the growth, or by node creation when none
// happened).  Only while no handler that could look at the table runs in
// between: the collection handler is absent or the default printer, and a
// resize handler, if any, is called on a settled table.  c2670 in
// depth-first order: three such collections, 196 ms of about 8 s.
static bool sweep_pending = false;

static inline bool handler_reads_counts_only(void) {
  return gbc_handler == nullptr || gbc_handler == bdd_default_gbchandler;
}

// Counts the marked nodes (a sequential pass, cheap beside the relink's
// scattered writes) and tells whether growth will be asked for; if so,
// bddfreenum is set to what the sweep would leave.
static bool leave_sweep_to_growth(void) {
  const BddNode *const nodes = bddnodes;
  const int size = bddnodesize;
  int marked = 0;
  for (int n = 2; n < size; n++) marked += (nodes[n].word1 & MARK_MASK) != 0;
  const int freenum = size - 2 - marked;  // every other slot is free after the sweep
  if ((long long)freenum * 100 / size > minfreenodes) return false;
  bddfreenum = freenum;
  return true;
}

static void settle_table(void) {
  if (!sweep_pending) return;
  sweep_pending = false;
  relink_table<true>();
}

static void run_collection(bool growth_likely) {
  clock_t c1 = clock();

  if (gbc_handler != nullptr) {
    GbcStat s = {bddnodesize, bddfreenum, 0, gbcclock, gbcollectnum};
    gbc_handler(1, &s);
  }

  for (int *r = bddrefstack; r < bddrefstacktop; r++) mark_live(*r);

  const int size = bddnodesize;
  BddNode *const nodes = bddnodes;
  for (int n = 0; n < size; n++) {
    if ((nodes[n].word0 & REFCOUNT_LOW_MASK) | (nodes[n].word1 & REFCOUNT_HIGH_MASK)) mark_live(n);
    nodes[n].word0 &= ~INDEX_MASK;
  }

  if (growth_likely && handler_reads_counts_only() && leave_sweep_to_growth()) {
    sweep_pending = true;
    bddfreepos = 0;
  } else {
    relink_table<true>();
  }

  kernel_forget();

  clock_t c2 = clock();
  gbcclock += (int)(c2 - c1);
  gbcollectnum++;

  if (gbc_handler != nullptr) {
    GbcStat s = {bddnodesize, bddfreenum, (int)(c2 - c1), gbcclock, gbcollectnum};
    gbc_handler(0, &s);
  }
}

extern "C" void bdd_gbc(void) { run_collection(false); }

extern "C" void bdd_gbc_rehash(void) {
  // A pending sweep is finished by the collector's relink, which also frees.
  if (sweep_pending) settle_table();
  else relink_table<false>();
}

// ---------------------------------------------------------------------------
// Growth

extern "C" int bdd_noderesize(int doRehash) {
  int oldsize = bddnodesize;
  if (bddmaxnodesize > 0 && oldsize >= bddmaxnodesize) return -1;

  double grown = (double)oldsize * bddincreasefactor;
  long long newsize = grown >= (double)LLONG_MAX ? LLONG_MAX : (long long)grown;
  if (newsize > (long long)oldsize + bddmaxnodeincrease)
    newsize = (long long)oldsize + bddmaxnodeincrease;
  if (bddmaxnodesize > 0 && newsize > bddmaxnodesize) newsize = bddmaxnodesize;
  if (newsize > MAX_TABLE_SIZE) newsize = MAX_TABLE_SIZE;

  return bdd_noderesize2(doRehash, oldsize, (int)newsize);
}

extern "C" int bdd_noderesize2(int doRehash, int oldsize, int newsize) {
  // Without a running engine there is no table to enlarge.
  if (!bddrunning) return 0;
  if (newsize > MAX_TABLE_SIZE) newsize = MAX_TABLE_SIZE;
  if (newsize <= oldsize) return 0;
  newsize = (int)bdd_prime_lte((unsigned)newsize);
  if (newsize <= oldsize) return 0;
  // A resize handler sees a settled table.
  if (resize_handler != nullptr) settle_table();

  // Enlarge the block before anything changes, so a refusal leaves the old
  // table and its size in force.
  if (newsize > reserved_nodes) {
    BddNode *grown = (BddNode *)realloc(alloced, sizeof(BddNode) * (size_t)newsize);
    if (grown == nullptr) {
      settle_table();  // before the error handler runs
      return bdd_error(BDD_ERR_MEMORY);
    }
    alloced = grown;
    reserved_nodes = newsize;
    advise_large_pages(alloced, sizeof(BddNode) * (size_t)newsize);
  }
  bddnodes = alloced;

  bddnodesize = newsize;
  nodemod = FASTMOD_FOR((unsigned)newsize);
  if (resize_handler != nullptr) resize_handler(oldsize, newsize);

  // A pending sweep has emptied the chains already.
  if (doRehash && !sweep_pending)
    for (int n = 0; n < oldsize; n++) SETHASHHEAD(n, 0);

  init_free_slots(oldsize, newsize);
  SETNEXT(newsize - 1, bddfreepos);
  bddfreepos = oldsize;
  bddfreenum += newsize - oldsize;

  if (doRehash) bdd_gbc_rehash();

  bddresized = 1;
  return 0;
}

extern "C" int bdd_setallocnum(int size) {
  int old = bddnodesize;
  bdd_noderesize2(1, old, size);
  return old;
}

// ---------------------------------------------------------------------------
// Variables

static int refstack_capacity(int varnum) {
  // Operators nest one recursion inside another (an if-then-else under a
  // vector composition, say), each using up to two entries per level.
  return 4 * varnum + 16;
}

extern "C" int bdd_setvarnum(int num) {
  // The variable nodes need a node table.
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  int old = bddvarnum;
  const int suspension = reorder_suspend();

  if (num < 1 || num > MAX_VARNUM) {
    bdd_error(BDD_ERR_RANGE);
    reorder_resume(suspension);
    return 0;
  }
  if (num < bddvarnum) {
    bdd_error(BDD_ERR_DECVARNUM);
    reorder_resume(suspension);
    return BDD_ERR_DECVARNUM;
  }
  if (num == bddvarnum) {
    reorder_resume(suspension);
    return 0;
  }

  // realloc keeps the old array valid when it fails, so every pointer stays
  // usable whichever allocation is refused.
  int *vs = (int *)realloc(bddvarset, sizeof(int) * 2 * (size_t)num);
  if (vs != nullptr) bddvarset = vs;
  int *l2v = vs ? (int *)realloc(bddlevel2var, sizeof(int) * ((size_t)num + 1)) : nullptr;
  if (l2v != nullptr) bddlevel2var = l2v;
  int *v2l = l2v ? (int *)realloc(bddvar2level, sizeof(int) * ((size_t)num + 1)) : nullptr;
  if (v2l != nullptr) bddvar2level = v2l;
  int *stack = v2l ? (int *)malloc(sizeof(int) * (size_t)refstack_capacity(num)) : nullptr;
  if (stack == nullptr) {
    bdd_error(BDD_ERR_MEMORY);
    reorder_resume(suspension);
    return BDD_ERR_MEMORY;
  }
  free(bddrefstack);
  bddrefstack = bddrefstacktop = stack;
  bddrefstackend = stack + refstack_capacity(num);

  for (int v = old; v < num; v++) {
    bddvarnum = v;
    bddvarset[2 * v] = bdd_makenode((unsigned)v, 0, 1);
    PUSHREF(bddvarset[2 * v]);
    bddvarset[2 * v + 1] = bdd_makenode((unsigned)v, 1, 0);
    POPREF(1);

    if (bdderrorcond) {
      // Release the nodes of the variables that will not exist after all.
      for (int k = old; k < v; k++) {
        SETREFCOUNT(bddvarset[2 * k], 0);
        SETREFCOUNT(bddvarset[2 * k + 1], 0);
      }
      bddvarnum = old;
      reorder_resume(suspension);
      return -bdderrorcond;
    }

    SETREFCOUNT(bddvarset[2 * v], MAX_REFCOUNT);
    SETREFCOUNT(bddvarset[2 * v + 1], MAX_REFCOUNT);
    bddlevel2var[v] = v;
    bddvar2level[v] = v;
    bddvarnum = v + 1;
  }

  SETLEVEL(0, (unsigned)num);
  SETLEVEL(1, (unsigned)num);
  bddvar2level[num] = num;
  bddlevel2var[num] = num;

  run_hooks(&KernelHooks::varnum, false, old, bddvarnum);

  reorder_resume(suspension);
  return 0;
}

extern "C" int bdd_extvarnum(int num) {
  if ((unsigned)num > 0x3FFFFFFFu) return bdd_error(BDD_ERR_RANGE);
  int old = bddvarnum;
  bdd_setvarnum(old + num);
  return old;
}

extern "C" int bdd_varnum(void) { return bddvarnum; }

extern "C" int bdd_scanset(BDD r, int **varset, int *varnum) {
  int err = bdd_checkroot(r);
  if (err < 0) return err;

  if (r < 2) {
    *varnum = 0;
    *varset = nullptr;
    return 0;
  }

  int count = 0;
  for (int n = r; n > 1; n = HIGH(n)) count++;

  int *vars = (int *)malloc(sizeof(int) * (size_t)count);
  if (vars == nullptr) return bdd_error(BDD_ERR_MEMORY);

  int k = 0;
  for (int n = r; n > 1; n = HIGH(n)) vars[k++] = bddlevel2var[LEVEL(n)];

  *varset = vars;
  *varnum = count;
  return 0;
}

// ---------------------------------------------------------------------------
// Variable duplication

// Removes live node n from the chain of its bucket.
static void unlink_node(int n) {
  int b = (int)NODEHASH(LEVEL(n), LOW(n), HIGH(n));
  int cur = HASHHEAD(b);
  if (cur == n) {
    SETHASHHEAD(b, NEXT(n));
    return;
  }
  while (cur != 0) {
    int next = NEXT(cur);
    if (next == n) {
      SETNEXT(cur, NEXT(n));
      return;
    }
    cur = next;
  }
}

static void release_node(int n) {
  unlink_node(n);
  SETREFCOUNT(n, 0);
  UNMARK(n);
  bddnodes[n].word2 = FREE_LOW;
  SETNEXT(n, bddfreepos);
  bddfreepos = n;
  bddfreenum++;
}

// Opens level lev + 1 by moving every node below lev one level down; the
// new variable's own nodes (on the last level) stay where they are.
static void insert_level(int lev) {
  const unsigned newvarlevel = (unsigned)bddvarnum - 1;
  for (int n = 2; n < bddnodesize; n++) {
    if (ISFREE(n)) continue;
    unsigned l = LEVEL(n);
    if (l <= (unsigned)lev || l == newvarlevel) continue;
    unlink_node(n);
    SETLEVEL(n, l + 1);
    link_into_bucket(n);
  }
}

// Rewrites every node of level lev so that its paths also require the
// variable on level lev + 1 to be val.
static void dup_level(int lev, int val) {
  INITREF();
  for (int n = 2; n < bddnodesize; n++) {
    if (ISFREE(n) || LEVEL(n) != (unsigned)lev || (unsigned)lev == (unsigned)bddvarnum - 1)
      continue;
    int lo = LOW(n), hi = HIGH(n);
    INCREF(n);
    int nlo = val ? bdd_makenode((unsigned)lev + 1, 0, lo) : bdd_makenode((unsigned)lev + 1, lo, 0);
    PUSHREF(nlo);
    int nhi = val ? bdd_makenode((unsigned)lev + 1, 0, hi) : bdd_makenode((unsigned)lev + 1, hi, 0);
    POPREF(1);
    DECREF(n);
    unlink_node(n);
    SETLOW(n, nlo);
    SETHIGH(n, nhi);
    link_into_bucket(n);
  }
}

extern "C" int bdd_duplicatevar(int var) {
  if (var < 0 || var >= bddvarnum) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return 0;
  }

  const int suspension = reorder_suspend();
  const int n = bddvarnum;
  const int lev = bddvar2level[var];

  bdd_setvarnum(n + 1);
  if (bddvarnum != n + 1) {
    reorder_resume(suspension);
    return 0;
  }

  // Moving the lowest old level down makes its two variable nodes coincide
  // with the two nodes just built for the new variable on that level; drop
  // the new ones (only bddvarset refers to them, and it is rebuilt below).
  if (lev < n - 1) {
    release_node(bddvarset[2 * n]);
    release_node(bddvarset[2 * n + 1]);
  }

  insert_level(lev);
  dup_level(lev, 0);

  for (int i = 0; i < bddvarnum; i++)
    if (bddvar2level[i] > lev && bddvar2level[i] < bddvarnum) bddvar2level[i]++;
  bddvar2level[n] = lev + 1;

  for (int j = bddvarnum - 2; j >= lev + 1; j--) bddlevel2var[j + 1] = bddlevel2var[j];
  bddlevel2var[lev + 1] = n;

  INITREF();
  for (int v = 0; v < bddvarnum; v++) {
    bddvarset[2 * v] = bdd_makenode((unsigned)bddvar2level[v], 0, 1);
    PUSHREF(bddvarset[2 * v]);
    bddvarset[2 * v + 1] = bdd_makenode((unsigned)bddvar2level[v], 1, 0);
    POPREF(1);
    SETREFCOUNT(bddvarset[2 * v], MAX_REFCOUNT);
    SETREFCOUNT(bddvarset[2 * v + 1], MAX_REFCOUNT);
  }

  run_hooks(&KernelHooks::inserted, false, lev, n);

  // Node indices now denote other functions: no cached result may survive.
  kernel_forget();
  reorder_resume(suspension);
  return n;
}
