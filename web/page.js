// The page: reads the fields (and, on load, the URL's query string), asks the
// library (talvo-wasm.js) for the material at each wavelength, and shows what
// it returned. Every number shown is a value of the library's JSON rounded by
// the library's own %.6g; the page computes none of them.
'use strict';

(function () {
  // index.html?view=pdf is the total-scattering view's (pdf_view.js).
  if (new URLSearchParams(location.search).get('view') === 'pdf') return;
  const FIELDS = ['formula', 'density', 'thickness', 'wavelength', 'xray'];
  const SVG = 'http://www.w3.org/2000/svg';
  const MAX_SWEEP_ROWS = 100;
  let talvo = null;
  let lastGood = null;  // the formula of the results on show
  let fieldUnits = {};  // the library's unit of each value of a material, by "scope.name"
  let xrayFields = {};  // the library's table of the X-ray material's values, by "scope.name"

  const $ = (id) => document.getElementById(id);

  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
    for (const c of children) e.append(c);
    return e;
  }

  // One number of the JSON: data-key names it (a path in the material's
  // object), data-row the wavelength it belongs to; "-" where it is null.
  function num(tag, row, key, value, src) {
    const text = value === null || value === undefined ? '-' : talvo.formatG(value);
    const attrs = { class: 'num', 'data-key': key, 'data-row': String(row) };
    if (src) attrs['data-src'] = src;  // a value of the X-ray material's JSON
    return el(tag, attrs, text);
  }

  function valueAt(obj, key) {
    return key.split('.').reduce((o, k) => (o === null || o === undefined ? o : o[k]), obj);
  }

  // The unit shown beside a value of the neutron material's JSON, from the
  // library's table of a material's values: key is its path ("sld",
  // "per_atom.sigma_coh", "elements.sigma_abs").
  function unitOf(key) {
    const [head, name] = key.includes('.') ? key.split('.') : [null, key];
    const scope = { per_atom: 'per_atom', per_formula: 'per_formula', elements: 'element', partials: 'partial' }[head];
    return (scope ? fieldUnits[scope + '.' + name] : fieldUnits['material.' + key] ?? fieldUnits['per_volume.' + key]) ?? '';
  }

  // The same for a value of the X-ray material's JSON ("sld", "elements.sigma_coh").
  function xrayUnitOf(key) {
    const [head, name] = key.includes('.') ? key.split('.') : [null, key];
    const scope = { per_atom: 'per_atom', elements: 'element' }[head] ?? 'material';
    return xrayFields[scope + '.' + name]?.unit_shown ?? '';
  }

  // A table of [label, key, unit] lines of one material object; a line
  // without its unit takes the library's for the key.
  function quantities(title, m, row, lines, src) {
    const table = el('table');
    const libraryUnit = src === 'xray' ? xrayUnitOf : unitOf;
    for (const [label, key, unit] of lines)
      table.append(el('tr', {}, el('td', { class: 'label' }, label), num('td', row, key, valueAt(m, key), src),
                      el('td', { class: 'unit' }, unit ?? libraryUnit(key))));
    return el('div', {}, el('h2', { class: 'label' }, title), table);
  }

  function materialSection(m) {
    const formula = el('table', {}, el('tr', {}, el('td', { class: 'label' }, 'Formula'),
                                       el('td', { class: 'formula' }, m.formula)));
    const q = quantities('Material', m, 0, [
      ['Atoms per formula unit', 'atoms', ''],
      ['Mass per formula unit', 'mass'],
      ['Density', 'density'],
      ['Number density', 'number_density'],
    ]);
    q.insertBefore(formula, q.lastChild);
    return q;
  }

  function neutronSections(m, ranged) {
    const sld = quantities('Neutron SLD', m, 0, [
        ['Wavelength', 'wavelength'],
        ['SLD, real', 'sld'],
        ['SLD, imaginary', 'sld_im'],
        ['SLD, incoherent', 'sld_inc'],
        ['Mean length b', 'per_atom.b_coh'],
        ['Mean length b, imaginary', 'per_atom.b_coh_im'],
        ['Free-atom length', 'per_atom.b_free'],
    ]);
    sld.firstChild.append(' at ', num('span', 0, 'wavelength', m.wavelength), ' A' + (ranged ? ', the first of the range' : ''));
    return el('div', { class: 'columns' }, sld,
      crossSections(m),
      quantities('Attenuation', m, 0, [
        ['Absorption', 'mu_abs'],
        ['Scattering', 'mu_scatt'],
        ['Total', 'mu_total'],
        ['1/e length, absorption', 'absorption_length'],
        ['1/e length, absorption + scattering', 'penetration_depth'],
        ['Transmission', 'transmission'],
      ]));
  }

  // Per atom and per formula unit side by side; the free-atom and 2200 m/s
  // values are given per atom only.
  function crossSections(m) {
    const lines = [['Coherent', 'sigma_coh', true], ['Incoherent', 'sigma_inc', true],
                   ['Scattering (bound)', 'sigma_scatt', true], ['Scattering (free atom)', 'sigma_free', false],
                   ['Absorption at the wavelength', 'sigma_abs', true], ['Absorption at 2200 m/s', 'sigma_abs_2200', false]];
    const table = el('table', {}, el('tr', {}, el('th', { class: 'label' }, unitOf('elements.sigma_coh')),
                                     el('th', { class: 'label num' }, 'per atom'),
                                     el('th', { class: 'label num' }, 'per formula unit')));
    for (const [label, key, both] of lines)
      table.append(el('tr', {}, el('td', { class: 'label' }, label), num('td', 0, 'per_atom.' + key, m.per_atom[key]),
                      both ? num('td', 0, 'per_formula.' + key, m.per_formula[key]) : el('td')));
    return el('div', {}, el('h2', { class: 'label' }, 'Cross-sections'), table);
  }

  function elementsSection(m) {
    const cols = [['count', 'Count'], ['fraction', 'Fraction'], ['b_coh', 'b'], ['b_coh_im', 'b, imaginary'],
                  ['sigma_coh', 'Coherent'], ['sigma_inc', 'Incoherent'], ['sigma_scatt', 'Scattering'],
                  ['sigma_abs', 'Absorption'], ['sigma_abs_2200', 'Absorption (2200 m/s)']]
      .map(([key, label]) => [key, label, key === 'count' ? '' : unitOf('elements.' + key)]);
    const head = el('tr', {}, el('th', { class: 'label' }, 'Element'));
    for (const [, label, unit] of cols) head.append(el('th', { class: 'label num' }, label, el('br'), el('span', { class: 'unit' }, unit)));
    head.append(el('th', { class: 'label' }, 'Length from'));
    const table = el('table', {}, head);
    m.elements.forEach((e, i) => {
      const tr = el('tr', {}, el('td', { class: 'label' }, e.symbol));
      for (const [key] of cols) tr.append(num('td', 0, 'elements.' + i + '.' + key, e[key]));
      tr.append(el('td', { class: 'label source' }, e.source || ''));
      table.append(tr);
    });
    return el('div', {}, el('h2', { class: 'label' }, 'Elements'), el('div', { class: 'wide' }, table));
  }

  function sweepSection(rows) {
    const cols = [['wavelength', 'Wavelength'], ['sld', 'SLD'], ['sld_im', 'SLD, imag.'], ['sld_inc', 'SLD, inc.'],
                  ['per_atom.sigma_abs', 'Absorption'], ['mu_total', 'Total'], ['absorption_length', '1/e abs.'],
                  ['penetration_depth', '1/e total'], ['transmission', 'Transmission']]
      .map(([key, label]) => [key, label, unitOf(key)]);
    const head = el('tr');
    for (const [, label, unit] of cols) head.append(el('th', { class: 'label num' }, label, el('br'), el('span', { class: 'unit' }, unit)));
    const table = el('table', {}, head);
    rows.slice(0, MAX_SWEEP_ROWS).forEach((m, r) => {
      const tr = el('tr');
      for (const [key] of cols) tr.append(num('td', r, key, valueAt(m, key)));
      table.append(tr);
    });
    const box = el('div', {}, el('h2', { class: 'label' }, 'Over the range'), el('div', { class: 'sweep' }, table));
    if (rows.length > MAX_SWEEP_ROWS)
      box.append(el('p', { class: 'note' }, `The first ${MAX_SWEEP_ROWS} of ${rows.length} wavelengths; the plot and the JSON hold all.`));
    return box;
  }

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

  function svg(tag, attrs, text) {
    const e = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // Transmission (left axis, 0 to 1) and the absorption length 1/mu_abs (right axis) against wavelength.
  function plotSection(rows) {
    const W = 560, H = 250, L = 52, R = 62, T = 14, B = 40;
    const xs = rows.map((m) => m.wavelength);
    const tr = rows.map((m) => m.transmission);
    const len = rows.map((m) => m.absorption_length);
    const x0 = Math.min(...xs), x1 = Math.max(...xs);
    const lenMax = Math.max(...len.filter((v) => v !== null && v !== undefined && isFinite(v)), 0);
    const lenTicks = ticks(0, lenMax > 0 ? lenMax : 1, 4);
    const lenTop = lenTicks[lenTicks.length - 1] >= lenMax ? lenTicks[lenTicks.length - 1] : lenMax;
    const X = (x) => L + (x1 > x0 ? (x - x0) / (x1 - x0) : 0.5) * (W - L - R);
    const Y = (v, top) => H - B - (v / top) * (H - T - B);
    const s = svg('svg', { class: 'plot', width: W, height: H, viewBox: `0 0 ${W} ${H}`, role: 'img',
                           'aria-label': 'transmission and absorption length against wavelength' });
    s.append(svg('line', { class: 'axis', x1: L, y1: H - B, x2: W - R, y2: H - B }));
    s.append(svg('line', { class: 'axis', x1: L, y1: T, x2: L, y2: H - B }));
    s.append(svg('line', { class: 'axis', x1: W - R, y1: T, x2: W - R, y2: H - B }));
    for (const t of ticks(x0, x1, 6)) {
      s.append(svg('line', { class: 'axis', x1: X(t), y1: H - B, x2: X(t), y2: H - B + 4 }));
      s.append(svg('text', { class: 'tick', x: X(t), y: H - B + 16, 'text-anchor': 'middle' }, String(t)));
    }
    s.append(svg('text', { x: (L + W - R) / 2, y: H - 6, 'text-anchor': 'middle' }, 'wavelength (A)'));
    const line = (values, top, cls) => {
      const pts = [];
      values.forEach((v, i) => { if (v !== null && v !== undefined && isFinite(v)) pts.push(`${X(xs[i]).toFixed(1)},${Y(v, top).toFixed(1)}`); });
      if (pts.length) s.append(svg('polyline', { class: cls, points: pts.join(' '), 'data-points': String(pts.length) }));
      return pts.length;
    };
    const haveT = line(tr, 1, 'transmission') > 0;
    line(len, lenTop, 'length');
    if (haveT)
      for (const t of [0, 0.5, 1]) s.append(svg('text', { class: 'tick', x: L - 6, y: Y(t, 1) + 4, 'text-anchor': 'end' }, String(t)));
    for (const t of lenTicks)
      if (t <= lenTop) s.append(svg('text', { class: 'tick', x: W - R + 6, y: Y(t, lenTop) + 4 }, String(t)));
    s.append(svg('text', { x: L + 4, y: T + 10, fill: '#1f6fb2' }, haveT ? 'transmission (left)' : 'transmission: give a thickness'));
    s.append(svg('text', { x: W - R - 4, y: T + 10, 'text-anchor': 'end' }, 'absorption length in cm (right, dashed)'));
    return el('div', {}, el('h2', { class: 'label' }, 'Neutron transmission and absorption length'), s);
  }

  // The X-ray material at the source typed: optical constants, attenuation, each element's f1 and f2.
  // Units are the library's; the counts and scattering factors, whose labels
  // say what they are per, show none.
  function xraySections(x) {
    const columns = el('div', { class: 'columns' },
      quantities('X-rays', x, 0, [
        ['Energy', 'energy'],
        ['Wavelength', 'wavelength'],
        ['Electrons per formula unit', 'electrons', ''],
        ['f1 per formula unit', 'f1', ''],
        ['f2 per formula unit', 'f2', ''],
        ['SLD, real', 'sld'],
        ['SLD, imaginary', 'sld_im'],
        ['delta', 'delta'],
        ['beta', 'beta'],
        ['Critical angle', 'critical_angle'],
      ], 'xray'),
      quantities('X-ray attenuation', x, 0, [
        ['Photoabsorption', 'mu_photo'],
        ['Rayleigh', 'mu_coh'],
        ['Compton', 'mu_incoh'],
        ['Total', 'mu_total'],
        ['Attenuation length, photoabsorption', 'attenuation_length_photo'],
        ['Attenuation length, total', 'attenuation_length'],
        ['Transmission, photoabsorption', 'transmission_photo'],
        ['Transmission, total', 'transmission'],
      ], 'xray'));
    // [key, label, unit]: the f columns headed by the library's symbols ("f'").
    const cols = [['f1', null, ''], ['f2', null, ''], ['f_prime', null, ''], ['f_double_prime', null, ''],
                  ['sigma_photo', 'Photoabs.'], ['sigma_coh', 'Rayleigh'], ['sigma_incoh', 'Compton']]
      .map(([key, label, unit]) => [key, label ?? xrayFields['element.' + key].symbol, unit ?? xrayUnitOf('elements.' + key)]);
    const head = el('tr', {}, el('th', { class: 'label' }, 'Element'));
    for (const [, label, unit] of cols) head.append(el('th', { class: 'label num' }, label, el('br'), el('span', { class: 'unit' }, unit)));
    const table = el('table', {}, head);
    (x.elements || []).forEach((e, i) => {
      const tr = el('tr', {}, el('td', { class: 'label' }, e.symbol));
      for (const [key] of cols) tr.append(num('td', 0, 'elements.' + i + '.' + key, e[key], 'xray'));
      table.append(tr);
    });
    // The table that made every f1, f2 (and so the photoabsorption), by the name the JSON gives it.
    const source = x.f_table === 'chantler-ffast' ? "Chantler's FFAST (1995, 2000)" : 'Henke et al. (1993)';
    return el('div', {}, columns, el('div', { class: 'wide' }, table,
      el('p', { class: 'note' }, 'f1, f2 and the photoabsorption: ' + source + ', f_table = ' + x.f_table + '.')));
  }

  function xrayNote(text) {
    return el('div', {}, el('h2', { class: 'label' }, 'X-rays'), el('p', { class: 'note' }, text));
  }

  // An error that points into the formula (position, from 1) shows it with a
  // caret under that character; of a long formula the 200 characters around
  // it, as messages quote input.
  function errorBox(message, position, formula) {
    const box = el('div', { class: 'error', role: 'alert' }, message);
    if (position > 0) {
      const pos = position - 1;
      const from = formula.length > 200 ? Math.max(0, Math.min(pos - 100, formula.length - 200)) : 0;
      const before = from > 0 ? '...' : '';
      const after = from + 200 < formula.length ? '...' : '';
      const shown = before + formula.slice(from, from + 200) + after;
      box.append(el('div', { class: 'where' }, shown + '\n' + ' '.repeat(before.length + pos - from) + '^'));
    }
    return box;
  }

  function query() {
    const q = new URLSearchParams();
    for (const f of FIELDS) q.set(f, $(f).value);
    return '?' + q.toString().replace(/\+/g, '%20');
  }

  function update() {
    const v = Object.fromEntries(FIELDS.map((f) => [f, $(f).value]));
    const link = location.href.split(/[?#]/)[0] + query();
    $('share-link').href = link;
    try {
      history.replaceState(null, '', query());
    } catch (e) {
      // Some browsers keep file:// addresses as they are; the link above still holds the inputs.
    }
    const r = talvo.neutron(v.formula, v.density, v.thickness, v.wavelength);
    const messages = $('messages');
    messages.replaceChildren();
    const results = $('results');
    if (r.error) {
      messages.append(errorBox(r.error, r.position, v.formula));
      // The last results stay, faded, so that a half-typed formula does not blank the page.
      results.classList.add('stale');
      $('status').textContent = lastGood === null ? '' : 'Faded: the results of ' + lastGood + '.';
      $('json-link').removeAttribute('href');
      return;
    }
    for (const w of r.warnings) messages.append(el('div', { class: 'warning' }, 'warning: ' + w));
    for (const n of r.notes) messages.append(el('div', { class: 'info' }, 'note: ' + n));
    const rows = r.rows.map((s) => JSON.parse(s));
    const m = rows[0];
    const parts = [materialSection(m), neutronSections(m, rows.length > 1)];
    if (rows.length > 1) parts.push(plotSection(rows), sweepSection(rows));
    parts.push(elementsSection(m));
    const x = talvo.xray(v.formula, v.density, v.thickness, v.xray);
    if (!x.given) parts.push(xrayNote('Give an X-ray source (an anode such as Cu or Mo, or an energy in keV) for the X-ray values.'));
    else if (x.error) messages.append(el('div', { class: 'error xray' }, 'X-rays: ' + x.error));
    else parts.push(xraySections(JSON.parse(x.json)));
    results.replaceChildren(...parts);
    results.classList.remove('stale');
    lastGood = m.formula;
    $('status').textContent = rows.length > 1 ? rows.length + ' wavelengths.' : '';
    $('json-link').href = 'data:application/json;charset=utf-8,' + encodeURIComponent(r.json);
  }

  function start(module) {
    talvo = module;
    for (const f of JSON.parse(talvo.materialFields())) fieldUnits[f.scope + '.' + f.name] = f.unit_shown;
    for (const f of JSON.parse(talvo.xrayFields())) xrayFields[f.scope + '.' + f.name] = f;
    const q = new URLSearchParams(location.search);
    // defaultValue too, so that the page's markup (and a saved copy) shows the inputs.
    for (const f of FIELDS) if (q.has(f)) $(f).value = $(f).defaultValue = q.get(f);
    for (const f of FIELDS) $(f).addEventListener('input', update);
    $('json-link').addEventListener('click', (e) => {
      const href = $('json-link').getAttribute('href');
      if (!href || !navigator.clipboard) return;
      e.preventDefault();
      navigator.clipboard.writeText(decodeURIComponent(href.slice(href.indexOf(',') + 1)))
        .then(() => { $('status').textContent = 'JSON copied.'; },
              () => { $('status').textContent = 'The browser refused the clipboard: the link saves the JSON.'; });
    });
    update();
    document.body.setAttribute('data-ready-ms', performance.now().toFixed(1));
  }

  if (typeof TalvoModule !== 'function') {
    $('status').textContent = 'talvo-wasm.js is missing: build it with cmake --preset wasm && cmake --build --preset wasm.';
    return;
  }
  // The script compiles its WebAssembly as it loads (see web/CMakeLists.txt), so
  // the results are there by the page's load event; a build that compiles it
  // in the background hands back a promise instead.
  try {
    const module = TalvoModule();
    if (typeof module.then === 'function')
      module.then(start, (e) => { $('status').textContent = 'The calculator did not start: ' + e; });
    else
      start(module);
  } catch (e) {
    $('status').textContent = 'The calculator did not start: ' + e;
  }
})();
