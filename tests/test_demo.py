"""The demo command: the default asset end to end; same seed gives the same report."""
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


def test_demo_writes_the_asset_with_figures_or_text_only(tmp_path):
    out = tmp_path / "demo-out"
    r = run_demo("--out", str(out))
    assert r.returncode == 0, r.stderr
    assert r.stdout == run_demo().stdout + f"asset      {len(list(out.rglob('*.*')))} files in {out}" + (
        "" if (out / "figures").is_dir() else
        '; figures skipped: matplotlib not installed (pip install "quarntools[plot]")') + "\n"
    assert (out / "report.txt").read_text() == run_demo().stdout
    assert {"manifest.json", "report.txt", "surfaces", "wells", "outlines", "volumetrics"} <= \
        {p.name for p in out.iterdir()}
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert not (out / "figures").exists()
    else:
        assert sorted(p.name for p in (out / "figures").iterdir()) == \
            ["logs.png", "map.png", "porosity.png", "volumetrics.png"]


def test_demo_refuses_a_non_empty_folder(tmp_path):
    (tmp_path / "keep.txt").write_text("x")
    r = run_demo("--out", str(tmp_path))
    assert r.returncode == 1 and r.stdout == ""
    assert r.stderr == f"quarntools: error: {tmp_path}: folder exists and is not empty; use --force to replace it\n"
    assert [p.name for p in tmp_path.iterdir()] == ["keep.txt"]


@pytest.mark.parametrize("args", [["--seed", "-1"], ["--grid", "3"], ["--realizations", "0"]])
def test_demo_rejects_bad_options(args):
    r = subprocess.run([sys.executable, "-m", "quarntools", "demo", *args], capture_output=True, text=True)
    assert r.returncode == 2 and "error:" in r.stderr
