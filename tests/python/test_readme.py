"""The README's Python examples, run as written, their output included, and typed: mypy --strict
passes on them with the package's stubs."""
import doctest
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import talvo

from conftest import ROOT, XRDML


def readme_example():
    lines, inside, seen = [], False, False
    for line in (ROOT / "README.md").read_text().splitlines():
        if line.startswith("## "):
            seen = line == "## Python"
        elif seen and line.startswith("```python"):
            inside = True
        elif inside and line.startswith("```"):
            break
        elif inside:
            lines.append(line)
    return "\n".join(lines) + "\n"


def test_readme_example_runs_and_prints_what_it_shows(tmp_path, monkeypatch):
    example = readme_example()
    assert "talvo.material(" in example and "talvo.read_xrdml(" in example
    # The example runs in the source folder and names a shipped test file.
    assert 'talvo.read_xrdml("tests/data/xrdml/single_scan_intensities.xrdml")' in example
    assert (XRDML / "single_scan_intensities.xrdml").is_file()
    (tmp_path / "tests" / "data" / "xrdml").mkdir(parents=True)
    shutil.copy(XRDML / "single_scan_intensities.xrdml", tmp_path / "tests" / "data" / "xrdml")
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(example, {}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    report = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
    assert runner.tries >= 10
    assert os.listdir(tmp_path) == ["tests"]
    assert os.listdir(tmp_path / "tests" / "data" / "xrdml") == ["single_scan_intensities.xrdml"]


def readme_python_examples():
    """The code of every ```python block of the README, without its prompts and outputs."""
    examples, code, inside = [], [], False
    for line in (ROOT / "README.md").read_text().splitlines():
        if line.startswith("```python"):
            inside, code = True, []
        elif inside and line.startswith("```"):
            inside = False
            examples.append("\n".join(code) + "\n")
        elif inside and (line.startswith(">>> ") or line.startswith("... ")):
            code.append(line[4:])
    return examples


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed (python3-mypy)")
def test_mypy_strict_passes_on_every_readme_example(tmp_path):
    examples = readme_python_examples()
    assert examples and all("import talvo" in e for e in examples)
    files = []
    for k, example in enumerate(examples):
        files.append(tmp_path / f"readme_example_{k}.py")
        files[-1].write_text(example)
    env = {**os.environ, "MYPYPATH": str(pathlib.Path(talvo.__file__).parent.parent)}
    env.pop("LD_PRELOAD", None)
    r = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"),
                        "--python-version", "3.11", *map(str, files)], capture_output=True, text=True, env=env,
                       timeout=600)
    assert r.returncode == 0, r.stdout + r.stderr
