// queens_cpp: the N-queens count of queens.c, written with the C++
// interface.  Same board, same constraints, same order of operations, same
// output; read the two side by side.
//
// What changes: corvane::Engine starts and stops the engine; corvane::Bdd
// values own their reference, so there is no addref/delref and no
// assign() helper; operators read as formulas; an engine error arrives as
// a corvane::Error exception instead of through a handler function.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <corvane/corvane.hpp>

using corvane::Bdd;

static const char *progname = "queens_cpp";

[[noreturn]] static void usage() {
  std::fprintf(stderr,
               "usage: %s N [--classic] [--nodes K] [--cache K] [--maxnodes K]\n"
               "  N           board size, 1..31\n"
               "  --classic   add the rules square by square to the whole board\n"
               "              (the textbook order; slower than the default row by row)\n"
               "  --nodes K   initial node table size (default 1000000)\n"
               "  --cache K   initial operator cache size (default 100000)\n"
               "  --maxnodes K  limit the node table to K nodes (default: no limit)\n",
               progname);
  std::exit(2);
}

static int parse_int(const char *s, int lo, int hi) {
  if (s == nullptr || *s == '\0') usage();
  char *end;
  long v = std::strtol(s, &end, 10);
  if (*end != '\0' || v < lo || v > hi) usage();
  return static_cast<int>(v);
}

static int N;
static int square(int row, int col) { return row * N + col; }

// "A queen on (i, j) excludes every other square it attacks."
static Bdd exclusion(int i, int j) {
  Bdd others = corvane::bdd_const(true);
  for (int l = 0; l < N; l++)  // same row
    if (l != j) others &= corvane::nithvar(square(i, l));
  for (int k = 0; k < N; k++)  // same column
    if (k != i) others &= corvane::nithvar(square(k, j));
  for (int k = 0; k < N; k++) {  // both diagonals
    int d = k - i;
    if (d == 0) continue;
    if (j + d >= 0 && j + d < N) others &= corvane::nithvar(square(k, j + d));
    if (j - d >= 0 && j - d < N) others &= corvane::nithvar(square(k, j - d));
  }
  return corvane::ithvar(square(i, j)).imp(others);
}

static Bdd at_least_one_in_row(int i) {
  Bdd row;  // false
  for (int j = 0; j < N; j++) row |= corvane::ithvar(square(i, j));
  return row;
}

int main(int argc, char **argv) {
  int nodes = 1000000, cache = 100000, maxnodes = 0;
  bool classic = false;
  N = 0;
  for (int a = 1; a < argc; a++) {
    if (std::strcmp(argv[a], "--nodes") == 0 && a + 1 < argc)
      nodes = parse_int(argv[++a], 2, 100000000);
    else if (std::strcmp(argv[a], "--cache") == 0 && a + 1 < argc)
      cache = parse_int(argv[++a], 1, 100000000);
    else if (std::strcmp(argv[a], "--classic") == 0)
      classic = true;
    else if (std::strcmp(argv[a], "--maxnodes") == 0 && a + 1 < argc)
      maxnodes = parse_int(argv[++a], 1, 100000000);
    else if (N == 0 && argv[a][0] != '-')
      N = parse_int(argv[a], 1, 31);  // N*N variables must stay below 1024
    else
      usage();
  }
  if (N < 1) usage();

  std::clock_t start = std::clock();
  std::string context = "starting the engine";
  try {
    // Node table, cache size and cache ratio as in queens.c; the variables
    // are declared after the optional limit, in the same order as there.
    corvane::Engine engine(nodes, cache, 0, 4);
    if (maxnodes > 0)  // a limit must lie above the current size: else "no growth"
      engine.set_max_nodes(maxnodes > engine.table_size() ? maxnodes : engine.table_size() + 1);
    engine.set_varnum(N * N);

    Bdd board = corvane::bdd_const(true);
    if (!classic) {
      for (int i = 0; i < N; i++) {
        context = "building row " + std::to_string(i);
        Bdd row = at_least_one_in_row(i);
        for (int j = 0; j < N; j++) row &= exclusion(i, j);
        board &= row;
      }
    } else {
      context = "building the row constraints";
      for (int i = 0; i < N; i++) board &= at_least_one_in_row(i);
      for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) {
          context = "adding the rule of square (" + std::to_string(i) + "," + std::to_string(j) + ")";
          board &= exclusion(i, j);
        }
    }

    context = "counting the solutions";
    double solutions = board.satcount();
    int size = board.nodecount();
    double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;

    std::printf("%d queens: %.0f solutions\n", N, solutions);
    std::printf("  result BDD: %d nodes\n", size);
    std::printf("  nodes in use at the end: %d\n", engine.node_count());
    std::printf("  time: %.2f s\n", seconds);
  } catch (const corvane::Error &e) {
    std::fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context.c_str(), e.what(),
                 e.code());
    return 3;
  }
  return 0;
}
