# The Debian unstable (sid) amd64 root, sourced by the scripts that use it:
# the newest CPython releases (3.14, 3.15) and the 3.14 debug build, whose C
# API checks its own assertions and counts every reference
# (sys.gettotalrefcount), with the newest g++. Kept in $TOVRA_SID_ROOT
# (default /var/cache/tovra/sid-amd64). Each interpreter has a venv,
# /opt/venv-X.Y (the debug one /opt/venv-3.14d), with the test tools and
# scikit-build-core, so the module builds there without build isolation.
. scripts/debian-root.sh
root_dir=${TOVRA_SID_ROOT:-/var/cache/tovra/sid-amd64}
root_suite=sid
root_arch=amd64
root_packages="python3.14 python3.14-dev python3.14-venv python3.14-dbg python3.15 python3.15-dev python3.15-venv g++ cmake ninja-build ca-certificates"
# numpy (one test passes its bool scalar) has no wheels for a debug build.
root_setup='for python in python3.14 python3.15 python3.14d; do
    venv=/opt/venv-${python#python}
    case $python in *d) numpy="" ;; *) numpy=numpy ;; esac
    $python -m venv $venv && $venv/bin/python -m pip install -q --disable-pip-version-check \
        pytest hypothesis networkx scikit-build-core $numpy || exit 1
done'
# The interpreters, as the names of their venvs.
sid_pythons=${SID_PYTHONS:-"3.14 3.15 3.14d"}
