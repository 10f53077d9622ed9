/* A small reader for combinational netlists in the ".bench" format:
 *
 *     # comment
 *     INPUT(a)
 *     OUTPUT(z)
 *     z = NAND(a, b, c)
 *
 * Gates: AND, NAND, OR, NOR, XOR, XNOR (any fan-in of at least one),
 * NOT and BUFF (exactly one input).  Signals may be used before the line
 * that defines them; CR-LF line endings are accepted.
 *
 * The reader knows nothing about BDDs: it produces a signal table, the
 * input and output lists and an evaluation order of the gates the outputs
 * need.  Every failure leaves a one-line message in nl->error and makes
 * nl_read return -1; the caller then only calls nl_free.
 *
 * Header-only so that the example programs stay one file each; compiles
 * as C99 and as C++. */
#ifndef CORVANE_EXAMPLES_NETLIST_H
#define CORVANE_EXAMPLES_NETLIST_H

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
  NL_UNDEFINED = 0, /* referenced, not (yet) defined */
  NL_INPUT,
  NL_AND,
  NL_NAND,
  NL_OR,
  NL_NOR,
  NL_XOR,
  NL_XNOR,
  NL_NOT,
  NL_BUFF
};

typedef struct {
  char *name;
  int type;   /* NL_* */
  int nfanin;
  int *fanin; /* signal indices */
  int line;   /* defining line, 0 while undefined */
  int usedat; /* first line that referred to the signal */
} nl_signal;

typedef struct {
  const char *path;
  nl_signal *sigs;
  int nsigs, capsigs;
  int *hash; /* open addressing: signal index + 1, 0 = empty slot */
  int hashcap;
  int *inputs; /* signal indices, file order */
  int ninputs, capinputs;
  int *outputs; /* signal indices, file order */
  int *outline; /* line of each OUTPUT declaration */
  int noutputs, capoutputs, capoutline;
  int *order; /* gates the outputs need, each after its fan-in */
  int norder;
  int ngates; /* gate definitions in the file */
  char error[512];
} netlist;

/* ---- small helpers ------------------------------------------------------ */

static inline void nl_fail(netlist *nl, int line, const char *fmt, ...) {
  va_list ap;
  int n;
  if (line > 0)
    n = snprintf(nl->error, sizeof nl->error, "%s:%d: ", nl->path, line);
  else
    n = snprintf(nl->error, sizeof nl->error, "%s: ", nl->path);
  if (n < 0 || (size_t)n >= sizeof nl->error) return;
  va_start(ap, fmt);
  vsnprintf(nl->error + n, sizeof nl->error - (size_t)n, fmt, ap);
  va_end(ap);
}

/* Grow *arr (of element size `size`) so that it holds at least need items. */
static inline int nl_reserve(void **arr, int *cap, int need, size_t size) {
  if (need <= *cap) return 0;
  int ncap = *cap ? *cap : 16;
  while (ncap < need) {
    if (ncap > (1 << 28)) return -1;
    ncap *= 2;
  }
  void *p = realloc(*arr, (size_t)ncap * size);
  if (!p) return -1;
  *arr = p;
  *cap = ncap;
  return 0;
}

static inline unsigned nl_hashstr(const char *s, size_t len) {
  unsigned h = 2166136261u; /* FNV-1a */
  for (size_t i = 0; i < len; i++) h = (h ^ (unsigned char)s[i]) * 16777619u;
  return h;
}

static inline int nl_rehash(netlist *nl, int newcap) {
  int *h = (int *)calloc((size_t)newcap, sizeof(int));
  if (!h) return -1;
  for (int i = 0; i < nl->nsigs; i++) {
    unsigned k = nl_hashstr(nl->sigs[i].name, strlen(nl->sigs[i].name)) & (unsigned)(newcap - 1);
    while (h[k]) k = (k + 1) & (unsigned)(newcap - 1);
    h[k] = i + 1;
  }
  free(nl->hash);
  nl->hash = h;
  nl->hashcap = newcap;
  return 0;
}

/* Index of the signal called s[0..len), created (undefined) if new; -1 when
 * out of memory. */
static inline int nl_signal_of(netlist *nl, const char *s, size_t len, int line) {
  if (nl->hashcap == 0 && nl_rehash(nl, 64) < 0) return -1;
  unsigned mask = (unsigned)(nl->hashcap - 1);
  unsigned k = nl_hashstr(s, len) & mask;
  while (nl->hash[k]) {
    nl_signal *g = &nl->sigs[nl->hash[k] - 1];
    if (strlen(g->name) == len && memcmp(g->name, s, len) == 0) return nl->hash[k] - 1;
    k = (k + 1) & mask;
  }
  if (nl_reserve((void **)&nl->sigs, &nl->capsigs, nl->nsigs + 1, sizeof(nl_signal)) < 0) return -1;
  char *name = (char *)malloc(len + 1);
  if (!name) return -1;
  memcpy(name, s, len);
  name[len] = '\0';
  nl_signal *g = &nl->sigs[nl->nsigs];
  memset(g, 0, sizeof *g);
  g->name = name;
  g->usedat = line;
  nl->hash[k] = ++nl->nsigs;
  /* keep the table at most half full */
  if (2 * nl->nsigs > nl->hashcap && nl_rehash(nl, 2 * nl->hashcap) < 0) return -1;
  return nl->nsigs - 1;
}

static inline int nl_namechar(int c) {
  return c > ' ' && c < 127 && c != '(' && c != ')' && c != ',' && c != '=' && c != '#';
}

static inline const char *nl_skipspace(const char *p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

/* Reads a name at *pp; returns its length (0 if none) and advances *pp. */
static inline size_t nl_name(const char **pp, const char **start) {
  const char *p = nl_skipspace(*pp);
  *start = p;
  while (nl_namechar((unsigned char)*p)) p++;
  *pp = p;
  return (size_t)(p - *start);
}

static inline int nl_gatetype(const char *s, size_t len) {
  static const struct {
    const char *name;
    int type;
  } table[] = {{"AND", NL_AND},   {"NAND", NL_NAND}, {"OR", NL_OR},     {"NOR", NL_NOR},
               {"XOR", NL_XOR},   {"XNOR", NL_XNOR}, {"NOT", NL_NOT},   {"BUFF", NL_BUFF},
               {"BUF", NL_BUFF}};
  for (size_t i = 0; i < sizeof table / sizeof table[0]; i++) {
    size_t n = strlen(table[i].name);
    if (n != len) continue;
    size_t j = 0;
    while (j < n && toupper((unsigned char)s[j]) == table[i].name[j]) j++;
    if (j == n) return table[i].type;
  }
  return -1;
}

static inline const char *nl_typename(int type) {
  static const char *const names[] = {"?",   "INPUT", "AND", "NAND", "OR",
                                      "NOR", "XOR",   "XNOR", "NOT", "BUFF"};
  return (type >= 0 && type <= NL_BUFF) ? names[type] : "?";
}

/* Matches a keyword like INPUT at p, case-insensitively, followed by '('. */
static inline int nl_keyword(const char *p, const char *kw) {
  size_t n = strlen(kw);
  for (size_t i = 0; i < n; i++)
    if (toupper((unsigned char)p[i]) != kw[i]) return 0;
  return *nl_skipspace(p + n) == '(';
}

/* ---- parsing one line --------------------------------------------------- */

static inline int nl_nomem(netlist *nl, int line) {
  nl_fail(nl, line, "out of memory");
  return -1;
}

static inline int nl_parse_line(netlist *nl, char *text, int line) {
  const char *p = nl_skipspace(text);
  const char *name;
  size_t len;

  if (*p == '\0') return 0;

  if (nl_keyword(p, "INPUT") || nl_keyword(p, "OUTPUT")) {
    int is_input = toupper((unsigned char)*p) == 'I';
    p = nl_skipspace(p + (is_input ? 5 : 6)) + 1; /* past '(' */
    len = nl_name(&p, &name);
    p = nl_skipspace(p);
    if (len == 0 || *p != ')' || *nl_skipspace(p + 1) != '\0') {
      nl_fail(nl, line, "expected %s(name)", is_input ? "INPUT" : "OUTPUT");
      return -1;
    }
    int s = nl_signal_of(nl, name, len, line);
    if (s < 0) return nl_nomem(nl, line);
    if (is_input) {
      if (nl->sigs[s].line) {
        nl_fail(nl, line, "signal %s is already defined on line %d", nl->sigs[s].name,
                nl->sigs[s].line);
        return -1;
      }
      nl->sigs[s].type = NL_INPUT;
      nl->sigs[s].line = line;
      if (nl_reserve((void **)&nl->inputs, &nl->capinputs, nl->ninputs + 1, sizeof(int)) < 0)
        return nl_nomem(nl, line);
      nl->inputs[nl->ninputs++] = s;
    } else {
      if (nl_reserve((void **)&nl->outputs, &nl->capoutputs, nl->noutputs + 1, sizeof(int)) < 0 ||
          nl_reserve((void **)&nl->outline, &nl->capoutline, nl->noutputs + 1, sizeof(int)) < 0)
        return nl_nomem(nl, line);
      nl->outline[nl->noutputs] = line;
      nl->outputs[nl->noutputs++] = s;
    }
    return 0;
  }

  /* name = TYPE(a, b, ...) */
  len = nl_name(&p, &name);
  p = nl_skipspace(p);
  if (len == 0 || *p != '=') {
    nl_fail(nl, line, "expected INPUT(..), OUTPUT(..) or 'name = GATE(..)'");
    return -1;
  }
  int s = nl_signal_of(nl, name, len, line);
  if (s < 0) return nl_nomem(nl, line);
  if (nl->sigs[s].line) {
    nl_fail(nl, line, "signal %s is already defined on line %d", nl->sigs[s].name,
            nl->sigs[s].line);
    return -1;
  }
  p++;
  len = nl_name(&p, &name);
  p = nl_skipspace(p);
  if (len == 0 || *p != '(') {
    nl_fail(nl, line, "expected a gate type after '='");
    return -1;
  }
  int type = nl_gatetype(name, len);
  if (type < 0) {
    nl_fail(nl, line, "unknown gate type '%.*s'", (int)(len > 40 ? 40 : len), name);
    return -1;
  }
  p++;
  int *fanin = NULL;
  int nfanin = 0, capfanin = 0;
  for (;;) {
    len = nl_name(&p, &name);
    p = nl_skipspace(p);
    if (len == 0 && nfanin > 0) {
      free(fanin);
      nl_fail(nl, line, "missing input name after ','");
      return -1;
    }
    if (len == 0) break;
    int in = nl_signal_of(nl, name, len, line);
    if (in < 0 || nl_reserve((void **)&fanin, &capfanin, nfanin + 1, sizeof(int)) < 0) {
      free(fanin);
      return nl_nomem(nl, line);
    }
    fanin[nfanin++] = in;
    if (*p != ',') break;
    p++;
  }
  if (*p != ')' || *nl_skipspace(p + 1) != '\0') {
    free(fanin);
    nl_fail(nl, line, "malformed gate input list (expected 'a, b, ...)')");
    return -1;
  }
  if (nfanin == 0 || ((type == NL_NOT || type == NL_BUFF) && nfanin != 1)) {
    free(fanin);
    nl_fail(nl, line, "%s gate with %d input%s", nl_typename(type), nfanin, nfanin == 1 ? "" : "s");
    return -1;
  }
  nl->sigs[s].type = type;
  nl->sigs[s].fanin = fanin;
  nl->sigs[s].nfanin = nfanin;
  nl->sigs[s].line = line;
  nl->ngates++;
  return 0;
}

/* ---- evaluation order --------------------------------------------------- */

/* Depth-first walk from every output (explicit stack: netlists can be
 * deep); a gate is appended once all of its fan-in is.  Finds undefined
 * signals and combinational loops. */
static inline int nl_make_order(netlist *nl) {
  /* state: 0 unvisited, 1 on the stack, 2 done */
  char *state = (char *)calloc((size_t)nl->nsigs + 1, 1);
  int *stack = (int *)malloc(((size_t)nl->nsigs + 1) * sizeof(int));
  int *next = (int *)calloc((size_t)nl->nsigs + 1, sizeof(int)); /* next fan-in to visit */
  nl->order = (int *)malloc(((size_t)nl->nsigs + 1) * sizeof(int));
  nl->norder = 0;
  int ok = state && stack && next && nl->order;
  if (!ok) nl_fail(nl, 0, "out of memory");

  for (int o = 0; ok && o < nl->noutputs; o++) {
    int root = nl->outputs[o];
    if (!nl->sigs[root].line) {
      nl_fail(nl, nl->outline[o], "output %s is never defined", nl->sigs[root].name);
      ok = 0;
      break;
    }
    if (state[root]) continue;
    int sp = 0;
    stack[sp++] = root;
    state[root] = 1;
    while (ok && sp > 0) {
      int s = stack[sp - 1];
      nl_signal *g = &nl->sigs[s];
      if (next[s] < g->nfanin) {
        int in = g->fanin[next[s]++];
        if (!nl->sigs[in].line) {
          nl_fail(nl, nl->sigs[in].usedat, "signal %s is used but never defined",
                  nl->sigs[in].name);
          ok = 0;
        } else if (state[in] == 1) {
          nl_fail(nl, nl->sigs[in].line, "combinational loop through signal %s",
                  nl->sigs[in].name);
          ok = 0;
        } else if (state[in] == 0) {
          state[in] = 1;
          stack[sp++] = in;
        }
      } else {
        state[s] = 2;
        sp--;
        if (g->type != NL_INPUT) nl->order[nl->norder++] = s;
      }
    }
  }
  free(state);
  free(stack);
  free(next);
  return ok ? 0 : -1;
}

/* ---- a static variable order ---------------------------------------- */

/* Stable sort of sigs[0..n) by decreasing depth (insertion sort: fan-in
 * lists are short and output lists modest). */
static inline void nl_sort_by_depth(int *sigs, int n, const int *depth) {
  for (int i = 1; i < n; i++) {
    int s = sigs[i], j = i;
    while (j > 0 && depth[sigs[j - 1]] < depth[s]) {
      sigs[j] = sigs[j - 1];
      j--;
    }
    sigs[j] = s;
  }
}

/* The depth-first fan-in order, the usual static order for netlists: an
 * input has depth 0 and a gate one more than its deepest fan-in; the
 * outputs, deepest first (file order among equals), are walked depth first
 * through each gate's fan-ins, deepest first as well, and every input takes
 * the next position when first reached.  Inputs no output reaches come
 * last, in file order.  Fills pos[k] with the position of input k (file
 * order); returns 0, or -1 when out of memory. */
static inline int nl_dfs_order(const netlist *nl, int *pos) {
  int n = nl->nsigs, nfan = 0, ok = 1;
  for (int i = 0; i < nl->norder; i++) nfan += nl->sigs[nl->order[i]].nfanin;
  int *depth = (int *)calloc((size_t)n + 1, sizeof(int));
  int *first = (int *)malloc(((size_t)n + 1) * sizeof(int)); /* sorted fan-ins of s at fan + first[s] */
  int *fan = (int *)malloc(((size_t)nfan + 1) * sizeof(int));
  int *outs = (int *)malloc(((size_t)nl->noutputs + 1) * sizeof(int));
  int *stack = (int *)malloc(((size_t)nfan + nl->noutputs + 1) * sizeof(int));
  int *next = (int *)calloc((size_t)n + 1, sizeof(int)); /* input number of an input */
  char *seen = (char *)calloc((size_t)n + 1, 1);
  if (!depth || !first || !fan || !outs || !stack || !next || !seen) ok = 0;

  if (ok) {
    int used = 0;
    /* nl->order lists every needed gate after its fan-in */
    for (int i = 0; i < nl->norder; i++) {
      const nl_signal *g = &nl->sigs[nl->order[i]];
      int d = 0;
      for (int k = 0; k < g->nfanin; k++)
        if (depth[g->fanin[k]] > d) d = depth[g->fanin[k]];
      depth[nl->order[i]] = d + 1;
      first[nl->order[i]] = used;
      memcpy(fan + used, g->fanin, (size_t)g->nfanin * sizeof(int));
      used += g->nfanin;
    }
    for (int i = 0; i < nl->nsigs; i++)
      if (nl->sigs[i].type != NL_INPUT && depth[i] > 0)
        nl_sort_by_depth(fan + first[i], nl->sigs[i].nfanin, depth);
    memcpy(outs, nl->outputs, (size_t)nl->noutputs * sizeof(int));
    nl_sort_by_depth(outs, nl->noutputs, depth);

    for (int k = 0; k < nl->ninputs; k++) next[nl->inputs[k]] = k; /* input number */
    int npos = 0;
    /* Marking a signal when it is popped, not when pushed, and pushing
     * fan-ins last first visits the signals in the order of the recursive
     * walk; a signal may then sit on the stack more than once. */
    for (int o = 0; o < nl->noutputs; o++) {
      int sp = 0;
      stack[sp++] = outs[o];
      while (sp > 0) {
        int s = stack[--sp];
        if (seen[s]) continue;
        seen[s] = 1;
        if (nl->sigs[s].type == NL_INPUT) {
          pos[next[s]] = npos++;
          continue;
        }
        for (int k = nl->sigs[s].nfanin - 1; k >= 0; k--) stack[sp++] = fan[first[s] + k];
      }
    }
    for (int k = 0; k < nl->ninputs; k++)
      if (!seen[nl->inputs[k]]) pos[k] = npos++;
  }
  free(depth);
  free(first);
  free(fan);
  free(outs);
  free(stack);
  free(next);
  free(seen);
  return ok ? 0 : -1;
}

/* ---- public entry points ------------------------------------------------ */

static inline void nl_free(netlist *nl) {
  for (int i = 0; i < nl->nsigs; i++) {
    free(nl->sigs[i].name);
    free(nl->sigs[i].fanin);
  }
  free(nl->sigs);
  free(nl->hash);
  free(nl->inputs);
  free(nl->outputs);
  free(nl->outline);
  free(nl->order);
  memset(nl, 0, sizeof *nl);
}

/* Reads and checks the netlist at path. Returns 0, or -1 with nl->error set. */
static inline int nl_read(netlist *nl, const char *path) {
  memset(nl, 0, sizeof *nl);
  nl->path = path;
  FILE *f = fopen(path, "rb");
  if (!f) {
    nl_fail(nl, 0, "cannot open: %s", strerror(errno));
    return -1;
  }
  char *buf = NULL;
  size_t cap = 0;
  int line = 0, rc = 0, c = 0;
  while (rc == 0 && c != EOF) {
    size_t len = 0;
    line++;
    while ((c = getc(f)) != EOF && c != '\n') {
      if (c == '\0') {
        nl_fail(nl, line, "unexpected NUL byte (not a text file?)");
        rc = -1;
        break;
      }
      if (len + 1 >= cap) {
        size_t ncap = cap ? 2 * cap : 256;
        char *nb = (char *)realloc(buf, ncap);
        if (!nb) {
          nl_fail(nl, line, "out of memory");
          rc = -1;
          break;
        }
        buf = nb;
        cap = ncap;
      }
      buf[len++] = (char)c;
    }
    if (rc) break;
    if (ferror(f)) {
      nl_fail(nl, line, "read error: %s", strerror(errno));
      rc = -1;
      break;
    }
    if (!buf) {
      buf = (char *)malloc(cap = 256);
      if (!buf) {
        nl_fail(nl, line, "out of memory");
        rc = -1;
        break;
      }
    }
    buf[len] = '\0';
    char *hash = strchr(buf, '#');
    if (hash) *hash = '\0';
    len = strlen(buf);
    while (len > 0 && isspace((unsigned char)buf[len - 1])) buf[--len] = '\0';
    rc = nl_parse_line(nl, buf, line);
  }
  free(buf);
  fclose(f);
  /* Signals are numbered by first appearance, so the first undefined one
   * found is the earliest in the file. */
  for (int i = 0; rc == 0 && i < nl->nsigs; i++)
    if (!nl->sigs[i].line) {
      nl_fail(nl, nl->sigs[i].usedat, "signal %s is used but never defined", nl->sigs[i].name);
      rc = -1;
    }
  if (rc == 0 && nl->noutputs == 0) {
    nl_fail(nl, 0, "no OUTPUT declared");
    rc = -1;
  }
  if (rc == 0) rc = nl_make_order(nl);
  return rc;
}

#endif
