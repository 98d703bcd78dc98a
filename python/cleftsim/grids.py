"""Grids of runs: every combination of some parameter values, each point run
with its own seed, on the local cores or on a dask.distributed cluster, into
one table."""

import concurrent.futures
import itertools
import operator
import os
from collections.abc import Iterable, Mapping

import numpy as np

from . import _core, runs

# The function of every experiment of the program's table.
_RUNS = {name: getattr(runs, name) for name in runs.EXPERIMENTS}
_DEFAULT_RUNS = dict(_RUNS)


def point_seed(seed, index):
    """The seed of point `index` (0, 1, ...) of a grid run with `seed`.

    The rule: z = seed * 2**32 + index + 0x9E3779B97F4A7C15 (mod 2**64), then
    z ^= z >> 30; z *= 0xBF58476D1CE4E5B9; z ^= z >> 27; z *= 0x94D049BB133111EB;
    z ^= z >> 31 (each product mod 2**64), and the point's seed is z >> 32, the
    upper 32 bits. It depends on nothing but seed and index, so a grid gives the
    same table however many workers run it and in whatever order; the mixing
    keeps neighbouring points from starting on related draws. A point is
    repeated alone with its seed, e.g. cleftsim-batch isv --seed SEED ...
    The same rule seeds Records trial r of a run with seed S: point_seed(S, r).
    """
    seed, index = operator.index(seed), operator.index(index)
    if not 0 <= seed < 2**32 or not 0 <= index < 2**32:
        raise ValueError(f"seed {seed} and index {index} must both lie in 0..4294967295")
    return _core.mixed_seed(seed, index)


class GridError(RuntimeError):
    """Some points of a grid failed. `failures` lists (index, point, exception);
    `table` holds the points that were done. It pickles, so that a grid run
    in a process pool reports its failures to the parent."""

    def __init__(self, message, table, failures):
        super().__init__(message)
        self.table = table
        self.failures = failures

    def __reduce__(self):
        return (type(self), (str(self), self.table, self.failures))


class GridInterrupted(KeyboardInterrupt):
    """Ctrl-C (or another KeyboardInterrupt) stopped a grid: its own runs under
    way were stopped, those not started dropped, and `table` holds the points
    that were done. Caught as KeyboardInterrupt like any other:

        try:
            table = cleftsim.grid(...)
        except KeyboardInterrupt as stop:
            table = getattr(stop, "table", None)
    """

    def __init__(self, message, table):
        super().__init__(message)
        self.table = table

    def __reduce__(self):
        return (type(self), (str(self), self.table))


def _describe(index, point):
    values = ", ".join(f"{k}={v!r}" for k, v in point.items())
    return f"point {index} ({values})"


def _run_point(experiment, kwargs, cancel=None):
    """Runs one point; module-level so that Dask workers import it by name.
    cancel: the grid's _core.CancelToken, which stops its runs alone."""
    run = _RUNS[experiment]
    if cancel is None:
        return run(**kwargs)
    if run is _DEFAULT_RUNS[experiment]:
        return runs._run(experiment, kwargs, cancel)
    return run(**kwargs)  # a stand-in (tests)


def _pandas():
    """pandas, which a grid's table needs; the runs themselves need only numpy."""
    try:
        import pandas
    except ImportError as error:
        raise ImportError("cleftsim.grid returns a pandas table and needs pandas: install python3-pandas, "
                          "or pip install 'cleftsim[tables]'", name="pandas") from error
    return pandas


def _point_table(experiment, index, point, seed, result):
    pd = _pandas()
    # The result member that has one entry per row of the table; None: one row per point.
    row_key = runs._RESULTS[experiment].row_key
    # A seed per trial: a row per trial, with the trial's number and seed.
    per_trial = runs.EXPERIMENTS[experiment]["seed_per_trial"]
    rows = len(result[row_key]) if row_key else 1
    columns = {"point": np.full(rows, index, dtype=np.int64)}
    # The grid's values as the run took them: Rg 0.30000000000000004 ran
    # and is recorded as 0.3.
    parameters = result.provenance["parameters"]
    for name in point:
        if name == "background":
            columns[name] = np.full(rows, bool(result.provenance["BackgroundOn"]))
        else:
            value = parameters[name]
            columns[name] = np.full(rows, value, dtype=np.int64 if isinstance(value, int) else np.float64)
    columns["seed"] = np.full(rows, seed, dtype=np.int64)
    if "trials" not in result:
        columns["trials"] = np.full(rows, result.provenance["trials"], dtype=np.int64)
    if per_trial:
        columns["trial"] = np.arange(1, rows + 1, dtype=np.int64)
    for name, value in result.items():
        if name == "t_ms":
            continue
        if row_key and isinstance(value, np.ndarray) and len(value) == rows:
            columns[name] = list(value) if value.ndim > 1 else value
        elif isinstance(value, np.ndarray):
            columns[name] = [value] * rows
        elif isinstance(value, str):  # the note of a Histograms run at V2 > 0
            columns[name] = np.full(rows, value, dtype=object)
        else:
            columns[name] = np.full(rows, value, dtype=np.int64 if isinstance(value, int) else np.float64)
    if per_trial:
        columns["trial_seed"] = columns.pop("seeds")
    return pd.DataFrame(columns)


def _grid_values(key, given):
    """The values of one grid key as plain Python values: a list, tuple, range,
    1-d array or pandas Series of at least one value."""
    if isinstance(given, np.ndarray) and given.ndim != 1:
        raise TypeError(f"grid values of {key!r} must be 1-d, not an array of shape {given.shape}")
    if isinstance(given, (str, bytes, Mapping)) or not isinstance(given, Iterable):
        raise TypeError(f"grid values of {key!r} must be a list, range or 1-d array, not {type(given).__name__} "
                        f"(one value: [{given!r}], or {key}={given!r} for every point)")
    values = [runs.plain(key, v) for v in given]
    if not values:
        raise ValueError(f"grid values of {key!r}: none given; accepted at least one value")
    return values


class _NoBar:
    """No progress bar at all (progress=False, or no tqdm)."""

    n = 0
    unit = ""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def update(self, n=1):
        pass


def _progress_bar(total, enabled, experiment):
    """A notebook's progress widget where ipywidgets is there, else a plain
    text bar (tqdm's own would warn "IProgress not found"); none with
    progress=False, or where tqdm is not installed."""
    import importlib.util

    if not enabled or importlib.util.find_spec("tqdm") is None:
        return _NoBar()

    options = dict(total=total, desc=f"cleftsim {experiment}", unit="point")
    if importlib.util.find_spec("ipywidgets") is not None:
        from tqdm.auto import tqdm
    else:
        from tqdm.std import tqdm
    return tqdm(**options)


def _grid_keys(experiment, grid, fixed):
    """The keys of the grid, refused where one is also an argument or, for
    isv, the clamp potential that the sweep sets itself."""
    if not isinstance(grid, Mapping):
        raise TypeError(f"grid must be a dict of value lists keyed by parameter name, not {type(grid).__name__}")
    keys = list(grid)
    overlap = [k for k in keys if k in fixed or k in ("seed", "seeds", "trials")]
    if overlap:
        raise TypeError(f"grid() got {overlap[0]!r} both as a grid key and as an argument")
    if experiment == "isv" and "V2" in keys:
        raise ValueError("grid over V2 for isv: the sweep runs every clamp potential from +40 to -140 mV "
                         "itself (its V2_mV column) and does not use V2; grid over other parameters")
    return keys


def _grid_seed(seed):
    """The grid's seed as an int 0..4294967295; a fresh one for None."""
    seed = runs.plain("seed", seed)
    if seed is None:
        seed = _core.fresh_seed()
    elif isinstance(seed, bool) or not isinstance(seed, int):
        raise TypeError(f"seed must be an int, not {type(seed).__name__}")
    elif not 0 <= seed < 2**32:
        raise ValueError(f"seed {seed}: out of range; accepted 0..4294967295")
    return seed


def _grid_workers(workers):
    """The local threads of a grid: an int of at least 1, or None for one per core."""
    workers = runs.plain("workers", workers)
    if workers is not None:
        if isinstance(workers, bool) or not isinstance(workers, int):
            raise TypeError(f"workers must be an int or None, not {type(workers).__name__}")
        if workers < 1:
            raise ValueError(f"workers {workers}: out of range; accepted 1 or more (None: one per core)")
    return workers


def _point_arguments(experiment, points, seeds, fixed, trials):
    """The keyword arguments of every point's run, every point checked before
    any runs: ValueError naming each point refused."""
    arguments = []
    refused = []
    for index, point in enumerate(points):
        kwargs = dict(fixed, **point, seed=seeds[index])
        if trials is not None:
            kwargs["trials"] = trials
        try:
            runs.check(experiment, **kwargs)
        except ValueError as error:
            refused.append(f"{_describe(index, point)}: {error}")
        arguments.append(kwargs)
    if refused:
        raise ValueError(f"{len(refused)} of {len(points)} grid points refused:\n" + "\n".join(refused))
    return arguments


def _run_points(experiment, arguments, finished, cancel, client, workers):
    """Runs every point, on the client's workers, one after the other in this
    thread or in local threads; each ends in finished(index, result) or
    finished(index, error=error)."""
    if client is not None:
        _run_on_client(client, experiment, arguments, finished)
    elif (workers or os.cpu_count() or 1) == 1:
        for index, kwargs in enumerate(arguments):
            try:
                result = _run_point(experiment, kwargs, cancel)
            except Exception as error:  # a failing point must not lose the others
                finished(index, error=error)
            else:
                finished(index, result)
    else:
        _run_in_threads(workers or os.cpu_count(), experiment, arguments, finished, cancel)


def grid(experiment, grid, *, seed=None, trials=None, client=None, progress=True, workers=None, **fixed):
    """Runs `experiment` ("records", "isv" or "histograms") at every combination
    of the values in `grid`, a dict of lists keyed by parameter name (or
    "background"); the last key varies fastest and point i is the i-th
    combination. `fixed` holds further keyword arguments of every run
    (background, parameters). Point i runs with the seed point_seed(seed, i)
    and `trials` trials.

    Every point is checked before anything runs: a point the editors would
    refuse raises ValueError naming each bad point. Without `client` the
    points run on the local cores in threads (`workers` of them, by default
    one per core; 1 runs them one after the other in this thread); with a
    dask.distributed Client they run on its workers, which must be able to
    import cleftsim. A progress bar follows the points (a notebook's widget
    where ipywidgets is installed, else a text bar; progress=False: none).

    Ctrl-C stops this grid's runs under way (not the runs of other threads)
    and raises GridInterrupted, a KeyboardInterrupt whose `table` holds the
    points that were done.

    Returns a pandas DataFrame, one row per point (isv: per point and clamp
    potential; records: per point and trial) with the point's index, its
    grid values, its seed and the results. If points fail, GridError says
    which and why after the others are done; its `table` holds those.
    """
    if experiment not in _RUNS:
        raise ValueError(f"experiment {experiment!r}: unknown experiment; accepted {_core.experiment_names}")
    pd = _pandas()  # before anything runs, so that no point is run for nothing
    keys = _grid_keys(experiment, grid, fixed)
    seed = _grid_seed(seed)
    workers = _grid_workers(workers)
    trials = runs.plain("trials", trials)
    fixed = runs.plain_arguments(fixed)
    values = [_grid_values(k, grid[k]) for k in keys]
    points = [dict(zip(keys, combination)) for combination in itertools.product(*values)]
    seeds = [point_seed(seed, i) for i in range(len(points))]

    arguments = _point_arguments(experiment, points, seeds, fixed, trials)

    results = {}
    failures = []

    def finished(index, result=None, error=None):
        if error is None:
            results[index] = result
        else:
            failures.append((index, points[index], error))
        bar.update(1)

    def done_table():
        parts = [_point_table(experiment, i, points[i], seeds[i], results[i]) for i in sorted(results)]
        table = pd.concat(parts, ignore_index=True) if parts else pd.DataFrame()
        table.attrs["cleftsim"] = {"experiment": experiment, "seed": seed, "trials": trials, "fixed": fixed}
        return table

    # Stops this grid's runs, and no others, when it is interrupted.
    cancel = _core.CancelToken()
    try:
        with _progress_bar(len(points), progress, experiment) as bar:
            _run_points(experiment, arguments, finished, cancel, client, workers)
    except KeyboardInterrupt as stop:
        cancel.cancel()
        raise GridInterrupted(f"grid interrupted after {len(results)} of {len(points)} points; "
                              "the exception's table holds those", done_table()) from stop

    table = done_table()
    if failures:
        failures.sort(key=lambda f: f[0])
        lines = [f"{_describe(i, p)}: {type(e).__name__}: {e}" for i, p, e in failures]
        message = f"{len(failures)} of {len(points)} grid points failed:\n" + "\n".join(lines)
        raise GridError(message, table, failures)
    return table


def _run_in_threads(workers, experiment, arguments, finished, cancel):
    # The engine releases the GIL, so threads run points side by side.
    executor = concurrent.futures.ThreadPoolExecutor(max_workers=workers)
    futures = {executor.submit(_run_point, experiment, kwargs, cancel): i for i, kwargs in enumerate(arguments)}
    seen = set()
    try:
        for future in concurrent.futures.as_completed(futures):
            seen.add(future)
            error = future.exception()
            if error is None:
                finished(futures[future], future.result())
            else:
                finished(futures[future], error=error)
    except BaseException:
        # Ctrl-C: drop the points not started and stop the ones under way,
        # this grid's alone; keep those that were done meanwhile.
        executor.shutdown(wait=False, cancel_futures=True)
        cancel.cancel()
        executor.shutdown(wait=True)
        for future, index in futures.items():
            if future not in seen and future.done() and not future.cancelled() and future.exception() is None:
                finished(index, future.result())
        raise
    finally:
        executor.shutdown(wait=True)


def _run_on_client(client, experiment, arguments, finished):
    from distributed import as_completed

    tag = os.urandom(4).hex()  # keeps the keys of two grids on one cluster apart
    futures = {
        client.submit(_run_point, experiment, kwargs, pure=False, key=f"cleftsim-{experiment}-{tag}-point-{i}"): i
        for i, kwargs in enumerate(arguments)
    }
    try:
        for future in as_completed(futures):
            index = futures[future]
            if future.status == "error":
                finished(index, error=future.exception())
            else:
                finished(index, future.result())
    except BaseException:
        client.cancel(list(futures))
        raise
