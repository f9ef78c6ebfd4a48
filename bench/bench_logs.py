"""Synthetic logs against numpy/scipy re-implementations of the same models.

Run: PYTHONPATH=build/dev/pkg .venv-bench/bin/python bench/bench_logs.py

1. Moment-matched transform: ZoneSpec construction (the nested bisection) for 100 random
   targets against scipy.optimize.root on the same 256-node quadrature.
2. synth_log_series, 10 zones, 10^6 samples, against numpy normals + scipy.signal.lfilter + expit.
3. synth_petro_curves: calibration (n_samples = 1) against scipy.optimize.root on
   scipy.integrate.quad cutoff moments, then drawing 10^6 samples.
Agreement is checked before any time is printed; tolerances are written beside each check.
"""
import statistics
import time

import numpy as np
from scipy import integrate, optimize, signal, special, stats

import quarntools as qt
import quarntools.arrays as qta
from timing import best

NODES = stats.norm.ppf((np.arange(256) + 0.5) / 256)


def peer_transform(mean, std):
    """(location, scale) of the logit-normal with these quadrature moments."""
    def eq(p):
        y = special.expit(NODES * p[1] + p[0])
        return [y.mean() - mean, y.var() - std * std]
    sol = optimize.root(eq, [special.logit(mean), 4 * std / (mean * (1 - mean))], method="hybr", tol=1e-14)
    return sol.x[0], abs(sol.x[1])  # z is symmetric: the sign of the scale is free


def recovered_transform(mean, std, seed):
    """Our (location, scale) read back from a white-noise log: logit(y) = scale z + location."""
    y = np.array(qt.synth_log_series([qt.ZoneSpec(200_000, mean, std, 1e-3)], 1.0, 0, seed))
    u = special.logit(y)
    return u.mean(), u.std()


def bench_transform():
    rng = np.random.default_rng(1)
    targets = []
    for _ in range(100):
        m = rng.uniform(0.02, 0.98)
        targets.append((m, rng.uniform(0.005, 0.9) * np.sqrt(m * (1 - m))))
    # agreement: recovered parameters within sampling error of the peer's solution
    for m, s in targets[:5]:
        f_peer, s_peer = peer_transform(m, s)
        f_ours, s_ours = recovered_transform(m, s, 3)
        assert abs(s_ours - s_peer) < 0.01 * s_peer, (m, s, s_ours, s_peer)       # 1 % of scale
        assert abs(f_ours - f_peer) < 0.01 * s_peer + 1e-3, (m, s, f_ours, f_peer)
    ours, peer = [], []
    for m, s in targets:
        t = time.perf_counter()
        qt.ZoneSpec(10, m, s, 1)
        ours.append(time.perf_counter() - t)
        t = time.perf_counter()
        peer_transform(m, s)
        peer.append(time.perf_counter() - t)
    mo, mp = statistics.median(ours), statistics.median(peer)
    print(f"ZoneSpec (transform solve), 100 targets: median {mo*1e3:6.2f} ms, worst {max(ours)*1e3:6.2f} ms")
    print(f"scipy.optimize.root on the quadrature:   median {mp*1e3:6.2f} ms, worst {max(peer)*1e3:6.2f} ms"
          f"   (peer/quarntools median = {mp/mo:.2f}x)")


def peer_log_series(zones, step, seed):
    rng = np.random.default_rng(seed)
    counts = qt.zone_sample_counts(zones, step)
    d = rng.standard_normal(sum(counts))
    out, prev, i = np.empty_like(d), None, 0
    for z, n in zip(zones, counts):
        rho = min(np.exp(-step / z.corr_length_m), 0.999999999)
        g = np.sqrt(1 - rho * rho)
        x = d[i:i + n] * g
        if prev is None:
            x[0] = d[0]
            zz = signal.lfilter([1.0], [1.0, -rho], x)
        else:
            zz = signal.lfilter([1.0], [1.0, -rho], x, zi=[rho * prev])[0]
        f, s = peer_transform(z.mean, z.std)
        out[i:i + n] = special.expit(zz * s + f)
        prev, i = zz[-1], i + n
    return out


def bench_log_series():
    rng = np.random.default_rng(2)
    zones = []
    for _ in range(10):
        m = rng.uniform(0.05, 0.5)
        zones.append(qt.ZoneSpec(10_000, m, rng.uniform(0.1, 0.5) * np.sqrt(m * (1 - m)), rng.uniform(0.05, 0.5)))
    step = 0.1
    tq, y = best(lambda: qt.synth_log_series(zones, step, 5, 7))  # the call, list of floats included
    y = np.array(y)
    tp, ref = best(lambda: peer_log_series(zones, step, 7))
    assert len(y) == len(ref) == 1_000_000
    for k, z in enumerate(zones):  # both hit every zone's target within 5 % of its std
        part = slice(k * 100_000, (k + 1) * 100_000)
        for arr in (y, ref):
            assert abs(arr[part].mean() - z.mean) < 0.05 * z.std and abs(arr[part].std() - z.std) < 0.05 * z.std
    tt, _ = best(lambda: [qt.ZoneSpec(z.thickness_m, z.mean, z.std, z.corr_length_m) for z in zones])
    print(f"synth_log_series 10 zones, 10^6 samples: {tq*1e3:8.1f} ms   (of which 10 transform solves {tt*1e3:.1f} ms)")
    print(f"numpy + lfilter + expit (same model):    {tp*1e3:8.1f} ms   (peer/quarntools = {tp/tq:.2f}x)")
    ta, ya = best(lambda: qta.synth_log_series(zones, step, 5, 7))  # array out, the same bits
    assert ya.tobytes() == y.tobytes()
    print(f"  arrays out (quarntools.arrays):         {ta*1e3:8.1f} ms   (peer/quarntools = {tp/ta:.2f}x)")


def cutoff_moments_quad(f, s, c):
    zs = (np.log(c / (1 - c)) - f) / s
    y = lambda z: special.expit(s * z + f)
    m1 = integrate.quad(lambda z: y(z) * stats.norm.pdf(z), zs, np.inf, epsabs=1e-13)[0]
    m2 = integrate.quad(lambda z: y(z) ** 2 * stats.norm.pdf(z), zs, np.inf, epsabs=1e-13)[0]
    return stats.norm.sf(zs), m1, m2


def peer_petro(zone):
    f0, s0 = peer_transform(zone.nonnet_por_mean, zone.nonnet_por_std)
    psh, a1, a2 = cutoff_moments_quad(f0, s0, zone.net_cutoff)

    def eq(p):
        ps, b1, b2 = cutoff_moments_quad(p[0], p[1], zone.net_cutoff)
        pi = (zone.ntg_target - psh) / (ps - psh)
        mu = ((1 - pi) * a1 + pi * b1) / zone.ntg_target
        q = ((1 - pi) * a2 + pi * b2) / zone.ntg_target
        return [mu - zone.net_por_mean, np.sqrt(max(q - mu * mu, 0)) - zone.net_por_std]

    sol = optimize.root(eq, list(peer_transform(zone.net_por_mean, zone.net_por_std)), method="hybr")
    assert sol.success
    return sol.x


def bench_petro():
    zone = qt.PetroZoneSpec(0.3, 0.2, 0.05, 0.05, 0.02, 2.0, 1.0)
    tc, _ = best(lambda: qt.synth_petro_curves(zone, 0.1, 1, 5), repeat=5)
    tp, _ = best(lambda: peer_petro(zone), repeat=3)
    td, out = best(lambda: qt.synth_petro_curves(zone, 0.1, 1_000_000, 5))
    phie, flag = np.array(out["phie"]), np.array(out["net_flag"])
    net = phie[flag == 1]
    # the realised curves meet the targets within sampling error (relative 3 %)
    assert abs(flag.mean() - 0.3) < 0.03 * 0.3
    assert abs(net.mean() - 0.2) < 0.03 * 0.2 and abs(net.std() - 0.05) < 0.03 * 0.05
    print(f"synth_petro_curves calibration (n=1):    {tc*1e3:8.2f} ms")
    print(f"scipy root on quad cutoff moments:        {tp*1e3:8.2f} ms   (peer/quarntools = {tp/tc:.1f}x)")
    print(f"synth_petro_curves 10^6 samples:          {td*1e3:8.1f} ms (calibration + drawing + lists)")
    ta, arr = best(lambda: qta.synth_petro_curves(zone, 0.1, 1_000_000, 5))
    assert arr["phie"].tobytes() == phie.tobytes() and arr["net_flag"].tolist() == out["net_flag"]
    print(f"  arrays out (quarntools.arrays):         {ta*1e3:8.1f} ms")


def bench_ntg():
    flag = qt.synth_facies_series(1_000_000, 0.1, 0.4, 1.0, 3)
    tq, out = best(lambda: qt.ntg_curve(flag, 0.1, 20.0))
    a = np.array(flag, float)
    k = np.ones(201)
    tp, ref = best(lambda: np.convolve(a, k, "same") / np.convolve(np.ones_like(a), k, "same"))
    assert np.max(np.abs(np.array(out) - ref)) < 1e-12
    print(f"ntg_curve 10^6 samples, 201-sample window: {tq*1e3:7.1f} ms")
    print(f"numpy.convolve ratio:                      {tp*1e3:7.1f} ms   (peer/quarntools = {tp/tq:.2f}x)")
    fa = np.array(flag, np.int64)
    ta, arr = best(lambda: qta.ntg_curve(fa, 0.1, 20.0))  # int64 array in, array out
    assert arr.tolist() == out
    print(f"  arrays in and out (quarntools.arrays):   {ta*1e3:7.1f} ms   (peer/quarntools = {tp/ta:.2f}x)")
    tf, fl = best(lambda: qta.synth_facies_series(1_000_000, 0.1, 0.4, 1.0, 3))
    tl, _ = best(lambda: qt.synth_facies_series(1_000_000, 0.1, 0.4, 1.0, 3))
    assert fl.tolist() == flag
    print(f"synth_facies_series 10^6: list {tl*1e3:7.1f} ms | array (quarntools.arrays) {tf*1e3:7.1f} ms")
    tpl, _ = best(lambda: qt.synth_por_with_facies(flag, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4))
    tpa, _ = best(lambda: qta.synth_por_with_facies(fl, 0.1, 0.25, 0.04, 0.08, 0.02, 1.0, 4))
    print(f"synth_por_with_facies 10^6: lists {tpl*1e3:7.1f} ms | arrays in and out {tpa*1e3:7.1f} ms")


if __name__ == "__main__":
    bench_transform()
    bench_log_series()
    bench_petro()
    bench_ntg()
