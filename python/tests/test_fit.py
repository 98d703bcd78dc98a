"""Fits of measured data from Python: the same bytes as cleftsim-batch fit,
every form of data, the refusals, a cluster and Ctrl-C."""

import json
import os
import re
import pickle
import signal
import subprocess
import textwrap

import numpy as np
import pandas as pd
import pytest

import cleftsim
from conftest import BATCH, PYTHON, batch

POTENTIALS = [-100, -80, -60, -40, -20, 10, 20, 40]


def _recording_file(path, Rg, seed):
    """Data made by the batch tool at Rg: 30 trials at each of eight
    potentials, with the standard deviations of those trials."""
    sweep = json.loads(batch("isv", "--seed", seed, "--trials", 30, "--Rg", Rg, "--format", "json"))
    points = {p["V2_mV"]: p for p in sweep["points"]}
    rows = ["V2_mV,mean_peak_pA,std_pA,n"]
    rows += [f"{V},{points[V]['mean_peak_pA']},{points[V]['std_peak_pA']},{points[V]['trials']}" for V in POTENTIALS]
    path.write_text("\n".join(rows) + "\n")
    return path


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    """A recording at Rg = 1.50."""
    return _recording_file(tmp_path_factory.mktemp("fit") / "d.csv", "1.50", 5)


def test_python_equals_the_batch_tool_and_holds_the_true_value(recording, monkeypatch):
    monkeypatch.chdir(recording.parent)
    printed = batch("fit", "--data", "d.csv", "--free", "Rg", "--seed", 3, "--trials", 1000)
    assert batch("fit", "--data", "d.csv", "--free", "Rg", "--seed", 3, "--trials", 1000) == printed
    result = cleftsim.fit("d.csv", free={"Rg": None}, seed=3, trials=1000, progress=False)
    assert result.json == printed
    low, high = result.intervals["Rg"]
    assert low <= 1.50 <= high and result.bounded["Rg"]
    assert low <= result.estimates["Rg"] <= high
    assert pickle.loads(pickle.dumps(result)) == result
    # The command of the fitted set runs it.
    assert result.provenance["command"].startswith("cleftsim-batch isv --seed 3 --trials 1000 --Rg ")
    table = result.table()
    assert list(table.V2_mV) == POTENTIALS
    assert np.allclose(table.residual, (table.data - table.model) / table.sd, atol=2e-6)
    profile = result.profiles()["Rg"]
    assert profile.delta.min() == 0 and profile.delta.max() > 3.84
    assert (profile[profile.delta <= 3.84].Rg.between(low, high)).all()


@pytest.mark.parametrize("form", ["DataFrame", "dict", "float32 columns", "a text column with commas",
                                  "missing and odd values in a column passed over"])
def test_data_in_memory_fits_as_the_file_does(recording, form):
    frame = pd.read_csv(recording)
    if form == "a text column with commas":
        data = frame.assign(cell=[f"cell {i}, seal {i}" for i in range(len(frame))])
    elif form == "missing and odd values in a column passed over":
        # pandas' missing value is absent, a truth value and a date are read as their text.
        odd = [pd.NA, True, pd.Timestamp("2024-05-01")]
        data = frame.assign(cell=[odd[i % 3] for i in range(len(frame))])
    elif form == "dict":
        data = {name: frame[name].to_numpy() for name in frame.columns}
    elif form == "float32 columns":
        # float32 loses the means' last digits: another fit, but no refusal.
        data = frame.astype({"mean_peak_pA": np.float32, "std_pA": np.float32})
    else:
        data = frame
    from_file = cleftsim.fit(str(recording), free=["Rg"], seed=4, trials=300, progress=False)
    in_memory = cleftsim.fit(data, free=["Rg"], seed=4, trials=300, progress=False)
    assert in_memory.provenance["data"]["file"] in ("<DataFrame>", "<dict>")
    if form in ("a text column with commas", "missing and odd values in a column passed over"):
        # Another table, so another digest; the same numbers.
        assert in_memory.estimates == from_file.estimates and in_memory.intervals == from_file.intervals
    elif form == "float32 columns":
        assert abs(in_memory.estimates["Rg"] - from_file.estimates["Rg"]) <= 0.05
    else:
        assert in_memory.estimates == from_file.estimates and in_memory.intervals == from_file.intervals
        assert in_memory.provenance["data"]["sha256"] == from_file.provenance["data"]["sha256"]


BROKEN = {
    "not a number": ("V2_mV,mean_peak_pA,sem_pA\n-60,-20,1\n-20,x,1\n", "row 2 (line 3), column mean_peak_pA"),
    "repeated": ("V2_mV,mean_peak_pA,sem_pA\n-60,-20,1\n-60,-5,1\n", "row 2 (line 3), column V2_mV: -60: repeated"),
    "no spread": ("V2_mV,mean_peak_pA\n-60,-20\n-20,-5\n", "row 1 (line 2), column sem_pA: missing"),
    "too few": ("V2_mV,mean_peak_pA,sem_pA\n-60,-20,1\n-20,-5,1\n", "2 measured values for 2 free parameters"),
}


@pytest.mark.parametrize("text, message", BROKEN.values(), ids=BROKEN.keys())
def test_broken_data_refused_alike(tmp_path, text, message):
    path = tmp_path / "broken.csv"
    path.write_text(text)
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        cleftsim.fit(str(path), free=["Rg", "N"], seed=1, progress=False)
    done = subprocess.run([BATCH, "fit", "--data", str(path), "--free", "Rg,N", "--seed", "1"], capture_output=True,
                          text=True)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.count("\n") == 1 and message in done.stderr


TABLES = {
    "a text in a number column": ({"V2_mV": [-60, -20], "mean_peak_pA": [-20.0, "x"], "sem_pA": [1, 1]},
                                  "row 2, column mean_peak_pA: \"x\": not a number"),
    "a missing value": ({"V2_mV": [-60, None], "mean_peak_pA": [-20.0, -5.0], "sem_pA": [1, 1]},
                        "row 2, column V2_mV: missing"),
    "NaN is missing": ({"V2_mV": [-60, -20], "mean_peak_pA": [-20.0, -5.0], "sem_pA": [1, float("nan")]},
                       "row 2, column sem_pA: missing"),
    "columns of two lengths": ({"V2_mV": [-60, -20], "mean_peak_pA": [-20.0], "sem_pA": [1, 1]},
                               "column mean_peak_pA: 1 values where column V2_mV has 2"),
}


@pytest.mark.parametrize("table, message", TABLES.values(), ids=TABLES.keys())
@pytest.mark.parametrize("form", ["dict", "DataFrame"])
def test_tables_refused_by_row_and_column(table, message, form):
    if form == "DataFrame":
        if len({len(v) for v in table.values()}) > 1:
            pytest.skip("a DataFrame has columns of one length")
        table = pd.DataFrame(table)
    with pytest.raises(ValueError, match="^<" + form + ">: " + message.replace("(", r"\(").replace(")", r"\)")):
        cleftsim.fit(table, free=["Rg"], seed=1, progress=False)


@pytest.mark.parametrize("separator, decimal", [(";", ","), ("\t", ","), (",", ".")])
def test_spreadsheet_files_fit_as_the_plain_file_does(recording, tmp_path, separator, decimal):
    frame = pd.read_csv(recording)
    path = tmp_path / "sheet.csv"
    frame.to_csv(path, sep=separator, decimal=decimal, index=False, quoting=1)  # every field quoted, as R does
    plain = cleftsim.fit(str(recording), free=["Rg"], seed=4, trials=300, progress=False)
    sheet = cleftsim.fit(str(path), free=["Rg"], seed=4, trials=300, progress=False)
    assert sheet.estimates == plain.estimates and sheet.intervals == plain.intervals


@pytest.mark.parametrize("free, error", [
    ({"V2": None}, ValueError),
    ({"Rg": (2, 1)}, ValueError),
    ({"Rg": (0, 1, 2)}, TypeError),
    ({}, TypeError),
])
def test_bad_free_parameters(recording, free, error):
    with pytest.raises(error):
        cleftsim.fit(str(recording), free=free, seed=1, progress=False)


def test_free_and_fixed_at_once_refused(recording):
    with pytest.raises(TypeError, match="Rg both in free and as a fixed value"):
        cleftsim.fit(str(recording), free=["Rg"], Rg=1.5, progress=False)


def test_unseeded_fit_records_its_seed(recording):
    result = cleftsim.fit(str(recording), free={"Rg": (1, 2)}, trials=50, progress=False)
    again = cleftsim.fit(str(recording), free={"Rg": (1, 2)}, trials=50, seed=result.provenance["seed"],
                         progress=False)
    assert again == result


def test_the_same_fit_on_a_cluster(recording, dask_client):
    local = cleftsim.fit(str(recording), free={"Rg": (0.5, 3), "N": (8, 12)}, seed=2, trials=100, progress=False)
    remote = cleftsim.fit(str(recording), free={"Rg": (0.5, 3), "N": (8, 12)}, seed=2, trials=100, progress=False,
                          client=dask_client)
    assert remote.json == local.json


def test_ctrl_c_stops_a_fit(recording):
    # The fit goes on for as long as its progress hook lets it: the hook
    # waits a tenth of a second after every batch, so that no machine is fast
    # enough to end it before Ctrl-C, which a timer sends once the first
    # batch is done (while the next is simulated or the hook waits).
    script = textwrap.dedent(f"""
        import os, signal, sys, threading, time, cleftsim
        started = []
        def hook(evaluations):
            if not started:
                started.append(evaluations)
                threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT)).start()
                print("running", flush=True)
            time.sleep(0.1)
        try:
            cleftsim.fit({str(recording)!r}, free={{"Rg": None, "Gmax": None}}, seed=1, trials=10000,
                         progress=hook)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            cleftsim.fit({str(recording)!r}, free={{"Rg": (1, 2)}}, seed=1, trials=20, progress=False)
            print("fits again", flush=True)
            sys.exit(3)
        print("finished", flush=True)
    """)
    done = subprocess.run([PYTHON, "-c", script], capture_output=True, text=True, timeout=600,
                          env=dict(os.environ))
    assert done.stdout == "running\ninterrupted\nfits again\n", done.stderr
    assert done.returncode == 3


@pytest.fixture(scope="module")
def fitted(recording):
    return cleftsim.fit(str(recording), free={"Rg": (0, 3)}, seed=3, trials=300, progress=False)


def test_the_report_writes_values_as_the_editors_do(fitted):
    low, high = fitted.intervals["Rg"]
    line = fitted.report().splitlines()[1]
    assert line.startswith(f"  Rg = {fitted.estimates['Rg']:.2f} GOhm  (95 % interval {low:.2f} .. {high:.2f})")
    # Whole numbers without a point, four decimals for the norm factor, two
    # for a value that ends in zeros.
    assert [fitted._value(name, v) for name, v in [("N", 10), ("gf", 0.15), ("Rg", 0.0), ("Rg", 0.35)]] \
        == ["10", "0.1500", "0.00", "0.35"]


def test_a_notebook_shows_the_fit_as_html(fitted, recording):
    page = fitted._repr_html_()
    low, high = fitted.intervals["Rg"]
    assert page.startswith("<p><b>Fit of Rg to ")
    assert f"<td>Rg</td><td>{fitted.estimates['Rg']:.2f}</td><td>GOhm</td><td>{low:.2f} .. {high:.2f}</td>" in page
    assert "<td>bounded by the data</td>" in page
    assert f"chi-square {fitted.chi2:.3f} with {fitted.dof} degrees of freedom" in page
    # An interval that reaches the end of its range says so.
    open_end = cleftsim.fit(str(recording), free={"Rg": (1.5, 1.6)}, seed=3, trials=100, progress=False)
    assert open_end.unbounded_ends["Rg"]
    assert "not bounded by the data at the" in open_end._repr_html_()


def test_the_model_curve_goes_through_the_fits_model(fitted):
    curve = fitted.model_curve()
    assert list(curve["V2_mV"]) == list(range(40, -151, -1))
    table = fitted.table()
    peaks = table[table.quantity == "peak_pA"]
    assert len(peaks) == len(POTENTIALS)
    for V, model in zip(peaks.V2_mV, peaks.model):
        # The JSON's six decimals.
        assert curve["mean_peak_pA"][40 - V] == pytest.approx(model, abs=5e-7)


@pytest.mark.parametrize("given", ["one Axes", "two Axes", "none"])
def test_plot_draws_into_the_axes_given(fitted, given):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    if given == "one Axes":
        own, ax = plt.subplots()
        figure = fitted.plot(axes=ax)
        axes = [ax]
    elif given == "two Axes":
        own, axes = plt.subplots(1, 2)
        figure = fitted.plot(axes=axes)
    else:
        own = None
        figure = fitted.plot()
        axes = figure.axes
    if own is not None:
        assert figure is own and len(own.axes) == len(axes)
    data = axes[0]
    # The model over the whole sweep, the recording with its own errors.
    V, model = data.lines[0].get_data()
    assert len(V) == 191 and V[0] == 40 and V[-1] == -150
    table = fitted.table()
    peaks = table[table.quantity == "peak_pA"]
    bars = data.collections[0].get_segments()
    np.testing.assert_allclose([b[1][1] - b[0][1] for b in bars], 2 * peaks.data_sem.to_numpy(), rtol=1e-9)
    assert not np.allclose(peaks.data_sem, peaks.sd)  # not the likelihood's spread
    assert data.get_xlabel() == "clamp potential V2 (mV)" and data.get_ylabel() == "mean peak current (pA)"
    if len(axes) > 1:
        assert axes[1].get_xlabel() == "Rg (GOhm)"
        assert axes[1].get_ylabel() == "-2 log L above its minimum"
    plt.close("all")


def test_plot_refuses_axes_of_another_count(fitted):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    _, axes = plt.subplots(1, 3)
    with pytest.raises(ValueError, match="2 axes needed, 3 given"):
        fitted.plot(axes=axes)
    plt.close("all")


@pytest.fixture(scope="module")
def null_recording(tmp_path_factory):
    """A recording at Rg = 0: no feedback at all."""
    return _recording_file(tmp_path_factory.mktemp("null") / "n.csv", "0", 6)


@pytest.mark.parametrize("which, free, bounded, ends, said", [
    ("recording", (0, 5), True, [], "95 % interval"),
    ("recording", (0.5, 1.0), False, ["high"], "not bounded by the data at the high end of its range"),
    ("null", (0, 5), True, [], "the data do not exclude Rg = 0"),
    ("null", (0.3, 5), False, ["low"], "not bounded by the data at the low end of its range"),
])
def test_intervals_said_in_words(recording, null_recording, which, free, bounded, ends, said):
    data = str(recording if which == "recording" else null_recording)
    with _no_check():
        result = cleftsim.fit(data, free={"Rg": free}, seed=4, trials=200, progress=False, sensitivity="none")
    assert result.bounded["Rg"] is bounded
    assert result.unbounded_ends["Rg"] == ends
    assert (("Rg" in result.upper_limits) == (said == "the data do not exclude Rg = 0"))
    report = result.report()
    assert said in report
    if "Rg" in result.upper_limits:
        assert f"Rg < {result.upper_limits['Rg']} GOhm (95 %)" in report
        assert result.upper_limits["Rg"] == result.intervals["Rg"][1]
    # A range end the user set is named as such, and nowhere else.
    assert ("not bounded" in report) == (not bounded)


class _no_check:
    def __enter__(self):
        import warnings
        self._catch = warnings.catch_warnings()
        self._catch.__enter__()
        warnings.simplefilter("ignore", cleftsim.FitWarning)

    def __exit__(self, *args):
        return self._catch.__exit__(*args)


def test_warnings_raised_as_the_batch_tool_writes_them(tmp_path, recording):
    # Amplitudes written as positive numbers: a FitWarning with the JSON's text.
    text = recording.read_text().splitlines()
    rows = [text[0]] + [",".join([r.split(",")[0], str(-float(r.split(",")[1]))] + r.split(",")[2:]) for r in text[1:]]
    flipped = tmp_path / "flipped.csv"
    flipped.write_text("\n".join(rows) + "\n")
    with pytest.warns(cleftsim.FitWarning) as caught:
        result = cleftsim.fit(str(flipped), free={"Rg": (0, 3)}, seed=4, trials=100, progress=False,
                              sensitivity="none")
    codes = [w["code"] for w in result.warnings]
    assert "sign" in codes and "poor_fit" in codes
    assert [str(w.message) for w in caught] == [f"{w['text']} ({w['code']})" for w in result.warnings]
    assert issubclass(cleftsim.FitWarning, UserWarning)
    printed = subprocess.run([BATCH, "fit", "--data", str(flipped), "--free", "Rg=0:3", "--seed", "4", "--trials",
                              "100", "--sensitivity", "none"], capture_output=True, text=True, timeout=600)
    assert printed.stdout == result.json
    assert printed.stderr == "".join(f"warning: {w['text']} ({w['code']})\n" for w in result.warnings)


def test_a_clean_fit_warns_of_nothing(recording):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error", cleftsim.FitWarning)
        result = cleftsim.fit(str(recording), free={"Rg": (0, 5)}, seed=4, trials=200, progress=False,
                              sensitivity="none")
    assert result.warnings == []


@pytest.mark.parametrize("keywords, options, mode", [
    ({"noise": "none"}, ["--noise", "none"], "none"),
    ({"noise": 2.5}, ["--noise", "2.5"], "fixed"),
    ({"noise": np.float32(2.5)}, ["--noise", "2.5"], "fixed"),
    ({"noise": "auto", "sensitivity": {"Gmax": "20%", "tc": 0.5}}, ["--sensitivity", "Gmax=20%,tc=0.5"], "fitted"),
])
def test_noise_and_sensitivity_as_the_batch_tool_takes_them(recording, keywords, options, mode):
    args = {"sensitivity": "none", **keywords}
    with _no_check():
        result = cleftsim.fit(str(recording), free={"Rg": (1, 2)}, seed=4, trials=60, progress=False, **args)
    extra = options if "--sensitivity" in options else options + ["--sensitivity", "none"]
    printed = subprocess.run([BATCH, "fit", "--data", str(recording), "--free", "Rg=1:2", "--seed", "4", "--trials",
                              "60", *extra], capture_output=True, text=True, timeout=600)
    assert printed.stdout == result.json
    assert result.noise["mode"] == mode
    assert (result.noise.get("estimate") is None) == (mode == "none")


@pytest.mark.parametrize("keywords, error, said", [
    ({"noise": -1}, ValueError, "noise"),
    ({"noise": "fitted"}, TypeError, 'noise must be "auto", "none" or a noise in pA rms, not '),
    ({"noise": True}, TypeError, 'noise must be "auto", "none" or a noise in pA rms, not True'),
    ({"sensitivity": {"V2": 5}}, ValueError, "V2"),
    ({"sensitivity": 3}, TypeError, "sensitivity must be None"),
])
def test_bad_noise_and_sensitivity_refused(recording, keywords, error, said):
    with pytest.raises(error, match=re.escape(said)):
        cleftsim.fit(str(recording), free={"Rg": (1, 2)}, seed=4, trials=20, progress=False, **keywords)
