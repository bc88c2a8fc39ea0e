"""Hostile use of the package: results made without values, states that
hold themselves or nest without end, buffers at odd addresses, arrays of
non-numbers and texts with NUL. Each must be a Python exception, never a
signal: what could crash runs in a child process whose exit status is
checked."""
import copy
import pickle
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import talvo
from conftest import XRDML, run_python

# Each result class, and a call that makes one.
RESULTS = {
    "Material": "talvo.material('SiO2', density=2.2)",
    "PerAtom": "talvo.material('SiO2').per_atom",
    "Element": "talvo.material('SiO2').elements[0]",
    "Partial": "talvo.material('SiO2').partials[2]",
    "MaterialSweep": "talvo.material('Gd', density=7.9, wavelength=[1.0, 2.0])",
    "PerAtomSweep": "talvo.material('Gd', wavelength=[1.0, 2.0]).per_atom",
    "XrayAverage": "talvo.xray_average('SiO2', [0.0, 1.0])",
    "XrdmlFile": f"talvo.read_xrdml({str(XRDML / 'single_scan_counts.xrdml')!r})",
    "XrdmlScan": f"talvo.read_xrdml({str(XRDML / 'single_scan_counts.xrdml')!r}).scans[0]",
    "Sq2gr": "talvo.sq2gr([0.0, 1.0, 2.0], [1.0, 1.1, 1.0], [1.0, 2.0], 0.1)",
}


def child(code):
    """Runs code after `import talvo` in a child process; its exit status and output."""
    r = run_python("import copy, pickle, talvo\n" + textwrap.dedent(code))
    return r.returncode, r.stdout + r.stderr


@pytest.mark.parametrize("name", RESULTS)
def test_a_result_without_values_raises_type_error(name):
    # X.__new__(X) as pickle does it, and pybind11's own base __new__: the
    # instance holds no value yet, so every use is a TypeError.
    code = f"""
    made = {RESULTS[name]}
    cls = talvo.{name}
    for empty in (cls.__new__(cls), cls.__mro__[1].__new__(cls)):
        attribute = [n for n in dir(cls) if not n.startswith("_") and n != "to_dict"][0]
        uses = [lambda: getattr(empty, attribute), lambda: pickle.dumps(empty), lambda: copy.deepcopy(empty)]
        if hasattr(cls, "to_dict"):
            uses += [lambda: empty.to_dict(), lambda: empty == made, lambda: made == empty, lambda: empty == empty,
                     lambda: repr(empty)]
        if hasattr(cls, "__len__"):
            uses += [lambda: len(empty), lambda: empty[0], lambda: made in empty]
        for use in uses:
            try:
                use()
            except TypeError as e:
                assert "holds no values" in str(e) or "pickle" in str(e), e
            else:
                raise SystemExit(f"no TypeError from {{use}}")
        dir(empty)
    print("held")
    """
    status, out = child(code)
    assert status == 0 and out.strip() == "held", out


@pytest.mark.parametrize("name", [n for n in RESULTS if n != "PerAtomSweep"])
def test_state_is_a_copy_and_cannot_nest(name):
    code = f"""
    made = {RESULTS[name]}
    before = made.to_dict()
    state = made.__getstate__()
    # The state is the caller's own: changing it changes nothing in the result.
    for key in list(state):
        state[key] = made
    assert made.to_dict().keys() == before.keys()
    same = pickle.loads(pickle.dumps(made))
    assert same == made and same is not made
    # A live result is not overwritten by __setstate__.
    made.__setstate__(made.__getstate__())
    assert made == same
    cls = talvo.{name}
    # A state that holds the result itself, or nests 200000 levels deep, is refused.
    deep = {{}}
    for _ in range(200000):
        deep = {{key: deep for key in before}}
    bad_states = [state, deep, {{"nonsense": 1}}, [1, 2], None]
    if {name!r} == "MaterialSweep":
        bad_states += [{{"shape": [2**62, 2**62, 4], "materials": []}}, {{"shape": [3], "materials": made.to_dict()["materials"]}}]
    for bad in bad_states:
        empty = cls.__new__(cls)
        try:
            empty.__setstate__(bad)
        except TypeError:
            pass
        else:
            raise SystemExit(f"no TypeError for {{type(bad).__name__}} state")
    print("held")
    """
    status, out = child(code)
    assert status == 0 and out.strip() == "held", out


def test_results_compare_by_value_with_arrays_inside():
    a = talvo.read_xrdml(XRDML / "rsm_401_scans_list_positions.xrdml")
    b = talvo.read_xrdml(XRDML / "rsm_401_scans_list_positions.xrdml")
    assert a == b and not (a != b)
    assert a != talvo.read_xrdml(XRDML / "single_scan_counts.xrdml")
    assert a.scans[3] == b.scans[3] and a.scans[3] != a.scans[4]
    c = pickle.loads(pickle.dumps(a))
    assert c == a
    state = a.__getstate__()
    state["scans"][0]["y"][0] += 1.0
    c = talvo.XrdmlFile.__new__(talvo.XrdmlFile)
    c.__setstate__(state)
    assert c != a
    x = talvo.xray_average("SiO2", [0.0, 1.0])
    assert x == copy.deepcopy(x) and x != talvo.xray_average("SiO2", [0.0, 2.0])
    assert x != talvo.material("SiO2") and talvo.material("SiO2") != x
    with pytest.raises(TypeError):
        hash(x)


def misaligned(values):
    """The values as float64 at an odd address, as np.frombuffer(buf, offset=1) gives them."""
    values = np.asarray(values, dtype=float)
    raw = b"\0" + values.tobytes()
    out = np.frombuffer(raw, dtype=np.float64, offset=1, count=values.size).reshape(values.shape)
    assert not out.flags.aligned
    return out


def test_misaligned_buffers_give_the_aligned_results():
    q = np.linspace(0.0, 20.0, 41)
    x = np.linspace(0.0, 5.0, 21)
    s = 1.0 + 0.1 * np.sin(q)
    calls = [
        lambda a: talvo.form_factor("Fe", a(q)),
        lambda a: talvo.peak(a(q), "gaussian", 3.0, 1.0),
        lambda a: talvo.filon_ft(a(x), a(x**2), a(q[1:]), sigma=a(0.1 + x)),
        lambda a: talvo.sq2gr(a(q), a(s), a(x[1:]), 0.1, sigma=a(0.01 + 0 * q)),
        lambda a: talvo.xray_average("SiO2", a(q)),
        lambda a: talvo.modification(a(q), "lorch"),
        lambda a: talvo.material("Gd2O3", density=7.4, wavelength=a(q[1:])).transmission,
    ]
    for call in calls:
        aligned, odd = call(np.asarray), call(misaligned)
        if isinstance(aligned, (talvo.Sq2gr, talvo.XrayAverage)):
            assert aligned == odd
        elif isinstance(aligned, tuple):
            assert all(np.array_equal(p, o) for p, o in zip(aligned, odd))
        else:
            np.testing.assert_array_equal(aligned, odd)


NOT_NUMBERS = [
    np.array(["2018-01-01", "2018-01-02"], dtype="datetime64[D]"),
    np.array([1, 2], dtype="timedelta64[s]"),
    np.array(["1.0", "2.0"]),
    np.array([b"1.0", b"2.0"]),
    np.array([1 + 1j, 2.0]),
    np.array([True, False]),
    np.array([1.0, None], dtype=object),
    ["1.0", "2.0"],
]


@pytest.mark.parametrize("value", NOT_NUMBERS, ids=lambda v: str(getattr(v, "dtype", type(v).__name__)))
def test_arrays_of_non_numbers_are_refused(value):
    q = np.linspace(0.0, 2.0, 3)
    calls = [
        lambda v: talvo.form_factor("Fe", v),
        lambda v: talvo.xray_average("SiO2", v),
        lambda v: talvo.peak(v, "gaussian", 0.0, 1.0),
        lambda v: talvo.filon_ft(q, q, v),
        lambda v: talvo.filon_ft(v, q, q),
        lambda v: talvo.sq2gr(q, q, v, 0.1),
        lambda v: talvo.modification(v),
        lambda v: talvo.material("V", wavelength=v),
    ]
    for call in calls:
        with pytest.raises(TypeError, match="must be numbers"):
            call(value)


@pytest.mark.parametrize("dtype", [np.int8, np.int64, np.uint16, np.float16, np.float32, np.float64])
def test_arrays_of_any_number_type_are_taken(dtype):
    q = np.arange(4).astype(dtype)
    np.testing.assert_array_equal(talvo.form_factor("Fe", q), talvo.form_factor("Fe", q.astype(float)))


@pytest.mark.parametrize(
    "call,text",
    [
        (lambda: talvo.form_factor("Fe\0x", [1.0]), "symbol \"Fe\\x00x\""),
        (lambda: talvo.form_factor("Fe", [1.0], table="wk\0"), "table \"wk\\x00\""),
        (lambda: talvo.material("H2\0O"), "formula \"H2\\x00O\""),
        (lambda: talvo.xray_average("Si\0O2", [1.0]), "formula \"Si\\x00O2\""),
        (lambda: talvo.peak([1.0], "gauss\0ian", 0.0, 1.0), "shape \"gauss\\x00ian\""),
        (lambda: talvo.modification([0.0, 1.0, 2.0], "lorch\0"), "window \"lorch\\x00\""),
        (lambda: talvo.convert_density(1.0, ["H\0"], [1.0]), "symbol \"H\\x00\""),
        (lambda: talvo.read_xrdml(str(XRDML / "single_scan_counts.xrdml") + "\0.txt"), "\\x00.txt"),
        (lambda: talvo.read_xrdml(XRDML / "single_scan_counts.xrdml", axis="2Theta\0"), "axis \"2Theta\\x00\""),
    ],
)
def test_texts_with_nul_are_refused_naming_them(call, text):
    with pytest.raises(talvo.TalvoValueError, match="NUL") as caught:
        call()
    assert text in str(caught.value)


# Ctrl-C in a long call: the child starts a call that would run for many minutes; once it says it is
# calling, the test sends it SIGINT, and KeyboardInterrupt must come out of the call itself. (A call that
# ran to its end would outlast the wait by far.)
LONG_CALLS = {
    "filon_ft": ("x = np.linspace(0.0, 100.0, 1000001); k = np.linspace(0.1, 1000.0, 1000000)",
                 "talvo.filon_ft(x, np.sin(x), k)"),
    "sq2gr": ("q = np.linspace(0.0, 100.0, 1000001); r = np.linspace(0.1, 1000.0, 1000000)",
              "talvo.sq2gr(q, 1.0 + np.exp(-q), r, 0.1)"),
    "pdf": ("q = np.linspace(0.5, 40.0, 200001); path = sys.argv[1] + '/long.qa'; "
            "np.savetxt(path, np.column_stack([q, 100.0 + 10.0 * np.sin(3.0 * q), np.full(q.size, 1.0)]))",
            "talvo.pdf(path, 'ZrO2', format='qa', wavelength=0.1, r=(0.0, 9000.0, 0.01))"),
}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_ctrl_c_stops_a_long_call(name, tmp_path):
    setup, call = LONG_CALLS[name]
    code = ("import sys, warnings\nimport numpy as np\nimport talvo\nwarnings.simplefilter('ignore')\n"
            f"{setup}\nprint('calling', flush=True)\n"
            f"try:\n    {call}\nexcept KeyboardInterrupt:\n    print('interrupted', flush=True)\n"
            "else:\n    print('returned', flush=True)\n")
    child = subprocess.Popen([sys.executable, "-c", code, str(tmp_path)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "calling", child.stderr.read()
        time.sleep(0.5)  # well inside the call: its arguments were made before "calling"
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        child.kill()
        child.wait()
    assert out.strip() == "interrupted" and child.returncode == 0, out + err


# What a message quotes from the input is escaped and cut: no escape sequence reaches the terminal that
# prints it, and a long input is not repeated whole.
@pytest.mark.parametrize("call,words", [
    (lambda: talvo.material("H2O\x1b[2J"), 'formula "H2O\\x1b[2J": unexpected character ("\\x1b" at position 4)'),
    (lambda: talvo.material("F\xe9"), 'formula "F\xe9": unexpected character ("\xe9" at position 2)'),
    (lambda: talvo.modification([0.0, 1.0], window="lorch\x07"), 'unknown window "lorch\\x07": give'),
    (lambda: talvo.peak([0.0], "gauss\x1b", 0.0, 1.0), 'unknown peak shape "gauss\\x1b": give'),
    (lambda: talvo.material("H", density="1," * 50000),
     'density is not a number: "' + "1," * 100 + '"... (100000 bytes)'),
])
def test_messages_quote_input_escaped_and_cut(call, words):
    with pytest.raises(talvo.TalvoValueError) as caught:
        call()
    message = str(caught.value)
    assert message.startswith(words), message
    assert not any(ord(c) < 0x20 or 0x7f <= ord(c) < 0xa0 for c in message), message
    assert len(message) < 400
