"""
Variogram fit
=============

An experimental semivariogram of scattered data, with the four model shapes fitted to it by
pair-count weighted least squares. The data are one simulated field sampled at random
locations, so the true continuity is known: a spherical model with a range of 600 m and a
sill of 9 (a standard deviation of 3).
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

lat = qt.Lattice(0.0, 0.0, 25.0, 25.0, 81, 81)
truth = qt.Variogram("spherical", 0.0, 1.0, 600.0)
# An unconditional simulation (mean 20, standard deviation 3, that variogram), sampled at
# 250 random nodes.
buf, shape = qt.synth_isochore_flat(lat, 20.0, 3.0, truth, seed=3)
field = np.frombuffer(buf, "<f8").reshape(shape)
pick = np.random.default_rng(5).integers(0, 81, size=(250, 2))
coords = [[*lat.node_xy(int(i), int(j)), float(field[i, j])] for i, j in pick]

ev = qt.experimental_variogram(coords, lag=50.0, n_lags=24)
h = np.linspace(0.0, 1200.0, 241)

fig, ax = plt.subplots(figsize=(7, 4.5))
ax.scatter(ev.lags, ev.semivariances, s=12 + 60 * np.array(ev.counts) / max(ev.counts),
           color="k", label="experimental (size ~ pairs)", zorder=3)
for name, style in (("spherical", "-"), ("exponential", "--"), ("gaussian", ":"), ("nugget", "-.")):
    m = qt.Variogram.fit(name, ev)
    # gamma(h) = nugget + sill * f(h / range), evaluated with the fitted parameters.
    r = h / m.range
    f = {"spherical": np.where(r < 1, 1.5 * r - 0.5 * r**3, 1.0),
         "exponential": 1 - np.exp(-3 * r), "gaussian": 1 - np.exp(-3 * r**2),
         "nugget": np.zeros_like(r)}[name]
    gamma = np.where(h > 0, m.nugget + m.sill * f, 0.0)
    ax.plot(h, gamma, style, label=f"{name}: nugget {m.nugget:.2f}, sill {m.sill:.2f}, "
                                   f"range {m.range:.0f} m")
ax.set_xlabel("separation h (m)")
ax.set_ylabel("semivariance")
ax.set_xlim(0, 1200)
ax.set_ylim(0, None)
ax.legend(fontsize=8, loc="lower right")
ax.set_title("Experimental variogram and fitted models")
fig.tight_layout()
