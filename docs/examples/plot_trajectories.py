"""
Trajectories in plan and section
================================

Directional wells from one pad: a vertical well, build-and-hold wells in several azimuths and
an S-shaped build-hold-drop well, positioned by minimum curvature. The plan view shows where
each path goes; the section shows true vertical depth against horizontal displacement, with
the kick-off, build, hold and drop visible as changes of slope.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

pad = [1000.0, 1000.0]
kb = 30.0
wells = {"vertical": qt.synth_trajectory(pad, kb, 2600.0, 25.0, 0)}
for k, az in enumerate((30.0, 150.0, 270.0)):
    wells[f"build-hold {az:.0f}°"] = qt.synth_trajectory_profile(
        pad, kb, 3000.0, 25.0, 0, "build_hold", kickoff_md=500.0 + 150.0 * k,
        build_rate_deg_per_30m=2.5, hold_incl_deg=40.0 + 5.0 * k, azimuth_deg=az)
wells["S-well 210°"] = qt.synth_trajectory_profile(
    pad, kb, 3000.0, 25.0, 0, "build_hold_drop", kickoff_md=400.0, build_rate_deg_per_30m=2.0,
    hold_incl_deg=30.0, azimuth_deg=210.0, drop_start_md=1500.0, drop_rate_deg_per_30m=1.5,
    final_incl_deg=5.0)

fig, (plan, section) = plt.subplots(1, 2, figsize=(11, 5))
for name, tr in wells.items():
    x, y, tvd = np.array(tr["x"]), np.array(tr["y"]), np.array(tr["tvd"])
    dls = qt.max_dogleg_severity(tr["md"], tr["incl"], tr["azim"])
    line, = plan.plot(x, y, lw=1.5, label=f"{name} (DLS max {dls:.1f}°/30 m)")
    plan.plot(x[-1], y[-1], "o", color=line.get_color())
    section.plot(np.hypot(x - pad[0], y - pad[1]), tvd, lw=1.5, color=line.get_color())
plan.plot(*pad, "ks", ms=8)
plan.set_aspect("equal")
plan.set_xlabel("easting (m)")
plan.set_ylabel("northing (m)")
plan.set_title("plan")
plan.legend(fontsize=7, loc="upper left")
section.invert_yaxis()
section.set_xlabel("horizontal displacement from the pad (m)")
section.set_ylabel("TVD below KB (m)")
section.set_title("section")
fig.tight_layout()
