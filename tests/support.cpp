#include "support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>

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

bool slow_prime(unsigned n) {
  if (n < 2) return false;
  for (unsigned long long d = 2; d * d <= n; d++)
    if (n % d == 0) return false;
  return true;
}

unsigned odd_prime_gte(unsigned n) {
  unsigned long long c = n < 3 ? 3 : n;
  while (!(c % 2 == 1 && slow_prime((unsigned)c))) c++;
  return (unsigned)c;
}

unsigned odd_prime_lte(unsigned n) {
  long long c = n;
  while (c >= 3 && !(c % 2 == 1 && slow_prime((unsigned)c))) c--;
  return (unsigned)c;
}

std::vector<std::string> events;
void rec_reorder(int pre) { events.push_back(pre ? "R1" : "R0"); }

void check_blocks(BddTree *t, bool lists_in_level_order) {
  for (BddTree *b = t; b != nullptr; b = b->next) {
    int n = b->last - b->first + 1;
    int top = bdd_var2level(b->seq[0]);
    std::set<int> vars;
    for (int i = 0; i < n; i++) {
      ASSERT_EQ(bdd_var2level(b->seq[i]), top + i) << "block " << b->id;
      vars.insert(b->seq[i]);
    }
    ASSERT_EQ((int)vars.size(), n);
    ASSERT_EQ(*vars.begin(), b->first);
    ASSERT_EQ(*vars.rbegin(), b->last);
    if (b->next != nullptr) {
      if (lists_in_level_order) {
        ASSERT_LT(bdd_var2level(b->seq[n - 1]), bdd_var2level(b->next->seq[0]));
      }
      ASSERT_EQ(b->next->prev, b);
    }
    check_blocks(b->child, lists_in_level_order);
  }
}

