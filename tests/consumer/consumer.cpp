// A C++ program built against an installed Corvane, through corvane.hpp.
#include <cache.h>
#include <corvane/corvane.hpp>
#include <io.h>
#include <kernel.h>

#include <cstdio>
#include <sstream>

#if !defined(CONSUMER_OWN_KERNEL) || !defined(CONSUMER_OWN_IO) || !defined(CONSUMER_OWN_CACHE)
#error "an installed Corvane header shadowed one of the consumer's own"
#endif

int main() {
  corvane::Engine engine(1000, 100, 3);
  corvane::Bdd x = corvane::ithvar(0), y = corvane::ithvar(1), z = corvane::ithvar(2);
  corvane::Bdd maj = (x & y) | (z & (x | y));
  std::ostringstream text;
  maj.save(text);
  std::istringstream in(text.str());
  bool same = corvane::Bdd::load(in) == maj;
  int code = 0;
  try {
    corvane::ithvar(3);
  } catch (const corvane::Error &e) {
    code = e.code();
  }
  if (maj.satcount() != 4.0 || !same || code != BDD_ERR_UNKNOWN_VAR) {
    std::fprintf(stderr, "c++ consumer: %.0f assignments, reload %s, error code %d\n", maj.satcount(),
                 same ? "same" : "different", code);
    return 1;
  }
  std::printf("c++ consumer: ok\n");
  return 0;
}
