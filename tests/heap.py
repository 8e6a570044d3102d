"""Bytes malloc has handed out and not taken back, as glibc counts them: the leak
test and the benchmark's heap figure both read the C heap this way."""

import ctypes
import sys


def heap_reader():
    """A function returning the bytes in use, or None where glibc does not tell."""
    if sys.platform != "linux":
        return None
    libc = ctypes.CDLL(None)  # the symbols the process already has, libc's among them
    if not hasattr(libc, "mallinfo2"):
        return None
    fields = "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost"

    class MallInfo2(ctypes.Structure):
        _fields_ = [(f, ctypes.c_size_t) for f in fields.split()]

    libc.mallinfo2.restype = MallInfo2

    def in_use():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd

    return in_use
