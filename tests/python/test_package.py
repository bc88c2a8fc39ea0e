"""The package: its stubs against the module, its signatures, its errors by
kind, mypy on a user's script, and a wheel built and installed into a fresh
virtual environment."""
import ast
import copy
import functools
import importlib.util
import inspect
import os
import pathlib
import pickle
import pydoc
import subprocess
import sys
import warnings
import zipfile

import numpy as np
import pytest

import talvo
from talvo import _core
from conftest import ROOT, XRDML, run_python

STUB = pathlib.Path(talvo.__file__).with_name("_core.pyi")
SOURCE_STUB = ROOT / "python" / "talvo" / "_core.pyi"


def stub_tree():
    return ast.parse(STUB.read_text())


def test_the_stubs_are_the_repositorys():
    assert STUB.read_text() == SOURCE_STUB.read_text()
    assert pathlib.Path(talvo.__file__).with_name("py.typed").is_file()


def test_the_stubs_name_what_the_module_holds():
    stub_names, classes, functions = set(), {}, {}
    for node in stub_tree().body:
        if isinstance(node, ast.ClassDef):
            classes[node.name] = node
            stub_names.add(node.name)
        elif isinstance(node, ast.FunctionDef):
            # The last of a function's overloads is its whole signature; the others narrow what it returns.
            functions[node.name] = node
            stub_names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            stub_names.add(node.target.id)
    module_names = {n for n in vars(_core) if not (n.startswith("__") and n.endswith("__"))} | {"__version__"}
    assert stub_names == module_names
    # Each class: the same public attributes and methods.
    for name, node in classes.items():
        stubbed = {f.name for f in node.body if isinstance(f, ast.FunctionDef)}
        cls = getattr(_core, name)
        if issubclass(cls, BaseException):
            continue
        public = {n for n in vars(cls) if not n.startswith("_")}
        assert {n for n in stubbed if not n.startswith("_")} == public, name
        assert all(hasattr(cls, n) for n in stubbed), name
    # Each function: the parameters and defaults of its signature.
    for name, node in functions.items():
        args = node.args
        params = args.args + args.kwonlyargs
        defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults + args.kw_defaults
        stubbed = [(a.arg, None if d is None else ast.literal_eval(d)) for a, d in zip(params, defaults)]
        actual = [(p.name, None if p.default is inspect.Parameter.empty else p.default)
                  for p in inspect.signature(getattr(_core, name)).parameters.values()]
        assert stubbed == actual, name


UNITS = ("Angstrom", "g/cm3", "barn", "electrons", "fm", "x's unit", "degrees", "bare name")


@pytest.mark.parametrize("name", [n for n in talvo.__all__ if callable(getattr(talvo, n))
                                  and not isinstance(getattr(talvo, n), type)])
def test_every_function_has_a_signature_and_units(name):
    function = getattr(talvo, name)
    signature = inspect.signature(function)
    assert list(signature.parameters), name
    assert any(unit in function.__doc__ for unit in UNITS), name
    # help() shows the signature with its defaults.
    assert f"{name}{signature}" in pydoc.render_doc(function, renderer=pydoc.plaintext)


def test_errors_by_kind():
    kinds = _core._ERROR_KINDS
    assert set(kinds) == {"invalid argument", "parse error", "not found", "out of range", "I/O error", "unsupported",
                          "out of memory", "cancelled"}
    for kind, (about_value, about_file) in kinds.items():
        assert issubclass(about_value, talvo.TalvoError) and issubclass(about_file, talvo.TalvoError), kind
    assert kinds["not found"] == (talvo.TalvoValueError, talvo.TalvoFileNotFoundError)
    assert kinds["I/O error"] == (talvo.TalvoOSError, talvo.TalvoOSError)
    assert issubclass(talvo.TalvoValueError, ValueError) and issubclass(talvo.TalvoOSError, OSError)
    assert issubclass(talvo.TalvoFileNotFoundError, FileNotFoundError)
    assert issubclass(talvo.TalvoMemoryError, MemoryError)
    assert not issubclass(talvo.TalvoWarning, talvo.TalvoError) and issubclass(talvo.TalvoWarning, UserWarning)
    # Each kind as a call meets it, the library's words as the message.
    for call, kind, words in [
        (lambda: talvo.material("Xx"), talvo.TalvoValueError, 'unknown element "Xx"'),
        (lambda: talvo.material("H2O("), talvo.TalvoValueError, "H2O("),
        (lambda: talvo.form_factor("Fe", [-1.0]), talvo.TalvoValueError, "-1"),
        (lambda: talvo.read_xrdml(XRDML / "nope.xrdml"), talvo.TalvoFileNotFoundError, "nope.xrdml"),
        (lambda: talvo.read_xrdml(XRDML), talvo.TalvoOSError, "not a regular file"),
        (lambda: talvo.read_xrdml(XRDML / "schema21_gonio_counts.xrdml", axis="Chi"), talvo.TalvoValueError, "Chi"),
        (lambda: talvo.sq2gr([0.0, 1.0], [1.0, 1.0], [1.0], 0.1), talvo.TalvoValueError, "at least 3 Q values"),
    ]:
        with pytest.raises(kind) as caught:
            call()
        assert type(caught.value) is kind and words in str(caught.value)
    with pytest.raises(talvo.TalvoError):
        talvo.peak([0.0], "gaussian", 0.0, -1.0)


def test_a_missing_table_is_file_not_found(tmp_path):
    code = ("import talvo\n"
            "try:\n    talvo.material('H2O')\n"
            "except talvo.TalvoFileNotFoundError as e:\n    print(type(e).__mro__[1].__name__, isinstance(e, OSError))\n")
    r = run_python(code, {**os.environ, "G_F": str(tmp_path) + "/"})
    assert r.returncode == 0 and r.stdout.split() == ["TalvoOSError", "True"], r.stderr


LAB = ROOT / "tests" / "data" / "lab_xy"
MODEL = ROOT / "tests" / "data" / "pdf_model"
_SWEEP = "talvo.material('Gd2O3', density=7.41, thickness=0.1, wavelength=np.array([[1.0, 2.0], [3.0, 4.0]]))"
# A call that makes each result class.
NEUTRON = ROOT / "tests" / "data" / "neutron_runs"
RESULTS = {
    "Material": "talvo.material('Gd2O3', density=7.41, thickness=0.1)",
    "PerAtom": "talvo.material('Gd2O3').per_atom",
    "PerFormula": "talvo.material('Gd2O3').per_formula",
    "Element": "talvo.material('Gd2O3').elements[0]",
    "Partial": "talvo.material('Gd2O3').partials[1]",
    "Units": "talvo.material('Gd2O3').units",
    "MaterialSweep": _SWEEP,
    "PerAtomSweep": _SWEEP + ".per_atom",
    "ElementSweep": _SWEEP + ".elements[1]",
    "PartialSweep": _SWEEP + ".partials[2]",
    "XrayAverage": "talvo.xray_average('SiO2', np.array([[0.0], [1.0]]), density=2.2)",
    "XrayMaterial": "talvo.xray_material('Gd2O3', anode='Cu', density=7.41, thickness=0.001)",
    "XrayElement": "talvo.xray_material('Gd2O3', anode='Cu').elements[1]",
    "Dispersion": "talvo.dispersion('Fe', 8.048)",
    "XrdmlFile": f"talvo.read_xrdml({str(XRDML / 'polefigure_91_scans.xrdml')!r})",
    "XrdmlScan": f"talvo.read_xrdml({str(XRDML / 'polefigure_91_scans.xrdml')!r}).scans[5]",
    "Sq2gr": "talvo.sq2gr(np.linspace(0, 20, 201), np.ones(201), np.linspace(0.5, 5, 10), 0.1)",
    "Pdf": f"talvo.pdf({str(LAB / 'zro2_mo.xy')!r}, 'ZrO2', format='twotheta', wavelength=0.71073)",
    "Structure": f"talvo.Structure.from_cif({str(MODEL / 'TiO2_rutile-fit.cif')!r})",
    "Site": f"talvo.Structure.from_cif({str(MODEL / 'TiO2_rutile-fit.cif')!r}).sites[1]",
    "Atoms": f"talvo.Structure.from_cif({str(MODEL / 'CdSe_cadmoselite.cif')!r}).atoms()",
    "PdfModel": f"talvo.pdf_model(talvo.Structure.from_cif({str(MODEL / 'TiO2_rutile-fit.cif')!r}), r=(1, 5, 0.1),"
                " qmax=26, partials=True)",
    "Refinement": f"talvo.refine(talvo.Structure.from_stru({str(MODEL / 'Ni.stru')!r}), "
                  f"{str(MODEL / 'Ni_2-8.chi.gr')!r}, refine='a,scale', r=(1.5, 5), qmax=40)",
    "NeutronCorrections": "talvo.neutron_corrections('placzek', sample='V', density=6.1, wavelength=0.7, twotheta=[10, 90])",
    "NeutronPdf": f"talvo.pdf({str(NEUTRON / 'sample.dat')!r}, 'SiO2', radiation='neutron', "
                  f"background={str(NEUTRON / 'background.dat')!r}, vanadium={str(NEUTRON / 'vanadium.dat')!r}, "
                  "number_density=0.0662, radius=3, height=40, beam_height=20, wavelength=0.7, vanadium_radius=3, "
                  "vanadium_height=40, vanadium_number_density=0.0722, histories=2000, r=(0, 5, 0.1))",
}


@functools.cache
def made(name):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return eval(RESULTS[name], {"talvo": talvo, "np": np})


def test_every_result_class_is_made_here():
    results = {n for n in talvo.__all__ if isinstance(getattr(talvo, n), type) and "__getstate__" in
               vars(getattr(talvo, n))}
    assert results == set(RESULTS)


PICKLE_CHILD = """
import copy, pickle, sys, warnings
import numpy as np
import talvo

def same(a, b):
    # By == where the class has it, else (the parts of a sweep) attribute by attribute.
    if hasattr(type(a), "to_dict"):
        return a == b
    names = [n for n in dir(type(a)) if not n.startswith("_")]
    return all(np.array_equal(getattr(a, n), getattr(b, n)) if isinstance(getattr(a, n), np.ndarray)
               else getattr(a, n) == getattr(b, n) for n in names)

warnings.simplefilter("ignore")
result = eval(sys.argv[1])
print("repr", "same" if type(result).__module__ == "talvo" and repr(result).startswith(type(result).__name__ + "(")
      else "differs", flush=True)
print("deepcopy", "same" if same(copy.deepcopy(result), result) else "differs", flush=True)
# The oldest protocols last: a crash in one leaves the others said.
for protocol in reversed(range(pickle.HIGHEST_PROTOCOL + 1)):
    again = pickle.loads(pickle.dumps(result, protocol=protocol))
    print(protocol, "same" if type(again) is type(result) and same(again, result) else "differs", flush=True)
"""


@functools.cache
def pickled(name):
    """What a child process says of each protocol's round trip (a crash ends its lines early)."""
    r = subprocess.run([sys.executable, "-c", PICKLE_CHILD, RESULTS[name]], capture_output=True, text=True,
                       timeout=300)
    lines = dict(line.split(" ", 1) for line in r.stdout.splitlines())
    return lines, f"exit status {r.returncode}: {r.stderr[-500:]}"


# A process of its own for each class: protocols 0 and 1 once aborted the interpreter.
@pytest.mark.parametrize("protocol", [*range(pickle.HIGHEST_PROTOCOL + 1), "deepcopy", "repr"])
@pytest.mark.parametrize("name", RESULTS)
def test_every_result_pickles_under_every_protocol(name, protocol):
    lines, status = pickled(name)
    assert lines.get(str(protocol)) == "same", status


@pytest.mark.parametrize("name", RESULTS)
def test_result_arrays_are_read_only(name):
    result = made(name)
    values = result.to_dict() if hasattr(result, "to_dict") else {n: getattr(result, n) for n in dir(result)
                                                                     if not n.startswith("_")}
    values.update({n: getattr(result, n) for n in dir(result) if not n.startswith("_")})
    arrays = [v for v in values.values() if isinstance(v, np.ndarray)]
    arrays += [a for v in values.values() if isinstance(v, dict) for a in v.values() if isinstance(a, np.ndarray)]
    for a in arrays:
        assert not a.flags.writeable, name
        if a.size:
            with pytest.raises(ValueError):
                a.flat[0] = 12345.0


def test_a_restored_result_leaves_the_callers_arrays_writable():
    state = made("Sq2gr").__getstate__()
    mine = np.array(state["G"])
    state["G"] = mine
    restored = talvo.Sq2gr.__new__(talvo.Sq2gr)
    restored.__setstate__(state)
    assert mine.flags.writeable and not restored.G.flags.writeable
    mine[0] = 1.0
    assert restored.G[0] != 1.0


@pytest.mark.parametrize("name", ["../../../../etc/passwd", "/etc/passwd", "..", ".", "a/../../b", ""])
def test_data_file_refuses_names_that_leave_the_data_folder(name):
    with pytest.raises(talvo.TalvoValueError, match="is not a name inside the data folder"):
        talvo.data_file(name)
    assert talvo.data_file("sub/../neutron_sears92.tsv").endswith("/neutron_sears92.tsv")


# Numbers given as text are read as talvo-tools reads its options: units, and an exponent needs its letter.
@pytest.mark.parametrize("call,text,number", [
    (lambda v: talvo.material("H2O", density=v, thickness=0.1).sld, "1000 kg/m3", 1.0),
    (lambda v: talvo.material("H2O", density=1.0, thickness=v).transmission, "1mm", 0.1),
    (lambda v: talvo.material("H2O", wavelength=v).per_atom.sigma_abs, "0.18nm", 1.8),
    (lambda v: talvo.xray_material("SiO2", v, density=2.2).sld, "8048 eV", 8.048),
    (lambda v: talvo.xray_material("SiO2", wavelength=v).energy, "0.15406nm", 1.5406),
    (lambda v: talvo.dispersion("Fe", energy=v).f1, "8048eV", 8.048),
    (lambda v: talvo.compton("SiO2", [1.0, 2.0], wavelength=v)[1], "0.071073nm", 0.71073),
    (lambda v: talvo.xray_average("SiO2", [1.0], density=v).t0, "2200kg/m3", 2.2),
])
def test_numbers_as_text_take_units(call, text, number):
    assert call(text) == call(number)


@pytest.mark.parametrize("call,words", [
    (lambda: talvo.material("H2O", density="1-3"),
     'density is not a number: "1-3" reads as 1 then -3; an exponent needs its letter (1e-3)'),
    (lambda: talvo.material("H2O", thickness="3 furlongs"),
     'thickness: unknown unit "furlongs" in "3 furlongs": give nm, um, mm, cm or m (cm without one)'),
    (lambda: talvo.xray_material("SiO2", "8-17"),
     'energy is not a number: "8-17" reads as 8 then -17; an exponent needs its letter (8e-17)'),
    (lambda: talvo.pdf(LAB / "zro2_mo.xy", "ZrO2", format="twotheta", wavelength="0.5-6"),
     'wavelength is not a number: "0.5-6" reads as 0.5 then -6; an exponent needs its letter (0.5e-6)'),
])
def test_text_that_is_no_number_is_refused_saying_what_was_read(call, words):
    with pytest.raises(talvo.TalvoValueError) as e:
        call()
    assert str(e.value) == words


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed (python3-mypy)")
def test_mypy_reads_the_stubs(tmp_path):
    good = tmp_path / "good.py"
    good.write_text("import numpy as np\nimport talvo\n\n"
                    "sld: float = talvo.material('H2O', density=1.0).sld\n"
                    "none: float | None = talvo.material('H2O').sld\n"
                    "listed: np.ndarray = talvo.material('H2O', density='1 g/cm3', wavelength=[1.0, 2.0]).sld\n"
                    "t: float = talvo.xray_material('SiO2', '8048 eV', density=2.2, thickness='10um').transmission\n"
                    "swept = talvo.material('Gd', density=7.9, wavelength=np.linspace(1.0, 5.0, 5))\n"
                    "swept_t = swept.transmission\n"
                    "gd_abs: np.ndarray = swept.elements[0].sigma_abs\n"
                    "unit: str = talvo.material('H2O').units.sld\n"
                    "f: talvo.XrdmlFile = talvo.read_xrdml('pattern.xrdml')\n"
                    "print(sld, none, listed, t, swept_t, f.scans[0].x.mean(), talvo.material('V').elements[0].symbol)\n")
    bad = tmp_path / "bad.py"
    bad.write_text("import talvo\n\nprint(talvo.material('H2O', density=1.0).sdl)\n")
    env = {**os.environ, "MYPYPATH": str(pathlib.Path(talvo.__file__).parent.parent)}
    env.pop("LD_PRELOAD", None)

    def mypy(path):
        return subprocess.run([sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path / "cache"),
                               "--python-version", "3.11", str(path)], capture_output=True, text=True, env=env,
                              timeout=600)

    r = mypy(good)
    assert r.returncode == 0, r.stdout + r.stderr
    r = mypy(bad)
    assert r.returncode == 1 and '"Material[float, None]" has no attribute "sdl"' in r.stdout, r.stdout + r.stderr


def test_a_wheel_installs_into_a_fresh_venv(tmp_path):
    # Offline, with Debian's own setuptools, pip and venv: the wheel carries
    # the module, its stubs and its data, and the installed package finds its
    # data from any folder.
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "G_F", "LD_PRELOAD", "ASAN_OPTIONS")}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONDONTWRITEBYTECODE="1")
    # The wheel's own CMake build, beside the package under test: incremental
    # from one run to the next, and apart from other build trees' runs.
    env["TALVO_PYTHON_BUILD_DIR"] = str(pathlib.Path(talvo.__file__).parent.parent.parent / "python-wheel")

    def run(*args, cwd=tmp_path):
        r = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env, cwd=cwd, timeout=1500)
        assert r.returncode == 0, f"{' '.join(map(str, args))}:\n{r.stdout[-3000:]}\n{r.stderr[-3000:]}"
        return r.stdout

    run(sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w", tmp_path / "wheels", ROOT,
        cwd=ROOT)
    wheel = next((tmp_path / "wheels").glob("talvo-*.whl"))
    names = zipfile.ZipFile(wheel).namelist()
    for part in ("talvo/__init__.py", "talvo/py.typed", "talvo/_core.pyi", "talvo/data/neutron_sears92.tsv",
                 "talvo/data/wk_neutral.foqdat"):
        assert part in names, part
    assert any(n.startswith("talvo/_core.") and n.endswith(".so") for n in names)
    run(sys.executable, "-m", "venv", "--system-site-packages", tmp_path / "venv")
    python = tmp_path / "venv" / "bin" / "python"
    run(python, "-m", "pip", "install", "--no-build-isolation", "--no-deps", wheel)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    out = run(python, "-c",
              "import talvo, pathlib\n"
              "home = pathlib.Path(talvo.__file__).parent\n"
              "assert str(home).startswith(%r), home\n"
              "assert talvo.data_file('neutron_sears92.tsv') == str(home / 'data' / 'neutron_sears92.tsv')\n"
              "print(talvo.material('H2O', density=1.0).sld)\n"
              "print(talvo.read_xrdml(%r).scans[0].y.size)\n" % (str(tmp_path / "venv"),
                                                                 str(XRDML / "single_scan_counts.xrdml")),
              cwd=elsewhere)
    assert out.split() == ["-0.5599164809815348", str(talvo.read_xrdml(XRDML / "single_scan_counts.xrdml").scans[0].y.size)]
