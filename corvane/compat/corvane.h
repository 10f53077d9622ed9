/* Lets programs written as `#include <corvane.h>` build unchanged: the
 * module headers themselves live one folder down, under corvane/, and are
 * reached only through this file or <corvane/corvane.h>. */
#ifndef CORVANE_COMPAT_H
#define CORVANE_COMPAT_H
#include <corvane/corvane.h>
#endif
