/* Prime sizes for the node table and the operator caches. */
#ifndef CORVANE_PRIME_H
#define CORVANE_PRIME_H

#ifdef __cplusplus
extern "C" {
#endif

unsigned int bdd_prime_gte(unsigned int n);
unsigned int bdd_prime_lte(unsigned int n);

#ifdef __cplusplus
}
#endif

#endif
