'use strict';
// HKEY_LOCAL_MACHINE through the 32-bit view, from node.exe via advapi32:
// the view the proxy and the 32-bit modules read, so the tests publish
// devices the way other processes do. Every call throws on a Win32 error
// other than "not found"; every opened key is closed before returning.
const koffi = require('koffi');

const HKEY_LOCAL_MACHINE = -0x7ffffffe; // (HKEY)(LONG)0x80000002, sign-extended
const KEY_ALL_ACCESS = 0xf003f;
const KEY_WOW64_32KEY = 0x0200;
const ACCESS = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
const REG_SZ = 1;
const REG_DWORD = 4;
const ERROR_SUCCESS = 0;
const ERROR_FILE_NOT_FOUND = 2;
const ERROR_MORE_DATA = 234;

const advapi32 = koffi.load('advapi32.dll');
// Keys travel as intptr_t: the predefined roots are negative numbers.
const api = {
  RegCreateKeyExW: advapi32.func('int32_t RegCreateKeyExW(intptr_t key, const char16_t *subKey, uint32_t reserved, ' +
    'const char16_t *cls, uint32_t options, uint32_t sam, void *security, _Out_ intptr_t *result, ' +
    '_Out_ uint32_t *disposition)'),
  RegOpenKeyExW: advapi32.func('int32_t RegOpenKeyExW(intptr_t key, const char16_t *subKey, uint32_t options, ' +
    'uint32_t sam, _Out_ intptr_t *result)'),
  RegCloseKey: advapi32.func('int32_t RegCloseKey(intptr_t key)'),
  RegSetValueExW: advapi32.func('int32_t RegSetValueExW(intptr_t key, const char16_t *name, uint32_t reserved, ' +
    'uint32_t type, const uint8_t *data, uint32_t size)'),
  RegQueryValueExW: advapi32.func('int32_t RegQueryValueExW(intptr_t key, const char16_t *name, void *reserved, ' +
    '_Out_ uint32_t *type, void *data, _Inout_ uint32_t *size)'),
  RegDeleteValueW: advapi32.func('int32_t RegDeleteValueW(intptr_t key, const char16_t *name)'),
  RegDeleteTreeW: advapi32.func('int32_t RegDeleteTreeW(intptr_t key, const char16_t *subKey)'),
  RegDeleteKeyExW: advapi32.func('int32_t RegDeleteKeyExW(intptr_t key, const char16_t *subKey, uint32_t sam, ' +
    'uint32_t reserved)'),
};

function check(rc, what, keyPath) {
  if (rc !== ERROR_SUCCESS) throw new Error(`${what}(HKLM\\${keyPath}) failed with ${rc}`);
}

// Runs use(key) on the opened (or created) key and closes it; returns
// undefined without calling use when the key is missing and create is false.
function withKey(keyPath, create, use) {
  const out = [0];
  const rc = create
    ? api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, null, 0, ACCESS, null, out, [0])
    : api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, ACCESS, out);
  if (!create && rc === ERROR_FILE_NOT_FOUND) return undefined;
  check(rc, create ? 'RegCreateKeyExW' : 'RegOpenKeyExW', keyPath);
  try {
    return use(out[0]);
  } finally {
    api.RegCloseKey(out[0]);
  }
}

function keyExists(keyPath) {
  return withKey(keyPath, false, () => true) === true;
}

function createKey(keyPath) {
  withKey(keyPath, true, () => {});
}

// A raw value, { type, data }, or null when the key or value is missing.
function readValue(keyPath, name) {
  return withKey(keyPath, false, (key) => {
    for (let size = 512; ; size *= 2) {
      const type = [0];
      const got = [size];
      const data = Buffer.alloc(size);
      const rc = api.RegQueryValueExW(key, name, null, type, data, got);
      if (rc === ERROR_FILE_NOT_FOUND) return null;
      if (rc === ERROR_MORE_DATA && size < 1 << 20) continue;
      check(rc, 'RegQueryValueExW', keyPath);
      return { type: type[0], data: data.subarray(0, got[0]) };
    }
  }) ?? null;
}

function writeValue(keyPath, name, { type, data }) {
  withKey(keyPath, true, (key) => check(api.RegSetValueExW(key, name, 0, type, data, data.length),
    'RegSetValueExW', keyPath));
}

function writeString(keyPath, name, text) {
  writeValue(keyPath, name, { type: REG_SZ, data: Buffer.from(`${text}\0`, 'utf16le') });
}

function writeDword(keyPath, name, value) {
  const data = Buffer.alloc(4);
  data.writeUInt32LE(value >>> 0);
  writeValue(keyPath, name, { type: REG_DWORD, data });
}

function deleteValue(keyPath, name) {
  withKey(keyPath, false, (key) => {
    const rc = api.RegDeleteValueW(key, name);
    if (rc !== ERROR_FILE_NOT_FOUND) check(rc, 'RegDeleteValueW', keyPath);
  });
}

// Removes the key with all its values and subkeys; a missing key is fine.
function deleteTree(keyPath) {
  withKey(keyPath, false, (key) => check(api.RegDeleteTreeW(key, null), 'RegDeleteTreeW', keyPath));
  const rc = api.RegDeleteKeyExW(HKEY_LOCAL_MACHINE, keyPath, KEY_WOW64_32KEY, 0);
  if (rc !== ERROR_FILE_NOT_FOUND) check(rc, 'RegDeleteKeyExW', keyPath);
}

module.exports = { keyExists, createKey, readValue, writeValue, writeString, writeDword, deleteValue, deleteTree };
