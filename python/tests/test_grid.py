"""Grids: the same table serially, in threads and on a Dask cluster; bad
points refused before anything runs; a failing point reported without losing
the others."""

import pickle
import time
import warnings

import numpy as np
import pandas as pd
import pytest

import cleftsim
import cleftsim.grids

GRID = {"Rg": [0.5, 1.5], "N": [5, 20]}


@pytest.fixture(scope="module")
def serial_table():
    return cleftsim.grid("isv", GRID, seed=11, trials=20, workers=1, progress=False)


def test_grid_points_are_runs_with_their_seeds(serial_table):
    assert len(serial_table) == 4 * 181
    for index, (Rg, N) in enumerate([(0.5, 5), (0.5, 20), (1.5, 5), (1.5, 20)]):
        rows = serial_table[serial_table.point == index]
        seed = cleftsim.point_seed(11, index)
        assert (rows.Rg == Rg).all() and (rows.N == N).all() and (rows.seed == seed).all()
        run = cleftsim.isv(seed=seed, trials=20, Rg=Rg, N=N)
        for column in ("V2_mV", "trials", "mean_quanta", "mean_peak_pA", "mean_epsc_pA"):
            assert np.array_equal(rows[column].to_numpy(), run[column]), column
    assert len({cleftsim.point_seed(11, i) for i in range(1000)}) == 1000
    # Worked out by hand from the rule in point_seed's docstring.
    assert [cleftsim.point_seed(11, i) for i in range(4)] == [3659705834, 3080324272, 552209154, 1918486356]
    assert cleftsim.point_seed(np.int64(11), np.uint8(2)) == 552209154


@pytest.mark.parametrize("place", ["threads", "dask"])
def test_same_table_wherever_it_runs(serial_table, place, request):
    client = request.getfixturevalue("dask_client") if place == "dask" else None
    table = cleftsim.grid("isv", GRID, seed=11, trials=20, workers=2, client=client, progress=False)
    pd.testing.assert_frame_equal(table, serial_table, check_exact=True)


def test_numpy_grids_record_values_as_the_editors_hold_them():
    table = cleftsim.grid("isv", {"Rg": np.linspace(0, 1, 11)}, seed=np.int64(5), trials=2, progress=False)
    assert table.groupby("point").Rg.first().tolist() == [i / 10 for i in range(11)]
    assert table.Rg.dtype == np.float64 and table.attrs["cleftsim"]["seed"] == 5
    # The point with 0.30000000000000004 ran as 0.3 does.
    alone = cleftsim.isv(seed=cleftsim.point_seed(5, 3), trials=2, Rg=0.3)
    assert np.array_equal(table[table.point == 3].mean_peak_pA.to_numpy(), alone["mean_peak_pA"])
    counts = cleftsim.grid("histograms", {"N": np.arange(5, 25, 5), "background": np.array([False, True])},
                           seed=1, trials=3, progress=False)
    assert counts.N.tolist() == [5, 5, 10, 10, 15, 15, 20, 20] and counts.N.dtype == np.int64
    assert counts.background.tolist() == [False, True] * 4


def test_histograms_and_records_tables():
    h = cleftsim.grid("histograms", {"du": [0.5, 2.0]}, seed=3, trials=30, background=True, Gb=0.01,
                      progress=False)
    assert h.du.tolist() == [0.5, 2.0] and h.trials.tolist() == [30, 30]
    direct = cleftsim.histograms(seed=cleftsim.point_seed(3, 1), trials=30, background=True, Gb=0.01, du=2.0)
    assert np.array_equal(h.joint[1], direct["joint"]) and h.r[1] == direct["r"]
    r = cleftsim.grid("records", {"V2": [-63, 0]}, seed=3, trials=2, progress=False)
    assert r.trial.tolist() == [1, 2, 1, 2]
    assert r.trial_seed[1] == cleftsim.point_seed(r.seed[1], 2) and r.currents_pA[3].shape == (321,)


def test_bad_points_refused_before_anything_runs(monkeypatch):
    ran = []
    monkeypatch.setattr(cleftsim.grids, "_run_point", lambda *a: ran.append(a))
    with pytest.raises(ValueError) as raised:
        cleftsim.grid("isv", {"Rg": [0.5, 12.0], "N": [10, 25]}, seed=1, progress=False)
    message = str(raised.value)
    assert "3 of 4 grid points refused" in message
    assert "point 1 (Rg=0.5, N=25): N 25: out of range" in message and "point 3 (Rg=12.0, N=25)" in message
    assert "point 0 " not in message and not ran
    with pytest.raises(TypeError, match="unexpected keyword argument 'Vc'"):
        cleftsim.grid("isv", {"Vc": [1]}, seed=1, progress=False)
    with pytest.raises(TypeError, match="'trials' both"):
        cleftsim.grid("isv", {"trials": [1]}, seed=1, progress=False)
    # The sweep sets its clamp potential itself.
    with pytest.raises(ValueError, match="grid over V2 for isv: the sweep runs every clamp potential"):
        cleftsim.grid("isv", {"V2": [-63, 0]}, seed=1, progress=False)


@pytest.mark.parametrize("workers", [1, 2])
def test_failing_point_reported_and_others_kept(monkeypatch, workers):
    isv = cleftsim.grids._RUNS["isv"]

    def failing(**kwargs):
        if kwargs["Rg"] == 1.0:
            raise MemoryError("no room for the sweep")
        if kwargs["Rg"] == 0.0:
            time.sleep(0.5)  # fails after point 3 has failed
            raise MemoryError("no room either")
        return isv(**kwargs)

    monkeypatch.setitem(cleftsim.grids._RUNS, "isv", failing)
    with pytest.raises(cleftsim.GridError) as raised:
        cleftsim.grid("isv", {"Rg": [0.0, 0.5, 1.5, 1.0]}, seed=2, trials=5, workers=workers, progress=False)
    message = str(raised.value)
    assert "2 of 4 grid points failed" in message
    assert "point 3 (Rg=1.0): MemoryError: no room for the sweep" in message
    assert message.index("point 0 (Rg=0.0): MemoryError: no room either") < message.index("point 3 ")
    assert sorted(set(raised.value.table.point)) == [1, 2]
    assert [f[0] for f in raised.value.failures] == [0, 3]
    # It pickles, so that a grid in a process pool reports it to the parent.
    again = pickle.loads(pickle.dumps(raised.value))
    assert type(again) is cleftsim.GridError and str(again) == message
    pd.testing.assert_frame_equal(again.table, raised.value.table)
    assert [(i, p, str(e)) for i, p, e in again.failures] == [(i, p, str(e)) for i, p, e in raised.value.failures]


@pytest.mark.parametrize(
    "grid,options,error,words",
    [
        ({"Rg": 1.0}, {}, TypeError, "grid values of 'Rg' must be a list, range or 1-d array, not float"),
        ({"Rg": "0.5"}, {}, TypeError, "grid values of 'Rg' must be a list"),
        ({"Rg": []}, {}, ValueError, "grid values of 'Rg': none given"),
        ({"Rg": np.zeros((2, 2))}, {}, TypeError, "must be 1-d"),
        ([("Rg", [1.0])], {}, TypeError, "grid must be a dict"),
        ({"Rg": [1.0]}, dict(seed=-1), ValueError, "seed -1: out of range; accepted 0..4294967295"),
        ({"Rg": [1.0]}, dict(seed=2**32), ValueError, "seed 4294967296: out of range"),
        ({"Rg": [1.0]}, dict(workers=0), ValueError, "workers 0: out of range; accepted 1 or more"),
        ({"Rg": [1.0]}, dict(workers=1.5), TypeError, "workers must be an int"),
    ],
)
def test_grid_misuse_refused(grid, options, error, words):
    with pytest.raises(error) as raised:
        cleftsim.grid("histograms", grid, **dict(dict(seed=1, trials=1, progress=False), **options))
    assert words in str(raised.value)


def test_progress_bar_needs_no_widgets(monkeypatch):
    # Without ipywidgets a notebook gets a text bar, not tqdm's warning; with
    # progress=False there is no bar at all.
    import importlib.util

    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda name, *a: None if name == "ipywidgets" else real(name, *a))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        bar = cleftsim.grids._progress_bar(2, True, "isv")
        assert type(bar).__module__ == "tqdm.std"
        bar.close()
        assert not hasattr(cleftsim.grids._progress_bar(2, False, "isv"), "close")
        cleftsim.grid("histograms", {"N": [5, 6]}, seed=1, trials=2, progress=False)
