# Installs the Debian packages that building, running and testing Cleftsim
# need, where they are missing. Sourced by scripts/run, scripts/test and
# scripts/package. Fuzzing: clang and its runtime; packaging: build-essential,
# dpkg-dev, debhelper, dh-python, lintian and appstream; the same numbers on
# other machines: the 64-bit ARM cross compiler, qemu-user-static to run its
# programs, and clang. The README's pictures: xvfb, and poppler-utils to draw
# a saved PDF page. The module installed by pip (pyproject.toml, scripts/wheel,
# scripts/python-envs), offline: python3-venv, python3-pip, and the build
# backend python3-setuptools with python3-wheel.
cleftsim_packages="cmake g++ make qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra fonts-urw-base35 libbenchmark-dev desktop-file-utils xvfb xauth poppler-utils python3-dev python3-numpy pybind11-dev python3-pytest python3-pandas python3-dask python3-distributed python3-tqdm python3-matplotlib python3-venv python3-pip python3-setuptools python3-wheel clang libclang-rt-14-dev build-essential dpkg-dev debhelper dh-python lintian appstream g++-aarch64-linux-gnu qemu-user-static"

cleftsim_install_deps() {
    local missing=""
    for p in $cleftsim_packages; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# The program's one version, as project() in CMakeLists.txt states it (run
# from the source tree's root).
cleftsim_version() {
    sed -n 's/^project(Cleftsim VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt
}
