// sendmore_cpp: SEND + MORE = MONEY of sendmore.c, written with the C++
// interface.  Same domains, same constraints, same order of operations,
// same output; read the two side by side.
//
// What changes: corvane::Domain names a finite domain, `d == v` is the BDD
// of a value; corvane::BitVector owns the references on its bits, so no
// vector is released by hand; arithmetic and comparisons are operators.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <corvane/corvane.hpp>

using corvane::BitVector;
using corvane::Bdd;

enum { S, E, N, D, M, O, R, Y, LETTERS };
static const char letter_names[LETTERS + 1] = "SENDMORY";

// MONEY is at most 98765: 17 bits hold every value of either side.
static const int WIDTH = 17;

static const char *progname = "sendmore_cpp";

// The value of a word: sum = sum * 10 + letter, letter by letter.
static BitVector word(const std::vector<corvane::Domain> &letters, const char *w) {
  BitVector sum(WIDTH, 0);
  for (; *w != '\0'; w++) {
    int l = 0;
    while (letter_names[l] != *w) l++;
    sum = sum * 10 + BitVector(letters[l]).coerce(WIDTH);
  }
  return sum;
}

int main(int argc, char **) {
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s\n  (no arguments: solves SEND + MORE = MONEY)\n", progname);
    return 2;
  }
  std::clock_t start = std::clock();
  std::string context = "starting the engine";
  try {
    corvane::Engine engine(1000000, 100000, 0, 4);

    // Declared together, the domains' bits are interleaved, least
    // significant first: the order in which additions ripple their
    // carries, which keeps the sum's BDD small.
    context = "declaring the letters";
    const std::vector<corvane::Domain> letters = corvane::Domain::extend(std::vector<int>(LETTERS, 10));

    context = "stating the digit ranges";
    Bdd puzzle = corvane::bdd_const(true);
    for (const corvane::Domain &l : letters) puzzle &= l.domain();
    puzzle &= !(letters[S] == 0);
    puzzle &= !(letters[M] == 0);

    context = "stating that the letters differ";
    for (int i = 0; i < LETTERS; i++)
      for (int j = i + 1; j < LETTERS; j++) puzzle &= BitVector(letters[i]) != BitVector(letters[j]);

    context = "building SEND + MORE and MONEY";
    Bdd sum_holds = word(letters, "SEND") + word(letters, "MORE") == word(letters, "MONEY");
    int sum_nodes = sum_holds.nodecount();
    puzzle &= sum_holds;

    context = "counting the solutions";
    double solutions = puzzle.satcount(corvane::Domain::set(letters));

    bool ok = solutions == 1.0;
    std::vector<int> digit = corvane::Domain::scan_all(puzzle);  // empty when there is no solution
    if (!digit.empty()) {
      long send_v = 1000L * digit[S] + 100L * digit[E] + 10L * digit[N] + digit[D];
      long more_v = 1000L * digit[M] + 100L * digit[O] + 10L * digit[R] + digit[E];
      long money_v = 10000L * digit[M] + 1000L * digit[O] + 100L * digit[N] + 10L * digit[E] + digit[Y];
      std::printf("solution: %ld + %ld = %ld\n", send_v, more_v, money_v);
      std::printf(" ");
      for (int i = 0; i < LETTERS; i++) std::printf(" %c=%d", letter_names[i], digit[i]);
      std::printf("\n");
      // check the answer with plain integers, independently of the BDDs
      if (send_v + more_v != money_v || digit[S] == 0 || digit[M] == 0) ok = false;
      for (int i = 0; i < LETTERS; i++) {
        if (digit[i] < 0 || digit[i] > 9) ok = false;
        for (int j = i + 1; j < LETTERS; j++)
          if (digit[i] == digit[j]) ok = false;
      }
    } else {
      std::printf("solution: none\n");
      ok = false;
    }
    std::printf("solutions: %.0f\n", solutions);
    std::printf("  equation BDD: %d nodes, puzzle BDD: %d nodes\n", sum_nodes, puzzle.nodecount());
    std::printf("  time: %.2f s\n", static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    if (!ok) {
      std::fprintf(stderr, "%s: expected exactly one solution satisfying the sum\n", progname);
      return 1;
    }
  } catch (const corvane::Error &e) {
    std::fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context.c_str(), e.what(),
                 e.code());
    return 3;
  }
  return 0;
}
