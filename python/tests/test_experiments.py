"""The program's experiment table as Python sees it: each experiment's name,
trials, seeding and text form, and the functions, results and grids that
follow from it."""

import pytest

import cleftsim
import cleftsim.grids
import cleftsim.runs
from cleftsim import _core

TABLE = [
    ("records", 100, 1, True, "text", cleftsim.RecordsResult),
    ("isv", 10000, 100, False, "csv", cleftsim.IsvResult),
    ("histograms", 10000, 100, False, None, cleftsim.HistogramsResult),
]


def test_the_table_in_order():
    assert [row["name"] for row in _core.experiment_table()] == [name for name, *_ in TABLE]
    assert _core.experiment_names == "records, isv, histograms"


@pytest.mark.parametrize("name, most, default, per_trial, text_format, result", TABLE, ids=[t[0] for t in TABLE])
def test_each_experiment(name, most, default, per_trial, text_format, result):
    entry = cleftsim.runs.EXPERIMENTS[name]
    assert entry == {"name": name, "most_trials": most, "default_trials": default, "seed_per_trial": per_trial,
                     "text_format": text_format}
    # Its function, its result class and the grid's run are the table's.
    assert cleftsim.runs._RESULTS[name] is result and result.experiment == name
    assert cleftsim.grids._DEFAULT_RUNS[name] is getattr(cleftsim, name)
    # The trials the table names, both ends.
    cleftsim.check(name, seed=1, trials=most)
    with pytest.raises(ValueError, match=f"trials {most + 1}: out of range; accepted 1..{most} for {name}"):
        cleftsim.check(name, seed=1, trials=most + 1)
    run = getattr(cleftsim, name)(seed=3, trials=1) if name != "records" else cleftsim.records(seed=3)
    assert run.provenance["experiment"] == name
    assert ("seeds" in run.provenance) == per_trial
    assert ("seed" in run.provenance) != per_trial


@pytest.mark.parametrize("name, rows, trial_columns", [("records", 3, True), ("histograms", 1, False)])
def test_grid_rows_follow_the_seeding(name, rows, trial_columns):
    table = cleftsim.grid(name, {"Rg": [0.5]}, seed=2, trials=3, workers=1, progress=False)
    assert len(table) == rows
    assert ("trial" in table.columns) == trial_columns
    assert ("trial_seed" in table.columns) == trial_columns
