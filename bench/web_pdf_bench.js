#!/usr/bin/env node
// How soon the page's total-scattering view redraws after a change, in
// headless Chromium, with the view's own settings (ad hoc mode): a 3000-point pattern (the example ZrO2 pattern
// interpolated onto 3000 equally spaced 2theta over its whole range) opened
// through the file picker, then qmax typed N times; for each change the time
// from the input event to the first frame with the new plots (the view's
// data-redraw-ms), and within it the reduction in the worker (data-reduce-ms).
// The floor: the same reduction by the native library in its own process
// (the Python module's pdf(), which reads the file and reduces it), the same
// work without WebAssembly, a worker or drawing.
// The target: every change drawn within 100 ms.
// usage: node bench/web_pdf_bench.js [PYTHON_PACKAGE_DIR] [WEB_DIR] [--runs N]
//   PYTHON_PACKAGE_DIR: the folder holding the built talvo package (build/python)
'use strict';
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Browser, findChromium } = require('../tests/web/cdp.js');

const args = process.argv.slice(2);
let runs = 20;
if (args.includes('--runs')) runs = Number(args.splice(args.indexOf('--runs'), 2)[1]);
const root = path.join(__dirname, '..');
const pythonPath = path.resolve(args[0] || path.join(root, 'build', 'python'));
const webDir = path.resolve(args[1] || path.join(root, 'web'));

function pattern3000() {
  const rows = fs.readFileSync(path.join(webDir, 'examples', 'zro2_mo.xy'), 'utf8').trim().split('\n')
    .map((l) => l.trim().split(/\s+/).map(Number));
  const lo = rows[0][0], hi = rows[rows.length - 1][0], n = 3000;
  const out = [];
  for (let i = 0, j = 0; i < n; i++) {
    const x = lo + (hi - lo) * i / (n - 1);
    while (j + 2 < rows.length && rows[j + 1][0] < x) j++;
    const t = Math.min(1, Math.max(0, (x - rows[j][0]) / (rows[j + 1][0] - rows[j][0])));
    out.push(`${x} ${rows[j][1] + t * (rows[j + 1][1] - rows[j][1])}`);
  }
  return out.join('\n') + '\n';
}

const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];

async function main() {
  const chromium = findChromium();
  if (!chromium || !fs.existsSync(path.join(webDir, 'talvo-wasm.js')))
    throw new Error('needs chromium and a built web/talvo-wasm.js (cmake --preset wasm && cmake --build --preset wasm)');
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'talvo-pdf-bench.'));
  const file = path.join(tmp, 'zro2_3000.xy');
  fs.writeFileSync(file, pattern3000());
  const browser = new Browser(chromium);
  try {
    const page = await browser.page();
    const state = () => page.evaluate(`({ ...document.getElementById('pdf-view').dataset })`);
    const settled = () => page.waitFor(`(() => { const v = document.getElementById('pdf-view');
      return v && v.dataset.request && v.dataset.state === 'done' && v.dataset.files === v.dataset.request; })()`);
    await page.send('Page.navigate', { url: 'file://' + path.join(webDir, 'index.html') + '?view=pdf' });
    await settled();
    const { root: doc } = await page.send('DOM.getDocument', {});
    const { nodeId } = await page.send('DOM.querySelector', { nodeId: doc.nodeId, selector: '#pdf-file' });
    await page.send('DOM.setFileInputFiles', { nodeId, files: [file] });
    await page.waitFor(`document.getElementById('pdf-view').dataset.pattern === 'zro2_3000.xy'`);
    await settled();
    const drawn = [], reduced = [];
    for (let i = 0; i < runs; i++) {
      const before = (await state()).request;
      await page.evaluate(`(() => { const e = document.getElementById('pdf-qmax'); e.focus(); e.select(); })()`);
      await page.send('Input.insertText', { text: String(12 + (i % 9) * 0.5) });
      await page.waitFor(`document.getElementById('pdf-view').dataset.request !== ${JSON.stringify(before)}`);
      await settled();
      const s = await state();
      drawn.push(Number(s.redrawMs));
      reduced.push(Number(s.reduceMs));
    }
    // The floor: the median of as many in-process reductions (after one to warm up), or nothing without
    // the module.
    const floor = spawnSync('/usr/bin/python3', ['-c', `
import statistics, sys, time, talvo
times = []
for i in range(${runs + 1}):
    start = time.perf_counter()
    talvo.pdf(sys.argv[1], "ZrO2", format="twotheta", density=5.68, wavelength=0.71073, mode="adhoc", rpoly=0.9,
              qmin=0, window="none", qmax=12 + (i % 9) * 0.5)
    times.append(1000 * (time.perf_counter() - start))
print(statistics.median(times[1:]))
`, file], { env: { ...process.env, PYTHONPATH: pythonPath }, encoding: 'utf8' });
    console.log(`3000-point pattern, qmax typed ${runs} times (target: drawn within 100 ms)`);
    console.log(`  drawn after the change: median ${median(drawn).toFixed(1)} ms, worst ${Math.max(...drawn).toFixed(1)} ms`);
    console.log(`  of which the reduction in the worker (WebAssembly): median ${median(reduced).toFixed(1)} ms`);
    console.log(floor.status === 0
      ? `  floor, the native library on the same file (talvo.pdf, in-process): median ${Number(floor.stdout).toFixed(1)} ms`
      : `  floor: not measured, the Python module is not in ${pythonPath} (${floor.stderr.trim().split('\n').pop()})`);
  } finally {
    await browser.close();
    fs.rmSync(tmp, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e && e.stack || e);
  process.exit(1);
});
