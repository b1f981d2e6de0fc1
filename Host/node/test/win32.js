'use strict';
// The device side of the tests, through kernel32: a client of a device's data
// pipe writing one JSON message per pipe message, and a named mutex held for
// as long as a test needs it. Writes use koffi's async form: a synchronous
// write blocked on a full pipe would stall the main thread, and with it the
// callbacks the proxy's reader thread waits on before it reads again.
const koffi = require('koffi');

const GENERIC_WRITE = 0x40000000;
const OPEN_EXISTING = 3;
const INVALID_HANDLE_VALUE = -1;
const MAX_MESSAGE = 8191; // the reader's buffer keeps one byte for the terminator

const kernel32 = koffi.load('kernel32.dll');
// Handles travel as intptr_t, so INVALID_HANDLE_VALUE compares as -1.
const api = {
  CreateFileW: kernel32.func('intptr_t CreateFileW(const char16_t *name, uint32_t access, uint32_t share, ' +
    'void *security, uint32_t disposition, uint32_t flags, intptr_t templateFile)'),
  WriteFile: kernel32.func('int WriteFile(intptr_t file, const uint8_t *data, uint32_t size, ' +
    '_Out_ uint32_t *written, void *overlapped)'),
  CreateMutexW: kernel32.func('intptr_t CreateMutexW(void *security, int initialOwner, const char16_t *name)'),
  CloseHandle: kernel32.func('int CloseHandle(intptr_t handle)'),
  LoadLibraryW: kernel32.func('void *LoadLibraryW(const char16_t *name)'),
  GetProcAddress: kernel32.func('void *GetProcAddress(void *module, const char *name)'),
};

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A connected client of one device's data pipe.
class DevicePipe {
  #handle;

  constructor(handle) {
    this.#handle = handle;
  }

  // Connects to the pipe, retrying while the reader thread has no free
  // instance yet (not created, or busy with an earlier client).
  static async connect(name, timeoutMs = 10000) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const handle = api.CreateFileW(name, GENERIC_WRITE, 0, null, OPEN_EXISTING, 0, 0);
      if (handle !== INVALID_HANDLE_VALUE) return new DevicePipe(handle);
      if (Date.now() > deadline) throw new Error(`no pipe ${name} within ${timeoutMs} ms`);
      await sleep(20);
    }
  }

  // Writes one message (an object, or raw text); resolves to false once the
  // server end is gone.
  write(message) {
    if (this.#handle === null) return Promise.resolve(false);
    const data = Buffer.from(typeof message === 'string' ? message : JSON.stringify(message));
    if (data.length > MAX_MESSAGE) throw new RangeError(`a pipe message holds at most ${MAX_MESSAGE} bytes`);
    return new Promise((resolve, reject) => {
      api.WriteFile.async(this.#handle, data, data.length, [0], null,
        (err, ok) => (err ? reject(err) : resolve(ok !== 0)));
    });
  }

  close() {
    if (this.#handle === null) return;
    api.CloseHandle(this.#handle);
    this.#handle = null;
  }
}

// Creates (or opens) a named mutex and holds the handle until release().
function holdMutex(name) {
  const handle = api.CreateMutexW(null, 0, name);
  if (handle === 0) throw new Error(`CreateMutexW(${name}) failed`);
  return { release: () => api.CloseHandle(handle) };
}

// The address of an export, to hand a native function to the proxy.
function nativeFunction(dll, name) {
  const module = api.LoadLibraryW(dll);
  const address = module && api.GetProcAddress(module, name);
  if (!address) throw new Error(`no ${name} in ${dll}`);
  return address;
}

module.exports = { DevicePipe, holdMutex, nativeFunction, sleep };
