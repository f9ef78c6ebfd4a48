#include "interp/interp1d.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "cancel.hpp"
#include "format.hpp"

namespace quarn::interp {
namespace {

constexpr double kPivotEps = 2.220446049250313e-16;

// Key whose signed order is the IEEE total order of the doubles (-0.0 < +0.0).
inline std::int64_t total_key(double v) {
  auto bits = std::bit_cast<std::int64_t>(v);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// Where a query falls among the knots: an exact knot, or the insertion index
// (the number of knots below it).
struct Place {
  bool exact;
  std::size_t index;
};

class Locator {
 public:
  explicit Locator(std::span<const double> x) : keys_(x.size()) {
    for (std::size_t i = 0; i < x.size(); ++i) keys_[i] = total_key(x[i]);
  }

  // The first knot whose key is >= the query's, searched outward from the previous
  // answer: an exponential (galloping) search brackets it in O(log distance) steps and a
  // binary search finishes inside the bracket. The answer is unique, so where the search
  // starts changes no result; sorted queries cost O(1) amortised per query.
  Place find(double q) {
    const std::int64_t key = total_key(q);
    const std::size_t n = keys_.size();
    std::size_t lo = 0, hi = n;  // the answer lies in [lo, hi]
    const std::size_t s = hint_;
    if (s < n && keys_[s] < key) {  // forward: the answer is above s
      lo = s + 1;
      for (std::size_t step = 1; lo + step - 1 < n; step *= 2) {
        const std::size_t probe = lo + step - 1;
        if (keys_[probe] >= key) {
          hi = probe;
          break;
        }
        lo = probe + 1;
      }
    } else if (s > 0 && keys_[s - 1] >= key) {  // backward: the answer is below s
      hi = s - 1;
      for (std::size_t step = 1; step <= hi; step *= 2) {
        const std::size_t probe = hi - step;
        if (keys_[probe] < key) {
          lo = probe + 1;
          break;
        }
        hi = probe;
      }
    } else {
      lo = hi = s;  // the previous answer stands
    }
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (keys_[mid] < key)
        lo = mid + 1;
      else
        hi = mid;
    }
    hint_ = lo;
    return place(lo, key);
  }

 private:
  Place place(std::size_t s, std::int64_t key) const {
    return {s < keys_.size() && keys_[s] == key, s};
  }

  std::vector<std::int64_t> keys_;
  std::size_t hint_ = 0;
};

// Segment of the linear and cubic pieces: the last knot and the right end use the
// last segment, the left end the first.
inline std::size_t segment(Place at, std::size_t n) {
  if (at.exact) return at.index == n - 1 ? n - 2 : at.index;
  if (at.index == 0) return 0;
  if (at.index == n) return n - 2;
  return at.index - 1;
}

}  // namespace

Status validate_knots(std::span<const double> x, std::span<const double> y) {
  if (x.size() != y.size())
    return invalid_argument("x/y length mismatch: " + fmt::num(std::uint64_t{x.size()}) +
                            " != " + fmt::num(std::uint64_t{y.size()}));
  if (x.size() < 2) return empty_input("interp1d requires at least two knots");
  for (double v : x)
    if (!std::isfinite(v)) return invalid_argument("x values must be finite");
  for (double v : y)
    if (!std::isfinite(v)) return invalid_argument("y values must be finite");
  for (std::size_t k = 0; k + 1 < x.size(); ++k)
    if (!(x[k] < x[k + 1])) return invalid_argument("x values must be strictly increasing");
  return ok_status();
}

Result<std::vector<double>> natural_spline_moments(std::span<const double> x, std::span<const double> y) {
  const std::size_t n = x.size();
  std::vector<double> moments(n, 0.0);
  if (n <= 2) return moments;
  const std::size_t m = n - 2;
  std::vector<double> cp(m), dp(m);
  for (std::size_t r = 0; r < m; ++r) {
    const std::size_t k = r + 1;
    const double h0 = x[k] - x[k - 1];
    const double h1 = x[k + 1] - x[k];
    const double a = h0;
    const double b = 2.0 * (h0 + h1);
    const double c = h1;
    const double d = 6.0 * ((y[k + 1] - y[k]) / h1 - (y[k] - y[k - 1]) / h0);
    if (r == 0) {
      if (std::fabs(b) <= kPivotEps) return invalid_geometry("singular spline system");
      cp[0] = m == 1 ? 0.0 : c / b;
      dp[0] = d / b;
      continue;
    }
    const double l = b - cp[r - 1] * a;
    if (std::fabs(l) <= kPivotEps) return invalid_geometry("singular spline system");
    cp[r] = r < m - 1 ? c / l : 0.0;
    dp[r] = (d - a * dp[r - 1]) / l;
  }
  double s = dp[m - 1];
  moments[m] = s;
  for (std::size_t r = m - 1; r-- > 0;) {
    s = dp[r] - s * cp[r];
    moments[r + 1] = s;
  }
  return moments;
}

Result<std::vector<double>> interp1d(std::span<const double> x, std::span<const double> y,
                                     std::span<const double> query, Method method, bool extrapolate) {
  if (auto st = validate_knots(x, y); !st.ok()) return std::move(st).error();
  std::vector<double> mom;
  if (method == Method::NaturalCubic) {
    QUARN_TRY(mm, natural_spline_moments(x, y));
    mom = std::move(mm);
  }
  const std::size_t n = x.size();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Locator locate(x);
  std::vector<double> out(query.size());
  // One loop per method (the choice hoisted out of the per-query work).
  auto run = [&]<Method M>() -> bool {
    for (std::size_t qi = 0; qi < query.size(); ++qi) {
      if ((qi & 4095) == 0 && cancel::poll_n(4096 * 16)) return false;
      const double q = query[qi];
      if (std::isnan(q) || (!extrapolate && (q < x[0] || q > x[n - 1]))) {
        out[qi] = nan;
        continue;
      }
      const Place at = locate.find(q);
      const std::size_t s = at.index;
      double v = 0.0;
      if constexpr (M == Method::NearestKnot) {
        if (at.exact) {
          v = y[s];
        } else if (s == 0) {
          v = y[0];
        } else if (s == n) {
          v = y[n - 1];
        } else {
          const double d_lo = std::fabs(q - x[s - 1]);
          const double d_hi = std::fabs(q - x[s]);
          v = d_hi >= d_lo ? y[s - 1] : y[s];  // a tie goes to the lower knot
        }
      } else if constexpr (M == Method::PreviousKnot) {
        v = at.exact ? y[s] : s == 0 ? y[0] : s == n ? y[n - 1] : y[s - 1];
      } else if constexpr (M == Method::NextKnot) {
        v = at.exact ? y[s] : s == n ? y[n - 1] : y[s];
      } else if constexpr (M == Method::Linear) {
        const std::size_t k = segment(at, n);
        const double t = (q - x[k]) / (x[k + 1] - x[k]);
        v = (y[k + 1] - y[k]) * t + y[k];
      } else {
        const std::size_t k = segment(at, n);
        const double h = x[k + 1] - x[k];
        const double a = (x[k + 1] - q) / h;
        const double b = (q - x[k]) / h;
        v = ((mom[k + 1] * (b * b * b - b) + mom[k] * (a * a * a - a)) * h * h) / 6.0 + (b * y[k + 1] + a * y[k]);
      }
      out[qi] = v;
    }
    return true;
  };
  bool done = false;
  switch (method) {
    case Method::NearestKnot: done = run.template operator()<Method::NearestKnot>(); break;
    case Method::PreviousKnot: done = run.template operator()<Method::PreviousKnot>(); break;
    case Method::NextKnot: done = run.template operator()<Method::NextKnot>(); break;
    case Method::Linear: done = run.template operator()<Method::Linear>(); break;
    case Method::NaturalCubic: done = run.template operator()<Method::NaturalCubic>(); break;
  }
  if (!done) return cancel::error("interp1d");
  return out;
}

}  // namespace quarn::interp
