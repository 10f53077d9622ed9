/* Restriction to a cube, the generalised cofactor, simplification by a care
 * set, and the support of a function. */
#include <stdlib.h>
#include "protocol.h"

/* Each called here from one place besides itself: see boolean.h. */
[[maybe_unused]] static BDD or_rec(BDD l, BDD r) __attribute__((used));

#include "boolean.h"
#include "quant.h"

/* The cube's marking (taken from the quantifiers' table) and the rescache
 * tag of the running restriction or generalised cofactor. */
static VarMarks cube;
static int resid;

/* Support walk scratch table, indexed by level. */
static int *supportSet;
static int supportSize;
static int supportID;
static int supportMin;
static int supportMax;

void support_scratch_init(void) {
  supportSet = NULL;
  supportSize = 0;
}

void support_scratch_done(void) {
  free(supportSet);
  supportSet = NULL;
  supportSize = 0;
}

static BDD restrict_rec(BDD r) {
  if (r < 2 || (int)LEVEL(r) > cube.last) return r;
  BddCacheData4 *e = slot4(rescache, PAIR((unsigned)r, (unsigned)resid));
  if (e->a == KEYA(r) && e->c == resid) return e->res;
  int m = cube.level[LEVEL(r)];
  BDD res;
  if (m == cube.id) {
    res = restrict_rec(HIGH(r));
  } else if (m == -cube.id) {
    res = restrict_rec(LOW(r));
  } else {
    PUSHREF(restrict_rec(LOW(r)));
    PUSHREF(restrict_rec(HIGH(r)));
    res = makenode_reuse1(LEVEL(r), READREF(2), READREF(1), r);
    POPREF(2);
  }
  STORE_AC(e, r, resid, res);
  return res;
}

static BDD constrain_rec(BDD f, BDD k) {
  if (k == 1 || f < 2) return f;
  if (k == f) return 1;
  if (k == 0) return 0;
  BddCacheData4 *e = slot4(rescache, PAIR((unsigned)f, (unsigned)k));
  if (e->a == KEYA(f) && e->b == k && e->c == resid) return e->res;
  unsigned lf = LEVEL(f), lk = LEVEL(k);
  BDD res;
  if (lf == lk) {
    if (LOW(k) == 0) res = constrain_rec(HIGH(f), HIGH(k));
    else if (HIGH(k) == 0) res = constrain_rec(LOW(f), LOW(k));
    else {
      PUSHREF(constrain_rec(LOW(f), LOW(k)));
      PUSHREF(constrain_rec(HIGH(f), HIGH(k)));
      res = makenode_reuse1(lf, READREF(2), READREF(1), f);
      POPREF(2);
    }
  } else if (lf < lk) {
    PUSHREF(constrain_rec(LOW(f), k));
    PUSHREF(constrain_rec(HIGH(f), k));
    res = makenode_reuse1(lf, READREF(2), READREF(1), f);
    POPREF(2);
  } else {
    if (LOW(k) == 0) res = constrain_rec(f, HIGH(k));
    else if (HIGH(k) == 0) res = constrain_rec(f, LOW(k));
    else {
      PUSHREF(constrain_rec(f, LOW(k)));
      PUSHREF(constrain_rec(f, HIGH(k)));
      res = makenode(lk, READREF(2), READREF(1));
      POPREF(2);
    }
  }
  STORE4(e, f, k, resid, res);
  return res;
}

static BDD simplify_rec(BDD f, BDD d) {
  if (d == 1 || f < 2) return f;
  if (d == f) return 1;
  if (d == 0) return 0;
  const unsigned slot = slotno(applycache, TRIPLE((unsigned)f, (unsigned)d, OP_SIMPLIFY));
  BddCacheData4 *e = at4(applycache, slot);
  if (e->a == KEYA(f) && e->b == d && e->c == OP_SIMPLIFY) return e->res;
  unsigned lf = LEVEL(f), ld = LEVEL(d);
  BDD res;
  if (lf == ld) {
    if (LOW(d) == 0) res = simplify_rec(HIGH(f), HIGH(d));
    else if (HIGH(d) == 0) res = simplify_rec(LOW(f), LOW(d));
    else {
      PUSHREF(simplify_rec(LOW(f), LOW(d)));
      PUSHREF(simplify_rec(HIGH(f), HIGH(d)));
      res = makenode_reuse1(lf, READREF(2), READREF(1), f);
      POPREF(2);
    }
  } else if (lf > ld) {
    PUSHREF(or_rec(LOW(d), HIGH(d)));
    res = simplify_rec(f, READREF(1));
    POPREF(1);
  } else {
    PUSHREF(simplify_rec(LOW(f), d));
    PUSHREF(simplify_rec(HIGH(f), d));
    res = makenode_reuse1(lf, READREF(2), READREF(1), f);
    POPREF(2);
  }
  e = at4(applycache, slot);
  STORE4(e, f, d, OP_SIMPLIFY, res);
  return res;
}

static void support_rec(BDD r) {
  while (r > 1 && !MARKED(r) && !ISFREE(r)) {
    int lev = (int)LEVEL(r);
    supportSet[lev] = supportID;
    if (lev > supportMax) supportMax = lev;
    SETMARK(r);
    support_rec(LOW(r));
    r = HIGH(r);
  }
}

extern "C" {

BDD bdd_restrict(BDD r, BDD var) {
  if (bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if (var < 2) return r;
  if (!create_caches(&rescache)) return BDD_ERR_MEMORY;
  if (quant_marks_ready() < 0) return BDD_ERR_MEMORY;
  return run_protected(r, var, 0, [&] {
    /* redone on a retry: a reordering moves the levels */
    varset2svartable(var);
    cube = quant_marks();
    resid = tag(var, 3, 1u);
    return restrict_rec(r);
  });
}

BDD bdd_constrain(BDD f, BDD c) {
  if (bdd_checkroot(f) < 0 || bdd_checkroot(c) < 0) return 0;
  if (!create_caches(&rescache)) return BDD_ERR_MEMORY;
  return run_protected(f, c, 0, [&] {
    resid = 0;
    return constrain_rec(f, c);
  });
}

BDD bdd_simplify(BDD f, BDD d) {
  if (bdd_checkroot(f) < 0 || bdd_checkroot(d) < 0) return 0;
  if (!create_caches(&applycache, &orcache)) return BDD_ERR_MEMORY;
  return run_protected(f, d, 0, [&] { return simplify_rec(f, d); });
}

BDD bdd_support(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r < 2) return 1;
  if (supportSize < bddvarnum) {
    free(supportSet);
    supportSet = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
    if (supportSet == NULL) {
      supportSize = 0;
      bdd_error(BDD_ERR_MEMORY);
      return 0;
    }
    memset(supportSet, 0, sizeof(int) * (size_t)bddvarnum);
    supportSize = bddvarnum;
    supportID = 0;
  }
  if (supportID == 0x0FFFFFFF) {
    memset(supportSet, 0, sizeof(int) * (size_t)bddvarnum);
    supportID = 0;
  }
  supportID++;
  supportMin = supportMax = (int)LEVEL(r);
  support_rec(r);
  bdd_unmark(r);

  const int suspension = reorder_suspend();
  BDD res = 1;
  for (int n = supportMax; n >= supportMin; n--) {
    if (supportSet[n] != supportID) continue;
    bdd_addref(res);
    BDD tmp = makenode((unsigned)n, 0, res);
    bdd_delref(res);
    res = tmp;
  }
  reorder_resume(suspension);
  return res;
}

}  // extern "C"
