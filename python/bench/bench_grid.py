"""A grid of 16 default Is vs V2 sweeps of 1000 trials per potential, on every
local core against one after the other, in one run. Run it on a Release build:

    PYTHONPATH=build/release/python /usr/bin/python3 python/bench/bench_grid.py
"""

import os
import time

import pandas as pd

import cleftsim

GRID = {"Rg": [cleftsim.defaults()["Rg"]] * 16}  # 16 default sweeps, each with its own seed


def timed(workers):
    start, cpu = time.perf_counter(), time.process_time()
    table = cleftsim.grid("isv", GRID, seed=1, trials=1000, workers=workers, progress=False)
    return time.perf_counter() - start, time.process_time() - cpu, table


cores = os.cpu_count()
load = os.getloadavg()[0]  # other work on the machine shares the cores
serial, serial_cpu, serial_table = timed(1)
parallel, parallel_cpu, parallel_table = timed(cores)
pd.testing.assert_frame_equal(serial_table, parallel_table, check_exact=True)
print(f"16 sweeps of 1000 trials: one after the other {serial:.2f} s, on {cores} cores {parallel:.2f} s: "
      f"{serial / parallel:.2f} times faster (cores busy on average: {serial_cpu / serial:.2f} and "
      f"{parallel_cpu / parallel:.2f}; load average before: {load:.1f})")
