"""Every Python example in the README runs as written (in order, sharing one namespace)."""
import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[1] / "README.md"


def blocks():
    text = README.read_text(encoding="utf-8")
    return re.findall(r"```python\n(.*?)```", text, flags=re.S)


def test_readme_has_examples():
    assert len(blocks()) >= 8


def test_readme_examples_run():
    pytest.importorskip("numpy")
    namespace = {}
    for k, code in enumerate(blocks()):
        try:
            exec(compile(code, f"README block {k}", "exec"), namespace)
        except Exception as e:  # pragma: no cover - the message names the block
            raise AssertionError(f"README block {k} failed: {e!r}\n{code}") from e
