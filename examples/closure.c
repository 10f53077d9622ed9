/* closure: the transitive closure of a directed graph with finite domains.
 *
 * Vertices are the values 0 .. N-1 of three finite domains of size N: the
 * source s, a middle vertex m and the destination d.  Declared one after
 * another, each domain's bits form a block, s above m above d.  Renaming d
 * into m (or s into m) then keeps the order of every bit a relation uses,
 * so bdd_replace only relabels nodes; and with the source on top, sources
 * that reach the same vertices share one sub-diagram.
 *
 * The edge relation E(s, d) is the union of one cube per edge.  The
 * closure R is the least fixed point of
 *     R := E | exists m . R(s, m) & E(m, d)
 * computed from the pairs found in the previous round only (F, the
 * frontier), which keeps every join small:
 *     F := (exists m . F(s, m) & E(m, d)) - R,   R := R | F,   until F = 0.
 * F(s, m) and E(m, d) are F and E with a domain renamed (pairs from
 * fdd_setpair), and the join is one relational product (bdd_appex with
 * OP_AND over the bits of m).
 *
 * The result is checked against a breadth-first search from every vertex:
 * for each source the BDD must admit exactly the vertices the search
 * reaches (same count, and every reached vertex admitted).
 *
 * The graph is generated with a fixed pseudo-random generator (same
 * arguments, same graph), or read from a file: a first line with N, then
 * one edge "u v" per line, 0 <= u, v < N. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <corvane/corvane.h>

static const char *progname = "closure";
static char context[128] = "starting the engine";

static void on_engine_error(int code) {
  const char *msg = bdd_errstring(code);
  fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context,
          msg ? msg : "unknown error", code);
  exit(3);
}

static void usage(void) {
  fprintf(stderr,
          "usage: %s [N] [--edges M] [--seed S] [--graph FILE] [--nodes K] [--cache K]\n"
          "  N             number of vertices of a generated graph, 2..1048576 (default 4096)\n"
          "  --edges M     number of generated edges (default N)\n"
          "  --seed S      seed of the generator (default 1)\n"
          "  --graph FILE  read the graph instead: N, then one \"u v\" per line\n"
          "  --nodes K     initial node table size (default 1000000)\n"
          "  --cache K     initial operator cache size (default 100000)\n",
          progname);
  exit(2);
}

static long parse_long(const char *s, long lo, long hi) {
  char *end;
  long v;
  if (s == NULL || *s == '\0') usage();
  v = strtol(s, &end, 10);
  if (*end != '\0' || v < lo || v > hi) usage();
  return v;
}

static void *xmalloc(size_t bytes) {
  void *p = malloc(bytes ? bytes : 1);
  if (p == NULL) {
    fprintf(stderr, "%s: out of memory\n", progname);
    exit(3);
  }
  return p;
}

/* A variable holding a BDD across operations owns one reference. */
static void assign(BDD *var, BDD value) {
  bdd_addref(value);
  bdd_delref(*var);
  *var = value;
}

/* 64-bit xorshift: small, fast and the same on every platform. */
static unsigned long long rng_state;
static unsigned long below(unsigned long n) {
  rng_state ^= rng_state << 13;
  rng_state ^= rng_state >> 7;
  rng_state ^= rng_state << 17;
  return (unsigned long)(rng_state % n);
}

typedef struct {
  int n;
  long m;
  int *src, *dst;
} graph;

static void generate(graph *g, int n, long m, unsigned long seed) {
  long e;
  g->n = n;
  g->m = m;
  g->src = (int *)xmalloc((size_t)m * sizeof(int));
  g->dst = (int *)xmalloc((size_t)m * sizeof(int));
  rng_state = 0x9E3779B97F4A7C15ull ^ (seed * 0xBF58476D1CE4E5B9ull);
  if (rng_state == 0) rng_state = 1;
  for (e = 0; e < m; e++) {
    g->src[e] = (int)below((unsigned long)n);
    g->dst[e] = (int)below((unsigned long)n);
  }
}

static void read_graph(graph *g, const char *path) {
  FILE *f = fopen(path, "r");
  long cap = 1024, u, v;
  int c;
  if (f == NULL) {
    fprintf(stderr, "%s: cannot open %s\n", progname, path);
    exit(2);
  }
  if (fscanf(f, "%d", &g->n) != 1 || g->n < 2 || g->n > 1048576) {
    fprintf(stderr, "%s: %s: the first line must hold the vertex count, 2..1048576\n", progname, path);
    exit(2);
  }
  g->m = 0;
  g->src = (int *)xmalloc((size_t)cap * sizeof(int));
  g->dst = (int *)xmalloc((size_t)cap * sizeof(int));
  while ((c = fscanf(f, "%ld %ld", &u, &v)) == 2) {
    if (u < 0 || u >= g->n || v < 0 || v >= g->n) {
      fprintf(stderr, "%s: %s: edge %ld %ld names a vertex outside 0..%d\n", progname, path, u, v,
              g->n - 1);
      exit(2);
    }
    if (g->m == cap) {
      cap *= 2;
      g->src = (int *)realloc(g->src, (size_t)cap * sizeof(int));
      g->dst = (int *)realloc(g->dst, (size_t)cap * sizeof(int));
      if (g->src == NULL || g->dst == NULL) {
        fprintf(stderr, "%s: out of memory\n", progname);
        exit(3);
      }
    }
    g->src[g->m] = (int)u;
    g->dst[g->m] = (int)v;
    g->m++;
  }
  if (c != EOF) {
    fprintf(stderr, "%s: %s: edge %ld is not two integers\n", progname, path, g->m + 1);
    exit(2);
  }
  fclose(f);
}

/* Value of r when the bits of domain dom spell the value v and every other
 * variable is 0 (r depends on dom only). */
static int holds_at(BDD r, int dom, int v, int *assignment) {
  int i, w = fdd_varnum(dom), *bits = fdd_vars(dom);
  for (i = 0; i < w; i++) assignment[bits[i]] = (v >> i) & 1;
  while (r > 1) r = assignment[bdd_var(r)] ? bdd_high(r) : bdd_low(r);
  return r == 1;
}

int main(int argc, char **argv) {
  int nodes = 1000000, cache = 100000, a, n = 0;
  long m = -1, e;
  unsigned long seed = 1;
  const char *file = NULL;
  graph g;

  for (a = 1; a < argc; a++) {
    if (strcmp(argv[a], "--nodes") == 0 && a + 1 < argc)
      nodes = (int)parse_long(argv[++a], 2, 100000000);
    else if (strcmp(argv[a], "--cache") == 0 && a + 1 < argc)
      cache = (int)parse_long(argv[++a], 1, 100000000);
    else if (strcmp(argv[a], "--edges") == 0 && a + 1 < argc)
      m = parse_long(argv[++a], 0, 100000000);
    else if (strcmp(argv[a], "--seed") == 0 && a + 1 < argc)
      seed = (unsigned long)parse_long(argv[++a], 0, 2147483647);
    else if (strcmp(argv[a], "--graph") == 0 && a + 1 < argc)
      file = argv[++a];
    else if (n == 0 && argv[a][0] != '-')
      n = (int)parse_long(argv[a], 2, 1048576);
    else
      usage();
  }
  if (file != NULL && (n != 0 || m >= 0)) usage();
  if (file != NULL) {
    read_graph(&g, file);
  } else {
    if (n == 0) n = 4096;
    generate(&g, n, m >= 0 ? m : n, seed);
  }
  n = g.n;

  clock_t start = clock();
  if (bdd_init(nodes, cache) < 0) {
    fprintf(stderr, "%s: cannot start the BDD engine (table of %d nodes)\n", progname, nodes);
    return 3;
  }
  bdd_error_hook(on_engine_error);
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(4);

  const int S = fdd_extdomain(&n, 1), M = fdd_extdomain(&n, 1), D = fdd_extdomain(&n, 1);

  snprintf(context, sizeof context, "building the edge relation");
  BDD edge = bddfalse;
  for (e = 0; e < g.m; e++) {
    BDD u = bdd_addref(fdd_ithvar(S, g.src[e]));
    BDD c = bdd_addref(bdd_and(u, fdd_ithvar(D, g.dst[e])));
    assign(&edge, bdd_or(edge, c));
    bdd_delref(c);
    bdd_delref(u);
  }

  /* E(m, d): the hop added by a join starts where a known path ended. */
  bddPair *s_to_m = bdd_newpair(), *d_to_m = bdd_newpair();
  fdd_setpair(s_to_m, S, M);
  fdd_setpair(d_to_m, D, M);
  BDD edge_from_m = bdd_addref(bdd_replace(edge, s_to_m));
  BDD mid = fdd_ithset(M);

  snprintf(context, sizeof context, "computing the closure");
  BDD closure = bdd_addref(edge), fresh = bdd_addref(edge);
  int iterations = 0;
  while (fresh != bddfalse) {
    iterations++;
    BDD ends_at_m = bdd_addref(bdd_replace(fresh, d_to_m));
    BDD longer = bdd_addref(bdd_appex(ends_at_m, edge_from_m, OP_AND, mid));
    assign(&fresh, bdd_apply(longer, closure, OP_DIFF));
    assign(&closure, bdd_or(closure, fresh));
    bdd_delref(ends_at_m);
    bdd_delref(longer);
  }
  double seconds = (double)(clock() - start) / CLOCKS_PER_SEC;
  BDD both = bdd_addref(fdd_makeset((int[]){S, D}, 2));
  double pairs = bdd_satcountset(closure, both);
  int size = bdd_nodecount(closure);

  /* --- breadth-first search from every vertex ----------------------------- */
  snprintf(context, sizeof context, "checking against the search");
  int *first = (int *)xmalloc(((size_t)n + 1) * sizeof(int));
  int *adj = (int *)xmalloc((size_t)g.m * sizeof(int));
  int *queue = (int *)xmalloc((size_t)n * sizeof(int));
  int *stamp = (int *)xmalloc((size_t)n * sizeof(int));
  int *assignment = (int *)xmalloc((size_t)bdd_varnum() * sizeof(int));
  int s, v;
  memset(first, 0, ((size_t)n + 1) * sizeof(int));
  memset(assignment, 0, (size_t)bdd_varnum() * sizeof(int));
  for (v = 0; v < n; v++) stamp[v] = -1;
  /* Successors of v: adj[first[v]] .. adj[first[v+1]-1]. */
  for (e = 0; e < g.m; e++) first[g.src[e] + 1]++;
  for (v = 0; v < n; v++) first[v + 1] += first[v];
  memcpy(queue, first, (size_t)n * sizeof(int));
  for (e = 0; e < g.m; e++) adj[queue[g.src[e]]++] = g.dst[e];

  BDD dset = fdd_ithset(D);
  long bfs_pairs = 0, mismatches = 0;
  for (s = 0; s < n; s++) {
    int head = 0, tail = 0, k;
    /* Paths of at least one edge: s itself counts only on a cycle. */
    for (k = first[s]; k < first[s + 1]; k++)
      if (stamp[adj[k]] != s) {
        stamp[adj[k]] = s;
        queue[tail++] = adj[k];
      }
    while (head < tail) {
      v = queue[head++];
      for (k = first[v]; k < first[v + 1]; k++)
        if (stamp[adj[k]] != s) {
          stamp[adj[k]] = s;
          queue[tail++] = adj[k];
        }
    }
    bfs_pairs += tail;
    BDD row = bdd_addref(bdd_restrict(closure, fdd_ithvar(S, s)));
    int ok = bdd_satcountset(row, dset) == (double)tail;
    for (k = 0; ok && k < tail; k++) ok = holds_at(row, D, queue[k], assignment);
    bdd_delref(row);
    if (!ok) mismatches++;
  }
  int matched = mismatches == 0 && pairs == (double)bfs_pairs;

  printf("%d vertices, %ld edges: %.0f pairs in the closure after %d iterations\n", n, g.m, pairs,
         iterations);
  printf("  closure BDD: %d nodes\n", size);
  if (matched)
    printf("  breadth-first search: %ld pairs, matched\n", bfs_pairs);
  else
    printf("  breadth-first search: %ld pairs, MISMATCH (%ld sources differ)\n", bfs_pairs, mismatches);
  printf("  time: %.2f s\n", seconds);

  bdd_delref(both);
  bdd_delref(fresh);
  bdd_delref(closure);
  bdd_delref(edge_from_m);
  bdd_delref(edge);
  bdd_freepair(s_to_m);
  bdd_freepair(d_to_m);
  bdd_done();
  free(first);
  free(adj);
  free(queue);
  free(stamp);
  free(assignment);
  free(g.src);
  free(g.dst);
  return matched ? 0 : 1;
}
