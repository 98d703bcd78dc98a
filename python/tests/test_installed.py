"""The module as it is installed: imported from where it was put (the build
tree, or a virtual environment by scripts/python-envs), with the program's
version, giving the batch tool's bytes, and running on numpy alone."""

import os
import subprocess
import textwrap

import pytest

import cleftsim
from conftest import PYTHON, batch, printed


def test_imported_from_where_it_was_installed():
    expected = os.environ.get("CLEFTSIM_MODULE_DIR")
    if not expected:
        pytest.skip("CLEFTSIM_MODULE_DIR names no folder (set by CTest and scripts/python-envs)")
    expected = os.path.realpath(expected)
    assert os.path.dirname(os.path.realpath(cleftsim.__file__)) == expected
    assert os.path.dirname(os.path.realpath(cleftsim._core.__file__)) == expected
    # Processes the tests start (Dask workers, the scripts below) find the same.
    script = "import cleftsim, os; print(os.path.realpath(cleftsim._core.__file__))"
    found = subprocess.run([PYTHON, "-c", script], capture_output=True, text=True, check=True)
    assert os.path.dirname(found.stdout.strip()) == expected


def test_version_is_the_programs():
    assert batch("--version") == f"cleftsim-batch (Cleftsim) {cleftsim.__version__}\n"
    assert cleftsim.__version__ == cleftsim.version


def isv_csv(rows):
    """The rows of a grid's isv point as cleftsim-batch isv writes its CSV."""
    lines = ["V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA"]
    lines += [
        f"{v},{t},{printed(q, 6)},{printed(p, 6)},{printed(e, 6)}"
        for v, t, q, p, e in zip(rows.V2_mV, rows.trials, rows.mean_quanta, rows.mean_peak_pA, rows.mean_epsc_pA)
    ]
    return "\n".join(lines) + "\n"


def test_grid_points_give_the_bytes_of_the_batch_tool():
    table = cleftsim.grid("isv", {"Rg": [0.0, 1.5], "N": [5, 20]}, seed=2026, trials=25, workers=2, progress=False)
    for point, (Rg, N) in enumerate([("0.00", 5), ("0.00", 20), ("1.50", 5), ("1.50", 20)]):
        seed = cleftsim.point_seed(2026, point)
        expected = batch("isv", "--seed", seed, "--trials", 25, "--Rg", Rg, "--N", N)
        assert isv_csv(table[table.point == point]) == expected, point


# Imports as they fail where a package is not installed: None in sys.modules
# makes `import x` raise ModuleNotFoundError and find_spec("x") give None.
WITHOUT = "import sys\nfor name in {names}:\n    sys.modules[name] = None\n"


@pytest.mark.parametrize(
    "missing,script,printed_out,bar",
    [
        # The runs and their results need numpy alone.
        pytest.param(("pandas", "tqdm", "matplotlib", "dask", "distributed"), """
            import cleftsim
            sweep = cleftsim.isv(seed=1, trials=3)
            hist = cleftsim.histograms(seed=2, trials=5)
            rec = cleftsim.records(seeds=[3])
            print(len(sweep["V2_mV"]), hist.provenance["trials"], rec["currents_pA"].shape)
            """, "181 5 (1, 321)\n", False, id="runs-without-extras"),
        # A grid without pandas is refused before any point runs.
        pytest.param(("pandas",), """
            import cleftsim, cleftsim.grids
            ran = []
            cleftsim.grids._RUNS["isv"] = lambda **kwargs: ran.append(kwargs)
            try:
                cleftsim.grid("isv", {"Rg": [0.5]}, seed=1, trials=2)
            except ImportError as error:
                print(error.name, "pandas" in str(error), len(ran))
            """, "pandas True 0\n", False, id="grid-without-pandas"),
        # Without tqdm a grid runs without a progress bar ...
        pytest.param(("tqdm",), """
            import cleftsim
            print(len(cleftsim.grid("isv", {"Rg": [0.5, 1.0]}, seed=1, trials=2, workers=1)))
            """, "362\n", False, id="grid-without-tqdm"),
        # ... and with it, with one.
        pytest.param((), """
            import cleftsim
            print(len(cleftsim.grid("isv", {"Rg": [0.5, 1.0]}, seed=1, trials=2, workers=1)))
            """, "362\n", True, id="grid-with-tqdm"),
    ],
)
def test_optional_packages(missing, script, printed_out, bar):
    code = WITHOUT.format(names=list(missing)) + textwrap.dedent(script)
    done = subprocess.run([PYTHON, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == printed_out
    assert ("cleftsim isv" in done.stderr) == bar, done.stderr
