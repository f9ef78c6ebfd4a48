"""
Kriging versus simulation
=========================

The same twelve wells mapped two ways. Ordinary kriging gives the smoothest map consistent
with the data and a kriging variance that grows away from them; sequential Gaussian simulation
gives maps that honour the same data and reproduce the variogram's roughness. Each simulation
is one equally likely outcome; only their spread carries the uncertainty.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt
from quarntools import fields

lat = qt.Lattice(0.0, 0.0, 25.0, 25.0, 80, 60)
heads = qt.place_wells(0.0, 0.0, 1975.0, 1475.0, 12, seed=11)
values = qt.Sampler.normal(0.22, 0.03).sample_n_seeded(12, 12)     # porosity at the wells
wells = [[x, y, v] for (x, y), v in zip(heads, values)]
vg = qt.Variogram("spherical", 0.0, float(np.var(values)), 700.0)

est, var = fields.local_kriging(wells, lat, vg, 12, 3000.0)         # Fields: arrays on the lattice
sims = [fields.sgs(wells, lat, vg, 12, 3000.0, seed) for seed in (1, 2)]

x, y = est.xy()                                                     # world position of every node
wx, wy = np.array(heads).T
lo, hi = min(values), max(values)
fig, axes = plt.subplots(2, 2, figsize=(9, 7), sharex=True, sharey=True)
panels = [(est, "kriged estimate", "viridis", (lo, hi)), (var, "kriging variance", "magma", (None, None)),
          (sims[0], "simulation, seed 1", "viridis", (lo, hi)), (sims[1], "simulation, seed 2", "viridis", (lo, hi))]
for ax, (f, title, cmap, (vmin, vmax)) in zip(axes.flat, panels):
    m = ax.pcolormesh(x, y, f.values, shading="auto", cmap=cmap, vmin=vmin, vmax=vmax)
    ax.plot(wx, wy, "w^", mec="k", ms=6)
    ax.set_title(title)
    ax.set_aspect("equal")
    fig.colorbar(m, ax=ax, shrink=0.8)
fig.suptitle("Ordinary kriging and sequential Gaussian simulation of porosity")
fig.tight_layout()
