#include "geostat/fit.hpp"

#include <algorithm>
#include <cmath>

#include "cancel.hpp"

namespace quarn::geostat {

double fit_shape(VariogramModel model, double h, double a) {
  const double r = h / a;
  switch (model) {
    case VariogramModel::Nugget:
      return 0.0;
    case VariogramModel::Spherical:
      if (r >= 1.0) return 1.0;
      return 1.5 * r - 0.5 * (r * r * r);
    case VariogramModel::Exponential:
      return 1.0 - std::exp(-3.0 * r);
    case VariogramModel::Gaussian:
      return 1.0 - std::exp(-3.0 * (r * r));
  }
  return 0.0;
}

SillFit fit_sills(VariogramModel model, const ExperimentalVariogram& ev, double range, std::vector<double>& shapes) {
  const std::size_t n = ev.size();
  shapes.resize(n);
  double sw = 0.0, sws = 0.0, sws2 = 0.0, swy = 0.0, swsy = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double s = fit_shape(model, ev.lags[k], range);
    shapes[k] = s;
    const double w = static_cast<double>(ev.counts[k]);
    const double y = ev.semivariances[k];
    sw += w;
    sws += w * s;
    sws2 += w * (s * s);
    swy += w * y;
    swsy += w * s * y;
  }

  struct Candidate {
    double c0, c;
  };
  Candidate cands[4];
  int nc = 0;
  const double det = sws2 * sw - sws * sws;
  if (std::fabs(det) > 1e-300) cands[nc++] = {(sws2 * swy - sws * swsy) / det, (sw * swsy - sws * swy) / det};
  if (sws2 > 0.0) cands[nc++] = {0.0, swsy / sws2};
  if (sw > 0.0) cands[nc++] = {swy / sw, 0.0};
  cands[nc++] = {0.0, 0.0};

  SillFit best{0.0, 0.0, 0.0};
  bool have = false;
  for (int i = 0; i < nc; ++i) {
    Candidate cd = cands[i];
    if (cd.c0 < -1e-12 || cd.c < -1e-12) continue;
    if (cd.c0 < 0.0) cd.c0 = 0.0;
    if (cd.c < 0.0) cd.c = 0.0;
    double sse = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      const double e = cd.c0 + cd.c * shapes[k] - ev.semivariances[k];
      sse += static_cast<double>(ev.counts[k]) * (e * e);
    }
    if (!have || sse < best.sse) {
      best = {cd.c0, cd.c, sse};
      have = true;
    }
  }
  return best;
}

namespace {

struct RangeFit {
  double range;
  SillFit fit;
  bool found;
};

// First strictly smallest SSE over a_j = j * span / (count - 1) + lo, skipping a_j <= 0.
RangeFit search(VariogramModel model, const ExperimentalVariogram& ev, double lo, double span, int count,
                std::vector<double>& shapes) {
  RangeFit best{0.0, {0.0, 0.0, 0.0}, false};
  const double last = static_cast<double>(count - 1);
  for (int j = 0; j < count; ++j) {
    const double a = static_cast<double>(j) * span / last + lo;
    if (!(a > 0.0)) continue;
    if (cancel::poll_n(16 * ev.size())) break;  // the caller reports it
    const SillFit f = fit_sills(model, ev, a, shapes);
    if (!best.found || f.sse < best.fit.sse) best = {a, f, true};
  }
  return best;
}

}  // namespace

Result<Variogram> fit_variogram(VariogramModel model, const ExperimentalVariogram& ev) {
  if (ev.size() == 0) return empty_input("Variogram::fit: empty experimental variogram");
  double hmax = 0.0;
  for (const double h : ev.lags)
    if (h > hmax) hmax = h;

  if (model == VariogramModel::Nugget) {
    double swy = 0.0, sw = 0.0;
    for (std::size_t k = 0; k < ev.size(); ++k) {
      const double w = static_cast<double>(ev.counts[k]);
      swy += w * ev.semivariances[k];
      sw += w;
    }
    const double nugget = sw != 0.0 ? swy / sw : 0.0;
    return Variogram::make(model, nugget, 0.0, std::max(hmax, 1.0));
  }

  std::vector<double> shapes;
  const double span = 2.0 * hmax - hmax / 50.0;
  RangeFit best = search(model, ev, hmax / 50.0, span, 400, shapes);
  if (best.found) {
    const double t = best.range;
    const double step = span / 399.0;
    const double lo = std::max(t - step, hmax / 100.0);
    const double hi = t + step;
    const RangeFit fine = search(model, ev, lo, hi - lo, 100, shapes);
    if (fine.found && fine.fit.sse < best.fit.sse) best = fine;
  } else {
    // Every lag is 0: no range is distinguishable, evaluate at the floor.
    best = {1e-9, fit_sills(model, ev, 1e-9, shapes), true};
  }
  if (cancel::stopped()) return cancel::error("Variogram::fit");
  double range = best.range;
  if (!(range > 1e-9)) range = 1e-9;
  return Variogram::make(model, best.fit.nugget, best.fit.sill, range);
}

}  // namespace quarn::geostat
