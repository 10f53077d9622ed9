/* Natives of the Java library beyond the classic factory interface:
 * printers into byte arrays, file names as platform bytes, cache
 * statistics, explicit collection, variable-set scanning, the node
 * structure of one BDD, finite domains and bit vectors.
 *
 * Every BDD handed to Java carries no reference unless said otherwise;
 * bit vectors cross as int arrays whose bits each hold one reference that
 * the Java side owns from then on. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "jni_internal.h"

using namespace corvane_jni;

#define FACTORY_NATIVE(ret, name) JNIEXPORT ret JNICALL Java_velmora_CorvaneFactory_##name

namespace {

/* The bytes of a NUL-terminated Java byte array, or NULL with an
 * exception pending.  The caller frees them. */
char *c_string(JNIEnv *env, jbyteArray a) {
  jsize n = env->GetArrayLength(a);
  char *s = (char *)malloc((size_t)n + 1);
  if (s == NULL) {
    throw_new(env, "java/lang/OutOfMemoryError", "file name");
    return NULL;
  }
  env->GetByteArrayRegion(a, 0, n, (jbyte *)s);
  s[n] = 0;
  return s;
}

jbyteArray to_bytes(JNIEnv *env, const char *p, size_t n) {
  jbyteArray a = env->NewByteArray((jsize)n);
  if (a != NULL) env->SetByteArrayRegion(a, 0, (jsize)n, (const jbyte *)p);
  return a;
}

jintArray to_ints(JNIEnv *env, const int *p, int n) {
  jintArray a = env->NewIntArray(n);
  if (a != NULL && n > 0) env->SetIntArrayRegion(a, 0, n, (const jint *)p);
  return a;
}

/* A copy of a Java int array in malloc'd memory (the engine may call back
 * into Java while it runs, so nothing stays pinned).  NULL with an
 * exception pending when memory is short; an empty array gives a
 * one-element buffer so that NULL always means failure. */
int *c_ints(JNIEnv *env, jintArray a, int *n) {
  *n = env->GetArrayLength(a);
  int *p = (int *)malloc(sizeof(int) * (size_t)(*n > 0 ? *n : 1));
  if (p == NULL) {
    throw_new(env, "java/lang/OutOfMemoryError", "int array");
    return NULL;
  }
  env->GetIntArrayRegion(a, 0, *n, (jint *)p);
  return p;
}

enum Printer { SET, TABLE, DOT, ALL, STAT, ORDER, FDDSET };

}  // namespace

extern "C" {

/* ---- file names in the platform's encoding --------------------------- */

FACTORY_NATIVE(jint, load1)(JNIEnv *env, jclass, jbyteArray name) {
  jnienv = env;
  char *f = c_string(env, name);
  if (f == NULL) return -1;
  BDD root = 0;
  bdd_fnload(f, &root);
  free(f);
  check_error(env);
  return root;
}

FACTORY_NATIVE(void, save1)(JNIEnv *env, jclass, jbyteArray name, jint r) {
  jnienv = env;
  char *f = c_string(env, name);
  if (f == NULL) return;
  bdd_fnsave(f, r);
  free(f);
  check_error(env);
}

/* ---- printers into memory ----------------------------------------------- */

FACTORY_NATIVE(jbyteArray, print1)(JNIEnv *env, jclass, jint what, jint r) {
  jnienv = env;
  char *buf = NULL;
  size_t len = 0;
  FILE *out = open_memstream(&buf, &len);
  if (out == NULL) {
    throw_new(env, "java/lang/OutOfMemoryError", "print buffer");
    return NULL;
  }
  switch (what) {
    case SET: bdd_fprintset(out, r); break;
    case TABLE: bdd_fprinttable(out, r); break;
    case DOT: bdd_fprintdot(out, r); break;
    case ALL: bdd_fprintall(out); break;
    case STAT: bdd_fprintstat(out); break;
    case ORDER: bdd_fprintorder(out); break;
    case FDDSET: fdd_fprintset(out, r); break;
    default: bdd_errhandler(BDD_ERR_OP);
  }
  fclose(out);
  /* The engine's own lines (collection reports, for one) precede what the
   * caller prints with this text. */
  fflush(stdout);
  jbyteArray a = check_error(env) != 0 ? NULL : to_bytes(env, buf, len);
  free(buf);
  return a;
}

/* ---- statistics, collection, scanning -------------------------------- */

FACTORY_NATIVE(void, cacheStats0)(JNIEnv *env, jclass, jintArray out) {
  jnienv = env;
  CacheStats s;
  bdd_cachestats(&s);
  jint v[7] = {s.uniqueAccess, s.uniqueChain, s.uniqueHit, s.uniqueMiss, s.opHit, s.opMiss, s.swapCount};
  env->SetIntArrayRegion(out, 0, 7, v);
}

FACTORY_NATIVE(void, gc0)(JNIEnv *env, jclass) {
  jnienv = env;
  bdd_gbc();
  check_error(env);
}

FACTORY_NATIVE(jintArray, scanSet0)(JNIEnv *env, jclass, jint r, jboolean domains) {
  jnienv = env;
  int *vars = NULL, n = 0;
  if (domains)
    fdd_scanset(r, &vars, &n);
  else
    bdd_scanset(r, &vars, &n);
  jintArray a = check_error(env) != 0 ? NULL : to_ints(env, vars, n);
  free(vars);
  return a;
}

/* The nodes of r as (node, variable, level, low, high) quintuples, every
 * node after its children.  Reads only; creates no node. */
FACTORY_NATIVE(jintArray, nodes0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  int total = bdd_nodecount(r);
  if (check_error(env) != 0) return NULL;
  int *out = (int *)malloc(sizeof(int) * 5 * (size_t)(total + 1));
  int *stack = (int *)malloc(sizeof(int) * 2 * (size_t)(total + 1));
  char *seen = (char *)calloc((size_t)bdd_getallocnum(), 1);
  if (out == NULL || stack == NULL || seen == NULL) {
    free(out), free(stack), free(seen);
    throw_new(env, "java/lang/OutOfMemoryError", "node list");
    return NULL;
  }
  /* Post-order walk with an explicit stack of (node, state). */
  int n = 0, top = 0;
  if (r > 1) stack[top++] = r, stack[top++] = 0;
  while (top > 0) {
    int node = stack[top - 2], state = stack[top - 1];
    int child = state == 0 ? bdd_low(node) : state == 1 ? bdd_high(node) : -1;
    if (child >= 0) {
      stack[top - 1] = state + 1;
      if (child > 1 && !seen[child]) {
        seen[child] = 1;
        stack[top++] = child, stack[top++] = 0;
      }
      continue;
    }
    top -= 2;
    int var = bdd_var(node);
    int *q = out + 5 * n++;
    q[0] = node, q[1] = var, q[2] = bdd_var2level(var), q[3] = bdd_low(node), q[4] = bdd_high(node);
  }
  free(stack);
  free(seen);
  jintArray a = check_error(env) != 0 ? NULL : to_ints(env, out, 5 * n);
  free(out);
  return a;
}

/* ---- finite domains ------------------------------------------------------- */

FACTORY_NATIVE(jint, fddExtDomain0)(JNIEnv *env, jclass, jintArray sizes) {
  jnienv = env;
  int n;
  int *p = c_ints(env, sizes, &n);
  if (p == NULL) return -1;
  int r = fdd_extdomain(p, n);
  free(p);
  check_error(env);
  return r;
}

FACTORY_NATIVE(jint, fddMakeSet0)(JNIEnv *env, jclass, jintArray doms) {
  jnienv = env;
  int n;
  int *p = c_ints(env, doms, &n);
  if (p == NULL) return -1;
  BDD r = fdd_makeset(p, n);
  free(p);
  check_error(env);
  return r;
}

FACTORY_NATIVE(jintArray, fddVars0)(JNIEnv *env, jclass, jint d) {
  jnienv = env;
  int *v = fdd_vars(d);
  int n = fdd_varnum(d);
  if (check_error(env) != 0 || v == NULL) return NULL;
  return to_ints(env, v, n);
}

FACTORY_NATIVE(jintArray, fddScanAllVar0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  int *v = fdd_scanallvar(r);
  int n = fdd_domainnum();
  jintArray a = check_error(env) != 0 || v == NULL ? NULL : to_ints(env, v, n);
  free(v);
  return a;
}

/* Small domain queries and builders: one engine call each. */
FACTORY_NATIVE(jint, fdd0)(JNIEnv *env, jclass, jint what, jint a, jint b) {
  jnienv = env;
  jint r;
  switch (what) {
    case 0: r = fdd_overlapdomain(a, b); break;
    case 1: r = fdd_domainnum(); break;
    case 2: r = fdd_domainsize(a); break;
    case 3: r = fdd_varnum(a); break;
    case 4: r = fdd_ithvar(a, b); break;
    case 5: r = fdd_ithset(a); break;
    case 6: r = fdd_domain(a); break;
    case 7: r = fdd_equals(a, b); break;
    case 8: r = fdd_scanvar(a, b); break;
    case 9: fdd_clearall(); r = 0; break;
    default: r = bdd_error(BDD_ERR_OP);
  }
  check_error(env);
  return r;
}

FACTORY_NATIVE(void, fddSetPair0)(JNIEnv *env, jclass, jlong pair, jint p1, jint p2) {
  jnienv = env;
  fdd_setpair(pair_of(pair), p1, p2);
  check_error(env);
}

FACTORY_NATIVE(void, fddAddVarBlock0)(JNIEnv *env, jclass, jint first, jint last, jboolean fixed) {
  jnienv = env;
  fdd_intaddvarblock(first, last, fixed ? 1 : 0);
  check_error(env);
}

}  // extern "C"

/* ---- bit vectors -------------------------------------------------------------- */

namespace {

template <int OP>
BDD apply_op(BDD l, BDD r) {
  return bdd_apply(l, r, OP);
}
BDD (*const map_ops[10])(BDD, BDD) = {apply_op<0>, apply_op<1>, apply_op<2>, apply_op<3>, apply_op<4>,
                                      apply_op<5>, apply_op<6>, apply_op<7>, apply_op<8>, apply_op<9>};

/* Hands a result vector to Java: the bits keep their references, the
 * array goes.  Null (with the vector released) when an error was raised. */
jintArray hand_over(JNIEnv *env, Bvec v) {
  if (check_error(env) != 0) {
    bvec_free(v);
    return NULL;
  }
  jintArray a = env->NewIntArray(v.nbits);
  if (a == NULL) {
    bvec_free(v);
    return NULL;
  }
  if (v.nbits > 0) env->SetIntArrayRegion(a, 0, v.nbits, (const jint *)v.bits);
  free(v.bits);
  return a;
}

struct Operand {
  Bvec v;
  bool ok;
};

Operand operand(JNIEnv *env, jintArray a) {
  Operand o = {{0, NULL}, true};
  if (a == NULL) return o;
  int n;
  int *p = c_ints(env, a, &n);
  if (p == NULL) {
    o.ok = false;
    return o;
  }
  o.v.nbits = n;
  o.v.bits = p;
  if (n == 0) free(p), o.v.bits = NULL;
  return o;
}

}  // namespace

extern "C" {

/* One vector operation: `what` selects it, a and b are the operands
 * (either may be null when unused), x and y its integer arguments. */
FACTORY_NATIVE(jintArray, bvec0)(JNIEnv *env, jclass, jint what, jintArray a, jintArray b, jint x, jint y) {
  jnienv = env;
  Operand l = operand(env, a), r = operand(env, b);
  if (!l.ok || !r.ok) {
    free(l.v.bits), free(r.v.bits);
    return NULL;
  }
  Bvec res = {0, NULL};
  switch (what) {
    case 0: res = bvec_con(x, y); break;
    case 1: res = bvec_var(x, y, 1); break;
    case 2: res = bvec_varfdd(x); break;
    case 3: res = bvec_varvec(l.v.nbits, l.v.bits); break;
    case 4: res = bvec_coerce(x, l.v); break;
    case 5: res = bvec_add(l.v, r.v); break;
    case 6: res = bvec_sub(l.v, r.v); break;
    case 7: res = bvec_mul(l.v, r.v); break;
    case 8: res = bvec_mulfixed(l.v, x); break;
    case 9: res = bvec_shlfixed(l.v, x, y); break;
    case 10: res = bvec_shrfixed(l.v, x, y); break;
    case 11: res = bvec_shl(l.v, r.v, x); break;
    case 12: res = bvec_shr(l.v, r.v, x); break;
    case 13: res = bvec_ite(x, l.v, r.v); break;
    case 14:
      if (x < 0 || x > 9)
        bdd_errhandler(BDD_ERR_OP);
      else
        res = bvec_map2(l.v, r.v, map_ops[x]);
      break;
    case 15: res = bvec_map1(l.v, bdd_not); break;
    default: bdd_errhandler(BDD_ERR_OP);
  }
  free(l.v.bits), free(r.v.bits);
  return hand_over(env, res);
}

/* Quotient and remainder side by side in one array (fixed divisor when b
 * is null). */
FACTORY_NATIVE(jintArray, bvecDiv0)(JNIEnv *env, jclass, jintArray a, jintArray b, jint c) {
  jnienv = env;
  Operand l = operand(env, a), r = operand(env, b);
  if (!l.ok || !r.ok) {
    free(l.v.bits), free(r.v.bits);
    return NULL;
  }
  Bvec q = {0, NULL}, m = {0, NULL};
  int rc = b == NULL ? bvec_divfixed(l.v, c, &q, &m) : bvec_div(l.v, r.v, &q, &m);
  free(l.v.bits), free(r.v.bits);
  if (rc != 0 || check_error(env) != 0) {
    check_error(env);
    return NULL;
  }
  Bvec both = {q.nbits + m.nbits, (BDD *)malloc(sizeof(BDD) * (size_t)(q.nbits + m.nbits + 1))};
  if (both.bits == NULL) {
    bvec_free(q), bvec_free(m);
    throw_new(env, "java/lang/OutOfMemoryError", "quotient");
    return NULL;
  }
  if (q.nbits > 0) memcpy(both.bits, q.bits, sizeof(BDD) * (size_t)q.nbits);
  if (m.nbits > 0) memcpy(both.bits + q.nbits, m.bits, sizeof(BDD) * (size_t)m.nbits);
  free(q.bits), free(m.bits);
  return hand_over(env, both);
}

/* Comparison `what` (lth, lte, gth, gte, equ, neq): an unreferenced BDD. */
FACTORY_NATIVE(jint, bvecCompare0)(JNIEnv *env, jclass, jint what, jintArray a, jintArray b) {
  jnienv = env;
  Operand l = operand(env, a), r = operand(env, b);
  if (!l.ok || !r.ok) {
    free(l.v.bits), free(r.v.bits);
    return 0;
  }
  static BDD (*const cmp[6])(Bvec, Bvec) = {bvec_lth, bvec_lte, bvec_gth, bvec_gte, bvec_equ, bvec_neq};
  BDD res = what >= 0 && what < 6 ? cmp[what](l.v, r.v) : (bdd_errhandler(BDD_ERR_OP), 0);
  free(l.v.bits), free(r.v.bits);
  check_error(env);
  return res;
}

/* Releases one reference of every listed node (a vector's bits). */
FACTORY_NATIVE(void, delRefs0)(JNIEnv *env, jclass, jintArray roots) {
  jnienv = env;
  int n;
  int *p = c_ints(env, roots, &n);
  if (p == NULL) return;
  for (int i = 0; i < n; i++) bdd_delref(p[i]);
  free(p);
  check_error(env);
}

}  // extern "C"
