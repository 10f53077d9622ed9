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
  BDD res = bdd_correctify((int)LEVEL(replacepair[LEVEL(r)]), READREF(2), READREF(1));
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

/* Renaming and vector composition through pair. */
static BDD by_pair(BDD r, bddPair *pair, int kind) {
  return run_protected(r, 0, 0, [&] {
    replacepair = pair->result;
    replacelast = pair->last;
    replaceid = (pair->id << 2) | kind;
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
