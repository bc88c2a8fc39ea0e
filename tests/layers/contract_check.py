#!/usr/bin/env python3
"""The rules of CONTRIBUTING.md that a compiler does not check, checked on the
sources:

- one way to fail: no `throw`, `try` or `catch` in the library, the programs
  or the page outside the places listed in ALLOWED (the catches of memory that
  runs out, each at the edge of a routine that returns a Result, and the
  Python module, whose errors are Python's exceptions);
- the include graph: a layer includes only the layers below it (the targets
  enforce the links; this checks the headers too), never another layer's
  internal header (detail/, *_internal.hpp, or one its CMakeLists keeps out
  of HEADERS); no modern layer includes the classic interface; the console
  includes only text and files; tools/, python/ and web/ include the classic
  interface only where listed in CLASSIC_CALLERS.

usage: contract_check.py SOURCE_DIR
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1]).resolve()

# The layers and what each may include (its own headers aside).
BELOW = {
    "text": set(),
    "files": {"text"},
    "elements": {"text", "files"},
    "neutron": {"text", "files", "elements"},
    "xray": {"text", "files", "elements"},
    "xrdml": {"text", "files"},
    "numeric": {"text"},
    "pdf": {"text", "files", "elements", "neutron", "xray", "xrdml", "numeric"},
    "structure": {"text", "files", "elements", "numeric"},
    "model": {"text", "files", "elements", "neutron", "xray", "numeric", "structure"},
    "classic": {"text", "files", "elements", "neutron", "xray", "xrdml", "numeric", "pdf"},
    "console": {"text", "files"},
}
# Headers every layer may include: the error contract, the version, and the
# library-wide internals of the loops built once per instruction set.
COMMON = {"talvo/result.hpp", "talvo/version.hpp", "talvo/detail/instruction_sets.hpp", "talvo/detail/vec_of.hpp"}

# Where a throw, try or catch may stand, and why.
ALLOWED = {
    "python/src/": "pybind11 raises Python's exceptions as C++ exceptions and catches them",
    "talvo/files/read.cpp": "memory that runs out reading a whole file",
    "talvo/neutron/material.cpp": "memory that runs out for a sweep's columns",
    "talvo/xray/xray_average.cpp": "memory that runs out for the averages",
    "talvo/xrdml/xrdml_file.cpp": "memory that runs out for a file's numbers",
    "talvo/xrdml/xrdml_values.cpp": "memory that runs out for a scan's values",
    "talvo/numeric/filon.cpp": "memory that runs out for a transform",
    "talvo/numeric/modification.cpp": "memory that runs out for M(Q)",
    "talvo/numeric/peaks.cpp": "memory that runs out for a peak",
    "talvo/numeric/sq2gr.cpp": "memory that runs out for G(r)",
    "talvo/pdf/reduce.cpp": "memory that runs out for a reduction",
    "talvo/pdf/neutron_reduce.cpp": "memory that runs out for a neutron reduction",
    "talvo/model/pdf_model.cpp": "memory that runs out for a model's grids",
    "tools/main.cpp": "memory that runs out anywhere in a subcommand",
    "tools/pdf_commands.cpp": "memory that runs out in a series' worker thread, which no exception may leave",
}
# A catch in a listed library file must be of memory that runs out.
MEMORY = re.compile(r"catch\s*\(\s*const\s+std::(bad_alloc|length_error)\s*&\s*\)")

# The front-end files that call the classic interface, and why.
CLASSIC_CALLERS = {
    "tools/xray_commands.cpp": "foq prints the classic foq's single-precision form factors",
    "tools/sample_commands.cpp": "density prints the classic conversion, as sample files hold densities",
}


def code_of(text):
    """The text with comments, string and character literals blanked."""
    out = re.sub(r'R"([^(]*)\((?:.|\n)*?\)\1"', '""', text)
    out = re.sub(r"//[^\n]*", "", out)
    out = re.sub(r"/\*(?:.|\n)*?\*/", "", out)
    out = re.sub(r'"(?:\\.|[^"\\\n])*"', '""', out)
    out = re.sub(r"'(?:\\.|[^'\\\n])*'", "''", out)
    return out


def sources(*folders):
    for folder in folders:
        for p in sorted((ROOT / folder).rglob("*")):
            if p.suffix in (".cpp", ".hpp", ".h", ".inc") and p.is_file():
                yield p


def installed_headers(layer):
    """The HEADERS of a layer's talvo_layer() call."""
    cmake = (ROOT / "talvo" / layer / "CMakeLists.txt").read_text()
    m = re.search(r"HEADERS((?:\s+[\w./]+)+)", cmake)
    return {f"talvo/{layer}/{h}" for h in (m.group(1).split() if m else [])}


faults = []

# --- one way to fail ----------------------------------------------------------
for path in sources("talvo", "app", "tools", "python/src", "web"):
    rel = path.relative_to(ROOT).as_posix()
    code = code_of(path.read_text(encoding="utf-8", errors="replace"))
    allowed = next((why for where, why in ALLOWED.items() if rel.startswith(where)), None)
    for n, line in enumerate(code.split("\n"), 1):
        for word in re.findall(r"\b(throw|try|catch)\b", line):
            if allowed is None:
                faults.append(f"{rel}:{n}: {word} outside the places that may use exceptions: {line.strip()}")
            elif not rel.startswith("python/src/") and word == "catch" and not MEMORY.search(line):
                faults.append(f"{rel}:{n}: a catch of something other than memory that runs out: {line.strip()}")
            elif not rel.startswith("python/src/") and word == "throw":
                faults.append(f"{rel}:{n}: a throw ({allowed} is caught, never thrown): {line.strip()}")

# --- the include graph ----------------------------------------------------------
internal = {}
for layer in BELOW:
    if layer == "console":
        continue
    folder = ROOT / "talvo" / layer
    public = installed_headers(layer)
    for h in folder.rglob("*.hpp"):
        rel = h.relative_to(ROOT).as_posix()
        if rel not in public:
            internal[rel] = layer
for path in sources("talvo", "app", "tools", "python/src", "web"):
    rel = path.relative_to(ROOT).as_posix()
    parts = rel.split("/")
    layer = parts[1] if parts[0] == "talvo" and len(parts) > 2 else None
    for n, line in enumerate(path.read_text(encoding="utf-8", errors="replace").split("\n"), 1):
        m = re.match(r'\s*#\s*include\s+"(talvo/[^"]+)"', line)
        if not m:
            continue
        inc = m.group(1)
        if inc in COMMON or inc == "talvo/talvo.hpp":
            continue
        target = inc.split("/")[1] if inc.count("/") >= 2 else None
        if layer is not None:
            if target == layer:
                continue
            if target not in BELOW[layer]:
                faults.append(f"{rel}:{n}: the {layer} layer includes {inc}, of a layer not below it")
            elif inc in internal:
                faults.append(f"{rel}:{n}: the {layer} layer includes {inc}, internal to the {internal[inc]} layer")
            continue
        # The programs and front ends: installed headers only; the console is app/'s.
        if inc in internal:
            faults.append(f"{rel}:{n}: {inc} is internal to the {internal[inc]} layer")
        if target == "console" and parts[0] != "app":
            faults.append(f"{rel}:{n}: only app/ uses the console: {inc}")
        if target == "classic" and parts[0] in ("tools", "python", "web") and rel not in CLASSIC_CALLERS:
            faults.append(f"{rel}:{n}: a front end calls the classic interface: {inc}")

if faults:
    print("The sources break the rules of CONTRIBUTING.md:")
    print("\n".join("  " + f for f in faults))
    sys.exit(1)
print("one way to fail, and the include graph: as CONTRIBUTING.md says")
