"""The asset manifest: what was built, from which config, and the sha256 of every file."""
from __future__ import annotations

import hashlib
import json
import os
from typing import Any

__all__ = ["sha256_file", "file_entries", "write_manifest"]


def sha256_file(path: str) -> str:
    """Hex sha256 of a file's bytes."""
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for chunk in iter(lambda: fh.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def file_entries(root: str, kinds: dict[str, str]) -> list[dict[str, str]]:
    """One entry (path, kind, sha256) per file under ``root``, sorted by path (POSIX separators)."""
    out = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for fn in sorted(filenames):
            full = os.path.join(dirpath, fn)
            rel = os.path.relpath(full, root).replace(os.sep, "/")
            if rel == "manifest.json":
                continue
            out.append({"path": rel, "kind": kinds.get(rel, "other"), "sha256": sha256_file(full)})
    out.sort(key=lambda e: e["path"])
    return out


def write_manifest(path: str, doc: dict[str, Any]) -> None:
    """Write the manifest document as indented JSON (no NaN allowed)."""
    with open(path, "w", encoding="utf-8", newline="\n") as fh:
        json.dump(doc, fh, indent=1, allow_nan=False)
        fh.write("\n")
