'use strict';
// The demo's Node.js host: loads the proxy, attaches the devices named on the
// command line, runs the device-side command lines that feed their data
// pipes, and prints one line per step and per event until it detaches.
//
//   node kaleo-host.js [--dll <proxy DLL>] [--hid <pid>:<containerId>]...
//       [--app <pid>:<index>]... [--hue <id>]... [--mode 0|1|2] [--poll-ms <ms>]
//       [--device-side "<command line>"]... [--toggle <handle>]...
//       [--seconds <s>] [--event-lines <n>]
//
// The run: mode, Init, attach, start the device-side commands, (mode 1) poll
// every --poll-ms, switch each --toggle handle off at a third of --seconds and
// on again at two thirds, wait for --seconds and for the commands, detach,
// UnInit. Exit code 0 when every step succeeded, 1 when one failed, 2 on a
// usage error.
const { parseArgs } = require('node:util');
const { spawn } = require('node:child_process');

const { KaleoProxy, KaleoProxyError, MODE, PID, eventKind, messagesOf } = require('./kaleoProxy');

const USAGE = 'usage: node kaleo-host.js [--dll <proxy DLL>] [--hid <pid>:<containerId>]... ' +
  '[--app <pid>:<index>]... [--hue <id>]... [--mode 0|1|2] [--poll-ms <ms>] ' +
  '[--device-side "<command line>"]... [--toggle <handle>]... [--seconds <s>] [--event-lines <n>]';
const COMMAND_GRACE_MS = 30000; // how long device-side commands may outlive --seconds
const PRINTED_JSON = 160; // characters of a message shown on an event line
const PRINTED_COMMAND = 120; // characters of a device-side command line shown

class UsageError extends Error {}

// Decimal or 0x-prefixed hexadecimal, within the 32-bit range the proxy takes.
function parseInteger(text, what) {
  const value = /^-?0x[0-9a-f]+$/i.test(text) ? Number.parseInt(text, 16)
    : /^-?[0-9]+$/.test(text) ? Number.parseInt(text, 10) : Number.NaN;
  if (!Number.isSafeInteger(value) || value < -0x80000000 || value > 0x7fffffff) {
    throw new UsageError(`${what}: "${text}" is not a 32-bit integer`);
  }
  return value;
}

function splitPair(text, what) {
  const colon = text.indexOf(':');
  if (colon <= 0 || colon === text.length - 1) throw new UsageError(`${what}: expected <pid>:<value>, got "${text}"`);
  return [text.slice(0, colon), text.slice(colon + 1)];
}

// A path as node.exe sees it: under Wine, / is drive Z:.
function toWindowsPath(path) {
  if (process.platform === 'win32' && path.startsWith('/')) return `Z:${path.replace(/\//g, '\\')}`;
  return path;
}

function parseOptions(argv) {
  const { values } = parseArgs({
    args: argv,
    options: {
      dll: { type: 'string' },
      hid: { type: 'string', multiple: true, default: [] },
      app: { type: 'string', multiple: true, default: [] },
      hue: { type: 'string', multiple: true, default: [] },
      mode: { type: 'string', default: '0' },
      'poll-ms': { type: 'string', default: '100' },
      'device-side': { type: 'string', multiple: true, default: [] },
      toggle: { type: 'string', multiple: true, default: [] },
      seconds: { type: 'string', default: '5' },
      'event-lines': { type: 'string', default: '200' },
      help: { type: 'boolean', default: false },
    },
  });
  if (values.help) return { help: true };
  const devices = [
    ...values.hid.map((text) => {
      const [pid, containerId] = splitPair(text, '--hid');
      return { kind: 'hid', pid: parseInteger(pid, '--hid pid'), containerId };
    }),
    ...values.app.map((text) => {
      const [pid, index] = splitPair(text, '--app');
      return { kind: 'app', pid: parseInteger(pid, '--app pid'), index: parseInteger(index, '--app index') };
    }),
    ...values.hue.map((id) => ({ kind: 'hue', pid: PID.HUE_BULB, id: parseInteger(id, '--hue') })),
  ];
  const mode = parseInteger(values.mode, '--mode');
  if (!Object.values(MODE).includes(mode)) throw new UsageError('--mode must be 0, 1 or 2');
  const pollMs = parseInteger(values['poll-ms'], '--poll-ms');
  if (pollMs < 1) throw new UsageError('--poll-ms must be at least 1');
  const seconds = Number(values.seconds);
  if (!Number.isFinite(seconds) || seconds < 0) throw new UsageError('--seconds must be a number of seconds');
  const eventLines = parseInteger(values['event-lines'], '--event-lines');
  const dll = values.dll ?? process.env.KALEO_PROXY_DLL;
  if (!dll) throw new UsageError('no proxy DLL: pass --dll or set KALEO_PROXY_DLL');
  return {
    help: false,
    dll: toWindowsPath(dll),
    devices,
    mode,
    pollMs,
    commands: values['device-side'],
    toggles: values.toggle.map((text) => parseInteger(text, '--toggle')),
    seconds,
    eventLines: Math.max(0, eventLines),
  };
}

function describeDevice(device) {
  if (device.kind === 'hid') return `hid pid=0x${device.pid.toString(16)} containerId=${device.containerId}`;
  if (device.kind === 'app') return `app pid=${device.pid} index=${device.index}`;
  return `hue id=${device.id}`;
}

function attach(proxy, device) {
  if (device.kind === 'hid') return proxy.addHidDevice(device.pid, device.containerId);
  if (device.kind === 'app') return proxy.addAccessoryApp(device.pid, device.index);
  return proxy.addHueBulb(device.id);
}

function describeFailure(err) {
  if (err instanceof KaleoProxyError) return `error ${err.result} (${err.message})`;
  return `error (${err.message})`;
}

const keyOf = (message) => `${message.device_handle}/${message.linkDeviceSeqId ?? 0}`;
const clip = (text, length = PRINTED_JSON) => (text.length > length ? `${text.slice(0, length)}...` : text);

// Counts events and prints one line each, up to the configured number.
class EventPrinter {
  callbacks = 0;
  messages = 0;
  batches = 0;
  batchMessages = 0;
  #printed = 0;
  #limit;

  constructor(limit) {
    this.#limit = limit;
  }

  onEvent(event) {
    ++this.callbacks;
    const kind = eventKind(event);
    const messages = messagesOf(event);
    this.messages += messages.length;
    if (kind === 'batch') {
      ++this.batches;
      this.batchMessages += messages.length;
      this.line(`event: batch of ${messages.length}: ${messages.map(keyOf).join(' ')}`);
    } else {
      const [message] = messages;
      this.line(`event: ${kind} handle=${message?.device_handle} seq=${message?.linkDeviceSeqId ?? '-'} ` +
        `eventId=${message?.eventId} ${clip(JSON.stringify(message ?? null))}`);
    }
  }

  line(text) {
    if (this.#printed < this.#limit) console.log(text);
    else if (this.#printed === this.#limit) console.log(`event: (more events are counted, not printed: --event-lines ${this.#limit})`);
    ++this.#printed;
  }
}

// Runs one device-side command line through the shell; resolves to its exit code.
function runDeviceSide(commandLine, children) {
  const shown = clip(commandLine, PRINTED_COMMAND);
  console.log(`device-side: start ${shown}`);
  return new Promise((resolve) => {
    const child = spawn(commandLine, { shell: true, windowsHide: true, stdio: ['ignore', 'pipe', 'pipe'] });
    children.add(child);
    const prefix = (stream) => {
      let rest = '';
      stream.setEncoding('utf8');
      stream.on('data', (chunk) => {
        const lines = (rest + chunk).split(/\r?\n/);
        rest = lines.pop();
        for (const line of lines) console.log(`device-side: | ${line}`);
      });
      stream.on('end', () => { if (rest) console.log(`device-side: | ${rest}`); });
    };
    prefix(child.stdout);
    prefix(child.stderr);
    child.on('error', (err) => {
      children.delete(child);
      console.log(`device-side: cannot start ${shown}: ${err.message}`);
      resolve(-1);
    });
    child.on('close', (code, signal) => {
      children.delete(child);
      console.log(`device-side: exit ${code ?? signal} ${shown}`);
      resolve(code ?? -1);
    });
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Resolves true when promise settles within ms, false otherwise.
function within(promise, ms) {
  let timer;
  return Promise.race([
    promise.then(() => true),
    new Promise((resolve) => { timer = setTimeout(() => resolve(false), ms); }),
  ]).finally(() => clearTimeout(timer));
}

function toggleAt(proxy, handles, enable) {
  let ok = true;
  for (const handle of handles) {
    try {
      const response = proxy.setDeviceState(enable, handle);
      console.log(`toggle: SetDeviceState enable=${enable} handle=${handle} -> ${response.message}`);
    } catch (err) {
      console.log(`toggle: SetDeviceState enable=${enable} handle=${handle} -> ${describeFailure(err)}`);
      ok = false;
    }
  }
  return ok;
}

function pollOnce(proxy, stats) {
  const events = proxy.pollEvents();
  ++stats.polls;
  stats.polled += events.length;
  if (events.length > 0) {
    console.log(`poll: ${events.length} event(s) after coalescing: ${events.map(keyOf).join(' ')}`);
  }
}

function printSummary(options, printer, pollStats, elapsedMs) {
  const seconds = elapsedMs / 1000;
  const perSecond = (n) => (seconds > 0 ? (n / seconds).toFixed(1) : '0');
  if (options.mode === MODE.BATCHED) {
    const average = printer.batches > 0 ? (printer.batchMessages / printer.batches).toFixed(1) : '0';
    console.log(`summary: mode 2: ${printer.batches} batch(es) of ${average} event(s) on average ` +
      `(${printer.batchMessages} in all), ${perSecond(printer.callbacks)} callbacks/s over ${seconds.toFixed(1)} s`);
  } else if (options.mode === MODE.POLLING) {
    console.log(`summary: mode 1: ${pollStats.polls} poll(s) returned ${pollStats.polled} event(s); ` +
      `${printer.callbacks} callback(s) for other events over ${seconds.toFixed(1)} s`);
  } else {
    console.log(`summary: mode 0: ${printer.callbacks} callback(s), ${perSecond(printer.callbacks)} callbacks/s ` +
      `over ${seconds.toFixed(1)} s`);
  }
}

async function run(options) {
  let ok = true;
  const proxy = new KaleoProxy();
  const children = new Set();
  const printer = new EventPrinter(options.eventLines);
  const pollStats = { polls: 0, polled: 0 };
  let poller = null;
  try {
    proxy.open(options.dll);
    console.log(`host: proxy ${options.dll}`);
    proxy.onEvent((event) => printer.onEvent(event));
    await proxy.setMode(options.mode);
    console.log(`host: mode ${options.mode}${options.mode === MODE.POLLING ? ` (polling every ${options.pollMs} ms)` : ''}`);
    console.log(`host: Init -> ${proxy.init()}`);

    const attached = [];
    for (const device of options.devices) {
      try {
        const handle = attach(proxy, device);
        attached.push(handle);
        console.log(`host: attach ${describeDevice(device)} -> handle ${handle}`);
      } catch (err) {
        ok = false;
        console.log(`host: attach ${describeDevice(device)} -> ${describeFailure(err)}`);
      }
    }

    const started = Date.now();
    if (options.mode === MODE.POLLING) poller = setInterval(() => pollOnce(proxy, pollStats), options.pollMs);
    const commands = Promise.all(options.commands.map((line) => runDeviceSide(line, children)));
    const runTime = options.seconds * 1000;
    const timeline = (async () => {
      if (options.toggles.length === 0) return sleep(runTime);
      await sleep(runTime / 3);
      ok = toggleAt(proxy, options.toggles, 0) && ok;
      await sleep(runTime / 3);
      ok = toggleAt(proxy, options.toggles, 1) && ok;
      return sleep(runTime - 2 * (runTime / 3));
    })();
    await timeline;
    if (children.size > 0) console.log(`host: waiting for ${children.size} device-side command(s)`);
    if (!(await within(commands, COMMAND_GRACE_MS))) {
      ok = false;
      for (const child of children) {
        console.log(`device-side: still running after ${COMMAND_GRACE_MS} ms, stopping pid ${child.pid}`);
        child.kill();
      }
    }
    const codes = await commands;
    if (codes.some((code) => code !== 0)) ok = false;

    if (poller) {
      clearInterval(poller);
      poller = null;
      pollOnce(proxy, pollStats);
    }
    const elapsed = Date.now() - started;
    for (const handle of attached) {
      const result = await proxy.removeDevice(handle);
      if (result !== 0) ok = false;
      console.log(`host: detach ${handle} -> ${result}`);
    }
    console.log(`host: UnInit -> ${await proxy.uninit()}`);
    printSummary(options, printer, pollStats, elapsed);
  } finally {
    if (poller) clearInterval(poller);
    for (const child of children) child.kill();
    await proxy.close();
  }
  return ok ? 0 : 1;
}

async function main(argv) {
  let options;
  try {
    options = parseOptions(argv);
  } catch (err) {
    console.error(err instanceof UsageError || err.code?.startsWith('ERR_PARSE_ARGS') ? err.message : err);
    console.error(USAGE);
    return 2;
  }
  if (options.help) {
    console.log(USAGE);
    return 0;
  }
  try {
    return await run(options);
  } catch (err) {
    console.log(`host: failed: ${err.message}`);
    return 1;
  }
}

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => { process.exitCode = code; });
}

module.exports = { parseOptions, main };
