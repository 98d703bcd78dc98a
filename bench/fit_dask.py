#!/usr/bin/python3
"""The same two-parameter fit (Rg and N, eight potentials of 30 recorded
trials, 2000 simulated trials per potential) on one local thread and on a
local Dask cluster of 1 and 2 worker processes of one thread each, in turns;
prints the wall times and the speed-ups. Every run must give the same bytes.
The cluster's runs are made both ways a batch can be sent: one task per
worker (the module's way) and two, split finer (its way before).

    PYTHONPATH=build/rel/python /usr/bin/python3 bench/fit_dask.py [--rounds 3]
"""

import argparse
import importlib
import statistics
import time

import cleftsim
from cleftsim import _core


def recording():
    truth = {"BackgroundOn": 0, **{k: v for k, v in cleftsim.defaults().items() if k != "background"}, "Rg": 1.5}
    potentials = [(V, cleftsim.point_seed(99, i)) for i, V in enumerate([-100, -80, -60, -40, -20, 10, 25, 40])]
    data = {"V2_mV": [], "mean_peak_pA": [], "std_pA": [], "n": []}
    for V, n, _q, _f, peak_sum, _b, _q2, _s, shifted_sum, shifted_squares, *_ in _core.simulate_points(
            truth, potentials, 30):
        data["V2_mV"].append(V)
        data["mean_peak_pA"].append(peak_sum / n)
        data["std_pA"].append(((shifted_squares - shifted_sum ** 2 / n) / (n - 1)) ** 0.5)
        data["n"].append(n)
    return data


def _two_tasks_per_worker(client):
    """The cluster's evaluator as it was: a batch split by potential into
    about two tasks per worker."""
    module = importlib.import_module("cleftsim.fit")

    def evaluate(candidates, potentials, trials):
        workers = max(1, len(client.scheduler_info().get("workers", {})))
        units = [(c, k) for c in range(len(candidates)) for k in range(len(potentials))]
        size = max(1, -(-len(units) // (2 * workers)))
        tasks = []
        for start in range(0, len(units), size):
            chunk = units[start:start + size]
            tasks.append((chunk, client.submit(module._simulate_units,
                                               [(candidates[c], [potentials[k]]) for c, k in chunk], trials,
                                               pure=False)))
        done = client.gather([future for _, future in tasks])
        points = [[None] * len(potentials) for _ in candidates]
        for (chunk, _), results in zip(tasks, done):
            for (c, k), result in zip(chunk, results):
                points[c][k] = result[0]
        return points

    return evaluate


def main():
    from distributed import Client, LocalCluster

    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    data = recording()
    arguments = dict(free={"Rg": (0, 5), "N": (1, 20)}, trials=2000, seed=11, progress=False)
    clusters = {k: LocalCluster(n_workers=k, threads_per_worker=1, processes=True, host="127.0.0.1",
                                dashboard_address=None) for k in (1, 2)}
    clients = {k: Client(c) for k, c in clusters.items()}
    times = {"local thread": [], "dask 1 worker": [], "dask 2 workers": [], "dask 1 worker, 2 tasks": [],
             "dask 2 workers, 2 tasks": []}
    module = importlib.import_module("cleftsim.fit")
    one_per_worker = module._evaluate_on
    reference = None
    try:
        for _ in range(args.rounds):
            for name in times:
                client = None if name == "local thread" else clients[1 if "1 worker" in name else 2]
                module._evaluate_on = _two_tasks_per_worker if "2 tasks" in name else one_per_worker
                start = time.perf_counter()
                result = cleftsim.fit(data, client=client, workers=1, **arguments)
                times[name].append(time.perf_counter() - start)
                reference = reference or result.json
                assert result.json == reference, "a cluster changed the result"
    finally:
        module._evaluate_on = one_per_worker
        for client in clients.values():
            client.close()
        for cluster in clusters.values():
            cluster.close()
    base = statistics.median(times["local thread"])
    print(f"candidates: {result.provenance['search']['evaluations']}")
    for name, values in times.items():
        median = statistics.median(values)
        print(f"{name:24} median {median:6.2f} s  speed-up against one local thread {base / median:4.2f}")


if __name__ == "__main__":
    main()
