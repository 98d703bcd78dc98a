#!/usr/bin/python3
"""The study of the fit's estimator behind doc/fitting.md: synthetic
recordings made by the engine at known parameters, fitted as a user would fit
a recording, and the share of 95 % intervals that hold the true value.

    PYTHONPATH=build/rel/python /usr/bin/python3 bench/fit_study.py [--datasets 200] [--out DIR]
        [--designs LETTERS] [--trials T] [--workers W] [--sizes R=60,...] [--bootstrap B]

Each recording draws its trials from seeds of its own (never the fit's), and
its means and standard deviations are those of its trials, as a recording's
are; a design with recording noise adds a normal current to every trial,
its mean and spread drawn exactly from the trials' sums. The recordings are
fitted on a local Dask cluster of W worker processes (default 2), one fit a
task. It writes the coverage table (Markdown) to standard output, every
fit's numbers to DIR/fit_study.json and the figure to DIR/fitting-study.png.
Not run by the test command: at 200 recordings per design it takes hours on
two cores.
"""

import argparse
import json
import math
import os
import sys
import time

import numpy as np

import cleftsim
from cleftsim import _core

# The designs: the potentials, the trials recorded at each, the true
# parameters that differ from the default set, the free parameters with
# their ranges, whether the recording gives n (else only standard errors),
# and the simulated trials per potential of the fit.
EIGHT = [-100, -80, -60, -40, -20, 10, 25, 40]
DESIGNS = {
    "N: recording noise 3 pA rms, fitted": dict(
        potentials=EIGHT, n=30, truth={"Rg": 1.50}, free={"Rg": (0, 5)}, with_n=True, trials=2000,
        noise_pA=3.0),
    "G: Gmax 0.26, fitted with Gmax fixed at 0.20": dict(
        potentials=EIGHT, n=30, truth={"Rg": 1.50, "Gmax": 0.26}, free={"Rg": (0, 5)}, fixed={"Gmax": 0.20},
        with_n=True, trials=2000, sensitivity=None),
    "H: Gmax 0.26, Rg and Gmax free": dict(
        potentials=EIGHT, n=30, truth={"Rg": 1.50, "Gmax": 0.26}, free={"Rg": (0, 5), "Gmax": (0.05, 0.60)},
        with_n=True, trials=1000),
    "Q: Rg, peak and quanta jointly": dict(
        potentials=EIGHT, n=30, truth={"Rg": 1.50}, free={"Rg": (0, 5)}, with_n=True, trials=2000, quanta=True),
    "A: Rg, 8 potentials, 30 trials": dict(
        potentials=[-100, -80, -60, -40, -20, 10, 25, 40], n=30, truth={"Rg": 1.50}, free={"Rg": (0, 5)},
        with_n=True, trials=2000),
    "B: Rg and N, 8 potentials, 30 trials": dict(
        potentials=[-100, -80, -60, -40, -20, 10, 25, 40], n=30, truth={"Rg": 1.50, "N": 10},
        free={"Rg": (0, 5), "N": (1, 20)}, with_n=True, trials=1000),
    "C: Rg, 5 potentials, 10 trials": dict(
        potentials=[-120, -80, -40, 10, 40], n=10, truth={"Rg": 1.00}, free={"Rg": (0, 5)}, with_n=True,
        trials=2000),
    "D: Rg, 7 potentials, 30 trials, standard errors only": dict(
        potentials=[-100, -80, -60, -40, -20, 20, 40], n=30, truth={"Rg": 1.50}, free={"Rg": (0, 5)},
        with_n=False, trials=2000),
    "E: the null, Rg = 0": dict(
        potentials=[-100, -80, -60, -40, -20, 10, 25, 40], n=30, truth={"Rg": 0.0}, free={"Rg": (0, 5)},
        with_n=True, trials=2000),
    "R: Rg and N free, bootstrap intervals": dict(
        potentials=[-100, -80, -60, -40, -20, 10, 25, 40], n=30, truth={"Rg": 1.50, "N": 10},
        free={"Rg": (0, 5), "N": (1, 20)}, with_n=True, trials=1000, bootstrap=99),
}

# Where the cleft resistance and the quantal size trade off: only weak
# currents near rest, where the feedback barely bends the curve.
TRADE_OFF = dict(potentials=[-30, -25, -20, -15, -10, 10, 20], n=30, truth={"Rg": 1.50, "Gmax": 0.20},
                 free={"Rg": (0, 5), "Gmax": (0.05, 0.60)}, with_n=True, trials=1000)


def parameters(truth):
    p = {"BackgroundOn": 0, **{k: v for k, v in cleftsim.defaults().items() if k != "background"}}
    p.update(truth)
    return p


def recording(design, seed):
    """A synthetic recording: the trials at each potential from seeds of its
    own, summed as the engine sums a point. With noise_pA, every trial has a
    normal current of that rms added: the mean moves by the noise's mean,
    and the sum of squares about the mean gains the noise's own (the part
    along the trials' deviations drawn apart, chi-square with n - 2 degrees
    of freedom for the rest) and twice its product with the trials'."""
    potentials = [(V, cleftsim.point_seed(seed, i)) for i, V in enumerate(design["potentials"])]
    points = _core.simulate_points(parameters(design["truth"]), potentials, design["n"])
    n = design["n"]
    noise = design.get("noise_pA", 0.0)
    rng = np.random.default_rng(seed + 7_000_000)
    columns = {"V2_mV": [], "mean_peak_pA": [], "std_pA" if design["with_n"] else "sem_pA": []}
    if design["with_n"]:
        columns["n"] = []
    if design.get("quanta"):
        columns["mean_quanta"] = []
    for V, trials, quanta, _failures, peak_sum, _bg, _q2, _shift, shifted_sum, shifted_squares, *_ in points:
        squares = max(shifted_squares - shifted_sum * shifted_sum / trials, 0)
        mean = peak_sum / trials
        if noise > 0:
            along = rng.normal(0, noise)
            squares = squares + 2 * math.sqrt(squares) * along + along * along + noise * noise * rng.chisquare(
                trials - 2)
            mean += rng.normal(0, noise / math.sqrt(trials))
        sd = math.sqrt(squares / (trials - 1))
        columns["V2_mV"].append(V)
        columns["mean_peak_pA"].append(mean)
        if design.get("quanta"):
            columns["mean_quanta"].append(quanta / trials)
        if design["with_n"]:
            columns["std_pA"].append(sd)
            columns["n"].append(n)
        else:
            columns["sem_pA"].append(sd / math.sqrt(n))
    return columns


def fit_one(design, dataset, trials):
    """Fits one recording of a design as a user would; a Dask task."""
    import warnings

    data = recording(design, dataset)
    if not design["with_n"] and min(data["sem_pA"]) <= 0:
        return None  # every trial alike: no standard error to weigh by
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = cleftsim.fit(data, free=design["free"], trials=trials or design["trials"],
                              seed=1_000_000 + dataset % 100_000, progress=False, workers=1,
                              sensitivity=design.get("sensitivity", "none"), bootstrap=design.get("bootstrap", 0),
                              **design.get("fixed", {}))
    return {"bootstrap": result.bootstrap and result.bootstrap["intervals"],"dataset": dataset, "estimates": result.estimates, "intervals": result.intervals,
            "bounded": result.bounded, "upper_limits": result.upper_limits, "chi2": result.chi2,
            "dof": result.dof, "p_value": result.p_value, "noise": result.noise,
            "warnings": [w["code"] for w in result.warnings],
            "evaluations": result.provenance["search"]["evaluations"]}


def run_design(client, name, design, datasets, first_seed, trials):
    from distributed import as_completed

    futures = [client.submit(fit_one, design, first_seed + d, trials, pure=False) for d in range(datasets)]
    fits = []
    for done, future in enumerate(as_completed(futures), 1):
        fits.append(future.result())
        print(f"\r{name}: {done}/{datasets}", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)
    return sorted((f for f in fits if f is not None), key=lambda f: f["dataset"])


def coverage(fits, truth):
    rows = {}
    for name, value in truth.items():
        inside = [f["intervals"][name][0] <= value <= f["intervals"][name][1] for f in fits]
        share = sum(inside) / len(fits)
        # A binomial standard error of the share, for reading the table.
        se = math.sqrt(share * (1 - share) / len(fits))
        estimates = [f["estimates"][name] for f in fits]
        widths = [f["intervals"][name][1] - f["intervals"][name][0] for f in fits]
        # Misses that no warning marks: what a user would take for an answer.
        silent = sum(1 for f, ok in zip(fits, inside) if not ok and not f["warnings"])
        rows[name] = dict(share=share, se=se, inside=sum(inside), fits=len(fits), median=float(np.median(estimates)),
                          width=float(np.median(widths)), bounded=sum(f["bounded"][name] for f in fits),
                          silent=silent, small_p=sum(1 for f in fits if f["p_value"] is not None
                                                     and f["p_value"] < 0.05),
                          limits=sum(1 for f in fits if name in f.get("upper_limits", {})))
        if fits and fits[0].get("bootstrap"):
            # The bootstrap's percentile intervals of the same recordings, beside the profile's.
            held = sum(f["bootstrap"][name][0] <= value <= f["bootstrap"][name][1] for f in fits)
            b_share = held / len(fits)
            rows[name]["bootstrap"] = dict(
                inside=held, share=b_share, se=math.sqrt(b_share * (1 - b_share) / len(fits)),
                width=float(np.median([f["bootstrap"][name][1] - f["bootstrap"][name][0] for f in fits])))
    return rows


TABLE_HEAD = ("| design | parameter | recordings | intervals holding the truth | share | misses without a warning "
              "| p < 0.05 | median estimate (truth) | median width | bounded | upper limits |\n"
              "|---|---|---|---|---|---|---|---|---|---|---|")


def table_rows(name, result):
    rows = []
    for parameter, row in result["coverage"].items():
        truth = result["design"]["truth"][parameter]
        rows.append(f"| {name} | {parameter} | {row['fits']} | {row['inside']} | {row['share']:.3f} +- {row['se']:.3f} "
                    f"| {row['silent']} | {row['small_p']} | {row['median']:.2f} ({truth}) | {row['width']:.2f} "
                    f"| {row['bounded']} | {row['limits']} |")
        if "bootstrap" in row:
            b = row["bootstrap"]
            rows.append(f"| {name}, bootstrap ({result['design']['bootstrap']} replicates, percentile) | {parameter} "
                        f"| {row['fits']} | {b['inside']} | {b['share']:.3f} +- {b['se']:.3f} | | | | {b['width']:.2f} "
                        f"| | |")
    return "\n".join(rows)


def figure(results, trade_off, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 3, figsize=(13, 3.8))
    names, shares, errors = [], [], []
    for name, result in results.items():
        for parameter, row in result["coverage"].items():
            names.append(f"{name.split(':')[0]} {parameter}")
            shares.append(row["share"])
            errors.append(row["se"])
    axes[0].bar(range(len(names)), shares, yerr=errors, color="0.6")
    axes[0].axhline(0.95, color="black", linestyle="--")
    axes[0].axhspan(0.92, 0.98, color="0.9", zorder=0)
    axes[0].set_xticks(range(len(names)), names, rotation=45, ha="right")
    axes[0].set_ylim(0.7, 1.0)
    axes[0].set_ylabel("share of 95 % intervals holding the truth")
    axes[0].set_title("coverage")
    first = results[next(iter(results))]
    truth = DESIGNS[next(iter(results))]["truth"]["Rg"]
    fits = first["fits"][:60]
    for i, f in enumerate(fits):
        low, high = f["intervals"]["Rg"]
        inside = low <= truth <= high
        axes[1].plot([low, high], [i, i], color="black" if inside else "red")
        axes[1].plot(f["estimates"]["Rg"], i, ".", color="black" if inside else "red")
    axes[1].axvline(truth, color="0.5", linestyle="--")
    axes[1].set_xlabel("Rg [GOhm]")
    axes[1].set_ylabel("synthetic recording")
    axes[1].set_title(f"{next(iter(results)).split(':')[0]}: estimates and intervals")
    rows = trade_off.profiles()["Rg"]
    axes[2].plot(rows.Rg, rows.delta, ".-", color="black")
    axes[2].axhline(3.841458820694124, color="0.5", linestyle="--")
    low, high = trade_off.intervals["Rg"]
    axes[2].axvspan(low, high, color="0.85")
    axes[2].set_xlabel("Rg [GOhm] (Gmax re-optimised)")
    axes[2].set_ylabel("-2 log L - minimum")
    axes[2].set_title("a design where Rg and Gmax trade off")
    fig.tight_layout()
    fig.savefig(path, dpi=120)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--datasets", type=int, default=200)
    parser.add_argument("--out", default="doc/images")
    parser.add_argument("--designs", default="", help="the letters of the designs to run, in this order "
                        "(default all)")
    parser.add_argument("--trials", type=int, default=0, help="simulated trials per candidate (default the "
                        "design's)")
    parser.add_argument("--workers", type=int, default=2, help="Dask worker processes")
    parser.add_argument("--sizes", default="", help="recordings per design letter, e.g. N=200,G=100")
    parser.add_argument("--bootstrap", type=int, default=0, help="replicates of design R's bootstrap (default "
                        "its 99)")
    args = parser.parse_args()
    if args.bootstrap:
        DESIGNS["R: Rg and N free, bootstrap intervals"]["bootstrap"] = args.bootstrap
    os.makedirs(args.out, exist_ok=True)
    from distributed import Client, LocalCluster

    sizes = dict((item.split("=")[0], int(item.split("=")[1])) for item in args.sizes.split(",") if item)
    client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                 dashboard_address=None))
    results = {}
    started = time.monotonic()
    letters = args.designs or "".join(name[0] for name in DESIGNS)
    order = [(i, name) for letter in letters for i, name in enumerate(DESIGNS) if name[0] == letter]
    for i, name in order:
        design = DESIGNS[name]
        t = time.monotonic()
        fits = run_design(client, name, design, sizes.get(name[0], args.datasets), first_seed=100_000 * (i + 1),
                          trials=args.trials)
        free_truth = {k: v for k, v in design["truth"].items() if k in design["free"]}
        results[name] = {"design": design, "fits": fits, "coverage": coverage(fits, free_truth),
                         "seconds": time.monotonic() - t}
        # The table so far, so that a long study can be read while it runs.
        with open(os.path.join(args.out, "fit_study.json"), "w") as f:
            json.dump({"results": results, "version": cleftsim.__version__}, f, indent=1)
        print(table_rows(name, results[name]), flush=True)
    trade_off = cleftsim.fit(recording(TRADE_OFF, 7), free=TRADE_OFF["free"], trials=TRADE_OFF["trials"], seed=8,
                             progress=False)
    with open(os.path.join(args.out, "fit_study.json"), "w") as f:
        json.dump({"results": results, "trade_off": json.loads(trade_off.json),
                   "version": cleftsim.__version__}, f, indent=1)
    figure(results, trade_off, os.path.join(args.out, "fitting-study.png"))
    print(TABLE_HEAD)
    for name, result in results.items():
        print(table_rows(name, result))
    print()
    print("Trade-off design: " + "; ".join(
        f"{k} = {trade_off.estimates[k]} in {trade_off.intervals[k]}, bounded {trade_off.bounded[k]}"
        for k in trade_off.estimates))
    print(f"({time.monotonic() - started:.0f} s in all)")


if __name__ == "__main__":
    main()
