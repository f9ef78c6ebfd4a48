"""The type stubs shipped with the package: names, signatures and a strict type check.

The stub is read from the installed package (next to the extension), so these tests
also catch a wheel or dev tree that lacks `_quarntools.pyi`, `__init__.pyi` or `py.typed`.
"""
import ast
import inspect
import os
import re
import runpy
import subprocess
import sys
import types
import typing
from pathlib import Path

import numpy as np
import numpy.typing as npt
import pytest

import quarntools as qt
from quarntools import _quarntools as ext

PKG_DIR = Path(qt.__file__).parent
STUB = PKG_DIR / "_quarntools.pyi"
TYPING_DIR = Path(__file__).parent / "typing"
USAGE = TYPING_DIR / "usage.py"
ERRORS = TYPING_DIR / "errors.py"


# An absent stub leaves an empty tree; test_package_ships_the_stub_files reports it.
TREE = (ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB)) if STUB.is_file()
        else ast.Module(body=[], type_ignores=[]))


def _is_public(name):
    return not name.startswith("_") or (name.startswith("__") and name.endswith("__") and name != "__all__")


def _stub_all(tree=None):
    for node in (tree or TREE).body:
        if isinstance(node, ast.Assign) and any(isinstance(t, ast.Name) and t.id == "__all__" for t in node.targets):
            return ast.literal_eval(node.value)
    return None


def _stub_definitions():
    """Public top-level names in the order the stub defines them."""
    names = []
    for node in TREE.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names.append(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.append(node.target.id)
        elif isinstance(node, ast.Assign):
            names.extend(t.id for t in node.targets if isinstance(t, ast.Name))
    return [n for n in names if _is_public(n)]


def _decorators(node):
    return {d.id for d in node.decorator_list if isinstance(d, ast.Name)}


def _stub_classes():
    return {n.name: n for n in TREE.body if isinstance(n, ast.ClassDef) and _is_public(n.name)}


def _stub_callables():
    """(id, kind, class name or None, FunctionDef) for every function, constructor and method."""
    out = []
    for node in TREE.body:
        if isinstance(node, ast.FunctionDef) and _is_public(node.name):
            out.append((node.name, "function", None, node))
        elif isinstance(node, ast.ClassDef) and _is_public(node.name):
            for item in node.body:
                if not isinstance(item, ast.FunctionDef):
                    continue
                decos = _decorators(item)
                if item.name == "__new__":
                    kind = "constructor"
                elif "property" in decos:
                    kind = "property"
                elif "staticmethod" in decos:
                    kind = "static"
                else:
                    kind = "method"
                out.append((f"{node.name}.{item.name}", kind, node.name, item))
    return out


def _signature_from_ast(fn, drop_first):
    """The inspect.Signature a stub `def` describes: names, kinds and defaults (no annotations)."""
    a = fn.args
    P = inspect.Parameter
    positional = a.posonlyargs + a.args
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    params = []
    for i, (arg, default) in enumerate(zip(positional, defaults)):
        kind = P.POSITIONAL_ONLY if i < len(a.posonlyargs) else P.POSITIONAL_OR_KEYWORD
        value = P.empty if default is None else ast.literal_eval(default)
        params.append(P(arg.arg, kind, default=value))
    if a.vararg:
        params.append(P(a.vararg.arg, P.VAR_POSITIONAL))
    for arg, default in zip(a.kwonlyargs, a.kw_defaults):
        params.append(P(arg.arg, P.KEYWORD_ONLY, default=P.empty if default is None else ast.literal_eval(default)))
    if a.kwarg:
        params.append(P(a.kwarg.arg, P.VAR_KEYWORD))
    return inspect.Signature(params[1:] if drop_first else params)


# ---- (a) names ------------------------------------------------------------------------------


def test_package_ships_the_stub_files():
    # PEP 561: py.typed marks the package typed; __init__.pyi re-exports the extension's names.
    for name in ("_quarntools.pyi", "__init__.pyi", "py.typed"):
        assert (PKG_DIR / name).is_file(), name


def test_stub_names_equal_all_in_order():
    assert _stub_all() == ext.__all__
    assert qt.__all__ == [*ext.__all__, "Field", "spawn_seeds"]
    # ...and the stub defines exactly those names, in registration order.
    assert _stub_definitions() == ext.__all__
    # The package stub spells the list out for `from quarntools import *`.
    init = PKG_DIR / "__init__.pyi"
    assert _stub_all(ast.parse(init.read_text(encoding="utf-8"))) == qt.__all__


def test_stub_class_members_equal_runtime_members():
    for name, node in _stub_classes().items():
        cls = getattr(ext, name, None)
        if cls is None:
            continue  # a missing class is reported by the names test
        stub = {f.name for f in node.body if isinstance(f, ast.FunctionDef) and not f.name.startswith("_")}
        runtime = {m for m in vars(cls) if not m.startswith("_")}
        assert stub == runtime, name
        assert ("__new__" in {f.name for f in node.body if isinstance(f, ast.FunctionDef)}) == (
            "__new__" in vars(cls)
        ), name


# ---- (b) signatures -----------------------------------------------------------------------------

CALLABLES = _stub_callables()


@pytest.mark.parametrize(("qualname", "kind", "owner", "node"), CALLABLES, ids=[c[0] for c in CALLABLES])
def test_stub_signature_matches_runtime(qualname, kind, owner, node):
    top = owner or qualname
    if not hasattr(ext, top):
        pytest.fail(f"{top} is in the stub but not registered by the extension")
    if kind == "function":
        assert str(_signature_from_ast(node, False)) == str(inspect.signature(getattr(ext, qualname)))
        return
    cls = getattr(ext, owner)
    raw = inspect.getattr_static(cls, node.name)
    if kind == "constructor":
        assert str(_signature_from_ast(node, True)) == str(inspect.signature(cls))
    elif kind == "static":
        assert isinstance(raw, staticmethod)
        assert str(_signature_from_ast(node, False)) == str(inspect.signature(getattr(cls, node.name)))
    elif kind == "method":
        assert inspect.ismethoddescriptor(raw) and not isinstance(raw, staticmethod)
        assert [a.arg for a in node.args.args][:1] == ["self"]
        # At run time the instance is positional-only, as for the interpreter's own methods.
        runtime = str(inspect.signature(getattr(cls, node.name))).replace("(self, /, ", "(self, ")
        assert str(_signature_from_ast(node, False)) == runtime.replace("(self, /)", "(self)")
    else:  # property: a read-only data descriptor at run time, `(self)` in the stub
        assert inspect.isdatadescriptor(raw) and not callable(raw)
        assert str(_signature_from_ast(node, False)) == "(self)"


@pytest.mark.parametrize("name", [n for n, c in _stub_classes().items() if not any(
    isinstance(f, ast.FunctionDef) and f.name == "__new__" for f in c.body)])
def test_classes_without_constructor_refuse_calls(name):
    # The stub declares no constructor for these, matching the runtime refusal.
    with pytest.raises(TypeError):
        getattr(ext, name)()


# ---- (c) strict type check of the usage files ---------------------------------------------------


@pytest.fixture(scope="module")
def mypy_report(tmp_path_factory):
    try:
        import mypy  # noqa: F401
    except ImportError:
        pytest.skip("mypy is not installed (it comes with the 'test' extra: pip install .[test])")
    env = dict(os.environ)
    # Let mypy resolve `quarntools` to the package imported here (a dev tree or site-packages).
    env["PYTHONPATH"] = os.pathsep.join(p for p in (str(PKG_DIR.parent), env.get("PYTHONPATH")) if p)
    cmd = [
        sys.executable, "-m", "mypy", "--strict", "--no-color-output", "--show-error-codes",
        "--hide-error-context", "--no-error-summary", "--show-absolute-path",
        "--cache-dir", str(tmp_path_factory.mktemp("mypy-cache")),
        str(USAGE), str(ERRORS),
    ]
    proc = subprocess.run(cmd, capture_output=True, text=True, env=env, cwd=tmp_path_factory.mktemp("mypy-cwd"),
                          timeout=300)
    errors = []
    for line in proc.stdout.splitlines():
        m = re.match(r"(.+?):(\d+): error: (.*)  \[([a-z-]+)\]$", line)
        if m:
            errors.append((Path(m[1]).resolve(), int(m[2]), m[4], m[3]))
    return proc, errors


def test_usage_passes_mypy_strict(mypy_report):
    proc, errors = mypy_report
    assert proc.returncode in (0, 1), proc.stdout + proc.stderr  # 2 means mypy itself failed
    found = [f"{line}: {msg} [{code}]" for path, line, code, msg in errors if path == USAGE.resolve()]
    assert found == [], "\n".join(found)
    stray = [line for line in proc.stdout.splitlines() if line and "error:" in line and "errors.py" not in line]
    assert stray == []


def test_errors_file_fails_mypy_strict_on_the_marked_lines(mypy_report):
    proc, errors = mypy_report
    assert proc.returncode == 1, proc.stdout + proc.stderr
    expected = set()
    for lineno, text in enumerate(ERRORS.read_text(encoding="utf-8").splitlines(), start=1):
        m = re.search(r"# E: ([a-z-]+)$", text)
        if m:
            expected.add((lineno, m[1]))
    found = {(line, code) for path, line, code, _ in errors if path == ERRORS.resolve()}
    assert len(expected) >= 20
    assert found == expected, proc.stdout


def test_stubtest_finds_no_mismatch(mypy_report):
    # mypy's stubtest compares the stub with the imported extension: names, argument
    # names and kinds, defaults, properties vs methods, static methods.
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (str(PKG_DIR.parent), env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--concise", "quarntools._quarntools"],
                          capture_output=True, text=True, env=env, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr


# ---- the usage file's claims hold at run time ------------------------------------------------------


def _stub_typeddicts():
    """Field names and annotation texts of the stub's result dicts, in declaration order."""
    out = {}
    for node in TREE.body:
        if isinstance(node, ast.ClassDef) and any(isinstance(b, ast.Name) and b.id == "TypedDict" for b in node.bases):
            fields = [f for f in node.body if isinstance(f, ast.AnnAssign)]
            out[node.name] = [(f.target.id, ast.unparse(f.annotation)) for f in fields]
    return out


TYPEDDICTS = _stub_typeddicts()


def _conforms(value, tp):
    """True when `value` has exactly the shape of the type expression `tp`."""
    if isinstance(tp, str):
        if tp in TYPEDDICTS:  # key order is part of the promise: keys are inserted as listed
            fields = TYPEDDICTS[tp]
            return (type(value) is dict and list(value) == [k for k, _ in fields]
                    and all(_conforms(value[k], eval(t)) for k, t in fields))
        return _conforms(value, eval(tp, {**vars(ext), **vars(typing)}))
    origin, args = typing.get_origin(tp), typing.get_args(tp)
    if origin in (types.UnionType, typing.Union):
        return any(_conforms(value, a) for a in args)
    if origin is list:
        return type(value) is list and all(_conforms(v, args[0]) for v in value)
    if origin is tuple:
        return type(value) is tuple and len(value) == len(args) and all(map(_conforms, value, args))
    if origin is dict:
        return type(value) is dict and all(_conforms(k, args[0]) and _conforms(v, args[1]) for k, v in value.items())
    if origin is not None and getattr(origin, "__name__", "") == "ndarray":  # NDArray[<scalar type>]
        dtype_args = typing.get_args(args[1])
        return type(value).__name__ == "ndarray" and value.dtype.type is dtype_args[0]
    if tp is None or tp is type(None):
        return value is None
    if isinstance(tp, type):
        return type(value) is tp
    raise TypeError(f"unsupported type expression {tp!r}")


def test_usage_runs_and_its_type_claims_hold(monkeypatch):
    pytest.importorskip("numpy")
    checked = []

    def assert_type(value, tp):
        assert _conforms(value, tp), f"{value!r:.200} is not {tp}"
        checked.append(tp)
        return value

    monkeypatch.setattr(typing, "assert_type", assert_type)
    runpy.run_path(str(USAGE), run_name="usage")
    assert len(checked) >= 100


CONFORMS = [
    pytest.param(np.zeros(2), npt.NDArray[np.float64], True, id="ndarray-float64"),
    pytest.param(np.zeros(2, np.int64), npt.NDArray[np.float64], False, id="ndarray-dtype"),
    pytest.param([0.0, 0.0], npt.NDArray[np.float64], False, id="list-is-not-ndarray"),
    pytest.param([1.0, 2.0], list[float], True, id="list-float"),
    pytest.param([1.0, 2], list[float], False, id="int-is-not-float"),
    pytest.param((b"", (1, 2)), tuple[bytes, tuple[int, int]], True, id="flat"),
    pytest.param((b"", [1, 2]), tuple[bytes, tuple[int, int]], False, id="flat-shape-list"),
    pytest.param(None, tuple[float, float] | None, True, id="optional-none"),
    pytest.param({"p90": 1.0, "p50": 2.0, "p10": 3.0, "mean": 2.0}, "_SummaryDict", True, id="typeddict"),
    pytest.param({"p50": 2.0, "p90": 1.0, "p10": 3.0, "mean": 2.0}, "_SummaryDict", False, id="typeddict-order"),
    pytest.param(True, int, False, id="bool-is-not-int"),
]


@pytest.mark.parametrize(("value", "tp", "expected"), CONFORMS)
def test_runtime_type_check_is_exact(value, tp, expected):
    assert _conforms(value, tp) is expected


# ---- the surface tool writes the stubs' __all__ lists from the extension ----------------------

SURFACE_TOOL = Path(__file__).resolve().parents[1] / "tools" / "surface"


def _run_surface(*args):
    return subprocess.run([sys.executable, str(SURFACE_TOOL), *args, str(PKG_DIR.parent)],
                          capture_output=True, text=True, timeout=120)


def test_surface_tool_finds_the_shipped_stubs_current():
    proc = _run_surface("--check")
    assert (proc.returncode, proc.stdout) == (0, "")


STALE = [
    pytest.param(lambda names: names[:-1], id="name-missing"),
    pytest.param(lambda names: [names[0], names[2], names[1], *names[3:]], id="order-swapped"),
    pytest.param(lambda names: [*names, "extra"], id="name-extra"),
]


@pytest.mark.parametrize("edit", STALE)
def test_surface_tool_rewrites_stale_all_lists(tmp_path, edit):
    for name in ("_quarntools.pyi", "__init__.pyi"):
        text = (PKG_DIR / name).read_text(encoding="utf-8")
        names = _stub_all(ast.parse(text))
        block = "__all__ = [\n" + "".join(f'    "{n}",\n' for n in names) + "]\n"
        assert block in text
        stale = "__all__ = [\n" + "".join(f'    "{n}",\n' for n in edit(names)) + "]\n"
        (tmp_path / name).write_text(text.replace(block, stale), encoding="utf-8")
    check = _run_surface("--check", "--stubs", str(tmp_path))
    assert (check.returncode, check.stdout) == (1, "stale: _quarntools.pyi, __init__.pyi\n")
    write = _run_surface("--stubs", str(tmp_path))
    assert (write.returncode, write.stdout) == (0, "rewrote: _quarntools.pyi, __init__.pyi\n")
    for name in ("_quarntools.pyi", "__init__.pyi"):
        assert (tmp_path / name).read_text(encoding="utf-8") == (PKG_DIR / name).read_text(encoding="utf-8")
