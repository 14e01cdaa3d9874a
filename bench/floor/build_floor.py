"""Compiles the benchmark's floor extension for the running interpreter.

Prints the directory that holds the built module. Never installed.
"""

import os
import subprocess
import sys
import sysconfig

HERE = os.path.dirname(os.path.abspath(__file__))


def build(out_dir: str) -> str:
    os.makedirs(out_dir, exist_ok=True)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    target = os.path.join(out_dir, "_tovra_floor" + suffix)
    source = os.path.join(HERE, "floor.c")
    if os.path.exists(target) and os.path.getmtime(target) > os.path.getmtime(source):
        return out_dir
    compiler = os.environ.get("CC", "cc")
    subprocess.run(
        [compiler, "-O2", "-shared", "-fPIC", "-Wall",
         "-I", sysconfig.get_paths()["include"], source, "-o", target],
        check=True,
    )
    return out_dir


if __name__ == "__main__":
    print(build(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "build")))
