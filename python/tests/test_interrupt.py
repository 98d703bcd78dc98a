"""Long runs release the GIL and stop on Ctrl-C within a fraction of a second."""

import os
import signal
import subprocess
import textwrap
import threading
import time

import pytest

import cleftsim
from conftest import PYTHON

# Each of these takes a good fraction of a second on the fastest machine and
# many seconds under the sanitizers; Ctrl-C must end it at once.
LONG_RUNS = {
    "isv": "cleftsim.isv(seed=1, trials=10000)",
    "grid in threads": "cleftsim.grid('isv', {'Rg': [0.5, 1.0, 1.5, 2.0]}, seed=1, trials=10000, workers=2, progress=False)",
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
