// File drags out of the host's window to GTK windows, with the pointer moved by xdotool.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { pathToFileURL } = require('node:url');
const h = require('./helpers');
const { writePng } = require('./png');

const { glass } = h;

async function centre(window) {
  const g = await h.geometry(window.xid);
  return [g.x + Math.floor(g.width / 2), g.y + Math.floor(g.height / 2)];
}

// The drag image window while a drag runs.
async function dragImageSize() {
  const { stdout } = await h.run('xwininfo', ['-name', 'tarvine-glass drag image']);
  const field = (name) => Number(new RegExp(`${name}:\\s+(\\d+)`).exec(stdout)[1]);
  return [field('Width'), field('Height')];
}

describe('file drags', { skip: !h.onDesktop && 'needs scripts/desktop-session' }, () => {
  let host;
  let accepting;
  let refusing;
  let dir;
  let wide;
  let tall;

  before(async () => {
    [host, accepting, refusing] = await Promise.all([
      h.openWindow('drag host', { x: 40, y: 80, width: 300, height: 300 }),
      h.openWindow('accepting target', { x: 700, y: 80, width: 300, height: 300, drops: 'accept' }),
      h.openWindow('refusing target', { x: 1300, y: 80, width: 300, height: 300, drops: 'refuse' }),
    ]);
    await h.adopt(host.xid);
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'glass drag '));
    wide = writePng(path.join(dir, 'wide picture.png'), 80, 40);
    tall = writePng(path.join(dir, 'tall.png'), 20, 100);
  });

  after(async () => {
    await h.xdotool('mouseup', 1).catch(() => {});
    await Promise.all([host, accepting, refusing].map((w) => w?.close()));
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  // Presses the button on the host, as the user who starts a drag does, and calls drag.
  async function press() {
    await h.xdotool('mousemove', ...(await centre(host)));
    await h.xdotool('mousedown', 1);
    await h.sleep(100);
  }

  // Moves to (x, y) in a few steps, releases, and waits for the drag to end.
  async function dropAt([x, y]) {
    const [fromX, fromY] = await centre(host);
    for (let step = 1; step <= 4; step++) {
      await h.movePointer(Math.round(fromX + ((x - fromX) * step) / 4),
        Math.round(fromY + ((y - fromY) * step) / 4));
      await h.sleep(50);
    }
    await h.sleep(200);
    await h.xdotool('mouseup', 1);
    return h.until(() => glass.dragState() !== 1 && glass.dragState(), 8000);
  }

  test('a drop on a window that takes files ends in state 2 with its URI received', async () => {
    await press();
    assert.equal(glass.drag(h.handleOf(host.xid), wide, 64), true);
    assert.equal(glass.dragState(), 1);
    assert.deepEqual(await dragImageSize(), [64, 32], 'a wide image keeps its aspect ratio');
    assert.equal(glass.drag(h.handleOf(host.xid), wide, 64), false, 'one drag at a time');
    assert.equal(glass.dragState(), 1);
    assert.equal(await dropAt(await centre(accepting)), 2);
    const uri = await h.until(() => accepting.lines.find((l) => l.startsWith('uri ')));
    assert.equal(uri, `uri ${pathToFileURL(wide).href}`);
  });

  test('a drop the target refuses ends in state 3', async () => {
    await press();
    assert.equal(glass.drag(h.handleOf(host.xid), tall, 50), true);
    assert.deepEqual(await dragImageSize(), [50, 100], 'a tall image is at most twice as tall');
    assert.equal(await dropAt(await centre(refusing)), 3);
    assert.ok(refusing.lines.includes('refused'));
  });

  test('Escape ends the drag over a target that takes files in state 3, with nothing dropped', async () => {
    await press();
    assert.equal(glass.drag(h.handleOf(host.xid), wide, 64), true);
    await h.movePointer(...(await centre(accepting)));
    await h.sleep(200);
    const received = accepting.lines.length;
    await h.xdotool('key', 'Escape');
    assert.equal(await h.until(() => glass.dragState() !== 1 && glass.dragState()), 3);
    await h.xdotool('mouseup', 1);
    await h.sleep(300);
    assert.equal(accepting.lines.length, received);
  });

  test('a drop where no window takes files ends in state 3; any size gives a bounded picture', async () => {
    await press();
    // Any positive size is taken, but the picture stays within what a screen could show.
    assert.equal(glass.drag(h.handleOf(host.xid), wide, Infinity), true);
    assert.deepEqual(await dragImageSize(), [4096, 2048]);
    assert.equal(await dropAt([900, 900]), 3);
  });
});
