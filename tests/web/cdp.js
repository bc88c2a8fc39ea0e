// A headless Chromium driven through its DevTools protocol over a pipe
// (--remote-debugging-pipe: commands on the browser's fd 3, answers and
// events on its fd 4, each message JSON ended by a NUL): enough of the
// protocol for the page's tests and benchmarks, with no package beyond node.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

function findChromium() {
  for (const dir of (process.env.PATH || '').split(':')) {
    for (const name of ['chromium', 'chromium-browser']) {
      const p = path.join(dir, name);
      try {
        fs.accessSync(p, fs.constants.X_OK);
        return p;
      } catch (e) {
        // not here
      }
    }
  }
  return null;
}

class Browser {
  // A fresh profile; --no-sandbox because tests may run as root, where Chromium refuses its sandbox.
  constructor(chromium) {
    this.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'talvo-chromium.'));
    this.proc = spawn(chromium, ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--no-default-browser-check', '--remote-debugging-pipe', `--user-data-dir=${this.profile}`, 'about:blank'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    this.stderr = '';
    this.proc.stdio[2].on('data', (d) => { this.stderr = (this.stderr + d).slice(-4000); });
    this.next = 0;
    this.waiting = new Map();
    this.listeners = new Set();
    let held = Buffer.alloc(0);
    this.proc.stdio[4].on('data', (chunk) => {
      held = Buffer.concat([held, chunk]);
      for (let end; (end = held.indexOf(0)) >= 0; held = held.subarray(end + 1)) this.dispatch(JSON.parse(held.subarray(0, end)));
    });
    this.exited = new Promise((resolve) => this.proc.on('exit', resolve));
    this.proc.on('exit', (code) => {
      for (const { reject } of this.waiting.values()) reject(new Error(`chromium exited (${code}): ${this.stderr}`));
      this.waiting.clear();
    });
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const w = this.waiting.get(message.id);
      this.waiting.delete(message.id);
      if (!w) return;
      if (message.error) w.reject(new Error(`${w.method}: ${message.error.message}`));
      else w.resolve(message.result);
    } else {
      for (const l of this.listeners) l(message);
    }
  }

  send(method, params = {}, sessionId = undefined) {
    const id = ++this.next;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject, method });
      this.proc.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // The next event of that method (and session) for which test() holds.
  event(method, test = () => true, timeoutMs = 60000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.listeners.delete(listen);
        reject(new Error(`no ${method} within ${timeoutMs} ms`));
      }, timeoutMs);
      const listen = (m) => {
        if (m.method === method && test(m.params, m)) {
          clearTimeout(timer);
          this.listeners.delete(listen);
          resolve(m.params);
        }
      };
      this.listeners.add(listen);
    });
  }

  // A new tab: {send(method, params), evaluate(expression), waitFor(expression)}.
  async page() {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const send = (method, params) => this.send(method, params, sessionId);
    const evaluate = async (expression) => {
      const r = await send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
      if (r.exceptionDetails) throw new Error(`${expression}: ${JSON.stringify(r.exceptionDetails)}`);
      return r.result.value;
    };
    const waitFor = async (expression, timeoutMs = 60000) => {
      const until = Date.now() + timeoutMs;
      for (;;) {
        const v = await evaluate(expression);
        if (v) return v;
        if (Date.now() > until) throw new Error(`waited ${timeoutMs} ms for ${expression}`);
        await new Promise((r) => setTimeout(r, 20));
      }
    };
    await send('Page.enable');
    await send('Runtime.enable');
    return { send, evaluate, waitFor, sessionId };
  }

  async close() {
    try {
      await Promise.race([this.send('Browser.close'), new Promise((r) => setTimeout(r, 5000))]);
    } catch (e) {
      // already gone
    }
    if (this.proc.exitCode === null) this.proc.kill();
    await this.exited;
    // Chromium's helper processes may still be writing its profile for a moment after the browser ends.
    for (let attempt = 0; ; ++attempt) {
      try {
        fs.rmSync(this.profile, { recursive: true, force: true });
        break;
      } catch (e) {
        if (attempt >= 50) {
          console.error(`left the browser's profile ${this.profile}: ${e.message}`);
          break;
        }
        await new Promise((r) => setTimeout(r, 100));
      }
    }
  }
}

module.exports = { Browser, findChromium };
