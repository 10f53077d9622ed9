/* Finite domains: integer variables 0 .. size-1 encoded in binary by
 * blocks of BDD variables, with scanning and printing in domain terms. */
#ifndef CORVANE_FDD_H
#define CORVANE_FDD_H

#include <stdio.h>
#include "kernel.h"
#include "pairs.h"
#include "reorder.h"

#ifdef __cplusplus
extern "C" {
#endif

/** One declared domain. */
typedef struct s_Domain {
  int range;    /**< number of values: the domain holds 0 .. range-1 */
  int width;    /**< number of BDD variables encoding it (at least 1) */
  int *bitvars; /**< BDD variable of each bit, least significant first */
  BDD varset;   /**< variable set of bitvars, referenced by the record */
} Domain;

/** Forgets every domain; later domains take BDD variables from 0 again.
 *  Results of fdd_vars obtained before are no longer valid. */
void fdd_clearall(void);

/** Declares num new domains with the given sizes (each 1 .. 2^30-1);
 *  domains declared together have their bits interleaved, least
 *  significant first. Creates BDD variables as needed.
 *  Returns the index of the first new domain, or BDD_ERR_RANGE (bad size;
 *  nothing is declared), BDD_ERR_MEMORY (existing domains stay intact),
 *  BDD_ERR_RUNNING, or the error of bdd_setvarnum. */
int fdd_extdomain(int *dom, int num);

/** Declares a domain made of the bits of v1 (low-order) followed by
 *  those of v2, of size size(v1) * size(v2); creates no BDD variable.
 *  Returns its index, or BDD_ERR_UNKNOWN_VAR, BDD_ERR_RANGE (product above
 *  2^30-1 or more than 30 bits together; nothing declared), BDD_ERR_MEMORY,
 *  BDD_ERR_RUNNING. */
int fdd_overlapdomain(int v1, int v2);

/** Returns the number of declared domains, or BDD_ERR_RUNNING. */
int fdd_domainnum(void);

/** Returns the number of values of domain var, or BDD_ERR_UNKNOWN_VAR,
 *  BDD_ERR_RUNNING. */
int fdd_domainsize(int var);

/** Returns the number of BDD variables encoding domain var, or
 *  BDD_ERR_UNKNOWN_VAR, BDD_ERR_RUNNING. */
int fdd_varnum(int var);

/** Returns the BDD variables of domain var, least significant bit first
 *  (fdd_varnum entries). The module owns the array; it stays valid until
 *  the domain table is cleared. Null after an error (BDD_ERR_UNKNOWN_VAR,
 *  BDD_ERR_RUNNING). */
int *fdd_vars(int var);

/** Returns the cube stating that domain var has value val (no reference
 *  held for the caller), or bddfalse after BDD_ERR_UNKNOWN_VAR,
 *  BDD_ERR_RANGE (val outside 0 .. size-1) or BDD_ERR_RUNNING. */
BDD fdd_ithvar(int var, int val);

/** Returns the variable set of domain var; the module keeps the reference,
 *  so the caller must not release it. bddfalse after BDD_ERR_UNKNOWN_VAR or
 *  BDD_ERR_RUNNING. */
BDD fdd_ithset(int var);

/** Returns the BDD stating that domain var is below its size (no reference
 *  held for the caller), or bddfalse after BDD_ERR_UNKNOWN_VAR,
 *  BDD_ERR_RUNNING. */
BDD fdd_domain(int var);

/** Returns the BDD stating that domains left and right have the same value
 *  (no reference held for the caller), or bddfalse after
 *  BDD_ERR_UNKNOWN_VAR, BDD_ERR_RANGE (sizes differ), BDD_ERR_RUNNING. */
BDD fdd_equals(int left, int right);

/** Returns the union of the variable sets of the num listed domains (no
 *  reference held for the caller), or bddfalse after BDD_ERR_UNKNOWN_VAR
 *  (checked before anything is built) or BDD_ERR_RUNNING. */
BDD fdd_makeset(int *varset, int varnum);

/** Adds a reordering block over the variables of domains first .. last
 *  (fixed as for bdd_addvarblock). Returns the block identifier, or
 *  BDD_ERR_VARBLOCK (bad bounds), BDD_ERR_RUNNING, or the error of
 *  bdd_addvarblock. */
int fdd_intaddvarblock(int first, int last, int fixed);

/** Sets pair to replace each variable of domain p1 by the corresponding
 *  variable of domain p2. Returns 0, or BDD_ERR_UNKNOWN_VAR,
 *  BDD_ERR_SETSIZE (widths differ), BDD_ERR_RUNNING, or the error of
 *  bdd_setpair. */
int fdd_setpair(bddPair *pair, int p1, int p2);

/** fdd_setpair for each position of p1/p2 (size entries). Every index is
 *  checked first. Returns 0 or the first error code. */
int fdd_setpairs(bddPair *pair, int *p1, int *p2, int size);

/** Fills record d for a domain of the given size: width, an uninitialised
 *  bitvars array (owned by the record) and varset = bddtrue. Reports
 *  BDD_ERR_RANGE for a size outside 1 .. 2^30-1 and BDD_ERR_MEMORY when the
 *  array cannot be allocated; the record then has a null bitvars. */
void Domain_allocate(Domain *d, int size);

/** Frees the bitvars of record d and releases its varset reference. */
void Domain_done(Domain *d);

/** Returns the value of domain var in the assignment fdd_scanallvar picks
 *  for r; -1 (no error) when r is bddfalse; otherwise BDD_ERR_RUNNING,
 *  BDD_ERR_ILLBDD, BDD_ERR_UNKNOWN_VAR or BDD_ERR_MEMORY. */
int fdd_scanvar(BDD r, int var);

/** Returns a new array of fdd_domainnum() values, one per domain, for one
 *  satisfying assignment of r (low branches preferred, unconstrained bits
 *  0). The caller frees it with free(). Null when r is bddfalse (no error)
 *  and after BDD_ERR_RUNNING, BDD_ERR_ILLBDD or BDD_ERR_MEMORY. */
int *fdd_scanallvar(BDD r);

/** Lists, in increasing order, the domains having a bit in variable set r.
 *  On success returns 0 and stores a new array (caller frees it with
 *  free(); null when the count is 0) and its length. Otherwise returns
 *  BDD_ERR_RUNNING, BDD_ERR_MEMORY or the error of bdd_scanset, and leaves
 *  the out arguments untouched. */
int fdd_scanset(BDD r, int **varset, int *varnum);

/** Installs a printer of domain names for fdd_fprintset (null restores
 *  printing indices). Returns the previous printer. */
bddfilehandler fdd_file_hook(bddfilehandler handler);

/** fdd_fprintset on standard output. */
void fdd_printset(BDD r);

/** Prints every satisfying path of r as <d:v/v..., d:v...>, each shown
 *  domain with the values the path allows; "F" and "T" for the constants.
 *  Prints nothing after BDD_ERR_RUNNING, BDD_ERR_ILLBDD, BDD_ERR_MEMORY. */
void fdd_fprintset(FILE *ofile, BDD r);

/** Returns a new array of fdd_varnum(var) ints, entry i being bit i of val.
 *  The caller frees it with free(). Null after BDD_ERR_RUNNING,
 *  BDD_ERR_UNKNOWN_VAR, BDD_ERR_RANGE (val outside 0 .. 2^width-1) or
 *  BDD_ERR_MEMORY. */
int *fdddec2bin(int var, int val);

#ifdef __cplusplus
}
#endif

#endif
