/* Factory natives beyond the kernel: caches, cubes and sets, pairs,
 * duplication, reordering controls and blocks, printing, save and load. */
#include <stdio.h>
#include "jni_internal.h"

using namespace corvane_jni;

#define FACTORY_NATIVE(ret, name) JNIEXPORT ret JNICALL Java_velmora_CorvaneFactory_##name

/* Every printer's output is on standard output before control returns,
 * so it is not interleaved with what the host prints afterwards. */
#define PRINTING(call) \
  jnienv = env;        \
  call;                \
  fflush(stdout);      \
  check_error(env)

#define FRAME(type, call) \
  jnienv = env;           \
  type result_ = (call);  \
  check_error(env);       \
  return result_

#define VOID_FRAME(call) \
  jnienv = env;          \
  call;                  \
  check_error(env)

/* Runs call with the pinned elements `p` and length `n` of `array`;
 * -1 (the host's "no BDD") when the array cannot be pinned. */
#define WITH_ARRAY(array, call)                     \
  jnienv = env;                                     \
  jsize n = env->GetArrayLength(array);             \
  jint *p = env->GetIntArrayElements(array, NULL);  \
  if (p == NULL) return -1;                         \
  jint result_ = (call);                            \
  env->ReleaseIntArrayElements(array, p, 0);        \
  check_error(env);                                 \
  return result_

extern "C" {

FACTORY_NATIVE(jint, setCacheRatio0)(JNIEnv *env, jclass, jint r) { FRAME(jint, bdd_setcacheratio(r)); }
FACTORY_NATIVE(jint, duplicateVar0)(JNIEnv *env, jclass, jint v) { FRAME(jint, bdd_duplicatevar(v)); }
FACTORY_NATIVE(void, swapVar0)(JNIEnv *env, jclass, jint a, jint b) { VOID_FRAME(bdd_swapvar(a, b)); }

FACTORY_NATIVE(jlong, makePair0)(JNIEnv *env, jclass) {
  jnienv = env;
  return handle_of(bdd_newpair());
}

FACTORY_NATIVE(void, printAll0)(JNIEnv *env, jclass) { PRINTING(bdd_printall()); }
FACTORY_NATIVE(void, printTable0)(JNIEnv *env, jclass, jint r) { PRINTING(bdd_printtable(r)); }
FACTORY_NATIVE(void, printOrder0)(JNIEnv *env, jclass) { PRINTING(bdd_printorder()); }

FACTORY_NATIVE(jint, load0)(JNIEnv *env, jclass, jstring name) {
  jnienv = env;
  const char *f = env->GetStringUTFChars(name, NULL);
  if (f == NULL) return -1;
  /* Stays 0 when the file cannot be opened or its header not read; the
   * host then sees the pending exception, not the value. */
  BDD root = 0;
  bdd_fnload(f, &root);
  env->ReleaseStringUTFChars(name, f);
  check_error(env);
  return root;
}

FACTORY_NATIVE(void, save0)(JNIEnv *env, jclass, jstring name, jint r) {
  jnienv = env;
  const char *f = env->GetStringUTFChars(name, NULL);
  if (f == NULL) return;
  bdd_fnsave(f, r);
  env->ReleaseStringUTFChars(name, f);
  check_error(env);
}

FACTORY_NATIVE(jint, level2Var0)(JNIEnv *env, jclass, jint l) { FRAME(jint, bdd_level2var(l)); }
FACTORY_NATIVE(jint, var2Level0)(JNIEnv *env, jclass, jint v) { FRAME(jint, bdd_var2level(v)); }
FACTORY_NATIVE(void, reorder0)(JNIEnv *env, jclass, jint m) { VOID_FRAME(bdd_reorder(m)); }
FACTORY_NATIVE(void, autoReorder0)(JNIEnv *env, jclass, jint m) { VOID_FRAME(bdd_autoreorder(m)); }
FACTORY_NATIVE(void, autoReorder1)(JNIEnv *env, jclass, jint m, jint times) {
  VOID_FRAME(bdd_autoreorder_times(m, times));
}
FACTORY_NATIVE(jint, getReorderMethod0)(JNIEnv *env, jclass) { FRAME(jint, bdd_getreorder_method()); }
FACTORY_NATIVE(jint, getReorderTimes0)(JNIEnv *env, jclass) { FRAME(jint, bdd_getreorder_times()); }
FACTORY_NATIVE(void, disableReorder0)(JNIEnv *env, jclass) { VOID_FRAME(bdd_disable_reorder()); }
FACTORY_NATIVE(void, enableReorder0)(JNIEnv *env, jclass) { VOID_FRAME(bdd_enable_reorder()); }
FACTORY_NATIVE(jint, reorderVerbose0)(JNIEnv *env, jclass, jint v) { FRAME(jint, bdd_reorder_verbose(v)); }
FACTORY_NATIVE(jint, reorderGain0)(JNIEnv *env, jclass) { FRAME(jint, bdd_reorder_gain()); }

FACTORY_NATIVE(void, setVarOrder0)(JNIEnv *env, jclass, jintArray order) {
  jnienv = env;
  if (env->GetArrayLength(order) != bdd_varnum()) {
    throw_new(env, "java/lang/IllegalArgumentException", "array size != number of vars");
    return;
  }
  jint *p = env->GetIntArrayElements(order, NULL);
  if (p == NULL) return;
  bdd_setvarorder(p);
  env->ReleaseIntArrayElements(order, p, 0);
  check_error(env);
}

/* The fixed flag is a Java boolean; the engine takes 0 or 1. */
FACTORY_NATIVE(void, addVarBlock0)(JNIEnv *env, jclass, jint set, jboolean fixed) {
  VOID_FRAME(bdd_addvarblock(set, fixed ? 1 : 0));
}
FACTORY_NATIVE(void, addVarBlock1)(JNIEnv *env, jclass, jint first, jint last, jboolean fixed) {
  VOID_FRAME(bdd_intaddvarblock(first, last, fixed ? 1 : 0));
}
FACTORY_NATIVE(void, varBlockAll0)(JNIEnv *env, jclass) { VOID_FRAME(bdd_varblockall()); }
FACTORY_NATIVE(void, clearVarBlocks0)(JNIEnv *env, jclass) { VOID_FRAME(bdd_clrvarblocks()); }

FACTORY_NATIVE(jint, nodeCount0)(JNIEnv *env, jclass, jintArray roots) {
  WITH_ARRAY(roots, bdd_anodecount(p, n));
}
FACTORY_NATIVE(jint, buildCube0)(JNIEnv *env, jclass, jint value, jintArray vars) {
  WITH_ARRAY(vars, bdd_buildcube(value, n, p));
}
FACTORY_NATIVE(jint, buildCube1)(JNIEnv *env, jclass, jint value, jintArray vars) {
  WITH_ARRAY(vars, bdd_ibuildcube(value, n, p));
}
FACTORY_NATIVE(jint, makeSet0)(JNIEnv *env, jclass, jintArray vars) { WITH_ARRAY(vars, bdd_makeset(p, n)); }

}  // extern "C"
