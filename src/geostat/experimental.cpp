#include "geostat/experimental.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "cancel.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarn::geostat {

namespace {

struct Bin {
  double sq = 0.0;   // sum of squared value differences
  double sep = 0.0;  // sum of separations
  std::uint64_t cnt = 0;
};

inline void add(std::vector<Bin>& bins, std::size_t k, double d2, double g) {
  Bin& b = bins[k];
  b.sq += d2;
  b.sep += g;
  b.cnt += 1;
}

// q >= 0 here, so truncation is floor. Just below n_lags * lag the quotient can round
// up to n_lags: such a pair joins the last class.
inline std::size_t class_of(double q, double classes_d, std::uint64_t classes) {
  return q < classes_d ? static_cast<std::size_t>(q) : static_cast<std::size_t>(classes - 1);
}

// Separations g, squared value differences and class indices of pairs (i, j) for j in
// [j0, n), branch-free. The per-pair arithmetic is that of the plain loop: g = sqrt(dx *
// dx + dy * dy), q = g / lag, class trunc(q) for q < classes and classes - 1 otherwise
// (SSE2 sqrt and division are correctly rounded like the scalar ones). A pair out of
// reach, or with a non-finite separation, gets a spare slot instead.
void compute_row(const double* __restrict xs, const double* __restrict ys, const double* __restrict zs,
                 double* __restrict gs, double* __restrict d2s, std::int32_t* __restrict ks, std::size_t j0,
                 std::size_t n, double xi, double yi, double zi, double lag, double reach, double classes_d,
                 std::uint64_t classes, std::int32_t spare0) {
  std::size_t j = j0;
#if defined(__SSE2__)
  const __m128d vxi = _mm_set1_pd(xi), vyi = _mm_set1_pd(yi), vzi = _mm_set1_pd(zi);
  const __m128d vlag = _mm_set1_pd(lag), vreach = _mm_set1_pd(reach), vclasses = _mm_set1_pd(classes_d);
  const __m128d vlast = _mm_set1_pd(classes_d - 1.0);  // exact: classes < 2^31 here
  for (; j + 2 <= n; j += 2) {
    const __m128d dx = _mm_sub_pd(vxi, _mm_loadu_pd(xs + j));
    const __m128d dy = _mm_sub_pd(vyi, _mm_loadu_pd(ys + j));
    const __m128d g = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)));
    const __m128d dz = _mm_sub_pd(vzi, _mm_loadu_pd(zs + j));
    const __m128d q = _mm_div_pd(g, vlag);
    _mm_storeu_pd(gs + j, g);
    _mm_storeu_pd(d2s + j, _mm_mul_pd(dz, dz));
    const __m128d in = _mm_cmplt_pd(g, vreach);  // false for NaN
    const __m128d below = _mm_cmplt_pd(q, vclasses);
    __m128d qc = _mm_or_pd(_mm_and_pd(below, q), _mm_andnot_pd(below, vlast));
    qc = _mm_and_pd(in, qc);  // 0 out of reach: always a safe conversion
    const __m128i k = _mm_cvttpd_epi32(qc);
    const __m128i in32 = _mm_shuffle_epi32(_mm_castpd_si128(in), _MM_SHUFFLE(3, 3, 2, 0));
    const __m128i spare = _mm_set_epi32(0, 0, spare0 + static_cast<std::int32_t>((j + 1) & 7),
                                        spare0 + static_cast<std::int32_t>(j & 7));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(ks + j),
                     _mm_or_si128(_mm_and_si128(in32, k), _mm_andnot_si128(in32, spare)));
  }
#endif
  for (; j < n; ++j) {
    const double dx = xi - xs[j];
    const double dy = yi - ys[j];
    const double g = std::sqrt(dx * dx + dy * dy);
    const double dz = zi - zs[j];
    gs[j] = g;
    d2s[j] = dz * dz;
    ks[j] = g < reach ? static_cast<std::int32_t>(class_of(g / lag, classes_d, classes))
                      : spare0 + static_cast<std::int32_t>(j & 7);
  }
}

}  // namespace

Result<ExperimentalVariogram> experimental_variogram(std::span<const std::array<double, 3>> coords, double lag,
                                                     std::uint64_t n_lags) {
  if (coords.size() < 2) return empty_input("experimental_variogram: need at least two data");
  if (!std::isfinite(lag) || !(lag > 0.0) || n_lags == 0)
    return invalid_argument("experimental_variogram: need lag > 0 (finite) and n_lags >= 1");

  const std::size_t n = coords.size();
  const double reach = static_cast<double>(n_lags) * lag;

  // Classes beyond the data's extent can never be hit, so a huge n_lags costs nothing:
  // every |dx| <= xmax - xmin in floating point too (rounding is monotonic), hence
  // g <= gmax and floor(g / lag) <= floor(gmax / lag).
  double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
  for (const auto& r : coords) {
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) continue;
    xmin = std::min(xmin, r[0]);
    xmax = std::max(xmax, r[0]);
    ymin = std::min(ymin, r[1]);
    ymax = std::max(ymax, r[1]);
  }
  std::uint64_t classes = 1;
  if (xmin <= xmax) {
    const double w = xmax - xmin, h = ymax - ymin;
    const double kmax = std::floor(std::sqrt(w * w + h * h) / lag);
    const double n_lags_d = static_cast<double>(n_lags);
    classes = kmax + 1.0 < n_lags_d ? static_cast<std::uint64_t>(kmax) + 1 : n_lags;
  }
  constexpr std::size_t kSpare = 8;  // spare slots, rotated by j & 7
  if (classes > std::vector<Bin>().max_size() - kSpare) throw std::bad_alloc();
  const double classes_d = static_cast<double>(classes);

  // Column copies of the coordinates, and per-row scratch for a first, vectorised pass:
  // separations, squared differences and class indices, with exactly the per-pair
  // operations of the plain loop. The second pass adds them to the
  // classes in pair order, so every sum sees the same terms in the same order.
  // Pairs out of reach go to spare slots past the last class instead of through a
  // branch; the spares rotate over eight slots so that they form no chain of dependent
  // additions. Class indices are 32-bit (what SSE2 converts to), so larger class counts
  // take the plain loop.
  const bool wide = classes > (std::uint64_t{1} << 31) - kSpare - 1;
  std::vector<Bin> bins(static_cast<std::size_t>(classes) + (wide ? 0 : kSpare));
  std::vector<double> xs(n), ys(n), zs(n), gs(n), d2s(n);
  std::vector<std::int32_t> ks(wide ? 0 : n);
  for (std::size_t i = 0; i < n; ++i) {
    xs[i] = coords[i][0];
    ys[i] = coords[i][1];
    zs[i] = coords[i][2];
  }
  const auto spare0 = static_cast<std::int32_t>(wide ? 0 : classes);
  for (std::size_t i = 0; i < n; ++i) {
    if (cancel::poll_n(4 * (n - i))) return cancel::error("experimental_variogram");
    const double xi = xs[i], yi = ys[i], zi = zs[i];
    if (wide) {
      for (std::size_t j = i + 1; j < n; ++j) {
        const double dx = xi - xs[j];
        const double dy = yi - ys[j];
        const double g = std::sqrt(dx * dx + dy * dy);
        if (!(g < reach)) continue;
        const double dz = zi - zs[j];
        add(bins, class_of(g / lag, classes_d, classes), dz * dz, g);
      }
      continue;
    }
    compute_row(xs.data(), ys.data(), zs.data(), gs.data(), d2s.data(), ks.data(), i + 1, n, xi, yi, zi, lag,
                reach, classes_d, classes, spare0);
    for (std::size_t j = i + 1; j < n; ++j) add(bins, static_cast<std::size_t>(ks[j]), d2s[j], gs[j]);
  }

  ExperimentalVariogram ev;
  for (std::size_t k = 0; k < classes; ++k) {
    const Bin& b = bins[k];
    if (b.cnt == 0) continue;
    const double c = static_cast<double>(b.cnt);
    ev.lags.push_back(b.sep / c);
    ev.semivariances.push_back(b.sq / (2.0 * c));
    ev.counts.push_back(b.cnt);
  }
  return ev;
}

}  // namespace quarn::geostat
