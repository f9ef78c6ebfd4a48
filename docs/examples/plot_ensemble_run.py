"""
An ensemble run
===============

One hundred realizations of a porosity map run in parallel, each from its own seed, and
reduced as they arrive: a running mean and standard deviation per node, and the field-average
porosity of each realization. The kernels release the interpreter lock, so threads give real
parallelism; every realization is bit-identical to its serial run.
"""
from concurrent.futures import ThreadPoolExecutor

import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

lat = qt.Lattice(0.0, 0.0, 40.0, 40.0, 50, 40)
heads = qt.place_wells(0.0, 0.0, 1960.0, 1560.0, 8, seed=31)
wells = [[x, y, v] for (x, y), v in zip(heads, qt.Sampler.normal(0.2, 0.03).sample_n_seeded(8, 32))]
vg = qt.Variogram("exponential", 0.0, 1.0, 800.0)
seeds = [(7 + k * 0x9E3779B97F4A7C15) % 2**64 for k in range(100)]   # one seed per member


def member(seed):
    buf, shape = qt.sgs_flat(wells, lat, vg, 12, 2500.0, seed)
    return np.frombuffer(buf, "<f8").reshape(shape)


# Welford's running mean and variance, updated in member order.
count, mean, m2, averages = 0, np.zeros((lat.ncol, lat.nrow)), np.zeros((lat.ncol, lat.nrow)), []
with ThreadPoolExecutor(2) as pool:
    for f in pool.map(member, seeds):
        count += 1
        delta = f - mean
        mean += delta / count
        m2 += delta * (f - mean)
        averages.append(f.mean())
std = np.sqrt(m2 / (count - 1))

g = np.array([[lat.node_xy(i, j) for j in range(lat.nrow)] for i in range(lat.ncol)])
wx, wy = np.array(heads).T
fig, axes = plt.subplots(1, 3, figsize=(13, 3.8))
for ax, f, title, cmap in ((axes[0], mean, "mean of 100 members", "viridis"),
                           (axes[1], std, "standard deviation", "magma")):
    m = ax.pcolormesh(g[..., 0], g[..., 1], f, shading="auto", cmap=cmap)
    ax.plot(wx, wy, "w^", mec="k")
    ax.set_aspect("equal")
    ax.set_title(title)
    fig.colorbar(m, ax=ax, shrink=0.85)
axes[2].hist(averages, bins=20, color="grey")
axes[2].set_xlabel("field-average porosity")
axes[2].set_title("one value per member")
fig.tight_layout()
