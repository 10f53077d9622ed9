#include "support.h"

std::vector<int> recorded_errors;

void record_errors(int code) { recorded_errors.push_back(code); }

void start_engine(int nodes, int cache, int vars) {
  recorded_errors.clear();
  bdd_init(nodes, cache);
  bdd_error_hook(record_errors);
  bdd_gbc_hook(nullptr);
  if (vars > 0) bdd_setvarnum(vars);
}
