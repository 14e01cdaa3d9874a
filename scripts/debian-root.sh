# Debian roots for testing on systems this machine does not run: made once
# with debootstrap, kept outside the checkout under /var/cache/tovra and
# reused while their package list stays the same. Sourced by the scripts that
# use one (sid-root.sh); needs root.
#
# A script sets root_dir, root_suite, root_arch, root_packages and
# root_setup (commands run inside once the packages are in), then calls
# root_ensure, root_copy_tree and root_run.

# The first Debian archive (not its security archive) in the apt sources.
debian_mirror() {
    {
        cat /etc/apt/sources.list 2>/dev/null | awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }'
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "$file"
        done
        for file in /etc/apt/sources.list.d/*.list; do
            [ -f "$file" ] || continue
            awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }' "$file"
        done
    } | grep -E '/debian/?$' | head -n 1
}

# in_root DIR SCRIPT [NAME ARG...]: runs SCRIPT with /bin/sh inside DIR, in a
# clean environment (nothing of the host's Python or compiler settings), with
# the personality of the root's architecture.
in_root() {
    in_dir=$1
    in_script=$2
    shift 2
    set -- chroot "$in_dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive /bin/sh -c "$in_script" "$@"
    if [ "$root_arch" = i386 ]; then
        setarch i686 "$@"
    else
        "$@"
    fi
}

root_mounted=""
root_mount() {
    for dir in proc sys dev/pts; do
        mkdir -p "$1/$dir"
    done
    mount -t proc proc "$1/proc" && root_mounted="$1/proc $root_mounted"
    mount -t sysfs sysfs "$1/sys" && root_mounted="$1/sys $root_mounted"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$1/dev/pts" && root_mounted="$1/dev/pts $root_mounted"
}
root_unmount() {
    for dir in $root_mounted; do
        umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
    done
    root_mounted=""
}
# Whatever is still mounted below $1 (a run that was killed leaves its
# mounts), deepest first: a root is never removed with /proc or /sys inside.
root_unmount_below() {
    awk -v dir="$1/" 'index($2 "/", dir) == 1 { print $2 }' /proc/mounts | sort -r | while read -r mounted; do
        umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true
    done
}
trap root_unmount EXIT
trap 'exit 130' INT TERM

# pip inside a root reaches the package index through this machine's
# resolver and trusts what this machine trusts (a proxy's authority too).
root_network() {
    cp /etc/resolv.conf "$1/etc/resolv.conf"
    if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
        mkdir -p "$1/etc/ssl/certs"
        cp /etc/ssl/certs/ca-certificates.crt "$1/etc/ssl/certs/ca-certificates.crt"
    fi
}

# Makes the root unless one with the same suite, architecture, packages and
# setup is there already. An unstable suite's Release file may be past its
# Valid-Until date on the mirror, which apt would otherwise refuse.
root_ensure() {
    stamp="$root_suite $root_arch $root_packages $root_setup"
    if [ "$(cat "$root_dir/.tovra-root" 2>/dev/null)" = "$stamp" ]; then
        return 0
    fi
    echo "== making the $root_arch $root_suite root in $root_dir"
    if ! command -v debootstrap >/dev/null 2>&1; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    fi
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        echo "no Debian archive found in the apt sources" >&2
        exit 1
    fi
    echo "   mirror $mirror"
    fresh="$root_dir.new"
    root_unmount_below "$fresh"
    rm -rf "$fresh"
    mkdir -p "$(dirname "$root_dir")"
    if ! debootstrap --arch="$root_arch" --variant=minbase "$root_suite" "$fresh" "$mirror" >"$fresh.log" 2>&1; then
        tail -n 30 "$fresh.log" >&2
        echo "debootstrap failed; the whole log is in $fresh.log" >&2
        exit 1
    fi
    root_mount "$fresh"
    root_network "$fresh"
    in_root "$fresh" "apt-get -o Acquire::Check-Valid-Until=false update -qq \
        && apt-get -o Acquire::Check-Valid-Until=false install -y -qq --no-install-recommends $root_packages >/dev/null \
        && apt-get clean"
    # After the packages: installing ca-certificates rewrites the bundle.
    root_network "$fresh"
    in_root "$fresh" "$root_setup"
    root_unmount
    echo "$stamp" >"$fresh/.tovra-root"
    root_unmount_below "$root_dir"
    rm -rf "$root_dir" "$fresh.log"
    mv "$fresh" "$root_dir"
}

# The working tree as it is, without builds, venvs or history, at /src.
root_copy_tree() {
    rm -rf "$root_dir/src"
    mkdir -p "$root_dir/src"
    tar -C "$1" --exclude=./build --exclude='./.venv*' --exclude=./.git --exclude='__pycache__' \
        --exclude=.hypothesis --exclude=.pytest_cache -cf - . | tar -C "$root_dir/src" -xf -
}

# root_run SCRIPT [NAME ARG...]: SCRIPT inside the mounted root, from /src.
root_run() {
    root_mount "$root_dir"
    root_network "$root_dir"
    run_script=$1
    shift
    # The script's own status, not the unmount's: a caller that goes on
    # after a failure (root_run ... || failed=...) must see it.
    run_status=0
    in_root "$root_dir" "set -eu; cd /src; $run_script" "$@" || run_status=$?
    root_unmount
    return "$run_status"
}
