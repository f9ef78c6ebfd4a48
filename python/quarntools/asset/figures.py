"""Figures of an asset (matplotlib, the ``[plot]`` extra): depth map, well logs, porosity maps
and volumetrics."""
from __future__ import annotations

import os

import numpy as np

from ..field import Field
from ..io._deps import require
from . import geoscience as gs
from .build import ZONE_BELOW, ZONE_CAP, ZONE_RESERVOIR, Asset


_ZONE_COLOURS = {ZONE_CAP: "#bdbdbd", ZONE_RESERVOIR: "#f6d55c", ZONE_BELOW: "#9e9e9e"}


def _plt():
    mpl = require("matplotlib", "figures")
    mpl.use("Agg", force=True)
    return require("matplotlib.pyplot", "figures")


def _frame(ax) -> None:
    ax.set_aspect("equal")
    ax.ticklabel_format(useOffset=False, style="plain")
    ax.tick_params(axis="x", labelrotation=30)
    ax.set_xlabel("Easting (m)")
    ax.set_ylabel("Northing (m)")


def _place_labels(ax, points, texts, fig, **kw) -> None:
    """Label each point, trying eight offsets in turn so that no label box overlaps an earlier
    label or another labelled point."""
    renderer = fig.canvas.get_renderer()
    offsets = [(6, 6), (6, -12), (-6, 6), (-6, -12), (10, -3), (-10, -3), (0, 12), (0, -16)]
    taken = []
    pts_px = [ax.transData.transform(p) for p in points]
    for k, (p, t) in enumerate(zip(points, texts)):
        for dx, dy in offsets:
            ann = ax.annotate(t, p, xytext=(dx, dy), textcoords="offset points",
                              ha="left" if dx >= 0 else "right", **kw)
            box = ann.get_window_extent(renderer).expanded(1.05, 1.1)
            clash = any(box.overlaps(b) for b in taken) or any(
                box.contains(*q) for j, q in enumerate(pts_px) if j != k)
            if not clash:
                break
            ann.remove()
        else:
            ann = ax.annotate(t, p, xytext=offsets[0], textcoords="offset points", **kw)
            box = ann.get_window_extent(renderer)
        taken.append(box)


def write_figures(a: Asset, folder: str) -> list[str]:
    """Write the four figures into ``folder``; returns their file names."""
    plt = _plt()
    from matplotlib import ticker
    os.makedirs(folder, exist_ok=True)
    x, y = Field(a.top, a.lattice).xy()
    ring = np.vstack([a.closure, a.closure[:1]])
    names = []

    def save(fig, name: str) -> None:
        fig.savefig(os.path.join(folder, name), dpi=100, metadata={"Software": None})
        plt.close(fig)
        names.append(name)

    # depth map
    fig, ax = plt.subplots(figsize=(8, 7))
    m = ax.pcolormesh(x, y, a.top, shading="nearest", cmap="viridis_r")
    levels = np.arange(np.floor(a.crest_tvd_m / 10) * 10, np.nanmax(a.top) + 10, 10)
    cs = ax.contour(x, y, a.top, levels=levels, colors="k", linewidths=0.4)
    ax.clabel(cs, levels[::2], fontsize=6, fmt="%.0f")
    ax.plot(ring[:, 0], ring[:, 1], color="red", lw=1.6, label=f"closure at {a.contact_tvd_m:.1f} m")
    ax.plot(*a.spill_xy, marker="x", color="red", ms=9, mew=2)
    ax.annotate(f"spill point {a.spill_tvd_m:.1f} m TVD", a.spill_xy, xytext=(-8, -18),
                textcoords="offset points", ha="right", color="red", fontsize=8,
                bbox={"boxstyle": "round,pad=0.15", "fc": "white", "alpha": 0.8, "lw": 0})
    pts, labels = [], []
    for w in a.wells:
        ax.plot(w.survey["x"], w.survey["y"], color="white", lw=1.0)
        ax.plot(*w.head, marker="o", ms=3, color="white", mec="k", mew=0.5)
        p = w.penetration["top"]
        if p is not None:
            ax.plot(p.x, p.y, marker="o", ms=5, color="orange", mec="k", mew=0.6)
            pts.append((p.x, p.y))
            labels.append(w.name)
    ax.plot([], [], marker="o", color="orange", mec="k", ls="", label="top penetration")
    ax.legend(loc="lower left", fontsize=7)
    fig.colorbar(m, ax=ax, label="top reservoir depth (m TVD)")
    ax.set_title(f"{a.config.asset.name}: top reservoir depth, closure and wells")
    _frame(ax)
    fig.subplots_adjust(left=0.12, right=0.98, bottom=0.1, top=0.94)
    _place_labels(ax, pts, labels, fig, fontsize=8, color="k",
                  bbox={"boxstyle": "round,pad=0.15", "fc": "white", "alpha": 0.8, "lw": 0})
    save(fig, "map.png")

    # logs
    logged = [w for w in a.wells if w.log is not None]
    if logged:
        fig, axes = plt.subplots(1, len(logged), figsize=(2.3 * len(logged) + 0.8, 7), squeeze=False)
        fig.subplots_adjust(left=0.05, right=0.96, bottom=0.07, top=0.86, wspace=0.75)
        for ax, w in zip(axes[0], logged):
            lg = w.log
            md = lg["DEPT"]
            for z, col in _ZONE_COLOURS.items():   # zone strip on the left
                sel = lg["ZONE"] == z
                if sel.any():
                    ax.fill_betweenx(md, 0, 0.12, where=sel, color=col, lw=0, step="mid")
            ax.fill_betweenx(md, 0.14, 0.14 + 0.2 * lg["NET"], step="mid", color="darkorange", lw=0,
                             label="NET (0/1)")
            ax.plot(lg["NTG"], md, color="green", lw=1.0, label="NTG")
            ax.set_xlim(0, 1)
            ax.set_xlabel("zone | NET | NTG (v/v)", fontsize=7)
            top = ax.twiny()
            top.plot(lg["PHIE"], md, color="blue", lw=0.7)
            top.set_xlim(0, 0.4)
            top.set_xlabel("PHIE (v/v)", color="blue", fontsize=7)
            top.tick_params(labelsize=6, colors="blue")
            top.xaxis.set_major_locator(ticker.MaxNLocator(3))
            ax.xaxis.set_major_locator(ticker.MaxNLocator(3))
            ax.yaxis.set_major_locator(ticker.MaxNLocator(6))
            ax.set_ylim(md[-1], md[0])
            ax.set_title(w.name, fontsize=9, pad=28)
            ax.tick_params(labelsize=6)
            sv = w.survey
            sec = ax.secondary_yaxis("right", functions=(
                lambda m, sv=sv: np.interp(m, sv["md"], sv["tvd"]),
                lambda t, sv=sv: np.interp(t, sv["tvd"], sv["md"])))
            sec.tick_params(labelsize=6)
            sec.yaxis.set_major_locator(ticker.MaxNLocator(6))
            sec.set_ylabel("TVD (m)", fontsize=7)
            ax.set_ylabel("MD (m)", fontsize=7)
        axes[0][0].legend(loc="lower right", fontsize=6)
        fig.suptitle("Well logs against MD (TVD on the right): zone strip (cap grey, reservoir "
                     "yellow, below dark), NET, NTG; PHIE on the top scale",
                     fontsize=9)
        save(fig, "logs.png")

    # porosity
    both = np.concatenate([a.porosity_kriged[np.isfinite(a.porosity_kriged)].ravel(),
                           a.porosity_sim[np.isfinite(a.porosity_sim)].ravel()])
    vmin, vmax = float(both.min()), float(both.max())
    fig, axes = plt.subplots(1, 2, figsize=(13, 5.8))
    fig.subplots_adjust(left=0.07, right=0.97, bottom=0.12, top=0.93, wspace=0.25)
    for ax, f, title in ((axes[0], a.porosity_kriged, "Kriged net porosity"),
                         (axes[1], a.porosity_sim, "Simulated net porosity (realization 0)")):
        m = ax.pcolormesh(x, y, f, shading="nearest", cmap="viridis", vmin=vmin, vmax=vmax)
        ax.plot(ring[:, 0], ring[:, 1], color="white", lw=1)
        ax.scatter(a.control[:, 0], a.control[:, 1], c=a.control[:, 2], cmap="viridis", vmin=vmin,
                   vmax=vmax, edgecolors="k", s=28, zorder=3)
        fig.colorbar(m, ax=ax, label="net porosity (v/v)")
        ax.set_title(title)
        _frame(ax)
    for ax in axes:
        _place_labels(ax, [tuple(r[:2]) for r in a.control], a.control_names, fig, fontsize=6)
    save(fig, "porosity.png")

    # volumetrics
    st = np.array([r.stoiip_sm3 for r in a.realizations]) / 1e6
    s = a.summary()["stoiip"]
    fig, (h, c) = plt.subplots(1, 2, figsize=(11, 4.5))
    h.hist(st, bins=min(30, max(5, len(st) // 6)), color="#7aa6c2", edgecolor="white")
    srt = np.sort(st)
    exceed = 1.0 - (np.arange(len(srt)) + 0.5) / len(srt)
    c.plot(srt, exceed * 100, color="k", lw=1.2)
    for key, col in (("p90", "tab:red"), ("p50", "tab:orange"), ("p10", "tab:green")):
        v = s[key] / 1e6
        for ax in (h, c):
            ax.axvline(v, color=col, lw=1.2, ls="--")
        h.text(v, h.get_ylim()[1] * 0.95, f" {key.upper()}\n {v:.1f}", color=col, fontsize=8, va="top")
    h.set_xlabel("STOIIP (MSm3)")
    h.set_ylabel("realizations")
    h.set_title(f"STOIIP, {len(st)} realizations (P90 = low case)")
    c.set_xlabel("STOIIP (MSm3)")
    c.set_ylabel("probability of exceeding (%)")
    c.set_ylim(0, 100)
    c.set_title("S-curve")
    c.grid(alpha=0.3)
    fig.subplots_adjust(left=0.07, right=0.98, bottom=0.12, top=0.92, wspace=0.2)
    save(fig, "volumetrics.png")
    return names
