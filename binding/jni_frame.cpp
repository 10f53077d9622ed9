/* The native frame shared by every Java native method (environment,
 * recorded engine error, exception mapping) and the factory natives that
 * reach only the kernel. */
#include <stdio.h>
#include <time.h>
#include "jni_internal.h"

namespace corvane_jni {

JNIEnv *jnienv;

/* The engine error recorded during the native call in progress.  Named
 * like the kernel's error routine on purpose: the binding only ever reads
 * and writes this variable, and never calls that routine.  Java calls are
 * serialised by the host class's lock, which is held while this, jnienv
 * and the allsat state are set and read. */
static int bdd_error;

/* Runs inside engine frames, maybe just before a restart jump: it only
 * records.  The first code is kept, since later ones of the same call are
 * its consequences.  Clearing the node-table condition here would make
 * every later node creation of the call collect the whole table again;
 * check_error clears it once the engine has returned instead. */
void bdd_errhandler(int code) {
  if (bdd_error == 0) bdd_error = code;
}

void throw_new(JNIEnv *env, const char *cls, const char *msg) {
  jclass c = env->FindClass(cls);
  if (c == NULL) return;  // NoClassDefFoundError is pending instead
  env->ThrowNew(c, msg);
  env->DeleteLocalRef(c);
}

static const char *exception_class(int code) {
  switch (code) {
    case BDD_ERR_MEMORY:
      return "java/lang/OutOfMemoryError";
    case BDD_ERR_FILE:
    case BDD_ERR_FORMAT:
      return "java/io/IOException";
    default:
      return code <= BDD_ERR_UNKNOWN_VAR && code >= BVEC_ERR_DIVZERO ? "velmora/BDDException"
                                                                     : "java/lang/InternalError";
  }
}

/* BDDException carries the numeric code beside the engine's message. */
static void throw_bdd_exception(JNIEnv *env, int code) {
  jclass c = env->FindClass("velmora/BDDException");
  if (c == NULL) return;
  jmethodID ctor = env->GetMethodID(c, "<init>", "(Ljava/lang/String;I)V");
  jstring msg = ctor ? env->NewStringUTF(bdd_errstring(code)) : NULL;
  if (msg != NULL) {
    jvalue args[2];
    args[0].l = msg;
    args[1].i = code;
    jthrowable e = (jthrowable)env->NewObjectA(c, ctor, args);
    if (e != NULL) env->Throw(e);
    env->DeleteLocalRef(e);
    env->DeleteLocalRef(msg);
  }
  env->DeleteLocalRef(c);
}

int check_error(JNIEnv *env) {
  /* The node-table condition lasts until the call that hit it returns:
   * the rest of that call fails fast, the next one may collect again. */
  if (bdderrorcond != 0) bdd_clear_error();
  int code = bdd_error;
  if (code == 0) return 0;
  bdd_error = 0;
  /* A host callback that threw during this call already left its
   * exception pending; raising another would be invalid, and the host
   * still sees the call fail. */
  if (env->ExceptionCheck()) return code;
  const char *cls = exception_class(code);
  if (cls[0] == 'v')
    throw_bdd_exception(env, code);
  else
    throw_new(env, cls, bdd_errstring(code));
  return code;
}

}  // namespace corvane_jni

using namespace corvane_jni;

extern "C" {

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_registerNatives(JNIEnv *, jclass) {}

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_initialize0(JNIEnv *env, jclass, jint nodes,
                                                               jint cachesize) {
  bdd_init(nodes, cachesize);
  bdd_error_hook(bdd_errhandler);
  bdd_resize_hook(bdd_resizehandler);
  bdd_gbc_hook(bdd_gbchandler);
  bdd_reorder_hook(bdd_reorderhandler);
  check_error(env);
}

JNIEXPORT jboolean JNICALL Java_velmora_CorvaneFactory_isInitialized0(JNIEnv *, jclass) {
  return (jboolean)(bdd_isrunning() & 0xFF);
}

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_done0(JNIEnv *env, jclass) {
  jnienv = env;
  bdd_done();
  check_error(env);
}

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_setError0(JNIEnv *, jclass, jint code) {
  bdderrorcond = code;
}

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_clearError0(JNIEnv *, jclass) {
  bdderrorcond = 0;
}

/* The natives of one int argument and an int result share one shape. */
#define INT_NATIVE(name, call)                                                            \
  JNIEXPORT jint JNICALL Java_velmora_CorvaneFactory_##name(JNIEnv *env, jclass, jint x) { \
    jnienv = env;                                                                         \
    jint r = call(x);                                                                     \
    check_error(env);                                                                     \
    return r;                                                                             \
  }
#define INT_QUERY(name, call)                                                     \
  JNIEXPORT jint JNICALL Java_velmora_CorvaneFactory_##name(JNIEnv *env, jclass) { \
    jnienv = env;                                                                 \
    jint r = call();                                                              \
    check_error(env);                                                             \
    return r;                                                                     \
  }

INT_NATIVE(setMaxNodeNum0, bdd_setmaxnodenum)
INT_NATIVE(setNodeTableSize0, bdd_setallocnum)
INT_NATIVE(setMinFreeNodes0, bdd_setminfreenodes)
INT_NATIVE(setMaxIncrease0, bdd_setmaxincrease)
INT_NATIVE(setVarNum0, bdd_setvarnum)
INT_NATIVE(extVarNum0, bdd_extvarnum)
INT_NATIVE(ithVar0, bdd_ithvar)
INT_NATIVE(nithVar0, bdd_nithvar)
INT_QUERY(varNum0, bdd_varnum)
INT_QUERY(getAllocNum0, bdd_getallocnum)
INT_QUERY(getNodeNum0, bdd_getnodenum)

JNIEXPORT jdouble JNICALL Java_velmora_CorvaneFactory_setIncreaseFactor0(JNIEnv *env, jclass,
                                                                         jdouble x) {
  jnienv = env;
  double r = bdd_setincreasefactor(x);
  check_error(env);
  return r;
}

JNIEXPORT jint JNICALL Java_velmora_CorvaneFactory_getCacheSize0(JNIEnv *, jclass) {
  KernelStats s;
  bdd_stats(&s);
  return s.cachesize;
}

JNIEXPORT void JNICALL Java_velmora_CorvaneFactory_printStat0(JNIEnv *env, jclass) {
  jnienv = env;
  bdd_printstat();
  fflush(stdout);
  check_error(env);
}

JNIEXPORT jstring JNICALL Java_velmora_CorvaneFactory_getVersion0(JNIEnv *env, jclass) {
  jnienv = env;
  jstring s = env->NewStringUTF(bdd_versionstr());
  check_error(env);
  return s;
}

}  // extern "C"
