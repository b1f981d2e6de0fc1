'use strict';
// The host's binding against the real proxy DLL (KALEO_PROXY_DLL), with
// devices published in the registry as other processes publish them.
const test = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const path = require('node:path');

const { KaleoProxy, INIT_NO_DEVICES, UNINIT_NOT_INITIALISED } = require('../kaleoProxy');
const { withDevices, FOLDER_PREFIX } = require('./published');

test('init counts the published keyboards and uninit removes them once', async (t) => {
  for (const count of [1, 3]) {
    await t.test(`${count} published`, () => withDevices(async (devices, proxy) => {
      devices.install();
      devices.publishKeyboards(count);
      proxy.open();
      assert.equal(proxy.init(), count);
      assert.equal(await proxy.uninit(), count);
      assert.equal(await proxy.uninit(), UNINIT_NOT_INITIALISED);
    }));
  }
});

test('init reports no devices when nothing can be driven', async (t) => {
  const cases = [
    { name: 'catalogue but nothing published', arrange: (devices) => devices.install() },
    {
      name: 'keyboards published but no install path',
      arrange: (devices) => {
        devices.removeInstallPath();
        devices.publishKeyboards(2);
      },
    },
  ];
  for (const { name, arrange } of cases) {
    await t.test(name, () => withDevices((devices, proxy) => {
      arrange(devices);
      proxy.open();
      assert.equal(proxy.init(), INIT_NO_DEVICES);
    }));
  }
});

test('close uninitialises a proxy the host left running', () => withDevices(async (devices, proxy) => {
  devices.install();
  devices.publishKeyboards(2);
  proxy.open();
  assert.equal(proxy.init(), 2);
  assert.equal(await proxy.close(), 2);
  assert.equal(proxy.isOpen, false);
}));

test('the binding refuses misuse with a clear error', async (t) => {
  const missing = path.join(os.tmpdir(), `${FOLDER_PREFIX}missing`, 'VxKaleoSDKProxy64.dll');
  const cases = [
    { name: 'an empty path', act: (proxy) => proxy.open(''), error: TypeError },
    { name: 'a missing file', act: (proxy) => proxy.open(missing), error: /cannot load the proxy from .*kaleo-node-missing/ },
    { name: 'a DLL without the exports', act: (proxy) => proxy.open('kernel32.dll'), error: /is not the proxy/ },
    { name: 'init before open', act: (proxy) => proxy.init(), error: /Init: the proxy is not open/ },
    { name: 'open twice', act: (proxy) => proxy.open().open(), error: /already open/ },
  ];
  for (const { name, act, error } of cases) {
    await t.test(name, async () => {
      const proxy = new KaleoProxy();
      try {
        assert.throws(() => act(proxy), error);
      } finally {
        await proxy.close();
      }
    });
  }
});
