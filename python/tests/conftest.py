"""What the tests of the Python module share: Debian's python3, the batch tool
of the same build, and a Dask cluster of one scheduler and two workers on
127.0.0.1 for the tests that need one."""

import json
import os
import signal
import subprocess
import sys
import time

import pytest

PYTHON = os.environ.get("CLEFTSIM_PYTHON", sys.executable)
BATCH = os.environ.get("CLEFTSIM_BATCH", "cleftsim-batch")

# A shell that starts the tests in the background hands them SIGINT ignored,
# and Python then installs no KeyboardInterrupt for it, here or in the
# programs the tests start. The tests of Ctrl-C need Python's own handler:
# set here, it also reaches the children as the default disposition.
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


def batch(*args):
    """The output of cleftsim-batch with these arguments, line ends as written;
    fails on a non-zero status."""
    done = subprocess.run([BATCH, *map(str, args)], capture_output=True, timeout=600)
    assert done.returncode == 0, done.stderr.decode()
    return done.stdout.decode()


def printed(x, decimals):
    """A real as the batch tool prints it: fixed decimals, no minus on a zero."""
    text = f"{x:.{decimals}f}"
    return text[1:] if text.startswith("-") and float(text) == 0 else text


@pytest.fixture(scope="session")
def dask_client(tmp_path_factory):
    """A client of a real cluster: dask-scheduler and two dask-worker processes
    on 127.0.0.1 only, stopped at the end whatever the tests did."""
    from distributed import Client

    folder = tmp_path_factory.mktemp("dask")
    scheduler_file = folder / "scheduler.json"
    log = open(folder / "cluster.log", "w")
    processes = []
    client = None

    def start(*args):
        processes.append(subprocess.Popen([PYTHON, "-m", *args], stdout=log, stderr=subprocess.STDOUT))

    try:
        start("distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
              "--scheduler-file", str(scheduler_file))
        deadline = time.monotonic() + 60
        while not scheduler_file.exists() or not scheduler_file.read_text().strip():
            assert processes[0].poll() is None, "the scheduler ended: see " + str(log.name)
            assert time.monotonic() < deadline, "no scheduler after 60 s"
            time.sleep(0.1)
        assert json.loads(scheduler_file.read_text())["address"].startswith("tcp://127.0.0.1:")
        for i in range(2):
            start("distributed.cli.dask_worker", "--scheduler-file", str(scheduler_file), "--host", "127.0.0.1",
                  "--nthreads", "1", "--nworkers", "1", "--no-dashboard", "--name", f"worker-{i}",
                  "--local-directory", str(folder / f"worker-{i}"))
        client = Client(scheduler_file=str(scheduler_file), timeout=60)
        client.wait_for_workers(2, timeout=120)
        yield client
    finally:
        if client is not None:
            client.close()
        for process in reversed(processes):
            process.terminate()
        for process in processes:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        log.close()
