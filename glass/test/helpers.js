// Shared helpers of the addon's suites: GTK windows, X properties read and written with
// xprop, and the pointer moved with xdotool.
'use strict';

const { execFile, spawn } = require('node:child_process');
const path = require('node:path');
const { promisify } = require('node:util');

const run = promisify(execFile);
const addonPath =
  process.env.TARVINE_GLASS || path.join(__dirname, '..', '..', 'build', 'tarvine-glass.node');
const glass = require(addonPath);
const onDesktop = Boolean(process.env.DISPLAY && process.env.TARVINE_DESKTOP_SESSION);
const BLUR = '_KDE_NET_WM_BLUR_BEHIND_REGION';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Waits for `check` to give something truthy, looking again every 50 ms until `ms` pass.
async function until(check, ms = 5000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value || Date.now() > deadline) return value;
    await sleep(50);
  }
}

// A GTK window in its own process; `lines` collects what it prints.
async function openWindow(title, { x = 100, y = 100, width = 400, height = 300, drops } = {}) {
  const args = [path.join(__dirname, 'window.py'), title, x, y, width, height].map(String);
  if (drops) args.push(drops);
  const child = spawn('/usr/bin/python3', args, { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = [];
  let buffered = '';
  child.stdout.on('data', (chunk) => {
    buffered += chunk;
    const parts = buffered.split('\n');
    buffered = parts.pop();
    lines.push(...parts);
  });
  const ready = await until(() => lines.find((l) => l.startsWith('ready ')), 10000);
  if (!ready) {
    child.kill();
    throw new Error(`window ${title} did not come up`);
  }
  const xid = Number(ready.split(' ')[1]);
  return {
    xid,
    lines,
    close: () => new Promise((resolve) => {
      child.on('exit', resolve);
      child.stdin.end();
    }),
  };
}

// Makes a window count as one of this process's windows, as the host's own windows do.
async function adopt(xid) {
  await run('xprop', ['-id', String(xid), '-f', '_NET_WM_PID', '32c', '-set', '_NET_WM_PID',
    String(process.pid)]);
}

function handleOf(xid) {
  const handle = Buffer.alloc(8);
  handle.writeBigUInt64LE(BigInt(xid));
  return handle;
}

async function cardinals(xid, property) {
  const { stdout } = await run('xprop', ['-id', String(xid), property]);
  const at = stdout.indexOf(' = ');
  if (at < 0) return null;
  return stdout.slice(at + 3).split(',').map((v) => Number(v.trim()));
}

// The blur region as boxes {x, y, w, h}, or null without the property.
async function blurRegion(xid) {
  const values = await cardinals(xid, BLUR);
  if (!values) return null;
  const boxes = [];
  for (let i = 0; i + 3 < values.length; i += 4)
    boxes.push({ x: values[i], y: values[i + 1], w: values[i + 2], h: values[i + 3] });
  return boxes;
}

// Lets the root window's _NET_SUPPORTED claim (or not) that the compositor blurs behind.
async function advertiseBlur(on) {
  await run('/usr/bin/python3', [path.join(__dirname, 'supported.py'), BLUR, on ? 'on' : 'off']);
}

async function geometry(xid) {
  const { stdout } = await run('xwininfo', ['-id', String(xid)]);
  const field = (name) => Number(new RegExp(`${name}:\\s+(-?\\d+)`).exec(stdout)[1]);
  return {
    x: field('Absolute upper-left X'), y: field('Absolute upper-left Y'),
    width: field('Width'), height: field('Height'),
  };
}

const xdotool = (...args) => run('xdotool', args.map(String));
// Device motion through XTest, as a mouse makes it (xdotool's mousemove warps the pointer).
const movePointer = (x, y) => run('/usr/bin/python3', [path.join(__dirname, 'pointer.py'), x, y].map(String));

module.exports = {
  glass, addonPath, onDesktop, sleep, until, openWindow, adopt, handleOf, blurRegion, advertiseBlur,
  geometry, xdotool, movePointer, run,
};
