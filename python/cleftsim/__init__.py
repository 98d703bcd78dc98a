"""Cleftsim from Python: the three experiments on the engine of the program and
of cleftsim-batch, and grids of runs over parameter values, on the local cores
or on a Dask cluster.

    import cleftsim
    sweep = cleftsim.isv(seed=42, trials=1000, Rg=1.5)
    table = cleftsim.grid("isv", {"Rg": [0.5, 1.0, 1.5]}, seed=1, trials=1000)

The same seed and arguments give the same numbers as cleftsim-batch. Every
argument is checked by the rules of the program's editors: a value they would
refuse raises ValueError, an unknown keyword TypeError.
"""

from ._core import batch_command, cancel_running, check, defaults, histograms, isv, records, version
from .grids import GridError, grid, point_seed

__version__ = version
__all__ = [
    "GridError",
    "batch_command",
    "cancel_running",
    "check",
    "defaults",
    "grid",
    "histograms",
    "isv",
    "point_seed",
    "records",
]
