/* Saving BDDs to text, loading them back, and the printers.
 *
 * The save file lists the nodes reachable from one root, children before
 * parents, each as "index variable low high". The loader rebuilds every line
 * with if-then-else on the variable, so the function survives a change of
 * variable order between saving and loading.
 *
 * The loader is the library's main input surface: a file may be truncated,
 * corrupted or hostile. It validates every number before using it, sizes
 * its tables by the lines it has actually read rather than by what the
 * header claims, and on any failure releases every reference it took. */
#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "kernel_internal.h"
#include "io.h"
#include "operators.h"

/* Variable-name printer shared by the printers; NULL prints numbers. */
static bddfilehandler filehandler = NULL;

/* ==== shared helpers ====================================================== */

/* A root the saver and the printers may walk: a constant, or a live node of
 * the table. Anything else would send the walks outside the table. */
static int check_walkroot(BDD r) {
  if (r == 0 || r == 1) return 0;
  if (r < 0) return bdd_error(BDD_ERR_ILLBDD);
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);
  if (r >= bddnodesize || ISFREE(r)) return bdd_error(BDD_ERR_ILLBDD);
  return 0;
}

/* Variable at a level. Guards the lookup so that a constant printed before
 * the first variable exists (no level table yet) reads nothing missing. */
static inline int level_var(unsigned level) {
  if (bddlevel2var != NULL && level <= (unsigned)bddvarnum) return bddlevel2var[level];
  return (int)level;
}

/* Writes a variable through the installed printer, or as a number padded to
 * `width` columns (0 = unpadded). */
static void print_var(FILE *f, int var, int width) {
  if (filehandler != NULL)
    filehandler(f, var);
  else
    fprintf(f, "%*d", width, var);
}

/* ==== saving ============================================================== */

/* Post-order: both children's unwritten nodes precede the node itself, so
 * the loader always finds a child before its parent. */
static void save_rec(FILE *f, int r) {
  if (r < 2 || MARKED(r)) return;
  SETMARK(r);
  save_rec(f, LOW(r));
  save_rec(f, HIGH(r));
  fprintf(f, "%d %d %d %d\n", r, level_var(LEVEL(r)), LOW(r), HIGH(r));
}

extern "C" int bdd_save(FILE *ofile, BDD r) {
  if (ofile == NULL) return bdd_error(BDD_ERR_FILE);
  int e = check_walkroot(r);
  if (e < 0) return e;

  if (r < 2) {
    fprintf(ofile, "0 0 %d\n", r);
    return 0;
  }

  int count = 0;
  bdd_markcount(r, &count);
  bdd_unmark(r);

  fprintf(ofile, "%d %d\n", count, bddvarnum);
  for (int v = 0; v < bddvarnum; v++) fprintf(ofile, "%d ", bddvar2level[v]);
  fprintf(ofile, "\n");

  save_rec(ofile, r);
  bdd_unmark(r);
  return 0;
}

extern "C" int bdd_fnsave(const char *fname, BDD r) {
  if (fname == NULL) return bdd_error(BDD_ERR_FILE);
  /* Refuse a bad root before the file is opened: a failed save must not
   * truncate an existing file. */
  int e = check_walkroot(r);
  if (e < 0) return e;
  FILE *f = fopen(fname, "w");
  if (f == NULL) return bdd_error(BDD_ERR_FILE);
  e = bdd_save(f, r);
  fclose(f);
  return e;
}

/* ==== loading ============================================================= */

/* Largest node count a file can honestly claim: every node line stands for a
 * distinct node index of at least 2 in a 27-bit index space. */
#define LOAD_MAXNODES ((int)INDEX_MASK - 2)
#define LOAD_INITCAP 256

typedef struct {
  int key;   /* node number from the file */
  int data;  /* BDD built for it */
  int first; /* head of the chain of the bucket with this index, -1 empty */
  int next;  /* next record in the same chain, -1 ends it */
} LoadHash;

/* Live during one load only. */
static LoadHash *lh_table = NULL;
static int lh_nodenum;  /* node count the header declared */
static int lh_capacity; /* records allocated; also the bucket count */
static int lh_freepos;  /* next unused record */
static int *loadvar2level = NULL;

/* Distinct nodes the loader holds one reference on. A node built by many
 * lines gets only one reference, so a hostile file cannot saturate a count
 * (a saturated count never comes down again and would leak the node). */
static int *lh_refs = NULL;
static int lh_refcap; /* power of two, or 0 */
static int lh_refnum;

/* Errors raised while the node loader runs, whoever raises them. */
static bddinthandler load_prevhandler = NULL;
static int load_error;

static void load_errhandler(int e) {
  if (load_error == 0) load_error = e;
  if (load_prevhandler != NULL) load_prevhandler(e);
}

/* Reads one decimal integer the way "%d" does (leading whitespace, optional
 * sign, digits), but refuses a value that does not fit in an int instead of
 * wrapping it. Returns 1 on success, 0 at end of input, on a character that
 * starts no number, or on overflow. */
static int read_int(FILE *f, int *out) {
  int c;
  do c = getc(f);
  while (c != EOF && isspace(c));
  int neg = 0;
  if (c == '+' || c == '-') {
    neg = (c == '-');
    c = getc(f);
  }
  if (c == EOF || !isdigit(c)) {
    if (c != EOF) ungetc(c, f);
    return 0;
  }
  long long v = 0;
  const long long limit = neg ? -(long long)INT_MIN : (long long)INT_MAX;
  while (c != EOF && isdigit(c)) {
    v = v * 10 + (c - '0');
    if (v > limit) return 0;
    c = getc(f);
  }
  if (c != EOF) ungetc(c, f);
  *out = (int)(neg ? -v : v);
  return 1;
}

static void loadhash_relink(void) {
  for (int i = 0; i < lh_capacity; i++) lh_table[i].first = -1;
  for (int i = 0; i < lh_freepos; i++) {
    int b = lh_table[i].key % lh_capacity;
    lh_table[i].next = lh_table[b].first;
    lh_table[b].first = i;
  }
}

/* Room for one more record. The table grows with the lines actually read
 * (never beyond the declared count), so a header that claims millions of
 * nodes costs nothing until the lines are there. */
static int loadhash_reserve(void) {
  if (lh_freepos < lh_capacity) return 0;
  long long want = (long long)lh_capacity * 2;
  if (want > lh_nodenum) want = lh_nodenum;
  if (want <= lh_capacity) return BDD_ERR_FORMAT; /* more lines than declared */
  LoadHash *t = (LoadHash *)realloc(lh_table, (size_t)want * sizeof(LoadHash));
  if (t == NULL) return BDD_ERR_MEMORY;
  lh_table = t;
  lh_capacity = (int)want;
  loadhash_relink();
  return 0;
}

/* key is at least 2 and a free record exists (loadhash_reserve). */
static void loadhash_add(int key, int data) {
  int pos = lh_freepos++;
  int b = key % lh_capacity;
  lh_table[pos].key = key;
  lh_table[pos].data = data;
  lh_table[pos].next = lh_table[b].first;
  lh_table[b].first = pos;
}

/* The BDD of a node number defined by an earlier line, or -1. */
static int loadhash_get(int key) {
  if (key < 0 || lh_capacity == 0) return -1;
  for (int p = lh_table[key % lh_capacity].first; p >= 0; p = lh_table[p].next)
    if (lh_table[p].key == key) return lh_table[p].data;
  return -1;
}

static inline unsigned refs_slot(int n) { return ((unsigned)n * 2654435761u) & (unsigned)(lh_refcap - 1); }

static void refs_put(int n) {
  unsigned i = refs_slot(n);
  while (lh_refs[i] != 0) i = (i + 1) & (unsigned)(lh_refcap - 1);
  lh_refs[i] = n;
}

/* Takes one reference on node n unless this load already holds one. */
static int refs_hold(int n) {
  if (n < 2) return 0; /* constants need none */
  if (lh_refcap > 0) {
    for (unsigned i = refs_slot(n); lh_refs[i] != 0; i = (i + 1) & (unsigned)(lh_refcap - 1))
      if (lh_refs[i] == n) return 0;
  }
  if ((lh_refnum + 1) * 2 > lh_refcap) {
    int oldcap = lh_refcap;
    int *old = lh_refs;
    int cap = oldcap == 0 ? 64 : oldcap * 2;
    int *t = (int *)calloc((size_t)cap, sizeof(int));
    if (t == NULL) return BDD_ERR_MEMORY;
    lh_refs = t;
    lh_refcap = cap;
    for (int k = 0; k < oldcap; k++)
      if (old[k] != 0) refs_put(old[k]);
    free(old);
  }
  refs_put(n);
  lh_refnum++;
  bdd_addref(n);
  return 0;
}

static void load_cleanup(void) {
  for (int k = 0; k < lh_refcap; k++)
    if (lh_refs[k] != 0) bdd_delref(lh_refs[k]);
  free(lh_refs);
  lh_refs = NULL;
  lh_refcap = lh_refnum = 0;
  free(lh_table);
  lh_table = NULL;
  lh_capacity = lh_freepos = lh_nodenum = 0;
  free(loadvar2level);
  loadvar2level = NULL;
}

/* Resolves a child field: constants stand for themselves, anything else
 * must name an earlier line. Returns the BDD or -1. */
static int load_child(int c) {
  if (c < 0) return -1;
  if (c < 2) return c;
  return loadhash_get(c);
}

/* Reads the node lines; returns the BDD of the last one, or an error code
 * (raised already). vnum is the variable count the header declared. */
static int bdd_loaddata(FILE *ifile, int vnum) {
  int r = 0;
  for (int n = 0; n < lh_nodenum; n++) {
    int key, var, low, high;
    if (!read_int(ifile, &key) || !read_int(ifile, &var) || !read_int(ifile, &low) ||
        !read_int(ifile, &high))
      return bdd_error(BDD_ERR_FORMAT);
    /* Node numbers are indices of non-constant nodes: 2 and up, 27 bits. */
    if (key < 2 || key > LOAD_MAXNODES + 1) return bdd_error(BDD_ERR_FORMAT);
    if (var < 0 || var >= vnum) return bdd_error(BDD_ERR_FORMAT);
    low = load_child(low);
    high = load_child(high);
    if (low < 0 || high < 0) return bdd_error(BDD_ERR_FORMAT);
    if (loadhash_get(key) >= 0) return bdd_error(BDD_ERR_FORMAT);

    int e = loadhash_reserve();
    if (e < 0) return bdd_error(e);

    r = bdd_ite(bdd_ithvar(var), high, low);
    if (load_error < 0) return load_error;
    /* With the sticky node-table condition set, node creation may hand out
     * 0 without raising anything: the result cannot be trusted. */
    if (bdderrorcond != 0) return bdd_error(BDD_ERR_NODENUM);

    e = refs_hold(r);
    if (e < 0) return bdd_error(e);
    loadhash_add(key, r);
  }
  return r;
}

extern "C" int bdd_load(FILE *ifile, BDD *root) {
  if (ifile == NULL || root == NULL) return bdd_error(BDD_ERR_FILE);
  if (!bddrunning) return bdd_error(BDD_ERR_RUNNING);

  int nodenum, vnum;
  if (!read_int(ifile, &nodenum) || !read_int(ifile, &vnum)) return bdd_error(BDD_ERR_FORMAT);

  if (nodenum == 0 && vnum == 0) {
    /* Constant form: only the two constants are BDDs without node lines. */
    int c;
    if (!read_int(ifile, &c) || (c != 0 && c != 1)) return bdd_error(BDD_ERR_FORMAT);
    *root = c;
    return 0;
  }

  /* A non-constant BDD needs at least one node and one variable; neither
   * count may exceed what the engine can represent. */
  if (nodenum <= 0 || nodenum > LOAD_MAXNODES || vnum <= 0 || vnum > MAX_VARNUM)
    return bdd_error(BDD_ERR_FORMAT);

  /* The order line must be a permutation of the levels 0..vnum-1; the
   * order itself is not restored, but anything else marks a damaged file. */
  loadvar2level = (int *)malloc((size_t)vnum * 2 * sizeof(int));
  if (loadvar2level == NULL) return bdd_error(BDD_ERR_MEMORY);
  int *seen = loadvar2level + vnum;
  memset(seen, 0, (size_t)vnum * sizeof(int));
  for (int v = 0; v < vnum; v++) {
    int lev;
    if (!read_int(ifile, &lev) || lev < 0 || lev >= vnum || seen[lev]) {
      load_cleanup();
      return bdd_error(BDD_ERR_FORMAT);
    }
    seen[lev] = 1;
    loadvar2level[v] = lev;
  }

  if (vnum > bddvarnum) {
    int e = bdd_setvarnum(vnum);
    if (e < 0 || bddvarnum < vnum) {
      load_cleanup();
      return e < 0 ? e : bdd_error(BDD_ERR_MEMORY);
    }
  }

  lh_nodenum = nodenum;
  lh_capacity = nodenum < LOAD_INITCAP ? nodenum : LOAD_INITCAP;
  lh_freepos = 0;
  lh_table = (LoadHash *)malloc((size_t)lh_capacity * sizeof(LoadHash));
  if (lh_table == NULL) {
    load_cleanup();
    return bdd_error(BDD_ERR_MEMORY);
  }
  loadhash_relink();

  load_error = 0;
  load_prevhandler = bdd_error_hook(load_errhandler);
  int r = bdd_loaddata(ifile, vnum);
  bdd_error_hook(load_prevhandler);
  load_prevhandler = NULL;

  load_cleanup();
  *root = 0;
  if (r < 0) return r;
  *root = r;
  return 0;
}

extern "C" int bdd_fnload(const char *fname, BDD *root) {
  if (fname == NULL) return bdd_error(BDD_ERR_FILE);
  FILE *f = fopen(fname, "r");
  if (f == NULL) return bdd_error(BDD_ERR_FILE);
  int e = bdd_load(f, root);
  fclose(f);
  return e;
}

/* ==== printing ============================================================ */

extern "C" bddfilehandler bdd_file_hook(bddfilehandler handler) {
  bddfilehandler old = filehandler;
  filehandler = handler;
  return old;
}

extern "C" void bdd_printall(void) { bdd_fprintall(stdout); }

extern "C" void bdd_fprintall(FILE *ofile) {
  if (ofile == NULL) {
    bdd_error(BDD_ERR_FILE);
    return;
  }
  for (int n = 0; n < bddnodesize; n++) {
    if (ISFREE(n)) continue;
    fprintf(ofile, "[%5d - %2d] ", n, (int)REFCOUNT(n));
    if (bddlevel2var == NULL)
      fprintf(ofile, "%3d", (int)LEVEL(n)); /* no variables yet: nothing to name */
    else
      print_var(ofile, level_var(LEVEL(n)), 3);
    fprintf(ofile, ": %3d", LOW(n));
    fprintf(ofile, " %3d\n", HIGH(n));
  }
}

extern "C" void bdd_printtable(BDD r) { bdd_fprinttable(stdout, r); }

extern "C" void bdd_fprinttable(FILE *ofile, BDD r) {
  if (ofile == NULL) {
    bdd_error(BDD_ERR_FILE);
    return;
  }
  if (check_walkroot(r) < 0) return;
  fprintf(ofile, "ROOT: %d\n", r);
  if (r < 2) return;

  bdd_mark(r);
  /* Table order; the scan clears every mark it finds. */
  for (int n = 0; n < bddnodesize; n++) {
    if (!MARKED(n)) continue;
    UNMARK(n);
    fprintf(ofile, "[%5d] ", n);
    print_var(ofile, level_var(LEVEL(n)), 3);
    fprintf(ofile, ": %3d", LOW(n));
    fprintf(ofile, " %3d\n", HIGH(n));
  }
}

/* path[level]: 0 = not on the path, 1 = low branch taken, 2 = high. */
static void printset_path(FILE *f, const int *path) {
  int first = 1;
  fprintf(f, "<");
  for (int l = 0; l < bddvarnum; l++) {
    if (path[l] == 0) continue;
    if (!first) fprintf(f, ", ");
    first = 0;
    print_var(f, level_var((unsigned)l), 0);
    fprintf(f, ":%d", path[l] == 2 ? 1 : 0);
  }
  fprintf(f, ">");
}

static void printset_rec(FILE *f, int *path, int r) {
  if (r == 0) return;
  if (r == 1) {
    printset_path(f, path);
    return;
  }
  unsigned l = LEVEL(r);
  if (l >= (unsigned)bddvarnum) return; /* only constants sit that low */
  path[l] = 1;
  printset_rec(f, path, LOW(r));
  path[l] = 2;
  printset_rec(f, path, HIGH(r));
  path[l] = 0;
}

extern "C" void bdd_printset(BDD r) { bdd_fprintset(stdout, r); }

extern "C" void bdd_fprintset(FILE *ofile, BDD r) {
  if (ofile == NULL) {
    bdd_error(BDD_ERR_FILE);
    return;
  }
  if (check_walkroot(r) < 0) return;
  if (r < 2) {
    fprintf(ofile, "%s", r == 0 ? "F" : "T");
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

extern "C" void bdd_printdot(BDD r) { bdd_fprintdot(stdout, r); }

/* Pre-order, low child first: a node and its two edges come before
 * anything of its children. */
static void dot_rec(FILE *f, int r) {
  if (r < 2 || MARKED(r)) return;
  fprintf(f, "%d [label=\"", r);
  print_var(f, level_var(LEVEL(r)), 0);
  fprintf(f, "\"];\n");
  fprintf(f, "%d -> %d [style=dotted];\n", r, LOW(r));
  fprintf(f, "%d -> %d [style=filled];\n", r, HIGH(r));
  SETMARK(r);
  dot_rec(f, LOW(r));
  dot_rec(f, HIGH(r));
}

extern "C" void bdd_fprintdot(FILE *ofile, BDD r) {
  if (ofile == NULL) {
    bdd_error(BDD_ERR_FILE);
    return;
  }
  if (check_walkroot(r) < 0) return;
  fprintf(ofile, "digraph G {\n");
  fprintf(ofile, "0 [shape=box, label=\"0\", style=filled, shape=box, height=0.3, width=0.3];\n");
  fprintf(ofile, "1 [shape=box, label=\"1\", style=filled, shape=box, height=0.3, width=0.3];\n");
  dot_rec(ofile, r);
  fprintf(ofile, "}\n");
  bdd_unmark(r);
}

extern "C" int bdd_fnprintdot(const char *fname, BDD r) {
  if (fname == NULL) return bdd_error(BDD_ERR_FILE);
  int e = check_walkroot(r);
  if (e < 0) return e;
  FILE *f = fopen(fname, "w");
  if (f == NULL) return bdd_error(BDD_ERR_FILE);
  bdd_fprintdot(f, r);
  fclose(f);
  return 0;
}
