# The Debian trixie arm64 root, sourced by the scripts that use it: an
# aarch64 CPython whose programs this machine runs through qemu-user, the
# kernel handing each arm64 binary to qemu-aarch64-static (binfmt_misc with
# the F flag, so that it works inside the root too). Kept in
# $TOVRA_ARM64_ROOT (default /var/cache/tovra/arm64-trixie). There is no
# compiler in it: what runs there is built elsewhere.
. scripts/debian-root.sh
root_dir=${TOVRA_ARM64_ROOT:-/var/cache/tovra/arm64-trixie}
root_suite=trixie
root_arch=arm64
root_packages="python3 python3-dev python3-venv python3-pytest python3-hypothesis python3-numpy python3-scikit-build-core cmake ninja-build ca-certificates"
root_setup="python3 -m venv --system-site-packages /opt/venv && /opt/venv/bin/python -m pip install -q --disable-pip-version-check networkx"

# qemu-user for the root's programs, and the kernel told to use it.
emulation_ensure() {
    if [ ! -x /usr/bin/qemu-aarch64-static ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static binfmt-support >/dev/null
    fi
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || update-binfmts --enable qemu-aarch64
}
