"""A count that the rest of the input could hold, followed by junk, must be refused with the
ordinary decoding error, not paid for in memory first: each input is decoded in a child whose
address space allows little more than the input itself."""

import os
import struct
import subprocess
import sys

import pytest

pytestmark = pytest.mark.skipif(
    not sys.platform.startswith("linux") or "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="needs /proc and an address-space limit (which AddressSanitizer's shadow defeats)",
)

ID = struct.pack("<Q", 16) + bytes(range(16))
SIZE = 100 << 20

# What comes before each hostile count. The count promises as many entries as the rest could
# hold were each as small as an id alone.
HEADS = {
    "nodes": b"",
    "deleted nodes": struct.pack("<Q", 0),
    "edge sources": struct.pack("<QQ", 0, 0),
    "targets of one source": struct.pack("<QQQ", 0, 0, 1) + ID,
    "deleted-edge sources": struct.pack("<QQQ", 0, 0, 0),
    "deleted-edge targets": struct.pack("<QQQQ", 0, 0, 0, 1) + ID,
}

CHILD = """
import resource, struct, sys
from tovra_api import PyGraphDiff
head, size = bytes.fromhex(sys.argv[1]), int(sys.argv[2])
rest = size - len(head) - 8
data = head + struct.pack("<Q", rest // 24) + bytes(rest)
with open("/proc/self/status") as status:
    vm = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize"))
resource.setrlimit(resource.RLIMIT_AS, (vm + (150 << 20), resource.RLIM_INFINITY))
try:
    PyGraphDiff.from_bytes(data)
except Exception as error:
    print(type(error).__name__, error)
except BaseException as error:
    print("escaped:", type(error).__name__, error)
else:
    print("decoded")
"""


@pytest.mark.parametrize("head", HEADS.values(), ids=HEADS.keys())
def test_plausible_count_over_junk_is_refused_without_reserving_for_it(head):
    child = subprocess.run([sys.executable, "-c", CHILD, head.hex(), str(SIZE)],
                           capture_output=True, text=True, timeout=120)
    assert (child.returncode, child.stdout.strip(), child.stderr) == (
        0, "Exception Failed to deserialize graph diff.", "")
