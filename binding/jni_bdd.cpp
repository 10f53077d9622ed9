/* Natives of the host's BDD and pairing handles.  BDDs cross as node
 * indices without a reference: the host adds one for every BDD it keeps. */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include "jni_internal.h"

using namespace corvane_jni;

#define BDD_NATIVE(ret, name) JNIEXPORT ret JNICALL Java_velmora_CorvaneFactory_00024CorvaneBDD_##name
#define PAIR_NATIVE(name) JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_00024CorvaneBDDPairing_##name

/* One engine call between storing the environment and check_error. */
#define FRAME(type, call)  \
  jnienv = env;            \
  type result_ = (call);   \
  check_error(env);        \
  return result_

extern "C" {

BDD_NATIVE(jint, var0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_var(r)); }
BDD_NATIVE(jint, high0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_high(r)); }
BDD_NATIVE(jint, low0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_low(r)); }
BDD_NATIVE(jint, not0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_not(r)); }
BDD_NATIVE(jint, ite0)(JNIEnv *env, jclass, jint f, jint g, jint h) { FRAME(jint, bdd_ite(f, g, h)); }
BDD_NATIVE(jint, relprod0)(JNIEnv *env, jclass, jint a, jint b, jint set) {
  FRAME(jint, bdd_appex(a, b, OP_AND, set));
}
BDD_NATIVE(jint, compose0)(JNIEnv *env, jclass, jint f, jint g, jint var) {
  FRAME(jint, bdd_compose(f, g, var));
}
BDD_NATIVE(jint, constrain0)(JNIEnv *env, jclass, jint f, jint c) { FRAME(jint, bdd_constrain(f, c)); }
BDD_NATIVE(jint, exist0)(JNIEnv *env, jclass, jint r, jint set) { FRAME(jint, bdd_exist(r, set)); }
BDD_NATIVE(jint, forAll0)(JNIEnv *env, jclass, jint r, jint set) { FRAME(jint, bdd_forall(r, set)); }
BDD_NATIVE(jint, unique0)(JNIEnv *env, jclass, jint r, jint set) { FRAME(jint, bdd_unique(r, set)); }
BDD_NATIVE(jint, restrict0)(JNIEnv *env, jclass, jint r, jint cube) { FRAME(jint, bdd_restrict(r, cube)); }
BDD_NATIVE(jint, simplify0)(JNIEnv *env, jclass, jint f, jint d) { FRAME(jint, bdd_simplify(f, d)); }
BDD_NATIVE(jint, support0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_support(r)); }
BDD_NATIVE(jint, apply0)(JNIEnv *env, jclass, jint l, jint r, jint op) { FRAME(jint, bdd_apply(l, r, op)); }
BDD_NATIVE(jint, applyAll0)(JNIEnv *env, jclass, jint l, jint r, jint op, jint set) {
  FRAME(jint, bdd_appall(l, r, op, set));
}
BDD_NATIVE(jint, applyEx0)(JNIEnv *env, jclass, jint l, jint r, jint op, jint set) {
  FRAME(jint, bdd_appex(l, r, op, set));
}
BDD_NATIVE(jint, applyUni0)(JNIEnv *env, jclass, jint l, jint r, jint op, jint set) {
  FRAME(jint, bdd_appuni(l, r, op, set));
}
BDD_NATIVE(jint, satOne0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_satone(r)); }
BDD_NATIVE(jint, fullSatOne0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_fullsatone(r)); }
BDD_NATIVE(jint, satOne1)(JNIEnv *env, jclass, jint r, jint set, jint pol) {
  FRAME(jint, bdd_satoneset(r, set, pol));
}
BDD_NATIVE(jint, nodeCount0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_nodecount(r)); }
BDD_NATIVE(jdouble, pathCount0)(JNIEnv *env, jclass, jint r) { FRAME(jdouble, bdd_pathcount(r)); }
BDD_NATIVE(jdouble, satCount0)(JNIEnv *env, jclass, jint r) { FRAME(jdouble, bdd_satcount(r)); }
BDD_NATIVE(jdouble, satCount1)(JNIEnv *env, jclass, jint r, jint set) {
  FRAME(jdouble, bdd_satcountset(r, set));
}
BDD_NATIVE(jdouble, logSatCount0)(JNIEnv *env, jclass, jint r) { FRAME(jdouble, bdd_satcountln(r)); }
BDD_NATIVE(jdouble, logSatCount1)(JNIEnv *env, jclass, jint r, jint set) {
  FRAME(jdouble, bdd_satcountlnset(r, set));
}
BDD_NATIVE(jint, veccompose0)(JNIEnv *env, jclass, jint r, jlong pair) {
  FRAME(jint, bdd_veccompose(r, pair_of(pair)));
}
BDD_NATIVE(jint, replace0)(JNIEnv *env, jclass, jint r, jlong pair) {
  FRAME(jint, bdd_replace(r, pair_of(pair)));
}

BDD_NATIVE(void, addRef)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  bdd_addref(r);
  check_error(env);
}

BDD_NATIVE(void, delRef)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  if (r == -1) return;  // the host's "no BDD"
  bdd_delref(r);
  check_error(env);
}

BDD_NATIVE(void, printSet0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  bdd_printset(r);
  fflush(stdout);
  check_error(env);
}

BDD_NATIVE(void, printDot0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  bdd_printdot(r);
  fflush(stdout);
  check_error(env);
}

}  // extern "C"

/* ---- all satisfying assignments ------------------------------------------ */

/* Valid only while one allsat0 call enumerates. */
static JNIEnv *allsat_env;
static jobjectArray allsat_result;
static int allsat_index;
static int allsat_length;

static void allsatHandler(signed char *profile, int size) {
  JNIEnv *env = allsat_env;
  /* After a failed allocation nothing more is stored: the host gets the
   * pending OutOfMemoryError, not a partial answer. */
  if (allsat_result == NULL || env->ExceptionCheck()) return;
  if (allsat_index >= allsat_length) {
    throw_new(env, "java/lang/InternalError", "more assignments than paths");
    return;
  }
  jbyteArray a = env->NewByteArray(size);
  if (a == NULL) return;
  env->SetByteArrayRegion(a, 0, size, (const jbyte *)profile);
  env->SetObjectArrayElement(allsat_result, allsat_index, a);
  env->DeleteLocalRef(a);
  allsat_index++;
}

extern "C" BDD_NATIVE(jobjectArray, allsat0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  jclass bytes = env->FindClass("[B");
  if (bytes == NULL) return NULL;
  int n = bdd_varnum();
  /* An error left over from an unchecked earlier call is raised now,
   * and nothing is enumerated under it. */
  if (check_error(env) != 0) return NULL;
  /* One element per variable, or per path when there are more: every
   * assignment reaches the host. */
  double paths = bdd_pathcount(r);
  if (check_error(env) != 0) return NULL;
  if (paths > INT_MAX - 8) {
    throw_new(env, "java/lang/OutOfMemoryError", "too many satisfying assignments for one array");
    return NULL;
  }
  int length = n > (int)paths ? n : (int)paths;
  jobjectArray result = env->NewObjectArray(length, bytes, NULL);
  env->DeleteLocalRef(bytes);
  if (result == NULL) return NULL;
  allsat_result = result;
  allsat_length = length;
  allsat_index = 0;
  allsat_env = env;
  bdd_allsat(r, allsatHandler);
  allsat_result = NULL;
  allsat_env = NULL;
  allsat_length = 0;
  check_error(env);
  return env->ExceptionCheck() ? NULL : result;
}

extern "C" BDD_NATIVE(jintArray, varProfile0)(JNIEnv *env, jclass, jint r) {
  jnienv = env;
  int n = bdd_varnum();
  int *p = bdd_varprofile(r);
  if (check_error(env) != 0 || p == NULL || env->ExceptionCheck()) {
    free(p);
    return NULL;
  }
  jintArray a = env->NewIntArray(n);
  if (a != NULL) env->SetIntArrayRegion(a, 0, n, (const jint *)p);
  free(p);
  return a;
}

/* ---- pairing handles ----------------------------------------------------- */

extern "C" {

PAIR_NATIVE(set0)(JNIEnv *env, jclass, jlong pair, jint oldvar, jint newvar) {
  jnienv = env;
  bdd_setpair(pair_of(pair), oldvar, newvar);
  check_error(env);
}

PAIR_NATIVE(set2)(JNIEnv *env, jclass, jlong pair, jint oldvar, jint newbdd) {
  jnienv = env;
  bdd_setbddpair(pair_of(pair), oldvar, newbdd);
  check_error(env);
}

}  // extern "C"

/* The array forms: both arrays pinned with the critical form, which is
 * safe because setting pairs creates no nodes and so calls no host method. */
static void set_arrays(JNIEnv *env, jlong pair, jintArray olds, jintArray news, bool bdds) {
  jnienv = env;
  jsize n = env->GetArrayLength(olds);
  if (n != env->GetArrayLength(news)) {
    throw_new(env, "java/lang/IllegalArgumentException", "array sizes do not match");
    return;
  }
  jint *a = (jint *)env->GetPrimitiveArrayCritical(olds, NULL);
  if (a != NULL) {
    jint *b = (jint *)env->GetPrimitiveArrayCritical(news, NULL);
    if (b != NULL) {
      if (bdds)
        bdd_setbddpairs(pair_of(pair), a, b, n);
      else
        bdd_setpairs(pair_of(pair), a, b, n);
      env->ReleasePrimitiveArrayCritical(news, b, JNI_ABORT);
    }
    env->ReleasePrimitiveArrayCritical(olds, a, JNI_ABORT);
  }
  check_error(env);
}

extern "C" {

PAIR_NATIVE(set1)(JNIEnv *env, jclass, jlong pair, jintArray olds, jintArray news) {
  set_arrays(env, pair, olds, news, false);
}

PAIR_NATIVE(set3)(JNIEnv *env, jclass, jlong pair, jintArray olds, jintArray news) {
  set_arrays(env, pair, olds, news, true);
}

PAIR_NATIVE(reset0)(JNIEnv *env, jclass, jlong pair) {
  jnienv = env;
  bdd_resetpair(pair_of(pair));
  check_error(env);
}

PAIR_NATIVE(free0)(JNIEnv *env, jclass, jlong pair) {
  jnienv = env;
  if (pair == 0) return;
  bdd_freepair(pair_of(pair));
}

}  // extern "C"
