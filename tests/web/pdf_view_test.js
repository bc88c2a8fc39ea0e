#!/usr/bin/env node
// The page's total-scattering view (index.html?view=pdf) in headless
// Chromium, driven through the DevTools protocol as a user drives it, against
// talvo-tools pdf with the same options:
// - opened with no file, it reduces its built-in example; its warnings are
//   talvo-tools' warnings;
// - qmax changed through its field: the .gr, .iq, .sq and .fq downloaded are
//   talvo-tools' numbers (relative 1e-12; their header lines the same text),
//   the address holds the settings, and the configuration downloaded reruns
//   in talvo-tools pdf --config to files whose settings are those lines;
// - a background opened with its file picker, its scale typed: talvo-tools' .gr with the same two;
// - a formula that is wrong shows talvo-tools' message, and the view recovers; an option the page cannot
//   carry out (--optimize) is refused;
// - an XRDML file dropped on the view (a DataTransfer the protocol makes of
//   the file) is reduced with the file's own wavelength, as talvo-tools does;
// - the address saved reopens the same reduction;
// - the page's files stay under 3 MB.
// Prints the time from each change of qmax to its plots (the target, 100 ms
// for a 3000-point pattern, is bench/web_pdf_bench.js's to hold).
// usage: pdf_view_test.js TALVO_TOOLS WEB_DIR DATA_DIR
// Exit status 77 (skipped) when Chromium or the built page is not there.
'use strict';
const { execFileSync, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Browser, findChromium } = require('./cdp.js');

const SKIP = 77;
const [tools, webDir, dataDir] = process.argv.slice(2).map((p) => path.resolve(p));
const failures = [];
function check(ok, what) {
  if (!ok) {
    failures.push(what);
    console.log('FAIL: ' + what);
  }
  return ok;
}

// The options the view sends for its example, as talvo-tools takes them.
const EXAMPLE_OPTIONS = ['--composition', 'ZrO2', '--density', '5.68', '--wavelength', '0.71073', '--mode', 'adhoc',
  '--rpoly', '0.9', '--qmin', '0', '--window', 'none', '--r', '0:30:0.01'];
// Its physical mode's fields.
const PHYSICAL_OPTIONS = ['--composition', 'ZrO2', '--density', '5.68', '--wavelength', '0.71073', '--mode', 'physical',
  '--geometry', 'capillary', '--mu-r', '1.25', '--qmin', '0', '--window', 'none', '--r', '0:30:0.01'];

// A header's setting line (the lines --config reads).
const SETTING = /^# [a-z0-9-]+ = /;

function tool(dir, args) {
  const r = spawnSync(tools, ['pdf', ...args], { cwd: dir, encoding: 'utf8' });
  return { status: r.status, stdout: r.stdout, stderr: r.stderr };
}

// {header: [lines], rows: [[numbers]]} of a file of talvo-tools pdf.
function parse(text) {
  const header = [], rows = [];
  for (const line of text.split('\n')) {
    if (line.startsWith('#')) header.push(line);
    else if (line.trim() !== '') rows.push(line.trim().split(' ').map(Number));
  }
  return { header, rows };
}

// The settings lines must be the same text; the notes' numbers and each column within a relative 1e-12 of
// the column's largest value (the page's WebAssembly computes with another libm than the native build, whose
// last-bit differences weigh most where a curve crosses zero).
function compareFiles(what, page, native) {
  const a = parse(page), b = parse(native);
  const settings = (h) => h.filter((l) => SETTING.test(l));
  check(settings(a.header).join('\n') === settings(b.header).join('\n'),
    `${what}: the settings differ:\n${settings(a.header).join('\n')}\nvs\n${settings(b.header).join('\n')}`);
  check(a.header.length === b.header.length, `${what}: ${a.header.length} header lines, talvo-tools ${b.header.length}`);
  for (let i = 0; i < Math.min(a.header.length, b.header.length); i++)
    if (!SETTING.test(a.header[i]))
      check(sameWords(a.header[i], b.header[i]), `${what}: header line ${i + 1}: ${a.header[i]} vs ${b.header[i]}`);
  if (!check(a.rows.length === b.rows.length, `${what}: ${a.rows.length} rows, talvo-tools ${b.rows.length}`)) return;
  const scale = b.rows[0].map((_, c) => Math.max(...b.rows.map((r) => Math.abs(r[c]))));
  let worst = 0, where = '';
  for (let i = 0; i < a.rows.length; i++)
    for (let c = 0; c < b.rows[i].length; c++) {
      const d = Math.abs(a.rows[i][c] - b.rows[i][c]) / Math.max(scale[c], 1e-300);
      if (!(d <= worst)) { worst = d; where = `row ${i + 1} column ${c + 1}: ${a.rows[i][c]} vs ${b.rows[i][c]}`; }
    }
  check(worst <= 1e-12, `${what}: relative difference ${worst} at ${where}`);
  return worst;
}

// The same words, and numbers within a relative 1e-12.
function sameWords(a, b) {
  const number = /-?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:e[-+]?[0-9]+)?/g;
  const na = a.match(number) || [], nb = b.match(number) || [];
  return a.replace(number, 'N') === b.replace(number, 'N') && na.length === nb.length &&
    na.every((v, j) => Math.abs(v - nb[j]) <= 1e-12 * Math.max(Math.abs(v), Math.abs(nb[j])));
}

async function main() {
  const chromium = findChromium();
  if (!chromium) return skip('chromium is not installed (scripts/install-deps.sh --web)');
  if (!fs.existsSync(path.join(webDir, 'talvo-wasm.js')))
    return skip('web/talvo-wasm.js is not built (cmake --preset wasm && cmake --build --preset wasm)');
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'talvo-pdf-view.'));
  const downloads = path.join(tmp, 'downloads');
  const work = path.join(tmp, 'work');
  fs.mkdirSync(downloads);
  fs.mkdirSync(work);
  fs.copyFileSync(path.join(webDir, 'examples', 'zro2_mo.xy'), path.join(work, 'zro2_mo.xy'));
  const browser = new Browser(chromium);
  try {
    await run(browser, downloads, work);
  } finally {
    await browser.close();
    fs.rmSync(tmp, { recursive: true, force: true });
  }
  if (failures.length) {
    console.log(`${failures.length} failure(s)`);
    return 1;
  }
  console.log('the total-scattering view reduces as talvo-tools pdf does');
  return 0;
}

function skip(why) {
  console.log('skipped: ' + why);
  return SKIP;
}

async function run(browser, downloads, work) {
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
  const page = await browser.page();
  const base = 'file://' + path.join(webDir, 'index.html');
  const state = () => page.evaluate(`(() => { const v = document.getElementById('pdf-view');
    return v ? { ...v.dataset } : null; })()`);
  // Settled: the newest request answered (plots or an error) and, after a success, its files ready.
  const settled = async () => {
    await page.waitFor(`(() => { const v = document.getElementById('pdf-view');
      return v && v.dataset.request && (v.dataset.state === 'error' ||
        (v.dataset.state === 'done' && v.dataset.files === v.dataset.request)); })()`);
    return state();
  };
  // A field's text replaced as typed; back once the view has taken the change.
  const type = async (key, text) => {
    const before = (await state()).request;
    await page.evaluate(`(() => { const e = document.getElementById('pdf-${key}'); e.focus(); e.select(); })()`);
    if (text === '') {
      for (const type of ['rawKeyDown', 'keyUp'])
        await page.send('Input.dispatchKeyEvent', { type, key: 'Backspace', code: 'Backspace', windowsVirtualKeyCode: 8 });
    } else {
      await page.send('Input.insertText', { text });
    }
    await page.waitFor(`document.getElementById('pdf-view').dataset.request !== ${JSON.stringify(before)}`);
  };
  // Downloads complete as soon as they begin (small files): every completion is kept from the start.
  const completed = new Set(), waiting = new Map();
  browser.listeners.add((m) => {
    if (m.method !== 'Browser.downloadProgress' || m.params.state !== 'completed') return;
    completed.add(m.params.guid);
    if (waiting.has(m.params.guid)) waiting.get(m.params.guid)();
  });
  // A download link clicked with the mouse (a script's clicks count as automatic downloads, which the
  // browser stops after a few).
  // A choice of a select, as picking it with the mouse or the keyboard does.
  const choose = async (key, value) => {
    const before = (await state()).request;
    await page.evaluate(`(() => { const e = document.getElementById('pdf-${key}'); e.value = ${JSON.stringify(value)};
      e.dispatchEvent(new Event('change', { bubbles: true })); })()`);
    await page.waitFor(`document.getElementById('pdf-view').dataset.request !== ${JSON.stringify(before)}`);
  };
  const download = async (name) => {
    const begin = browser.event('Browser.downloadWillBegin', (p) => p.suggestedFilename === name);
    const at = await page.evaluate(`(() => { const a = [...document.querySelectorAll('#pdf-downloads a')]
      .find((a) => a.getAttribute('download') === ${JSON.stringify(name)}); if (!a) return null;
      a.scrollIntoView({ block: 'center' }); const r = a.getBoundingClientRect();
      return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
    if (!check(at !== null, `no download link for ${name}`)) return '';
    for (const type of ['mousePressed', 'mouseReleased'])
      await page.send('Input.dispatchMouseEvent', { type, x: at.x, y: at.y, button: 'left', clickCount: 1 });
    const { guid } = await begin;
    if (!completed.has(guid))
      await new Promise((resolve, reject) => {
        waiting.set(guid, resolve);
        setTimeout(() => reject(new Error(`the download of ${name} did not complete`)), 60000);
      });
    return fs.readFileSync(path.join(downloads, guid), 'utf8');
  };

  // The example, with no file opened.
  await page.send('Page.navigate', { url: base + '?view=pdf' });
  let s = await settled();
  check(s.state === 'done' && s.pattern === 'zro2_mo.xy', `the example is not reduced on opening: ${JSON.stringify(s)}`);
  const panels = await page.evaluate(`[...document.querySelectorAll('svg[data-panel]')].map((p) =>
    p.dataset.panel + ':' + [...p.querySelectorAll('polyline')].map((l) => l.getAttribute('class') + '=' +
    l.getAttribute('points').split(' ').length).join(','))`);
  check(panels.length === 4 && ['iq:data', 'sq:data', 'fq:data', 'gr:data'].every((p, i) => panels[i].startsWith(p)),
    `the four plots: ${panels}`);
  check(/model=\d{2,}/.test(panels[0]) && /density-line=\d{2,}/.test(panels[3]),
    `I(Q) without the self scattering or G(r) without -4 pi rho0 r: ${panels}`);
  let native = tool(work, ['zro2_mo.xy', ...EXAMPLE_OPTIONS, '-o', 'example']);
  check(native.status === 0, 'talvo-tools on the example: ' + native.stderr);
  compareFiles('the example\'s .gr', await download('zro2_mo.gr'), fs.readFileSync(path.join(work, 'example.gr'), 'utf8'));
  const warnings = await page.evaluate(`[...document.querySelectorAll('#pdf-messages .warning')].map((w) => w.textContent)`);
  const nativeWarnings = native.stderr.split('\n').filter((l) => l).map((l) => l.replace(/^talvo-tools pdf: /, ''));
  check(JSON.stringify(warnings) === JSON.stringify(nativeWarnings),
    `the warnings shown ${JSON.stringify(warnings)} are not talvo-tools' ${JSON.stringify(nativeWarnings)}`);

  // qmax through its field; then the timing of a run of changes.
  await type('qmax', '14');
  s = await settled();
  check(s.state === 'done', 'qmax 14: ' + JSON.stringify(s));
  const address = await page.evaluate('location.href');
  check(/[?&]qmax=14(&|$)/.test(address) && /[?&]view=pdf(&|$)/.test(address), 'the address lacks the settings: ' + address);
  native = tool(work, ['zro2_mo.xy', ...EXAMPLE_OPTIONS, '--qmax', '14']);
  check(native.status === 0, 'talvo-tools --qmax 14: ' + native.stderr);
  // What the reduction found, beside the plots: talvo-tools' notes.
  const notes = await page.evaluate(`[...document.querySelectorAll('#pdf-notes li')].map((li) => '# ' + li.textContent)`);
  const nativeNotes = native.stdout.split('\n').filter((l) => l.startsWith('# ') && !l.startsWith('# wrote '));
  check(notes.length === nativeNotes.length && notes.every((n, i) => sameWords(n, nativeNotes[i])),
    `the notes shown ${JSON.stringify(notes)} are not talvo-tools' ${JSON.stringify(nativeNotes)}`);
  const gr14 = await download('zro2_mo.gr');
  const worst = compareFiles('qmax 14: .gr', gr14, fs.readFileSync(path.join(work, 'zro2_mo.gr'), 'utf8'));
  console.log(`qmax 14: .gr within ${worst} of talvo-tools (relative)`);
  for (const kind of ['iq', 'sq', 'fq']) {
    const d = compareFiles(`qmax 14: .${kind}`, await download('zro2_mo.' + kind),
      fs.readFileSync(path.join(work, 'zro2_mo.' + kind), 'utf8'));
    console.log(`qmax 14: .${kind} within ${d} of talvo-tools (relative)`);
  }
  const config = await download('zro2_mo.cfg');
  const rerun = path.join(work, 'rerun');
  fs.mkdirSync(rerun);
  fs.copyFileSync(path.join(work, 'zro2_mo.xy'), path.join(rerun, 'zro2_mo.xy'));
  fs.writeFileSync(path.join(rerun, 'zro2_mo.cfg'), config);
  const again = tool(rerun, ['--config', 'zro2_mo.cfg']);
  if (check(again.status === 0, 'talvo-tools pdf --config of the page\'s configuration: ' + again.stderr)) {
    const settingsOf = (text) => text.split('\n').filter((l) => SETTING.test(l)).join('\n');
    for (const kind of ['iq', 'sq', 'fq', 'gr']) {
      const text = fs.readFileSync(path.join(rerun, 'zro2_mo.' + kind), 'utf8');
      check(settingsOf(text) === settingsOf(config), `the rerun's .${kind} has other settings than the configuration`);
      check(text === fs.readFileSync(path.join(work, 'zro2_mo.' + kind), 'utf8'),
        `the rerun's .${kind} is not talvo-tools' file of the same options`);
    }
  }
  // The physical mode chosen: its geometry and mu R come in.
  await choose('mode', 'physical');
  s = await settled();
  check(s.state === 'done', 'the physical mode: ' + JSON.stringify(s));
  native = tool(work, ['zro2_mo.xy', ...PHYSICAL_OPTIONS, '--qmax', '14', '-o', 'physical']);
  check(native.status === 0, 'talvo-tools in the physical mode: ' + native.stderr);
  const physical = compareFiles('the physical mode: .gr', await download('zro2_mo.gr'),
    fs.readFileSync(path.join(work, 'physical.gr'), 'utf8'));
  console.log(`the physical mode: .gr within ${physical} of talvo-tools (relative)`);
  // Below the first Q: a line from S0, as talvo-tools --extrapolate linear --s0 draws it.
  await type('qmin', '1');
  await settled();
  await choose('extrapolate', 'linear');
  await settled();
  await type('s0', '0.1');
  s = await settled();
  check(s.state === 'done', 'the extrapolation below qmin: ' + JSON.stringify(s));
  native = tool(work, ['zro2_mo.xy', ...PHYSICAL_OPTIONS.filter((o, i, a) => o !== '--qmin' && a[i - 1] !== '--qmin'),
    '--qmin', '1', '--qmax', '14', '--extrapolate', 'linear', '--s0', '0.1', '-o', 'extrapolated']);
  check(native.status === 0, 'talvo-tools --extrapolate linear: ' + native.stderr);
  const low = await download('zro2_mo.gr');
  check(/^# extrapolate = linear$/m.test(low), 'the page did not extrapolate below qmin');
  const extrapolated = compareFiles('--extrapolate linear: .gr', low,
    fs.readFileSync(path.join(work, 'extrapolated.gr'), 'utf8'));
  console.log(`--extrapolate linear --s0 0.1: .gr within ${extrapolated} of talvo-tools (relative)`);
  await type('s0', '');
  await settled();
  await choose('extrapolate', 'none');
  await settled();
  await type('qmin', '0');
  await settled();
  await choose('mode', 'adhoc');
  s = await settled();

  const times = [];
  for (const q of ['13', '13.5', '14.5', '15', '15.5', '16', '12.5', '12', '11.5', '14']) {
    await type('qmax', q);
    s = await settled();
    check(s.state === 'done', `qmax ${q}: ${JSON.stringify(s)}`);
    times.push([Number(s.redrawMs), Number(s.reduceMs)]);
  }
  const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
  console.log(`qmax typed, 10 changes of the 5630-point example: drawn ${median(times.map((t) => t[0]))} ms after the ` +
    `change (median; ${times.map((t) => t[0]).join(' ')}), of which the reduction ${median(times.map((t) => t[1]))} ms`);

  // A background opened with its picker, and its scale typed: talvo-tools' numbers with the same two.
  const bg = Array.from({ length: 321 }, (_, i) => `${1 + 0.5 * i} ${1 + (i % 2)}`).join('\n') + '\n';
  fs.writeFileSync(path.join(work, 'empty.xy'), bg);
  const { root } = await page.send('DOM.getDocument', {});
  const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#pdf-background-file' });
  const before = s.request;
  await page.send('DOM.setFileInputFiles', { nodeId, files: [path.join(work, 'empty.xy')] });
  await page.waitFor(`document.getElementById('pdf-view').dataset.request !== ${JSON.stringify(before)}`);
  await settled();
  await type('bg-scale', '0.3');
  s = await settled();
  if (check(s.state === 'done', 'a background: ' + JSON.stringify(s))) {
    native = tool(work, ['zro2_mo.xy', ...EXAMPLE_OPTIONS, '--qmax', '14', '--background', 'empty.xy', '--bg-scale', '0.3',
      '-o', 'background']);
    check(native.status === 0, 'talvo-tools with the background: ' + native.stderr);
    const d = compareFiles('a background: .gr', await download('zro2_mo.gr'),
      fs.readFileSync(path.join(work, 'background.gr'), 'utf8'));
    console.log(`a background opened with its picker, scale 0.3: .gr within ${d} of talvo-tools (relative)`);
  }
  // A name with control characters is shown escaped, as the library's messages show input text.
  const odd = 'empty\u001b[31m\u202e.xy';
  fs.writeFileSync(path.join(work, odd), bg);
  const beforeOdd = s.request;
  await page.send('DOM.setFileInputFiles', { nodeId, files: [path.join(work, odd)] });
  await page.waitFor(`document.getElementById('pdf-view').dataset.request !== ${JSON.stringify(beforeOdd)}`);
  s = await settled();
  const oddShown = await page.evaluate(`document.getElementById('pdf-background-name').textContent`);
  check(oddShown === 'empty\\x1b[31m\\u202e.xy', 'a name with control characters shows as ' + JSON.stringify(oddShown));
  await page.evaluate(`document.getElementById('pdf-background-clear').click()`);
  await page.waitFor(`document.getElementById('pdf-background-name').textContent === 'none'`);
  s = await settled();

  // A wrong formula: talvo-tools' words, and the view comes back.
  await type('composition', 'Xx2O');
  s = await settled();
  const shown = await page.evaluate(`document.querySelector('#pdf-messages .error')?.textContent`);
  const refused = tool(work, ['zro2_mo.xy', ...EXAMPLE_OPTIONS.slice(2), '--composition', 'Xx2O', '--qmax', '14']);
  check(s.state === 'error' && refused.status !== 0 && shown === refused.stderr.trim().split('\n').pop().replace(/^talvo-tools pdf: /, ''),
    `a wrong formula shows ${JSON.stringify(shown)}, talvo-tools says ${JSON.stringify(refused.stderr)}`);
  check(await page.evaluate(`document.getElementById('pdf-plots').classList.contains('stale')`),
    'the plots of the last reduction are not marked stale');
  await type('composition', 'ZrO2');
  s = await settled();
  check(s.state === 'done', 'the view does not recover from the wrong formula: ' + JSON.stringify(s));
  // The Q range the reduction used, in six significant digits.
  const qUsed = await page.evaluate(`document.querySelector('#pdf-facts [data-key="q"]')?.textContent`);
  check(/^\d+(\.\d{1,5})? to \d+(\.\d{1,5})?$/.test(qUsed || '') && qUsed.replace(/[^0-9]/g, '').length <= 12,
    'the Q range is not shown in six digits: ' + qUsed);
  // The rest of the summary as talvo-tools --json gives it for the same reduction, six digits, a value with its
  // sigma; the Q range and mode are not shown twice.
  const line = JSON.parse(tool(work, ['zro2_mo.xy', ...EXAMPLE_OPTIONS.slice(2), '--composition', 'ZrO2', '--qmax', '14',
    '--json', '-o', 'summary_check']).stdout.trim().split('\n').pop());
  const facts = await page.evaluate(`Object.fromEntries([...document.querySelectorAll('#pdf-facts [data-key]')]
    .map((td) => [td.dataset.key, td.textContent]))`);
  const six = (v) => String(Number(v.toPrecision(6)));
  check(facts.normalization_constant === `${six(line.normalization_constant)} +- ${six(line.normalization_constant_sigma)}` &&
    facts.number_density === six(line.number_density) && facts.poly_degree === String(line.poly_degree) &&
    !('qmin' in facts) && !('normalization_constant_sigma' in facts),
    `the page's summary is not talvo-tools': ${JSON.stringify(facts)} against ${JSON.stringify(line)}`);
  // An option the page cannot carry out is refused, not passed over.
  await type('more', '--optimize mu-r');
  s = await settled();
  const refusal = await page.evaluate(`document.querySelector('#pdf-messages .error')?.textContent`);
  check(s.state === 'error' && /^--optimize is talvo-tools pdf's/.test(refusal || ''), 'the page took --optimize: ' + refusal);
  // A background named among the other options is not read as if absent.
  await type('more', '--background nonexistent.xy --bg-scale 0.8');
  s = await settled();
  const noBackground = await page.evaluate(`document.querySelector('#pdf-messages .error')?.textContent`);
  check(s.state === 'error' && /^--background is the page's own/.test(noBackground || ''),
    'the page reduced past a background it cannot read: ' + noBackground);
  await type('more', '--bg-scale 0.8');
  s = await settled();
  const noScale = await page.evaluate(`document.querySelector('#pdf-messages .error')?.textContent`);
  check(s.state === 'error' && /^--bg-scale scales the background/.test(noScale || ''),
    'the page took a background scale without a background: ' + noScale);
  await type('more', '');
  s = await settled();

  // An XRDML file dropped on the view: its own wavelength, the data's end as qmax.
  const xrdml = path.join(dataDir, 'xrdml', 'single_scan_counts.xrdml');
  await type('wavelength', '');
  await settled();
  await type('qmax', '');
  await settled();
  const box = await page.evaluate(`(() => { const r = document.getElementById('pdf-pattern').getBoundingClientRect();
    return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
  const data = { items: [], files: [xrdml], dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop'])
    await page.send('Input.dispatchDragEvent', { type, x: box.x, y: box.y, data });
  await page.waitFor(`document.getElementById('pdf-view').dataset.pattern === 'single_scan_counts.xrdml'`);
  s = await settled();
  if (check(s.state === 'done', 'the dropped XRDML file: ' + JSON.stringify(s) +
      await page.evaluate(`document.getElementById('pdf-messages').textContent`))) {
    fs.copyFileSync(xrdml, path.join(work, 'single_scan_counts.xrdml'));
    const options = EXAMPLE_OPTIONS.filter((o, i, a) => o !== '--wavelength' && a[i - 1] !== '--wavelength');
    native = tool(work, ['single_scan_counts.xrdml', ...options]);
    check(native.status === 0, 'talvo-tools on the XRDML file: ' + native.stderr);
    const d = compareFiles('the dropped XRDML file: .gr', await download('single_scan_counts.gr'),
      fs.readFileSync(path.join(work, 'single_scan_counts.gr'), 'utf8'));
    console.log(`an XRDML file dropped on the view: .gr within ${d} of talvo-tools (relative)`);
  }
  // A file too large for the page is refused in words before it is read, and the view stays usable.
  const huge = path.join(work, 'huge.xy');
  fs.writeFileSync(huge, '');
  fs.truncateSync(huge, 65 * 1048576);
  const hugeDrop = { items: [], files: [huge], dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop'])
    await page.send('Input.dispatchDragEvent', { type, x: box.x, y: box.y, data: hugeDrop });
  await page.waitFor(`/huge\\.xy is 65 MB: the page reads files up to 64 MB/.test(
    document.querySelector('#pdf-messages .error')?.textContent || '')`);
  check(await page.evaluate(`document.getElementById('pdf-view').dataset.pattern`) === 'single_scan_counts.xrdml',
    'a refused file took the pattern\'s name');
  await type('composition', 'O2Zr');
  s = await settled();
  check(s.state === 'done', 'the view is not usable after a file too large: ' + JSON.stringify(s));
  await type('composition', 'ZrO2');
  await settled();

  // The address saved reopens the same settings: on the example, the same .gr.
  await page.send('Page.navigate', { url: address });
  s = await settled();
  check(await page.evaluate(`document.getElementById('pdf-qmax').value`) === '14', 'the saved address lost qmax');
  check(s.state === 'done' && await download('zro2_mo.gr') === gr14, 'the saved address does not give the same .gr');

  let size = 0;
  for (const f of ['index.html', 'style.css', 'page.js', 'pdf_view.css', 'pdf_view.js', 'pdf_worker.js', 'talvo-wasm.js'])
    size += fs.statSync(path.join(webDir, f)).size;
  console.log(`the page: ${(size / 1048576).toFixed(2)} MB`);
  check(size < 3 * 1048576, `the page is ${size} bytes, more than 3 MB`);
}

main().then((code) => process.exit(code), (e) => {
  console.log('FAIL: ' + (e && e.stack || e));
  process.exit(1);
});
