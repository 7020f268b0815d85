"""Shared fixtures. A developer build (scripts/dev-build) links the module into
python/tavrin_ovra/; when it is there the tests use it, else the installed package.
OVRA_PACKAGE_DIR names another directory holding a tavrin_ovra package to test
instead (scripts/sanitize-tests points it at the sanitizer build)."""

import glob
import os
import sys

import pytest

_SOURCE_PACKAGE = os.environ.get("OVRA_PACKAGE_DIR") or os.path.join(os.path.dirname(__file__), os.pardir, "python")
if glob.glob(os.path.join(_SOURCE_PACKAGE, "tavrin_ovra", "_tavrin_ovra*.so")):
    sys.path.insert(0, os.path.abspath(_SOURCE_PACKAGE))

import tavrin_ovra  # noqa: E402


@pytest.fixture
def handle():
    """A handle without spec and without data."""
    return tavrin_ovra.Ovra("")


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "memory_accounting: reads the process's resident memory or caps its address space; "
        "skipped under sanitizers (scripts/sanitize-tests), where neither means anything",
    )


def pytest_collection_modifyitems(config, items):
    if not os.environ.get("OVRA_SANITIZED"):
        return
    skip = pytest.mark.skip(reason="ASan keeps freed memory in quarantine and reserves terabytes of address space")
    for item in items:
        if item.get_closest_marker("memory_accounting"):
            item.add_marker(skip)
