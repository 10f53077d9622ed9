/* Finite domains: integer variables encoded in binary over blocks of BDD
 * variables, and reading BDDs back in terms of those integers. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "fdd.h"
#include "kernel_internal.h"
#include "operators.h"

static Domain *domain;
static int fdvarnum;
static int fdvaralloc;
static int firstbddvar;
static bddfilehandler filehandler;

/* Values are ints and the printer enumerates bit patterns as ints, so no
 * domain may be wider than the widest size needs. */
enum { MAX_DOMAIN_SIZE = 0x3FFFFFFF, MAX_DOMAIN_WIDTH = 30 };

static int check_domain(int d) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (d < 0 || d >= fdvarnum) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  return 0;
}

/* Code of an operator that returned the false BDD where no false result is
 * possible: it has already reported either node exhaustion (sticky) or a
 * cache that could not be created. */
static int failed_op_code(void) { return bdderrorcond ? -bdderrorcond : BDD_ERR_MEMORY; }

/* acc op lit, with acc held across the operation as the fold's only owner. */
static BDD fold(BDD acc, BDD lit, int op) {
  bdd_addref(acc);
  BDD res = bdd_apply(acc, lit, op);
  bdd_delref(acc);
  return res;
}

/* Conjunction of the variable sets of domains first..last, referenced;
 * the false BDD after a failed operation. */
static BDD varset_conjunction(const int *list, int first, int last) {
  BDD v = bddtrue;
  for (int k = first; k <= last; k++) {
    int d = list ? list[k] : k;
    v = fold(v, domain[d].varset, OP_AND);
    if (v == bddfalse) return bddfalse;
  }
  return bdd_addref(v);
}

extern "C" {

/* ---- records and table ------------------------------------------------- */

void Domain_allocate(Domain *d, int size) {
  d->bitvars = NULL;
  d->varset = bddtrue;
  if (size < 1 || size > MAX_DOMAIN_SIZE) {
    bdd_error(BDD_ERR_RANGE);
    return;
  }
  d->range = size;
  d->width = 1;
  while ((1 << d->width) < size) d->width++;
  d->bitvars = (int *)malloc(sizeof(int) * (size_t)d->width);
  if (d->bitvars == NULL) bdd_error(BDD_ERR_MEMORY);
}

void Domain_done(Domain *d) {
  free(d->bitvars);
  d->bitvars = NULL;
  bdd_delref(d->varset);
  d->varset = bddtrue;
}

/* Start-up and shut-down of the domain table, run by the kernel (see the
 * registration at the end). */
void bdd_fdd_init(void) {
  domain = NULL;
  fdvarnum = 0;
  fdvaralloc = 0;
  firstbddvar = 0;
}

void bdd_fdd_done(void) {
  /* A second call (a failed start-up shuts down again) finds no table. */
  if (domain != NULL) {
    for (int d = 0; d < fdvarnum; d++) Domain_done(&domain[d]);
    free(domain);
  }
  domain = NULL;
}

void fdd_clearall(void) {
  bdd_fdd_done();
  bdd_fdd_init();
}

/* Room for `more` further records. realloc leaves the old array in place
 * when it fails, so the declared domains stay usable. */
static int reserve_records(int more, int newalloc) {
  if ((int64_t)fdvarnum + more <= fdvaralloc) return 0;
  Domain *grown = (Domain *)realloc(domain, sizeof(Domain) * (size_t)newalloc);
  if (grown == NULL) return bdd_error(BDD_ERR_MEMORY);
  domain = grown;
  fdvaralloc = newalloc;
  return 0;
}

/* Frees the records fdvarnum .. fdvarnum+count-1 of a declaration that
 * did not complete; `built` of them already hold their variable set. */
static void drop_records(int count, int built) {
  for (int i = 0; i < count; i++) {
    Domain *d = &domain[fdvarnum + i];
    free(d->bitvars);
    d->bitvars = NULL;
    if (i < built) bdd_delref(d->varset);
  }
}

int fdd_extdomain(int *dom, int num) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (num < 0 || (num > 0 && dom == NULL)) return bdd_error(BDD_ERR_RANGE);
  if (num == 0) return fdvarnum;

  /* Every size is checked before the table changes, so a refused call
   * declares nothing. */
  int64_t total = 0;
  for (int i = 0; i < num; i++) {
    if (dom[i] < 1 || dom[i] > MAX_DOMAIN_SIZE) return bdd_error(BDD_ERR_RANGE);
    int w = 1;
    while ((1 << w) < dom[i]) w++;
    total += w;
  }
  if (num > INT32_MAX - fdvarnum || total > MAX_VARNUM - firstbddvar)
    return bdd_error(BDD_ERR_RANGE);

  int64_t want = domain == NULL ? num : (int64_t)fdvaralloc + (fdvaralloc > num ? fdvaralloc : num);
  if (want < (int64_t)fdvarnum + num) want = (int64_t)fdvarnum + num;
  if (want > INT32_MAX) want = INT32_MAX;
  int err = reserve_records(num, (int)want);
  if (err < 0) return err;

  for (int i = 0; i < num; i++) {
    Domain_allocate(&domain[fdvarnum + i], dom[i]);
    if (domain[fdvarnum + i].bitvars == NULL) {
      drop_records(i, 0);
      return BDD_ERR_MEMORY;
    }
  }

  if (firstbddvar + total > bddvarnum) {
    err = bdd_setvarnum(firstbddvar + (int)total);
    if (err < 0 || bddvarnum < firstbddvar + total) {
      drop_records(num, 0);
      return err < 0 ? err : BDD_ERR_MEMORY;
    }
  }

  /* Bits of domains declared together interleave, least significant
   * first, so that equal-width domains compare and copy with small BDDs. */
  int next = firstbddvar;
  for (int bit = 0, more = 1; more; bit++) {
    more = 0;
    for (int i = 0; i < num; i++) {
      Domain *d = &domain[fdvarnum + i];
      if (bit >= d->width) continue;
      d->bitvars[bit] = next++;
      more = 1;
    }
  }

  for (int i = 0; i < num; i++) {
    Domain *d = &domain[fdvarnum + i];
    BDD s = bdd_makeset(d->bitvars, d->width);
    if (s == bddfalse) {
      drop_records(num, i);
      return failed_op_code();
    }
    d->varset = bdd_addref(s);
  }

  int first = fdvarnum;
  fdvarnum += num;
  firstbddvar += (int)total;
  return first;
}

int fdd_overlapdomain(int v1, int v2) {
  int err = check_domain(v1);
  if (err == 0) err = check_domain(v2);
  if (err < 0) return err;
  const int64_t range = (int64_t)domain[v1].range * domain[v2].range;
  const int width = domain[v1].width + domain[v2].width;
  if (range > MAX_DOMAIN_SIZE || width > MAX_DOMAIN_WIDTH) return bdd_error(BDD_ERR_RANGE);

  int64_t want = fdvarnum < fdvaralloc ? fdvaralloc : 2 * (int64_t)fdvaralloc;
  if (want > INT32_MAX) want = INT32_MAX;
  err = reserve_records(1, (int)want);
  if (err < 0) return err;

  Domain *d = &domain[fdvarnum];
  d->range = (int)range;
  d->width = width;
  d->varset = bddtrue;
  d->bitvars = (int *)malloc(sizeof(int) * (size_t)width);
  if (d->bitvars == NULL) return bdd_error(BDD_ERR_MEMORY);
  memcpy(d->bitvars, domain[v1].bitvars, sizeof(int) * (size_t)domain[v1].width);
  memcpy(d->bitvars + domain[v1].width, domain[v2].bitvars, sizeof(int) * (size_t)domain[v2].width);

  BDD s = bdd_makeset(d->bitvars, width);
  if (s == bddfalse) {
    drop_records(1, 0);
    return failed_op_code();
  }
  d->varset = bdd_addref(s);
  return fdvarnum++;
}

int fdd_domainnum(void) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  return fdvarnum;
}

int fdd_domainsize(int var) {
  int err = check_domain(var);
  return err < 0 ? err : domain[var].range;
}

int fdd_varnum(int var) {
  int err = check_domain(var);
  return err < 0 ? err : domain[var].width;
}

int *fdd_vars(int var) {
  if (check_domain(var) < 0) return NULL;
  return domain[var].bitvars;
}

/* ---- BDDs of domains ------------------------------------------------------ */

BDD fdd_ithvar(int var, int val) {
  if (check_domain(var) < 0) return bddfalse;
  const Domain *d = &domain[var];
  if (val < 0 || val >= d->range) {
    bdd_error(BDD_ERR_RANGE);
    return bddfalse;
  }
  BDD v = bddtrue;
  for (int i = 0; i < d->width; i++) {
    const int x = d->bitvars[i];
    v = fold(v, ((val >> i) & 1) ? bdd_ithvar(x) : bdd_nithvar(x), OP_AND);
    if (v == bddfalse) return bddfalse;
  }
  return v;
}

BDD fdd_ithset(int var) {
  if (check_domain(var) < 0) return bddfalse;
  return domain[var].varset;
}

BDD fdd_domain(int var) {
  if (check_domain(var) < 0) return bddfalse;
  const Domain *d = &domain[var];
  /* From the least significant bit up, v is "the low bits are at most
   * those of m": a 1 in m also admits a 0 here whatever lies below. */
  const int m = d->range - 1;
  BDD v = bddtrue;
  for (int i = 0; i < d->width; i++) {
    v = fold(v, bdd_nithvar(d->bitvars[i]), ((m >> i) & 1) ? OP_OR : OP_AND);
    if (v == bddfalse) return bddfalse;
  }
  return v;
}

BDD fdd_equals(int left, int right) {
  if (check_domain(left) < 0 || check_domain(right) < 0) return bddfalse;
  const Domain *a = &domain[left], *b = &domain[right];
  if (a->range != b->range) {
    bdd_error(BDD_ERR_RANGE);
    return bddfalse;
  }
  /* e keeps a reference while the next bit's equivalence is built. */
  BDD e = bddtrue;
  for (int i = 0; i < a->width; i++) {
    BDD t = bdd_apply(bdd_ithvar(a->bitvars[i]), bdd_ithvar(b->bitvars[i]), OP_BIIMP);
    BDD next = t == bddfalse ? bddfalse : bdd_addref(bdd_apply(e, bdd_addref(t), OP_AND));
    if (t != bddfalse) bdd_delref(t);
    bdd_delref(e);
    if (next == bddfalse) return bddfalse;
    e = next;
  }
  bdd_delref(e);
  return e;
}

BDD fdd_makeset(int *varset, int varnum) {
  if (!bddrunning) {
    bdd_error(BDD_ERR_RUNNING);
    return bddfalse;
  }
  if (varnum <= 0) return bddtrue;
  if (varset == NULL) {
    bdd_error(BDD_ERR_UNKNOWN_VAR);
    return bddfalse;
  }
  for (int k = 0; k < varnum; k++)
    if (check_domain(varset[k]) < 0) return bddfalse;
  BDD v = varset_conjunction(varset, 0, varnum - 1);
  bdd_delref(v);
  return v;
}

int fdd_intaddvarblock(int first, int last, int fixed) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (first > last || first < 0 || last >= fdvarnum) return bdd_error(BDD_ERR_VARBLOCK);
  BDD v = varset_conjunction(NULL, first, last);
  if (v == bddfalse) return failed_op_code();
  int res = bdd_addvarblock(v, fixed);
  bdd_delref(v);
  return res;
}

int fdd_setpair(bddPair *pair, int p1, int p2) {
  int err = check_domain(p1);
  if (err == 0) err = check_domain(p2);
  if (err < 0) return err;
  if (domain[p1].width != domain[p2].width) return bdd_error(BDD_ERR_SETSIZE);
  for (int i = 0; i < domain[p1].width; i++) {
    err = bdd_setpair(pair, domain[p1].bitvars[i], domain[p2].bitvars[i]);
    if (err < 0) return err;
  }
  return 0;
}

int fdd_setpairs(bddPair *pair, int *p1, int *p2, int size) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (size <= 0) return 0;
  if (p1 == NULL || p2 == NULL) return bdd_error(BDD_ERR_UNKNOWN_VAR);
  for (int k = 0; k < size; k++)
    if (check_domain(p1[k]) < 0 || check_domain(p2[k]) < 0) return BDD_ERR_UNKNOWN_VAR;
  for (int k = 0; k < size; k++) {
    int err = fdd_setpair(pair, p1[k], p2[k]);
    if (err < 0) return err;
  }
  return 0;
}

/* ---- scanning ---------------------------------------------------------------- */

int *fdd_scanallvar(BDD r) {
  if (bdd_checkroot(r) < 0 || r == bddfalse) return NULL;

  unsigned char *store = (unsigned char *)calloc((size_t)bddvarnum + 1, 1);
  if (store == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  /* Low branch preferred: the same assignment as the engine's own choice. */
  while (r > 1) {
    const int x = bddlevel2var[LEVEL(r)];
    if (LOW(r) != bddfalse) {
      r = LOW(r);
    } else {
      store[x] = 1;
      r = HIGH(r);
    }
  }

  int *res = (int *)malloc(sizeof(int) * (size_t)(fdvarnum > 0 ? fdvarnum : 1));
  if (res == NULL) {
    free(store);
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  for (int d = 0; d < fdvarnum; d++) {
    int value = 0;
    for (int m = domain[d].width - 1; m >= 0; m--)
      value = 2 * value + (store[domain[d].bitvars[m]] != 0);
    res[d] = value;
  }
  free(store);
  return res;
}

int fdd_scanvar(BDD r, int var) {
  int err = bdd_checkroot(r);
  if (err < 0) return err;
  if (r == bddfalse) return -1;
  err = check_domain(var);
  if (err < 0) return err;
  int *all = fdd_scanallvar(r);
  if (all == NULL) return BDD_ERR_MEMORY;
  int value = all[var];
  free(all);
  return value;
}

static int has_bit_in(int d, const unsigned char *inset) {
  for (int i = 0; i < domain[d].width; i++)
    if (inset[domain[d].bitvars[i]]) return 1;
  return 0;
}

int fdd_scanset(BDD r, int **varset, int *varnum) {
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  int *vars = NULL, n = 0;
  int err = bdd_scanset(r, &vars, &n);
  if (err < 0) return err;

  unsigned char *inset = (unsigned char *)calloc((size_t)bddvarnum + 1, 1);
  if (inset == NULL) {
    free(vars);
    return bdd_error(BDD_ERR_MEMORY);
  }
  for (int k = 0; k < n; k++) inset[vars[k]] = 1;
  free(vars);

  /* An empty answer is a null array: nothing to allocate or free. */
  int count = 0;
  for (int d = 0; d < fdvarnum; d++) count += has_bit_in(d, inset);
  int *out = NULL;
  if (count > 0 && (out = (int *)malloc(sizeof(int) * (size_t)count)) == NULL) {
    free(inset);
    return bdd_error(BDD_ERR_MEMORY);
  }
  for (int d = 0, k = 0; d < fdvarnum; d++)
    if (has_bit_in(d, inset)) out[k++] = d;
  free(inset);
  *varset = out;
  *varnum = count;
  return 0;
}

/* ---- printing ------------------------------------------------------------------ */

bddfilehandler fdd_file_hook(bddfilehandler handler) {
  bddfilehandler old = filehandler;
  filehandler = handler;
  return old;
}

int *fdddec2bin(int var, int val) {
  if (check_domain(var) < 0) return NULL;
  const int width = domain[var].width;
  if (val < 0 || (width < 31 && val >= (1 << width))) {
    bdd_error(BDD_ERR_RANGE);
    return NULL;
  }
  int *bits = (int *)calloc((size_t)width, sizeof(int));
  if (bits == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return NULL;
  }
  for (int i = 0; val > 0; i++, val >>= 1) bits[i] = val & 1;
  return bits;
}

/* One path: path[x] is 0 for a variable off the path, 1 on its low branch,
 * 2 on its high branch. Each shown domain lists, in increasing order, the
 * bit patterns the path allows. */
static void print_path(FILE *f, const int *path) {
  fputc('<', f);
  int shown = 0;
  for (int d = 0; d < fdvarnum; d++) {
    const Domain *dom = &domain[d];
    unsigned fixed = 0, open = 0;
    int onpath = 0;
    for (int i = 0; i < dom->width; i++) {
      const int s = path[dom->bitvars[i]];
      if (s == 0) open |= 1u << i;
      else onpath = 1;
      if (s == 2) fixed |= 1u << i;
    }
    if (!onpath) continue;
    if (shown++) fputs(", ", f);
    if (filehandler != NULL) filehandler(f, d);
    else fprintf(f, "%d", d);
    fputc(':', f);
    /* (sub - open) & open steps through the subsets of open in increasing
     * order, so only the allowed patterns are visited. */
    unsigned sub = 0;
    do {
      fprintf(f, sub == 0 ? "%d" : "/%d", (int)(fixed | sub));
      sub = (sub - open) & open;
    } while (sub != 0);
  }
  fputc('>', f);
}

static void printset_rec(FILE *f, int *path, BDD r) {
  if (r == bddfalse) return;
  if (r == bddtrue) {
    print_path(f, path);
    return;
  }
  const int x = bddlevel2var[LEVEL(r)];
  path[x] = 1;
  printset_rec(f, path, LOW(r));
  path[x] = 2;
  printset_rec(f, path, HIGH(r));
  path[x] = 0;
}

void fdd_printset(BDD r) { fdd_fprintset(stdout, r); }

void fdd_fprintset(FILE *ofile, BDD r) {
  if (bdd_checkroot(r) < 0) return;
  if (ofile == NULL) {
    bdd_error(BDD_ERR_FILE);
    return;
  }
  if (r < 2) {
    fputs(r == bddfalse ? "F" : "T", ofile);
    return;
  }
  int *path = (int *)calloc((size_t)bddvarnum, sizeof(int));
  if (path == NULL) {
    bdd_error(BDD_ERR_MEMORY);
    return;
  }
  printset_rec(ofile, path, r);
  free(path);
}

}  // extern "C"

/* ---- registration with the kernel --------------------------------------- */

HOOK_REGISTRAR(fdd) {
  static KernelHooks hooks;
  hooks.start = bdd_fdd_init;
  hooks.stop = bdd_fdd_done;
  kernel_register(HOOK_RANK_FDD, &hooks);
}
