"""Fits of the model to measured data: the cleft resistance and the synapse
from mean peak currents recorded at several clamp potentials, with profile
intervals, on the exact engine."""

import json
import math
import numbers
import os
import warnings

from . import _core, runs
from .grids import _progress_bar

_PARAMETERS = {p["name"]: p for p in runs.PARAMETERS}


def _data_columns(data):
    """The columns of measured data given as a pandas DataFrame or a dict of
    arrays, as (name, values) pairs of plain Python values: None or NaN for
    a missing value, numbers, and texts, read as a CSV field is."""
    import numpy as np

    if hasattr(data, "to_dict") and hasattr(data, "columns"):
        columns = [(str(name), list(data[name])) for name in data.columns]
    elif isinstance(data, dict):
        columns = [(str(name), list(np.asarray(values, dtype=object).ravel()))
                   for name, values in data.items()]
    else:
        raise TypeError(
            f"data must be a path, a pandas DataFrame or a dict of arrays, not {type(data).__name__}"
        )

    def cell(value):
        value = runs.plain("data", value)
        if value is None or isinstance(value, (int, float, str)) and not isinstance(value, bool):
            return value
        # pandas' missing values (pd.NA, NaT) are absent; anything else is read as its text.
        try:
            import pandas as pd

            if pd.isna(value):
                return None
        except (ImportError, TypeError, ValueError):
            pass
        return str(value)

    return [(name, [cell(v) for v in values]) for name, values in columns]


def _free_list(free):
    if isinstance(free, str):
        free = {free: None}
    elif isinstance(free, (list, tuple)):
        free = {name: None for name in free}
    if not isinstance(free, dict) or not free:
        raise TypeError('free must name the parameters to fit, e.g. {"Rg": (0, 5), "N": None} or ["Rg"]')
    items = []
    for name, bounds in free.items():
        if bounds is None:
            items.append((str(name), None, None))
            continue
        if isinstance(bounds, (str, bytes)) or len(bounds) != 2:
            raise TypeError(f"free {name}: the range must be (low, high) or None, not {bounds!r}")
        low, high = (runs.plain(name, b) for b in bounds)
        items.append((str(name), low, high))
    return items


class FitWarning(UserWarning):
    """A fit's word of caution (a poor fit, an estimate on its range's end,
    inconsistent spreads, currents of the wrong sign or scale, an estimate
    that follows a fixed parameter): the same codes and texts as the
    result's `warnings` and cleftsim-batch fit's standard error."""

    def __init__(self, message):
        super().__init__(message)


def _noise_text(noise):
    if isinstance(noise, str) and noise in ("auto", "none"):
        return noise
    if noise is None:
        return "none"
    value = runs.plain("noise", noise)
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f'noise must be "auto", "none" or a noise in pA rms, not {noise!r}')
    return repr(float(value))


def _sensitivity_text(sensitivity):
    if sensitivity is None:
        return "Gmax=10%,N=1"
    if isinstance(sensitivity, str):
        return sensitivity
    if isinstance(sensitivity, dict):
        items = []
        for name, delta in sensitivity.items():
            if isinstance(delta, str):
                items.append(f"{name}={delta}")
            else:
                value = runs.plain(name, delta)
                if isinstance(value, bool) or not isinstance(value, numbers.Real):
                    raise TypeError(f"sensitivity {name}: the move must be a number or a text like '10%', "
                                    f"not {delta!r}")
                items.append(f"{name}={float(value)!r}")
        return ",".join(items) if items else "none"
    raise TypeError('sensitivity must be None (Gmax 10 %, N 1), "none", a text "PARAM=DELTA[%],..." or a dict '
                    f'{{"Gmax": "10%", "N": 1}}, not {sensitivity!r}')


def _simulate_units(units, trials):
    """Simulates (candidate, potentials) pairs; module-level so that Dask workers import it by name."""
    return [_core.simulate_points(parameters, potentials, trials) for parameters, potentials in units]


def _evaluate_on(client):
    """Simulates the candidates of a batch on the cluster, one task per
    worker: a batch of many candidates is split by candidate, one of few (a
    step of a profile) by potential, so that every worker is busy and each
    round trip to the cluster carries as much work as it can."""

    def evaluate(candidates, potentials, trials):
        workers = max(1, len(client.scheduler_info().get("workers", {})))
        units = [(c, k) for c in range(len(candidates)) for k in range(len(potentials))]
        size = max(1, -(-len(units) // workers))
        tasks = []
        for start in range(0, len(units), size):
            chunk = units[start:start + size]
            tasks.append((chunk, client.submit(_simulate_units, [(candidates[c], [potentials[k]]) for c, k in chunk],
                                               trials, pure=False)))
        try:
            done = client.gather([future for _, future in tasks])
        except BaseException:
            client.cancel([future for _, future in tasks])
            raise
        points = [[None] * len(potentials) for _ in candidates]
        for (chunk, _), results in zip(tasks, done):
            for (c, k), result in zip(chunk, results):
                points[c][k] = result[0]
        return points

    return evaluate


def _fit_replicates(plan, replicates):
    """Simulates and refits replicates of a bootstrap; module-level so that Dask workers import it by name."""
    return _core.fit_replicates(plan, replicates)


def _replicates_on(client):
    """Refits the replicates of a bootstrap on the cluster, a few to a task
    (about four tasks per worker), and tells how many are done as they come
    back; the estimates are put in the order of the replicates."""

    def run(plan, replicates, done):
        from dask.distributed import as_completed

        workers = max(1, len(client.scheduler_info().get("workers", {})))
        size = max(1, -(-len(replicates) // (4 * workers)))
        chunks = [replicates[start:start + size] for start in range(0, len(replicates), size)]
        futures = [client.submit(_fit_replicates, plan, chunk, pure=False) for chunk in chunks]
        where = {future.key: k for k, future in enumerate(futures)}
        results = [None] * len(chunks)
        finished = 0
        try:
            for future in as_completed(futures):
                results[where[future.key]] = future.result()
                finished += len(results[where[future.key]])
                done(finished)
        except BaseException:
            client.cancel(futures)
            raise
        return [fit for chunk in results for fit in chunk]

    return run


def fit(data, free, *, trials=2000, seed=None, client=None, progress=True, workers=None, states=None, state=None,
        noise="auto", sensitivity=None, bootstrap=0, **fixed):
    """Fits the free parameters of the model to measured mean peak currents.

    data: the path of a measured data file (CSV with a header row: V2_mV,
    mean_peak_pA and sem_pA, or std_pA with n; optionally mean_quanta with
    sem_quanta or n, failure_rate with n; or the isv CSV or JSON output of
    cleftsim-batch; fields separated by commas, semicolons or tabs, decimal
    commas with semicolons or tabs, fields quoted as spreadsheets and R
    write them; at most 200 rows and 4 MiB), a pandas DataFrame or a dict
    of arrays with those columns (read column by column, None and NaN
    missing; other columns, text ones too, passed over). Data that cannot be
    used raise ValueError naming the row, the column and the reason.

    free: the parameters to fit, a dict of name -> (low, high), or None for
    the editor's range, e.g. {"Rg": (0, 5), "N": None}; or a list of names.
    The free parameters move on their editors' grids (Rg in steps of 0.01,
    N whole numbers, ...), so every fitted set can be typed and run.

    trials: simulated trials per clamp potential and candidate (1..10000).
    seed: the seed of the simulated trials, the same for every candidate
    (common random numbers); None takes a fresh one, recorded in the
    provenance. client: a dask.distributed Client to simulate candidates on
    its workers; without it they run on `workers` local threads (default one
    per core). The result does not depend on where the candidates ran.
    progress: a progress bar of the candidates simulated (False: none; a
    callable is called with the number of candidates simulated so far).

    The other parameters keep the default set, the stored state `state` of
    the states file `states`, or the values given as keywords (background,
    Rg, N, ...).

    noise: the recording noise, pA rms added to every recorded trial: "auto"
    fits it from the recorded spreads (std_pA, or sem_pA, with n) as a
    nuisance parameter, a number fixes it, "none" leaves it and the recorded
    spreads out. sensitivity: the fixed parameters moved both ways to see
    how far the estimates follow them, None for Gmax by 10 % and N by 1, a
    dict such as {"Gmax": "10%", "tc": 0.2}, or "none".

    bootstrap: B recordings of the data's design (its potentials, the trials
    n at each, its columns) simulated at the estimates with the fitted
    recording noise, each from seeds of its own, refitted with the same free
    parameters, ranges and noise, and the 95 % percentile intervals of their
    estimates (`result.bootstrap`); 0 (the default) for none, at most 10000.
    The replicates run on `workers` local threads or, with `client`, as Dask
    tasks, with the same result.

    The likelihood is Gaussian: the means of a potential are compared
    jointly with their covariance as simulated, the spread of a mean over n
    recorded trials being the model's standard deviation (with the noise's)
    over sqrt(n), plus the simulation's own error; without n the recorded
    standard error is taken as known. The 95 % interval of a parameter is the
    set of its grid values whose profile (-2 log L with the other free
    parameters re-optimised) lies within 3.84 of the minimum; "bounded" is
    False where it reaches its range's end, and an interval from Rg or Gb = 0
    is an upper limit (`upper_limits`). Each of the result's warnings is also
    raised as a FitWarning.

    Returns a FitResult; the same arguments give the same numbers as
    cleftsim-batch fit. Ctrl-C stops the fit (KeyboardInterrupt).
    """
    if workers is not None:
        workers = runs.plain("workers", workers)
        if isinstance(workers, bool) or not isinstance(workers, int) or workers < 1:
            raise ValueError(f"workers {workers!r}: a whole number of at least 1")
    if isinstance(data, (str, os.PathLike)):
        data_path, data_text, data_name = os.fspath(data), None, os.fspath(data)
    else:
        data_path, data_text = None, _data_columns(data)
        data_name = "<DataFrame>" if hasattr(data, "columns") else "<dict>"
    fixed = runs.plain_arguments(fixed)
    if seed is not None:
        fixed["seed"] = runs.plain("seed", seed)
    trials = runs.plain("trials", trials)
    evaluate = _evaluate_on(client) if client is not None else None
    fixed["_noise"] = _noise_text(noise)
    fixed["_sensitivity"] = _sensitivity_text(sensitivity)
    bootstrap = runs.plain("bootstrap", bootstrap)
    if isinstance(bootstrap, bool) or not isinstance(bootstrap, int):
        raise TypeError(f"bootstrap must be a whole number of replicates, not {bootstrap!r}")
    fixed["_bootstrap"] = (bootstrap, _replicates_on(client) if client is not None else None)

    if callable(progress):
        def tell(step):
            progress(step["evaluations"])

        return _warned(FitResult(_fit(data_path, data_text, data_name, free, trials, states, state, workers,
                                      tell, evaluate, fixed)))
    with _progress_bar(None, progress, "fit") as bar:
        bar.unit = "candidate"

        def advance(step):
            if hasattr(bar, "set_postfix_str"):
                bar.set_postfix_str(f"{step['stage']} ({step['stage_index'] + 1}/{step['stage_count']})",
                                    refresh=False)
            bar.update(step["evaluations"] - bar.n)

        text = _fit(data_path, data_text, data_name, free, trials, states, state, workers,
                    advance if progress else None, evaluate, fixed)
    return _warned(FitResult(text))


def _warned(result):
    for warning in result.warnings:
        warnings.warn(f"{warning['text']} ({warning['code']})", FitWarning, stacklevel=3)
    return result


def _fit(data_path, data_text, data_name, free, trials, states, state, workers, progress, evaluate, fixed):
    noise = fixed.pop("_noise")
    sensitivity = fixed.pop("_sensitivity")
    bootstrap, replicates = fixed.pop("_bootstrap")
    return _core.fit(data_path, data_text, data_name, _free_list(free), trials, states, state, workers or 0,
                     progress, evaluate, noise, sensitivity, bootstrap, replicates, **fixed)


class FitResult:
    """The result of a fit: estimates, 95 % profile intervals, whether each
    interval is bounded by the data, chi-square, degrees of freedom, p-value,
    the points, the profiles and the provenance, as cleftsim-batch fit writes
    them (`json` is that text)."""

    def __init__(self, text):
        self.json = text
        members = json.loads(text)
        self._members = members
        self.estimates = dict(members["estimates"])
        self.intervals = {name: tuple(ends) for name, ends in members["intervals"].items()}
        self.bounded = dict(members["bounded"])
        self.unbounded_ends = {name: list(ends) for name, ends in members["unbounded_ends"].items()}
        self.chi2 = members["chi2"]
        self.dof = members["dof"]
        self.p_value = members["p_value"]
        self.noise = dict(members["noise_pA"])
        self.upper_limits = dict(members["upper_limits"])
        self.sensitivity = {name: dict(member) for name, member in members["sensitivity"].items()}
        self.warnings = [dict(warning) for warning in members["warnings"]]
        # The bootstrap's replicates, method and intervals; None where none was asked.
        self.bootstrap = members.get("bootstrap")
        self.minus2_log_likelihood = members["minus2_log_likelihood"]
        self.provenance = members["provenance"]

    def __reduce__(self):
        return (type(self), (self.json,))

    def __eq__(self, other):
        return isinstance(other, FitResult) and other.json == self.json

    def table(self):
        """A pandas DataFrame, a row per measured value: V2_mV, quantity,
        data, data_sem, model, model_sem, sd (the spread in the likelihood)
        and residual."""
        import pandas as pd

        frame = pd.DataFrame(self._members["points"])
        frame.attrs["provenance"] = json.loads(json.dumps(self.provenance))
        return frame

    def profiles(self):
        """The profile of each free parameter as a pandas DataFrame: its
        values, the other free parameters re-optimised there and delta, the
        rise of -2 log L over the minimum."""
        import pandas as pd

        return {name: pd.DataFrame(rows) for name, rows in self._members["profiles"].items()}

    def _parameter(self, name):
        return _PARAMETERS[name]

    def _value(self, name, value):
        """A value of a parameter with its editor's decimals, as the windows show it."""
        return f"{value:.{self._parameter(name)['decimals']}f}"

    def model_curve(self):
        """The model at the estimates at every potential the V2 editor holds,
        +40 down to -150 mV, each simulated with the seed the fit gave it:
        a dict of numpy arrays V2_mV, mean_peak_pA and mean_quanta through
        the fit's own model values at the measured potentials."""
        prov = self.provenance
        parameters = {name: info["default"] for name, info in _PARAMETERS.items()}
        parameters.update(prov["fixed"])
        parameters.update(self.estimates)
        parameters["BackgroundOn"] = prov["BackgroundOn"]
        return _core.fit_curve(parameters, prov["seed"], prov["trials"])

    def _lines(self):
        """The result in words, a line each: the estimates with their intervals
        or limits, the goodness of the fit and what made it."""
        lines = []
        for name, value in self.estimates.items():
            low, high = self.intervals[name]
            unit = self._parameter(name)["unit"]
            unit = " " + unit if unit else ""
            if name in self.upper_limits:
                lines.append(f"{name} < {self._value(name, self.upper_limits[name])}{unit} (95 %): the data do not "
                             f"exclude {name} = 0  (best value {self._value(name, value)})")
                continue
            line = (f"{name} = {self._value(name, value)}{unit}  "
                    f"(95 % interval {self._value(name, low)} .. {self._value(name, high)})")
            ends = self.unbounded_ends[name]
            if ends:
                line += f"  not bounded by the data at the {' and '.join(ends)} end of its range"
            lines.append(line)
        if self.noise.get("estimate") is not None:
            low, high = self.noise["interval"]
            lines.append(f"recording noise {self.noise['estimate']} pA rms ({self.noise['mode']}"
                         + (f", 95 % interval {low} .. {high})" if self.noise["mode"] == "fitted" else ")"))
        elif "note" in self.noise:
            lines.append(f"recording noise not fitted: {self.noise['note']}")
        if self.bootstrap:
            for name, (low, high) in self.bootstrap["intervals"].items():
                lines.append(f"{name} bootstrap 95 % interval {self._value(name, low)} .. {self._value(name, high)} "
                             f"({self.bootstrap['method']}, {self.bootstrap['replicates']} recordings simulated at "
                             f"the estimates and refitted)")
        p = "n/a" if self.p_value is None else f"{self.p_value:.4g}"
        lines.append(f"chi-square {self.chi2:.3f} with {self.dof} degrees of freedom, p = {p}")
        prov = self.provenance
        lines.append(f"{prov['trials']} simulated trials per potential, seed {prov['seed']}")
        lines.append(f"the fitted sweep: {prov['command']}")
        for warning in self.warnings:
            lines.append(f"warning ({warning['code']}): {warning['text']}")
        return lines

    def report(self):
        """The result in words, as a scientist reads it."""
        title = f"Fit of {', '.join(self.estimates)} to {self.provenance['data']['file']}"
        return "\n".join([title] + ["  " + line for line in self._lines()])

    def __repr__(self):
        return self.report()

    def _repr_html_(self):
        """A notebook's view: a table of the estimates with their intervals
        or limits, then the goodness of the fit and what made it."""
        import html

        rows = []
        for name, value in self.estimates.items():
            low, high = self.intervals[name]
            unit = self._parameter(name)["unit"]
            ends = self.unbounded_ends[name]
            limits = f"not bounded by the data at the {' and '.join(ends)} end" if ends else "bounded by the data"
            if name in self.upper_limits:
                low, high = 0, self.upper_limits[name]
                limits = f"upper limit: the data do not exclude {name} = 0"
            rows.append("<tr>" + "".join(f"<td>{html.escape(str(cell))}</td>" for cell in (
                name, self._value(name, value), unit, f"{self._value(name, low)} .. {self._value(name, high)}",
                limits)) + "</tr>")
        head = "".join(f"<th>{h}</th>" for h in ("parameter", "estimate", "unit", "95 % interval", "limits"))
        notes = "".join(f"<li>{html.escape(line)}</li>" for line in self._lines()[len(self.estimates):])
        title = html.escape(f"Fit of {', '.join(self.estimates)} to {self.provenance['data']['file']}")
        return (f"<p><b>{title}</b></p><table><thead><tr>{head}</tr></thead><tbody>{''.join(rows)}</tbody></table>"
                f"<ul>{notes}</ul>")

    def plot(self, axes=None):
        """Draws with matplotlib the recording with its own standard errors,
        the model at the estimates over the whole sweep of potentials and
        each free parameter's profile; on the axes given (one Axes for the
        data alone, or one more than the free parameters) or a new figure.
        Returns the figure."""
        from .plots import _pyplot, plot_fit

        _pyplot()
        return plot_fit(self, axes)
