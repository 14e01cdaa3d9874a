# The Debian trixie i386 root, sourced by the scripts that use it: a 32-bit
# x86 CPython (C long and pointers of 32 bits) with g++, CMake and
# scikit-build-core. Kept in $TOVRA_I386_ROOT (default
# /var/cache/tovra/i386-trixie); its programs run natively, under the i686
# personality. /opt/venv has the test tools and sees the system's packages.
. scripts/debian-root.sh
root_dir=${TOVRA_I386_ROOT:-/var/cache/tovra/i386-trixie}
root_suite=trixie
root_arch=i386
root_packages="python3 python3-dev python3-venv python3-pytest python3-hypothesis python3-numpy python3-scikit-build-core g++ cmake ninja-build ca-certificates"
# networkx, which one example keeps in step, comes from the package index.
root_setup="python3 -m venv --system-site-packages /opt/venv && /opt/venv/bin/python -m pip install -q --disable-pip-version-check networkx"
