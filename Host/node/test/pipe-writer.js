'use strict';
// A stand-in device side for the host script's test: connects to a device's
// data pipe and writes one message per item, an item being
// <eventId>/<linkDeviceSeqId>/<tag> (plain words survive any shell quoting).
//
//   node pipe-writer.js <pipe name> <item>...
const { DevicePipe } = require('./win32');

function messageOf(item) {
  const [eventId, seq, tag] = item.split('/');
  return { eventId: Number(eventId), linkDeviceSeqId: Number(seq), tag };
}

async function main([name, ...items]) {
  const pipe = await DevicePipe.connect(name);
  try {
    for (const item of items) {
      if (!(await pipe.write(messageOf(item)))) return 1;
    }
  } finally {
    pipe.close();
  }
  return 0;
}

main(process.argv.slice(2)).then((code) => { process.exitCode = code; }, () => { process.exitCode = 1; });
