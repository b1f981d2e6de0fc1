'use strict';
// The host side of BenchEvents: node.exe loads the proxy DLL through koffi
// the way the Node.js host does, attaches the keyboard BenchEvents
// published, and counts the events that reach JS in modes 0, 1 and 2 while
// a writer process of BenchEvents floods the device's data pipe. Beside
// them it measures a no-op koffi callback called from one native thread:
// every event of modes 0 and 2 takes that same way into JS.
//
// Started by BenchEvents with these variables:
//   KALEO_BENCH_DLL        the proxy DLL
//   KALEO_BENCH_PID        the keyboard's pid, KALEO_BENCH_CONTAINER its container id
//   KALEO_BENCH_READY      event this script sets when a mode is ready for the writer
//   KALEO_BENCH_DONE       event BenchEvents sets when that writer has ended
// Each figure goes to stdout as one line "RESULT {json}"; stdout is a file
// (node under Wine fails on a pipe).
const koffi = require('koffi');

const MODES = [0, 1, 2];
const POLL_MS = 40; // mode 1: the host polls at the batch timer's pace
const QUIET_MS = 300; // a mode ends once no event came for this long after the writer
const WAIT_LIMIT_MS = 60000;
const NOOP_MS = 800;
const EVENT_MODIFY_STATE = 0x0002;
const SYNCHRONIZE = 0x00100000;
const WAIT_OBJECT_0 = 0;

const kernel32 = koffi.load('kernel32.dll');
const ole32 = koffi.load('ole32.dll');
const win = {
  OpenEventW: kernel32.func('void *OpenEventW(uint32_t access, int inherit, const char16_t *name)'),
  SetEvent: kernel32.func('int SetEvent(void *event)'),
  WaitForSingleObject: kernel32.func('uint32_t WaitForSingleObject(void *handle, uint32_t ms)'),
  CloseHandle: kernel32.func('int CloseHandle(void *handle)'),
  CoTaskMemFree: ole32.func('void CoTaskMemFree(void *block)'),
};

// The no-op baseline: EnumSystemLocalesEx calls its callback once per
// locale, passing our lParam each time; run through koffi's async form it
// runs on a native worker thread, so every call crosses into JS as a
// reader thread's event does. lParam is a 200-byte text, like an event.
const LocaleProc = koffi.proto('int LocaleProc(const char16_t *name, uint32_t flags, const char *text)');
const EnumSystemLocalesEx = kernel32.func(
  'int EnumSystemLocalesEx(LocaleProc *proc, uint32_t flags, void *text, void *reserved)');

const EventCallback = koffi.proto('void EventCallback(const char *text)');

function report(result) {
  console.log('RESULT ' + JSON.stringify(result));
}

function now() {
  return Number(process.hrtime.bigint()) / 1e6;
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Resolves once test() holds, checking every few milliseconds (the checks
// keep the event loop, and so koffi's queued callbacks, running).
async function until(test, limitMs, what) {
  const deadline = now() + limitMs;
  while (!test()) {
    if (now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(5);
  }
}

// Stamped messages in a text: one for a single event, n for a batch.
function countStamps(text) {
  let count = 0;
  for (let at = text.indexOf('"ts":'); at >= 0; at = text.indexOf('"ts":', at + 5)) count++;
  return count;
}

// One native thread calling the no-op for NOOP_MS; measured before each
// mode, so that a disturbed moment of a shared machine does not make the
// baseline.
async function measureNoopNative(proc, text) {
  noopCalls = 0;
  const enumerate = () => new Promise((resolve, reject) =>
    EnumSystemLocalesEx.async(proc, 0, text, null, (err, ok) => (err ? reject(err) : resolve(ok))));
  const start = now();
  while (now() - start < NOOP_MS) await enumerate();
  report({ phase: 'noop-native-thread', calls: noopCalls, seconds: (now() - start) / 1000 });
}

// The same callback called on the main thread: what crossing threads adds.
function measureNoopMain(proc, text) {
  noopCalls = 0;
  const start = now();
  while (now() - start < NOOP_MS / 3) EnumSystemLocalesEx(proc, 0, text, null);
  report({ phase: 'noop-main-thread', calls: noopCalls, seconds: (now() - start) / 1000 });
}

let noopCalls = 0;

class Proxy {
  constructor(dllPath) {
    this.lib = koffi.load(dllPath);
    this.api = {
      Init: this.lib.func('int Init()'),
      UnInit: this.lib.func('int UnInit()'),
      Invoke: this.lib.func('uint32_t Invoke(const char16_t *request, _Out_ void **response)'),
      SetNodeFFIEvent: this.lib.func('int SetNodeFFIEvent(EventCallback *callback)'),
      SetOperatingMode: this.lib.func('void SetOperatingMode(uint32_t mode)'),
      PollEvents: this.lib.func('void *PollEvents()'),
      FreeMalloc: this.lib.func('void FreeMalloc(void *block)'),
    };
  }

  invoke(request) {
    const out = [null];
    const code = this.api.Invoke(JSON.stringify(request), out);
    let text = '';
    if (out[0]) {
      text = koffi.decode(out[0], 'char16_t', -1);
      win.CoTaskMemFree(out[0]);
    }
    return { code, response: text ? JSON.parse(text) : null };
  }

  poll() {
    const block = this.api.PollEvents();
    if (!block) return '[]';
    try {
      return koffi.decode(block, 'char', -1);
    } finally {
      this.api.FreeMalloc(block);
    }
  }

  // A reader thread blocked in our callback would deadlock a synchronous
  // UnInit, which waits for the readers: the async form runs it on a worker
  // while the event loop keeps serving callbacks.
  unInit() {
    return new Promise((resolve, reject) =>
      this.api.UnInit.async((err, result) => (err ? reject(err) : resolve(result))));
  }
}

// The counter of the mode being measured; events between modes are not counted.
let current = null;

// Counts what reaches JS in one mode while the writer runs: deliveries
// (callbacks, or polls that returned events) and the events they carry.
// Rates are taken between the first and the last delivery, so the first
// delivery only opens the window.
class Counter {
  constructor() {
    this.deliveries = 0;
    this.events = 0;
    this.firstEvents = 0;
    this.first = 0;
    this.last = 0;
  }

  add(text) {
    const events = countStamps(text);
    if (events === 0) return;
    const t = now();
    if (!this.first) {
      this.first = t;
      this.firstEvents = events;
    }
    this.last = t;
    this.deliveries++;
    this.events += events;
  }

  result(mode) {
    return {
      phase: 'mode',
      mode,
      deliveries: Math.max(this.deliveries - 1, 0),
      events: this.events - this.firstEvents,
      seconds: (this.last - this.first) / 1000,
    };
  }
}

async function measureMode(proxy, mode, ready, done) {
  const counter = new Counter();
  current = counter;
  proxy.api.SetOperatingMode(mode);
  let poller = null;
  if (mode === 1) {
    poller = setInterval(() => counter.add(proxy.poll()), POLL_MS);
  }
  win.SetEvent(ready);
  await until(() => win.WaitForSingleObject(done, 0) === WAIT_OBJECT_0, WAIT_LIMIT_MS, `the writer of mode ${mode}`);
  await until(() => now() - Math.max(counter.last, 0) > QUIET_MS, WAIT_LIMIT_MS, `the last events of mode ${mode}`);
  if (poller) clearInterval(poller);
  current = null;
  report(counter.result(mode));
}

function onEvent(text) {
  if (current) current.add(text);
}

async function main() {
  const env = process.env;
  const ready = win.OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, 0, env.KALEO_BENCH_READY);
  const done = win.OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, 0, env.KALEO_BENCH_DONE);
  if (!ready || !done) throw new Error('cannot open the events of BenchEvents');
  const proxy = new Proxy(env.KALEO_BENCH_DLL);
  const callback = koffi.register(onEvent, koffi.pointer(EventCallback));
  const noop = koffi.register(() => { noopCalls++; return 1; }, koffi.pointer(LocaleProc));
  const text = Buffer.from('x'.repeat(200) + '\0');
  // Callbacks from the proxy's threads run only while the loop is alive.
  const keepAlive = setInterval(() => {}, 1000);
  try {
    measureNoopMain(noop, text);

    const found = proxy.api.Init();
    const attach = proxy.invoke({
      func: 'AddDevice',
      param: { pid: Number(env.KALEO_BENCH_PID), containerId: env.KALEO_BENCH_CONTAINER },
    });
    if (found < 1 || !attach.response || attach.response.result !== 0) {
      throw new Error(`Init found ${found} devices; AddDevice answered ${JSON.stringify(attach.response)}`);
    }
    proxy.api.SetNodeFFIEvent(callback);
    for (const mode of MODES) {
      await measureNoopNative(noop, text);
      await measureMode(proxy, mode, ready, done);
    }
  } finally {
    // Mode 0 and no callback before the readers stop and the DLL goes.
    proxy.api.SetOperatingMode(0);
    proxy.api.SetNodeFFIEvent(null);
    const start = now();
    const removed = await proxy.unInit();
    report({ phase: 'uninit', removed, ms: now() - start });
    proxy.lib.unload();
    koffi.unregister(callback);
    koffi.unregister(noop);
    win.CloseHandle(ready);
    win.CloseHandle(done);
    clearInterval(keepAlive);
  }
}

main().catch((err) => {
  console.log(`error: ${err.stack || err}`);
  process.exitCode = 1;
});
