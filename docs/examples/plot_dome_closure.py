"""
Dome and closure
================

A synthetic structure (an elliptical dome, a regional tilt and correlated noise) on a rotated
lattice in a world frame, and its closing contour at a spill level. Values are relief above a
datum: the crest is the maximum and the closure holds the nodes above the spill level.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

geo = qt.Georef()                                       # fictional origin 431000 E, 6521000 N
lat = geo.lattice(50.0, 50.0, 90, 70, rotation_deg=20.0)
noise = qt.Variogram("spherical", 0.0, 1.0, 600.0)
buf, shape = qt.synth_dome_surface_flat(lat, 120.0, 1.4, 15.0, 6.0, noise, seed=7)
relief = np.frombuffer(buf, "<f8").reshape(shape)

crest = relief.max()
spill = crest - 70.0
ring = np.array(qt.closure_outline(relief.tolist(), lat, spill))
x, y = ring[:, 0], ring[:, 1]
area = 0.5 * abs(np.dot(x, np.roll(y, -1)) - np.dot(np.roll(x, -1), y))   # shoelace

# World coordinates of every node, for plotting the rotated lattice.
xy = np.array([[lat.node_xy(i, j) for j in range(lat.nrow)] for i in range(lat.ncol)])

fig, ax = plt.subplots(figsize=(7, 5.5))
mesh = ax.pcolormesh(xy[..., 0], xy[..., 1], relief, shading="auto", cmap="terrain")
ax.contour(xy[..., 0], xy[..., 1], relief, levels=np.arange(0.0, crest, 10.0),
           colors="k", linewidths=0.3)
ax.plot(np.append(x, x[0]), np.append(y, y[0]), "r-", lw=2,
        label=f"closure at {spill:.0f} m: {qt.m2_to_km2(area):.2f} km²")
ax.set_aspect("equal")
ax.ticklabel_format(useOffset=False, style="plain")
ax.tick_params(axis="x", labelrotation=30)
ax.set_xlabel("easting (m)")
ax.set_ylabel("northing (m)")
ax.legend(loc="lower right")
fig.colorbar(mesh, ax=ax, label="relief (m)")
ax.set_title("Synthetic dome and its closure")
fig.tight_layout()
