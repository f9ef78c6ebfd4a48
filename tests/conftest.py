import os
from pathlib import Path

import pytest


def _testdata_dir():
    """Reference vectors in $QUARN_TESTDATA, else in shared/testdata beside the checkout
    or beside any folder above it (a worktree sits deeper than the main checkout)."""
    env = os.environ.get("QUARN_TESTDATA")
    candidates = [Path(env)] if env else []
    root = Path(__file__).resolve().parents[1]
    candidates += [d / "shared" / "testdata" for d in root.parents]
    for c in candidates:
        if c.is_dir():
            return c
    return None


@pytest.fixture(scope="session")
def testdata():
    d = _testdata_dir()
    if d is None:
        pytest.skip("reference vectors not found (set QUARN_TESTDATA)")
    return d


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "bigalloc: asks for an allocation that must fail with MemoryError; skipped under the "
        "sanitizers, whose allocator aborts on such a request instead of failing it")


def pytest_collection_modifyitems(config, items):
    if not os.environ.get("QUARN_SANITIZED"):
        return
    skip = pytest.mark.skip(reason="sanitizer allocator aborts on impossible allocations")
    for item in items:
        if "bigalloc" in item.keywords:
            item.add_marker(skip)
