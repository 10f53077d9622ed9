#include "support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "src/kernel_internal.h"

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

std::string capture_stdout(const std::function<void()> &fn) {
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
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

std::vector<int> current_order() {
  std::vector<int> o((size_t)bdd_varnum());
  for (int l = 0; l < bdd_varnum(); l++) o[(size_t)l] = bdd_level2var(l);
  return o;
}

int live_nodes() {
  bddrefstacktop = bddrefstack;
  bdd_gbc();
  return bdd_getnodenum();
}
