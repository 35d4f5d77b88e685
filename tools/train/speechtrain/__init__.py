"""Training tool for the project's small Russian speech model."""

import ctypes


def keep_freed_memory():
    """Keep freed tensor memory in the process heap for reuse: returning every
    multi-megabyte block to the system and faulting it in again costs more
    than the arithmetic on it."""
    libc = ctypes.CDLL("libc.so.6")
    libc.mallopt(-3, 32 << 20)  # M_MMAP_THRESHOLD
    libc.mallopt(-1, 1 << 30)  # M_TRIM_THRESHOLD
    libc.mallopt(-2, 256 << 20)  # M_TOP_PAD
