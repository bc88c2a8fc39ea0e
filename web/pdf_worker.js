// The total-scattering view's Web Worker: the library (talvo-wasm.js) runs
// here, so that the page stays responsive while a pattern is reduced. The view
// starts it from a Blob holding talvoScript's text and this function's
// (web/pdf_view.js), since a page opened from disk may not start a worker from
// a file. Messages in:
//   {type: 'file', role: 'sample' | 'background', name, bytes}   bytes null: no background
//   {type: 'example'}                                           the built-in pattern as the sample
//   {type: 'reduce', id, options}                               options {name: text}
//   {type: 'files', id}                                         the files of the last reduction
// and out: {type: 'ready', example}, {type: 'loaded', role, name}, {type: 'result', id, result},
// {type: 'files', id, files}, {type: 'failed', message}.
function talvoPdfWorker() {
  'use strict';
  const FOLDERS = { sample: '/pdf/sample', background: '/pdf/background' };
  const EXAMPLE = 'zro2_mo.xy';
  let talvo;
  try {
    talvo = TalvoModule();
  } catch (e) {
    postMessage({ type: 'failed', message: 'The calculator did not start: ' + e });
    return;
  }
  const FS = talvo.FS;
  const files = { sample: null, background: null };
  const versions = { sample: 0, background: 0 };

  // A file the user opened, written where the library reads it (and the one before it removed).
  function put(role, name, bytes) {
    const folder = FOLDERS[role];
    if (files[role] !== null) FS.unlink(folder + '/' + files[role]);
    files[role] = null;
    if (bytes !== null) {
      FS.writeFile(folder + '/' + name, bytes);
      files[role] = name;
    }
    versions[role]++;
  }

  for (const folder of Object.values(FOLDERS)) FS.mkdirTree(folder);
  postMessage({ type: 'ready', example: EXAMPLE, exampleBytes: FS.readFile('/examples/' + EXAMPLE) });

  onmessage = (e) => {
    const m = e.data;
    if (m.type === 'file') {
      put(m.role, m.name, m.bytes === null ? null : new Uint8Array(m.bytes));
      postMessage({ type: 'loaded', role: m.role, name: m.bytes === null ? null : m.name, example: false });
    } else if (m.type === 'example') {
      put('sample', EXAMPLE, FS.readFile('/examples/' + EXAMPLE));
      postMessage({ type: 'loaded', role: 'sample', name: EXAMPLE, example: true });
    } else if (m.type === 'reduce') {
      const result = files.sample === null
        ? { error: 'open a pattern first', warnings: [] }
        : talvo.pdfReduce({ sample: files.sample, sampleVersion: versions.sample, background: files.background || '',
                            backgroundVersion: versions.background, options: m.options });
      const transfer = [];
      for (const key of ['iq', 'sq', 'fq', 'gr'])
        if (result[key]) for (const column of ['x', 'y', 'sigma']) transfer.push(result[key][column].buffer);
      if (result.model) transfer.push(result.model.buffer);
      postMessage({ type: 'result', id: m.id, result }, transfer);
    } else if (m.type === 'files') {
      postMessage({ type: 'files', id: m.id, files: talvo.pdfFiles() });
    }
  };
}
