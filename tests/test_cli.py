"""The quarntools command line: config errors, output-folder safety, interrupts, reproducibility."""
import hashlib
import json
import os
import signal
import subprocess
import sys
import time
import tomllib
from pathlib import Path

import pytest

from quarntools import cli
from quarntools.asset import default_toml

pytest.importorskip("xtgeo")
pytest.importorskip("lasio")

SMALL = """[frame]
ncol = 41
nrow = 41
xinc = 150.0
yinc = 150.0
[volumetrics]
realizations = 12
[porosity]
control_wells = 8
"""
ROOT = Path(__file__).resolve().parents[1]


def _run(*args, extra=None, **kw):
    code = extra or "import sys; from quarntools.cli import main; sys.exit(main(sys.argv[1:]))"
    return subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, text=True,
                          timeout=300, **kw)


def _tree(folder):
    """Relative path -> bytes of every file below ``folder``."""
    folder = Path(folder)
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


@pytest.fixture(scope="module")
def small_cfg(tmp_path_factory):
    p = tmp_path_factory.mktemp("cfg") / "small.toml"
    p.write_text(SMALL)
    return p


@pytest.fixture(scope="module")
def old_asset(tmp_path_factory, small_cfg):
    out = tmp_path_factory.mktemp("old") / "asset"
    assert cli.main(["asset", str(small_cfg), "--out", str(out), "--seed", "3"]) == 0
    return out


def test_print_config(capsys):
    assert cli.main(["asset", "--print-config"]) == 0
    assert capsys.readouterr().out == default_toml()


def test_console_script_and_module_entry_point():
    with open(ROOT / "pyproject.toml", "rb") as fh:
        assert tomllib.load(fh)["project"]["scripts"] == {"quarntools": "quarntools.cli:main"}
    r = subprocess.run([sys.executable, "-m", "quarntools", "asset", "--help"], capture_output=True,
                       text=True, timeout=60)
    assert r.returncode == 0 and r.stdout.startswith("usage: quarntools asset [-h] [--out DIR]")


BAD_CONFIGS = [
    pytest.param("[frame]\nncol = 12.5\n", "{cfg}:2: frame.ncol: expected an integer, got 12.5", id="type"),
    pytest.param("[wells]\ncount = 0\n", "{cfg}:2: wells.count: must be >= 1, <= 200, got 0", id="range"),
    pytest.param("[logs]\nstep = 0.5\n", "{cfg}:2: logs.step: unknown key (did you mean 'step_m'?)", id="unknown"),
    pytest.param("[frame]\nncol = \n", "{cfg}: not valid TOML: Invalid value (at line 2, column 8)", id="syntax"),
]


@pytest.mark.parametrize(("text", "message"), BAD_CONFIGS)
def test_bad_config_names_the_key_and_writes_nothing(tmp_path, capsys, text, message):
    cfg = tmp_path / "bad.toml"
    cfg.write_text(text)
    out = tmp_path / "out"
    assert cli.main(["asset", str(cfg), "--out", str(out)]) == 2
    assert capsys.readouterr().err == "quarntools: error: " + message.format(cfg=cfg) + "\n"
    assert sorted(os.listdir(tmp_path)) == ["bad.toml"]


def test_missing_config_file(tmp_path, capsys):
    assert cli.main(["asset", str(tmp_path / "nope.toml"), "--out", str(tmp_path / "o")]) == 2
    assert capsys.readouterr().err == f"quarntools: error: {tmp_path / 'nope.toml'}: cannot read: No such file or directory\n"


OUTPUT_REFUSALS = [
    pytest.param(False, "folder exists and is not empty; use --force to replace it", id="no-force"),
    pytest.param(True, "refusing to replace a non-empty folder that is not a quarntools asset "
                       "(no manifest.json); remove it yourself", id="force-on-foreign-folder"),
]


@pytest.mark.parametrize(("force", "why"), OUTPUT_REFUSALS)
def test_non_empty_output_is_refused(tmp_path, capsys, small_cfg, force, why):
    out = tmp_path / "out"
    out.mkdir()
    (out / "notes.txt").write_text("mine")
    args = ["asset", str(small_cfg), "--out", str(out)] + (["--force"] if force else [])
    assert cli.main(args) == 1
    assert capsys.readouterr().err == f"quarntools: error: {out}: {why}\n"
    assert _tree(tmp_path) == {"out/notes.txt": b"mine"}


def test_output_that_is_a_file_is_refused(tmp_path, capsys, small_cfg):
    (tmp_path / "out").write_text("x")
    assert cli.main(["asset", str(small_cfg), "--out", str(tmp_path / "out"), "--force"]) == 1
    assert capsys.readouterr().err == f"quarntools: error: {tmp_path / 'out'}: exists and is not a folder\n"


def test_force_replaces_an_asset_and_an_empty_folder_needs_none(tmp_path, small_cfg, old_asset):
    out = tmp_path / "out"
    out.mkdir()
    assert cli.main(["asset", str(small_cfg), "--out", str(out), "--seed", "4"]) == 0
    assert json.loads((out / "manifest.json").read_text())["seed"] == 4
    assert cli.main(["asset", str(small_cfg), "--out", str(out), "--seed", "5"]) == 1
    assert cli.main(["asset", str(small_cfg), "--out", str(out), "--seed", "5", "--force"]) == 0
    assert json.loads((out / "manifest.json").read_text())["seed"] == 5
    assert sorted(os.listdir(tmp_path)) == ["out"]


@pytest.mark.parametrize("seed", ["-1", str(2**64), "x"])
def test_bad_seed_is_a_usage_error(tmp_path, capsys, seed):
    with pytest.raises(SystemExit) as ex:
        cli.main(["asset", "--out", str(tmp_path / "o"), "--seed", seed])
    assert ex.value.code == 2 and "argument --seed:" in capsys.readouterr().err
    assert os.listdir(tmp_path) == []


def test_same_config_and_seed_give_identical_files_in_two_processes(tmp_path, small_cfg):
    runs = []
    cfg = tmp_path / "figures.toml"
    cfg.write_text(SMALL + "[output]\nfigures = true\nzmap = true\n")
    for k in range(2):
        out = tmp_path / f"run{k}"
        r = _run("asset", cfg, "--out", out, "--seed", "77")
        assert r.returncode == 0, r.stderr
        assert r.stderr == ""                          # no progress when stderr is not a terminal
        runs.append(_tree(out))
    assert runs[0] == runs[1]
    man = json.loads(runs[0]["manifest.json"])
    assert {e["path"]: e["sha256"] for e in man["files"]} == \
        {p: hashlib.sha256(b).hexdigest() for p, b in runs[0].items() if p != "manifest.json"}
    other = tmp_path / "other"
    assert _run("asset", small_cfg, "--out", other, "--seed", "78").returncode == 0
    assert _tree(other)["surfaces/top.irap"] != runs[0]["surfaces/top.irap"]


def test_failing_write_leaves_the_output_as_it_was(tmp_path, monkeypatch, small_cfg, old_asset):
    import shutil

    from quarntools.asset import build_asset, parse_config, write_asset
    from quarntools.io import las
    out = tmp_path / "asset"
    shutil.copytree(old_asset, out)
    before = _tree(out)
    asset = build_asset(parse_config(SMALL))
    calls = []

    def failing(*a, **k):
        calls.append(1)
        if len(calls) == 3:
            raise OSError(28, "No space left on device")
        return las.write_las.__wrapped__(*a, **k)
    failing.__wrapped__ = las.write_las
    monkeypatch.setattr(las, "write_las", failing)
    with pytest.raises(OSError, match="No space left on device"):
        write_asset(asset, str(out), force=True)
    assert _tree(out) == before
    assert sorted(os.listdir(tmp_path)) == ["asset"]


SLOW_WRITE = """
import sys, time
from quarntools.io import las
orig = las.write_las
def slow(*a, **k):
    orig(*a, **k)
    sys.stdout.write("WRITING\\n"); sys.stdout.flush()
    time.sleep(60)
las.write_las = slow
from quarntools.cli import main
sys.exit(main(sys.argv[1:]))
"""


@pytest.mark.parametrize(("sig", "rc", "temp_left"), [
    pytest.param(signal.SIGINT, 130, False, id="sigint-cleans-up"),
    pytest.param(signal.SIGKILL, -9, True, id="sigkill"),
])
def test_interrupted_write_leaves_the_output_as_it_was(tmp_path, small_cfg, old_asset, sig, rc, temp_left):
    import shutil
    out = tmp_path / "asset"
    shutil.copytree(old_asset, out)
    before = _tree(out)
    p = subprocess.Popen([sys.executable, "-c", SLOW_WRITE, "asset", str(small_cfg), "--out", str(out),
                          "--force"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline() == "WRITING\n"      # the temporary folder is half written now
        p.send_signal(sig)
        _, err = p.communicate(timeout=60)
    finally:
        if p.poll() is None:
            p.kill()
    assert p.returncode == rc
    if sig == signal.SIGINT:
        assert err.endswith("quarntools: interrupted; the output folder was left as it was\n")
    assert _tree(out) == before
    left = [n for n in os.listdir(tmp_path) if n != "asset"]
    assert bool(left) is temp_left and all(n.startswith(".asset.tmp-") for n in left)


def test_interrupted_build_writes_nothing(tmp_path, small_cfg):
    cfg = tmp_path / "long.toml"
    cfg.write_text(SMALL.replace("realizations = 12", "realizations = 100000"))
    out = tmp_path / "out"
    p = subprocess.Popen([sys.executable, "-m", "quarntools", "asset", str(cfg), "--out", str(out)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4.0)
    p.send_signal(signal.SIGINT)
    _, err = p.communicate(timeout=60)
    assert p.returncode == 130, err
    assert sorted(os.listdir(tmp_path)) == ["long.toml"]


def test_missing_extra_is_named_and_nothing_is_written(tmp_path, small_cfg):
    code = ("import sys; sys.modules['xtgeo'] = None; from quarntools.cli import main; "
            "sys.exit(main(sys.argv[1:]))")
    r = _run("asset", small_cfg, "--out", tmp_path / "out", extra=code)
    assert r.returncode == 1
    assert r.stderr == ('quarntools: error: writing surfaces needs xtgeo, which is not installed: '
                        'pip install "quarntools[io]"\n')
    assert os.listdir(tmp_path) == []


def test_progress_on_a_terminal_only():
    import io

    from quarntools.asset import Progress

    class Tty(io.StringIO):
        def isatty(self):
            return True
    quiet, tty = io.StringIO(), Tty()
    for p in (Progress(stream=quiet), Progress(stream=tty)):
        p.stage("structure")
        p.bar(10, 10)
        p.done()
    assert quiet.getvalue() == ""
    assert "structure (" in tty.getvalue() and "realizations [" + "#" * 30 + "] 10/10" in tty.getvalue()


def test_output_symlink_is_refused(tmp_path, capsys, small_cfg):
    (tmp_path / "real").mkdir()
    (tmp_path / "link").symlink_to(tmp_path / "real")
    assert cli.main(["asset", str(small_cfg), "--out", str(tmp_path / "link"), "--force"]) == 1
    assert capsys.readouterr().err == \
        f"quarntools: error: {tmp_path / 'link'}: is a symbolic link; give the folder it points to\n"
    assert sorted(os.listdir(tmp_path)) == ["link", "real"] and os.listdir(tmp_path / "real") == []


def test_the_asset_folder_gets_ordinary_permissions(old_asset):
    umask = os.umask(0o022)
    os.umask(umask)
    assert os.stat(old_asset).st_mode & 0o777 == 0o777 & ~umask
    assert os.stat(old_asset / "surfaces").st_mode & 0o777 == 0o777 & ~umask
