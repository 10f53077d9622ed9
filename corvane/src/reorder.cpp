/* Dynamic variable reordering.
 *
 * A reordering run converts the node table into a working form: the level
 * field of every node holds its variable number, each variable hashes its
 * nodes into its own slice of the bucket heads, and reference counts also
 * count references from live nodes, so that a node is released the moment
 * its last parent lets go. Adjacent levels are then exchanged in place
 * (every node index keeps its function), whole blocks are moved by series
 * of exchanges, and the strategies search for a smaller table. The end of
 * the run converts back and collects garbage. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "imatrix.h"
#include "pairs_internal.h"
#include "prime.h"
#include "reorder_internal.h"

namespace {

struct LevelRegion {
  int start;   /* first node whose hash field heads one of this variable's buckets */
  int size;    /* number of buckets */
  FastMod mod; /* size as a divisor: the exchange hashes several times a node */
  int maxsize; /* width of the variable's share of the table */
  int nodenum; /* live nodes of the variable */
};

struct BlockWeight {
  int weight;
  BddTree *block;
};

}  // namespace

/* ---- settings and hooks ---------------------------------------------- */

static int bddreordermethod = REORDER_NONE;
static int bddreordertimes = 0;
static int verbose = 0;
static bddinthandler reorder_handler = NULL;
static bddsizehandler reorder_nodenum = NULL;
static int usednum_before = 0;
static int usednum_after = 0;

/* ---- state of a run ----------------------------------------------------- */

static LevelRegion *levels = NULL;
static int *extroots = NULL;
static unsigned *extrootcount = NULL; /* each root's own count when the run began */
static int extrootsize = 0;
static imatrix *iactmtx = NULL;
static int grown_in_exchange = 0;
/* Set when an exchange had to be refused for lack of nodes: every move
 * after that is skipped and the pass winds down with the diagrams intact. */
static int reorder_failed = 0;
/* Level order saved before a compound move: the way back to it when the
 * move log below could not be kept. */
static int *ordersnap = NULL;

/* Scratch of the level exchange: the nodes of the upper level in bucket
 * order and the bucket of each. Gathering them first lets the child tests
 * and the lookups of the move load their nodes ahead of use. */
static int *scan = NULL;
static int *scanbucket = NULL;
static int scancap = 0;

/* One bit per bucket, set whenever a node goes into the bucket and cleared
 * when a scan finds it empty, so a clear bit means an empty bucket: the
 * exchange visits only the occupied buckets of a level's region, which is
 * mostly empty once the levels are small. Null when it could not be had. */
static uint64_t *occupied = NULL;

/* Exchanges made by the compound move in progress (the variable that went
 * down each time), so a refused exchange can be undone exactly: replaying
 * the inverses in reverse order revisits the same orders, and each inverse
 * needs only the nodes its forward exchange freed. */
static int *movelog = NULL;
static int movelogsize = 0;
static int movelogcap = 0;
static bool movelog_on = false;
static bool movelog_lost = false;

/* Scratch of the root marking. */
static char *depvec = NULL;
static int *deplist = NULL;
static int depcount = 0;
static int *rowstamp = NULL;
static int walkstamp = 0;

static inline int VAR(int n) { return (int)LEVEL(n); }

static inline int nodecount_now(void) { return reorder_nodenum(); }

static inline int region_bucket(int var, int low, int high) {
  const LevelRegion &r = levels[var];
  return r.start + (int)FASTMOD(PAIR((unsigned)low, (unsigned)high), r.mod);
}

static inline bool interacts(int a, int b) {
  return (iactmtx->rows[a][b >> 3] >> (b & 7)) & 1;
}

/* ---- root marking --------------------------------------------------------- */

static inline void dep_set(int v) {
  if (!depvec[v]) {
    depvec[v] = 1;
    deplist[depcount++] = v;
  }
}

/* Every variable that interacts with v, already recorded for an earlier
 * root, is in the support of a node of v met again. */
static void dep_addrow(int v) {
  if (rowstamp[v] == walkstamp) return;
  rowstamp[v] = walkstamp;
  const char *row = iactmtx->rows[v];
  for (int k = 0; k < bddvarnum; k++)
    if ((row[k >> 3] >> (k & 7)) & 1) dep_set(k);
}

/* Records that all variables of the current dependency list interact. */
static void add_dependencies(void) {
  for (int i = 0; i < depcount; i++)
    for (int j = 0; j < depcount; j++) {
      int a = deplist[i], b = deplist[j];
      iactmtx->rows[a][b >> 3] |= (char)(1 << (b & 7));
    }
}

static void dep_clear(void) {
  for (int i = 0; i < depcount; i++) depvec[deplist[i]] = 0;
  depcount = 0;
  walkstamp++;
}

/* Counts one more parent of r. The first visit walks r's children; the
 * mark flags an external root whose own walk has not happened yet, so a
 * root met through another root is walked exactly once. */
static void addref_rec(int r) {
  if (r < 2) return;
  if (REFCOUNT(r) == 0 || MARKED(r)) {
    UNMARK(r);
    int v = VAR(r);
    dep_set(v);
    levels[v].nodenum++;
    addref_rec(LOW(r));
    addref_rec(HIGH(r));
  } else {
    dep_addrow(VAR(r));
  }
  INCREF(r);
}

static void mark_roots(void) {
  int k = 0;
  for (int n = 0; n < bddnodesize; n++) {
    if (n >= 2 && !ISFREE(n)) {
      SETLEVEL(n, (unsigned)bddlevel2var[LEVEL(n)]);
      if (REFCOUNT(n) != 0) {
        SETMARK(n);
        extroots[k] = n;
        extrootcount[k] = REFCOUNT(n);
        k++;
      }
    }
    SETHASHHEAD(n, 0);
  }
  extrootsize = k;

  for (int i = 0; i < extrootsize; i++) {
    int n = extroots[i];
    if (!MARKED(n)) continue; /* walked as part of an earlier root */
    UNMARK(n);
    int v = VAR(n);
    dep_set(v);
    levels[v].nodenum++;
    addref_rec(LOW(n));
    addref_rec(HIGH(n));
    add_dependencies();
    dep_clear();
  }
}

/* ---- regions, rebuild ------------------------------------------------------ */

static void reorder_set_level_lookup(void) {
  for (int v = 0; v < bddvarnum; v++) {
    int maxsize = bddnodesize / bddvarnum;
    if (maxsize < 1) maxsize = 1;
    levels[v].maxsize = maxsize;
    levels[v].start = v * maxsize;
    levels[v].size = maxsize;
    if (levels[v].size > 3) levels[v].size = (int)bdd_prime_lte((unsigned)maxsize);
    levels[v].mod = FASTMOD_FOR((unsigned)levels[v].size);
  }
}

static inline void occupy(int b) {
  if (occupied != NULL) occupied[b >> 6] |= (uint64_t)1 << (b & 63);
}

/* Fresh bits for the table as it is now: all clear, each push sets one. */
static void occupied_reset(void) {
  free(occupied);
  occupied = (uint64_t *)calloc((size_t)bddnodesize / 64 + 1, sizeof(uint64_t));
}

static inline void push_chain_at(int n, int b) {
  SETNEXT(n, HASHHEAD(b));
  SETHASHHEAD(b, n);
  occupy(b);
}

static inline void push_chain(int n) { push_chain_at(n, region_bucket(VAR(n), LOW(n), HIGH(n))); }

static inline void push_free(int n) {
  SETNEXT(n, bddfreepos);
  bddfreepos = n;
}

static void reorder_gbc(void) {
  bddfreepos = 0;
  bddfreenum = 0;
  for (int n = bddnodesize - 1; n >= 2; n--) {
    if (REFCOUNT(n) != 0) {
      push_chain(n);
    } else {
      SETLOW(n, FREE_LOW);
      push_free(n);
      bddfreenum++;
    }
  }
}

static void reorder_rehash_all(void) {
  reorder_set_level_lookup();
  occupied_reset();
  bddfreepos = 0;
  for (int n = bddnodesize - 1; n >= 0; n--) SETHASHHEAD(n, 0);
  for (int n = bddnodesize - 1; n >= 2; n--) {
    if (!ISFREE(n))
      push_chain(n);
    else
      push_free(n);
  }
}

/* ---- node creation within a run --------------------------------------------- */

/* Exchanges and reservations create nodes in one of two ways. */
enum class Claim {
  /* for the move itself: the result gains a reference (the moved node's),
   * and a node made here starts with that one.  reorder_vardown has made
   * sure beforehand that enough nodes are free or reserved. */
  counted,
  /* for the reservation: an absent node is made without a count of its own
   * (the move finds and counts it), growing the table if no node is free. */
  reserved
};

/* Returned by reorder_node when a reservation finds no node. */
static const int NO_NODE = -1;

/* Makes one more free node by growing the table. The error is raised once,
 * as kernel node creation does, and not again while the condition holds. */
static bool grow_for_exchange(void) {
  if (bdderrorcond) return false;
  bdd_noderesize(0);
  if (bddfreepos != 0) {
    grown_in_exchange = 1;
    return true;
  }
  bdd_error(BDD_ERR_NODENUM);
  bdderrorcond = -BDD_ERR_NODENUM;
  return false;
}

/* The node (var, low, high) of a run: found in var's region or made there
 * from the first free node. */
template <Claim claim>
static inline __attribute__((always_inline)) int reorder_node_at(int var, int b, int low,
                                                                 int high) {
  unsigned w2 = LEVLOW_WORD((unsigned)var, low);
  unsigned w3 = LEVHIGH_WORD((unsigned)var, high);
  for (int r = HASHHEAD(b); r != 0; r = NEXT(r)) {
    if (bddnodes[r].word2 == w2 && bddnodes[r].word3 == w3) {
      if (claim == Claim::counted) INCREF(r);
      return r;
    }
  }
  /* Growth keeps b valid: regions are recomputed only after the exchange. */
  if (claim == Claim::reserved && bddfreepos == 0 && !grow_for_exchange()) return NO_NODE;
  assert(bddfreepos != 0);
  int r = bddfreepos;
  bddfreepos = NEXT(r);
  /* The free list of a run threads freed nodes in no order: ask for the
   * next one now, so the next creation does not wait for it. */
  __builtin_prefetch(&bddnodes[bddfreepos], 1);
  bddfreenum--;
  bddproduced++;
  levels[var].nodenum++;
  bddnodes[r].word1 = (unsigned)HASHHEAD(b); /* next; count high bits and mark clear */
  bddnodes[r].word2 = w2;
  bddnodes[r].word3 = w3;
  SETREFCOUNT(r, claim == Claim::counted ? 1 : 0);
  SETHASHHEAD(b, r);
  occupy(b);
  INCREF(low);
  INCREF(high);
  return r;
}

/* The bucket of the node (var, low, high), or -1 when low == high makes
 * no node. */
static inline int node_bucket(int var, int low, int high) {
  return low == high ? -1 : region_bucket(var, low, high);
}

/* reorder_node with the bucket node_bucket gives already at hand. */
template <Claim claim>
static inline __attribute__((always_inline)) int reorder_node_in(int var, int b, int low, int high) {
  if (b < 0) {
    if (claim == Claim::counted) INCREF(low);
    return low;
  }
  return reorder_node_at<claim>(var, b, low, high);
}

template <Claim claim>
static inline __attribute__((always_inline)) int reorder_node(int var, int low, int high) {
  return reorder_node_in<claim>(var, node_bucket(var, low, high), low, high);
}

/* The two halves of f, a child of a node of the upper variable, by var1,
 * the lower variable of an exchange: f's children if f tests var1, else f
 * twice. */
static inline void split_by_var(int f, int var1, int *f0, int *f1) {
  if (VAR(f) == var1) {
    *f0 = LOW(f);
    *f1 = HIGH(f);
  } else {
    *f0 = *f1 = f;
  }
}

/* ---- level exchange --------------------------------------------------------- */

/* Node r of var0 (region reg), taken from bucket b: put back in its chain when neither
 * child is of var1 (it keeps its place), else pushed on *list to move.
 * Returns whether it moves. */
__attribute__((always_inline)) static inline bool detach_if_moving(LevelRegion &reg, int r, int b,
                                                             int var1, int *list) {
  if (VAR(LOW(r)) != var1 && VAR(HIGH(r)) != var1) {
    SETNEXT(r, HASHHEAD(b));
    SETHASHHEAD(b, r);
    reg.nodenum++;
    return false;
  }
  SETNEXT(r, *list);
  *list = r;
  return true;
}

/* Detaches the nodes of var0 that have a child of var1; returns them as a
 * list through next and their number in *count. */
static int reorder_down_simple(int var0, int var1, int *count) {
  LevelRegion &reg = levels[var0];
  int list = 0, k = 0;
  reg.nodenum = 0;
  for (int b = reg.start; b < reg.start + reg.size; b++) {
    int r = HASHHEAD(b);
    SETHASHHEAD(b, 0);
    while (r != 0) {
      int next = NEXT(r);
      if (detach_if_moving(reg, r, b, var1, &list)) k++;
      r = next;
    }
  }
  *count = k;
  return list;
}

/* Undoes reorder_down_simple for a refused exchange. */
static void reorder_putback(int list, int var0) {
  while (list != 0) {
    int next = NEXT(list);
    push_chain(list);
    levels[var0].nodenum++;
    list = next;
  }
}

/* Removes live node n from the chain of its bucket. */
static inline __attribute__((always_inline)) void unlink_chain(int n) {
  const int b = region_bucket(VAR(n), LOW(n), HIGH(n));
  int cur = HASHHEAD(b);
  if (cur == n) {
    SETHASHHEAD(b, NEXT(n));
    return;
  }
  while (cur != 0 && NEXT(cur) != n) cur = NEXT(cur);
  if (cur != 0) SETNEXT(cur, NEXT(n));
}

/* Drops one parent of f.  A node of var1 that loses its last parent here
 * is freed at once (its children are held by the new nodes of var0).  A
 * node of var1 can only lose parents during the move, so the nodes freed
 * here are exactly those a scan of var1's whole region afterwards would
 * free, and the exchange never visits var1's surviving nodes. */
static inline void release_child(int f, int var1) {
  DECREF(f);
  if (f < 2 || REFCOUNT(f) != 0 || VAR(f) != var1) return;
  unlink_chain(f);
  DECREF(LOW(f));
  DECREF(HIGH(f));
  SETLOW(f, FREE_LOW);
  push_free(f);
  levels[var1].nodenum--;
  bddfreenum++;
}

/* Moves node n of var0 below var1: its new children are var0 nodes over
 * the grandchildren, and n itself becomes a var1 node. The plain pass
 * hashes the new nodes here and chains n at once; the gathered one passes
 * the buckets it computed ahead (node_bucket) in b0 and b1 and chains n
 * itself. */
template <bool plain>
__attribute__((always_inline)) static inline void move_node(int n, int var0, int var1, int b0,
                                                            int b1) {
    int f0 = LOW(n), f1 = HIGH(n);
    int f00, f01, f10, f11;
    split_by_var(f0, var1, &f00, &f01);
    split_by_var(f1, var1, &f10, &f11);
    if (plain) {
      b0 = node_bucket(var0, f00, f10);
      b1 = node_bucket(var0, f01, f11);
    }
    int g0 = reorder_node_in<Claim::counted>(var0, b0, f00, f10);
    int g1 = reorder_node_in<Claim::counted>(var0, b1, f01, f11);
    release_child(f0, var1);
    release_child(f1, var1);
    SETLEVLOWHIGH(n, (unsigned)var1, g0, g1);
    levels[var1].nodenum++;
    if (plain) push_chain(n);
}

static void reorder_swap(int list, int var0, int var1) {
  while (list != 0) {
    int n = list;
    list = NEXT(n);
    move_node<true>(n, var0, var1, 0, 0);
  }
}

/* Distance, in nodes, at which the gathered passes below load ahead. */
static const int AHEAD = 8;

static bool scan_reserve(int n) {
  if (n <= scancap) return true;
  int cap = n + n / 2 + 64;
  int *a = (int *)realloc(scan, sizeof(int) * (size_t)cap);
  if (a == NULL) return false;
  scan = a;
  int *b = (int *)realloc(scanbucket, sizeof(int) * (size_t)cap);
  if (b == NULL) return false;
  scanbucket = b;
  scancap = cap;
  return true;
}

/* Appends the chain of bucket b to the scratch; false when it is full. */
static inline bool gather_chain(int b, int *n) {
  for (int r = HASHHEAD(b); r != 0; r = NEXT(r)) {
    if (*n == scancap) return false;
    scan[*n] = r;
    scanbucket[(*n)++] = b;
  }
  return true;
}

/* reorder_down_simple from a gathered copy of var0's chains: the same kept
 * chains and the same list, and the moved nodes also in scan[0..*count) in
 * the order met (the list runs backwards through them). Returns -1, with
 * nothing changed, when the scratch cannot hold the level. */
static int reorder_down_gathered(int var0, int var1, int *count) {
  LevelRegion &reg = levels[var0];
  if (!scan_reserve(reg.nodenum)) return -1;
  const int end = reg.start + reg.size;
  int n = 0;
  if (occupied != NULL) {
    /* A chain is walked AHEAD buckets after its head node was asked for, so
     * that the heads, scattered over the table, load side by side. */
    int pending[AHEAD];
    int found = 0;
    for (int w = reg.start >> 6; w <= (end - 1) >> 6; w++) {
      for (uint64_t bits = occupied[w]; bits != 0; bits &= bits - 1) {
        int b = (w << 6) + __builtin_ctzll(bits);
        if (b < reg.start || b >= end) continue;
        int head = HASHHEAD(b);
        if (head == 0) {
          occupied[w] &= ~((uint64_t)1 << (b & 63));
          continue;
        }
        __builtin_prefetch(&bddnodes[head]);
        int slot = found++ % AHEAD;
        if (found > AHEAD && !gather_chain(pending[slot], &n)) return -1;
        pending[slot] = b;
      }
    }
    for (int j = found > AHEAD ? found - AHEAD : 0; j < found; j++)
      if (!gather_chain(pending[j % AHEAD], &n)) return -1;
  } else {
    for (int b = reg.start; b < end; b++) {
      if (b + AHEAD < end) __builtin_prefetch(&bddnodes[HASHHEAD(b + AHEAD)]);
      if (!gather_chain(b, &n)) return -1;
    }
  }
  for (int i = 0; i < n; i++) SETHASHHEAD(scanbucket[i], 0);
  int list = 0, k = 0;
  reg.nodenum = 0;
  for (int i = 0; i < n; i++) {
    if (i + 2 * AHEAD < n) __builtin_prefetch(&bddnodes[scan[i + 2 * AHEAD]]);
    if (i + AHEAD < n) {
      int a = scan[i + AHEAD];
      __builtin_prefetch(&bddnodes[LOW(a)]);
      __builtin_prefetch(&bddnodes[HIGH(a)]);
    }
    int r = scan[i], b = scanbucket[i];
    if (detach_if_moving(reg, r, b, var1, &list)) scan[k++] = r;
  }
  *count = k;
  return list;
}

/* Computes the var0 buckets of the new nodes of a, a node of var0 about to
 * move, into ab (node_bucket), and loads the grandchildren those nodes
 * will count, the buckets, and the var1 chains a's move will unlink from.
 * The buckets hold until a moves: a keeps its children until then. */
__attribute__((always_inline)) static inline void plan_move(int a, int var0, int var1, int *ab) {
  int a00, a01, a10, a11;
  split_by_var(LOW(a), var1, &a00, &a01);
  split_by_var(HIGH(a), var1, &a10, &a11);
  __builtin_prefetch(&bddnodes[a00]);
  __builtin_prefetch(&bddnodes[a01]);
  __builtin_prefetch(&bddnodes[a10]);
  __builtin_prefetch(&bddnodes[a11]);
  ab[0] = node_bucket(var0, a00, a10);
  ab[1] = node_bucket(var0, a01, a11);
  if (ab[0] >= 0) __builtin_prefetch(&bddnodes[ab[0]]);
  if (ab[1] >= 0) __builtin_prefetch(&bddnodes[ab[1]]);
  /* A child held only by a is unlinked from its chain when a moves. */
  int c0 = LOW(a), c1 = HIGH(a);
  if (a00 != c0 && REFCOUNT(c0) == 1) __builtin_prefetch(&bddnodes[region_bucket(var1, a00, a01)]);
  if (a10 != c1 && REFCOUNT(c1) == 1) __builtin_prefetch(&bddnodes[region_bucket(var1, a10, a11)]);
}

/* reorder_swap over scan[0..k), last first (the list's order, so nodes are
 * made and freed in the same sequence); the children and the buckets of the
 * new nodes of a later node are loaded while this one is moved. */
static void reorder_swap_gathered(int k, int var0, int var1) {
  /* The var0 buckets of node j's new nodes, in slot j % AHEAD from AHEAD / 2
   * nodes before its move until the move uses them; the first node of each
   * chain is asked for AHEAD / 4 nodes before. */
  int ahead_bucket[AHEAD][2];
  for (int i = k - 1; i >= 0 && i >= k - AHEAD / 2; i--)
    plan_move(scan[i], var0, var1, ahead_bucket[i % AHEAD]);
  for (int i = k - 1; i >= 0; i--) {
    if (i >= 2 * AHEAD) __builtin_prefetch(&bddnodes[scan[i - 2 * AHEAD]]);
    if (i >= AHEAD) {
      int a = scan[i - AHEAD];
      __builtin_prefetch(&bddnodes[LOW(a)]);
      __builtin_prefetch(&bddnodes[HIGH(a)]);
    }
    if (i >= AHEAD / 2) plan_move(scan[i - AHEAD / 2], var0, var1, ahead_bucket[(i - AHEAD / 2) % AHEAD]);
    if (i >= AHEAD / 4) {
      const int *ab = ahead_bucket[(i - AHEAD / 4) % AHEAD];
      if (ab[0] >= 0) __builtin_prefetch(&bddnodes[HASHHEAD(ab[0])]);
      if (ab[1] >= 0) __builtin_prefetch(&bddnodes[HASHHEAD(ab[1])]);
    }
    const int *own = ahead_bucket[i % AHEAD];
    move_node<false>(scan[i], var0, var1, own[0], own[1]);
  }
  /* The moved nodes join var1's chains only now, in the order they moved.
   * Nothing in the move looks a var1 node up, and an unlink finds its node
   * with or without them in front, so the chains end as a push per move
   * leaves them; but the buckets, known only once the new children are,
   * can now be loaded ahead of the push. */
  for (int i = k - 1; i >= 0; i--) {
    int n = scan[i];
    int b = region_bucket(var1, LOW(n), HIGH(n));
    scanbucket[i] = b;
    __builtin_prefetch(&bddnodes[b], 1);
    if (i + AHEAD < k) push_chain_at(scan[i + AHEAD], scanbucket[i + AHEAD]);
  }
  for (int i = (k < AHEAD ? k : AHEAD) - 1; i >= 0; i--) push_chain_at(scan[i], scanbucket[i]);
}

/* Frees the var1 nodes that lost their last parent in the move. Their
 * children survive: the new var0 nodes reference them. */
static void reorder_local_gbc(int var1) {
  LevelRegion &reg = levels[var1];
  for (int b = reg.start; b < reg.start + reg.size; b++) {
    int r = HASHHEAD(b);
    SETHASHHEAD(b, 0);
    while (r != 0) {
      int next = NEXT(r);
      if (REFCOUNT(r) != 0) {
        SETNEXT(r, HASHHEAD(b));
        SETHASHHEAD(b, r);
      } else {
        DECREF(LOW(r));
        DECREF(HIGH(r));
        SETLOW(r, FREE_LOW);
        push_free(r);
        reg.nodenum--;
        bddfreenum++;
      }
      r = next;
    }
  }
}

/* Creates every node the move of `list` will need, so that the move itself
 * cannot run out of nodes halfway. On exhaustion the nodes created here
 * (the only var0 nodes without a count) are released again. */
static bool reorder_reserve(int list, int var0, int var1) {
  for (int n = list; n != 0; n = NEXT(n)) {
    int f00, f01, f10, f11;
    split_by_var(LOW(n), var1, &f00, &f01);
    split_by_var(HIGH(n), var1, &f10, &f11);
    if (reorder_node<Claim::reserved>(var0, f00, f10) == NO_NODE ||
        reorder_node<Claim::reserved>(var0, f01, f11) == NO_NODE) {
      reorder_local_gbc(var0);
      return false;
    }
  }
  return true;
}

static void log_move(int var) {
  if (!movelog_on || movelog_lost) return;
  if (movelogsize == movelogcap) {
    int cap = movelogcap ? 2 * movelogcap : 64;
    int *grown = (int *)realloc(movelog, sizeof(int) * (size_t)cap);
    if (grown == NULL) {
      movelog_lost = true;
      return;
    }
    movelog = grown;
    movelogcap = cap;
  }
  movelog[movelogsize++] = var;
}

static int reorder_vardown(int var) {
  if (var < 0 || var >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  int level = bddvar2level[var];
  if (level >= bddvarnum - 1) return 0;
  grown_in_exchange = 0;
  int var1 = bddlevel2var[level + 1];

  if (interacts(var, var1)) {
    int k;
    int list = reorder_down_gathered(var, var1, &k);
    bool gathered = list >= 0;
    if (!gathered) list = reorder_down_simple(var, var1, &k);
    /* Each moved node needs at most two new nodes; only when fewer are free
     * is it worth finding out exactly which. */
    if (bddfreenum < 2 * k && !reorder_reserve(list, var, var1)) {
      reorder_putback(list, var);
      if (grown_in_exchange) reorder_rehash_all();
      return BDD_ERR_NODENUM;
    }
    if (gathered)
      reorder_swap_gathered(k, var, var1);
    else
      reorder_swap(list, var, var1);
  }

  bddlevel2var[level] = var1;
  bddlevel2var[level + 1] = var;
  bddvar2level[var] = level + 1;
  bddvar2level[var1] = level;
  bdd_pairs_vardown(level);
  log_move(var);

  if (grown_in_exchange) reorder_rehash_all();
  return 0;
}

static int reorder_varup(int var) {
  if (var < 0 || var >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  int level = bddvar2level[var];
  if (level == 0) return 0;
  return reorder_vardown(bddlevel2var[level - 1]);
}

static void log_begin(void) {
  movelogsize = 0;
  movelog_lost = false;
  movelog_on = true;
}

static void log_end(void) { movelog_on = false; }

static void order_save(int lo, int hi) {
  for (int l = lo; l <= hi; l++) ordersnap[l] = bddlevel2var[l];
}

/* Takes back the exchanges of the compound move in progress. The inverses
 * replayed in reverse order cannot run short of nodes; only if the log could
 * not be kept is the saved order rebuilt by plain bubbling instead, which
 * stops at the first refused exchange. */
static void undo_moves(int lo, int hi) {
  movelog_on = false;
  if (!movelog_lost) {
    for (int i = movelogsize - 1; i >= 0; i--)
      if (reorder_varup(movelog[i]) < 0) break;
    movelogsize = 0;
    return;
  }
  for (int l = lo; l <= hi; l++) {
    int v = ordersnap[l];
    while (bddvar2level[v] > l)
      if (reorder_varup(v) < 0) return;
  }
}

static inline int lev(int v) { return bddvar2level[v]; }

/* Exchanges block left with its successor, in the order and in the list. */
static void blockdown(BddTree *left) {
  if (reorder_failed) return;
  BddTree *right = left->next;
  int ls = left->last - left->first;
  int rs = right->last - right->first;
  int s = lev(left->seq[0]);
  int e = lev(right->seq[rs]);
  if (e < s) e = s;
  order_save(s, e);
  log_begin();

  while (lev(left->seq[0]) < lev(right->seq[rs])) {
    bool moved = false;
    for (int i = 0; i < ls; i++) {
      if (lev(left->seq[i]) + 1 != lev(left->seq[i + 1]) &&
          lev(left->seq[i]) < lev(right->seq[rs])) {
        if (reorder_vardown(left->seq[i]) < 0) goto refused;
        moved = true;
      }
    }
    if (lev(left->seq[ls]) < lev(right->seq[rs])) {
      if (reorder_vardown(left->seq[ls]) < 0) goto refused;
      moved = true;
    }
    if (!moved) goto refused;
  }

  while (lev(right->seq[0]) > s) {
    bool moved = false;
    for (int i = rs; i > 0; i--) {
      if (lev(right->seq[i]) - 1 != lev(right->seq[i - 1]) && lev(right->seq[i]) > s) {
        if (reorder_varup(right->seq[i]) < 0) goto refused;
        moved = true;
      }
    }
    if (lev(right->seq[0]) > s) {
      if (reorder_varup(right->seq[0]) < 0) goto refused;
      moved = true;
    }
    if (!moved) goto refused;
  }

  {
    BddTree *outerprev = left->prev;
    BddTree *outernext = right->next;
    right->prev = outerprev;
    left->next = outernext;
    right->next = left;
    left->prev = right;
    if (outerprev != NULL) outerprev->next = right;
    if (outernext != NULL) outernext->prev = left;
    int p = left->pos;
    left->pos = right->pos;
    right->pos = p;
  }
  log_end();
  return;

refused:
  reorder_failed = 1;
  undo_moves(s, e);
}

/* ---- starting and ending a run -------------------------------------------------- */

static void free_run_arrays(void) {
  free(levels);
  levels = NULL;
  free(extroots);
  extroots = NULL;
  free(extrootcount);
  extrootcount = NULL;
  free(ordersnap);
  ordersnap = NULL;
  free(scan);
  scan = NULL;
  free(scanbucket);
  scanbucket = NULL;
  scancap = 0;
  free(occupied);
  occupied = NULL;
  free(movelog);
  movelog = NULL;
  movelogsize = movelogcap = 0;
  movelog_on = false;
  free(depvec);
  depvec = NULL;
  free(deplist);
  deplist = NULL;
  free(rowstamp);
  rowstamp = NULL;
  imatrixDelete(iactmtx);
  iactmtx = NULL;
}

static inline size_t atleast1(int n) { return n > 0 ? (size_t)n : 1; }

/* 0 when the run started; -1 otherwise, with *raised telling whether an
 * error went through bdd_error. Every allocation is made before the node
 * table is touched, so a failure leaves the table in its normal form. */
static int reorder_init(int *raised) {
  *raised = 0;
  reorder_failed = 0;
  levels = (LevelRegion *)malloc(sizeof(LevelRegion) * atleast1(bddvarnum));
  if (levels == NULL) return -1;

  if (reorder_handler != NULL) reorder_handler(1);

  int roots = 0;
  for (int n = 2; n < bddnodesize; n++)
    if (!ISFREE(n) && REFCOUNT(n) != 0) roots++;

  extroots = (int *)malloc(sizeof(int) * atleast1(roots));
  extrootcount = (unsigned *)malloc(sizeof(unsigned) * atleast1(roots));
  ordersnap = (int *)malloc(sizeof(int) * atleast1(bddvarnum + 1));
  depvec = (char *)calloc(atleast1(bddvarnum), 1);
  deplist = (int *)malloc(sizeof(int) * atleast1(bddvarnum));
  rowstamp = (int *)calloc(atleast1(bddvarnum), sizeof(int));
  iactmtx = imatrixNew(bddvarnum);
  if (extroots == NULL || extrootcount == NULL || ordersnap == NULL || depvec == NULL ||
      deplist == NULL || rowstamp == NULL || iactmtx == NULL) {
    free_run_arrays();
    *raised = 1;
    bdd_error(BDD_ERR_MEMORY);
    /* The hook saw the start; let it see the end too. */
    if (reorder_handler != NULL) reorder_handler(0);
    return -1;
  }

  /* Intermediate results of an abandoned operation are not roots: the
   * operation restarts from scratch after the run. */
  INITREF();

  for (int v = 0; v < bddvarnum; v++) {
    levels[v].start = -1;
    levels[v].size = 0;
    levels[v].mod = FASTMOD_FOR(0);
    levels[v].nodenum = 0;
  }
  depcount = 0;
  walkstamp = 1;
  mark_roots();

  free(depvec);
  depvec = NULL;
  free(deplist);
  deplist = NULL;
  free(rowstamp);
  rowstamp = NULL;

  reorder_set_level_lookup();
  occupied_reset();
  reorder_gbc();
  return 0;
}

static void reorder_done(void) {
  /* Every external root gets back the count it had when the run began:
   * references from other nodes are counted afresh by the next run. */
  int k = 0;
  for (int n = 2; n < bddnodesize; n++) {
    if (ISFREE(n)) continue;
    if (k < extrootsize && extroots[k] == n) {
      SETREFCOUNT(n, extrootcount[k]);
      k++;
    } else {
      SETREFCOUNT(n, 0);
    }
    UNMARK(n);
    SETLEVEL(n, (unsigned)bddvar2level[VAR(n)]);
  }
  assert(k == extrootsize);
  extrootsize = 0;
  free_run_arrays();

  bdd_gbc();
  if (reorder_handler != NULL) reorder_handler(0);
}

/* ---- strategies ------------------------------------------------------------------ */

static BddTree *list_head(BddTree *t) {
  if (t == NULL) return NULL;
  while (t->prev != NULL) t = t->prev;
  return t;
}

static void progress(const char *s) {
  if (verbose > 1) {
    printf("%s", s);
    fflush(stdout);
  }
}

/* One sweep of adjacent exchanges: a block sinks while that never makes
 * the table larger. */
static void win2_sweep(BddTree *cur, BddTree **first) {
  while (cur->next != NULL && !reorder_failed) {
    int best = nodecount_now();
    blockdown(cur);
    if (reorder_failed) break;
    if (nodecount_now() > best) {
      blockdown(cur->prev);
      cur = cur->next;
    } else if (*first == cur) {
      *first = cur->prev;
    }
    progress(".");
  }
}

static BddTree *reorder_win2(BddTree *t) {
  if (t == NULL) return t;
  if (verbose > 1) printf("Win2 start: %d nodes\n", nodecount_now());
  fflush(stdout);
  BddTree *first = t;
  win2_sweep(t, &first);
  if (verbose > 1) printf("\nWin2 end: %d nodes\n", nodecount_now());
  fflush(stdout);
  return reorder_failed ? list_head(t) : first;
}

static BddTree *reorder_win2ite(BddTree *t) {
  if (t == NULL) return t;
  if (verbose > 1) printf("Win2ite start: %d nodes\n", nodecount_now());
  BddTree *first = t;
  int lastsize;
  do {
    lastsize = nodecount_now();
    win2_sweep(t, &first);
    if (verbose > 1) printf(" %d nodes\n", nodecount_now());
  } while (nodecount_now() != lastsize && !reorder_failed);
  return reorder_failed ? list_head(t) : first;
}

/* Tries the arrangements of the window starting at a; keeps the earliest
 * smallest one and returns where the next window starts. */
static BddTree *reorder_swapwin3(BddTree *a, BddTree **first) {
  bool setfirst = (a->prev == NULL);
  BddTree *next = a;
  int best = nodecount_now();

  if (a->next->next == NULL) {
    blockdown(a);
    if (nodecount_now() > best) {
      blockdown(a->prev);
      next = a->next;
    } else {
      next = a;
      if (setfirst) *first = a->prev;
    }
    return next;
  }

  BddTree *b = a->next;
  BddTree *c = b->next;
  int pos = 0;
  BddTree *const moves[5] = {a, a, b, b, c}; /* ABC -> BAC -> BCA -> CBA -> CAB -> ACB */
  for (int i = 0; i < 5; i++) {
    blockdown(moves[i]);
    pos++;
    int size = nodecount_now();
    if (size < best) {
      best = size;
      pos = 0;
    }
  }
  /* Back over the last pos moves to the best arrangement: the block to move
   * down, where the next window starts and which block comes first then. */
  struct Step {
    BddTree *down, *next, *first;
  };
  const Step back[5] = {
      {a, a, c}, /* A C B -> C A B */
      {a, b, c}, /* C A B -> C B A */
      {c, c, b}, /* C B A -> B C A */
      {c, a, b}, /* B C A -> B A C */
      {b, b, a}, /* B A C -> A B C */
  };
  for (int i = 0; i < pos; i++) {
    blockdown(back[i].down);
    next = back[i].next;
    if (setfirst) *first = back[i].first;
  }
  return next;
}

static BddTree *reorder_win3(BddTree *t) {
  if (t == NULL) return t;
  if (verbose > 1) printf("Win3 start: %d nodes\n", nodecount_now());
  fflush(stdout);
  BddTree *first = t;
  BddTree *cur = t;
  while (cur->next != NULL && !reorder_failed) {
    cur = reorder_swapwin3(cur, &first);
    progress(".");
  }
  if (verbose > 1) printf("\nWin3 end: %d nodes\n", nodecount_now());
  fflush(stdout);
  return reorder_failed ? list_head(t) : first;
}

static BddTree *reorder_win3ite(BddTree *t) {
  if (t == NULL) return t;
  if (verbose > 1) printf("Win3ite start: %d nodes\n", nodecount_now());
  BddTree *first = t;
  int lastsize;
  do {
    lastsize = nodecount_now();
    BddTree *cur = first;
    while (cur->next != NULL && cur->next->next != NULL && !reorder_failed) {
      cur = reorder_swapwin3(cur, &first);
      progress(".");
    }
    if (verbose > 1) printf(" %d nodes\n", nodecount_now());
  } while (nodecount_now() != lastsize && !reorder_failed);
  if (verbose > 1) printf("Win3ite end: %d nodes\n", nodecount_now());
  return reorder_failed ? list_head(t) : first;
}

static int sift_limit(int best) {
  int limit = best + best / 5;
  if (bddmaxnodesize > 0) {
    int cap = bddmaxnodesize - bddmaxnodeincrease - 2;
    if (cap < limit) limit = cap;
  }
  return limit;
}

/* Nodes variable y may still lose when the block blk passes it: none
 * unless they interact. A block above y makes at most 2^|blk| cofactors of
 * each function met there, so taking it away leaves at least a 2^-|blk|
 * share of y's nodes; putting it above y leaves at least one. */
static int pass_loss(const BddTree *blk, int y, bool up) {
  int n = levels[y].nodenum;
  if (n == 0) return 0;
  bool inter = false;
  for (int v = blk->first; v <= blk->last && !inter; v++) inter = interacts(v, y);
  if (!inter) return 0;
  if (up) return n - 1;
  int width = blk->last - blk->first + 1;
  int keep = width >= 30 ? 1 : (int)(((unsigned)n + (1u << width) - 1) >> width);
  return n - keep;
}

static int block_loss(const BddTree *blk, const BddTree *c, bool up) {
  int sum = 0;
  for (int y = c->first; y <= c->last; y++) sum += pass_loss(blk, y, up);
  return sum;
}

/* How far below the size now the table can get with blk anywhere in the
 * rest of its sweep: blk's own variables keep a node each, and the blocks
 * it has yet to pass lose at most what pass_loss allows; nothing else
 * changes. */
static int block_shrink(const BddTree *blk, int ahead) {
  int own = 0;
  for (int v = blk->first; v <= blk->last; v++)
    if (levels[v].nodenum > 0) own += levels[v].nodenum - 1;
  return own + ahead;
}

/* The bound counts live nodes, so it holds only for the default probe;
 * with a trace every move is printed, and with a node cap an unexplored
 * move might be refused, so those runs explore as before. */
static bool sift_may_stop_early(void) {
  return reorder_nodenum == bdd_getnodenum && verbose <= 1 && bddmaxnodesize == 0;
}

/* Whether skipping the rest of the sweep of blk cannot skip a table growth
 * (and its hook) either. Every exchange the sweep still had to make starts
 * at a size of at most max(now, limit) and makes at most two nodes for
 * each node of blk's variable, so with the table three times that size
 * none of them could have run out of nodes. A block of several variables
 * passes intermediate orders whose sizes are not bounded: it explores as
 * before. */
static bool sift_skip_is_silent(const BddTree *blk, int limit) {
  if (blk->first != blk->last) return false;
  int now = nodecount_now();
  return 3 * (long long)(now > limit ? now : limit) <= (long long)bddnodesize;
}

/* A sweep ends early, even before its first move, only where no position
 * left in it can be smaller than the best: those positions could not change
 * the result, and every size the second sweep would have met on its way
 * back was within the limit, so it goes on from here exactly as it would
 * have gone on from there. */
static void reorder_sift_bestpos(BddTree *blk, int middle) {
  int best = nodecount_now();
  int limit = sift_limit(best);
  int offset = 0;
  bool up = blk->pos <= middle;
  const bool bounded = sift_may_stop_early();
#ifndef NDEBUG
  if (bounded) { /* the bound stands on the per-variable counts */
    int total = 2;
    for (int v = 0; v < bddvarnum; v++) total += levels[v].nodenum;
    assert(total == best);
  }
#endif

  for (int sweep = 0; sweep < 2 && !reorder_failed; sweep++) {
    bool moved = false;
    int ahead = 0;
    if (bounded)
      for (BddTree *c = up ? blk->prev : blk->next; c != NULL; c = up ? c->prev : c->next)
        ahead += block_loss(blk, c, up);
    if (up) {
      while (blk->prev != NULL && (nodecount_now() <= limit || !moved)) {
        if (bounded && nodecount_now() - block_shrink(blk, ahead) >= best &&
            sift_skip_is_silent(blk, limit))
          break;
        moved = true;
        if (bounded) ahead -= block_loss(blk, blk->prev, true);
        blockdown(blk->prev);
        if (reorder_failed) break;
        offset--;
        progress("-");
        if (nodecount_now() < best) {
          best = nodecount_now();
          offset = 0;
          limit = sift_limit(best);
        }
      }
    } else {
      while (blk->next != NULL && (nodecount_now() <= limit || !moved)) {
        if (bounded && nodecount_now() - block_shrink(blk, ahead) >= best &&
            sift_skip_is_silent(blk, limit))
          break;
        moved = true;
        if (bounded) ahead -= block_loss(blk, blk->next, false);
        blockdown(blk);
        if (reorder_failed) break;
        offset++;
        progress("+");
        if (nodecount_now() < best) {
          best = nodecount_now();
          offset = 0;
          limit = sift_limit(best);
        }
      }
    }
    if (nodecount_now() > limit) progress("!");
    up = !up;
  }

  while (offset < 0 && !reorder_failed) {
    blockdown(blk);
    offset++;
  }
  while (offset > 0 && !reorder_failed) {
    blockdown(blk->prev);
    offset--;
  }
}

static BddTree *reorder_sift_seq(BddTree *t, BddTree **seq, int num) {
  if (t == NULL) return t;
  for (int n = 0; n < num && !reorder_failed; n++) {
    clock_t c1 = clock();
    if (verbose > 1) {
      printf("Sift ");
      if (reorder_filehandler != NULL)
        reorder_filehandler(stdout, seq[n]->id);
      else
        printf("%d", seq[n]->id);
      printf(": ");
    }
    reorder_sift_bestpos(seq[n], num / 2);
    if (verbose > 1) {
      printf("\n> %d nodes", nodecount_now());
      printf(" (%.1f sec)\n", (float)(clock() - c1) / (float)CLOCKS_PER_SEC);
    }
  }
  return list_head(t);
}

extern "C" {
static int sift_weight_cmp(const void *aa, const void *bb) {
  const BlockWeight *a = (const BlockWeight *)aa;
  const BlockWeight *b = (const BlockWeight *)bb;
  if (a->weight < b->weight) return -1;
  if (a->weight > b->weight) return 1;
  return 0;
}

static int varseq_cmp(const void *aa, const void *bb) {
  int a = bddvar2level[*(const int *)aa];
  int b = bddvar2level[*(const int *)bb];
  if (a < b) return -1;
  if (a > b) return 1;
  return 0;
}
}

static BddTree *reorder_sift(BddTree *t) {
  if (t == NULL) return t;
  int num = 0;
  for (BddTree *b = t; b != NULL; b = b->next) b->pos = num++;

  BlockWeight *w = (BlockWeight *)malloc(sizeof(BlockWeight) * (size_t)num);
  BddTree **seq = (BddTree **)malloc(sizeof(BddTree *) * (size_t)num);
  if (w == NULL || seq == NULL) {
    free(w);
    free(seq);
    return t;
  }
  int n = 0;
  for (BddTree *b = t; b != NULL; b = b->next, n++) {
    int sum = 0;
    for (int v = b->first; v <= b->last; v++) sum += levels[v].nodenum;
    w[n].weight = -sum;
    w[n].block = b;
  }
  qsort(w, (size_t)num, sizeof(BlockWeight), sift_weight_cmp);
  for (n = 0; n < num; n++) seq[n] = w[n].block;
  free(w);

  t = reorder_sift_seq(t, seq, num);
  free(seq);
  return t;
}

static BddTree *reorder_siftite(BddTree *t) {
  if (t == NULL) return t;
  int counter = 1;
  int lastsize;
  do {
    if (verbose > 1) printf("Reorder %d\n", counter++);
    lastsize = nodecount_now();
    t = reorder_sift(t);
  } while (nodecount_now() != lastsize && !reorder_failed);
  return t;
}

static BddTree *reorder_random(BddTree *t) {
  if (t == NULL) return t;
  int num = 0;
  for (BddTree *b = t; b != NULL; b = b->next) num++;
  BddTree **blocks = (BddTree **)malloc(sizeof(BddTree *) * (size_t)num);
  if (blocks == NULL) return t;
  num = 0;
  for (BddTree *b = t; b != NULL; b = b->next) blocks[num++] = b;

  for (int n = 0; n < 4 * num && !reorder_failed; n++) {
    int k = (int)(lrand48() % num);
    if (blocks[k]->next != NULL) blockdown(blocks[k]);
  }
  free(blocks);
  if (verbose) printf("Random order: %d nodes\n", nodecount_now());
  return list_head(t);
}

static BddTree *reorder_block(BddTree *t, int method) {
  if (t == NULL) return NULL;
  if (t->fixed == 0 && t->child != NULL && !reorder_failed) {
    switch (method) {
      case REORDER_WIN2: t->child = reorder_win2(t->child); break;
      case REORDER_WIN2ITE: t->child = reorder_win2ite(t->child); break;
      case REORDER_SIFT: t->child = reorder_sift(t->child); break;
      case REORDER_SIFTITE: t->child = reorder_siftite(t->child); break;
      case REORDER_WIN3: t->child = reorder_win3(t->child); break;
      case REORDER_WIN3ITE: t->child = reorder_win3ite(t->child); break;
      case REORDER_RANDOM: t->child = reorder_random(t->child); break;
      default: break;
    }
  }
  for (BddTree *c = t->child; c != NULL; c = c->next) reorder_block(c, method);
  if (t->seq != NULL) qsort(t->seq, (size_t)(t->last - t->first + 1), sizeof(int), varseq_cmp);
  return t;
}

/* ---- public interface ------------------------------------------------------------ */

extern "C" {

void bdd_reorder(int method) {
  if (!bddrunning) {
    bdd_error(BDD_ERR_RUNNING);
    return;
  }
  int savemethod = bddreordermethod;
  int savetimes = bddreordertimes;
  bddreordermethod = method;
  bddreordertimes = 1;

  BddTree *top = bddtree_new(-1);
  int raised;
  if (top == NULL || reorder_init(&raised) < 0) {
    free(top);
    bddreordermethod = savemethod;
    bddreordertimes = savetimes;
    return;
  }
  usednum_before = bddnodesize - bddfreenum;

  top->first = 0;
  top->last = bdd_varnum() - 1;
  top->fixed = 0;
  top->next = NULL;
  top->child = vartree;
  reorder_block(top, method);
  vartree = top->child;
  free(top);

  usednum_after = bddnodesize - bddfreenum;
  reorder_done();
  bddreordermethod = savemethod;
  bddreordertimes = savetimes;
}

int bdd_swapvar(int x, int y) {
  if (vartree != NULL) return bdd_error(BDD_ERR_VARBLOCK);
  if (x == y) return 0;
  if (x < 0 || x >= bddvarnum || y < 0 || y >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);

  if (bddvar2level[x] > bddvar2level[y]) {
    int t = x;
    x = y;
    y = t;
  }
  int l1 = bddvar2level[x];
  int l2 = bddvar2level[y];

  int raised;
  if (reorder_init(&raised) < 0) return raised ? BDD_ERR_MEMORY : bdd_error(BDD_ERR_MEMORY);
  order_save(0, bddvarnum - 1);
  log_begin();
  int err = 0;
  while (err == 0 && bddvar2level[x] < l2) err = reorder_vardown(x);
  while (err == 0 && bddvar2level[y] > l1) err = reorder_varup(y);
  if (err < 0) undo_moves(0, bddvarnum - 1);
  log_end();
  reorder_done();
  return err;
}

void bdd_setvarorder(int *order) {
  if (vartree != NULL) {
    bdd_error(BDD_ERR_VARBLOCK);
    return;
  }
  if (!bddrunning) {
    bdd_error(BDD_ERR_RUNNING);
    return;
  }
  if (order == NULL && bddvarnum > 0) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return;
  }
  for (int l = 0; l < bddvarnum; l++)
    if (order[l] < 0 || order[l] >= bddvarnum) {
      bdd_error(BDD_ERR_UNKNOWN_VAR);
      return;
    }

  int raised;
  if (reorder_init(&raised) < 0) return;
  order_save(0, bddvarnum - 1);
  log_begin();
  bool refused = false;
  for (int l = 0; l < bddvarnum && !refused; l++) {
    int v = order[l];
    while (bddvar2level[v] > l)
      if (reorder_varup(v) < 0) {
        refused = true;
        break;
      }
  }
  if (refused) undo_moves(0, bddvarnum - 1);
  log_end();
  reorder_done();
}

int bdd_autoreorder(int method) {
  int old = bddreordermethod;
  bddreordermethod = method;
  bddreordertimes = -1;
  return old;
}

int bdd_autoreorder_times(int method, int num) {
  int old = bddreordermethod;
  bddreordermethod = method;
  bddreordertimes = num;
  return old;
}

int bdd_getreorder_method(void) { return bddreordermethod; }

int bdd_getreorder_times(void) { return bddreordertimes; }

void bdd_disable_reorder(void) { reorder_suspended = 1; }

void bdd_enable_reorder(void) { reorder_suspended = 0; }

int bdd_reorder_ready(void) {
  if (bddreordermethod == REORDER_NONE || vartree == NULL || bddreordertimes == 0 ||
      reorder_suspended != 0)
    return 0;
  return 1;
}

int bdd_reorder_auto(void) {
  if (!bdd_reorder_ready()) return 0;
  bdd_reorder(bddreordermethod);
  bddreordertimes--;
  return 1;
}

int bdd_reorder_gain(void) {
  if (usednum_before == 0) return 0;
  return (100 * (usednum_before - usednum_after)) / usednum_before;
}

void bdd_checkreorder(void) {
  bdd_reorder_auto();
  usednodes_nextreorder = 2 * (bddnodesize - bddfreenum);
  if (bdd_reorder_gain() < 20)
    usednodes_nextreorder += (usednodes_nextreorder * (20 - bdd_reorder_gain())) / 20;
}

bddinthandler bdd_reorder_hook(bddinthandler handler) {
  bddinthandler old = reorder_handler;
  reorder_handler = handler;
  return old;
}

bddfilehandler bdd_blockfile_hook(bddfilehandler handler) {
  bddfilehandler old = reorder_filehandler;
  reorder_filehandler = handler;
  return old;
}

bddsizehandler bdd_reorder_probe(bddsizehandler handler) {
  bddsizehandler old = reorder_nodenum;
  if (handler == NULL) return old;
  reorder_nodenum = handler;
  return old;
}

int bdd_reorder_verbose(int level) {
  int old = verbose;
  verbose = level;
  return old;
}

void bdd_default_reohandler(int pre) {
  static clock_t c1;
  if (verbose <= 0) return;
  if (pre) {
    printf("Start reordering\n");
    c1 = clock();
  } else {
    clock_t c2 = clock();
    printf("End reordering. Went from %d to %d nodes (%.1f sec)\n", usednum_before, usednum_after,
           (float)(c2 - c1) / (float)CLOCKS_PER_SEC);
  }
}

int bdd_var2level(int var) {
  if (var < 0 || var >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  return bddvar2level[var];
}

int bdd_level2var(int level) {
  if (level < 0 || level >= bddvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  return bddlevel2var[level];
}

void bdd_reorder_init(void) {
  reorder_suspended = 0;
  vartree = NULL;
  bdd_clrvarblocks();
  bdd_reorder_hook(bdd_default_reohandler);
  bdd_reorder_verbose(0);
  bdd_autoreorder_times(REORDER_NONE, 0);
  reorder_nodenum = bdd_getnodenum;
  usednum_before = usednum_after = 0;
  blockid = 0;
}

void bdd_reorder_done(void) {
  bddtree_del(vartree);
  kernel_forget();
  vartree = NULL;
}

}  // extern "C"

/* ---- registration with the kernel ------------------------------------------------ */

HOOK_REGISTRAR(reorder) {
  static KernelHooks hooks;
  hooks.start = bdd_reorder_init;
  hooks.stop = bdd_reorder_done;
  hooks.reorder_due = bdd_reorder_ready;
  kernel_register(HOOK_RANK_REORDER, &hooks);
}
