'use strict';
// Requests through the binding: what the proxy refuses comes back typed, the
// action entry's results are decoded and released with the right function,
// and device requests cannot overlap a detach in flight.
const test = require('node:test');
const assert = require('node:assert/strict');
const koffi = require('koffi');

const { ACTION_FAILED } = require('../kaleoProxy');
const { withDevices, devices, keyboardContainer, KEYBOARD_PID } = require('./published');
const { nativeFunction } = require('./win32');

const keyboard = devices.keyboard(0);
const refused = (func, message, result) => ({ name: 'KaleoProxyError', func, message, result });
const answered = (code, message) => ({ code, response: { message, result: code, return: null } });

// Each case runs against a fresh proxy with one keyboard published; `init`
// false leaves it uninitialised. A case either resolves to `expect` or
// rejects with `error`.
const cases = [
  { name: 'a request before init', init: false, act: (p) => p.invoke({ func: 'SetDeviceState', param: { enable: 0 } }),
    expect: answered(4312, 'ERROR_OBJECT_NOT_FOUND') },
  { name: 'a request without func', act: (p) => p.invoke({}), expect: answered(1168, 'ERROR_NOT_FOUND') },
  { name: 'a request that is not JSON', act: (p) => p.invoke('{"func":'), expect: answered(11, 'ERROR_BAD_FORMAT') },
  { name: 'a container nobody published', act: (p) => p.addHidDevice(KEYBOARD_PID, keyboardContainer(9)),
    error: refused('AddDevice', 'error on AddHIDDevice', 1168) },
  { name: 'the same keyboard twice', act: (p) => { keyboard.attach(p); return keyboard.attach(p); },
    error: refused('AddDevice', 'error on AddHIDDevice', 183) },
  { name: 'a Hue bulb without a paired bridge', act: (p) => p.addHueBulb(5),
    error: refused('AddDevice', 'error on AddPhilipshueDevice', 1167) },
  { name: 'an accessory app nobody runs', act: (p) => p.addAccessoryApp(818, 4),
    error: refused('AddDevice', 'error on AddKaleoConnectDevice', 1168) },
  { name: 'the state of a handle not attached', act: (p) => { keyboard.attach(p); return p.setDeviceState(false, 12345); },
    error: refused('SetDeviceState', 'error on SetEnable', 1168) },
  { name: 'the global switch set to what it is', act: (p) => p.setDeviceState(true),
    error: refused('SetDeviceState', 'error on SetEnable', 1627) },
  { name: 'a Hue pid given as a HID device', act: (p) => p.addHidDevice(769, 'x'), error: RangeError },
  { name: 'an index that is no integer', act: (p) => p.addAccessoryApp(770, 1.5), error: TypeError },
  {
    name: 'a device request while a detach is in flight',
    act: async (p) => {
      const removal = p.removeDevice(keyboard.attach(p));
      try {
        return p.setDeviceState(false);
      } finally {
        await removal;
      }
    },
    error: /Invoke: RemoveDevice is still running/,
  },
  { name: 'action 3', act: (p) => p.action({ Action: 3, pid: 1 }), expect: { Status: -1, device_handle: 0 } },
  { name: 'an action text that is not JSON', act: (p) => p.action('{"Action":'), expect: { Status: ACTION_FAILED } },
  {
    name: 'action 5 forwarding an attach',
    act: (p) => p.action({ Action: 5, message: JSON.stringify({ func: 'AddDevice', param: { pid: KEYBOARD_PID, containerId: keyboardContainer(0) } }) }),
    expect: { Status: 0, message: 'SUCCESS', result: 0, return: { device_handle: keyboard.handle } },
  },
  {
    name: 'action 4 detaching, then action 2 uninitialising',
    act: async (p) => {
      const detached = await p.action({ Action: 4, device_handle: keyboard.attach(p) });
      const stopped = await p.action({ Action: 2 });
      return { detached, stopped, initialised: p.isInitialised, closed: await p.close() };
    },
    expect: { detached: { Status: 0 }, stopped: { Status: 1, error: 1 }, initialised: false, closed: undefined },
  },
  {
    name: 'an action result from a custom allocator',
    act: async (p) => {
      const released = [];
      const free = koffi.load('msvcrt.dll').func('void free(void *block)');
      p.setAllocator(nativeFunction('msvcrt.dll', 'malloc'), (block) => { released.push(block); free(block); });
      const result = await p.action({ Action: 9 });
      return { result, released: released.length };
    },
    expect: { result: { Status: -1 }, released: 1 },
  },
];

test('requests come back decoded, refusals typed', async (t) => {
  for (const { name, init = true, act, expect, error } of cases) {
    await t.test(name, () => withDevices(async (published, proxy) => {
      published.install();
      published.publishKeyboards(1);
      proxy.open();
      if (init) proxy.init();
      const outcome = (async () => act(proxy))();
      if (error) await assert.rejects(outcome, error);
      else assert.deepEqual(await outcome, expect);
    }));
  }
});
