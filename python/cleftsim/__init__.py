"""Cleftsim from Python: the three experiments on the engine of the program and
of cleftsim-batch, and grids of runs over parameter values, on the local cores
or on a Dask cluster.

    import cleftsim
    sweep = cleftsim.isv(seed=42, trials=1000, Rg=1.5)
    sweep.table()                 # or pd.DataFrame(sweep): a row per potential
    table = cleftsim.grid("isv", {"Rg": [0.5, 1.0, 1.5]}, seed=1, trials=1000)
    result = cleftsim.fit("recording.csv", free={"Rg": (0, 5)})   # fit measured data

The same seed and arguments give the same numbers as cleftsim-batch; without
a seed a run takes a fresh one from the operating system and records it in
its provenance. Every argument is checked by the rules of the program's
editors: a value they would refuse raises ValueError, an unknown keyword
TypeError. numpy scalars are taken as the numbers they hold.
"""

from ._core import version
from .fit import FitResult, FitWarning, fit
from .grids import GridError, GridInterrupted, grid, point_seed
from .runs import (HistogramsResult, IsvResult, RecordsResult, batch_command, cancel_running, check, defaults,
                   fresh_seed, histograms, isv, records)

__version__ = version
__all__ = [
    "FitResult",
    "FitWarning",
    "GridError",
    "GridInterrupted",
    "HistogramsResult",
    "IsvResult",
    "RecordsResult",
    "batch_command",
    "cancel_running",
    "check",
    "defaults",
    "fit",
    "fresh_seed",
    "grid",
    "histograms",
    "isv",
    "point_seed",
    "records",
]
