/* Prime sizing for the engine's own choices.  Not installed. */
#ifndef CORVANE_PRIME_INTERNAL_H
#define CORVANE_PRIME_INTERNAL_H

#include "prime.h"

/* bdd_prime_gte without drawing from the process's generator, for sizes
 * the engine chooses on its own.  Visible to the tests. */
unsigned int prime_gte_quiet(unsigned int n);

#endif
