/* circuit: BDDs of a combinational netlist (".bench" format), and
 * equivalence checking of two netlists.
 *
 *   circuit [options] FILE.bench
 *       builds the BDD of every output and prints, per output, its node
 *       count and the fraction of input vectors that make it true, then the
 *       number of nodes the outputs have together.
 *
 *   circuit [options] --equiv A.bench B.bench
 *       builds both netlists over the same input variables (inputs matched
 *       by position) and compares their outputs pairwise.  Since BDDs are
 *       canonical, equal functions have the same node: equivalence is one
 *       integer comparison.  Otherwise the exclusive-or of the two outputs
 *       is non-false, and any satisfying assignment of it is an input
 *       vector on which the two netlists differ.
 *
 * Shows: building a large number of BDDs while releasing intermediate
 * results as soon as they are dead (reference counting), node counting,
 * satisfying counts and assignments, reading a BDD through bdd_var /
 * bdd_low / bdd_high, variable reordering by sifting, and Graphviz output. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <corvane/corvane.h>
#include "netlist.h"

static const char *progname = "circuit";
static char context[300] = "starting the engine";

static void on_engine_error(int code) {
  const char *msg = bdd_errstring(code);
  fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context,
          msg ? msg : "unknown error", code);
  exit(3);
}

static void usage(void) {
  fprintf(stderr,
          "usage: %s [options] FILE.bench\n"
          "       %s [options] --equiv A.bench B.bench\n"
          "options:\n"
          "  --order=file     give the inputs the variable order of the file (default)\n"
          "  --order=reverse  the order opposite to the file order (also --reverse)\n"
          "  --order=dfs      the order in which a depth-first walk from the outputs\n"
          "                   reaches the inputs, deepest fan-in first\n"
          "  --sift           reorder the variables once by sifting after building\n"
          "  --order          print the final variable order (top first)\n"
          "  --dot OUT FILE   write the BDD of output OUT as a Graphviz file\n"
          "  --quiet          no per-output lines\n"
          "  --nodes K        initial node table size (default 1000000)\n"
          "  --cache K        initial operator cache size (default 100000)\n"
          "exit status: 0 ok (with --equiv: every output equivalent), 1 some output\n"
          "complementary or different (--equiv only), 2 usage, 3 input or engine error\n",
          progname, progname);
  exit(2);
}

static int parse_int(const char *s, int lo, int hi) {
  char *end;
  long v;
  if (s == NULL || *s == '\0') usage();
  v = strtol(s, &end, 10);
  if (*end != '\0' || v < lo || v > hi) usage();
  return (int)v;
}

static double seconds_since(clock_t start) {
  return (double)(clock() - start) / CLOCKS_PER_SEC;
}

/* Holding a BDD across operations takes a reference (operator results
 * carry none); assign() moves the reference held by *var to value. */
static void assign(BDD *var, BDD value) {
  bdd_addref(value);
  bdd_delref(*var);
  *var = value;
}

/* The variable of input number k (file order): its position in the chosen
 * static order, since variable v starts on level v. */
enum { ORDER_FILE, ORDER_REVERSE, ORDER_DFS };
static int input_order = ORDER_FILE;
static int nvars;
static int *var_of;   /* var_of[k]: the variable of input k */
static int var_of_input(int k) { return var_of[k]; }

static void choose_order(const netlist *nl) {
  int k;
  var_of = (int *)malloc(((size_t)nl->ninputs + 1) * sizeof(int));
  if (!var_of || (input_order == ORDER_DFS && nl_dfs_order(nl, var_of) < 0)) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }
  if (input_order != ORDER_DFS)
    for (k = 0; k < nl->ninputs; k++)
      var_of[k] = input_order == ORDER_REVERSE ? nl->ninputs - 1 - k : k;
}

/* The BDD of one gate from the BDDs of its inputs; returned referenced.
 * An inverting gate applies its inverting operator to the last input
 * (a NAND b is one pass over both diagrams; a AND b followed by a negation
 * would be two). */
static BDD gate_bdd(int type, int n, const BDD *in) {
  int op = OP_AND, last_op = OP_AND, i;
  switch (type) {
    case NL_AND: op = last_op = OP_AND; break;
    case NL_NAND: op = OP_AND; last_op = OP_NAND; break;
    case NL_OR: op = last_op = OP_OR; break;
    case NL_NOR: op = OP_OR; last_op = OP_NOR; break;
    case NL_XOR: op = last_op = OP_XOR; break;
    case NL_XNOR: op = OP_XOR; last_op = OP_BIIMP; break;
    case NL_NOT: return bdd_addref(bdd_not(in[0]));
    default: return bdd_addref(in[0]); /* NL_BUFF */
  }
  if (n == 1) /* a one-input gate is a buffer or an inverter */
    return bdd_addref(last_op == op ? in[0] : bdd_not(in[0]));
  BDD acc = in[0];
  bdd_addref(acc);
  for (i = 1; i < n - 1; i++) assign(&acc, bdd_apply(acc, in[i], op));
  assign(&acc, bdd_apply(acc, in[n - 1], last_op));
  return acc;
}

/* Builds the BDD of every output of nl into out[] (each referenced once).
 * Gate values live exactly as long as some later gate or an output still
 * needs them, so the live part of the node table stays small. */
static void build_outputs(const netlist *nl, BDD *out) {
  BDD *val = (BDD *)calloc((size_t)nl->nsigs, sizeof(BDD));
  int *uses = (int *)calloc((size_t)nl->nsigs, sizeof(int));
  BDD *args = NULL;
  int maxfanin = 1, i, k;
  if (!val || !uses) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }
  for (i = 0; i < nl->norder; i++) {
    const nl_signal *g = &nl->sigs[nl->order[i]];
    for (k = 0; k < g->nfanin; k++) uses[g->fanin[k]]++;
    if (g->nfanin > maxfanin) maxfanin = g->nfanin;
  }
  for (i = 0; i < nl->noutputs; i++) uses[nl->outputs[i]]++;
  args = (BDD *)malloc((size_t)maxfanin * sizeof(BDD));
  if (!args) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }

  /* Variable BDDs are permanent; taking or dropping references on them is
   * harmless, so they are handled like every other value below. */
  for (k = 0; k < nl->ninputs; k++) val[nl->inputs[k]] = bdd_ithvar(var_of_input(k));

  for (i = 0; i < nl->norder; i++) {
    int s = nl->order[i];
    const nl_signal *g = &nl->sigs[s];
    snprintf(context, sizeof context, "building gate %.100s (%.100s:%d)", g->name, nl->path,
             g->line);
    for (k = 0; k < g->nfanin; k++) args[k] = val[g->fanin[k]];
    val[s] = gate_bdd(g->type, g->nfanin, args);
    for (k = 0; k < g->nfanin; k++)
      if (--uses[g->fanin[k]] == 0) bdd_delref(val[g->fanin[k]]);
  }

  for (i = 0; i < nl->noutputs; i++) {
    int s = nl->outputs[i];
    out[i] = val[s];
    bdd_addref(out[i]);
    if (--uses[s] == 0) bdd_delref(val[s]);
  }
  free(args);
  free(uses);
  free(val);
}

static void read_netlist(netlist *nl, const char *path) {
  if (nl_read(nl, path) < 0) {
    fprintf(stderr, "%s: %s\n", progname, nl->error);
    nl_free(nl);
    exit(3);
  }
  if (nl->ninputs > 1023) {
    fprintf(stderr, "%s: %s: %d inputs, at most 1023 are supported\n", progname, path,
            nl->ninputs);
    nl_free(nl);
    exit(3);
  }
}

static void start_engine(int nodes, int cache, int ninputs) {
  if (bdd_init(nodes, cache) < 0) {
    fprintf(stderr, "%s: cannot start the BDD engine (table of %d nodes)\n", progname, nodes);
    exit(3);
  }
  bdd_error_hook(on_engine_error);
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(4);
  nvars = ninputs;
  /* the engine needs at least one variable, even for a netlist without inputs */
  bdd_setvarnum(ninputs > 0 ? ninputs : 1);
}

/* Evaluates f under an assignment given per variable. */
static int evaluate(BDD f, const char *value_of_var) {
  while (f > 1) f = value_of_var[bdd_var(f)] ? bdd_high(f) : bdd_low(f);
  return f;
}

static void print_order(const netlist *nl) {
  int level, k;
  printf("order:");
  for (level = 0; level < nvars; level++) {
    int var = bdd_level2var(level);
    for (k = 0; k < nl->ninputs && var_of[k] != var; k++) continue;
    if (k < nl->ninputs) printf(" %s", nl->sigs[nl->inputs[k]].name);
  }
  printf("\n");
}

/* ---- one netlist -------------------------------------------------------- */

static int run_single(const char *path, int nodes, int cache, int sift, int show_order,
                      const char *dot_output, const char *dot_file, int quiet) {
  netlist nl;
  int i, dot_index = -1;
  read_netlist(&nl, path);
  if (dot_output) {
    for (i = 0; i < nl.noutputs && dot_index < 0; i++)
      if (strcmp(nl.sigs[nl.outputs[i]].name, dot_output) == 0) dot_index = i;
    if (dot_index < 0) {
      fprintf(stderr, "%s: %s has no output called %s\n", progname, path, dot_output);
      nl_free(&nl);
      return 3;
    }
  }

  choose_order(&nl);
  start_engine(nodes, cache, nl.ninputs);
  BDD *out = (BDD *)malloc((size_t)nl.noutputs * sizeof(BDD));
  if (!out) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }
  clock_t start = clock();
  build_outputs(&nl, out);
  double build_time = seconds_since(start);

  printf("%s: %d inputs, %d outputs, %d gates (%d needed by the outputs)\n", path, nl.ninputs,
         nl.noutputs, nl.ngates, nl.norder);
  snprintf(context, sizeof context, "counting");
  if (!quiet)
    for (i = 0; i < nl.noutputs; i++) {
      /* bdd_satcount counts over all declared variables */
      double fraction = ldexp(bdd_satcount(out[i]), -bdd_varnum());
      printf("  output %-10s %9d nodes  fraction %.10g\n", nl.sigs[nl.outputs[i]].name,
             bdd_nodecount(out[i]), fraction);
    }
  int shared = bdd_anodecount(out, nl.noutputs);
  printf("shared nodes: %d\n", shared);
  printf("nodes in use: %d, build time %.2f s\n", bdd_getnodenum(), build_time);

  if (sift) {
    snprintf(context, sizeof context, "sifting");
    start = clock();
    bdd_varblockall();          /* every variable a block of its own, free to move */
    bdd_reorder(REORDER_SIFT);  /* node indices stay valid across reordering */
    double sift_time = seconds_since(start);
    printf("sifting: %d -> %d shared nodes (%.2f s)\n", shared, bdd_anodecount(out, nl.noutputs),
           sift_time);
  }
  if (show_order) print_order(&nl);
  if (dot_index >= 0) {
    snprintf(context, sizeof context, "writing %.200s", dot_file);
    bdd_fnprintdot(dot_file, out[dot_index]);
    printf("wrote output %s to %s\n", dot_output, dot_file);
  }

  for (i = 0; i < nl.noutputs; i++) bdd_delref(out[i]);
  free(out);
  free(var_of);
  bdd_done();
  nl_free(&nl);
  return 0;
}

/* ---- two netlists ------------------------------------------------------- */

static int run_equiv(const char *path_a, const char *path_b, int nodes, int cache, int quiet) {
  netlist a, b;
  int i, k, nequal = 0, ncompl = 0, ndiff = 0;
  read_netlist(&a, path_a);
  read_netlist(&b, path_b);
  if (a.ninputs != b.ninputs || a.noutputs != b.noutputs) {
    fprintf(stderr, "%s: cannot compare: %s has %d inputs and %d outputs, %s has %d and %d\n",
            progname, path_a, a.ninputs, a.noutputs, path_b, b.ninputs, b.noutputs);
    nl_free(&a);
    nl_free(&b);
    return 3;
  }

  choose_order(&a); /* both netlists share the first one's order */
  start_engine(nodes, cache, a.ninputs);
  BDD *out_a = (BDD *)malloc((size_t)a.noutputs * sizeof(BDD));
  BDD *out_b = (BDD *)malloc((size_t)b.noutputs * sizeof(BDD));
  char *value_of_var = (char *)calloc((size_t)bdd_varnum(), 1);
  if (!out_a || !out_b || !value_of_var) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }
  clock_t start = clock();
  build_outputs(&a, out_a);
  build_outputs(&b, out_b);

  printf("%s vs %s: %d inputs, %d outputs\n", path_a, path_b, a.ninputs, a.noutputs);
  for (i = 0; i < a.noutputs; i++) {
    const char *name_a = a.sigs[a.outputs[i]].name, *name_b = b.sigs[b.outputs[i]].name;
    snprintf(context, sizeof context, "comparing output %.100s with %.100s", name_a, name_b);
    if (out_a[i] == out_b[i]) {
      nequal++;
      if (!quiet) printf("  output %d (%s / %s): equivalent\n", i, name_a, name_b);
    } else if (out_a[i] == bdd_not(out_b[i])) {
      ncompl++;
      if (!quiet) printf("  output %d (%s / %s): complementary\n", i, name_a, name_b);
    } else {
      /* Any assignment that satisfies a xor b tells the two apart.  The cube
       * fixes only the variables on one path; the others are set to 0. */
      BDD diff = bdd_addref(bdd_xor(out_a[i], out_b[i]));
      BDD cube = bdd_addref(bdd_satone(diff));
      BDD n = cube;
      memset(value_of_var, 0, (size_t)bdd_varnum());
      while (n > 1) {
        int var = bdd_var(n);
        if (bdd_low(n) == bddfalse) {
          value_of_var[var] = 1;
          n = bdd_high(n);
        } else {
          n = bdd_low(n);
        }
      }
      ndiff++;
      printf("  output %d (%s / %s): different, inputs ", i, name_a, name_b);
      for (k = 0; k < a.ninputs; k++) putchar(value_of_var[var_of_input(k)] ? '1' : '0');
      printf(" give %d and %d\n", evaluate(out_a[i], value_of_var),
             evaluate(out_b[i], value_of_var));
      bdd_delref(cube);
      bdd_delref(diff);
    }
  }
  printf("summary: %d equivalent, %d complementary, %d different (%.2f s)\n", nequal, ncompl,
         ndiff, seconds_since(start));

  for (i = 0; i < a.noutputs; i++) {
    bdd_delref(out_a[i]);
    bdd_delref(out_b[i]);
  }
  free(out_a);
  free(out_b);
  free(value_of_var);
  free(var_of);
  bdd_done();
  nl_free(&a);
  nl_free(&b);
  return (ncompl == 0 && ndiff == 0) ? 0 : 1;
}

int main(int argc, char **argv) {
  int nodes = 1000000, cache = 100000;
  int equiv = 0, sift = 0, show_order = 0, quiet = 0;
  const char *dot_output = NULL, *dot_file = NULL;
  const char *files[2];
  int nfiles = 0, a;

  for (a = 1; a < argc; a++) {
    const char *arg = argv[a];
    if (strcmp(arg, "--equiv") == 0) equiv = 1;
    else if (strcmp(arg, "--reverse") == 0 || strcmp(arg, "--order=reverse") == 0)
      input_order = ORDER_REVERSE;
    else if (strcmp(arg, "--order=file") == 0) input_order = ORDER_FILE;
    else if (strcmp(arg, "--order=dfs") == 0) input_order = ORDER_DFS;
    else if (strcmp(arg, "--sift") == 0) sift = 1;
    else if (strcmp(arg, "--order") == 0) show_order = 1;
    else if (strcmp(arg, "--quiet") == 0) quiet = 1;
    else if (strcmp(arg, "--dot") == 0 && a + 2 < argc) {
      dot_output = argv[++a];
      dot_file = argv[++a];
    } else if (strcmp(arg, "--nodes") == 0 && a + 1 < argc)
      nodes = parse_int(argv[++a], 2, 100000000);
    else if (strcmp(arg, "--cache") == 0 && a + 1 < argc)
      cache = parse_int(argv[++a], 1, 100000000);
    else if (arg[0] == '-' && arg[1] != '\0')
      usage();
    else if (nfiles < 2)
      files[nfiles++] = arg;
    else
      usage();
  }
  if (equiv) {
    if (nfiles != 2 || sift || show_order || dot_output) usage();
    return run_equiv(files[0], files[1], nodes, cache, quiet);
  }
  if (nfiles != 1) usage();
  return run_single(files[0], nodes, cache, sift, show_order, dot_output, dot_file, quiet);
}
