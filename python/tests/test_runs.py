"""The module against cleftsim-batch: the same numbers for the same arguments
and the same refusals."""

import json
import subprocess
from decimal import Decimal

import numpy as np
import pytest

import cleftsim
from conftest import BATCH, batch, printed

# Keyword arguments of the module and the options of the tool that mean the same.
RUNS = [
    ("isv", dict(seed=42, trials=50, Rg=1.5)),
    ("isv", dict(seed=5, trials=20, background=True, Gb=0.02, N=20, V1r=-60)),
    ("histograms", dict(seed=7, trials=300, N=20, du=2.0)),
    ("histograms", dict(seed=1, trials=50, V2=0, gf=0.9999)),
    ("records", dict(seed=9, trials=3, Rg=0.0, tc=0.5)),
    ("records", dict(seed=4294967295, trials=2, background=True, Gb=0.2, ex=9.99)),
    ("records", dict(seeds=[5, 1, 99], N=1)),
]


def options(kwargs):
    args = []
    for key, value in kwargs.items():
        if key == "background":
            args += ["--background"] if value else []
        elif key == "seeds":
            args += ["--seeds", ",".join(map(str, value))]
        else:
            args += [f"--{key}", value]
    return args


@pytest.mark.parametrize("experiment,kwargs", RUNS)
def test_same_numbers_as_the_batch_tool(experiment, kwargs):
    result = getattr(cleftsim, experiment)(**kwargs)
    text = batch(experiment, *options(kwargs))
    if experiment == "isv":
        lines = text.splitlines()
        assert lines[0] == "V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA"
        rows = [
            f"{v},{t},{printed(q, 6)},{printed(p, 6)},{printed(e, 6)}"
            for v, t, q, p, e in zip(*(result[k] for k in lines[0].split(",")))
        ]
        assert rows == lines[1:]
    elif experiment == "records":
        lines = text.split("\r\n")
        seeds = kwargs.get("seeds") or [(kwargs["seed"] + r) % 2**32 for r in range(kwargs["trials"])]
        assert lines[0] == f"161 {len(seeds)} 10000"
        assert [[printed(x, 3) for x in trace[::2]] for trace in result["currents_pA"]] == [
            line.split(" ")[:-1] for line in lines[1:-1]
        ]
        assert result["seeds"].tolist() == seeds
        assert np.array_equal(result["t_ms"][::2], np.arange(161) * 0.1)
    else:
        plain = json.loads(text)
        exact = json.loads(text, parse_float=Decimal)  # the reals as printed
        for key, value in exact.items():
            if key in result["provenance"]:
                assert result["provenance"][key] == plain[key], key
            elif isinstance(value, Decimal):
                assert printed(result[key], 6) == str(value), key
            elif isinstance(value, list):
                assert np.asarray(result[key]).tolist() == value, key
            else:
                assert result[key] == value, key
        assert exact.keys() >= result.keys() - {"provenance"}


@pytest.mark.parametrize(
    "experiment,kwargs,error,words",
    [
        ("isv", dict(Rg=10.0), ValueError, ["Rg 10.0", "out of range", "0.00..9.99"]),
        ("isv", dict(V2=-151), ValueError, ["V2 -151", "out of range", "-150..40"]),
        ("histograms", dict(Rg=0.505), ValueError, ["Rg 0.505", "too many decimals", "0.00..9.99"]),
        ("histograms", dict(N=2.5), ValueError, ["N 2.5", "not a whole number", "1..20"]),
        ("records", dict(gf=float("nan")), ValueError, ["gf nan", "0.0000..0.9999"]),
        ("isv", dict(Gb=0.01), ValueError, ["Gb 0.010", "needs background=True"]),
        ("isv", dict(background=True, Gb=0.3), ValueError, ["Gb 0.300", "above Gmax", "0.000..0.200"]),
        ("isv", dict(trials=10001), ValueError, ["trials 10001", "out of range", "1..10000"]),
        ("records", dict(trials=101), ValueError, ["trials 101", "out of range", "1..100"]),
        ("histograms", dict(trials=2**70), ValueError, [f"trials {2**70}", "out of range"]),
        ("isv", dict(seed=2**32), ValueError, ["seed 4294967296", "out of range", "0..4294967295"]),
        ("records", dict(seeds=[1, -2]), ValueError, ["seeds -2", "out of range", "0..4294967295"]),
        ("records", dict(seeds=[1, 2], trials=3), ValueError, ["seeds", "3 trials"]),
        ("isv", dict(background=2), ValueError, ["background 2", "out of range"]),
        ("isv", dict(Vc=-60), TypeError, ["unexpected keyword argument 'Vc'"]),
        ("histograms", dict(seeds=[1]), TypeError, ["unexpected keyword argument 'seeds'"]),
        ("isv", dict(Rg="1.5"), TypeError, ["Rg must be a number"]),
        ("isv", dict(seed=1.0), TypeError, ["seed must be an int"]),
        ("records", dict(seed=1, seeds=[1]), TypeError, ["seed or seeds"]),
    ],
)
def test_bad_arguments_refused(experiment, kwargs, error, words):
    with pytest.raises(error) as raised:
        getattr(cleftsim, experiment)(**kwargs)
    for word in words:
        assert word in str(raised.value)
    with pytest.raises(error):
        cleftsim.check(experiment, **kwargs)
    # A parameter's accepted range is the one the batch tool names (each
    # names the background switch in its own words).
    key = next(iter(kwargs))
    single = len(kwargs) == 1 and key in cleftsim.defaults()
    if error is ValueError and single and key not in ("background", "Gb"):
        accepted = str(raised.value).split("; accepted ")[1]
        value = kwargs[key]
        done = subprocess.run([BATCH, experiment, f"--{key}", str(value)], capture_output=True, text=True)
        assert done.returncode == 2 and accepted in done.stderr, done.stderr


def test_positional_arguments_refused():
    with pytest.raises(TypeError, match="keyword arguments only"):
        cleftsim.isv(42)
