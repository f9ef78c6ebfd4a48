"""Ensembles: many realizations of a workflow on threads, processes or a Dask cluster.

A realization is a pure function of ``(index, seed)``; the seeds come from one master seed
through `quarntools.spawn_seeds`, so realization ``k`` has the same bits on every executor.
Results are reduced as they arrive (node-wise mean, variance and P90/P50/P10 of fields, the
volumetric digest of scalars) and optionally written to a Zarr store, one chunk per realization.

>>> import numpy as np, quarntools as qt
>>> from quarntools import ensemble
>>> wf = ensemble.SgsWorkflow(np.array([[50.0, 50.0, 0.2], [150.0, 120.0, 0.25]]),
...                           qt.Lattice(0, 0, 10, 10, 20, 20),
...                           ensemble.VariogramDesc("spherical", 0.0, 1.0, 100.0), 8, 200.0, name="porosity")
>>> res = ensemble.run(wf, 8, seed=7, progress=False)
>>> sorted(res["porosity"])
['mean', 'p10', 'p50', 'p90', 'variance']
"""

from ._engine import EnsembleResult, run
from .reducers import Collect, Moments, Percentiles, Summary
from .storage import StoreMismatchError
from .workflows import LatticeDesc, SgsWorkflow, VariogramDesc, VolumetricsWorkflow

__all__ = ["run", "EnsembleResult", "SgsWorkflow", "VolumetricsWorkflow", "LatticeDesc", "VariogramDesc",
           "Moments", "Percentiles", "Summary", "Collect", "StoreMismatchError"]
