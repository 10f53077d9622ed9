/* Shared state and helpers of the Java native methods.  Everything here
 * is internal to the library; only the Java_* entry points are exported. */
#ifndef CORVANE_JNI_INTERNAL_H
#define CORVANE_JNI_INTERNAL_H

#include <jni.h>
#include <stdint.h>
#include <corvane/corvane.h>

#define CORVANE_JNI_HIDDEN __attribute__((visibility("hidden")))

namespace corvane_jni {

/* Environment of the native call in progress; the host callbacks run
 * inside that call and use it. */
extern JNIEnv *jnienv CORVANE_JNI_HIDDEN;

/* Installed as the engine's error handler: records the code only. */
void bdd_errhandler(int code) CORVANE_JNI_HIDDEN;

/* Raises the recorded engine error, if any, as the Java exception of its
 * code and returns that code (0 when nothing was recorded). */
int check_error(JNIEnv *env) CORVANE_JNI_HIDDEN;

/* ThrowNew on the class named in slash form; a class that cannot be found
 * leaves the lookup's own exception pending instead. */
void throw_new(JNIEnv *env, const char *cls, const char *msg) CORVANE_JNI_HIDDEN;

void bdd_gbchandler(int pre, GbcStat *s) CORVANE_JNI_HIDDEN;
void bdd_resizehandler(int oldsize, int newsize) CORVANE_JNI_HIDDEN;
void bdd_reorderhandler(int pre) CORVANE_JNI_HIDDEN;

/* Pair handles cross as Java longs holding the table's address. */
inline bddPair *pair_of(jlong handle) { return (bddPair *)(intptr_t)handle; }
inline jlong handle_of(bddPair *p) { return (jlong)(intptr_t)p; }

}  // namespace corvane_jni

#endif
