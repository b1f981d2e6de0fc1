'use strict';
// The demo's Node.js host: loads the proxy, starts it, keeps it running for
// a while so devices published meanwhile are picked up, then stops it.
//
//   node demo-devices.js <proxy DLL> <seconds to run>
const { openProxy } = require('./kaleoProxy');

const [dllPath, seconds = '6'] = process.argv.slice(2);
const proxy = openProxy(dllPath);
const found = proxy.init();
console.log(`Init returned ${found} (devices found in the registry)`);
console.log(`running for ${seconds} s; the proxy follows the registry meanwhile`);
setTimeout(async () => {
  console.log(`UnInit returned ${await proxy.uninit()} (device records removed)`);
  await proxy.close();
}, Number(seconds) * 1000);
