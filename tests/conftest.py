"""Session set-up: the kernel test extension is built (or found) before collection."""
import _kernels


def pytest_configure(config):
    _kernels.prepare()


def pytest_report_header(config):
    return _kernels.describe()
