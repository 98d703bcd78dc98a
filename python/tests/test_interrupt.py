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

# Each of these runs for many seconds; Ctrl-C must end it at once.
LONG_RUNS = {
    "isv": "cleftsim.isv(seed=1, trials=10000)",
    "grid in threads": "cleftsim.grid('isv', {'Rg': [0.5, 1.0, 1.5, 2.0]}, seed=1, trials=10000, workers=2)",
    "grid serially": "cleftsim.grid('isv', {'Rg': [0.5, 1.0]}, seed=1, trials=10000, workers=1)",
}


@pytest.mark.parametrize("call", LONG_RUNS.values(), ids=LONG_RUNS.keys())
def test_ctrl_c_stops_a_long_run(call):
    script = textwrap.dedent(f"""
        import sys, cleftsim
        print("running", flush=True)
        try:
            {call}
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            sys.exit(3)
        print("finished", flush=True)
    """)
    child = subprocess.Popen([PYTHON, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    try:
        assert child.stdout.readline() == "running\n"
        time.sleep(0.5)
        assert child.poll() is None, "the run ended before Ctrl-C"
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        took = time.monotonic() - sent
    finally:
        child.kill()
        child.wait()
    assert out == "interrupted\n", err
    assert child.returncode == 3
    # The run checks for signals every 50 msec; a generous bound for a busy machine.
    assert took < 2.0, f"{took:.2f} s from Ctrl-C to the end of the run"


def test_threads_run_side_by_side_and_cancel():
    outcome = []

    def long_run():
        try:
            outcome.append(cleftsim.isv(seed=1, trials=10000))
        except KeyboardInterrupt as stopped:
            outcome.append(stopped)

    thread = threading.Thread(target=long_run)
    thread.start()
    time.sleep(0.3)
    # This thread runs Python while the run goes on only if the run let go of the GIL.
    cleftsim.cancel_running()
    thread.join(timeout=30)
    assert not thread.is_alive()
    assert len(outcome) == 1 and isinstance(outcome[0], KeyboardInterrupt)
