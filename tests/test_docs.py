"""The documentation: every public name is in the API reference, and the guide's examples run
as written, printing what their comments say."""
import contextlib
import importlib
import io
import pkgutil
import re
from pathlib import Path

import pytest

import quarntools

DOCS = Path(__file__).resolve().parents[1] / "docs"
DIRECTIVE = re.compile(r"^\.\. (?:auto(function|class|data|exception)|py:(data|function|class))::\s+(\S+)"
                       r"((?:\n   :\w+:.*)*)", re.M)

pytestmark = pytest.mark.skipif(not DOCS.is_dir(), reason="documentation sources not beside the tests")


def documented():
    """{dotted name: directive options} over every page of the API reference."""
    out = {}
    for page in sorted((DOCS / "api").glob("*.rst")):
        for m in DIRECTIVE.finditer(page.read_text(encoding="utf-8")):
            out[m.group(3)] = m.group(4)
    return out


def public_modules():
    """quarntools and every submodule without a private component that declares __all__."""
    yield quarntools
    for info in pkgutil.walk_packages(quarntools.__path__, "quarntools."):
        if any(part.startswith("_") for part in info.name.split(".")):
            continue
        module = importlib.import_module(info.name)
        if hasattr(module, "__all__"):
            yield module


def _resolve(dotted):
    module_name, _, attr = dotted.rpartition(".")
    return getattr(importlib.import_module(module_name), attr)


def test_every_public_name_is_in_the_reference():
    # A name counts as documented under any path that gives the same object (a class defined in
    # quarntools.asset.build and documented as quarntools.asset.Asset, say).
    refs = documented()
    seen = set()
    for dotted in refs:
        try:
            seen.add(id(_resolve(dotted)))
        except (ImportError, AttributeError):
            pass
    missing = []
    for module in public_modules():
        for name in module.__all__:
            obj = getattr(module, name)
            here = f"{module.__name__}.{name}"
            if here not in refs and id(obj) not in seen:
                missing.append(here)
    assert missing == [], ("add these to a page of docs/api/ (`.. autofunction:: <name>`, "
                           f"`.. autoclass:: <name>` with `:members:`, `.. autodata:: <name>`): {missing}")


def test_reference_entries_resolve_and_classes_list_their_members():
    stale, bare = [], []
    for dotted, options in documented().items():
        try:
            obj = _resolve(dotted)
        except (ImportError, AttributeError):
            stale.append(dotted)
            continue
        if isinstance(obj, type) and not issubclass(obj, BaseException) and ":members:" not in options:
            bare.append(dotted)
    assert stale == []
    assert bare == []


def test_reference_pages_are_all_in_the_toctree():
    index = (DOCS / "api" / "index.rst").read_text(encoding="utf-8")
    listed = set(re.findall(r"^   (\w[\w-]*)$", index, re.M))
    pages = {p.stem for p in (DOCS / "api").glob("*.rst")} - {"index"}
    assert pages == listed


GUIDE = sorted([DOCS / "getting-started.rst", *(DOCS / "user-guide").glob("*.rst")])
BLOCK = re.compile(r"^\.\. code-block:: python\n\n((?:(?:   .*)?\n)+)", re.M)
CHECKED_PRINT = re.compile(r"^(\s*)(print\(.*\))\s+# (.+)$")


def _instrument(code):
    """Each one-line `print(...)  # text` checks that it prints `text` (up to ' — ')."""
    out = []
    for line in code.splitlines():
        m = CHECKED_PRINT.match(line)
        if m and m.group(2).count("(") == m.group(2).count(")"):
            expected = m.group(3).split(" — ")[0].strip()
            out.append(f"{m.group(1)}__check(lambda: {m.group(2)}, {expected!r})")
        else:
            out.append(line)
    return "\n".join(out)


def _check(call, expected):
    buf = io.StringIO()
    with contextlib.redirect_stdout(buf):
        call()
    assert buf.getvalue().strip() == expected


def test_guide_pages_have_examples():
    counts = {p.name: len(BLOCK.findall(p.read_text(encoding="utf-8"))) for p in GUIDE if p.name != "index.rst"}
    assert min(counts.values()) >= 1, counts


@pytest.mark.parametrize("page", GUIDE, ids=lambda p: p.stem)
def test_guide_examples_run_and_print_what_they_say(page, tmp_path, monkeypatch):
    pytest.importorskip("numpy")
    monkeypatch.chdir(tmp_path)                    # examples that write files write here
    namespace = {"__check": _check, "__name__": "__docs__"}
    blocks = BLOCK.findall(page.read_text(encoding="utf-8"))
    for k, block in enumerate(blocks):
        code = _instrument("\n".join(line[3:] for line in block.splitlines()))
        if "matplotlib" in code:
            pytest.importorskip("matplotlib")
        try:
            exec(compile(code, f"{page.name} block {k}", "exec"), namespace)
        except Exception as e:  # pragma: no cover - the message names the block
            raise AssertionError(f"{page.name} block {k} failed: {e!r}\n{code}") from e


def test_gallery_has_ten_figure_scripts():
    scripts = sorted((DOCS / "examples").glob("plot_*.py"))
    assert len(scripts) >= 10
    for s in scripts:
        text = s.read_text(encoding="utf-8")
        title = text.split('"""')[1].strip().splitlines()
        assert len(title) >= 3 and set(title[1]) == {"="} and len(title[1]) == len(title[0]), s.name
        assert "import matplotlib.pyplot as plt" in text, s.name
