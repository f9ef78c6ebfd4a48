"""The demo command: runs end to end, same seed gives the same report."""
import os
import subprocess
import sys

import pytest


def run_demo(*args, env_extra=None):
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.run([sys.executable, "-m", "quarntools", "demo", "--grid", "31",
                           "--realizations", "12", "--quiet", *args],
                          capture_output=True, text=True, timeout=120, env=env)


def test_demo_report_is_reproducible(tmp_path):
    a = run_demo("--seed", "11")
    b = run_demo("--seed", "11")
    assert a.returncode == 0, a.stderr
    assert a.stdout == b.stdout
    lines = a.stdout.splitlines()
    heads = [ln.split()[0] for ln in lines if ln and not ln.startswith(" ")]
    for section in ("frame", "lattice", "structure", "closure", "wells", "isochore", "logs", "control",
                    "kriging", "sgs", "volumes"):
        assert section in heads, section
    assert "STOIIP P90" in a.stdout
    assert run_demo("--seed", "12").stdout != a.stdout


def test_demo_figures_or_text_only(tmp_path):
    out = tmp_path / "figs"
    r = run_demo("--out", str(out))
    assert r.returncode == 0, r.stderr
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert "matplotlib not installed; text only" in r.stdout
    else:
        assert sorted(p.name for p in out.iterdir()) == ["logs.png", "map.png", "porosity.png"]


@pytest.mark.parametrize("args", [["--seed", "-1"], ["--grid", "3"], ["--realizations", "0"]])
def test_demo_rejects_bad_options(args):
    r = subprocess.run([sys.executable, "-m", "quarntools", "demo", *args], capture_output=True, text=True)
    assert r.returncode == 2 and "error:" in r.stderr
