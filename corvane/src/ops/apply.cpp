/* Apply, negation, if-then-else and cubes: the public entries of the
 * Boolean recursions. */
#include "protocol.h"

/* Each called here from one place besides itself: see boolean.h. */
[[maybe_unused]] static BDD and_rec(BDD l, BDD r) __attribute__((used));
[[maybe_unused]] static BDD or_rec(BDD l, BDD r) __attribute__((used));
[[maybe_unused]] static BDD not_rec(BDD r) __attribute__((used));
[[maybe_unused]] static BDD ite_rec(BDD f, BDD g, BDD h) __attribute__((used));

#include "boolean.h"

extern "C" {

BDD bdd_apply(BDD l, BDD r, int op) {
  if (bdd_checkroot(l) < 0 || bdd_checkroot(r) < 0) return 0;
  if ((unsigned)op > 9u) {
    bdd_error(BDD_ERR_OP);
    return 0;
  }
  return run_protected(l, r, 0, [&] {
    applyop = op;
    return apply_rec(l, r);
  });
}

BDD bdd_and(BDD l, BDD r) { return bdd_apply(l, r, OP_AND); }
BDD bdd_or(BDD l, BDD r) { return bdd_apply(l, r, OP_OR); }
BDD bdd_xor(BDD l, BDD r) { return bdd_apply(l, r, OP_XOR); }
BDD bdd_imp(BDD l, BDD r) { return bdd_apply(l, r, OP_IMP); }
BDD bdd_biimp(BDD l, BDD r) { return bdd_apply(l, r, OP_BIIMP); }

BDD bdd_not(BDD r) {
  if (bdd_checkroot(r) < 0) return 0;
  if (!create_caches(&applycache)) return BDD_ERR_MEMORY;
  return run_protected(r, 0, 0, [&] { return not_rec(r); });
}

BDD bdd_ite(BDD f, BDD g, BDD h) {
  if (bdd_checkroot(f) < 0 || bdd_checkroot(g) < 0 || bdd_checkroot(h) < 0) return 0;
  if (!create_caches(&applycache, &itecache)) return BDD_ERR_MEMORY;
  return run_protected(f, g, h, [&] { return ite_rec(f, g, h); });
}

BDD bdd_buildcube(int value, int width, BDD *variables) {
  if (width < 1) return 1;
  BDD result = 1;
  for (int z = width - 1; z >= 0; z--) {
    BDD v = (value & 1) ? variables[z] : bdd_not(variables[z]);
    bdd_addref(v);
    bdd_addref(result);
    BDD tmp = bdd_apply(result, v, OP_AND);
    bdd_delref(result);
    bdd_delref(v);
    result = tmp;
    value >>= 1;
  }
  return result;
}

BDD bdd_ibuildcube(int value, int width, int *variables) {
  if (width < 1) return 1;
  BDD result = 1;
  for (int z = width - 1; z >= 0; z--) {
    BDD v = (value & 1) ? bdd_ithvar(variables[z]) : bdd_nithvar(variables[z]);
    bdd_addref(result);
    BDD tmp = bdd_apply(result, v, OP_AND);
    bdd_delref(result);
    result = tmp;
    value >>= 1;
  }
  return result;
}

BDD bdd_makeset(int *varset, int varnum) {
  BDD res = 1;
  for (int i = varnum - 1; i >= 0; i--) {
    bdd_addref(res);
    BDD tmp = bdd_apply(res, bdd_ithvar(varset[i]), OP_AND);
    bdd_delref(res);
    res = tmp;
  }
  return res;
}

}  // extern "C"
