#!/usr/bin/env python3
"""Writes TALVO's data files (and, with --code, its built-in tables) from the
published tables kept in data/sources/.

Usage: scripts/make_data.py DIR [--code CODE_DIR]

DIR receives sears91.dat, sears.ascii, at_weights.dat, neutron_sears92.tsv,
wk_neutral.foqdat and it_neutral.foqdat: the files of data/. CODE_DIR (the
repository's talvo/ folder) receives elements/element_table.inc,
elements/isotope_table.inc (the isotopes' masses),
elements/element_density_table.inc, neutron/lynn_seeger_table.inc,
xray/{wk,it}_table.inc and the X-ray tables held in the program only:
xray/wk_ion_table.inc (the ions' form factors), xray/henke_table.inc (f1, f2
versus energy), xray/ffast_table.inc (Chantler's f1, f2 to 433 keV, with
xray/ffast_index.inc and xray/ffast_edges.inc), xray/hubbell_table.inc (incoherent scattering functions) and
xray/balyuzi_table.inc (their analytic fit). The outputs are committed; a test rebuilds them and
compares them byte for byte with the committed ones.
"""
import os
import re
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = os.path.join(ROOT, "data", "sources")
SELF = "scripts/make_data.py"


def rows(name):
    with open(os.path.join(SOURCES, name), encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f if not l.startswith("#") and l.strip()]
    names = lines[0].split("\t")
    return [dict(zip(names, l.split("\t"))) for l in lines[1:]]


def scattering_total(r):
    """The bound scattering cross-section; where the list gives none but gives
    the coherent and incoherent ones (Xe), their sum; else not given."""
    if r["sig_scatt"]:
        return r["sig_scatt"]
    if r["sig_coh"] and r["sig_inc"]:
        return "%g" % (float(r["sig_coh"]) + float(r["sig_inc"]))
    return ""


def given(value):
    """A value the list does not give is written as 0."""
    return value if value else "0"


def dlit(x):
    """A C++ double literal for a published decimal value, exactly as published."""
    if "." not in x and "e" not in x.lower():
        x += ".0"
    return x


def flit(x):
    """A C++ float literal for a published decimal value."""
    return dlit(x) + "f"


def write(path, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for l in lines:
            f.write(l + "\n")


def natural_file(neutron):
    header = [
        "Neutron scattering lengths and cross sections of the natural elements",
        "Source: V. F. Sears, Neutron News 3(3) 26-37 (1992), as listed by NIST",
        "Units: b in fm, sigma in barns, A in amu (12C); 0 where the list gives no value",
        "Layout: 1X,I3,2X,F10.6,2X,A2,2X,F10.5,2X,F9.5,2X,F11.5",
        "   Z  mass        Sym b_coh       sig_scatt  sig_abs",
    ]
    out = ["%d" % len(header)] + header
    for r in neutron:
        if r["A"] != "0":
            continue
        out.append(" %3d  %10.6f  %-2s  %10.5f  %9.5f  %11.5f" % (
            int(r["Z"]), float(r["mass"]), r["symbol"], float(given(r["b_coh"])),
            float(given(scattering_total(r))), float(given(r["sig_abs"]))))
    return out


def isotope_entries(neutron, masses):
    """(label, Z, A, symbol, row, mass): every row, and for an element listed
    only by its natural row, its one isotope with the same values."""
    entries = []
    for r in neutron:
        z, a, sym = int(r["Z"]), int(r["A"]), r["symbol"]
        if a == 0:
            entries.append((sym, z, 0, sym, r, r["mass"]))
            if r["single_A"]:
                sa = int(r["single_A"])
                entries.append(("%d%s" % (sa, sym), z, sa, sym, r, masses[(z, sa)]))
        else:
            entries.append(("%d%s" % (a, sym), z, a, sym, r, masses[(z, a)]))
    return entries


def isotope_file(entries):
    head = [
        "Neutron scattering lengths and cross sections of the elements and their isotopes",
        "Source: V. F. Sears, Neutron News 3(3) 26-37 (1992), as listed by NIST",
        "",
        "This file has exactly 38 header lines; the entries follow them, one per line.",
        "Each entry has 8 fields separated by single TAB characters:",
        "  1 label      element symbol (natural element, e.g. Fe) or mass number",
        "               followed at once by the symbol (isotope, e.g. 56Fe)",
        "  2 abundance  natural abundance in percent (empty: not listed)",
        "  3 b_coh      bound coherent scattering length (real part)",
        "  4 b_inc      bound incoherent scattering length (real part)",
        "  5 sig_coh    bound coherent scattering cross-section",
        "  6 sig_inc    bound incoherent scattering cross-section",
        "  7 sig_scatt  bound scattering cross-section",
        "  8 sig_abs    absorption cross-section for 2200 m/s neutrons",
        "An element's natural line comes first, its isotope lines follow.",
        "Pu and Cm have isotope lines only. An element with a single isotope has",
        "its natural line and a line for that isotope with the same values.",
        "A value the list does not give is written as 0; where it gives no",
        "sig_scatt but gives sig_coh and sig_inc (Xe), sig_scatt is their sum.",
        "Numbers may carry an uncertainty in brackets, e.g. -3.7406(11).",
        "Complex lengths and all columns: neutron_sears92.tsv.",
        "",
        "Units: b in fm, sigma in barns",
        "Atomic masses are read from at_weights.dat",
    ]
    head += [""] * (38 - len(head))
    out = list(head)
    for label, z, a, sym, r, mass in entries:
        vals = [r["b_coh"], r["b_inc"], r["sig_coh"], r["sig_inc"], scattering_total(r), r["sig_abs"]]
        out.append("\t".join([label, ""] + [given(v) for v in vals]))
    return out


def weights_file(entries):
    return [" %-2s %3d %3d %10.6f" % (sym, z, a, float(mass)) for label, z, a, sym, r, mass in entries]


def xray_tables():
    for name, tsv, n, upper in (("wk", "xray_wk1995_neutral.tsv", 5, False), ("it", "xray_itc_neutral.tsv", 4, True)):
        yield name, tsv, n, upper, rows(tsv)


def main(argv):
    if not argv or argv[0].startswith("-"):
        sys.exit("usage: scripts/make_data.py DIR [--code CODE_DIR]")
    out_dir = argv[0]
    code_dir = argv[argv.index("--code") + 1] if "--code" in argv else None
    os.makedirs(out_dir, exist_ok=True)
    neutron = rows("neutron_sears92.tsv")
    masses = {(int(r["Z"]), int(r["A"])): r["mass"] for r in rows("isotope_masses.tsv")}

    write(os.path.join(out_dir, "sears91.dat"), natural_file(neutron))
    entries = isotope_entries(neutron, masses)
    write(os.path.join(out_dir, "sears.ascii"), isotope_file(entries))
    write(os.path.join(out_dir, "at_weights.dat"), weights_file(entries))
    # The full table, every column, for the double-precision calculations.
    shutil.copyfile(os.path.join(SOURCES, "neutron_sears92.tsv"), os.path.join(out_dir, "neutron_sears92.tsv"))
    for name, tsv, n, upper, table in xray_tables():
        lines = ["# symbol Z a1 b1 ... a%d b%d c  (%s)" % (n, n, tsv[:-4])]
        for r in table:
            words = [r["symbol"], r["Z"]]
            for j in range(1, n + 1):
                words += [r["a%d" % j], r["b%d" % j]]
            words.append(r["c"])
            lines.append(" ".join(words))
        write(os.path.join(out_dir, "%s_neutral.foqdat" % name), lines)

    if code_dir:
        os.makedirs(os.path.join(code_dir, "elements"), exist_ok=True)
        os.makedirs(os.path.join(code_dir, "xray"), exist_ok=True)
        lines = ["// Generated by %s from element_table.tsv: symbol, Z, mean atomic weight." % SELF]
        lines += ['{"%s", %s, %s},' % (r["symbol"], r["Z"], flit(r["weight"])) for r in rows("element_table.tsv")]
        write(os.path.join(code_dir, "elements", "element_table.inc"), lines)
        # Densities of the elements; an element whose density is not known is left out.
        lines = ["// Generated by %s from element_densities.tsv: symbol, density in g/cm3." % SELF]
        lines += ['{"%s", %s},' % (r["symbol"], dlit(r["density"])) for r in rows("element_densities.tsv")
                  if r["density"]]
        write(os.path.join(code_dir, "elements", "element_density_table.inc"), lines)
        # Energy-dependent lengths, one row per tabulated energy, each curve in rising energy.
        os.makedirs(os.path.join(code_dir, "neutron"), exist_ok=True)
        curves = rows("neutron_lynn_seeger90.tsv")
        curves.sort(key=lambda r: (r["symbol"], int(r["A"]), float(r["energy"])))
        lines = ["// Generated by %s from neutron_lynn_seeger90.tsv: symbol, A, energy in eV, Re b and Im b in fm."
                 % SELF]
        lines += ['{"%s", %s, %s, %s, %s},' % (r["symbol"], r["A"], dlit(r["energy"]), dlit(r["re"]), dlit(r["im"]))
                  for r in curves]
        write(os.path.join(code_dir, "neutron", "lynn_seeger_table.inc"), lines)
        lines = ["// Generated by %s from isotope_masses.tsv: Z, mass number, mass (12C = 12)." % SELF]
        isotopes = sorted(masses.items())
        lines += ["{%d, %d, %s}," % (z, a, dlit(mass)) for (z, a), mass in isotopes]
        write(os.path.join(code_dir, "elements", "isotope_table.inc"), lines)
        for name, tsv, n, upper, table in xray_tables():
            lines = ["// Generated by %s from %s: symbol, a1..a5, b1..b5, c." % (SELF, tsv)]
            for r in table:
                sym = r["symbol"].upper() if upper else r["symbol"]
                a = [r["a%d" % j] for j in range(1, n + 1)] + ["0"] * (5 - n)
                b = [r["b%d" % j] for j in range(1, n + 1)] + ["0"] * (5 - n)
                lines.append('{"%s", {%s}, {%s}, %s},' % (
                    sym, ", ".join(dlit(x) for x in a), ", ".join(dlit(x) for x in b), dlit(r["c"])))
            write(os.path.join(code_dir, "xray", "%s_table.inc" % name), lines)
        xray_code(code_dir)


def xray_code(code_dir):
    """The X-ray tables of dispersion, ions and Compton scattering, held in the
    program only (a WebAssembly build reads no files)."""
    z_of = {r["symbol"]: int(r["Z"]) for r in rows("element_table.tsv") if r["symbol"] != "D"}
    xray = os.path.join(code_dir, "xray")

    ions = rows("xray_wk1995_ions.tsv")
    lines = ["// Generated by %s from xray_wk1995_ions.tsv: symbol as published, Z, a1..a5, b1..b5, c." % SELF]
    for r in ions:
        lines.append('{"%s", %s, {%s}, {%s}, %s},' % (
            r["symbol"], r["Z"], ", ".join(dlit(r["a%d" % j]) for j in range(1, 6)),
            ", ".join(dlit(r["b%d" % j]) for j in range(1, 6)), dlit(r["c"])))
    write(os.path.join(xray, "wk_ion_table.inc"), lines)

    # Henke: the points of each element in order of Z. One point of the
    # published Si list (1839 eV, between the two points of the K edge at
    # 1838.8 and 1838.9 eV) is out of order; a point followed by a lower
    # energy is left out, so that every edge stays a step.
    henke = {}
    for r in rows("xray_henke93_f1f2.tsv"):
        henke.setdefault(r["symbol"], []).append((r["energy_eV"], r["f1"], r["f2"]))
    points, index = [], []
    for sym in sorted(henke, key=lambda k: z_of[k]):
        pts = henke[sym]
        kept = [p for i, p in enumerate(pts) if i + 1 == len(pts) or float(pts[i + 1][0]) > float(p[0])]
        index.append("{%d, %d, %d}," % (z_of[sym], len(points), len(kept)))
        points += kept
    lines = ["// Generated by %s from xray_henke93_f1f2.tsv: Z, first point, points." % SELF] + index
    write(os.path.join(xray, "henke_index.inc"), lines)
    lines = ["// Generated by %s from xray_henke93_f1f2.tsv: energy (eV), f1, f2, by Z." % SELF]
    lines += ["{%s, %s, %s}," % (dlit(e), dlit(f1), dlit(f2)) for e, f1, f2 in points]
    write(os.path.join(xray, "henke_table.inc"), lines)

    ffast_code(xray)

    hubbell, index = [], []
    by_z = {}
    for r in rows("xray_incoherent_hubbell75.tsv"):
        by_z.setdefault(int(r["Z"]), []).append((r["x"], r["S"]))
    for z in sorted(by_z):
        index.append("{%d, %d, %d}," % (z, len(hubbell), len(by_z[z])))
        hubbell += by_z[z]
    lines = ["// Generated by %s from xray_incoherent_hubbell75.tsv: Z, first point, points." % SELF] + index
    write(os.path.join(xray, "hubbell_index.inc"), lines)
    lines = ["// Generated by %s from xray_incoherent_hubbell75.tsv: x = sin(theta)/lambda (1/A), S, by Z." % SELF]
    lines += ["{%s, %s}," % (dlit(x), dlit(v)) for x, v in hubbell]
    write(os.path.join(xray, "hubbell_table.inc"), lines)

    lines = ["// Generated by %s from xray_compton_balyuzi75.tsv: Z, a1..a5, b1..b5." % SELF]
    for r in rows("xray_compton_balyuzi75.tsv"):
        lines.append("{%s, {%s}, {%s}}," % (r["Z"], ", ".join(dlit(r["a%d" % j]) for j in range(1, 6)),
                                             ", ".join(dlit(r["b%d" % j]) for j in range(1, 6))))
    write(os.path.join(xray, "balyuzi_table.inc"), lines)


FFAST = "xray_chantler_ffast"


def ffast_code(xray):
    """Chantler's FFAST f1, f2 (one file per element, NN.dat, as published):
    the points, each element's relativistic and nuclear Thomson corrections
    from its header, and its absorption edges (the coarse mesh holds a point
    either side of an edge, not the edge itself)."""
    points, index, edges = [], [], []
    for z in range(1, 93):
        with open(os.path.join(SOURCES, FFAST, "%02d.dat" % z), encoding="utf-8") as f:
            lines = f.read().splitlines()
        head = [l for l in lines if l.startswith("#")]
        text = "\n".join(head)
        frel = re.search(r"frel \(H82,3/5CL\) = *([-+0-9.E]+), *([-+0-9.E]+)", text)
        fnt = re.search(r"fNT = *([-+0-9.E]+)", text)
        if not frel or not fnt:
            sys.exit("%02d.dat: no relativistic or nuclear Thomson correction in its header" % z)
        # The edges: "# K      7.11200E+00  L I ..." lines after the count,
        # or "1 edge. K Edge energy (keV) = 1.36000E-02" for one.
        one = re.search(r"1 edge\. K Edge energy \(keV\) = *([-+0-9.E]+)", text)
        if one:
            kev = [one.group(1)]
        else:
            start = next(i for i, l in enumerate(head) if "Edge energies" in l)
            kev = []
            for l in head[start + 1:]:
                if "Relativistic" in l:
                    break
                kev += re.findall(r"[0-9]\.[0-9]+E[-+][0-9]+", l)
        edges += ["{%d, %s}," % (z, dlit(e)) for e in kev]
        pts = [l.split() for l in lines if not l.startswith("#") and l.strip()]
        for i in range(1, len(pts)):
            if float(pts[i][0]) <= float(pts[i - 1][0]):
                sys.exit("%02d.dat: the energies do not rise at %s keV" % (z, pts[i][0]))
        index.append("{%d, %d, %d, %s, %s, %s}," % (z, len(points), len(pts), dlit(frel.group(1)),
                                                     dlit(frel.group(2)), dlit(fnt.group(1))))
        points += [(p[0], p[1], p[2]) for p in pts]
    src = "%s/NN.dat" % FFAST
    write(os.path.join(xray, "ffast_index.inc"),
          ["// Generated by %s from %s: Z, first point, points, frel (H82), frel (3/5 CL), fNT." % (SELF, src)] + index)
    write(os.path.join(xray, "ffast_edges.inc"),
          ["// Generated by %s from %s: Z, absorption edge (keV)." % (SELF, src)] + edges)
    write(os.path.join(xray, "ffast_table.inc"),
          ["// Generated by %s from %s: energy (keV), f1, f2, by Z." % (SELF, src)] +
          ["{%s, %s, %s}," % (dlit(e), dlit(f1), dlit(f2)) for e, f1, f2 in points])


if __name__ == "__main__":
    main(sys.argv[1:])
