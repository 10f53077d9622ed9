/* reach: symbolic reachability for Milner's cyclic scheduler.
 *
 * N cyclers pass a token around a ring.  Cycler i has three state bits:
 *   c_i  it holds the token and may start its task,
 *   t_i  its task is running,
 *   h_i  it has started and must pass the token on.
 * The transitions, each leaving every bit it does not mention unchanged:
 *   start_i: c_i & !t_i  ->  c_i := 0, t_i := 1, h_i := 1
 *   pass_i:  h_i         ->  h_i := 0, c_(i+1 mod N) := 1
 *   end_i:   t_i         ->  t_i := 0
 * Initially c_0 = 1 and every other bit is 0.
 *
 * A set of states is a BDD over the current-state variables; the
 * transition relation is a BDD over current and next-state variables.
 * The image of a set R is  exists current . (R & T),  one relational
 * product (bdd_appex with OP_AND), renamed back from next-state to
 * current-state variables (bdd_replace).  Adding images to R until
 * nothing changes gives every reachable state; since BDDs are canonical,
 * "nothing changes" is an integer comparison.
 *
 * Variable order: cycler i uses 6i .. 6i+5 for c, c', t, t', h, h'
 * (current and next interleaved, which keeps "x' = x" small). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <corvane/corvane.h>

static const char *progname = "reach";
static char context[128] = "starting the engine";

static void on_engine_error(int code) {
  const char *msg = bdd_errstring(code);
  fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context,
          msg ? msg : "unknown error", code);
  exit(3);
}

static void usage(void) {
  fprintf(stderr,
          "usage: %s N [--nodes K] [--cache K]\n"
          "  N          number of cyclers, 2..170\n"
          "  --nodes K  initial node table size (default 1000000)\n"
          "  --cache K  initial operator cache size (default 100000)\n",
          progname);
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

/* A variable holding a BDD across operations owns one reference. */
static void assign(BDD *var, BDD value) {
  bdd_addref(value);
  bdd_delref(*var);
  *var = value;
}

/* Variable numbers of the state bits. */
enum { C = 0, T = 2, H = 4 };
static int cur(int cycler, int bit) { return 6 * cycler + bit; }
static int next(int cycler, int bit) { return 6 * cycler + bit + 1; }

/* What a transition does to one bit. */
enum { ANY = -1 };  /* guard: no condition on the current value */
enum { KEEP = -1 }; /* update: next value equals current value   */
typedef struct {
  int guard[3];  /* per bit C/2, T/2, H/2: ANY, 0 or 1 */
  int update[3]; /* per bit: KEEP, 0 or 1 */
} cycler_effect;

static const cycler_effect untouched = {{ANY, ANY, ANY}, {KEEP, KEEP, KEEP}};

/* The relation of one cycler's bits under an effect; returned referenced.
 * Built from the bottom variable (h') up, so each conjunction only adds a
 * node on top. */
static BDD cycler_relation(int i, const cycler_effect *e) {
  BDD rel = bddtrue;
  int b;
  for (b = 2; b >= 0; b--) {
    int x = cur(i, 2 * b), xn = next(i, 2 * b);
    BDD bit;
    if (e->update[b] == KEEP) bit = bdd_biimp(bdd_ithvar(x), bdd_ithvar(xn));
    else bit = e->update[b] ? bdd_ithvar(xn) : bdd_nithvar(xn);
    assign(&rel, bdd_and(bit, rel));
    if (e->guard[b] != ANY)
      assign(&rel, bdd_and(e->guard[b] ? bdd_ithvar(x) : bdd_nithvar(x), rel));
  }
  return rel;
}

int main(int argc, char **argv) {
  int nodes = 1000000, cache = 100000, N = 0, a, i, j;

  for (a = 1; a < argc; a++) {
    if (strcmp(argv[a], "--nodes") == 0 && a + 1 < argc)
      nodes = parse_int(argv[++a], 2, 100000000);
    else if (strcmp(argv[a], "--cache") == 0 && a + 1 < argc)
      cache = parse_int(argv[++a], 1, 100000000);
    else if (N == 0 && argv[a][0] != '-')
      N = parse_int(argv[a], 2, 170); /* 6N variables, at most 1023 */
    else
      usage();
  }
  if (N < 2) usage();

  clock_t start = clock();
  if (bdd_init(nodes, cache) < 0) {
    fprintf(stderr, "%s: cannot start the BDD engine (table of %d nodes)\n", progname, nodes);
    return 3;
  }
  bdd_error_hook(on_engine_error);
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(4);
  bdd_setvarnum(6 * N);

  /* --- the transition relation: the disjunction of the 3N transitions --- */
  snprintf(context, sizeof context, "building the transition relation");
  BDD *identity = (BDD *)malloc((size_t)N * sizeof(BDD));
  cycler_effect *effect = (cycler_effect *)malloc((size_t)N * sizeof(cycler_effect));
  if (!identity || !effect) {
    fprintf(stderr, "%s: out of memory\n", progname);
    return 3;
  }
  for (j = 0; j < N; j++) identity[j] = cycler_relation(j, &untouched);

  BDD trans = bddfalse;
  for (i = 0; i < N; i++) {
    int kind;
    for (kind = 0; kind < 3; kind++) {
      int succ = (i + 1) % N;
      for (j = 0; j < N; j++) effect[j] = untouched;
      if (kind == 0) { /* start_i */
        effect[i].guard[C / 2] = 1;
        effect[i].guard[T / 2] = 0;
        effect[i].update[C / 2] = 0;
        effect[i].update[T / 2] = 1;
        effect[i].update[H / 2] = 1;
      } else if (kind == 1) { /* pass_i */
        effect[i].guard[H / 2] = 1;
        effect[i].update[H / 2] = 0;
        effect[succ].update[C / 2] = 1;
      } else { /* end_i */
        effect[i].guard[T / 2] = 1;
        effect[i].update[T / 2] = 0;
      }
      /* Conjoin the cyclers from the last one up: every step puts one
       * cycler's few nodes on top of the relation built so far. */
      BDD t = bddtrue;
      for (j = N - 1; j >= 0; j--) {
        int touched = (j == i) || (kind == 1 && j == succ);
        if (touched) {
          BDD r = cycler_relation(j, &effect[j]);
          assign(&t, bdd_and(r, t));
          bdd_delref(r);
        } else {
          assign(&t, bdd_and(identity[j], t));
        }
      }
      assign(&trans, bdd_or(trans, t));
      bdd_delref(t);
    }
  }
  for (j = 0; j < N; j++) bdd_delref(identity[j]);
  free(identity);
  free(effect);

  /* --- sets and renaming ------------------------------------------------- */
  int *curvars = (int *)malloc((size_t)3 * N * sizeof(int));
  int *nextvars = (int *)malloc((size_t)3 * N * sizeof(int));
  if (!curvars || !nextvars) {
    fprintf(stderr, "%s: out of memory\n", progname);
    return 3;
  }
  for (j = 0; j < N; j++)
    for (i = 0; i < 3; i++) {
      curvars[3 * j + i] = cur(j, 2 * i);
      nextvars[3 * j + i] = next(j, 2 * i);
    }
  BDD curset = bdd_addref(bdd_makeset(curvars, 3 * N)); /* quantified away */
  bddPair *next_to_cur = bdd_newpair();
  bdd_setpairs(next_to_cur, nextvars, curvars, 3 * N);

  /* --- initial state: c_0 and no other bit -------------------------------- */
  BDD reached = bddtrue;
  for (j = N - 1; j >= 0; j--) {
    assign(&reached, bdd_and(bdd_nithvar(cur(j, H)), reached));
    assign(&reached, bdd_and(bdd_nithvar(cur(j, T)), reached));
    assign(&reached, bdd_and(j == 0 ? bdd_ithvar(cur(j, C)) : bdd_nithvar(cur(j, C)), reached));
  }

  /* --- fixed point -------------------------------------------------------- */
  int iterations = 0;
  for (;;) {
    iterations++;
    snprintf(context, sizeof context, "computing image %d", iterations);
    BDD image = bdd_addref(bdd_appex(reached, trans, OP_AND, curset));
    BDD renamed = bdd_addref(bdd_replace(image, next_to_cur));
    BDD grown = bdd_addref(bdd_or(reached, renamed));
    bdd_delref(image);
    bdd_delref(renamed);
    if (grown == reached) {
      bdd_delref(grown);
      break;
    }
    bdd_delref(reached);
    reached = grown;
  }

  snprintf(context, sizeof context, "counting the states");
  double states = bdd_satcountset(reached, curset);
  double seconds = (double)(clock() - start) / CLOCKS_PER_SEC;
  printf("%d cyclers: %.0f reachable states after %d iterations\n", N, states, iterations);
  printf("  transition relation: %d nodes, reachable set: %d nodes\n", bdd_nodecount(trans),
         bdd_nodecount(reached));
  printf("  nodes in use at the end: %d\n", bdd_getnodenum());
  printf("  time: %.2f s\n", seconds);

  bdd_delref(reached);
  bdd_delref(trans);
  bdd_delref(curset);
  bdd_freepair(next_to_cur);
  free(curvars);
  free(nextvars);
  bdd_done();
  return 0;
}
