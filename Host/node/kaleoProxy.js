'use strict';
// The Node.js host's binding to the 64-bit proxy (VxKaleoSDKProxy64.dll)
// through koffi. What a host must know:
//
// - Run it in a 64-bit node.exe; the DLL keeps one device table per process,
//   so open one proxy per process.
// - Call order: init() first, uninit() last, then close().
//   init() reads the devices other processes published in the registry and
//   returns how many it found, or INIT_NO_DEVICES (-1) when there are none or
//   the proxy could not start. uninit() returns the number of device records
//   it removed, or UNINIT_NOT_INITIALISED (1627) when init() was not called or
//   uninit() already ran.
// - close() unloads the DLL. It runs uninit() first when the host forgot to:
//   otherwise the DLL would have to stop its registry threads while the
//   loader lock is held, where a thread cannot finish exiting.
// - Events from the proxy (the event exports that come next) arrive on the
//   JS main thread, queued by koffi while the event loop runs: keep the loop
//   alive while waiting for them. A synchronous call that waits for the
//   proxy's threads (uninit() once events are enabled) would deadlock against
//   a thread blocked in a JS callback; such calls must use the async form.
//
// Every export is declared once in EXPORTS; a method per export wraps it.
const koffi = require('koffi');

const INIT_NO_DEVICES = -1;
const UNINIT_NOT_INITIALISED = 1627; // ERROR_FUNCTION_FAILED

const EXPORTS = Object.freeze({
  Init: 'int Init()',
  UnInit: 'int UnInit()',
});

class KaleoProxy {
  #lib = null;
  #exports = null;
  #initialised = false;

  // Loads the DLL from dllPath, or from KALEO_PROXY_DLL when none is given,
  // and resolves every export; throws when the file or an export is missing.
  open(dllPath = process.env.KALEO_PROXY_DLL) {
    if (this.#lib) throw new Error('the proxy is already open');
    if (typeof dllPath !== 'string' || dllPath.length === 0) {
      throw new TypeError('no proxy DLL path: pass one or set KALEO_PROXY_DLL');
    }
    let lib;
    try {
      lib = koffi.load(dllPath);
    } catch (err) {
      throw new Error(`cannot load the proxy from ${dllPath}: ${err.message}`);
    }
    try {
      this.#exports = bindExports(lib);
    } catch (err) {
      lib.unload();
      throw new Error(`${dllPath} is not the proxy: ${err.message}`);
    }
    this.#lib = lib;
    return this;
  }

  get isOpen() {
    return this.#lib !== null;
  }

  // Number of devices found, or INIT_NO_DEVICES.
  init() {
    const found = this.#call('Init');
    this.#initialised = true;
    return found;
  }

  // Number of device records removed, or UNINIT_NOT_INITIALISED.
  uninit() {
    const result = this.#call('UnInit');
    this.#initialised = false;
    return result;
  }

  // Unloads the DLL; returns uninit()'s result when it had to run it.
  close() {
    if (!this.#lib) return undefined;
    const result = this.#initialised ? this.uninit() : undefined;
    this.#lib.unload();
    this.#lib = null;
    this.#exports = null;
    return result;
  }

  #call(name, ...args) {
    if (!this.#exports) throw new Error(`${name}: the proxy is not open`);
    return this.#exports[name](...args);
  }
}

function bindExports(lib) {
  const bound = {};
  for (const [name, prototype] of Object.entries(EXPORTS)) {
    bound[name] = lib.func(prototype);
  }
  return bound;
}

function openProxy(dllPath) {
  return new KaleoProxy().open(dllPath);
}

module.exports = { KaleoProxy, openProxy, INIT_NO_DEVICES, UNINIT_NOT_INITIALISED };
