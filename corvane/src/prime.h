/** @file
 * Prime sizes for the node table and the operator caches. */
#ifndef CORVANE_PRIME_H
#define CORVANE_PRIME_H

#ifdef __cplusplus
extern "C" {
#endif

/** The smallest odd prime not below @p n (used to size the node table and caches). Draws from
 * the process's 48-bit random generator. */
unsigned int bdd_prime_gte(unsigned int n);
/** The largest odd prime not above @p n. Draws from the process's 48-bit random generator. */
unsigned int bdd_prime_lte(unsigned int n);

#ifdef __cplusplus
}
#endif

#endif
