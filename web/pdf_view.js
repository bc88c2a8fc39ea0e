// The page's total-scattering view (index.html?view=pdf): a measured pattern
// opened from disk (or the built-in example) reduced to I(Q), S(Q), F(Q) and
// G(r) by the library, again on every change of an option. The reduction runs
// in a Web Worker (pdf_worker.js); this script keeps the form, the address,
// the plots, the messages and the downloads. Every number comes from the
// library; the script draws them and computes none.
'use strict';

(function () {
  if (new URLSearchParams(location.search).get('view') !== 'pdf') return;

  const SVG = 'http://www.w3.org/2000/svg';
  const $ = (id) => document.getElementById(id);

  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) if (v !== undefined && v !== null) e.setAttribute(k, v);
    for (const c of children) if (c !== null && c !== undefined) e.append(c);
    return e;
  }

  // A file's name as the library's messages show input text: control characters (C0, DEL, C1) and
  // the marks that reorder text around them written as escapes, so that a name cannot hide or
  // rearrange what the page shows.
  function shown(text) {
    return String(text).replace(/[\u0000-\u001f\u007f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'))
      .replace(/[\u0080-\u009f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g,
        (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
  }

  function svg(tag, attrs, text) {
    const e = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // The options a user tunes by eye, by the names talvo-tools pdf gives them
  // (its header lines and --config use the same). `only` shows a field in one
  // mode; `slider` is [min, max, step]; `mu` is sent as mu-r for a capillary
  // and mu-t for a plate; rmin, rmax and rstep make up r.
  const FIELDS = [
    { key: 'composition', label: 'Composition', def: 'ZrO2', wide: true, placeholder: 'ZrO2, SiO2, Ni' },
    { key: 'density', label: 'Density', unit: 'g/cm3', def: '5.68', placeholder: 'empty: none' },
    { key: 'wavelength', label: 'Wavelength', unit: 'A', def: '0.71073', placeholder: "the file's" },
    { key: 'anode', label: 'or anode', def: '', placeholder: 'MoKa, CuKa1' },
    { key: 'mode', label: 'Mode', def: 'adhoc', choices: [['', 'physical with a density, else ad hoc'],
                                                     ['physical', 'physical'], ['adhoc', 'ad hoc']] },
    { key: 'geometry', label: 'Geometry', def: 'capillary', only: 'physical',
      choices: [['capillary', 'capillary'], ['reflection', 'plate, reflection'], ['transmission', 'plate, transmission']] },
    { key: 'mu', label: 'mu R or mu t', def: '1.25', only: 'physical', slider: [0, 5, 0.01], placeholder: 'none' },
    { key: 'bg-scale', label: 'Background scale', def: '1', background: true, slider: [0, 2, 0.001] },
    { key: 'qmin', label: 'qmin', unit: '1/A', def: '0', slider: [0, 5, 0.01] },
    { key: 'qmax', label: 'qmax', unit: '1/A', def: '', slider: [1, 30, 0.01], placeholder: "the data's end" },
    { key: 'qmaxinst', label: 'qmaxinst', unit: '1/A', def: '', only: 'adhoc', slider: [1, 30, 0.01],
      placeholder: "the data's end" },
    { key: 'rpoly', label: 'rpoly', unit: 'A', def: '0.9', only: 'adhoc', slider: [0.1, 3, 0.01] },
    { key: 'window', label: 'Window', def: 'none',
      choices: [['none', 'none'], ['lorch', 'Lorch'], ['step', 'step'], ['quadratic', 'quadratic']] },
    { key: 'extrapolate', label: 'Below the first Q', def: 'none',
      choices: [['none', 'nothing (F = 0)'], ['step', 'S0, a step'], ['linear', 'a line from S0'],
                ['poly', 'a cubic from S0']] },
    { key: 's0', label: 'S0', def: '', placeholder: '0' },
    { key: 'rmin', label: 'r from', unit: 'A', def: '0' },
    { key: 'rmax', label: 'to', unit: 'A', def: '30' },
    { key: 'rstep', label: 'step', unit: 'A', def: '0.01' },
    { key: 'format', label: 'Pattern format', def: '',
      choices: [['', 'by its name (.xrdml, else 2theta)'], ['xrdml', 'XRDML'], ['twotheta', '2theta, degrees'],
                ['qa', 'Q, 1/A'], ['qnm', 'Q, 1/nm']] },
    { key: 'scan', label: 'XRDML scan', def: '', placeholder: 'all, summed' },
    { key: 'more', label: 'Other options of talvo-tools pdf', def: '', wide: true,
      placeholder: '--monochromator HOPG --compton balyuzi' },
  ];
  const KINDS = ['iq', 'sq', 'fq', 'gr', 'gofr', 'rdf'];  // the files of a reduction

  let worker = null;
  let sample = null;      // the pattern's name, or null before one is loaded
  let background = null;  // the background's name
  let wanted = 0, inFlight = false;  // request ids: the latest asked for, whether one is out
  const changedAt = new Map();       // request id -> the time of the change it answers
  let last = null;                   // the result on show
  let drawn = 0;
  let filesTimer = 0;
  const FILES_AFTER_MS = 150;

  const view = el('main', { id: 'pdf-view', 'data-state': 'loading', 'data-generation': '0' });

  function value(key) { return $('pdf-' + key).value.trim(); }

  // The mode the library will take: as chosen, else physical with a density.
  function mode() {
    return value('mode') || (value('density') ? 'physical' : 'adhoc');
  }

  // Whether a field belongs to the settings now: the mode's, the background's, XRDML's.
  function applies(f) {
    if (f.only) return f.only === mode();
    if (f.background) return background !== null;
    if (f.key === 's0') return value('extrapolate') !== 'none';
    if (f.key === 'scan') return value('format') === 'xrdml' || (value('format') === '' && /\.xrdml$/i.test(sample || ''));
    return true;
  }

  // {name: text} for the library, or a string saying what is wrong.
  function options() {
    const o = {};
    for (const f of FIELDS) {
      const v = value(f.key);
      if (v === '' || !applies(f) || ['more', 'rmin', 'rmax', 'rstep'].includes(f.key)) continue;
      if (f.key === 'mu') o[value('geometry') === 'capillary' ? 'mu-r' : 'mu-t'] = v;
      else o[f.key] = v;
    }
    const r = ['rmin', 'rmax', 'rstep'].map(value);
    if (r.some((v) => v !== '')) o.r = r.join(':');
    const words = value('more').split(/\s+/).filter((w) => w !== '');
    for (let i = 0; i < words.length; i += 2) {
      if (!words[i].startsWith('--') || words[i].length < 3)
        return 'other options: give --NAME VALUE pairs, not ' + words[i];
      if (i + 1 >= words.length) return 'other options: ' + words[i] + ' needs a value';
      o[words[i].slice(2)] = words[i + 1];
    }
    return o;
  }

  // The settings in the address (the pattern is not): each field that differs from its default.
  function saveAddress() {
    const q = new URLSearchParams();
    q.set('view', 'pdf');
    for (const f of FIELDS) if (value(f.key) !== f.def) q.set(f.key, value(f.key));
    const query = '?' + q.toString().replace(/\+/g, '%20');
    $('pdf-link').href = location.href.split(/[?#]/)[0] + query;
    try {
      history.replaceState(null, '', query);
    } catch (e) {
      // A file:// address may stay as it is; the link holds the settings.
    }
  }

  function showFields() {
    for (const f of FIELDS) $('pdf-label-' + f.key).hidden = !applies(f);
    $('pdf-mu-name').textContent = value('geometry') === 'capillary' ? 'mu R' : 'mu t';
  }

  // A change of an option: ask for a reduction, unless one is out (its answer asks again).
  function changed() {
    showFields();
    saveAddress();
    clearTimeout(filesTimer);
    $('pdf-downloads').replaceChildren();
    wanted++;
    view.dataset.request = String(wanted);
    changedAt.set(wanted, performance.now());
    if (!inFlight) send();
  }

  function send() {
    const o = options();
    if (typeof o === 'string') {
      showError(o, wanted);
      return;
    }
    if (sample === null) return;
    inFlight = true;
    view.dataset.state = 'busy';
    worker.postMessage({ type: 'reduce', id: wanted, options: o });
  }

  // The last plots stay, faded, so that a half-typed value does not blank the view.
  function showError(message, id) {
    const box = $('pdf-messages');
    box.replaceChildren(el('div', { class: 'error', role: 'alert' }, message));
    $('pdf-plots').classList.add('stale');
    $('pdf-downloads').replaceChildren();
    if (id === wanted) view.dataset.state = 'error';
    view.dataset.generation = String(++drawn);
  }

  function received(id, r) {
    inFlight = false;
    if (id < wanted) send();  // the fields changed meanwhile: the newest settings go out first
    if (r.error) {
      showError(r.error, id);
      for (const w of r.warnings) $('pdf-messages').append(el('div', { class: 'warning' }, 'warning: ' + w));
      return;
    }
    last = r;
    draw(r);
    diagnostics(r);
    $('pdf-plots').classList.remove('stale');
    requestAnimationFrame(() => {
      const since = changedAt.get(id);
      for (const k of [...changedAt.keys()]) if (k <= id) changedAt.delete(k);
      if (since !== undefined) view.dataset.redrawMs = (performance.now() - since).toFixed(1);
      view.dataset.reduceMs = r.reduceMs.toFixed(1);
      $('pdf-timing').textContent = `reduced in ${r.reduceMs.toFixed(0)} ms` +
        (since !== undefined ? `, drawn ${(performance.now() - since).toFixed(0)} ms after the change` : '');
      if (id === wanted) {
        view.dataset.state = 'done';
        // The files once the changes pause: formatting them would hold up the next reduction.
        filesTimer = setTimeout(() => worker.postMessage({ type: 'files', id }), FILES_AFTER_MS);
      }
      view.dataset.generation = String(++drawn);
    });
  }

  // ---- plots ----

  // Round steps for the axes: 1, 2 or 5 times a power of ten.
  function ticks(lo, hi, count) {
    if (!(hi > lo)) return [lo];
    const raw = (hi - lo) / count;
    const p = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = [1, 2, 5, 10].map((f) => f * p).find((s) => s >= raw);
    const out = [];
    for (let t = Math.ceil(lo / step) * step; t <= hi + step * 1e-9; t += step) out.push(Number(t.toPrecision(12)));
    return out;
  }

  // The points of one series in panel coordinates: all of them when they are
  // few, else the lowest and highest of each pixel column, so that no peak is lost.
  function path(x, y, X, Y, width) {
    const n = Math.min(x.length, y.length);
    const out = [];
    if (n <= 2 * width) {
      for (let i = 0; i < n; i++) if (isFinite(y[i])) out.push(X(x[i]).toFixed(1) + ',' + Y(y[i]).toFixed(1));
      return out;
    }
    let column = -1, lo = 0, hi = 0, loAt = 0, hiAt = 0;
    const flush = () => {
      if (column < 0) return;
      const [a, b] = loAt < hiAt ? [lo, hi] : [hi, lo];
      out.push(column + ',' + Y(a).toFixed(1), column + ',' + Y(b).toFixed(1));
    };
    for (let i = 0; i < n; i++) {
      if (!isFinite(y[i])) continue;
      const c = Math.round(X(x[i]));
      if (c !== column) {
        flush();
        column = c; lo = hi = y[i]; loAt = hiAt = i;
      } else if (y[i] < lo) {
        lo = y[i]; loAt = i;
      } else if (y[i] > hi) {
        hi = y[i]; hiAt = i;
      }
    }
    flush();
    return out;
  }

  function range(arrays) {
    let lo = Infinity, hi = -Infinity;
    for (const a of arrays) for (const v of a) if (isFinite(v)) { if (v < lo) lo = v; if (v > hi) hi = v; }
    if (!(hi > lo)) { lo = isFinite(lo) ? lo - 1 : 0; hi = lo + 2; }
    const pad = 0.05 * (hi - lo);
    return [lo - pad, hi + pad];
  }

  // One panel: series [{x, y, cls, label}], reference lines {y: value} or {x: value} or {slope}.
  function panel(name, title, xlabel, ylabel, series, references) {
    const W = 470, H = 260, L = 56, R = 12, T = 22, B = 38;
    const x0 = Math.min(...series.map((s) => s.x[0])), x1 = Math.max(...series.map((s) => s.x[s.x.length - 1]));
    const [y0, y1] = range(series.filter((s) => !s.ignoreRange).map((s) => s.y));
    const X = (v) => L + (x1 > x0 ? (v - x0) / (x1 - x0) : 0.5) * (W - L - R);
    const Y = (v) => H - B - (v - y0) / (y1 - y0) * (H - T - B);
    const s = svg('svg', { class: 'plot pdf-plot', width: W, height: H, viewBox: `0 0 ${W} ${H}`, role: 'img',
                           'data-panel': name, 'aria-label': title });
    const clip = 'pdf-clip-' + name;
    const defs = svg('defs', {});
    defs.append(Object.assign(svg('clipPath', { id: clip }), {}));
    defs.firstChild.append(svg('rect', { x: L, y: T, width: W - L - R, height: H - T - B }));
    s.append(defs);
    s.append(svg('rect', { class: 'frame', x: L, y: T, width: W - L - R, height: H - T - B }));
    for (const t of ticks(x0, x1, 6)) {
      s.append(svg('line', { class: 'axis', x1: X(t), y1: H - B, x2: X(t), y2: H - B + 4 }));
      s.append(svg('text', { class: 'tick', x: X(t), y: H - B + 15, 'text-anchor': 'middle' }, String(t)));
    }
    for (const t of ticks(y0, y1, 6)) {
      s.append(svg('line', { class: 'axis', x1: L - 4, y1: Y(t), x2: L, y2: Y(t) }));
      s.append(svg('text', { class: 'tick', x: L - 6, y: Y(t) + 4, 'text-anchor': 'end' }, String(t)));
    }
    s.append(svg('text', { x: (L + W - R) / 2, y: H - 5, 'text-anchor': 'middle' }, xlabel));
    s.append(svg('text', { class: 'axis-name', x: 12, y: (T + H - B) / 2, 'text-anchor': 'middle',
                           transform: `rotate(-90 12 ${(T + H - B) / 2})` }, ylabel));
    s.append(svg('text', { class: 'title', x: L, y: T - 7 }, title));
    const g = svg('g', { 'clip-path': `url(#${clip})` });
    for (const ref of references) {
      if ('y' in ref && ref.y > y0 && ref.y < y1)
        g.append(svg('line', { class: 'reference', x1: L, y1: Y(ref.y), x2: W - R, y2: Y(ref.y) }));
      if ('x' in ref && ref.x > x0 && ref.x < x1)
        g.append(svg('line', { class: 'marker', x1: X(ref.x), y1: T, x2: X(ref.x), y2: H - B, 'data-at': String(ref.x) }));
    }
    let legend = W - R - 4;
    for (const ser of series) {
      const pts = path(ser.x, ser.y, X, Y, W - L - R);
      g.append(svg('polyline', { class: ser.cls, points: pts.join(' '), 'data-points': String(ser.x.length) }));
      if (ser.label) {
        const t = svg('text', { class: 'legend ' + ser.cls, x: legend, y: T + 14, 'text-anchor': 'end' }, ser.label);
        s.append(t);
        legend -= 8 + 6.2 * ser.label.length;
      }
    }
    s.insertBefore(g, s.querySelector('text.title'));
    return s;
  }

  // The summary's values by name (null for none).
  function summaryOf(r) {
    return Object.fromEntries(r.summary.map((f) => [f.name, f.value]));
  }

  function draw(r) {
    const s = summaryOf(r);
    const physical = s.mode === 'physical';
    const marks = [{ x: s.qmax }];
    if (s.qmin > 0) marks.push({ x: s.qmin });
    const gr = [{ x: r.gr.x, y: r.gr.y, cls: 'data' }];
    if (s.number_density !== null) {
      const line = r.gr.x.map((x) => -4 * Math.PI * s.number_density * x);
      gr.push({ x: r.gr.x, y: line, cls: 'density-line', label: '-4 pi rho0 r', ignoreRange: true });
    }
    $('pdf-plots').replaceChildren(
      panel('iq', 'I(Q), per atom in electron units', 'Q (1/A)', 'I(Q) (e.u./atom)',
            [{ x: r.iq.x, y: r.iq.y, cls: 'data', label: 'I(Q)' },
             { x: r.iq.x, y: r.model, cls: 'model', label: physical ? 'self scattering' : 'ad hoc background' }],
            marks),
      panel('sq', 'S(Q)', 'Q (1/A)', 'S(Q)', [{ x: r.sq.x, y: r.sq.y, cls: 'data' }], [{ y: 1 }, ...marks]),
      panel('fq', 'F(Q) = Q [S(Q) - 1]', 'Q (1/A)', 'F(Q) (1/A)', [{ x: r.fq.x, y: r.fq.y, cls: 'data' }], [{ y: 0 }, ...marks]),
      panel('gr', 'G(r)', 'r (A)', 'G(r) (1/A^2)', gr, [{ y: 0 }]));
    // The sliders of Q reach the data's end.
    const end = r.qData !== null ? r.qData : r.iq.x[r.iq.x.length - 1];
    for (const key of ['qmax', 'qmaxinst']) {
      const slider = $('pdf-slider-' + key);
      slider.max = String(Math.ceil(end * 100) / 100);
      if (value(key) === '') slider.value = String(end);
    }
  }

  // The library's warnings, then what the reduction took and found (the notes are its files' words).
  function diagnostics(r) {
    const box = $('pdf-messages');
    box.replaceChildren();
    for (const w of r.warnings) box.append(el('div', { class: 'warning' }, 'warning: ' + w));
    const s = summaryOf(r);
    const facts = [['Mode', 'mode', s.mode === 'physical' ? 'physical' : 'ad hoc']];
    if (s.wavelength !== null) facts.push(['Wavelength (A)', 'wavelength', String(s.wavelength)]);
    // Six significant digits, as the other numbers the page shows.
    const six = (v) => String(Number(v.toPrecision(6)));
    facts.push(['Q used (1/A)', 'q', `${six(s.qmin)} to ${six(s.qmax)}`]);
    // The rest of the summary as its table names it, a value with its sigma where it has one.
    const shown = new Set(['mode', 'wavelength', 'qmin', 'qmax']);
    for (const f of r.summary) {
      if (shown.has(f.name) || f.name.endsWith('_sigma') || f.value === null) continue;
      const sigma = s[f.name + '_sigma'];
      const text = typeof f.value === 'number'
        ? six(f.value) + (typeof sigma === 'number' ? ` +- ${six(sigma)}` : '')
        : String(f.value);
      const words = f.name.replaceAll('_', ' ');
      const label = words[0].toUpperCase() + words.slice(1) + (f.unit ? ` (${f.unit})` : '');
      facts.push([label, f.name, text, f.meaning]);
    }
    const table = el('table', { id: 'pdf-facts' });
    for (const [label, key, text, meaning] of facts)
      table.append(el('tr', meaning ? { title: meaning } : {}, el('td', { class: 'label' }, label),
                      el('td', { class: 'num', 'data-key': key }, text)));
    box.append(table, el('ul', { id: 'pdf-notes' }, ...r.notes.map((n) => el('li', {}, n))));
  }

  // ---- files: the pattern in, the reduction's files out ----

  function download(name, text) {
    return el('a', { href: URL.createObjectURL(new Blob([text], { type: 'text/plain' })), download: name }, name);
  }

  function showFiles(id, texts) {
    if (id !== wanted || last === null) return;
    view.dataset.files = String(id);
    const links = $('pdf-downloads');
    for (const a of links.querySelectorAll('a[href^="blob:"]')) URL.revokeObjectURL(a.href);
    const prefix = texts.prefix;
    const items = [];
    for (const kind of KINDS) if (texts[kind]) items.push(download(prefix + '.' + kind, texts[kind]));
    const config = download(prefix + '.cfg', texts.config);
    config.id = 'pdf-config';
    links.replaceChildren(el('span', { class: 'label' }, 'Download: '), ...items, config,
      el('span', { class: 'note' },
        ` (talvo-tools pdf --config ${shown(prefix)}.cfg, beside ${shown(texts.input)}, writes the same)`));
  }

  // The largest file the page reads: a pattern of a few million points. A larger one would exhaust
  // the calculator's memory and stop it; the command line reads any size.
  const LARGEST_FILE_MB = 64;
  async function open(role, file) {
    if (file.size > LARGEST_FILE_MB * 1024 * 1024) {
      showError(`${shown(file.name)} is ${(file.size / 1048576).toFixed(0)} MB: the page reads files up to ` +
        `${LARGEST_FILE_MB} MB; reduce it with talvo-tools pdf`, wanted);
      return;
    }
    let bytes;
    try {
      bytes = await file.arrayBuffer();
    } catch (e) {
      showError(`cannot read ${shown(file.name)}: ${e.message || e}`, wanted);
      return;
    }
    worker.postMessage({ type: 'file', role, name: file.name, bytes }, [bytes]);
  }

  function loaded(role, name, isExample) {
    if (role === 'sample') {
      sample = name;
      $('pdf-pattern-name').textContent = shown(name);
      $('pdf-example-note').hidden = !isExample;
      view.dataset.pattern = name;
    } else {
      background = name;
      $('pdf-background-name').textContent = name === null ? 'none' : shown(name);
      $('pdf-background-clear').hidden = name === null;
    }
    changed();
  }

  function dropZone(target, role) {
    target.addEventListener('dragover', (e) => {
      e.preventDefault();
      target.classList.add('over');
    });
    target.addEventListener('dragleave', () => target.classList.remove('over'));
    target.addEventListener('drop', (e) => {
      e.preventDefault();
      e.stopPropagation();
      target.classList.remove('over');
      const file = e.dataTransfer && e.dataTransfer.files[0];
      if (file) open(role, file);
    });
  }

  // ---- the form ----

  function field(f) {
    const id = 'pdf-' + f.key;
    let input;
    if (f.choices) {
      input = el('select', { id, name: f.key });
      for (const [v, text] of f.choices) input.append(el('option', { value: v }, text));
    } else {
      input = el('input', { id, name: f.key, spellcheck: 'false', placeholder: f.placeholder,
                            inputmode: f.slider || f.unit ? 'decimal' : undefined });
    }
    input.value = f.def;
    input.addEventListener(f.choices ? 'change' : 'input', () => {
      const slider = $('pdf-slider-' + f.key);
      if (slider && value(f.key) !== '' && isFinite(Number(value(f.key)))) slider.value = value(f.key);
      changed();
    });
    const name = f.key === 'mu' ? el('span', { id: 'pdf-mu-name' }, 'mu R') : f.label;
    const label = el('label', { id: 'pdf-label-' + f.key, class: f.wide ? 'wide' : undefined },
                     el('span', {}, name, f.unit ? el('span', { class: 'unit' }, ' ' + f.unit) : null), input);
    if (f.slider) {
      const [lo, hi, step] = f.slider;
      const slider = el('input', { id: 'pdf-slider-' + f.key, type: 'range', min: lo, max: hi, step,
                                   'aria-label': f.label + ' slider' });
      slider.value = f.def === '' ? String(hi) : f.def;
      slider.addEventListener('input', () => {
        input.value = String(Number(slider.value));
        changed();
      });
      label.append(slider);
    }
    return label;
  }

  function build() {
    const pattern = el('section', { id: 'pdf-pattern', class: 'drop' },
      el('div', {}, el('span', { class: 'label' }, 'Pattern: '), el('strong', { id: 'pdf-pattern-name' }, '-'),
         ' ', el('label', { class: 'button' }, 'Open a pattern...',
                 el('input', { id: 'pdf-file', type: 'file', hidden: '' })),
         el('button', { id: 'pdf-example', type: 'button' }, 'Example'),
         el('span', { class: 'note' }, ' or drop a file here: XRDML, 2theta or Q columns, .chi. It stays on this computer.')),
      el('div', { id: 'pdf-example-note', class: 'note' },
         'The built-in example: monoclinic ZrO2 in a capillary, Mo K alpha, a laboratory pattern from the example data of ',
         'diffpy.labpdfproc (BSD-3 licence, ', el('a', { href: 'examples/labpdfproc_LICENSE.rst' }, 'text'), '; ',
         el('a', { id: 'pdf-example-file', download: 'zro2_mo.xy' }, 'the pattern'), ').'),
      el('div', { id: 'pdf-background-row' }, el('span', { class: 'label' }, 'Background: '),
         el('strong', { id: 'pdf-background-name' }, 'none'), ' ',
         el('label', { class: 'button' }, 'Open a background...',
            el('input', { id: 'pdf-background-file', type: 'file', hidden: '' })),
         el('button', { id: 'pdf-background-clear', type: 'button', hidden: '' }, 'No background')));
    const form = el('form', { id: 'pdf-inputs', autocomplete: 'off', onsubmit: 'return false' });
    for (const f of FIELDS) form.append(field(f));
    view.append(
      el('p', { class: 'intro' }, 'A measured X-ray powder pattern to S(Q), F(Q) and G(r), reduced in this page by ',
         'the library of ', el('code', {}, 'talvo-tools pdf'), ', again on every change.'),
      pattern, form,
      el('div', { id: 'pdf-status', class: 'status' }, el('span', { id: 'pdf-timing' }, 'Starting the calculator...')),
      el('div', { class: 'pdf-body' },
         el('div', { id: 'pdf-plots' }),
         el('aside', { id: 'pdf-side' }, el('h2', { class: 'label' }, 'Diagnostics'),
            el('div', { id: 'pdf-messages', 'aria-live': 'polite' }))),
      el('p', { id: 'pdf-downloads', class: 'links' }),
      el('p', { class: 'links' }, el('a', { id: 'pdf-link', href: '#' }, 'link to these settings'),
         el('a', { href: 'index.html' }, 'the material calculator')),
      el('footer', {}, 'Computed in this page by the TALVO library compiled to WebAssembly: the reduction of ',
         el('code', {}, 'talvo-tools pdf'), ', its numbers and its files. X-ray form factors: Waasmaier & Kirfel ',
         '(1995); Compton scattering: Hubbell et al. (1975) or Balyuzi (1975); f\' and f\'\': Henke et al. (1993) to 30 keV, '
         + 'Chantler (1995, 2000; FFAST) above (the header\'s f_table).'));
    $('pdf-file').addEventListener('change', (e) => { if (e.target.files[0]) open('sample', e.target.files[0]); });
    $('pdf-background-file').addEventListener('change',
      (e) => { if (e.target.files[0]) open('background', e.target.files[0]); });
    $('pdf-background-clear').addEventListener('click',
      () => worker.postMessage({ type: 'file', role: 'background', name: '', bytes: null }));
    $('pdf-example').addEventListener('click', () => worker.postMessage({ type: 'example' }));
    dropZone(view, 'sample');
    dropZone($('pdf-background-row'), 'background');
  }

  function start() {
    for (const m of document.querySelectorAll('main, body > footer')) m.hidden = true;
    document.body.classList.add('pdf-view');
    document.title = 'TALVO: a pattern to G(r), offline';
    document.querySelector('main').after(view);
    build();
    const q = new URLSearchParams(location.search);
    for (const f of FIELDS) if (q.has(f.key)) $('pdf-' + f.key).value = q.get(f.key);
    for (const f of FIELDS) {
      const slider = $('pdf-slider-' + f.key);
      if (slider && value(f.key) !== '') slider.value = value(f.key);
    }
    showFields();
    saveAddress();
    if (typeof talvoScript !== 'function' || typeof talvoPdfWorker !== 'function') {
      $('pdf-timing').textContent = 'talvo-wasm.js is missing: build it with cmake --preset wasm && cmake --build --preset wasm.';
      return;
    }
    const source = `var TalvoModule = (${talvoScript})();\n(${talvoPdfWorker})();\n`;
    worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
    worker.onerror = (e) => { $('pdf-timing').textContent = 'The calculator did not start: ' + e.message; };
    worker.onmessage = (e) => {
      const m = e.data;
      if (m.type === 'ready') {
        $('pdf-example-file').href = URL.createObjectURL(new Blob([m.exampleBytes], { type: 'text/plain' }));
        worker.postMessage({ type: 'example' });
      } else if (m.type === 'loaded') {
        loaded(m.role, m.name, m.example);
      } else if (m.type === 'result') {
        received(m.id, m.result);
      } else if (m.type === 'files') {
        showFiles(m.id, m.files);
      } else if (m.type === 'failed') {
        $('pdf-timing').textContent = m.message;
      }
    };
  }

  start();
})();
