"""Compiles the benchmark's same-work extension for the running interpreter.

The extension needs Boost 1.81 or newer (header-only: its flat hash tables).
When the headers are missing and apt-get can be run as root, it installs
Debian's libboost1.81-dev (or libboost-dev on a release that has a newer
one). `build(out_dir)` returns the directory that holds the built module, or
None with the reason printed, and the caller then leaves the column out.
Never installed.

    python bench/same_work/build_same_work.py [OUT_DIR]
"""

from __future__ import annotations

import glob
import os
import re
import shutil
import subprocess
import sys
import sysconfig

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SRC = os.path.join(ROOT, "src")

# The module's own argument parsing, conversions and error values: linked in
# so that the only difference from the module is the tables. (The conversions
# out build the listings the harness compares.)
MODULE_SOURCES = [
    "extension/argument_parser.cpp",
    "extension/conversions_in.cpp",
    "extension/conversions_out.cpp",
    "extension/error_value.cpp",
    "extension/interned_names.cpp",
]

MINIMUM = 108100  # BOOST_VERSION of 1.81.0
HEADER = os.path.join("boost", "unordered", "unordered_flat_map.hpp")


def say(message: str) -> None:
    print(f"same-work column: {message}", file=sys.stderr)


def include_dirs() -> list[str]:
    dirs = []
    for var in ("BOOST_INCLUDEDIR", "BOOST_ROOT"):
        value = os.environ.get(var)
        if value:
            dirs += [value, os.path.join(value, "include")]
    return dirs + ["/usr/local/include", "/usr/include"]


def find_boost() -> tuple[str | None, str]:
    """The include directory of a Boost recent enough, and what was found."""
    seen = "no Boost headers"
    for d in include_dirs():
        version_file = os.path.join(d, "boost", "version.hpp")
        if not os.path.exists(version_file):
            continue
        with open(version_file) as f:
            match = re.search(r"#define\s+BOOST_VERSION\s+(\d+)", f.read())
        version = int(match.group(1)) if match else 0
        seen = f"Boost {version // 100000}.{version // 100 % 1000} in {d}"
        if version >= MINIMUM and os.path.exists(os.path.join(d, HEADER)):
            return d, seen
    return None, seen


def apt_install() -> bool:
    if shutil.which("apt-get") is None:
        say("no apt-get here")
        return False
    if os.geteuid() != 0:
        say("apt-get needs root, and this is not root")
        return False
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")

    def install(package: str) -> bool:
        say(f"installing {package} with apt-get")
        return subprocess.run(["apt-get", "install", "-y", "-q", package], env=env,
                              stdout=subprocess.DEVNULL).returncode == 0

    for package in ("libboost1.81-dev", "libboost-dev"):
        if install(package):
            return True
    # The package lists may be missing or stale: read them once, then retry.
    subprocess.run(["apt-get", "update", "-q"], env=env, stdout=subprocess.DEVNULL)
    return any(install(package) for package in ("libboost1.81-dev", "libboost-dev"))


def inputs() -> list[str]:
    files = [os.path.join(HERE, "same_work.cpp"), os.path.join(HERE, "boost_tables.hpp")]
    for pattern in ("**/*.hpp", "**/*.cpp"):
        files += glob.glob(os.path.join(SRC, pattern), recursive=True)
    return files


def build(out_dir: str) -> str | None:
    boost, seen = find_boost()
    if boost is None and apt_install():
        boost, seen = find_boost()
    if boost is None:
        say(f"skipped: it needs Boost 1.81 or newer ({seen}; on Debian: apt-get install libboost1.81-dev)")
        return None
    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, "_tovra_same_work" + sysconfig.get_config_var("EXT_SUFFIX"))
    if os.path.exists(target) and os.path.getmtime(target) > max(map(os.path.getmtime, inputs())):
        return out_dir
    compiler = os.environ.get("CXX", "g++")
    # A system directory is searched already; naming it again with -isystem
    # would reorder it before the C++ library's own wrappers of the C headers.
    extra = [] if boost in ("/usr/include", "/usr/local/include") else ["-isystem", boost]
    # The flags of the module's release build (CMake's Release: -O3 -DNDEBUG),
    # symbols hidden as in the module.
    command = [compiler, "-std=c++20", "-O3", "-DNDEBUG", "-shared", "-fPIC",
               "-fvisibility=hidden", "-fvisibility-inlines-hidden", "-Wall", "-Wextra",
               "-I", SRC, *extra, "-I", sysconfig.get_paths()["include"],
               os.path.join(HERE, "same_work.cpp"),
               *(os.path.join(SRC, s) for s in MODULE_SOURCES), "-o", target + ".tmp"]
    if subprocess.run(command).returncode != 0:
        say("skipped: the extension did not compile")
        return None
    os.replace(target + ".tmp", target)
    return out_dir


if __name__ == "__main__":
    built = build(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "build", sys.implementation.cache_tag))
    if built is None:
        sys.exit(1)
    print(built)
