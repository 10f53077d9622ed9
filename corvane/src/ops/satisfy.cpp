/* Satisfying assignments (one, one over a set, one over all variables,
 * all of them) and the counts: assignments, their logarithm, paths, nodes
 * and nodes per variable. */
#include <math.h>
#include <stdlib.h>
#include "opcache.h"

/* Per-call state: the polarity of satoneset's absent set variables, the
 * profile and handler of allsat, the array of varprofile, and the misccache
 * tag of the running count. */
static int satPolarity;
static signed char *allsatProfile;
static bddallsathandler allsatHandler;
static int *varprofile;
static int countid;

enum { SATCOUNT_TAG = 2, SATCOUNTLN_TAG = 3, PATHCOUNT_TAG = 4 };

static inline BDD pushed(BDD n) {
  PUSHREF(n);
  return n;
}

static BDD satone_rec(BDD r) {
  if (r < 2) return r;
  if (LOW(r) != 0) return pushed(makenode(LEVEL(r), satone_rec(LOW(r)), 0));
  return pushed(makenode(LEVEL(r), 0, satone_rec(HIGH(r))));
}

static BDD satoneset_rec(BDD r, BDD var) {
  if (r < 2 && var < 2) return r;
  unsigned lr = LEVEL(r), lv = LEVEL(var);
  if (lr < lv) {
    if (LOW(r) != 0) return pushed(makenode(lr, satoneset_rec(LOW(r), var), 0));
    return pushed(makenode(lr, 0, satoneset_rec(HIGH(r), var)));
  }
  if (lv < lr) {
    BDD s = satoneset_rec(r, HIGH(var));
    return pushed(satPolarity == 1 ? makenode(lv, 0, s) : makenode(lv, s, 0));
  }
  if (LOW(r) != 0) return pushed(makenode(lr, satoneset_rec(LOW(r), HIGH(var)), 0));
  return pushed(makenode(lr, 0, satoneset_rec(HIGH(r), HIGH(var))));
}

static BDD fullsatone_rec(BDD r) {
  if (r < 2) return r;
  BDD child = LOW(r) != 0 ? LOW(r) : HIGH(r);
  BDD s = fullsatone_rec(child);
  for (int l = (int)LEVEL(child) - 1; l > (int)LEVEL(r); l--) s = pushed(makenode((unsigned)l, s, 0));
  if (LOW(r) != 0) return pushed(makenode(LEVEL(r), s, 0));
  return pushed(makenode(LEVEL(r), 0, s));
}

static void allsat_rec(BDD r) {
  while (r > 1) {
    int lev = (int)LEVEL(r);
    if (LOW(r) != 0) {
      allsatProfile[bddlevel2var[lev]] = 0;
      for (int v = (int)LEVEL(LOW(r)) - 1; v > lev; v--) allsatProfile[bddlevel2var[v]] = -1;
      allsat_rec(LOW(r));
    }
    if (HIGH(r) == 0) return;
    allsatProfile[bddlevel2var[lev]] = 1;
    for (int v = (int)LEVEL(HIGH(r)) - 1; v > lev; v--) allsatProfile[bddlevel2var[v]] = -1;
    r = HIGH(r);
  }
  if (r == 1) allsatHandler(allsatProfile, bddvarnum);
}

/* A root that is only read (a variable set, a root to count) must still
 * lie in the table; the constants always do. */
static int check_set(BDD set) {
  if (set < 0 || (set > 1 && (set >= bddnodesize || ISFREE(set)))) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

/* Runs make_nodes (which builds nodes, pushing each on the reference stack)
 * with r and var kept alive and automatic reordering suspended: the
 * recursions are not restartable.  The previous suspension state is put
 * back afterwards. */
template <typename MakeNodes>
static BDD build_unrestartable(BDD r, BDD var, MakeNodes make_nodes) {
  const int suspension = reorder_suspend();
  INITREF();
  PUSHREF(r);
  PUSHREF(var);
  BDD res = make_nodes();
  INITREF();
  reorder_resume(suspension);
  checkresize();
  return res;
}

extern "C" {

BDD bdd_satone(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r < 2) return r;
  return build_unrestartable(r, 0, [&] { return satone_rec(r); });
}

BDD bdd_satoneset(BDD r, BDD var, BDD pol) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r == 0) return 0;
  if (pol > 1) {
    bdd_error(BDD_ERR_ILLBDD);
    return 0;
  }
  if (check_set(var) < 0) return 0;
  return build_unrestartable(r, var, [&] {
    satPolarity = pol;
    return satoneset_rec(r, var);
  });
}

BDD bdd_fullsatone(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (r == 0) return 0;
  return build_unrestartable(r, 0, [&] {
    BDD res = fullsatone_rec(r);
    for (int l = (int)LEVEL(r) - 1; l >= 0; l--) res = pushed(makenode((unsigned)l, res, 0));
    return res;
  });
}

void bdd_allsat(BDD r, bddallsathandler handler) {
  if (bdd_checkroot(r) < 0) return;
  allsatProfile = (signed char *)op_alloc((size_t)bddvarnum);
  if (allsatProfile == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return;
  }
  for (int l = (int)LEVEL(r) - 1; l >= 0; l--) allsatProfile[bddlevel2var[l]] = -1;
  allsatHandler = handler;
  INITREF();
  allsat_rec(r);
  free(allsatProfile);
  allsatProfile = NULL;
}

}  // extern "C"

/* ---- counting ------------------------------------------------------------------ */

static double satcount_rec(BDD n) {
  if (n < 2) return n;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == countid) return entry_double(e);
  unsigned lev = LEVEL(n);
  BDD lo = LOW(n), hi = HIGH(n);
  /* Scaling by a power of two is exact, so ldexp gives the same value as
   * multiplying by pow(2, e), without the cost of pow. */
  double size = ldexp(satcount_rec(lo), (int)LEVEL(lo) - (int)lev - 1);
  size += ldexp(satcount_rec(hi), (int)LEVEL(hi) - (int)lev - 1);
  store_double(e, n, countid, size);
  return size;
}

static double satcountln_rec(BDD n) {
  if (n == 0) return -1.0;
  if (n == 1) return 0.0;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == countid) return entry_double(e);
  int lev = (int)LEVEL(n);
  double s1 = satcountln_rec(LOW(n));
  if (s1 >= 0.0) s1 += (int)LEVEL(LOW(n)) - lev - 1;
  double s2 = satcountln_rec(HIGH(n));
  if (s2 >= 0.0) s2 += (int)LEVEL(HIGH(n)) - lev - 1;
  double size;
  if (s1 < 0.0) size = s2;
  else if (s2 < 0.0) size = s1;
  else if (s1 < s2) size = s2 + log(pow(2.0, s1 - s2) + 1.0) / 0.6931471805599453;
  else size = s1 + log(pow(2.0, s2 - s1) + 1.0) / 0.6931471805599453;
  store_double(e, n, countid, size);
  return size;
}

static double pathcount_rec(BDD n) {
  if (n < 2) return n;
  BddCacheData4 *e = slot4(misccache, (unsigned)n);
  if (e->a == KEYA(n) && e->b == countid) return entry_double(e);
  double size = pathcount_rec(LOW(n)) + pathcount_rec(HIGH(n));
  store_double(e, n, countid, size);
  return size;
}

static void varprofile_rec(BDD n) {
  while (n > 1 && !MARKED(n)) {
    varprofile[bddlevel2var[LEVEL(n)]]++;
    SETMARK(n);
    varprofile_rec(LOW(n));
    n = HIGH(n);
  }
}

static int set_size(BDD set) {
  int k = 0;
  for (BDD n = set; n > 1; n = HIGH(n)) k++;
  return k;
}

extern "C" {

double bdd_satcount(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  countid = SATCOUNT_TAG;
  return pow(2.0, (double)LEVEL(r)) * satcount_rec(r);
}

double bdd_satcountset(BDD r, BDD varset) {
  if (bdd_checkroot(r) < 0 || check_set(varset) < 0) return 0.0;
  if (varset < 2 || r == 0) return 0.0;
  int absent = bddvarnum - set_size(varset);
  double size = bdd_satcount(r) / pow(2.0, (double)absent);
  return size >= 1.0 ? size : 1.0;
}

double bdd_satcountln(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  countid = SATCOUNTLN_TAG;
  double d = satcountln_rec(r);
  if (d >= 0.0) d += LEVEL(r);
  return d;
}

double bdd_satcountlnset(BDD r, BDD varset) {
  if (bdd_checkroot(r) < 0 || check_set(varset) < 0) return 0.0;
  if (varset < 2) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  int absent = bddvarnum - set_size(varset);
  double size = bdd_satcountln(r) - absent;
  return size >= 0.0 ? size : 0.0;
}

int bdd_nodecount(BDD r) {
  int e = bdd_checkroot(r);
  if (e < 0) return e;
  int num = 0;
  bdd_markcount(r, &num);
  bdd_unmark(r);
  return num;
}

int bdd_anodecount(BDD *r, int num) {
  /* Roots outside the table are refused rather than walked. */
  for (int n = 0; n < num; n++)
    if (check_set(r[n]) < 0) return BDD_ERR_ILLBDD;
  int cou = 0;
  for (int n = 0; n < num; n++) bdd_markcount(r[n], &cou);
  for (int n = 0; n < num; n++) bdd_unmark(r[n]);
  return cou;
}

double bdd_pathcount(BDD r) {
  if (bdd_checkroot(r) < 0) return 0.0;
  if (!create_caches(&misccache)) return (double)BDD_ERR_MEMORY;
  countid = PATHCOUNT_TAG;
  return pathcount_rec(r);
}

int *bdd_varprofile(BDD r) {
  if (bdd_checkroot(r) < 0) return NULL;
  varprofile = (int *)op_alloc(sizeof(int) * (size_t)bddvarnum);
  if (varprofile == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  memset(varprofile, 0, sizeof(int) * (size_t)bddvarnum);
  varprofile_rec(r);
  bdd_unmark(r);
  int *res = varprofile;
  varprofile = NULL;
  return res;
}

}  // extern "C"
