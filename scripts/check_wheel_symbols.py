"""Checks what each wheel's module asks of the system, which auditwheel does
not see whole: it reads the versions of the symbols that carry one, and a
glibc symbol left without a version binds to whatever the running system
offers, or fails to load on an old one. Passes a module whose undefined
symbols are all versioned, weak, or CPython's own, and whose needed libraries
are glibc's and libgcc_s.

    check_wheel_symbols.py WHEEL...
"""
import io
import sys
import zipfile

from elftools.elf.elffile import ELFFile
from elftools.elf.dynamic import DynamicSection
from elftools.elf.gnuversions import GNUVerSymSection

SYSTEM_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1", "libgcc_s.so.1"}


def problems(elf):
    needed = set()
    for section in elf.iter_sections():
        if isinstance(section, DynamicSection):
            needed.update(tag.needed for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED")
    for library in sorted(needed):
        if library not in SYSTEM_LIBRARIES and not library.startswith("ld-linux"):
            yield f"needs {library}"
    symbols = elf.get_section_by_name(".dynsym")
    versions = next((s for s in elf.iter_sections() if isinstance(s, GNUVerSymSection)), None)
    for index, symbol in enumerate(symbols.iter_symbols()):
        if index == 0 or symbol["st_shndx"] != "SHN_UNDEF" or symbol["st_info"]["bind"] == "STB_WEAK":
            continue
        # Version index 1 is the global, unversioned one.
        versioned = versions is not None and versions.get_symbol(index)["ndx"] not in ("VER_NDX_GLOBAL", 1)
        if not versioned and not symbol.name.startswith(("Py", "_Py")):
            yield f"unversioned {symbol.name}"


def main(paths):
    failed = False
    for path in paths:
        with zipfile.ZipFile(path) as wheel:
            modules = [name for name in wheel.namelist() if name.endswith(".so")]
            if not modules:
                print(f"{path}: no module in the wheel")
                failed = True
            for name in modules:
                found = list(problems(ELFFile(io.BytesIO(wheel.read(name)))))
                for problem in found:
                    print(f"{path}: {name}: {problem}")
                failed |= bool(found)
    if not failed:
        print(f"symbols: {len(paths)} wheels ask only glibc, libgcc_s and CPython, each symbol versioned")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
