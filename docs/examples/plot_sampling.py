"""
Bounded distributions
=====================

Two ways to keep a porosity inside [0.10, 0.30]. A truncated normal reshapes the density onto
the interval (renormalised, nothing at the bounds); clamping a normal snaps every draw outside
the interval onto the nearest bound, so probability mass piles up at 0.10 and 0.30.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

n = 20000
truncated = qt.Sampler.truncated_normal(0.22, 0.06, 0.10, 0.30).sample_n_seeded(n, 1)
clamped = qt.Sampler.normal(0.22, 0.06).clamped(0.10, 0.30).sample_n_seeded(n, 1)
tri = qt.Sampler.triangular(0.10, 0.24, 0.30).sample_n_seeded(n, 2)

bins = np.linspace(0.09, 0.31, 45)
fig, ax = plt.subplots(figsize=(7, 4))
ax.hist(truncated, bins, histtype="step", lw=1.5, density=True, label="truncated normal")
ax.hist(clamped, bins, histtype="step", lw=1.5, density=True, label="clamped normal")
ax.hist(tri, bins, histtype="step", lw=1.5, density=True, label="triangular 0.10 / 0.24 / 0.30")
at_bounds = np.mean((np.array(clamped) == 0.10) | (np.array(clamped) == 0.30))
ax.set_xlabel("porosity")
ax.set_ylabel("density")
ax.set_title(f"{n} draws each; {at_bounds:.1%} of the clamped draws sit on a bound")
ax.legend()
fig.tight_layout()
