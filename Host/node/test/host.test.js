'use strict';
// The demo's host script run as its own process against the real proxy: it
// attaches, runs the device side, shows what arrives, and detaches.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');

const { withDevices, devices, keyboardContainer, FOLDER_PREFIX } = require('./published');

const HOST = path.join(__dirname, '..', 'kaleo-host.js');
const WRITER = path.join(__dirname, 'pipe-writer.js');
const keyboard = devices.keyboard(0);

// node.exe under Wine cannot write to a pipe: the script's output goes to a file.
async function runHost(args) {
  const log = path.join(os.tmpdir(), `${FOLDER_PREFIX}host-${process.pid}.log`);
  const fd = fs.openSync(log, 'w');
  try {
    const code = await new Promise((resolve, reject) => {
      const child = spawn(process.execPath, [HOST, ...args], { stdio: ['ignore', fd, fd], windowsHide: true });
      child.on('error', reject);
      child.on('exit', (exitCode) => resolve(exitCode));
    });
    return { code, lines: fs.readFileSync(log, 'utf8').split(/\r?\n/) };
  } finally {
    fs.closeSync(fd);
    fs.rmSync(log, { force: true });
  }
}

const attachArgs = ['--hid', `0x84:${keyboardContainer(0)}`];
const cases = [
  {
    // Polled only once, after the device side ended: its three lighting
    // messages for two sub-devices coalesce into two events.
    name: 'mode 1 with a device side',
    args: [...attachArgs, '--mode', '1', '--poll-ms', '600000', '--seconds', '0.2', '--device-side',
      `"${process.execPath}" "${WRITER}" "${keyboard.pipe}" 2/1/red 2/1/green 2/2/blue 7/0/done`],
    expect: [
      `host: attach hid pid=0x84 containerId=${keyboardContainer(0)} -> handle ${keyboard.handle}`,
      /^device-side: exit 0 /,
      `poll: 2 event(s) after coalescing: ${keyboard.handle}/1 ${keyboard.handle}/2`,
      `host: detach ${keyboard.handle} -> 0`,
      'host: UnInit -> 1',
      /^summary: mode 1: 1 poll\(s\) returned 2 event\(s\)/,
    ],
    // Pushed at once, so it may come before or after the command's exit.
    anywhere: [new RegExp(`^event: immediate handle=${keyboard.handle} seq=0 eventId=7 `)],
  },
  {
    name: 'mode 2 toggling the device off and on',
    args: [...attachArgs, '--mode', '2', '--seconds', '0.3', '--toggle', String(keyboard.handle)],
    expect: [
      `toggle: SetDeviceState enable=0 handle=${keyboard.handle} -> SUCCESS`,
      `toggle: SetDeviceState enable=1 handle=${keyboard.handle} -> SUCCESS`,
      `host: detach ${keyboard.handle} -> 0`,
      /^summary: mode 2: 0 batch\(es\)/,
    ],
  },
];

test('the host script runs a session from attach to UnInit', async (t) => {
  for (const { name, args, expect, anywhere = [] } of cases) {
    await t.test(name, () => withDevices(async (published) => {
      published.install();
      published.publishKeyboards(1);
      const { code, lines } = await runHost(args);
      const output = lines.join('\n');
      assert.equal(code, 0, output);
      let from = 0; // the expected lines appear in this order
      for (const line of expect) {
        const at = lines.findIndex((l, i) => i >= from && (typeof line === 'string' ? l === line : line.test(l)));
        assert.ok(at >= 0, `no line ${line} in order in:\n${output}`);
        from = at + 1;
      }
      for (const line of anywhere) assert.ok(lines.some((l) => line.test(l)), `no line ${line} in:\n${output}`);
    }));
  }
});
