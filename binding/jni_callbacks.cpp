/* Engine events reported to the host: collections (with statistics),
 * node-table growth and reorderings call static methods of the factory
 * class.  Names are looked up at every call; nothing is cached, so a host
 * class that is reloaded or lacks a member is simply not told.
 *
 * Once a host method has thrown, the exception stays pending until the
 * native call returns; later events of the same call are not reported,
 * since almost no JNI function may run while an exception is pending. */
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include "jni_internal.h"

namespace corvane_jni {

static jlong ticks_to_ms(int ticks) { return (jlong)((int64_t)ticks * 1000 / CLOCKS_PER_SEC); }

/* FindClass and friends leave NoClassDefFoundError / NoSuchFieldError
 * pending when they fail; a missing member only silences the event. */
static bool clear_lookup_failure(JNIEnv *env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

static jclass find(JNIEnv *env, const char *name) {
  jclass c = env->FindClass(name);
  if (c == NULL) clear_lookup_failure(env);
  return c;
}

/* The factory class and one of its static methods, or false. */
static bool find_static(JNIEnv *env, const char *name, const char *sig, jclass *cls, jmethodID *m) {
  if (env->ExceptionCheck()) return false;
  *cls = find(env, "velmora/CorvaneFactory");
  if (*cls == NULL) return false;
  *m = env->GetStaticMethodID(*cls, name, sig);
  if (*m == NULL) {
    env->DeleteLocalRef(*cls);
    clear_lookup_failure(env);
    return false;
  }
  return true;
}

static void set_int(JNIEnv *env, jclass cls, jobject obj, const char *name, jint v) {
  jfieldID f = env->GetFieldID(cls, name, "I");
  if (f == NULL)
    clear_lookup_failure(env);
  else
    env->SetIntField(obj, f, v);
}

static void set_long(JNIEnv *env, jclass cls, jobject obj, const char *name, jlong v) {
  jfieldID f = env->GetFieldID(cls, name, "J");
  if (f == NULL)
    clear_lookup_failure(env);
  else
    env->SetLongField(obj, f, v);
}

/* Local references die only when the native call returns, and one call
 * may see thousands of events: each handler drops its own. */
struct LocalRefs {
  JNIEnv *env;
  jobject refs[5];
  int n = 0;
  jobject keep(jobject r) { return refs[n++] = r; }
  ~LocalRefs() {
    while (n > 0)
      if (refs[--n] != NULL) env->DeleteLocalRef(refs[n]);
  }
};

static void fill_and_call(JNIEnv *env, LocalRefs &lr, int pre, const GbcStat *s) {
  jclass bddfactory = (jclass)lr.keep(find(env, "velmora/BDDFactory"));
  if (bddfactory == NULL) return;
  jclass factory = (jclass)lr.keep(find(env, "velmora/CorvaneFactory"));
  if (factory == NULL) return;
  jclass stats = (jclass)lr.keep(find(env, "velmora/BDDFactory$GCStats"));
  if (stats == NULL) return;

  jmethodID cb = env->GetStaticMethodID(factory, "gc_callback", "(I)V");
  jfieldID inst = cb ? env->GetStaticFieldID(factory, "INSTANCE", "Lvelmora/CorvaneFactory;") : NULL;
  jfieldID gcs = inst ? env->GetFieldID(bddfactory, "gcstats", "Lvelmora/BDDFactory$GCStats;") : NULL;
  if (gcs == NULL) {
    clear_lookup_failure(env);
    return;
  }

  jobject instance = lr.keep(env->GetStaticObjectField(factory, inst));
  if (instance == NULL) {
    printf("Error: CorvaneFactory.INSTANCE is null\n");
    return;
  }
  jobject stat = lr.keep(env->GetObjectField(instance, gcs));
  if (stat == NULL) {
    printf("Error: gcstats is null\n");
    return;
  }
  set_int(env, stats, stat, "nodes", s->nodes);
  set_int(env, stats, stat, "freenodes", s->freenodes);
  set_long(env, stats, stat, "time", ticks_to_ms(s->time));
  set_long(env, stats, stat, "sumtime", ticks_to_ms(s->sumtime));
  set_int(env, stats, stat, "num", s->num);

  jvalue arg[1];
  arg[0].i = pre;
  env->CallStaticVoidMethodA(factory, cb, arg);
  env->ExceptionCheck();  // a throw stays pending for the host's caller
}

void bdd_gbchandler(int pre, GbcStat *s) {
  JNIEnv *env = jnienv;
  if (env->ExceptionCheck()) return;
  LocalRefs lr{env, {}};
  fill_and_call(env, lr, pre, s);
}

void bdd_resizehandler(int oldsize, int newsize) {
  JNIEnv *env = jnienv;
  jclass factory;
  jmethodID m;
  if (!find_static(env, "resize_callback", "(II)V", &factory, &m)) return;
  jvalue args[2];
  args[0].i = oldsize;
  args[1].i = newsize;
  env->CallStaticVoidMethodA(factory, m, args);
  env->ExceptionCheck();  // a throw stays pending for the host's caller
  env->DeleteLocalRef(factory);
}

void bdd_reorderhandler(int pre) {
  JNIEnv *env = jnienv;
  jclass factory;
  jmethodID m;
  if (!find_static(env, "reorder_callback", "(I)V", &factory, &m)) return;
  jvalue arg[1];
  arg[0].i = pre;
  env->CallStaticVoidMethodA(factory, m, arg);
  env->ExceptionCheck();  // a throw stays pending for the host's caller
  env->DeleteLocalRef(factory);
}

}  // namespace corvane_jni
