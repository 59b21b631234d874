// Argument rules, the window handle and the main-thread rule of the three functions.
'use strict';

const assert = require('node:assert/strict');
const { once } = require('node:events');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { Worker } = require('node:worker_threads');
const h = require('./helpers');
const { writePng } = require('./png');

const { glass } = h;
const panel = [10, 20, 100, 50, 0, 0];
const tint = [0.1, 0.2, 0.3, 0.5];

test('the addon exports setGlass, drag and dragState', () => {
  for (const name of ['setGlass', 'drag', 'dragState'])
    assert.equal(typeof glass[name], 'function', name);
  assert.equal(glass.dragState(), 0);
});

describe('on a window of this process', { skip: !h.onDesktop && 'needs scripts/desktop-session' }, () => {
  let host;
  let handle;
  let dir;
  let image;

  before(async () => {
    await h.advertiseBlur(true);
    host = await h.openWindow('host');
    await h.adopt(host.xid);
    handle = h.handleOf(host.xid);
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'glass-'));
    image = writePng(path.join(dir, 'picture.png'), 40, 30);
    await h.xdotool('mouseup', 1);
  });

  after(async () => {
    await host?.close();
    await h.advertiseBlur(false);
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  test('its window is found; windows of other processes and unknown ids are not', async () => {
    assert.equal(glass.setGlass(handle, panel, tint), true);
    const other = await h.openWindow('other process');
    try {
      assert.equal(glass.setGlass(h.handleOf(other.xid), panel, tint), false);
      assert.equal(await h.blurRegion(other.xid), null);
    } finally {
      await other.close();
    }
    assert.equal(glass.setGlass(h.handleOf(0x1ffffff0), panel, tint), false);
    assert.equal(glass.setGlass(h.handleOf(BigInt(host.xid) + (1n << 40n)), panel, tint), false);
  });

  test('malformed setGlass arguments give false and change nothing', async () => {
    assert.equal(glass.setGlass(handle, panel, tint), true);
    const region = await h.blurRegion(host.xid);
    const cases = {
      'two arguments': [handle, panel],
      'a 4-byte handle': [Buffer.alloc(4), panel, tint],
      'a 9-byte handle': [Buffer.concat([handle, Buffer.alloc(1)]), panel, tint],
      'a handle that is not a Buffer': [host.xid, panel, tint],
      '7 numbers': [handle, [...panel, 1], tint],
      'a tint of 3': [handle, panel, [0, 0, 0]],
      'more than 256 numbers': [handle, Array(258).fill(1), tint],
      'a string among the numbers': [handle, [10, '20', 100, 50, 0, 0], tint],
      'rectangles that are not an array': [handle, { length: 6, 0: 1 }, tint],
      'a tint that is not an array': [handle, panel, 'black'],
    };
    for (const [name, args] of Object.entries(cases))
      assert.equal(glass.setGlass(...args), false, name);
    assert.deepEqual(await h.blurRegion(host.xid), region);
    assert.equal(glass.setGlass(handle, Array(252).fill(1), tint), true, '252 numbers');
  });

  test('malformed drag arguments give false and leave the drag state alone', () => {
    const cases = {
      'two arguments': [handle, image],
      'a 4-byte handle': [Buffer.alloc(4), image, 64],
      'a path that is not a string': [handle, 7, 64],
      'a path of 4095 bytes': [handle, `/${'a'.repeat(4094)}`, 64],
      'a size of 0': [handle, image, 0],
      'a negative size': [handle, image, -1],
      'a size that is not a number': [handle, image, '64'],
      'NaN as size': [handle, image, NaN],
      'a file that is not there': [handle, path.join(dir, 'missing.png'), 64],
      'a file that is no image': [handle, __filename, 64],
    };
    for (const [name, args] of Object.entries(cases))
      assert.equal(glass.drag(...args), false, name);
    assert.equal(glass.dragState(), 0);
  });

  test('a path longer than 4094 bytes is refused, not cut short to one that exists', () => {
    // A 4093-byte path to a real image; the same path plus a 3-byte character does not fit.
    let folder = dir;
    while (4093 - folder.length > 250) {
      folder = path.join(folder, 'd'.repeat(200));
      fs.mkdirSync(folder);
    }
    const file = `${folder}/${'f'.repeat(4093 - folder.length - 1)}`;
    assert.equal(Buffer.byteLength(file), 4093);
    writePng(file, 10, 10);
    assert.equal(glass.drag(handle, `${file}€`, 64), false);
    assert.equal(glass.dragState(), 0);
    // With the button up, the file itself gives true and no drag.
    assert.equal(glass.drag(handle, file, 64), true);
    assert.equal(glass.dragState(), 3);
  });

  test('calls from a worker thread are refused; dragState answers there too', async () => {
    const worker = new Worker(`
      const { parentPort, workerData: d } = require('node:worker_threads');
      const g = require(d.addon);
      const handle = Buffer.from(d.handle);
      parentPort.postMessage({
        glass: g.setGlass(handle, d.panel, d.tint),
        drag: g.drag(handle, d.image, 64),
        state: g.dragState(),
      });`, {
      eval: true,
      workerData: { addon: require.resolve(h.addonPath), handle, panel, tint, image },
    });
    const [answer] = await once(worker, 'message');
    await once(worker, 'exit');
    assert.deepEqual(answer, { glass: false, drag: false, state: glass.dragState() });
    assert.equal(glass.setGlass(handle, panel, tint), true);
  });
});
