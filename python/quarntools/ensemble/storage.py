"""A Zarr store of every realization, one chunk per realization, that ``xarray.open_zarr`` opens.

Layout: a ``realization`` dimension; each field variable ``(realization, col, row)`` with the
lattice parameters in its attributes and 2-D ``x``/``y`` node coordinates (so
``Field.from_xarray(ds[name].isel(realization=k))`` gives realization ``k`` back); each scalar
variable ``(realization,)``; a plain array ``(realization, col, row)`` when 2-D and of the
fields' shape, else with dimensions of its own; ``seed`` (uint64) the seed of every realization; ``stored`` (int8) 1
once a realization is completely written. Dataset attributes hold the master seed, the number of
realizations, the lattice and the configuration. The store is made in a temporary directory and
renamed into place, so a path either holds a complete layout or nothing; every chunk is written
once, the ``stored`` flag last, so an interrupted run resumes exactly where it stopped.
"""

from __future__ import annotations

import contextlib
import functools
import json
import os
import shutil
import signal
import tempfile
import threading
from collections.abc import Callable, Iterator
from typing import Any, TypeVar

import numpy as np

from ..field import LATTICE_KEYS, Field, lattice_from_params, lattice_params


FORMAT = 1


class StoreMismatchError(ValueError):
    """The store at the path was written by a different run."""


def _import_io() -> tuple[Any, Any]:
    try:
        import dask.array  # noqa: F401 - the lazy template of the layout
        import xarray
        import zarr
    except ImportError as e:
        raise ImportError('ensemble storage needs xarray, zarr and dask: pip install "quarntools[io,dask]"') from e
    return xarray, zarr


@contextlib.contextmanager
def _uninterrupted() -> Iterator[None]:
    """Holds back Ctrl-C (SIGINT) until the block ends, then raises the signal again.

    Zarr runs its reads and writes on an event loop of its own; a KeyboardInterrupt raised in
    the middle of one leaves that loop with a pending task (and asyncio's complaints about it
    at exit) and a chunk half written. Store operations therefore finish first; the signal then
    does what it would have done (KeyboardInterrupt under Python's default handler).
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    caught: list[int] = []
    previous = signal.signal(signal.SIGINT, lambda signum, frame: caught.append(signum))
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)
        if caught:
            signal.raise_signal(signal.SIGINT)


_F = TypeVar("_F", bound=Callable[..., Any])


def _store_operation(method: _F) -> _F:
    """`method`, run with Ctrl-C held back until it is done (see `_uninterrupted`)."""
    @functools.wraps(method)
    def wrapper(*args: Any, **kwargs: Any) -> Any:
        with _uninterrupted():
            return method(*args, **kwargs)
    return wrapper  # type: ignore[return-value]


def _lattice_attrs(lattice: Any) -> dict[str, Any]:
    attrs = dict(zip(LATTICE_KEYS, lattice_params(lattice)))
    attrs["yflip"] = int(lattice.yflip)
    return attrs


class ZarrStore:
    """Realizations of one run in a Zarr directory store at `path`."""

    def __init__(self, path: str | os.PathLike[str], n: int, seed: int, seeds: list[int], config: str) -> None:
        self.xr, self.zarr = _import_io()
        self.path = os.fspath(path)
        self.n, self.seed, self.seeds, self.config = n, seed, seeds, config
        self._group: Any = None
        self._arrays: dict[str, Any] = {}
        self._lattices: dict[str, Any] = {}
        self._fields: dict[str, tuple[int, ...]] = {}
        if os.path.exists(self.path):
            self._open()

    @property
    def exists(self) -> bool:
        return self._group is not None

    @_store_operation
    def _open(self) -> None:
        try:
            ds = self.xr.open_zarr(self.path)
        except Exception as e:
            raise StoreMismatchError(f"ensemble: {self.path} exists and is not an ensemble store ({e})") from e
        with ds:
            attrs = ds.attrs
            if attrs.get("quarntools_ensemble") != FORMAT:
                raise StoreMismatchError(f"ensemble: {self.path} exists and is not an ensemble store")
            for key, mine in (("realizations", self.n), ("master_seed", self.seed), ("config", self.config)):
                if attrs.get(key) != mine:
                    raise StoreMismatchError(
                        f"ensemble: {self.path} holds a different run ({key} differs); "
                        "remove it or choose another path")
            for name, var in ds.data_vars.items():
                if name in ("seed", "stored"):
                    continue
                if "xori" in var.attrs:
                    a = var.attrs
                    self._lattices[name] = lattice_from_params(
                        float(a["xori"]), float(a["yori"]), float(a["xinc"]), float(a["yinc"]),
                        int(a["ncol"]), int(a["nrow"]), float(a["rotation_deg"]), bool(a["yflip"]))
                self._fields[name] = var.shape[1:]
        self._group = self.zarr.open_group(self.path, mode="r+")
        self._arrays = {name: self._group[name] for name in (*self._fields, "stored")}

    @_store_operation
    def create(self, example: dict[str, Any]) -> None:
        """Lay out the store for results shaped like `example` (a realization's variables)."""
        import dask.array as da

        xr = self.xr
        n = self.n
        data_vars: dict[str, Any] = {}
        coords: dict[str, Any] = {"realization": np.arange(n, dtype=np.int64)}
        encoding: dict[str, Any] = {}
        first_lattice: Any = None
        plane: tuple[int, ...] | None = None  # the (col, row) sizes
        fields_first = sorted(example.items(), key=lambda item: not isinstance(item[1], Field))
        for name, value in fields_first:
            if name in ("seed", "stored", "realization", "x", "y"):
                raise ValueError(f"ensemble: {name!r} is reserved in the store; rename the variable")
            attrs: dict[str, Any] = {}
            if isinstance(value, Field):
                shape: tuple[int, ...] = value.shape
                attrs = _lattice_attrs(value.lattice)
                if first_lattice is None:
                    first_lattice, plane = value.lattice, shape
                    x, y = value.xy()
                    coords["x"] = (("col", "row"), x)
                    coords["y"] = (("col", "row"), y)
                elif lattice_params(value.lattice) != lattice_params(first_lattice):
                    raise ValueError(f"ensemble: field {name!r} lies on another lattice than the first field")
            else:
                shape = np.shape(value)
            if len(shape) == 2 and plane in (None, shape):
                plane, dims = shape, ("col", "row")
            else:
                dims = tuple(f"{name}_{i}" for i in range(len(shape)))
            data_vars[name] = xr.Variable(("realization", *dims), da.full((n, *shape), np.nan, chunks=(1, *shape)),
                                          attrs=attrs)
            encoding[name] = {"chunks": (1, *shape)}
        data_vars["seed"] = xr.Variable(("realization",), np.array(self.seeds, dtype=np.uint64))
        data_vars["stored"] = xr.Variable(("realization",), da.zeros((n,), dtype=np.int8, chunks=1))
        encoding["stored"] = {"chunks": (1,)}
        attrs = {"quarntools_ensemble": FORMAT, "realizations": n, "master_seed": self.seed,
                 "config": self.config,
                 "lattice": json.dumps(_lattice_attrs(first_lattice)) if first_lattice is not None else ""}
        ds = xr.Dataset(data_vars, coords=coords, attrs=attrs)
        parent = os.path.dirname(os.path.abspath(self.path))
        tmp = tempfile.mkdtemp(prefix=".quarntools-store-", dir=parent)
        try:
            ds.to_zarr(tmp, mode="w", compute=False, encoding=encoding, consolidated=True,
                       zarr_format=2)
            os.rename(tmp, self.path)
        except BaseException:
            shutil.rmtree(tmp, ignore_errors=True)
            raise
        self._open()

    @_store_operation
    def stored(self) -> np.ndarray:
        """Boolean mask of the realizations completely written."""
        if self._group is None:
            return np.zeros(self.n, dtype=bool)
        return np.asarray(self._arrays["stored"][:]) == 1

    @_store_operation
    def write(self, index: int, result: dict[str, Any]) -> None:
        """Write realization `index` (every variable, then its ``stored`` flag)."""
        if set(result) != set(self._fields):
            raise ValueError(f"ensemble: realization {index} has variables {sorted(result)}, "
                             f"the store {sorted(self._fields)}")
        for name, value in result.items():
            arr = value.values if isinstance(value, Field) else np.asarray(value, dtype=np.float64)
            if (name in self._lattices) != isinstance(value, Field):
                raise ValueError(f"ensemble: realization {index} {name!r} is {type(value).__name__}, "
                                 "the store holds " + ("a Field" if name in self._lattices else "plain values"))
            if arr.shape != self._fields[name]:
                raise ValueError(f"ensemble: realization {index} {name!r} has shape {arr.shape}, "
                                 f"the store {self._fields[name]}")
            self._arrays[name][index:index + 1] = arr[None]
        self._arrays["stored"][index:index + 1] = np.ones(1, dtype=np.int8)

    @_store_operation
    def read(self, index: int) -> dict[str, Any]:
        """Realization `index` as written: Fields and floats."""
        out: dict[str, Any] = {}
        for name, shape in self._fields.items():
            arr = np.asarray(self._arrays[name][index], dtype=np.float64)
            if name in self._lattices:
                out[name] = Field(np.ascontiguousarray(arr), self._lattices[name])
            else:
                out[name] = arr if shape else float(arr)
        return out
