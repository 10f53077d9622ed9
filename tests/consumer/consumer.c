/* A C program built against an installed Corvane. Its folder, which holds
 * its own kernel.h, io.h and cache.h, is on the include path too. */
#include <kernel.h>
#include <corvane/corvane.h>
#include <io.h>
#include <cache.h>
#include <corvane.h> /* the compatibility header still works */
#include <stdio.h>

#if !defined(CONSUMER_OWN_KERNEL) || !defined(CONSUMER_OWN_IO) || !defined(CONSUMER_OWN_CACHE)
#error "an installed Corvane header shadowed one of the consumer's own"
#endif

static int errors;
static void on_error(int code) { (void)code; errors++; }

int main(void) {
  if (bdd_init(1000, 100) < 0) return 1;
  bdd_error_hook(on_error);
  bdd_setvarnum(3);
  BDD x = bdd_ithvar(0), y = bdd_ithvar(1), z = bdd_ithvar(2);
  BDD xy = bdd_addref(bdd_and(x, y));
  BDD maj = bdd_addref(bdd_or(xy, bdd_and(z, bdd_or(x, y))));
  double n = bdd_satcount(maj);
  bdd_ithvar(3); /* unknown variable: reported, not fatal */
  bdd_delref(maj);
  bdd_delref(xy);
  bdd_done();
  if (n != 4.0 || errors != 1) {
    fprintf(stderr, "c consumer: majority has %.0f of 8 assignments, %d errors\n", n, errors);
    return 1;
  }
  printf("c consumer: ok\n");
  return 0;
}
