"""
A formula-driven property
=========================

Maps combined by a block of formulas, as a petrophysicist would write them: a gamma-ray map
and a porosity map (both synthetic) give a shale volume, an effective porosity and a net flag.
The block is ordered by its dependencies, so the assignments can be written in any order.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt
from quarntools import fields

lat = qt.Lattice(0.0, 0.0, 30.0, 30.0, 70, 60)
vg = qt.Variogram("gaussian", 0.0, 1.0, 700.0)
trend = fields.synth_trend_map(lat, vg, seed=1)                    # in [0, 1]
phi = fields.synth_isochore(lat, 0.2, 0.04, vg, seed=2)             # mean 0.2, std 0.04

block = [
    "net = if(phie > $cutoff, 1, 0)",
    "phie = phi * (1 - vsh)",
    "vsh = clip((gr - $gr_clean) / ($gr_shale - $gr_clean), 0, 1)",
    "gr = $gr_clean + trend * ($gr_shale - $gr_clean) * 1.2",
]
info = qt.formula_info(block)
params = {"gr_clean": 30.0, "gr_shale": 120.0, "cutoff": 0.1}
# Properties are vectors: the maps go in flattened and come back reshaped.
props = {"trend": trend.values.ravel().tolist(), "phi": phi.values.ravel().tolist()}
out = qt.evaluate_formula(block, props, params)
maps = {k: np.array(out[k]).reshape(lat.ncol, lat.nrow) for k in ("gr", "vsh", "phie", "net")}

x, y = trend.xy()
fig, axes = plt.subplots(1, 4, figsize=(13, 3.4), sharey=True)
for ax, (name, cmap) in zip(axes, (("gr", "Greens"), ("vsh", "copper_r"), ("phie", "viridis"),
                                   ("net", "cividis"))):
    m = ax.pcolormesh(x, y, maps[name], shading="auto", cmap=cmap)
    ax.set_title(name)
    ax.set_aspect("equal")
    fig.colorbar(m, ax=ax, shrink=0.8)
fig.suptitle("evaluation order: " + " → ".join(info["order"]) +
             f"; net-to-gross {maps['net'].mean():.2f}")
