"""cmake --install puts the package where Debian's python3 finds it."""

import os
import subprocess

from conftest import PYTHON


def test_installed_package_imports_without_a_path(tmp_path):
    # With the prefix the user base (as for --prefix ~/.local), the package
    # lands in the user's site-packages, which python3 searches by itself.
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PYTHONUSERBASE"] = str(tmp_path)
    install = subprocess.run(["cmake", "--install", os.environ["CLEFTSIM_BINARY_DIR"], "--prefix", str(tmp_path)],
                             capture_output=True, text=True, env=env)
    assert install.returncode == 0, install.stdout + install.stderr
    script = "import cleftsim; print(cleftsim.__file__); cleftsim.isv(seed=1, trials=1)"
    found = subprocess.run([PYTHON, "-c", script], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert found.returncode == 0, found.stderr
    assert found.stdout.startswith(str(tmp_path) + "/lib/python3")
