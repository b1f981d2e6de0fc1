'use strict';
// Device messages written into the data pipes reach the host through the
// binding in each delivery mode, and the host can stop while they flow.
const test = require('node:test');
const assert = require('node:assert/strict');

const { MODE, EVENT_NAME, eventKind, messagesOf } = require('../kaleoProxy');
const { withDevices, devices } = require('./published');
const { DevicePipe, sleep } = require('./win32');

// One device of each kind; the keyboard's handle is the highest, and it is
// written first, so the coalesced order (by handle) differs from write order.
const ALL_KINDS = [devices.keyboard(0), devices.accessoryApp(3), devices.hueBulb(5)];
const IMMEDIATE_EVENT_ID = 7;

const stamped = (device, message) => ({ ...message, device_handle: device.handle });

// What each device side writes: three lighting messages, two for the same
// sub-device, then a non-lighting marker that is delivered at once. The
// reader handles a pipe's messages in order, so once the marker has arrived
// the lighting messages before it have been delivered or queued.
const lightingOf = (device) => [
  { eventId: 2, linkDeviceSeqId: 1, colour: 'red', from: device.name },
  { eventId: 2, linkDeviceSeqId: 1, colour: 'green', from: device.name },
  { eventId: 2, linkDeviceSeqId: 2, colour: 'blue', from: device.name },
];
const markerOf = (device) => ({ eventId: IMMEDIATE_EVENT_ID, from: device.name });

async function until(condition, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(10);
  }
}

// Coalescing pairs a device with a sub-device; queued events go out in that order.
const pairOf = (m) => `${m.device_handle}/${m.linkDeviceSeqId}`;
const byKey = (a, b) => a.device_handle - b.device_handle || a.linkDeviceSeqId - b.linkDeviceSeqId;

// The latest message of each (device, sub-device) pair, in key order: what
// every coalescing mode must end up having delivered.
function latestPerKey(kinds) {
  return kinds.flatMap((device) => {
    const [, green, blue] = lightingOf(device);
    return [stamped(device, green), stamped(device, blue)];
  }).sort(byKey);
}

// Per mode: what the host must have received once every marker is in.
const deliveryChecks = {
  [MODE.IMMEDIATE]: async (proxy, received) => {
    for (const device of ALL_KINDS) {
      const bare = received.filter((e) => eventKind(e) === 'lighting' && e.device_handle === device.handle);
      assert.deepEqual(bare, lightingOf(device).map((m) => stamped(device, m)), `${device.name}: every message, unwrapped`);
    }
    assert.deepEqual(proxy.pollEvents(), []);
  },
  [MODE.POLLING]: async (proxy, received) => {
    assert.deepEqual(received.filter((e) => eventKind(e) !== 'immediate'), [], 'lighting events wait for the poll');
    assert.deepEqual(proxy.pollEvents(), latestPerKey(ALL_KINDS));
    assert.deepEqual(proxy.pollEvents(), [], 'a poll empties the queue');
  },
  [MODE.BATCHED]: async (proxy, received) => {
    const batches = () => received.filter((e) => eventKind(e) === 'batch');
    const latest = () => {
      const byPair = new Map();
      for (const m of batches().flatMap(messagesOf)) byPair.set(pairOf(m), m);
      return [...byPair.values()].sort(byKey);
    };
    await until(() => latest().length === 6 && latest().every((m) => m.colour !== 'red'), 'the batched latest state');
    assert.deepEqual(latest(), latestPerKey(ALL_KINDS));
    for (const { payload } of batches()) {
      assert.deepEqual(payload, [...payload].sort(byKey), 'a batch is in key order');
      assert.equal(new Set(payload.map(pairOf)).size, payload.length, 'one message per pair in a batch');
    }
    assert.equal(received.filter((e) => eventKind(e) === 'lighting').length, 0);
    assert.deepEqual(proxy.pollEvents(), []);
  },
};

test('each device kind delivers its pipe messages to the host in every mode', async (t) => {
  for (const mode of [MODE.IMMEDIATE, MODE.POLLING, MODE.BATCHED]) {
    await t.test(`mode ${mode}`, () => withDevices(async (published, proxy) => {
      published.install();
      published.publishKeyboards(1);
      published.pairHueBridge();
      published.publishAccessoryApp(3);
      proxy.open();
      const received = [];
      proxy.onEvent((event) => received.push(event));
      proxy.init();
      await proxy.setMode(mode);
      for (const device of ALL_KINDS) assert.equal(device.attach(proxy), device.handle, `${device.name}: handle`);

      const pipes = [];
      try {
        for (const device of ALL_KINDS) {
          const pipe = await DevicePipe.connect(device.pipe);
          pipes.push(pipe);
          for (const message of [...lightingOf(device), markerOf(device)]) assert.ok(await pipe.write(message));
        }
        const markers = () => received.filter((e) => eventKind(e) === 'immediate');
        await until(() => markers().length === ALL_KINDS.length, 'the markers');
        const byHandle = (a, b) => a.payload.device_handle - b.payload.device_handle;
        assert.deepEqual(markers().sort(byHandle),
          ALL_KINDS.map((d) => ({ event: EVENT_NAME, payload: stamped(d, markerOf(d)) })).sort(byHandle));
        await deliveryChecks[mode](proxy, received);
      } finally {
        for (const pipe of pipes) pipe.close();
      }
      for (const device of ALL_KINDS) assert.equal(await proxy.removeDevice(device.handle), 0, `detach ${device.name}`);
      assert.equal(await proxy.uninit(), ALL_KINDS.length);
    }));
  }
});

// The longest the event loop went without running a 10 ms timer.
function watchEventLoop() {
  let last = Date.now();
  let longest = 0;
  const timer = setInterval(() => {
    const now = Date.now();
    longest = Math.max(longest, now - last);
    last = now;
  }, 10);
  return () => {
    clearInterval(timer);
    return Math.max(longest, Date.now() - last);
  };
}

// The host stops from inside a listener, as a host reacting to an event
// would: the native thread that made the call is then blocked until the
// listener returns, so a stop that waited for it synchronously would stall
// the main thread for the proxy's whole wait, or for ever.
test('a host stops from an event while a device floods it, without a hang or a crash', async (t) => {
  const device = devices.keyboard(0);
  const cases = [
    {
      name: 'mode 0: detach, then uninit',
      mode: MODE.IMMEDIATE,
      stop: async (proxy) => {
        assert.equal(await proxy.removeDevice(device.handle), 0);
        assert.equal(await proxy.uninit(), 1);
      },
    },
    { name: 'mode 0: uninit alone', mode: MODE.IMMEDIATE, stop: async (proxy) => assert.equal(await proxy.uninit(), 1) },
    { name: 'mode 2: close alone', mode: MODE.BATCHED, stop: async (proxy) => assert.equal(await proxy.close(), 1) },
  ];
  for (const { name, mode, stop } of cases) {
    await t.test(name, () => withDevices(async (published, proxy) => {
      published.install();
      published.publishKeyboards(1);
      proxy.open();
      let delivered = 0;
      let stopped = null;
      proxy.onEvent((event) => {
        delivered += messagesOf(event).length;
        if (delivered < 40 || stopped) return;
        const stopWatching = watchEventLoop();
        stopped = stop(proxy).then(stopWatching);
      });
      proxy.init();
      await proxy.setMode(mode);
      device.attach(proxy);
      const pipe = await DevicePipe.connect(device.pipe);
      let writing = true;
      const writer = (async () => {
        for (let n = 0; writing; ++n) {
          if (!(await pipe.write({ eventId: 2, linkDeviceSeqId: n % 4, n }))) break;
        }
      })();
      try {
        await until(() => stopped, 'events to flow');
        const stalled = await stopped;
        assert.ok(stalled < 2000, `the event loop stalled for ${stalled} ms while the host stopped`);
      } finally {
        writing = false;
        await writer;
        pipe.close();
      }
    }));
  }
});
