"""The build of the Python package cleftsim (pyproject.toml): the pure-Python
files of python/cleftsim and the compiled part cleftsim._core, which the
project's own CMake build makes from the Qt-free core and the binding
(CLEFTSIM_PYTHON_ONLY: no Qt, no tools, no tests), for the Python that runs
this build, in the Release configuration. The CMake tree is kept in
setuptools' build_temp, so a second build compiles only what changed.

CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs (by default one per core);
CMAKE_CXX_COMPILER_LAUNCHER=ccache is taken by CMake from the environment."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

SOURCE = Path(__file__).resolve().parent


def program_version():
    """The program's one version, as project() in CMakeLists.txt states it."""
    text = (SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(Cleftsim VERSION ([0-9]+\.[0-9]+\.[0-9]+)[ )]", text, re.MULTILINE)
    if found is None:
        raise RuntimeError("CMakeLists.txt states no version in project(Cleftsim VERSION x.y.z ...)")
    return found.group(1)


class FreshBuildPy(build_py):
    """Copies the package's Python files afresh: the build folder is kept
    between builds, and a file since removed from python/cleftsim must not
    be packed from an earlier one."""

    def run(self):
        shutil.rmtree(Path(self.build_lib) / "cleftsim", ignore_errors=True)
        super().run()


class CMakeExtension(Extension):
    """The compiled part, made by a CMake target rather than from sources listed here."""

    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class CMakeBuild(build_ext):
    """Configures and builds the module's CMake target in build_temp and puts
    the library where setuptools packs the extension."""

    def build_extension(self, ext):
        tree = Path(self.build_temp).resolve() / "cmake"
        tree.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(SOURCE), "-B", str(tree),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DCLEFTSIM_PYTHON_ONLY=ON",
            "-DCLEFTSIM_BUILD_TESTS=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        try:  # pybind11 from the package index (an isolated build) brings its CMake files
            import pybind11

            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:  # else the system's (Debian: pybind11-dev)
            pass
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(tree), "--target", ext.target, "--parallel", jobs], check=True)
        built = tree / "python" / "cleftsim" / ("_core" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            raise RuntimeError(f"the CMake build made no {built}")
        destination = Path(self.get_ext_fullpath(ext.name))
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(built, destination)


setup(
    version=program_version(),
    ext_modules=[CMakeExtension("cleftsim._core", "cleftsim_python")],
    cmdclass={"build_py": FreshBuildPy, "build_ext": CMakeBuild},
)
