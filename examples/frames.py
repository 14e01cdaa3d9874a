"""Frames: several diffs in one file or pipe. A diff's bytes carry no total
length, so each goes as a frame: an 8-byte little-endian length, then that
many bytes. Shared by the examples that write or read a stream of diffs."""

import struct
from collections.abc import Iterator
from typing import IO

FRAME_HEADER = struct.Struct("<Q")  # the length of the diff that follows


def write_frame(out: IO[bytes], data: bytes) -> None:
    """One diff's bytes (from to_bytes()) as one frame."""
    out.write(FRAME_HEADER.pack(len(data)) + data)


def read_frames(source: IO[bytes]) -> Iterator[bytes]:
    """The diffs in a stream of frames, as bytes, one at a time as they arrive.
    End of input between two frames ends the stream; inside a frame it is an error."""
    while True:
        header = source.read(FRAME_HEADER.size)
        if not header:
            return
        if len(header) < FRAME_HEADER.size:
            raise ValueError("the stream ends inside a frame header")
        (length,) = FRAME_HEADER.unpack(header)
        data = source.read(length)
        if len(data) < length:
            raise ValueError(f"the stream ends inside a frame: {len(data)} of {length} bytes")
        yield data
