"""
Fields as arrays: closure mask and gross rock volume
====================================================

A structure map as a :class:`quarntools.Field`, a NumPy array on its lattice. The closure ring
becomes a node mask, well positions are sampled from the map, and the gross rock volume is
integrated over the closure for a range of contact depths. The trapped volume grows with the
contact depth up to the spill point; a deeper contact cannot be held (the column would spill
out of the closure), so the curve is dashed beyond it.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt
from quarntools import fields

lat = qt.Lattice(0.0, 0.0, 50.0, 50.0, 81, 71, rotation_deg=10.0)
noise = qt.Variogram("gaussian", 0.0, 1.0, 700.0)
relief = fields.synth_dome_surface(lat, 110.0, 1.5, 25.0, 5.0, noise, seed=4)
top = qt.Field(2500.0 - relief.values, lat)                          # depth of the top, m
spill_relief = relief.values.max() - 55.0
ring = fields.closure_outline(relief, spill_relief)
inside = relief.mask(ring)
spill_depth = 2500.0 - spill_relief

wells = qt.place_wells_in_polygon(ring.tolist(), 5, seed=6)
well_depth = top.sample(wells)                                       # bilinear, as resample reads

# Gross rock volume inside the closure for contacts from the crest down past the spill.
cell = lat.xinc * lat.yinc
contacts = np.linspace(top.values.min(), spill_depth + 30.0, 60)
grv = [cell * np.clip(c - top.values, 0.0, None)[inside].sum() / 1e6 for c in contacts]

x, y = relief.xy()
fig, (ax, ax2) = plt.subplots(1, 2, figsize=(12, 5), gridspec_kw={"width_ratios": [1.2, 1]},
                              layout="constrained")
m = ax.pcolormesh(x, y, top.values, shading="auto", cmap="viridis_r")
ax.contour(x, y, inside.astype(float), levels=[0.5], colors="w", linewidths=1)
ax.plot(*np.vstack([ring, ring[:1]]).T, "r-", lw=1.5, label="closure ring")
for (wx, wy), d in zip(wells, well_depth):
    ax.plot(wx, wy, "k^")
    ax.annotate(f"{d:.0f} m", (wx, wy), xytext=(4, 4), textcoords="offset points", fontsize=8)
ax.set_aspect("equal")
ax.legend(loc="lower right")
ax.set_title(f"top depth; {inside.sum()} nodes inside the closure")
fig.colorbar(m, ax=ax, label="depth (m)")
held = contacts <= spill_depth
ax2.plot(np.array(grv)[held], contacts[held], "k-", label="trapped")
ax2.plot(np.array(grv)[~held], contacts[~held], "k--", lw=0.8, label="beyond the spill point")
ax2.axhline(spill_depth, color="r", ls="--", label=f"spill at {spill_depth:.0f} m")
ax2.invert_yaxis()
ax2.set_xlabel("gross rock volume inside the closure (million m³)")
ax2.set_ylabel("contact depth (m)")
ax2.legend()
