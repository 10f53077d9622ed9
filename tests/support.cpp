#include "support.h"

#include <stdlib.h>

std::vector<int> recorded_errors;

void record_errors(int code) { recorded_errors.push_back(code); }

void start_engine(int nodes, int cache, int vars) {
  recorded_errors.clear();
  bdd_init(nodes, cache);
  bdd_error_hook(record_errors);
  bdd_gbc_hook(nullptr);
  if (vars > 0) bdd_setvarnum(vars);
}

std::string capture(const std::function<void(FILE *)> &fn) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  fn(f);
  fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

std::string shape(BddTree *t) {
  std::string s;
  for (; t != nullptr; t = t->next) {
    s += "[" + std::to_string(t->first) + "-" + std::to_string(t->last);
    if (t->child != nullptr) s += "{" + shape(t->child) + "}";
    s += "]";
  }
  return s;
}
