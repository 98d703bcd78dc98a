"""Long runs release the GIL and stop on Ctrl-C within a fraction of a second."""

import os
import signal
import subprocess
import textwrap
import threading
import time

import numpy as np
import pytest

import cleftsim
from conftest import PYTHON

# Each of these takes a good fraction of a second on the fastest machine and
# many seconds under the sanitizers; Ctrl-C must end it at once.
LONG_RUNS = {
    "isv": "cleftsim.isv(seed=1, trials=10000)",
    "grid in threads": "cleftsim.grid('isv', {'Rg': [0.5, 1.0, 1.5, 2.0]}, seed=1, trials=10000, workers=2, "
                       "progress=False)",
    "grid serially": "cleftsim.grid('isv', {'Rg': [0.5, 1.0]}, seed=1, trials=10000, workers=1, progress=False)",
}


@pytest.mark.parametrize("call", LONG_RUNS.values(), ids=LONG_RUNS.keys())
def test_ctrl_c_stops_a_long_run(call):
    # How long a run takes depends on the machine, so the child repeats the
    # run without end and says when the first one is done; the signal comes
    # a moment later (not while the child is still writing that line), when
    # a later run is under way however fast the machine is: the few
    # microseconds between two runs are all it could miss. The child tells
    # whether it came inside a run: a run that did not look for the signal
    # would end first and be caught between runs.
    script = textwrap.dedent(f"""
        import sys, cleftsim
        inside = False
        try:
            while True:
                inside = True
                {call}
                inside = False
                print("done", flush=True)
        except KeyboardInterrupt:
            print("interrupted inside a run" if inside else "interrupted between runs", flush=True)
            sys.exit(3)
    """)
    child = subprocess.Popen([PYTHON, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    try:
        assert child.stdout.readline() == "done\n", child.stderr.read()
        time.sleep(0.1)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
        took = time.monotonic() - sent
    finally:
        child.kill()
        child.wait()
    assert out.splitlines()[-1:] == ["interrupted inside a run"], err
    assert child.returncode == 3
    # The run checks for signals every 50 msec; a generous bound for a busy machine.
    assert took < 2.0, f"{took:.2f} s from Ctrl-C to the end of the run"


def test_threads_run_side_by_side_and_cancel():
    # The thread repeats its run until one is cancelled; cancelling starts
    # after the first run is done, so that it meets a run under way however
    # fast the machine is, and is repeated in case it fell between two runs.
    outcome = []
    first_done = threading.Event()

    def long_runs():
        try:
            while True:
                cleftsim.isv(seed=1, trials=10000)
                first_done.set()
        except KeyboardInterrupt as stopped:
            outcome.append(stopped)

    thread = threading.Thread(target=long_runs)
    thread.start()
    assert first_done.wait(timeout=600)
    deadline = time.monotonic() + 30
    # This thread runs Python while the run goes on only if the run let go of the GIL.
    while thread.is_alive() and time.monotonic() < deadline:
        cleftsim.cancel_running()
        thread.join(timeout=0.1)
    assert not thread.is_alive()
    assert len(outcome) == 1 and isinstance(outcome[0], KeyboardInterrupt)


def test_ctrl_c_on_a_grid_stops_its_own_runs_alone(monkeypatch):
    # A run in another thread goes on running while Ctrl-C stops a grid, and
    # the KeyboardInterrupt keeps the grid's finished points. The signal is
    # sent when the first point is done, while the others are still to come
    # however fast the machine is.
    first_done = threading.Event()

    class Bar:
        def __enter__(self):
            return self

        def __exit__(self, *exc):
            return False

        def update(self, n=1):
            first_done.set()

    monkeypatch.setattr(cleftsim.grids, "_progress_bar", lambda *a: Bar())
    other = []
    stop_other = threading.Event()

    def other_runs():
        try:
            while not stop_other.is_set():
                other.append(cleftsim.isv(seed=2, trials=2000)["trials"][0])
        except KeyboardInterrupt as stopped:
            other.append(stopped)

    thread = threading.Thread(target=other_runs)
    thread.start()
    sender = threading.Thread(target=lambda: first_done.wait(600) and os.kill(os.getpid(), signal.SIGINT))
    sender.start()
    try:
        with pytest.raises(KeyboardInterrupt) as raised:
            cleftsim.grid("isv", {"Rg": [0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0]}, seed=3, trials=2000, workers=2)
    finally:
        sender.join()
        stop_other.set()
        thread.join(timeout=600)
    assert isinstance(raised.value, cleftsim.GridInterrupted)
    done = raised.value.table
    assert 1 <= done.point.nunique() < 8
    for index in done.point.unique()[:1]:
        Rg = done[done.point == index].Rg.iloc[0]
        alone = cleftsim.isv(seed=cleftsim.point_seed(3, index), trials=2000, Rg=Rg)
        assert np.array_equal(done[done.point == index].mean_peak_pA.to_numpy(), alone["mean_peak_pA"], equal_nan=True)
    assert other and all(o == 2000 for o in other), other
