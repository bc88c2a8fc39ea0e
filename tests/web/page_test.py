#!/usr/bin/env python3
"""The offline page in a real browser: headless Chromium opens web/index.html
from disk with the inputs in the query string, and every number the page shows
must be talvo-tools' value for the same inputs (xs for the neutrons, xray for
the X-ray source), printed as %.6g; the page's "copy as JSON" must be the JSON of
`talvo-tools xs --json`; an error must be the one talvo-tools gives, and the
page must keep its form.

usage: page_test.py TALVO_TOOLS WEB_DIR
Exit status 77 (skipped) when Chromium or the built page is not there.
"""
import decimal
import html.parser
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

SKIP = 77
failures = []


def fail(case, text):
    failures.append(f"{case}: {text}")


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Node):
                yield from c.walk()

    def classes(self):
        return self.attrs.get("class", "").split()


class TreeBuilder(html.parser.HTMLParser):
    VOID = {"meta", "link", "input", "br", "img", "hr", "col", "source", "area", "base", "wbr"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", {}, None)
        self.at = self.root

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.at)
        self.at.children.append(node)
        if tag not in self.VOID:
            self.at = node

    def handle_startendtag(self, tag, attrs):
        self.at.children.append(Node(tag, attrs, self.at))

    def handle_endtag(self, tag):
        node = self.at
        while node is not self.root and node.tag != tag:
            node = node.parent
        if node is not self.root:
            self.at = node.parent

    def handle_data(self, data):
        self.at.children.append(data)


def by_id(root, ident):
    return next((n for n in root.walk() if n.attrs.get("id") == ident), None)


def load_page(web_dir, query):
    url = "file://" + os.path.join(os.path.abspath(web_dir), "index.html") + "?" + urllib.parse.urlencode(query)
    return load_url(url)


def load_url(url, *flags):
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", *flags,
             f"--user-data-dir={profile}", "--virtual-time-budget=20000", "--dump-dom", url],
            capture_output=True, text=True, timeout=120)
    if run.returncode != 0:
        raise RuntimeError(f"chromium exited with {run.returncode}: {run.stderr[-2000:]}")
    tree = TreeBuilder()
    tree.feed(run.stdout)
    return tree.root


def tools_xs(tools, query, wavelength):
    """talvo-tools xs --json: (the JSON, its warnings, None) or (None, None, the error)."""
    args = [tools, "xs", query["formula"], "--json"]
    for option, key in (("--density", "density"), ("--thickness", "thickness")):
        if query.get(key, "").strip():
            args += [option, query[key]]
    if wavelength is not None:
        args += ["--wavelength", wavelength]
    run = subprocess.run(args, capture_output=True, text=True)
    lines = [line.removeprefix("talvo-tools xs: ") for line in run.stderr.splitlines()]
    if run.returncode != 0:
        return None, None, "\n".join(lines)
    return json.loads(run.stdout), [line for line in lines if line.startswith("warning: ")], None


def tools_xray(tools, query):
    """talvo-tools xray --json for the page's X-ray source: (the JSON, None) or (None, the error)."""
    source = query.get("xray", "").strip()
    # A number (with its unit, "8048 eV") is an energy, a name an anode.
    option = "--energy" if source[:1].isdigit() or source[:1] in ".+-" else "--anode"
    args = [tools, "xray", query["formula"], option, source, "--json"]
    for option, key in (("--density", "density"), ("--thickness", "thickness")):
        if query.get(key, "").strip():
            args += [option, query[key]]
    run = subprocess.run(args, capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr.strip().removeprefix("talvo-tools xray: ")
    return json.loads(run.stdout), None


def value_at(obj, key):
    for part in key.split("."):
        obj = obj[int(part)] if isinstance(obj, list) else obj[part]
    return obj


def shown(value):
    return "-" if value is None else "%.6g" % value


def same_json(a, b, path=""):
    """Where a and b differ, as a list of paths; numbers must be equal."""
    if isinstance(a, dict) and isinstance(b, dict):
        if list(a) != list(b):
            return [f"{path} keys {list(a)} != {list(b)}"]
        return [d for k in a for d in same_json(a[k], b[k], f"{path}.{k}")]
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return [f"{path} has {len(a)} items, not {len(b)}"]
        return [d for i, (x, y) in enumerate(zip(a, b)) for d in same_json(x, y, f"{path}[{i}]")]
    if type(a) is not type(b) and not (isinstance(a, (int, float)) and isinstance(b, (int, float))):
        return [f"{path}: {a!r} != {b!r}"]
    if a != b:
        return [f"{path}: {a!r} != {b!r}"]
    return []


def wavelengths_of(spec):
    """The wavelengths of "FROM:TO:STEP" or "A,B,C" as talvo-tools xs takes them."""
    if ":" not in spec:
        return spec.split(",")
    texts = spec.split(":")
    start, stop, step = (float(p) for p in texts)
    count = max(0, math.floor((stop - start) / step + 1e-3) + 1)
    out = []
    for i in range(count + 1):
        # As written: 0.2:1.4:0.4 gives 0.6, not 0.2 + 0.4 = 0.6000000000000001.
        v = float(decimal.Decimal(texts[0].strip()) + i * decimal.Decimal(texts[2].strip()))
        if v > stop + step / 1000:
            break
        out.append(repr(v))
    return out


def check_numbers(case, page, rows, xray):
    """Every number in #results is a data-key cell that shows rows[data-row]'s value."""
    results = by_id(page, "results")
    if results is None:
        return fail(case, "no #results")
    cells = [n for n in results.walk() if "data-key" in n.attrs]
    if not cells:
        fail(case, "no numbers shown")
    for n in cells:
        row = int(n.attrs.get("data-row", "0"))
        key = n.attrs["data-key"]
        source = [xray] if n.attrs.get("data-src") == "xray" else rows
        try:
            expected = shown(value_at(source[row], key))
        except (KeyError, IndexError, ValueError):
            fail(case, f"{key} (row {row}) is not in talvo-tools' JSON")
            continue
        if n.text().strip() != expected:
            fail(case, f"{key} (row {row}) shows {n.text().strip()!r}, talvo-tools gives {expected}")
        for ch in n.text():
            if not (ch.isascii() and (ch.isalnum() or ch in "-+.")):
                fail(case, f"{key} shows {ch!r}, which does not copy as a plain number")
    for n in results.walk():
        if "formula" in n.classes() and n.text() != rows[0]["formula"]:
            fail(case, f"formula shown as {n.text()!r}, not {rows[0]['formula']!r}")

    # No other number anywhere in the results: labels, units and the plot's ticks aside.
    def stray(node):
        if node.tag == "svg" or "data-key" in node.attrs:
            return ""
        if set(node.classes()) & {"label", "unit", "formula", "note"}:
            return ""
        return "".join(c if isinstance(c, str) else stray(c) for c in node.children)

    left = stray(results)
    if any(ch.isdigit() for ch in left):
        fail(case, f"numbers outside the checked cells: {left!r}")
    return len(cells)


def check_case(tools, web_dir, case, query, reload):
    page = load_page(web_dir, query)
    if by_id(page, "inputs") is None or by_id(page, "formula") is None:
        return fail(case, "the form is gone")
    body = next((n for n in page.walk() if n.tag == "body"), None)
    if body is None or "data-ready-ms" not in body.attrs:
        status = by_id(page, "status")
        return fail(case, f"the page never finished its first calculation: {status and status.text()!r}")
    for field, text in query.items():
        node = by_id(page, field)
        if node is None or node.attrs.get("value") != text:
            fail(case, f"the {field} field holds {node and node.attrs.get('value')!r}, not the query's {text!r}")
    spec = query.get("wavelength", "").strip()
    messages = by_id(page, "messages")
    whole, warnings, error = tools_xs(tools, query, spec or None)
    rows = []
    for w in wavelengths_of(spec) if spec and not error else [spec or None]:
        row, _, error = tools_xs(tools, query, w) if not error else (None, None, error)
        if error:
            shown_errors = ["".join(c for c in n.children if isinstance(c, str)) for n in messages.walk()
                            if "error" in n.classes() and "xray" not in n.classes()]
            # The command line names its table by its path, and its fields as options; the page by their names.
            want = error.removeprefix("talvo-tools xs: ").replace(os.path.join(DATA_DIR, ""), "")
            want = want.removesuffix("; see `talvo-tools xs --help`")
            for field in ("density", "thickness", "wavelength"):
                want = want.replace("--" + field, field)
            if shown_errors != [want]:
                fail(case, f"errors shown {shown_errors}, talvo-tools says {want!r}")
            # An error that points into the formula puts a caret under that
            # character: CARETS gives it, counted by hand.
            where = [n.text() for n in messages.walk() if "where" in n.classes()]
            caret = CARETS.get(query["formula"])
            if caret and where != [query["formula"] + "\n" + " " * (caret - 1) + "^"]:
                fail(case, f"the caret line is {where}, not under character {caret} of the formula")
            if any("data-key" in n.attrs for n in by_id(page, "results").walk()):
                fail(case, "numbers shown beside an error on a fresh page")
            print(f"{case}: the error {want!r}")
            return
        rows.append(row)
    xray, xray_error = tools_xray(tools, query) if query.get("xray", "").strip() else (None, None)
    count = check_numbers(case, page, rows, xray)
    xray_shown = [n.text() for n in messages.walk() if "xray" in n.classes()]
    if xray_shown != (["X-rays: " + xray_error] if xray_error else []):
        fail(case, f"X-ray errors shown {xray_shown}, talvo-tools xray says {xray_error!r}")
    if xray is not None and not any(n.attrs.get("data-src") == "xray" for n in page.walk()):
        fail(case, "no X-ray numbers shown")
    said = {kind: [n.text() for n in messages.walk() if kind in n.classes()] for kind in ("warning", "info")}
    if said["warning"] != warnings:
        fail(case, f"warnings shown {said['warning']}, talvo-tools says {warnings}")
    if said["info"] != ["note: " + n for n in whole.get("notes", [])]:
        fail(case, f"notes shown {said['info']}, talvo-tools' JSON has {whole.get('notes')}")
    link = by_id(page, "json-link")
    href = link.attrs.get("href", "") if link else ""
    prefix = "data:application/json;charset=utf-8,"
    if not href.startswith(prefix):
        fail(case, f"copy-as-JSON link is {href[:60]!r}")
    else:
        copied = json.loads(urllib.parse.unquote(href[len(prefix):]))
        for d in same_json(copied, whole):
            fail(case, "JSON" + d)
    if len(rows) > 1:
        lines = [n for n in page.walk() if n.tag == "polyline" and "transmission" in n.classes()]
        with_t = sum(1 for r in rows if r.get("transmission") is not None)
        if with_t and (len(lines) != 1 or lines[0].attrs.get("data-points") != str(with_t)):
            fail(case, f"the transmission plot does not have {with_t} points")
    # The page's own link to the calculation reproduces it.
    share = by_id(page, "share-link").attrs.get("href", "")
    again = load_url(share) if reload else page
    if [n.text() for n in again.walk() if "data-key" in n.attrs] != [n.text() for n in page.walk() if "data-key" in n.attrs]:
        fail(case, f"the page's link {share} does not show the same numbers")
    print(f"{case}: {count} numbers, {len(rows)} wavelength(s), {len(warnings)} warning(s)")


def check_range_errors(web_dir):
    """Wavelength ranges the page refuses, each with its own error: one point past
    the limit (the count, taken before the points, is one short where TO lies a
    thousandth of a step below a point), a STEP below the spacing of the numbers
    (1e16 + 1 is 1e16), a TO - FROM past the largest number."""
    # The grid reader of talvo-tools, its words, with the page's own limit of points.
    for spec, want in (
            ("1:201.0999:0.1", 'grid too large: "1:201.0999:0.1" has 2002 points, at most 2001'),
            ("1e16:1.000000000000001e16:1",
             'a grid\'s STEP is too small for its points to differ as numbers: "1e16:1.000000000000001e16:1"'),
            ("-1.7e308:1.7e308:1e308", 'a grid\'s TO - FROM passes the largest number: "-1.7e308:1.7e308:1e308"'),
            # A count past the doubles' range (it said "inf"), and a long range in whole.
            ("1:2:1e-320", 'grid too large: "1:2:1e-320" has more than 1.7976931348623157e+308 points, at most 2001'),
            ("1:1" + "0" * 150 + ":1", 'grid too large: "1:1' + "0" * 150 + ':1" has 1e+150 points, at most 2001'),
            # A dash is no exponent: the range it may have meant is suggested.
            ("0.5-6", 'wavelength is not a number: "0.5-6" reads as 0.5 then -6; an exponent needs its letter '
                      '(0.5e-6), and a range is FROM:TO:STEP (0.5:6:STEP)'),
            # A list far past the limit is quoted cut at 200 bytes with its length, not repeated whole.
            ("1," * 2100, 'wavelength: at most 2001 wavelengths in a list: "' + "1," * 100 + '"... (4200 bytes)'),
    ):
        case = f"range {spec[:60]}"
        page = load_page(web_dir, {"formula": "H2O", "density": "1", "thickness": "", "wavelength": spec, "xray": ""})
        messages = by_id(page, "messages")
        shown = ["".join(c for c in n.children if isinstance(c, str)) for n in messages.walk()
                 if "error" in n.classes() and "xray" not in n.classes()] if messages else None
        if shown != [want]:
            fail(case, f"errors shown {shown}, want {[want]}")
        else:
            print(f"{case}: the error {want!r}")


def check_typing(tools, test_dir):
    """Typing into the page (tests/web/typing.html drives it): the results, the
    address and the link follow each change; a bad formula shows its error and
    leaves the last results, faded, in place."""
    case = "typing"
    page = load_url("file://" + os.path.join(os.path.abspath(test_dir), "typing.html"),
                    "--allow-file-access-from-files")
    out = by_id(page, "out")
    try:
        states = json.loads(out.text())
    except (AttributeError, ValueError):
        return fail(case, f"the typing harness wrote {out and out.text()!r}")
    inputs = [{"formula": "H2O", "density": "1", "thickness": "0.1", "wavelength": "1.798"}]
    inputs.append(dict(inputs[0], formula="D2O"))
    inputs.append(dict(inputs[0], formula="D2("))
    inputs.append({"formula": "Gd2O3", "density": "7.41", "thickness": "0.001", "wavelength": "0.5"})
    last_good = None
    for state, query in zip(states, inputs):
        step = f"{case} {query['formula']}"
        row, _, error = tools_xs(tools, query, query["wavelength"])
        if not state["form"]:
            fail(step, "the form is gone")
        want_search = "?" + urllib.parse.urlencode(dict(query, xray="Cu")).replace("+", "%20")
        if state["search"] != want_search or not state["share"].endswith(want_search):
            fail(step, f"the address is {state['search']!r} (link {state['share']!r}), not {want_search!r}")
        if error:
            if state["errors"] != [error] or not state["stale"] or state["formula"] != last_good:
                fail(step, f"shows errors {state['errors']} (talvo-tools: {error!r}), stale {state['stale']}, "
                     f"results of {state['formula']!r}, not the faded results of {last_good!r}")
            if not state["numbers"]:
                fail(step, "a bad formula blanked the results")
            continue
        last_good = row["formula"]
        for key in ("sld", "transmission"):
            if state[key] != shown(row[key]):
                fail(step, f"{key} shows {state[key]!r}, talvo-tools gives {shown(row[key])}")
        if state["errors"] or state["stale"] or state["formula"] != row["formula"]:
            fail(step, f"errors {state['errors']}, stale {state['stale']}, formula {state['formula']!r}")
    if len(states) != len(inputs):
        fail(case, f"{len(states)} states for {len(inputs)} inputs")
    print(f"{case}: {len(states)} states")


CASES = [
    ("water", {"formula": "H2O", "density": "1", "thickness": "0.1", "wavelength": "1.798", "xray": "Cu"}),
    ("hydrate", {"formula": "CuSO4+5H2O", "density": "2.286", "thickness": "0.2", "wavelength": "4", "xray": "Mo"}),
    ("mixture by volume", {"formula": "50%vol H2O@1 // D2O@1n", "density": "", "thickness": "0.1",
                           "wavelength": "6", "xray": "8.048"}),
    ("element with the table's density", {"formula": "Gd", "density": "", "thickness": "0.01", "wavelength": "",
                                          "xray": "Cu"}),
    ("isotopes without a density", {"formula": "Li[6]2O", "density": "", "thickness": "", "wavelength": "1.8",
                                    "xray": "Cu"}),
    ("Gd2O3 at 0.5 A", {"formula": "Gd2O3", "density": "7.41", "thickness": "0.001", "wavelength": "0.5",
                        "xray": "Cu"}),
    ("Gd2O3 at 5 A", {"formula": "Gd2O3", "density": "7.41", "thickness": "0.001", "wavelength": "5", "xray": "Cu"}),
    ("Sm2O3 over 0.5:5:0.5", {"formula": "Sm2O3", "density": "8.35", "thickness": "0.01", "wavelength": "0.5:5:0.5",
                              "xray": "Cu"}),
    ("Gd2O3 from below its table", {"formula": "Gd2O3", "density": "7.41", "thickness": "0.001",
                                    "wavelength": "0.2:1.4:0.4", "xray": "Mo"}),
    ("X-ray energy past the table", {"formula": "SiO2", "density": "2.2", "thickness": "0.01", "wavelength": "",
                                     "xray": "50"}),
    ("density twice", {"formula": "D2O@1n", "density": "1.1", "thickness": "", "wavelength": "", "xray": ""}),
    ("unknown element", {"formula": "H2Q", "density": "1", "thickness": "0.1", "wavelength": "1.798", "xray": "Cu"}),
    ("missing bracket", {"formula": "Ca(OH2", "density": "2.2", "thickness": "", "wavelength": "", "xray": ""}),
    # Units, as talvo-tools takes them.
    ("units", {"formula": "H2O", "density": "1000 kg/m3", "thickness": "1mm", "wavelength": "0.18nm",
               "xray": "8048 eV"}),
    ("a dash for an exponent", {"formula": "H2O", "density": "1-3", "thickness": "", "wavelength": "", "xray": ""}),
    ("unknown element in a mixture", {"formula": "H2O@1 // Xx2@1", "density": "", "thickness": "", "wavelength": "",
                                      "xray": ""}),
]

# Where the caret of a formula's error stands, from 1: the Q of H2Q, the open
# bracket of Ca(OH2, the X of the second component.
CARETS = {"H2Q": 3, "Ca(OH2": 3, "H2O@1 // Xx2@1": 10}


def main():
    global CHROMIUM, DATA_DIR
    tools, web_dir = sys.argv[1], sys.argv[2]
    DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(web_dir)), "data")
    CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
    if CHROMIUM is None:
        print("skipped: no chromium on PATH (scripts/install-deps.sh --web installs it)")
        return SKIP
    if not os.path.exists(os.path.join(web_dir, "talvo-wasm.js")):
        print("skipped: web/talvo-wasm.js is not built (cmake --preset wasm && cmake --build --preset wasm)")
        return SKIP
    size = os.path.getsize(os.path.join(web_dir, "talvo-wasm.js"))
    if size >= 2 * 1024 * 1024:
        fail("script", f"talvo-wasm.js is {size} bytes, not under 2 MiB")
    for i, (case, query) in enumerate(CASES):
        check_case(tools, web_dir, case, query, reload=i in (0, 8))
    check_range_errors(web_dir)
    check_typing(tools, os.path.dirname(os.path.abspath(__file__)))
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
