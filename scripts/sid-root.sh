# The Debian unstable (sid) roots, sourced by the scripts that use one. Set
# sid_arch before sourcing (default amd64); one root per architecture, kept
# in /var/cache/tovra/sid-ARCH (or $TOVRA_SID_ROOT for amd64, $TOVRA_I386_ROOT
# and $TOVRA_ARM64_ROOT for the others). Unstable carries every CPython the
# wheels are for, on every architecture, so one root serves them all:
#   amd64  3.14, 3.15 and the 3.14 debug build, whose C API checks its own
#          assertions and counts every reference (sys.gettotalrefcount),
#          with the newest g++.
#   i386   3.13, 3.14 and 3.15, 32 bits (C long and pointers); its programs
#          run natively, under the i686 personality, with its own g++.
#   arm64  3.13, 3.14 and 3.15, run through qemu-user (the kernel hands each
#          arm64 binary to qemu-aarch64-static, binfmt_misc with the F flag,
#          so that it works inside the root too). No compiler: what runs
#          there is built by zig, an x86_64 program that runs natively.
# Each interpreter has a venv, /opt/venv-X.Y (the debug one /opt/venv-3.14d),
# with the test tools and scikit-build-core, so the module builds there
# without build isolation. Debian's numpy is built for its default python3
# (3.14), whose venvs see it; one test passes numpy's bool scalar and skips
# where numpy is missing (no wheels for a debug build, nor for 32-bit x86).
#
# A root is used by one script at a time: each run copies the checkout into it.
. scripts/debian-root.sh
sid_arch=${sid_arch:-amd64}
root_suite=sid
root_arch=$sid_arch
case $sid_arch in
amd64)
    root_dir=${TOVRA_SID_ROOT:-/var/cache/tovra/sid-amd64}
    root_packages="python3.14 python3.14-dev python3.14-venv python3.14-dbg python3.15 python3.15-dev python3.15-venv g++ cmake ninja-build ca-certificates"
    root_setup='for python in python3.14 python3.15 python3.14d; do
    venv=/opt/venv-${python#python}
    case $python in *d) numpy="" ;; *) numpy=numpy ;; esac
    $python -m venv $venv && $venv/bin/python -m pip install -q --disable-pip-version-check \
        pytest hypothesis networkx scikit-build-core $numpy || exit 1
done'
    # The interpreters, as the names of their venvs.
    sid_pythons=${SID_PYTHONS:-"3.14 3.15 3.14d"}
    ;;
i386 | arm64)
    if [ "$sid_arch" = i386 ]; then
        root_dir=${TOVRA_I386_ROOT:-/var/cache/tovra/sid-i386}
        compiler=g++
    else
        root_dir=${TOVRA_ARM64_ROOT:-/var/cache/tovra/sid-arm64}
        compiler=""
    fi
    # The test tools are Debian's: pure Python, in the dist-packages that
    # every python3.X of the root reads, so no venv fetches anything (pip
    # under emulation loses its connections to the package index).
    root_packages="python3.13 python3.13-dev python3.13-venv python3.14 python3.14-dev python3.14-venv python3.15 python3.15-dev python3.15-venv python3-numpy python3-pytest python3-hypothesis python3-networkx python3-scikit-build-core $compiler cmake ninja-build ca-certificates"
    root_setup='for version in 3.13 3.14 3.15; do
    python$version -m venv --system-site-packages /opt/venv-$version \
        && /opt/venv-$version/bin/python -c "import pytest, hypothesis, networkx, scikit_build_core" || exit 1
done'
    sid_pythons=${SID_PYTHONS:-"3.13 3.14 3.15"}
    ;;
*)
    echo "no sid root for $sid_arch" >&2
    exit 2
    ;;
esac

# qemu-user for an arm64 root's programs, and the kernel told to use it.
emulation_ensure() {
    if [ ! -x /usr/bin/qemu-aarch64-static ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static binfmt-support >/dev/null
    fi
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64
}
if [ "$sid_arch" = arm64 ]; then
    emulation_ensure
fi
