"""
Volumetrics S-curve
===================

Stock-tank oil initially in place over 300 realizations. The gross rock volume is integrated
over the grid, node by node inside the closure, between the top structure and an oil-water
contact, capped by the reservoir thickness. The contact is drawn per realization between 20 m
below the crest and the spill point (a deeper contact cannot be trapped), and so are the
net-to-gross, porosity, water saturation and formation volume factor:

.. math::

   \\text{STOIIP} = A \\sum_\\text{closure} \\min\\bigl(h, \\max(0, \\text{OWC} - d_\\text{top})\\bigr)
   \\;\\text{NTG}\\,\\phi\\,(1 - S_w) / B_o .

The exceedance curve reads P90 (low case, exceeded by 90 % of the realizations) at the 10th
percentile and P10 (high case) at the 90th.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt
from quarntools import fields

lat = qt.Lattice(0.0, 0.0, 50.0, 50.0, 81, 81)
noise = qt.Variogram("gaussian", 0.0, 1.0, 800.0)
relief = fields.synth_dome_surface(lat, 100.0, 1.3, 10.0, 4.0, noise, seed=5)
top = 2500.0 - relief.values                                        # depth of the top, m TVDSS
spill_relief = relief.values.max() - 60.0
inside = relief.mask(fields.closure_outline(relief, spill_relief))  # nodes in the closure
crest, spill = top.min(), 2500.0 - spill_relief
cell_area = lat.xinc * lat.yinc
thickness = 35.0                                                    # m, reservoir interval

n = 300
owc = qt.Sampler.uniform(crest + 20.0, spill).sample_n_seeded(n, 1)
ntg = qt.Sampler.triangular(0.5, 0.65, 0.8).sample_n_seeded(n, 2)
phi = qt.Sampler.truncated_normal(0.22, 0.03, 0.12, 0.3).sample_n_seeded(n, 3)
sw = qt.Sampler.normal(0.3, 0.05).clamped(0.15, 0.5).sample_n_seeded(n, 4)
bo = qt.Sampler.uniform(1.15, 1.35).sample_n_seeded(n, 5)

# Gross rock volume per realization: the oil column at each node of the closure, summed.
grv = np.array([np.sum(np.clip(c - top[inside], 0.0, thickness)) * cell_area for c in owc])
stoiip = grv * np.array(ntg) * np.array(phi) * (1 - np.array(sw)) / np.array(bo)
s = qt.reservoir_summary(stoiip.tolist())

vals = np.sort(stoiip) / 1e6
exceed = 1.0 - (np.arange(n) + 0.5) / n                             # fraction of cases above
fig, ax = plt.subplots(figsize=(7, 4.5))
ax.plot(vals, exceed * 100, "k-")
for p, v, c in (("P90", s.p90, "tab:red"), ("P50", s.p50, "tab:blue"), ("P10", s.p10, "tab:green")):
    ax.axvline(v / 1e6, color=c, ls="--", label=f"{p} = {qt.format_volume(v)}")
ax.set_xlabel("STOIIP (million Sm³)")
ax.set_ylabel("probability of exceeding (%)")
ax.set_ylim(0, 100)
ax.legend()
ax.set_title(f"STOIIP over {n} realizations (mean {qt.format_volume(s.mean)})")
fig.tight_layout()
