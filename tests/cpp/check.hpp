// tests/cpp/check.hpp: a minimal test registry for core internals.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace quarn::test {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}
inline int& failures() {
  static int n = 0;
  return n;
}

struct Register {
  Register(const char* name, std::function<void()> body) { registry().push_back({name, std::move(body)}); }
};

}  // namespace quarn::test

#define QT_CONCAT2(a, b) a##b
#define QT_CONCAT(a, b) QT_CONCAT2(a, b)
#define TEST_CASE(name)                                                                   \
  static void QT_CONCAT(test_fn_, __LINE__)();                                            \
  static ::quarn::test::Register QT_CONCAT(test_reg_, __LINE__)(name, QT_CONCAT(test_fn_, __LINE__)); \
  static void QT_CONCAT(test_fn_, __LINE__)()

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++::quarn::test::failures();                                             \
    }                                                                          \
  } while (0)

#define CHECK_EQ(a, b)                                                                     \
  do {                                                                                     \
    const auto& qt_a_ = (a);                                                               \
    const auto& qt_b_ = (b);                                                               \
    if (!(qt_a_ == qt_b_)) {                                                               \
      std::fprintf(stderr, "%s:%d: CHECK_EQ failed: %s == %s\n", __FILE__, __LINE__, #a, #b); \
      ++::quarn::test::failures();                                                         \
    }                                                                                      \
  } while (0)
