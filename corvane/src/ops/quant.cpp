/* Quantification and the relational products: exist, forall, unique and
 * their one-pass combinations with a binary operator; and the marking of a
 * variable set per level, which restriction shares. */
#include <stdlib.h>
#include "boolean.h"
#include "quant.h"

/* Quantifier marking table, indexed by level: level v is in the current
 * set when quantvarset[v] is quantvarsetID (the signed form of a cube also
 * uses -quantvarsetID); each marking takes a new ID, so the table is only
 * cleared when the IDs run out. */
static int *quantvarset;
static int quantvarsetsize;
static int quantvarsetID;
static int quantlast; /* deepest level of the current set */

/* Cache tags of the running operation, and the combined operations'
 * binary operator. */
static int quantid;
static int appexop;
static int appexid;

static int quantvarset_ensure(void) {
  if (quantvarsetsize >= bddvarnum && quantvarset != NULL) return 0;
  free(quantvarset);
  quantvarset = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
  if (quantvarset == NULL) {
    quantvarsetsize = 0;
    return bdd_error(BDD_ERR_MEMORY);
  }
  memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
  quantvarsetsize = bddvarnum;
  quantvarsetID = 0;
  return 0;
}

void quant_scratch_init(void) {
  quantvarset = NULL;
  quantvarsetsize = 0;
  quantvarsetID = 0;
}

void quant_scratch_done(void) {
  free(quantvarset);
  quantvarset = NULL;
  quantvarsetsize = 0;
}

void quant_scratch_varresize(void) {
  /* On failure the table stays absent; the quantifiers allocate it again
   * before they need it. */
  quant_scratch_done();
  quantvarset_ensure();
  quantvarsetID = 0;
}

int quant_marks_ready(void) { return quantvarset_ensure(); }

VarMarks quant_marks(void) {
  VarMarks m;
  m.level = quantvarset;
  m.id = quantvarsetID;
  m.last = quantlast;
  return m;
}

extern "C" int varset2vartable(BDD var) {
  if (var < 2) return bdd_error(BDD_ERR_VARSET);
  if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  quantvarsetID++;
  if (quantvarsetID == 0x7FFFFFFF) {
    memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
    quantvarsetID = 1;
  }
  for (BDD n = var; n > 1; n = HIGH(n)) {
    quantvarset[LEVEL(n)] = quantvarsetID;
    quantlast = (int)LEVEL(n);
  }
  return 0;
}

extern "C" int varset2svartable(BDD cube) {
  if (cube < 2) return bdd_error(BDD_ERR_VARSET);
  if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  quantvarsetID++;
  if (quantvarsetID == 0x3FFFFFFF) {
    memset(quantvarset, 0, sizeof(int) * (size_t)bddvarnum);
    quantvarsetID = 1;
  }
  BDD n = cube;
  while (n > 1) {
    quantlast = (int)LEVEL(n);
    if (LOW(n) == 0) {
      quantvarset[LEVEL(n)] = quantvarsetID;
      n = HIGH(n);
    } else {
      quantvarset[LEVEL(n)] = -quantvarsetID;
      n = LOW(n);
    }
  }
  return 0;
}

static BDD quant_rec(BDD n) {
  if (n < 2 || (int)LEVEL(n) > quantlast) return n;
  BddCacheData3 *e = slot3(quantcache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == quantid) return e->res;
  PUSHREF(quant_rec(LOW(n)));
  PUSHREF(quant_rec(HIGH(n)));
  BDD res;
  if (quantvarset[LEVEL(n)] == quantvarsetID) res = apply_rec(READREF(2), READREF(1));
  else res = makenode(LEVEL(n), READREF(2), READREF(1));
  POPREF(2);
  STORE3(e, n, quantid, res);
  return res;
}

static BDD unique_rec(BDD r, BDD var) {
  if (LEVEL(r) > LEVEL(var)) return 0;
  if (r < 2 || var < 2) return r;
  BddCacheData3 *e = slot3(quantcache, (unsigned)r);
  if (e->a == KEYA(r) && e->b == quantid) return e->res;
  BDD res;
  if (LEVEL(r) == LEVEL(var)) {
    PUSHREF(unique_rec(LOW(r), HIGH(var)));
    PUSHREF(unique_rec(HIGH(r), HIGH(var)));
    res = apply_rec(READREF(2), READREF(1));
  } else {
    PUSHREF(unique_rec(LOW(r), var));
    PUSHREF(unique_rec(HIGH(r), var));
    res = makenode(LEVEL(r), READREF(2), READREF(1));
  }
  POPREF(2);
  STORE3(e, r, quantid, res);
  return res;
}

static BDD appquant_rec0(BDD l, BDD r) {
  switch (appexop) {
    case OP_AND:
      if (l == 0 || r == 0) return 0;
      if (l == r || l == 1) return quant_rec(r);
      if (r == 1) return quant_rec(l);
      break;
    case OP_XOR:
      if (l == r) return 0;
      if (l == 0) return quant_rec(r);
      if (r == 0) return quant_rec(l);
      break;
    case OP_OR:
      if (l == 1 || r == 1) return 1;
      if (l == r || l == 0) return quant_rec(r);
      if (r == 0) return quant_rec(l);
      break;
    case OP_NAND:
      if (l == 0 || r == 0) return 1;
      break;
    case OP_NOR:
      if (l == 1 || r == 1) return 0;
      break;
    default:
      break;
  }
  if (l < 2 && r < 2) return oprres[appexop][(l << 1) | r];
  unsigned ll = LEVEL(l), lr = LEVEL(r);
  if ((int)ll > quantlast && (int)lr > quantlast) {
    int oldop = applyop;
    applyop = appexop;
    BDD res = apply_rec(l, r);
    applyop = oldop;
    return res;
  }
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned lev;
  BDD low, high;
  SHANNON_SPLIT(appquant_rec0, l, r, ll, lr, low, high, lev, PUSHREF(high));
  BDD res;
  if (quantvarset[lev] == quantvarsetID) res = apply_rec(READREF(2), READREF(1));
  else res = makenode(lev, READREF(2), READREF(1));
  POPREF(2);
  STORE4(e, l, r, appexid, res);
  return res;
}

/* The cache is read before the operands' levels: both are misses in the
 * large joins (points-to 12: three of four lookups miss), and asking for
 * the nodes first lets the two loads overlap.  A pair below the last
 * quantified level is never stored, so it only ever misses here. */
static BDD relprod_rec(BDD l, BDD r) {
  if (l == 0 || r == 0) return 0;
  if (l == r || r == 1) return quant_rec(l);
  if (l == 1) return quant_rec(r);
  prefetch_nodes(l, r);
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned ll = LEVEL(l), lr = LEVEL(r);
  if ((int)ll > quantlast && (int)lr > quantlast) return and_rec(l, r);
  unsigned lev;
  BDD low, high;
  /* A half with a false operand is false without a call: a third of the
   * calls of the points-to joins were only that. */
#define RELPROD_HALF(a, b) ((a) == 0 || (b) == 0 ? 0 : relprod_rec(a, b))
  SHANNON_SPLIT(RELPROD_HALF, l, r, ll, lr, low, high, lev, PUSHREF(high));
#undef RELPROD_HALF
  BDD res;
  if (quantvarset[lev] == quantvarsetID) res = or_rec(READREF(2), READREF(1));
  else res = makenode(lev, READREF(2), READREF(1));
  POPREF(2);
  STORE4(e, l, r, appexid, res);
  return res;
}

static BDD appquant_rec(BDD l, BDD r) {
  need_cache(&appexcache);
  if (applyop == OP_OR && appexop == OP_AND) {
    need_cache(&andcache);
    need_cache(&orcache);
    return relprod_rec(l, r);
  }
  return appquant_rec0(l, r);
}

static BDD appuni_rec(BDD l, BDD r, BDD var) {
  unsigned ll = LEVEL(l), lr = LEVEL(r), lv = LEVEL(var);
  if (ll > lv && lr > lv) return 0;
  if (l < 2 && r < 2) return oprres[appexop][(l << 1) | r];
  if (var < 2) {
    int oldop = applyop;
    applyop = appexop;
    BDD res = apply_rec(l, r);
    applyop = oldop;
    return res;
  }
  BddCacheData4 *e = slot4(appexcache, PAIR((unsigned)l, (unsigned)r));
  if (e->a == KEYA(l) && e->b == r && e->c == appexid) return e->res;
  unsigned top = ll < lr ? ll : lr;
  BDD l0 = ll == top ? LOW(l) : l, l1 = ll == top ? HIGH(l) : l;
  BDD r0 = lr == top ? LOW(r) : r, r1 = lr == top ? HIGH(r) : r;
  BDD res;
  if (top == lv) {
    PUSHREF(appuni_rec(l0, r0, HIGH(var)));
    PUSHREF(appuni_rec(l1, r1, HIGH(var)));
    res = apply_rec(READREF(2), READREF(1));
  } else {
    PUSHREF(appuni_rec(l0, r0, var));
    PUSHREF(appuni_rec(l1, r1, var));
    res = makenode_reuse(top, READREF(2), READREF(1), l, r);
  }
  POPREF(2);
  STORE4(e, l, r, appexid, res);
  return res;
}

enum QuantKind { EXIST = 0, FORALL = 1, UNIQUE = 2 };

static BDD quantify(BDD r, BDD var, QuantKind kind) {
  if (bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if (var < 2) return r;
  if (!create_caches(&quantcache)) return BDD_ERR_MEMORY;
  if (kind != UNIQUE && quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  return run_protected(r, var, 0, [&] {
    static const int quantop[3] = {OP_OR, OP_AND, OP_XOR};
    /* the kind in the low bits of the tag */
    quantid = tag(var, 3, (unsigned)kind);
    applyop = quantop[kind];
    if (kind == UNIQUE) return unique_rec(r, var);
    /* redone on a retry: a reordering moves the levels */
    varset2vartable(var);
    return quant_rec(r);
  });
}

static BDD appquantify(BDD l, BDD r, int op, BDD var, QuantKind kind) {
  if (bdd_checkroot(l) < 0 || bdd_checkroot(r) < 0 || bdd_checkroot(var) < 0) return 0;
  if ((unsigned)op > 9u) {
    bdd_error(BDD_ERR_OP);
    return 0;
  }
  if (var < 2) return bdd_apply(l, r, op);
  if (kind == UNIQUE) {
    if (!create_caches(&quantcache, &appexcache)) return BDD_ERR_MEMORY;
  } else {
    if (!create_caches(&quantcache)) return BDD_ERR_MEMORY;
    if (quantvarset_ensure() < 0) return BDD_ERR_MEMORY;
  }
  return run_protected(l, r, var, [&] {
    appexop = op;
    if (kind == UNIQUE) {
      applyop = OP_XOR;
      /* Operator field 10..14 with the spare low bit: no exist or forall
       * tag (operator field 0..9) can equal it. */
      appexid = tag(var, 5, ((10u + ((unsigned)op >> 1)) << 1) | ((unsigned)op & 1u));
      return appuni_rec(l, r, var);
    }
    varset2vartable(var);
    applyop = kind == EXIST ? OP_OR : OP_AND;
    appexid = tag(var, 5, ((unsigned)op << 1) | (unsigned)kind);
    /* The inner quantification depends on the set and the quantifier only,
     * so its tag is built from the set root directly and loses no bits. */
    quantid = tag(var, 3, 3u + (unsigned)kind);
    return appquant_rec(l, r);
  });
}

extern "C" {

BDD bdd_exist(BDD r, BDD var) { return quantify(r, var, EXIST); }
BDD bdd_forall(BDD r, BDD var) { return quantify(r, var, FORALL); }
BDD bdd_unique(BDD r, BDD var) { return quantify(r, var, UNIQUE); }
BDD bdd_appex(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, EXIST); }
BDD bdd_appall(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, FORALL); }
BDD bdd_appuni(BDD l, BDD r, int op, BDD var) { return appquantify(l, r, op, var, UNIQUE); }

}  // extern "C"
