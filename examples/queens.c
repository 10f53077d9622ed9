/* queens: count the solutions of the N-queens problem with a BDD.
 *
 * One Boolean variable per square says "a queen stands here".  The board
 * is the conjunction of
 *   - for every row: at least one queen in it, and
 *   - for every square: a queen here excludes every other square of its
 *     row, its column and both of its diagonals;
 * bdd_satcount then gives the number of placements, i.e. of solutions.
 * The constraints are conjoined row by row (--classic: square by square
 * into the whole board, the textbook order, several times slower).
 *
 * A tour of the basic interface: engine start-up, an error handler,
 * variables, the Boolean operators, reference counting, counting. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <corvane/corvane.h>

static const char *progname = "queens";
static char context[128] = "starting the engine";

/* The default error handler aborts the process.  A program installs its
 * own right after bdd_init: here, report what we were doing and stop. */
static void on_engine_error(int code) {
  const char *msg = bdd_errstring(code);
  fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context,
          msg ? msg : "unknown error", code);
  exit(3);
}

static void usage(void) {
  fprintf(stderr,
          "usage: %s N [--classic] [--nodes K] [--cache K] [--maxnodes K]\n"
          "  N           board size, 1..31\n"
          "  --classic   add the rules square by square to the whole board\n"
          "              (the textbook order; slower than the default row by row)\n"
          "  --nodes K   initial node table size (default 1000000)\n"
          "  --cache K   initial operator cache size (default 100000)\n"
          "  --maxnodes K  limit the node table to K nodes (default: no limit)\n",
          progname);
  exit(2);
}

/* Parses a whole decimal argument in [lo, hi]; anything else is a usage error. */
static int parse_int(const char *s, int lo, int hi) {
  char *end;
  long v;
  if (s == NULL || *s == '\0') usage();
  v = strtol(s, &end, 10);
  if (*end != '\0' || v < lo || v > hi) usage();
  return (int)v;
}

/* Results of operators carry no reference, and a BDD without one may be
 * reclaimed by the next garbage collection.  A variable that holds a BDD
 * across operations therefore owns one reference; assign() moves that
 * reference to the new value.  (Referencing first keeps it safe when the
 * new value equals the old one.) */
static void assign(BDD *var, BDD value) {
  bdd_addref(value);
  bdd_delref(*var);
  *var = value;
}

static int N;
static int square(int row, int col) { return row * N + col; }

/* "A queen on (i, j) excludes every other square it attacks." */
static BDD exclusion(int i, int j) {
  BDD others = bddtrue; /* the constants need no reference */
  int k, l;
  for (l = 0; l < N; l++) /* same row */
    if (l != j) assign(&others, bdd_and(others, bdd_nithvar(square(i, l))));
  for (k = 0; k < N; k++) /* same column */
    if (k != i) assign(&others, bdd_and(others, bdd_nithvar(square(k, j))));
  for (k = 0; k < N; k++) { /* both diagonals */
    int d = k - i;
    if (d == 0) continue;
    if (j + d >= 0 && j + d < N) assign(&others, bdd_and(others, bdd_nithvar(square(k, j + d))));
    if (j - d >= 0 && j - d < N) assign(&others, bdd_and(others, bdd_nithvar(square(k, j - d))));
  }
  /* bdd_ithvar results are permanent: no reference needed. */
  BDD rule = bdd_imp(bdd_ithvar(square(i, j)), others);
  bdd_addref(rule);
  bdd_delref(others);
  return rule; /* referenced: the caller releases it */
}

int main(int argc, char **argv) {
  int nodes = 1000000, cache = 100000, maxnodes = 0, classic = 0;
  int i, j, a;

  N = 0;
  for (a = 1; a < argc; a++) {
    if (strcmp(argv[a], "--nodes") == 0 && a + 1 < argc)
      nodes = parse_int(argv[++a], 2, 100000000);
    else if (strcmp(argv[a], "--cache") == 0 && a + 1 < argc)
      cache = parse_int(argv[++a], 1, 100000000);
    else if (strcmp(argv[a], "--classic") == 0)
      classic = 1;
    else if (strcmp(argv[a], "--maxnodes") == 0 && a + 1 < argc)
      maxnodes = parse_int(argv[++a], 1, 100000000);
    else if (N == 0 && argv[a][0] != '-')
      N = parse_int(argv[a], 1, 31); /* N*N variables must stay below 1024 */
    else
      usage();
  }
  if (N < 1) usage();

  clock_t start = clock();

  /* Start the engine: node table and cache sizes are only initial sizes,
   * both grow on demand.  The cache ratio keeps the caches at one entry
   * per four nodes as the table grows. */
  if (bdd_init(nodes, cache) < 0) {
    fprintf(stderr, "%s: cannot start the BDD engine (table of %d nodes)\n", progname, nodes);
    return 3;
  }
  bdd_error_hook(on_engine_error);
  bdd_gbc_hook(NULL); /* no garbage-collection report lines */
  bdd_setcacheratio(4);
  if (maxnodes > 0) /* a limit must lie above the current size: else "no growth" */
    bdd_setmaxnodenum(maxnodes > bdd_getallocnum() ? maxnodes : bdd_getallocnum() + 1);
  bdd_setvarnum(N * N);

  BDD board = bddtrue;

  if (!classic) {
    /* Row by row: the row's "at least one queen" and the rules of its
     * squares first make a small BDD of their own, which then joins the
     * board.  The same conjunction as below, in an order that keeps the
     * intermediate results several times smaller. */
    for (i = 0; i < N; i++) {
      snprintf(context, sizeof context, "building row %d", i);
      BDD row = bddfalse;
      for (j = 0; j < N; j++) assign(&row, bdd_or(row, bdd_ithvar(square(i, j))));
      for (j = 0; j < N; j++) {
        BDD rule = exclusion(i, j);
        assign(&row, bdd_and(row, rule));
        bdd_delref(rule);
      }
      assign(&board, bdd_and(board, row));
      bdd_delref(row);
    }
  } else {
    /* Square by square: every rule goes straight into the board. */
    snprintf(context, sizeof context, "building the row constraints");
    for (i = 0; i < N; i++) {
      BDD row = bddfalse;
      for (j = 0; j < N; j++) assign(&row, bdd_or(row, bdd_ithvar(square(i, j))));
      assign(&board, bdd_and(board, row));
      bdd_delref(row);
    }
    for (i = 0; i < N; i++)
      for (j = 0; j < N; j++) {
        snprintf(context, sizeof context, "adding the rule of square (%d,%d)", i, j);
        BDD rule = exclusion(i, j);
        assign(&board, bdd_and(board, rule));
        bdd_delref(rule);
      }
  }

  snprintf(context, sizeof context, "counting the solutions");
  double solutions = bdd_satcount(board);
  int size = bdd_nodecount(board);
  double seconds = (double)(clock() - start) / CLOCKS_PER_SEC;

  printf("%d queens: %.0f solutions\n", N, solutions);
  printf("  result BDD: %d nodes\n", size);
  printf("  nodes in use at the end: %d\n", bdd_getnodenum());
  printf("  time: %.2f s\n", seconds);

  bdd_delref(board);
  bdd_done();
  return 0;
}
