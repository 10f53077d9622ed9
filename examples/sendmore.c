/* sendmore: solve the cryptarithm SEND + MORE = MONEY with bit vectors.
 *
 *     S E N D
 *   + M O R E
 *   ---------
 *   M O N E Y
 *
 * Every letter is a finite domain of size 10 (a digit, four BDD
 * variables).  The puzzle is the conjunction of
 *   - every letter lies in its domain, S and M are not 0,
 *   - any two letters differ (bit-vector inequality, pairwise),
 *   - SEND + MORE equals MONEY, with both sides built by bit-vector
 *     arithmetic: each word is the sum of its letters times 1000, 100, 10
 *     and 1, in vectors wide enough that nothing overflows.
 * The result BDD holds exactly the solutions: satcount over the letters'
 * variables counts them and fdd_scanallvar reads one back as digits.
 *
 * A tour of finite domains and bit vectors: domain declaration, vectors
 * over a domain's variables, multiplication by constants, addition,
 * comparisons, and releasing vectors. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <corvane/corvane.h>

enum { S, E, N, D, M, O, R, Y, LETTERS };
static const char letter_names[LETTERS + 1] = "SENDMORY";

/* MONEY is at most 98765: 17 bits hold every value of either side. */
#define WIDTH 17

static const char *progname = "sendmore";
static char context[128] = "starting the engine";

static void on_engine_error(int code) {
  const char *msg = bdd_errstring(code);
  fprintf(stderr, "%s: engine error while %s: %s (code %d)\n", progname, context,
          msg ? msg : "unknown error", code);
  exit(3);
}

/* Keeps one reference on the value a variable holds (see queens.c). */
static void assign(BDD *var, BDD value) {
  bdd_addref(value);
  bdd_delref(*var);
  *var = value;
}

/* The letter as a WIDTH-bit vector: its domain's bits, zero-extended. */
static Bvec letter(int l) {
  Bvec bits = bvec_varfdd(l);
  Bvec v = bvec_coerce(WIDTH, bits);
  bvec_free(bits);
  return v;
}

/* The value of a word: sum of letter * 10^position, as one vector. */
static Bvec word(const char *w) {
  Bvec sum = bvec_false(WIDTH);
  for (; *w != '\0'; w++) {
    int l = 0;
    while (letter_names[l] != *w) l++;
    /* sum = sum * 10 + letter */
    Bvec scaled = bvec_mulfixed(sum, 10);
    Bvec digit = letter(l);
    Bvec next = bvec_add(scaled, digit);
    bvec_free(scaled);
    bvec_free(digit);
    bvec_free(sum);
    sum = next;
  }
  return sum;
}

int main(int argc, char **argv) {
  int sizes[LETTERS], i, j;
  (void)argv;
  if (argc != 1) {
    fprintf(stderr, "usage: %s\n  (no arguments: solves SEND + MORE = MONEY)\n", progname);
    return 2;
  }
  clock_t start = clock();

  if (bdd_init(1000000, 100000) < 0) {
    fprintf(stderr, "%s: cannot start the BDD engine\n", progname);
    return 3;
  }
  bdd_error_hook(on_engine_error);
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(4);

  /* Declared together, the domains' bits are interleaved, least
   * significant first: the order in which additions ripple their carries,
   * which keeps the sum's BDD small. */
  for (i = 0; i < LETTERS; i++) sizes[i] = 10;
  snprintf(context, sizeof context, "declaring the letters");
  fdd_extdomain(sizes, LETTERS);

  BDD puzzle = bddtrue;
  snprintf(context, sizeof context, "stating the digit ranges");
  for (i = 0; i < LETTERS; i++) assign(&puzzle, bdd_and(puzzle, fdd_domain(i)));
  assign(&puzzle, bdd_and(puzzle, bdd_not(fdd_ithvar(S, 0))));
  assign(&puzzle, bdd_and(puzzle, bdd_not(fdd_ithvar(M, 0))));

  snprintf(context, sizeof context, "stating that the letters differ");
  for (i = 0; i < LETTERS; i++)
    for (j = i + 1; j < LETTERS; j++) {
      Bvec a = bvec_varfdd(i), b = bvec_varfdd(j);
      assign(&puzzle, bdd_and(puzzle, bvec_neq(a, b)));
      bvec_free(a);
      bvec_free(b);
    }

  snprintf(context, sizeof context, "building SEND + MORE and MONEY");
  Bvec send = word("SEND"), more = word("MORE"), money = word("MONEY");
  Bvec total = bvec_add(send, more);
  BDD sum_holds = bvec_equ(total, money);
  bdd_addref(sum_holds);
  int sum_nodes = bdd_nodecount(sum_holds);
  assign(&puzzle, bdd_and(puzzle, sum_holds));
  bdd_delref(sum_holds);
  bvec_free(send);
  bvec_free(more);
  bvec_free(money);
  bvec_free(total);

  snprintf(context, sizeof context, "counting the solutions");
  int all[LETTERS];
  for (i = 0; i < LETTERS; i++) all[i] = i;
  BDD letters = fdd_makeset(all, LETTERS);
  bdd_addref(letters);
  double solutions = bdd_satcountset(puzzle, letters);
  bdd_delref(letters);

  int ok = solutions == 1.0;
  int *digit = fdd_scanallvar(puzzle); /* null when there is no solution */
  if (digit != NULL) {
    long send_v = 1000L * digit[S] + 100L * digit[E] + 10L * digit[N] + digit[D];
    long more_v = 1000L * digit[M] + 100L * digit[O] + 10L * digit[R] + digit[E];
    long money_v = 10000L * digit[M] + 1000L * digit[O] + 100L * digit[N] + 10L * digit[E] + digit[Y];
    printf("solution: %ld + %ld = %ld\n", send_v, more_v, money_v);
    printf(" ");
    for (i = 0; i < LETTERS; i++) printf(" %c=%d", letter_names[i], digit[i]);
    printf("\n");
    /* check the answer with plain integers, independently of the BDDs */
    if (send_v + more_v != money_v || digit[S] == 0 || digit[M] == 0) ok = 0;
    for (i = 0; i < LETTERS; i++) {
      if (digit[i] < 0 || digit[i] > 9) ok = 0;
      for (j = i + 1; j < LETTERS; j++)
        if (digit[i] == digit[j]) ok = 0;
    }
    free(digit);
  } else {
    printf("solution: none\n");
    ok = 0;
  }
  printf("solutions: %.0f\n", solutions);
  printf("  equation BDD: %d nodes, puzzle BDD: %d nodes\n", sum_nodes, bdd_nodecount(puzzle));
  printf("  time: %.2f s\n", (double)(clock() - start) / CLOCKS_PER_SEC);

  bdd_delref(puzzle);
  bdd_done();
  if (!ok) {
    fprintf(stderr, "%s: expected exactly one solution satisfying the sum\n", progname);
    return 1;
  }
  return 0;
}
