"""The three experiments as Python functions: numpy scalars and arrays taken
as the numbers they hold, every parameter in the signature and the help from
the program's parameter table, and results that turn into pandas tables."""

import copy
import inspect
import warnings

import numpy as np

from . import _core

PARAMETERS = _core.parameter_table()
_NAMES = [p["name"] for p in PARAMETERS]
# The program's experiment table by name: most_trials, default_trials,
# seed_per_trial (a seed per trial, a row per trial in a grid), text_format.
EXPERIMENTS = {e["name"]: e for e in _core.experiment_table()}


def plain(name, value):
    """A numpy scalar or 0-d array as the Python bool, int or float it holds;
    anything else as it is. A float32 is the float it holds, which the run
    takes as the value it stands for (np.float32(0.3) as 0.30); a float16, too
    coarse for that, is taken as the shortest decimal that names it."""
    if isinstance(value, np.ndarray):
        if value.ndim != 0:
            raise TypeError(f"{name} must be a single value, not an array of shape {value.shape}")
        value = value[()]
    if isinstance(value, np.bool_):
        return bool(value)
    if isinstance(value, np.integer):
        return int(value)
    if isinstance(value, np.floating):
        return float(str(value)) if value.dtype.itemsize < 4 else float(value)
    return value


def plain_seeds(seeds):
    """Seeds of Records from any sequence or 1-d array, as Python ints."""
    if isinstance(seeds, np.ndarray):
        if seeds.ndim != 1:
            raise TypeError(f"seeds must be a 1-d sequence, not an array of shape {seeds.shape}")
    elif isinstance(seeds, (str, bytes)) or not hasattr(seeds, "__iter__"):
        raise TypeError("seeds must be a sequence of ints")
    return [plain("seeds", s) for s in seeds]


def plain_arguments(kwargs):
    """The keyword arguments of a run with numpy values made plain."""
    return {k: plain_seeds(v) if k == "seeds" and v is not None else plain(k, v) for k, v in kwargs.items()}


class Result(dict):
    """The result of one run: a dict of its members (numpy arrays, numbers)
    with the provenance beside them, as `result.provenance` and
    `result["provenance"]`: the program and version, the experiment, the
    seed (or seeds), the trials, BackgroundOn and every parameter as taken."""

    def __init__(self, members, provenance):
        super().__init__(members)
        self.provenance = provenance

    def __missing__(self, key):
        if key == "provenance":
            return self.provenance
        raise KeyError(key)

    def __reduce__(self):
        return (type(self), (dict(self), self.provenance))

    def _frame(self, columns, run=False, trials_name="trials"):
        """A table of columns with its own copy of the provenance in its attrs;
        with run=True also the run's seed and trial count in every row."""
        import pandas as pd

        frame = pd.DataFrame(columns)
        if run:
            if "seed" not in frame:
                frame["seed"] = np.int64(self.provenance["seed"])
            if trials_name not in frame:
                frame[trials_name] = np.int64(self.provenance["trials"])
        frame.attrs["provenance"] = copy.deepcopy(self.provenance)
        return frame

    def _summary(self):
        p = self.provenance
        seeds = p["seeds"] if "seeds" in p else [p["seed"]]
        seed = f"seed {seeds[0]}" if len(seeds) == 1 else f"seeds {seeds[0]}, ... ({len(seeds)} seeds)"
        defaults = _core.defaults()
        changed = [f"{k} {v!r}" for k, v in p["parameters"].items() if v != defaults[k]]
        if p["BackgroundOn"]:
            changed.insert(0, "background on")
        return (f"{type(self).__name__}: {p['experiment']}, {seed}, {p['trials']} trials; "
                + (", ".join(changed) if changed else "default parameters"))

    def __repr__(self):
        return f"<{self._summary()}; members {', '.join(self)}>"

    def _repr_pretty_(self, printer, cycle):
        printer.text(repr(self))

    def _repr_html_(self):
        import html

        frame = self._display_frame()
        return (f"<p>{html.escape(self._summary())}</p>"
                + frame.to_html(max_rows=12, show_dimensions=True))


class IsvResult(Result):
    """An Is vs V2 sweep: per clamp potential V2_mV (int64) the trials, the
    means and the standard deviations of the number of quanta, the peak
    current and the EPSC amplitude (float64; NaN below two trials).
    pd.DataFrame(result) or result.table() gives a row per potential."""

    experiment = "isv"
    # The member with an entry per row of a grid's table; None: a row per run.
    row_key = "V2_mV"
    # What the experiment's function does, the first part of its help.
    run_doc = (
        "The Is vs V2 sweep from +40 to -140 mV, `trials` trials per potential.\n"
        "Returns an IsvResult: V2_mV, trials, mean_quanta, mean_peak_pA, mean_epsc_pA\n"
        "and std_quanta, std_peak_pA, std_epsc_pA (sample standard deviations);\n"
        "pd.DataFrame(result) or result.table() is a row per potential.\n"
        "The sweep sets the clamp potential itself: the V2 given (or the default)\n"
        "is checked and recorded with the parameters but not used, as in the\n"
        "window; a grid over V2 for isv is refused."
    )

    def table(self, run=False):
        """A pandas DataFrame, a row per potential, a copy of the provenance in
        its attrs (pd.DataFrame(result) gives the same rows without it). With
        run=True every row also carries the run's seed (the trials are there
        already), so that a pd.concat of runs keeps which run made which row."""
        return self._frame({k: v for k, v in self.items() if k != "note"}, run)

    def _display_frame(self):
        return self.table()

    def plot(self, axes=None):
        """The window's figures with matplotlib: quanta, peak current and (with
        the background) EPSC amplitude against V2, means with one-SD bands.
        Draws on the axes given (2 or 3) or a new figure; returns the figure."""
        from .plots import plot_isv

        return plot_isv(self, axes)


class RecordsResult(Result):
    """Records trials: t_ms (321 steps), currents_pA (trials x 321), quanta
    and seeds per trial. result.table() gives a row per trial,
    result.table(times=True) a row per trial and time step."""

    experiment = "records"
    # The member with an entry per row of a grid's table; None: a row per run.
    row_key = "quanta"
    # What the experiment's function does, the first part of its help.
    run_doc = (
        "Records trials at V2 over 16 msec, trial r of seed S seeded with\n"
        "point_seed(S, r), the rule of a grid's points\n"
        "(or one trial per seed of `seeds`, any sequence or 1-d array of ints).\n"
        "Returns a RecordsResult: t_ms, currents_pA (trials x 321), quanta, seeds;\n"
        "result.table() a row per trial, result.table(times=True) per trial and time."
    )

    def table(self, times=False, run=False):
        """A pandas DataFrame: per trial its number (1, 2, ...), seed and quanta;
        with times=True per trial and time step also t_ms and current_pA. A
        copy of the provenance is in its attrs. With run=True every row also
        carries the run's trial count (each trial has its seed already), so
        that a pd.concat of runs keeps them."""
        trials = len(self["quanta"])
        columns = {
            "trial": np.arange(1, trials + 1, dtype=np.int64),
            "seed": self["seeds"].astype(np.int64),
            "quanta": self["quanta"].astype(np.int64),
        }
        if times:
            steps = len(self["t_ms"])
            columns = {k: np.repeat(v, steps) for k, v in columns.items()}
            columns["t_ms"] = np.tile(self["t_ms"], trials)
            columns["current_pA"] = self["currents_pA"].reshape(-1)
        return self._frame(columns, run)

    def _display_frame(self):
        return self.table()

    def plot(self, axes=None):
        """The currents of the trials against time with matplotlib, on the
        axes given or a new figure; returns the figure."""
        from .plots import plot_records

        return plot_records(self, axes)


class HistogramsResult(Result):
    """A Histograms run: the count tables quanta, current, latency and joint
    (int64; current is empty when V2 = 0) and the means, r and the full scale
    of the current (float64; NaN where there is no value). result.tables()
    gives a pandas DataFrame per distribution."""

    experiment = "histograms"
    # The member with an entry per row of a grid's table; None: a row per run.
    row_key = None
    # What the experiment's function does, the first part of its help.
    run_doc = (
        "One Histograms run of `trials` trials at V2.\n"
        "Returns a HistogramsResult with every member of the JSON output (count\n"
        "tables as int64 arrays, NaN for a missing value); result.tables() gives\n"
        "a pandas DataFrame per distribution.\n"
        "The peak current of a trial is its most inward current, as the window\n"
        "takes it: at V2 > 0 every current is outward, every peak is 0 pA, and the\n"
        "run warns (UserWarning, once per call) with the note its result holds as\n"
        "result[\"note\"]; the Is vs V2 sweep shows the outward peaks."
    )

    def table(self, name, run=False):
        """The distribution `name` as a pandas DataFrame, a copy of the
        provenance in its attrs. With run=True every row also carries the run's
        seed and its trial count as run_trials (trials counts the row's
        trials), so that a pd.concat of runs keeps them. The tables:
        quanta: m, trials; current: bin, current_pA (the bin's current), trials;
        latency: step, t_ms (the middle of the step), trials and kind:
        "release" for the steps of the spike, "failed or late" for the last
        row, which holds the failures and the releases after the spike and
        has no time (t_ms NaN); joint: m, step, trials.

        The mean latency (mean_latency_ms) is that of the "release" rows:
            t = result.table("latency"); t = t[t.kind == "release"]
            (t.t_ms * t.trials).sum() / t.trials.sum()"""
        if name == "quanta":
            counts = self["quanta"]
            return self._frame({"m": np.arange(len(counts), dtype=np.int64), "trials": counts}, run, "run_trials")
        if name == "current":
            counts = self["current"]
            bins = np.arange(len(counts), dtype=np.int64)
            scale = self["max_current_pA"] / (10 * self["N"])
            return self._frame({"bin": bins, "current_pA": bins * scale, "trials": counts}, run, "run_trials")
        if name == "latency":
            counts = self["latency"]
            steps = np.arange(len(counts), dtype=np.int64)
            # The last step holds the failures and the late releases: no time.
            t_ms = steps * 0.05 + 0.025
            t_ms[-1:] = np.nan
            kind = np.array(["release"] * (len(counts) - 1) + ["failed or late"], dtype=object)
            return self._frame({"step": steps, "t_ms": t_ms, "trials": counts, "kind": kind}, run, "run_trials")
        if name == "joint":
            joint = self["joint"]
            m, step = np.indices(joint.shape, dtype=np.int64)
            return self._frame({"m": m.reshape(-1), "step": step.reshape(-1), "trials": joint.reshape(-1)}, run,
                               "run_trials")
        raise ValueError(f"table {name!r}: unknown; accepted quanta, current, latency, joint")

    def tables(self, run=False):
        """A pandas DataFrame per distribution: {"quanta", "current", "latency", "joint"}."""
        return {name: self.table(name, run) for name in ("quanta", "current", "latency", "joint")}

    def _display_frame(self):
        import pandas as pd

        names = ("mean_quanta", "mean_peak_pA", "mean_latency_ms", "r", "max_current_pA")
        return pd.DataFrame({"value": [self[n] for n in names]}, index=list(names))

    def plot(self, axes=None):
        """The four histograms of the window with matplotlib (quanta, current,
        latency, the joint map), on the 4 axes given or a new figure; returns
        the figure."""
        from .plots import plot_histograms

        return plot_histograms(self, axes)


# The result class of every experiment of the table, by its name.
_RESULTS = {cls.experiment: cls for cls in Result.__subclasses__()}
if set(_RESULTS) != set(EXPERIMENTS):
    raise ImportError(f"cleftsim: results for {sorted(_RESULTS)}, experiments {sorted(EXPERIMENTS)}")


def _wrap(experiment, members):
    provenance = members.pop("provenance")
    return _RESULTS[experiment](members, provenance)


def _argument_lines(experiment):
    """The help's line of every keyword argument the program describes."""
    return "\n".join(f"    {name:<11} {text}" for name, _, _, text in _core.arguments(experiment) if text)


_COMMON_DOC = """
Every argument is a keyword; numpy scalars and 0-d arrays are taken as the
numbers they hold. Without a seed the run takes a fresh one from the
operating system; the provenance records it.

{arguments}

A value is taken when it is one its editor can hold (range and decimals as
above); a float within a relative 1e-9 of such a value (0.1 * 3, the points
of np.linspace), or the float32 nearest to it (np.float32(0.3), also from a
float32 array's tolist()), is taken as that value, which the run uses and
records; a decimal.Decimal is read from its text, as cleftsim-batch reads
its arguments. Anything else raises ValueError naming the nearest value
accepted and the accepted range; NaN and infinities are not finite numbers.
"""

def _signature(experiment):
    keyword = inspect.Parameter.KEYWORD_ONLY
    return inspect.Signature([inspect.Parameter(name, keyword, default=default, annotation=annotation)
                              for name, default, annotation, _ in _core.arguments(experiment)])


def _run(experiment, kwargs, cancel=None, stacklevel=3):
    """Runs an experiment; a grid hands its runs a _core.CancelToken as cancel."""
    result = _wrap(experiment, getattr(_core, experiment)(**plain_arguments(kwargs), _cancel=cancel))
    if "note" in result:
        warnings.warn(result["note"], UserWarning, stacklevel=stacklevel)
    return result


def _make(experiment):
    def run(*args, **kwargs):
        if args:
            raise TypeError(f"{experiment}() takes keyword arguments only")
        return _run(experiment, kwargs)

    run.__name__ = run.__qualname__ = experiment
    run.__module__ = "cleftsim"
    run.__signature__ = _signature(experiment)
    run.__doc__ = _RESULTS[experiment].run_doc + "\n" + _COMMON_DOC.format(arguments=_argument_lines(experiment))
    return run


records = _make("records")
isv = _make("isv")
histograms = _make("histograms")


def check(experiment, **kwargs):
    """Checks the arguments of a run as the run itself would, without running it."""
    _core.check(experiment, **plain_arguments(kwargs))


def batch_command(experiment, **kwargs):
    """The cleftsim-batch command line that runs exactly these arguments."""
    return _core.batch_command(experiment, **plain_arguments(kwargs))


def defaults():
    """The default parameter set as keyword arguments: background and every
    parameter by name, {'background': False, 'N': 10, 'Rg': 0.5, ...}."""
    return _core.defaults()


def fresh_seed():
    """A seed from the operating system's entropy, as a run without a seed takes."""
    return _core.fresh_seed()


def cancel_running():
    """Stops every run under way in this process, in any thread, at its next
    trial; each raises KeyboardInterrupt. (Ctrl-C on a grid stops only its own.)"""
    _core.cancel_running()
