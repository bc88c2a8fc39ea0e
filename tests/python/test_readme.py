"""The README's Python example, run as written, its output included."""
import doctest
import os
import shutil

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
