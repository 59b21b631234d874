// Glass panels as the compositor's blur-behind region of the host's window.
'use strict';

const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');
const h = require('./helpers');

const { glass } = h;
const tint = [0, 0, 0, 0.3];
const area = (boxes) => boxes.reduce((sum, b) => sum + b.w * b.h, 0);

describe('glass panels', { skip: !h.onDesktop && 'needs scripts/desktop-session' }, () => {
  let host;
  let handle;

  before(async () => {
    host = await h.openWindow('glass host', { width: 400, height: 300 });
    await h.adopt(host.xid);
    handle = h.handleOf(host.xid);
  });

  after(async () => {
    await host?.close();
    await h.advertiseBlur(false);
  });

  test('without blur-behind from the compositor setGlass gives false and writes nothing', async () => {
    await h.advertiseBlur(false);
    assert.equal(glass.setGlass(handle, [0, 0, 100, 100, 0, 1], tint), false);
    assert.equal(glass.setGlass(handle, [], tint), false);
    assert.equal(await h.blurRegion(host.xid), null);
  });

  test('panels are set, reused, removed from the end and all removed by an empty array', async () => {
    await h.advertiseBlur(true);
    const two = [10, 20, 100, 50, 0, 0, 200, 30, 80, 60, 0, 0];
    assert.equal(glass.setGlass(handle, two, tint), true);
    const expected = [{ x: 10, y: 20, w: 100, h: 50 }, { x: 200, y: 30, w: 80, h: 60 }];
    assert.deepEqual(await h.blurRegion(host.xid), expected);
    assert.equal(glass.setGlass(handle, two, tint), true);
    assert.deepEqual(await h.blurRegion(host.xid), expected);
    assert.equal(glass.setGlass(handle, two.slice(0, 6), tint), true);
    assert.deepEqual(await h.blurRegion(host.xid), expected.slice(0, 1));
    assert.equal(glass.setGlass(handle, [], tint), true);
    assert.equal(await h.blurRegion(host.xid), null);
  });

  test('rounded corners make a stepped region inside the rectangle', async () => {
    await h.advertiseBlur(true);
    const [x, y, w, hgt, r] = [20, 10, 120, 80, 16];
    assert.equal(glass.setGlass(handle, [x, y, w, hgt, r, 0], tint), true);
    const boxes = await h.blurRegion(host.xid);
    for (const b of boxes) {
      assert.ok(b.x >= x && b.y >= y && b.x + b.w <= x + w && b.y + b.h <= y + hgt, JSON.stringify(b));
    }
    // Boxes run top to bottom without overlapping; the corners cut about (4 - pi) r^2 away.
    for (let i = 1; i < boxes.length; i++) assert.equal(boxes[i].y, boxes[i - 1].y + boxes[i - 1].h);
    assert.equal(boxes[0].y, y);
    assert.ok(boxes[0].w < w - r, 'the top row is cut at both corners');
    const cut = w * hgt - area(boxes);
    assert.ok(Math.abs(cut - (4 - Math.PI) * r * r) < 2 * r, `cut ${cut}`);
    assert.deepEqual(boxes, [...boxes].reverse().map((b) => ({ ...b, y: 2 * y + hgt - b.y - b.h })),
      'the bottom corners mirror the top ones');
  });

  test('resizing panels follow the window; fixed panels stay at the top-left', async () => {
    await h.advertiseBlur(true);
    await h.xdotool('windowsize', host.xid, 400, 300);
    const size = await h.until(async () => {
      const g = await h.geometry(host.xid);
      return g.width === 400 && g.height === 300 && g;
    });
    assert.ok(size, 'the window took its first size');
    const panels = [10, 10, 380, 280, 0, 1, 5, 5, 50, 40, 0, 0];
    assert.equal(glass.setGlass(handle, panels, tint), true);
    await h.xdotool('windowsize', host.xid, 500, 360);
    const expected = [{ x: 10, y: 10, w: 480, h: 340 }, { x: 5, y: 5, w: 50, h: 40 }];
    const followed = await h.until(async () => {
      const boxes = await h.blurRegion(host.xid);
      return JSON.stringify(boxes) === JSON.stringify(expected) && boxes;
    });
    assert.deepEqual(followed, expected);
  });
});
