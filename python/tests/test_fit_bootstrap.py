"""The bootstrap of a fit from Python: the same bytes as cleftsim-batch fit
--bootstrap, on the local threads and as Dask tasks, and the refusals."""

import json
import subprocess

import pytest

import cleftsim
from conftest import BATCH, batch

POTENTIALS = [-100, -60, -20, 20]


@pytest.fixture(scope="module")
def small_recording(tmp_path_factory):
    """Four potentials of 6 trials each at Rg 1.50, with their standard deviations."""
    sweep = json.loads(batch("isv", "--seed", 8, "--trials", 6, "--Rg", "1.50", "--format", "json"))
    points = {p["V2_mV"]: p for p in sweep["points"]}
    rows = ["V2_mV,mean_peak_pA,std_pA,n"]
    rows += [f"{V},{points[V]['mean_peak_pA']},{points[V]['std_peak_pA']},{points[V]['trials']}" for V in POTENTIALS]
    path = tmp_path_factory.mktemp("bootstrap") / "small.csv"
    path.write_text("\n".join(rows) + "\n")
    return path


# A fit small enough for seconds: Rg alone over 1..2, 10 trials per candidate.
ARGS = {"free": {"Rg": (1, 2)}, "trials": 10, "sensitivity": "none", "progress": False}
OPTIONS = ["--free", "Rg=1:2", "--trials", "10", "--sensitivity", "none"]


def _fit(path, **keywords):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cleftsim.FitWarning)
        return cleftsim.fit(str(path), **{**ARGS, **keywords})


@pytest.fixture(scope="module")
def local(small_recording):
    return _fit(small_recording, seed=5, bootstrap=4, workers=2)


def test_python_equals_the_batch_tool(small_recording, local):
    printed = batch("fit", "--data", small_recording, *OPTIONS, "--seed", 5, "--bootstrap", 4, "--workers", 1)
    assert printed == local.json
    member = json.loads(printed)["bootstrap"]
    assert member["replicates"] == 4 and member["method"] == "percentile"
    estimates = member["estimates"]["Rg"]
    assert len(estimates) == 4
    # Four replicates: the interval runs from the least refit to the largest.
    assert member["intervals"]["Rg"] == [min(estimates), max(estimates)]
    assert local.bootstrap == member
    assert "Rg bootstrap 95 % interval" in local.report()
    assert "--bootstrap 4" in local.provenance["fit_command"]


def test_the_same_bytes_on_a_cluster(small_recording, local, dask_client):
    remote = _fit(small_recording, seed=5, bootstrap=4, client=dask_client)
    assert remote.json == local.json


def test_another_seed_other_replicates(small_recording, local):
    other = _fit(small_recording, seed=6, bootstrap=4)
    assert other.bootstrap["estimates"] != local.bootstrap["estimates"]


def test_no_bootstrap_as_before(small_recording, local):
    plain = _fit(small_recording, seed=5)
    assert plain.bootstrap is None and '"bootstrap"' not in plain.json
    assert plain.json == _fit(small_recording, seed=5, bootstrap=0).json
    # The fit itself is the same with a bootstrap after it.
    assert json.loads(plain.json)["estimates"] == json.loads(local.json)["estimates"]
    stages = []
    _fit(small_recording, seed=5, bootstrap=2, progress=lambda n: stages.append(n))
    assert stages


@pytest.mark.parametrize("given, error, named", [(-1, ValueError, "bootstrap -1"), (10001, ValueError, "bootstrap 10001"),
                                                 (10 ** 30, ValueError, f"bootstrap {10 ** 30}"),
                                                 (True, TypeError, "True"), (2.0, TypeError, "2.0")])
def test_bad_replicates_refused(small_recording, given, error, named):
    with pytest.raises(error, match=named):
        _fit(small_recording, seed=5, bootstrap=given)


@pytest.mark.parametrize("given, status", [("-1", 2), ("10001", 2), ("many", 2)])
def test_the_batch_tool_refuses_bad_replicates(small_recording, given, status):
    done = subprocess.run([BATCH, "fit", "--data", str(small_recording), *OPTIONS, "--seed", "5", "--bootstrap", given],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == status
    assert "--bootstrap" in done.stderr and done.stdout == ""
