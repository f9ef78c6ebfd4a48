"""
P90, P50 and P10 maps
=====================

Forty conditional simulations of a thickness map, reduced node by node to percentile maps.
Under the exceedance convention of reserves reporting, P90 is the low case (the value exceeded
by 90 % of the realizations, the 10th percentile) and P10 the high case (the 90th percentile).
At the wells all three agree: every realization honours the data.
"""
from concurrent.futures import ThreadPoolExecutor

import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt
from quarntools import fields

lat = qt.Lattice(0.0, 0.0, 40.0, 40.0, 60, 50)
heads = qt.place_wells(100.0, 100.0, 2300.0, 1900.0, 9, seed=21)
thick = qt.Sampler.normal(30.0, 6.0).sample_n_seeded(9, 22)
wells = [[x, y, t] for (x, y), t in zip(heads, thick)]
vg = qt.Variogram("spherical", 0.0, 1.0, 900.0)                    # on normal scores


def realization(seed):
    return fields.sgs(wells, lat, vg, 12, 3000.0, seed).values


seeds = qt.spawn_seeds(2026, 40)                                    # one child seed per realization
with ThreadPoolExecutor(2) as pool:                                 # the kernels release the GIL
    stack = np.stack(list(pool.map(realization, seeds)))
p90, p50, p10 = np.percentile(stack, [10, 50, 90], axis=0)        # low, mid, high
assert np.all(p90 <= p50) and np.all(p50 <= p10)

x, y = qt.Field(p50, lat).xy()
wx, wy = np.array(heads).T
fig, axes = plt.subplots(1, 3, figsize=(12, 3.8), sharey=True)
for ax, f, title in zip(axes, (p90, p50, p10), ("P90 (low)", "P50", "P10 (high)")):
    m = ax.pcolormesh(x, y, f, shading="auto", cmap="YlOrBr",
                      vmin=min(thick), vmax=max(thick))
    ax.plot(wx, wy, "k^", ms=5)
    ax.set_title(title)
    ax.set_aspect("equal")
fig.colorbar(m, ax=axes, label="thickness (m)", shrink=0.9)
fig.suptitle("Percentile maps over 40 realizations")
