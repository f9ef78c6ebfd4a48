"""Built-in workflows: plain picklable descriptions that build the extension's objects on the worker.

A workflow is any picklable callable ``workflow(index, seed) -> result``; the result is a
`Field`, a float64 array, a float, or a dict of those. The extension's classes do not pickle,
so the descriptions here hold only numbers, strings and arrays and make the `Lattice` and the
`Variogram` where the realization runs.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .. import _quarntools as _ext
from ..field import LATTICE_KEYS, Field, lattice_from_params, lattice_params


_MODELS = ("spherical", "exponential", "gaussian", "nugget")


@dataclass(frozen=True)
class LatticeDesc:
    """The eight stored parameters of a `Lattice` (rotation as stored, in [0, 360])."""

    xori: float
    yori: float
    xinc: float
    yinc: float
    ncol: int
    nrow: int
    rotation_deg: float = 0.0
    yflip: bool = False

    @classmethod
    def of(cls, lattice: Any) -> LatticeDesc:
        """Describe `lattice` (a `Lattice`, or any object with the eight parameters as attributes)."""
        if isinstance(lattice, LatticeDesc):
            return lattice
        if not isinstance(lattice, _ext.Lattice):
            if all(hasattr(lattice, k) for k in LATTICE_KEYS):
                return cls(*(getattr(lattice, k) for k in LATTICE_KEYS))
            raise TypeError(f"LatticeDesc: expected a quarntools.Lattice (got {type(lattice).__name__})")
        return cls(*lattice_params(lattice))

    def lattice(self) -> _ext.Lattice:
        """The `Lattice` with exactly these stored parameters."""
        return lattice_from_params(self.xori, self.yori, self.xinc, self.yinc, self.ncol, self.nrow,
                                   self.rotation_deg, self.yflip)

    @property
    def cell_area(self) -> float:
        """Area of one lattice cell (rotation and flip do not change it)."""
        return abs(self.xinc * self.yinc)

    def to_dict(self) -> dict[str, Any]:
        return {"xori": self.xori, "yori": self.yori, "xinc": self.xinc, "yinc": self.yinc,
                "ncol": self.ncol, "nrow": self.nrow, "rotation_deg": self.rotation_deg, "yflip": self.yflip}


@dataclass(frozen=True)
class VariogramDesc:
    """A variogram model by its constructor arguments.

    With ``minor`` unset this is ``Variogram(model, nugget, sill, range)``; with ``minor`` set it
    is ``AnisotropicVariogram(model, range, minor, vertical, azimuth, sill, nugget)`` (``range``
    is the major range). The extension's variogram does not report its shape, hence the
    description is made from the arguments, not from an instance.
    """

    model: str
    nugget: float
    sill: float
    range: float
    minor: float | None = None
    vertical: float | None = None
    azimuth: float = 0.0

    def __post_init__(self) -> None:
        if self.model not in _MODELS:
            raise ValueError(f"VariogramDesc: model must be one of {', '.join(_MODELS)} (got {self.model!r})")

    def build(self) -> _ext.Variogram | _ext.AnisotropicVariogram:
        if self.minor is None:
            return _ext.Variogram(self.model, self.nugget, self.sill, self.range)
        vertical = self.range if self.vertical is None else self.vertical
        return _ext.AnisotropicVariogram(self.model, self.range, self.minor, vertical, self.azimuth,
                                         self.sill, self.nugget)

    def to_dict(self) -> dict[str, Any]:
        d: dict[str, Any] = {"model": self.model, "nugget": self.nugget, "sill": self.sill, "range": self.range}
        if self.minor is not None:
            d.update(minor=self.minor, vertical=self.vertical, azimuth=self.azimuth)
        return d


@dataclass(frozen=True, eq=False)
class SgsWorkflow:
    """Sequential Gaussian simulation of one conditioned field per realization.

    Realization ``k`` is ``fields.sgs(data, lattice, variogram, max_neighbours, radius, seed_k)``
    named `name`; a worker builds the lattice and the variogram from their descriptions.

    Parameters
    ----------
    data : array_like
        ``(n, 3)`` conditioning rows ``[x, y, value]``.
    lattice : Lattice or LatticeDesc
    variogram : VariogramDesc
    max_neighbours : int
    radius : float
        Search radius, world units.
    name : str
        Name of the field in stores and statistics.
    """

    data: npt.NDArray[np.float64]
    lattice: LatticeDesc
    variogram: VariogramDesc
    max_neighbours: int
    radius: float
    name: str = "field"
    _rows: list[list[float]] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        data = np.array(self.data, dtype=np.float64)
        if data.ndim != 2 or data.shape[1] != 3 or data.shape[0] == 0:
            raise ValueError(f"SgsWorkflow: data must be (n, 3) rows [x, y, value] with n >= 1 "
                             f"(got shape {data.shape})")
        if not np.isfinite(data).all():
            raise ValueError("SgsWorkflow: data must be finite")
        if not isinstance(self.variogram, VariogramDesc):
            raise TypeError("SgsWorkflow: variogram must be a VariogramDesc "
                            f"(got {type(self.variogram).__name__})")
        if int(self.max_neighbours) < 1 or not (math.isfinite(self.radius) and self.radius > 0):
            raise ValueError("SgsWorkflow: need max_neighbours >= 1 and radius > 0")
        data.setflags(write=False)
        object.__setattr__(self, "data", data)
        object.__setattr__(self, "lattice", LatticeDesc.of(self.lattice))
        object.__setattr__(self, "_rows", data.tolist())

    def __getstate__(self) -> dict[str, Any]:
        state = dict(self.__dict__)
        del state["_rows"]
        return state

    def __setstate__(self, state: dict[str, Any]) -> None:
        self.__dict__.update(state)
        object.__setattr__(self, "_rows", self.data.tolist())

    def __call__(self, index: int, seed: int) -> Field:
        lattice = self.lattice.lattice()
        flat = _ext.sgs_flat(self._rows, lattice, self.variogram.build(), self.max_neighbours, self.radius, seed)
        return Field.from_flat(flat, lattice)

    def describe(self) -> dict[str, Any]:
        """Everything that determines the realizations, as plain JSON values."""
        return {"workflow": "sgs", "name": self.name, "data": self.data.tolist(),
                "lattice": self.lattice.to_dict(), "variogram": self.variogram.to_dict(),
                "max_neighbours": int(self.max_neighbours), "radius": float(self.radius)}


#: The scalar variables of a volumetric realization, in the order of the asset's tables.
VOLUME_KEYS = ("grv_m3", "ntg", "phi", "sw", "bo", "stoiip_sm3")


@dataclass(frozen=True, eq=False)
class VolumetricsWorkflow:
    """The asset builder's volumetric realization (``quarntools.asset.realization_volumes``).

    Realization ``k`` is a dict: ``porosity``, the simulated net-porosity Field on the
    simulation lattice, and the floats ``grv_m3``, ``ntg``, ``phi`` (thickness-weighted net
    porosity over the trap), ``sw``, ``bo`` and ``stoiip_sm3`` = GRV x NTG x phi x (1 - Sw) / Bo.

    Parameters
    ----------
    inputs : quarntools.asset.VolumeInputs
        Everything a realization needs (plain numbers and arrays).
    """

    inputs: Any
    name: str = "porosity"

    def __call__(self, index: int, seed: int) -> dict[str, Any]:
        from ..asset.geoscience import realization_volumes

        r = realization_volumes(self.inputs, index, seed)
        out: dict[str, Any] = {"porosity": Field(r.porosity, LatticeDesc.of(self.inputs.sim_lattice).lattice())}
        for key in VOLUME_KEYS:
            out[key] = getattr(r, key)
        return out

    def describe(self) -> dict[str, Any]:
        """Everything that determines the realizations, as plain JSON values."""
        def plain(v: Any) -> Any:
            if isinstance(v, np.ndarray):
                return v.tolist()
            if isinstance(v, (tuple, list)):
                return [plain(x) for x in v]
            if hasattr(v, "__dataclass_fields__"):
                return {k: plain(getattr(v, k)) for k in v.__dataclass_fields__}
            return v

        return {"workflow": "volumetrics", "inputs": plain(self.inputs)}
