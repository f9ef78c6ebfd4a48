"""GeoJSON polygon features with closed, counter-clockwise exterior rings."""
from __future__ import annotations

import json
from typing import Any

import numpy as np

__all__ = ["polygon_feature", "write_features", "closed_ccw"]


def closed_ccw(ring: np.ndarray) -> list[list[float]]:
    """The ring as a closed list of [x, y] (first point repeated last), counter-clockwise."""
    pts = [[float(x), float(y)] for x, y in np.asarray(ring, dtype=np.float64)]
    if len(pts) > 1 and pts[0] == pts[-1]:
        pts.pop()
    a = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]))
    if a < 0:
        pts.reverse()
    return pts + pts[:1]


def polygon_feature(ring: np.ndarray, properties: dict[str, Any]) -> dict[str, Any]:
    """A GeoJSON Feature with one Polygon (closed counter-clockwise ring) and its properties."""
    return {"type": "Feature", "properties": properties,
            "geometry": {"type": "Polygon", "coordinates": [closed_ccw(ring)]}}


def write_features(path: str, features: list[dict[str, Any]], name: str) -> None:
    """Write a named FeatureCollection (no NaN allowed: it is not JSON)."""
    doc = {"type": "FeatureCollection", "name": name, "features": features}
    with open(path, "w", encoding="utf-8", newline="\n") as fh:
        json.dump(doc, fh, indent=1, allow_nan=False)
        fh.write("\n")
