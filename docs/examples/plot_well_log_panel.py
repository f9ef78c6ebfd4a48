"""
Well-log panel
==============

One synthetic well in five tracks: a zone-stack log over three zones (shale, reservoir,
shale), a facies column, porosity painted on it, and the coupled porosity / net-flag curves of
a calibrated reservoir zone (net where porosity reaches the cutoff) with their running
net-to-gross over 5 m against the zone's target.
"""
import matplotlib.pyplot as plt
import numpy as np

import quarntools as qt

step = 0.25                                                        # m per sample
zones = [qt.ZoneSpec(15.0, 0.06, 0.02, 2.0),                       # thickness, mean, std, corr length
         qt.ZoneSpec(40.0, 0.21, 0.05, 3.0),
         qt.ZoneSpec(15.0, 0.08, 0.03, 2.0)]
stack = np.array(qt.synth_log_series(zones, step, 8, seed=1))
tops = np.cumsum([0] + qt.zone_sample_counts(zones, step))[:-1] * step

n = len(stack)
facies = qt.synth_facies_series(n, step, 0.6, 1.5, seed=2)          # 60 % sand, 1.5 m beds
phi_f = np.array(qt.synth_por_with_facies(facies, step, 0.24, 0.04, 0.06, 0.02, 2.0, seed=3))

spec = qt.PetroZoneSpec(0.55, 0.22, 0.04, 0.06, 0.02, bed_scale_m=1.5, correlation_len_m=2.0)
curves = qt.synth_petro_curves(spec, step, n, seed=4)
phie, flag = np.array(curves["phie"]), np.array(curves["net_flag"])
ntg = np.array(qt.ntg_curve(curves["net_flag"], step, 5.0))
depth = 2400.0 + step * np.arange(n)

fig, axes = plt.subplots(1, 5, figsize=(10, 7), sharey=True)
axes[0].plot(stack, depth, "k-", lw=0.7)
for t in tops[1:]:
    axes[0].axhline(2400.0 + t, color="r", lw=0.8, ls="--")
axes[0].set_title("zone stack")
axes[1].fill_betweenx(depth, 0, facies, step="mid", color="gold")
axes[1].set_xticks([0, 1], ["shale", "sand"])
axes[1].set_title(f"facies (NTG {np.mean(facies):.2f})")
axes[2].plot(phi_f, depth, "b-", lw=0.7)
axes[2].set_title("porosity on facies")
axes[3].fill_betweenx(depth, 0, 0.4 * flag, step="mid", color="gold", alpha=0.5, label="net")
axes[3].plot(phie, depth, "b-", lw=0.6, label="phie")
axes[3].axvline(spec.net_cutoff, color="grey", lw=0.8, ls=":", label="cutoff")
axes[3].set_title("calibrated phie")
axes[3].legend(fontsize=7, loc="lower right")
axes[4].plot(ntg, depth, "g-", lw=1.2)
axes[4].axvline(spec.ntg_target, color="grey", lw=0.8, ls=":")
axes[4].set_title("NTG over 5 m")
for ax, right in zip(axes, (0.4, 1.0, 0.4, 0.4, 1.0)):
    ax.set_xlim(0, right)
axes[0].invert_yaxis()
axes[0].set_ylabel("depth (m)")
fig.suptitle("A synthetic well")
fig.tight_layout()
