#include "check.hpp"

int main() {
  int failed_cases = 0;
  for (const auto& c : quarn::test::registry()) {
    const int before = quarn::test::failures();
    c.body();
    if (quarn::test::failures() != before) {
      ++failed_cases;
      std::fprintf(stderr, "FAILED: %s\n", c.name);
    }
  }
  const int total = static_cast<int>(quarn::test::registry().size());
  std::printf("%d passed, %d failed\n", total - failed_cases, failed_cases);
  return failed_cases == 0 ? 0 : 1;
}
