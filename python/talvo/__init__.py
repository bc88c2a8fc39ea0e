"""Neutron and X-ray scattering of materials, from their chemical formula.

The computations are the TALVO library's, compiled into talvo._core; see
help(talvo._core) for the overview and each function's docstring for its
arguments, units and errors.
"""
import copyreg as _copyreg
import importlib.resources as _resources
import typing as _typing

from . import _core
from ._core import (
    Dispersion,
    Atoms,
    Element,
    ElementSweep,
    Material,
    MaterialSweep,
    NeutronCorrections,
    NeutronPdf,
    Partial,
    PartialSweep,
    PerAtom,
    PerAtomSweep,
    PerFormula,
    Pdf,
    PdfModel,
    PdfSeries,
    Refinement,
    Site,
    Sq2gr,
    Structure,
    TalvoError,
    TalvoFileNotFoundError,
    TalvoMemoryError,
    TalvoOSError,
    TalvoValueError,
    TalvoWarning,
    Units,
    XrayAverage,
    XrayElement,
    XrayMaterial,
    XrdmlFile,
    XrdmlScan,
    __version__,
    anode_energy,
    compton,
    convert_density,
    data_file,
    dispersion,
    filon_ft,
    form_factor,
    iter_pdf,
    material,
    modification,
    neutron_corrections,
    pdf,
    pdf_model,
    peak,
    read_structure,
    read_xrdml,
    refine,
    sq2gr,
    xray_average,
    xray_material,
)

__doc__ = _core.__doc__

__all__ = [
    "Atoms", "Dispersion", "Element", "ElementSweep", "Material", "MaterialSweep", "NeutronCorrections", "NeutronPdf", "Partial", "PartialSweep", "PerAtom",
    "PerAtomSweep", "PerFormula", "Pdf", "PdfModel", "PdfSeries", "Refinement", "Site", "Sq2gr", "Structure", "TalvoError", "TalvoFileNotFoundError", "TalvoMemoryError",
    "TalvoOSError", "TalvoValueError", "TalvoWarning", "Units", "XrayAverage", "XrayElement", "XrayMaterial",
    "XrdmlFile", "XrdmlScan", "__version__", "anode_energy", "compton", "convert_density", "data_file",
    "dispersion", "filon_ft", "form_factor", "iter_pdf", "material", "modification", "neutron_corrections", "pdf", "pdf_model", "peak", "read_structure", "read_xrdml",
    "refine", "sq2gr",
    "xray_average", "xray_material",
]


def _reduce(self: _typing.Any) -> tuple[_typing.Any, ...]:
    # Made again as pickle's protocol 2 makes an object, under every protocol:
    # cls.__new__(cls), then __setstate__ with the state (protocols 0 and 1
    # would otherwise reach object.__new__, which a compiled class refuses).
    return (_copyreg.__newobj__, (type(self),), self.__getstate__())  # type: ignore[attr-defined]


# Results and errors are defined in _core but belong to the package: pickles
# and reprs name them talvo.X, where they are found again.
for _name in __all__:
    _obj = globals()[_name]
    if isinstance(_obj, type):
        _obj.__module__ = __name__
        if "__getstate__" in vars(_obj):
            setattr(_obj, "__reduce__", _reduce)


def _first_peak(r: _typing.Any, g: _typing.Any, rho0: float) -> int:
    # Where -4 pi rho0 r stops: G's first peak, the first local maximum from
    # 1 Angstrom on (only bonds to hydrogen are shorter; the cut-off's ripples
    # sit below) reaching half the largest G there; without one, as far as
    # the line stays above G's lowest there. The SVG of talvo-tools stops
    # at the same point.
    import numpy as np

    beyond = np.flatnonzero(r >= 1.0)
    if beyond.size:
        g_beyond = g[beyond]
        top = np.nanmax(g_beyond)
        if top > 0:
            i = np.arange(max(beyond[0], 1), len(r) - 1)
            peaks = i[(g[i] >= 0.5 * top) & (g[i] >= g[i - 1]) & (g[i] >= g[i + 1])]
            if peaks.size:
                return int(peaks[0])
        below = np.flatnonzero(-4 * np.pi * rho0 * r < np.nanmin(g_beyond))
        if below.size:
            return max(int(below[0]) - 1, 0)
    return len(r) - 1


def _shown(text: str) -> str:
    # A file name as plain text: controls, and bytes that are not UTF-8
    # (surrogate escapes), as \x escapes; "$" kept from starting mathtext.
    out = []
    for c in text:
        if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F:
            out.append(f"\\x{ord(c):02x}")
        elif 0xDC80 <= ord(c) <= 0xDCFF:
            out.append(f"\\x{ord(c) - 0xDC00:02x}")
        elif 0xD800 <= ord(c) <= 0xDFFF:
            out.append(f"\\u{ord(c):04x}")
        else:
            out.append("\\$" if c == "$" else c)
    return "".join(out)


def _plot_pdf(self: Pdf, figure: _typing.Any = None) -> _typing.Any:
    """Draws the reduction in four panels with matplotlib (ImportError where
    it is not installed) and returns the figure: I(Q) with what it oscillates
    about (the self scattering, plus Compton where it was subtracted, or the
    ad hoc background), S(Q), F(Q), and G(r) with -4 pi rho0 r up to its
    first peak where the density is known; each with its sigma band where it
    shows, axes named with their units and ticked at round numbers, a legend,
    and the input's file name and the mode as the title."""
    import os

    import numpy as np
    from matplotlib.ticker import MaxNLocator  # type: ignore[import]

    if figure is None:
        import matplotlib.pyplot as plt  # type: ignore[import]

        figure = plt.figure(figsize=(10, 7))
    axes = figure.subplots(2, 2)
    if self.mode == "adhoc":
        background = "ad hoc background"
    else:
        background = "self scattering + Compton" if self.compton_subtracted else "self scattering"
    model = [(self.q, self.model, {"color": "C3", "lw": 0.8, "label": background})]
    line = []
    if self.number_density is not None and len(self.r):
        end = _first_peak(self.r, self.gr, self.number_density) + 1
        line = [(self.r[:end], -4 * np.pi * self.number_density * self.r[:end],
                 {"color": "#555", "lw": 1.0, "ls": "--", "label": "\u22124\u03c0\u03c1\u2080r"})]
    q_name = "Q (\u00c5\u207b\u00b9)"
    panels = [
        (self.q, self.iq, self.iq_sigma, "I(Q)", model, q_name, "I (a.u.)", 0.0),
        (self.sq_q, self.sq, self.sq_sigma, "S(Q)", [], q_name, "S(Q)", 1.0),
        (self.sq_q, self.fq, self.fq_sigma, "F(Q)", [], q_name, "F(Q) (\u00c5\u207b\u00b9)", 0.0),
        (self.r, self.gr, self.gr_sigma, "G(r)", line, "r (\u00c5)", "G(r) (\u00c5\u207b\u00b2)", 0.0),
    ]
    for ax, (x, y, sigma, name, others, x_name, y_name, reference) in zip(axes.flat, panels):
        # The ranges: every finite point of every curve (the band may run off);
        # Q and r from 0 where the data start close to it.
        ys = np.concatenate([y] + [c[1] for c in others])
        ys = ys[np.isfinite(ys)]
        if ys.size and len(x):
            lo, hi = np.min(x), np.max(x)
            span = np.ptp(ys)
            pad = 0.04 * span if span > 0 else 0.5
            ax.set_xlim(0.0 if 0 <= lo <= 0.25 * hi else lo, hi if hi > lo else lo + 1)
            ax.set_ylim(np.min(ys) - pad, np.max(ys) + pad)
            # The band where it is wider than the line drawn over it (1.5 of the 220 points of the SVG's panel).
            if len(sigma) == len(y) and span > 0 and np.nanmax(2 * sigma, initial=0.0) >= 0.0068 * (span + 2 * pad):
                ax.fill_between(x, y - sigma, y + sigma, color="C0", alpha=0.25, lw=0, label="\u00b1\u03c3")
        ax.axhline(reference, color="#999", lw=0.8)
        ax.plot(x, y, color="C0", lw=0.8, label=name)
        for cx, cy, style in others:
            ax.plot(cx, cy, **style)
        ax.set_xlabel(x_name)
        ax.set_ylabel(y_name)
        ax.xaxis.set_major_locator(MaxNLocator(nbins=8, steps=[1, 2, 5, 10]))
        ax.yaxis.set_major_locator(MaxNLocator(nbins=7, steps=[1, 2, 5, 10]))
        ax.ticklabel_format(useOffset=False)
        ax.tick_params(direction="in", top=True, right=True)
        ax.grid(color="#ebebeb", lw=0.8)
        ax.set_axisbelow(True)
        # The curves, then the band, in a row above the panel: no data hidden.
        handles, labels = ax.get_legend_handles_labels()
        order = sorted(range(len(labels)), key=lambda k: labels[k] == "\u00b1\u03c3")
        ax.legend([handles[k] for k in order], [labels[k] for k in order], loc="lower left",
                  bbox_to_anchor=(0.0, 1.0), ncol=3, frameon=False, fontsize="small", borderaxespad=0.1)
    name = os.path.basename(self.input)
    figure.suptitle((_shown(name) + " \u2014 " if name else "") + ("ad hoc" if self.mode == "adhoc" else "physical")
                    + " mode")
    figure.tight_layout()
    return figure


setattr(Pdf, "plot", _plot_pdf)


def _data_folder() -> str:
    # The package's data, shipped beside its modules. A package inside a zip
    # archive has no folder: its files are extracted for the process's life.
    data = _resources.files(__name__) / "data"
    if isinstance(data, __import__("pathlib").Path):
        return str(data) + "/"
    import atexit
    import contextlib

    stack = contextlib.ExitStack()
    atexit.register(stack.close)
    return str(stack.enter_context(_resources.as_file(data))) + "/"


_core._set_data_folder(_data_folder())
del _name, _obj
