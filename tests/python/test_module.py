"""The package as a whole: its manual, its signatures, its version, and its
silence."""
import inspect
import pydoc
import warnings

import pytest

import talvo
from conftest import XRDML, run_tools

FUNCTIONS = ["material", "convert_density", "form_factor", "xray_average", "read_xrdml", "modification", "filon_ft",
             "sq2gr", "peak", "data_file"]


def test_help_reads_like_a_manual():
    text = pydoc.render_doc(talvo, renderer=pydoc.plaintext)
    assert "Neutron and X-ray scattering" in text
    for name in FUNCTIONS:
        function = getattr(talvo, name)
        # A signature inspect reads (and help() shows), then at least a paragraph of our own.
        assert str(inspect.signature(function)).startswith("(") and f"{name}(" in text, name
        assert len(function.__doc__.strip()) > 80, name
        assert name in talvo.__doc__, f"the overview leaves out {name}"
    assert talvo.Material.__doc__ and talvo.TalvoWarning.__doc__ and talvo.TalvoError.__doc__


def test_version_is_the_programs():
    assert run_tools("--version").split()[1] == talvo.__version__


def test_nothing_is_printed(capfd):
    # Errors and warnings come as exceptions and warnings, never on stdout or stderr.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        talvo.material("H2O", density=1.0)
        talvo.form_factor("Fe", [1.0, 40.0], table="it")
        talvo.xray_average("SiO2", [0.0, 1.0], density=2.2)
        talvo.read_xrdml(XRDML / "single_scan_counts.xrdml")
        talvo.filon_ft([0.0, 1.0, 2.0, 3.0], [0.0, 1.0, 2.0, 3.0], [1.0])
        talvo.sq2gr([0.0, 1.0, 2.0, 3.0], [1.0, 1.1, 1.0, 1.0], [1.0], 0.1)
        talvo.convert_density(1.0, ["H", "O"], [2, 1])
    for call in (lambda: talvo.material("Xx"), lambda: talvo.convert_density(1.0, ["Qq"], [1.0]),
                 lambda: talvo.modification([0.0, 1.0, 2.0], "lorch", -1.0),
                 lambda: talvo.read_xrdml(XRDML / "missing.xrdml")):
        with pytest.raises((ValueError, OSError)):
            call()
    out, err = capfd.readouterr()
    assert out == "" and err == ""
