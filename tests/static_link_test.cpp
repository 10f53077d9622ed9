// Linked from a static archive of the engine: the linker takes only the
// object files something refers to, and nothing refers to a module's
// registration with the kernel.  Every module this program uses must still
// have registered its hooks, and the engine must behave as in the shared
// library.  Exits nonzero on a failed check.
#include <stdio.h>

#include <corvane/corvane.h>
#include "src/kernel_internal.h"

static int failures = 0;
static int errors = 0;

static void count_error(int) { errors++; }

static void check(bool ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "static link: %s\n", what);
    failures++;
  }
}

int main() {
  check(bdd_init(1000, 100) == 0, "start-up");
  bdd_gbc_hook(nullptr);
  bdd_error_hook(count_error);
  bdd_setvarnum(6);
  int sizes[1] = {4};
  check(fdd_extdomain(sizes, 1) == 0, "domain");
  bdd_varblockall();
  bdd_autoreorder(REORDER_SIFT);
  bddPair *p = bdd_newpair();
  bdd_setpair(p, 3, 5);
  BDD f = bdd_addref(bdd_and(bdd_ithvar(3), bdd_ithvar(4)));
  BDD g = bdd_addref(bdd_replace(f, p));
  check(g == bdd_and(bdd_ithvar(4), bdd_ithvar(5)), "renaming");

  const struct {
    int rank;
    const char *module;
  } used[] = {{HOOK_RANK_PAIRS, "pairs"},
              {HOOK_RANK_REORDER, "reordering"},
              {HOOK_RANK_OPERATORS, "operators"},
              {HOOK_RANK_FDD, "domains"}};
  for (const auto &u : used) {
    const KernelHooks *h = kernel_register(u.rank, nullptr);
    kernel_register(u.rank, h);
    if (h == nullptr) fprintf(stderr, "static link: no hooks of the %s module\n", u.module);
    failures += h == nullptr;
  }

  // The operators' forget must run at a collection: the cached conjunction
  // names a node the collection freed.
  bdd_delref(f);
  bdd_delref(g);
  bdd_gbc();
  BDD again = bdd_and(bdd_ithvar(3), bdd_ithvar(4));
  check(bdd_var(again) == 3 && bdd_low(again) == 0 && bdd_high(again) == bdd_ithvar(4),
        "a result cached before a collection");
  check(errors == 0, "errors raised");
  bdd_freepair(p);
  bdd_done();
  return failures == 0 ? 0 : 1;
}
