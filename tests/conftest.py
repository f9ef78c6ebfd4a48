import os
from pathlib import Path

import pytest


def _testdata_dir():
    """Reference vectors shipped beside the repository (../shared/testdata)."""
    env = os.environ.get("QUARN_TESTDATA")
    candidates = [Path(env)] if env else []
    root = Path(__file__).resolve().parents[1]
    candidates += [root.parent / "shared" / "testdata", Path("/work/shared/testdata")]
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
