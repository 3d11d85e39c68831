"""Session set-up: the kernel test extension is built (or found) before collection, once: by the
controlling process when the suite runs in worker processes (pytest-xdist), whose workers then
import that build (they inherit VELMORA_KERNELS from it) instead of building it again at once."""
import os

import _kernels


def pytest_configure(config):
    _kernels.prepare()


def pytest_report_header(config):
    return _kernels.describe()


def pytest_xdist_auto_num_workers(config):
    # "-n auto": one worker per core, at most four (beyond that, start-up outweighs the gain).
    return max(1, min(4, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1))
