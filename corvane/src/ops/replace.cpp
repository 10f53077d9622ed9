/* Substitution: renaming by a pair table, composition of one variable with
 * a function, and the simultaneous composition of every variable. */
#include "protocol.h"

/* Each called here from one place besides itself: see boolean.h. */
[[maybe_unused]] static BDD not_rec(BDD r) __attribute__((used));

#include "boolean.h"

/* The table in use (its result array, indexed by level, and last changed
 * level), the cache tag of the running substitution, and the level of the
 * variable being composed. */
static BDD *replacepair;
static int replacelast;
static int replaceid;
static int composelevel;

/* The low two bits of replaceid keep the substitutions apart in the caches
 * they share. */
enum { RENAME = 0, COMPOSE = 1, VECCOMPOSE = 2 };

extern "C" BDD bdd_correctify(int level, BDD l, BDD h) {
  int ll = (int)LEVEL(l), lh = (int)LEVEL(h);
  if (level < ll && level < lh) return makenode((unsigned)level, l, h);
  if (level == ll || level == lh) {
    bdd_error(BDD_ERR_REPLACE);
    return 0;
  }
#define CORRECTIFY_BELOW(a, b) bdd_correctify(level, a, b)
  unsigned lev;
  BDD low, high;
  SHANNON_SPLIT(CORRECTIFY_BELOW, l, h, (unsigned)ll, (unsigned)lh, low, high, lev, PUSHREF(high));
#undef CORRECTIFY_BELOW
  BDD res = makenode(lev, READREF(2), READREF(1));
  POPREF(2);
  return res;
}

static BDD replace_rec(BDD r) {
  if (r < 2 || (int)LEVEL(r) > replacelast) return r;
  BddCacheData3 *e = slot3(replacecache, (unsigned)r);
  if (e->a == KEYA(r) && e->b == replaceid) return e->res;
  PUSHREF(replace_rec(LOW(r)));
  PUSHREF(replace_rec(HIGH(r)));
  /* A renaming that keeps the order of the levels it touches (a domain
   * renamed into another) puts every new level above both halves: the node
   * is made here, and only a reordering renaming goes through the general
   * correction. */
  const unsigned lev = LEVEL(replacepair[LEVEL(r)]);
  const BDD low = READREF(2), high = READREF(1);
  BDD res = lev < LEVEL(low) && lev < LEVEL(high) ? makenode(lev, low, high)
                                                  : bdd_correctify((int)lev, low, high);
  POPREF(2);
  STORE3(e, r, replaceid, res);
  return res;
}

static BDD compose_rec(BDD f, BDD g) {
  if ((int)LEVEL(f) > composelevel) return f;
  BddCacheData4 *e = slot4(composecache, PAIR((unsigned)f, (unsigned)g));
  if (e->a == KEYA(f) && e->b == g && e->c == replaceid) return e->res;
  BDD res;
  unsigned lf = LEVEL(f), lg = LEVEL(g);
  if ((int)lf == composelevel) {
    res = ite_rec(g, HIGH(f), LOW(f));
  } else {
    unsigned lev;
    BDD low, high;
    SHANNON_SPLIT(compose_rec, f, g, lf, lg, low, high, lev, PUSHREF(high));
    res = makenode_reuse(lev, READREF(2), READREF(1), f, g);
    POPREF(2);
  }
  STORE4(e, f, g, replaceid, res);
  return res;
}

static BDD veccompose_rec(BDD f) {
  if ((int)LEVEL(f) > replacelast) return f;
  BddCacheData3 *e = slot3(replacecache, (unsigned)f);
  if (e->a == KEYA(f) && e->b == replaceid) return e->res;
  PUSHREF(veccompose_rec(LOW(f)));
  PUSHREF(veccompose_rec(HIGH(f)));
  BDD res = ite_rec(replacepair[LEVEL(f)], READREF(1), READREF(2));
  POPREF(2);
  STORE3(e, f, replaceid, res);
  return res;
}

/* A null table is refused; so is a table whose contents were lost when
 * it could not grow. */
static int check_pair(bddPair *pair) {
  if (pair == NULL) return bdd_error(BDD_ERR_RANGE);
  if (bdd_pair_damaged(pair)) return bdd_error(BDD_ERR_MEMORY);
  return 0;
}

/* Cache tags by table contents.  A table takes a new identifier with every
 * change, so a program that makes a fresh table for each renaming (points-to
 * renames its relations through new tables every round) never met its
 * earlier results in the cache: tables with equal contents share a tag
 * here.  The memo is emptied with the caches, at every collection,
 * reordering and variable insertion: within that time a node index and a
 * level keep their meaning, so equal contents mean the same substitution.
 * Tags are never given twice while the caches may hold answers under them:
 * a collection inside a renaming empties the memo while that renaming goes
 * on storing answers under its tag, so numbering does not start again at
 * an emptying, only when the tags run out (and the caches are emptied
 * then) or the engine starts. */
enum { MEMO_SLOTS = 8, TAG_LIMIT = 0x1FFFFFFF };
static struct {
  int len;
  unsigned hash;
  int tag;
  int result[MAX_VARNUM + 1]; /* a table is never longer than the variable count */
} memo[MEMO_SLOTS];
static int memo_used, memo_victim, memo_tag;

void replace_memo_forget(void) {
  memo_used = 0;
  memo_victim = 0;
}

void replace_memo_start(void) {
  replace_memo_forget();
  memo_tag = 0;
}

static int pair_tag(const bddPair *pair) {
  const int len = bdd_pair_length(pair);
  unsigned h = (unsigned)len;
  for (int v = 0; v < len; v++) h = (h ^ (unsigned)pair->result[v]) * 0x01000193u;
  for (int i = 0; i < memo_used; i++)
    if (memo[i].hash == h && memo[i].len == len &&
        memcmp(memo[i].result, pair->result, sizeof(int) * (size_t)len) == 0)
      return memo[i].tag;
  if (memo_tag == TAG_LIMIT) {
    kernel_forget();
    memo_tag = 0;
  }
  int i = memo_used;
  if (memo_used < MEMO_SLOTS) {
    memo_used++;
  } else {
    i = memo_victim;
    memo_victim = (memo_victim + 1) % MEMO_SLOTS;
  }
  memo[i].len = len;
  memo[i].hash = h;
  memo[i].tag = memo_tag++;
  memcpy(memo[i].result, pair->result, sizeof(int) * (size_t)len);
  return memo[i].tag;
}

/* Renaming and vector composition through pair. */
static BDD by_pair(BDD r, bddPair *pair, int kind) {
  const int ptag = pair_tag(pair);
  return run_protected(r, 0, 0, [&] {
    replacepair = pair->result;
    replacelast = pair->last;
    replaceid = (ptag << 2) | kind;
    return kind == RENAME ? replace_rec(r) : veccompose_rec(r);
  });
}

extern "C" {

BDD bdd_replace(BDD r, bddPair *pair) {
  if (bdd_checkroot(r) < 0) return 0;
  int e = check_pair(pair);
  if (e < 0) return e == BDD_ERR_MEMORY ? BDD_ERR_MEMORY : 0;
  if (!create_caches(&replacecache)) return BDD_ERR_MEMORY;
  return by_pair(r, pair, RENAME);
}

BDD bdd_compose(BDD f, BDD g, int var) {
  if (bdd_checkroot(f) < 0 || bdd_checkroot(g) < 0) return 0;
  if (var < 0 || var >= bddvarnum) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return 0;
  }
  if (!create_caches(&applycache, &itecache, &composecache)) return BDD_ERR_MEMORY;
  return run_protected(f, g, 0, [&] {
    composelevel = bddvar2level[var];
    replaceid = (composelevel << 2) | COMPOSE;
    return compose_rec(f, g);
  });
}

BDD bdd_veccompose(BDD f, bddPair *pair) {
  if (bdd_checkroot(f) < 0) return 0;
  int e = check_pair(pair);
  if (e < 0) return e == BDD_ERR_MEMORY ? BDD_ERR_MEMORY : 0;
  if (!create_caches(&applycache, &itecache, &replacecache)) return BDD_ERR_MEMORY;
  return by_pair(f, pair, VECCOMPOSE);
}

}  // extern "C"
