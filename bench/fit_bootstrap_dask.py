#!/usr/bin/python3
"""A fit of Rg with a bootstrap (the recording of bench/fit_dask.py, eight
potentials of 30 recorded trials) on the local path (one and two threads)
and on a local Dask cluster of 1 and 2 worker processes of one thread each,
in turns; prints the wall times and the speed-ups against one local thread.
Every run must give the same bytes.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/fit_bootstrap_dask.py [--rounds 1]
        [--bootstrap 40] [--trials 400]
"""

import argparse
import os
import statistics
import sys
import time

import cleftsim

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fit_dask import recording  # noqa: E402


def main():
    from distributed import Client, LocalCluster

    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--bootstrap", type=int, default=40)
    parser.add_argument("--trials", type=int, default=400)
    args = parser.parse_args()
    data = recording()
    arguments = dict(free={"Rg": (0, 5)}, trials=args.trials, seed=11, progress=False, sensitivity="none",
                     bootstrap=args.bootstrap)
    clusters = {k: LocalCluster(n_workers=k, threads_per_worker=1, processes=True, host="127.0.0.1",
                                dashboard_address=None) for k in (1, 2)}
    clients = {k: Client(c) for k, c in clusters.items()}
    runs = {"local 1 thread": (None, 1), "local 2 threads": (None, 2), "dask 1 worker": (1, 1),
            "dask 2 workers": (2, 1)}
    times = {name: [] for name in runs}
    reference = None
    try:
        for _ in range(args.rounds):
            for name, (cluster, workers) in runs.items():
                client = clients[cluster] if cluster else None
                start = time.perf_counter()
                result = cleftsim.fit(data, client=client, workers=workers, **arguments)
                times[name].append(time.perf_counter() - start)
                reference = reference or result.json
                assert result.json == reference, f"{name} changed the result"
    finally:
        for client in clients.values():
            client.close()
        for cluster in clusters.values():
            cluster.close()
    base = statistics.median(times["local 1 thread"])
    print(f"replicates: {result.bootstrap['replicates']}, their candidates: {result.bootstrap['evaluations']}, "
          f"the fit's: {result.provenance['search']['evaluations']}; load average {os.getloadavg()[0]:.1f}")
    for name, values in times.items():
        median = statistics.median(values)
        print(f"{name:16} median {median:6.2f} s  speed-up against one local thread {base / median:4.2f}")


if __name__ == "__main__":
    main()
