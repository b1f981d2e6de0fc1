'use strict';
// Devices published the way other processes publish them: HID keyboards in
// the registry, a paired Hue bridge, an accessory-lighting application with
// the broadcast service's presence mutex, and an install folder holding the
// catalogue. restore() puts back every key it touched and removes the folder;
// the registry prefix is shared with the other test suites.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const registry = require('./registry');
const { holdMutex } = require('./win32');
const { KaleoProxy } = require('../kaleoProxy');

const ROOT_KEY = 'Software\\Vexel Kaleo SDK';
const DEVICES_KEY = `${ROOT_KEY}\\Devices`;
const KEYBOARD_HARDWARE = 'VID_2F1A&PID_0084&MI_00';
const KEYBOARD_KEY = `${DEVICES_KEY}\\HID\\${KEYBOARD_HARDWARE}`;
const KEYBOARD_PID = 0x84;
const HUE_KEY = `${DEVICES_KEY}\\SmartLighting\\PhilipsHue`;
// The broadcast service's keys live under another vendor root.
const BROADCAST_KEYS = ['Software\\Vexel', 'Software\\Vexel\\KaleoBroadcast', 'Software\\Vexel\\KaleoBroadcast\\Apps'];
const BROADCAST_APP_KEY = `${BROADCAST_KEYS[2]}\\KaleoNodeHostTest`;
const BROADCAST_MUTEX = 'Global\\{48D72353-C43A-48FB-8AAA-31D9D768E492}';
const CATALOG = '<devices><device pid="0x0084" file="KaleoKeyboardPlugin.dll"/>' +
  '<device pid="0x0301" file="KaleoHuePlugin.dll"/></devices>';

const FOLDER_PREFIX = 'kaleo-node-';

// The second "&" field of an instance id becomes the device's key (its
// handle): distinct per keyboard.
const keyboardInstance = (n) => `7&${(0x2a0f4c5 + n).toString(16).toUpperCase()}&0&0000`;
const keyboardContainer = (n) => `{6D1C6E80-0F0A-4E2B-9C1D-${String(n).padStart(12, '0')}}`;

// Each published device as the host sees it: how to attach it, the handle it
// gets and the data pipe its device side writes into.
const devices = {
  keyboard: (n) => ({
    name: `keyboard ${n}`,
    attach: (proxy) => proxy.addHidDevice(KEYBOARD_PID, keyboardContainer(n)),
    handle: 0x2a0f4c5 + n,
    pipe: `\\\\.\\pipe\\HID#${KEYBOARD_HARDWARE}#${keyboardInstance(n)}#`,
  }),
  accessoryApp: (index) => ({
    name: `accessory app ${index}`,
    attach: (proxy) => proxy.addAccessoryApp(770, index),
    handle: Number(`302${index}`),
    pipe: `\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}${index}`,
  }),
  hueBulb: (id) => ({
    name: `hue bulb ${id}`,
    attach: (proxy) => proxy.addHueBulb(id),
    handle: Number(`301${id}`),
    pipe: `\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}${id}`,
  }),
};

// Install folders left behind by a run that died.
for (const name of fs.readdirSync(os.tmpdir())) {
  if (name.startsWith(FOLDER_PREFIX)) fs.rmSync(path.join(os.tmpdir(), name), { recursive: true, force: true });
}

// "InstallPath" as found, unless a run that died left one of our folders there.
function installPathToRestore() {
  const value = registry.readValue(ROOT_KEY, 'InstallPath');
  const text = value ? value.data.toString('utf16le') : '';
  return text.includes(FOLDER_PREFIX) ? null : value;
}

class PublishedDevices {
  #rootExisted = registry.keyExists(ROOT_KEY);
  #savedInstallPath = installPathToRestore();
  #broadcastKeysExisted = BROADCAST_KEYS.map((key) => registry.keyExists(key));
  #folder = null;
  #broadcastService = null;

  constructor() {
    registry.deleteTree(DEVICES_KEY); // left over by a run that died
    registry.deleteTree(BROADCAST_APP_KEY);
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
      registry.writeString(`${KEYBOARD_KEY}\\${keyboardInstance(n)}`, 'ContainerId', keyboardContainer(n));
    }
  }

  pairHueBridge() {
    registry.writeString(HUE_KEY, 'Path', 'C:\\ProgramData\\Vexel\\hue-bridge.cfg');
  }

  // A running accessory-lighting application (pid 770 device) and the
  // broadcast service's presence mutex, held until restore().
  publishAccessoryApp(index) {
    registry.writeDword(BROADCAST_APP_KEY, 'Pid', process.pid);
    registry.writeDword(BROADCAST_APP_KEY, 'Index', index);
    registry.writeDword(BROADCAST_APP_KEY, 'DeviceSupported', 0x20);
    this.#broadcastService ??= holdMutex(BROADCAST_MUTEX);
  }

  restore() {
    this.#broadcastService?.release();
    this.#broadcastService = null;
    registry.deleteTree(DEVICES_KEY);
    registry.deleteTree(BROADCAST_APP_KEY);
    const firstCreated = this.#broadcastKeysExisted.indexOf(false);
    if (firstCreated >= 0) registry.deleteTree(BROADCAST_KEYS[firstCreated]);
    if (!this.#rootExisted) registry.deleteTree(ROOT_KEY);
    else if (this.#savedInstallPath) registry.writeValue(ROOT_KEY, 'InstallPath', this.#savedInstallPath);
    else registry.deleteValue(ROOT_KEY, 'InstallPath');
    if (this.#folder) fs.rmSync(this.#folder, { recursive: true, force: true, maxRetries: 20 });
  }
}

// Runs body with fresh published state and an unopened proxy; the proxy is
// closed (uninitialised if needed) before the state is put back.
async function withDevices(body) {
  const published = new PublishedDevices();
  const proxy = new KaleoProxy();
  try {
    await body(published, proxy);
  } finally {
    try {
      await proxy.close();
    } finally {
      published.restore();
    }
  }
}

module.exports = { PublishedDevices, withDevices, devices, keyboardContainer, FOLDER_PREFIX, KEYBOARD_PID };
