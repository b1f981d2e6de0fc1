'use strict';
// The host's binding against the real proxy DLL (KALEO_PROXY_DLL), with
// devices published in the registry as other processes publish them.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { KaleoProxy, INIT_NO_DEVICES, UNINIT_NOT_INITIALISED } = require('../kaleoProxy');
const registry = require('./registry');

const ROOT_KEY = 'Software\\Vexel Kaleo SDK';
const DEVICES_KEY = `${ROOT_KEY}\\Devices`;
const KEYBOARD_KEY = `${DEVICES_KEY}\\HID\\VID_2F1A&PID_0084&MI_00`;
const CATALOG = '<devices><device pid="0x0084" file="KaleoKeyboardPlugin.dll"/></devices>';

// The second "&" field of an instance id becomes the device's key: distinct per keyboard.
const instanceId = (n) => `7&${(0x2a0f4c5 + n).toString(16).toUpperCase()}&0&0000`;
const containerId = (n) => `{6D1C6E80-0F0A-4E2B-9C1D-${String(n).padStart(12, '0')}}`;

const FOLDER_PREFIX = 'kaleo-node-';

// Install folders left behind by a run that died.
for (const name of fs.readdirSync(os.tmpdir())) {
  if (name.startsWith(FOLDER_PREFIX)) fs.rmSync(path.join(os.tmpdir(), name), { recursive: true, force: true });
}

// The registry keys and the install folder one case uses; restore() puts
// the registry back as it was and removes the folder.
class PublishedDevices {
  #rootExisted = registry.keyExists(ROOT_KEY);
  #savedInstallPath = registry.readValue(ROOT_KEY, 'InstallPath');
  #folder = null;

  constructor() {
    registry.deleteTree(DEVICES_KEY); // left over by a run that died
  }

  // A folder of the test's own holding the catalogue, as "InstallPath".
  install() {
    this.#folder = fs.mkdtempSync(path.join(os.tmpdir(), FOLDER_PREFIX));
    fs.writeFileSync(path.join(this.#folder, 'Devices.xml'), CATALOG);
    registry.writeString(ROOT_KEY, 'InstallPath', this.#folder);
  }

  removeInstallPath() {
    registry.deleteValue(ROOT_KEY, 'InstallPath');
  }

  publishKeyboards(count) {
    for (let n = 0; n < count; ++n) {
      registry.writeString(`${KEYBOARD_KEY}\\${instanceId(n)}`, 'ContainerId', containerId(n));
    }
  }

  restore() {
    registry.deleteTree(DEVICES_KEY);
    if (!this.#rootExisted) registry.deleteTree(ROOT_KEY);
    else if (this.#savedInstallPath) registry.writeValue(ROOT_KEY, 'InstallPath', this.#savedInstallPath);
    else registry.deleteValue(ROOT_KEY, 'InstallPath');
    if (this.#folder) fs.rmSync(this.#folder, { recursive: true, force: true, maxRetries: 20 });
  }
}

// Runs body with fresh published state and an unopened proxy; the proxy is
// closed (uninitialised if needed) before the state is put back.
function withDevices(body) {
  const devices = new PublishedDevices();
  const proxy = new KaleoProxy();
  try {
    body(devices, proxy);
  } finally {
    try {
      proxy.close();
    } finally {
      devices.restore();
    }
  }
}

test('init counts the published keyboards and uninit removes them once', async (t) => {
  for (const count of [1, 3]) {
    await t.test(`${count} published`, () => withDevices((devices, proxy) => {
      devices.install();
      devices.publishKeyboards(count);
      proxy.open();
      assert.equal(proxy.init(), count);
      assert.equal(proxy.uninit(), count);
      assert.equal(proxy.uninit(), UNINIT_NOT_INITIALISED);
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

test('close uninitialises a proxy the host left running', () => withDevices((devices, proxy) => {
  devices.install();
  devices.publishKeyboards(2);
  proxy.open();
  assert.equal(proxy.init(), 2);
  assert.equal(proxy.close(), 2);
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
    await t.test(name, () => {
      const proxy = new KaleoProxy();
      try {
        assert.throws(() => act(proxy), error);
      } finally {
        proxy.close();
      }
    });
  }
});
