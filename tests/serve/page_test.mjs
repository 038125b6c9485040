// Drives the explorer page in headless Chromium over the DevTools protocol:
// reads the value and the first move shown, clicks that move with the mouse,
// reads the new value, and saves a screenshot.
//   node --experimental-websocket page_test.mjs URL SCREENSHOT.png
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const [url, screenshot] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), 'zok-page-'));
const chromium = spawn('/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu',
  '--remote-debugging-port=0', `--user-data-dir=${profile}`, 'about:blank'],
  {stdio: ['ignore', 'ignore', 'pipe']});
function finish(status, text) {
  if (text) console.log(text);
  chromium.kill();
  // Its helper processes may still write to the profile for a moment.
  chromium.on('exit', async () => {
    for (let i = 0; i < 50; i++) {
      try {
        rmSync(profile, {recursive: true, force: true});
        break;
      } catch {
        await new Promise(resolve => setTimeout(resolve, 100));
      }
    }
    process.exit(status);
  });
}
setTimeout(() => finish(1, 'gave up after 60 s'), 60000).unref();

try {
  // The browser names its DevTools port on standard error.
  const port = await new Promise(resolve => {
    let text = '';
    chromium.stderr.on('data', d => {
      const m = (text += d).match(/ws:\/\/[^:]+:(\d+)\//);
      if (m) resolve(m[1]);
    });
  });
  const pages = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
  const socket = new WebSocket(pages.find(p => p.type === 'page').webSocketDebuggerUrl);
  await new Promise(resolve => socket.addEventListener('open', resolve));
  let last = 0;
  const waiting = new Map();
  socket.addEventListener('message', e => {
    const m = JSON.parse(e.data);
    if (waiting.has(m.id)) waiting.get(m.id)(m);
  });
  const send = async (method, params = {}) => {
    const m = await new Promise(resolve => {
      waiting.set(++last, resolve);
      socket.send(JSON.stringify({id: last, method, params}));
    });
    if (m.error) throw new Error(`${method}: ${m.error.message}`);
    return m.result;
  };
  const evaluate = async expression =>
    (await send('Runtime.evaluate', {expression, returnByValue: true})).result.value;
  // The page marks the position whose answer it shows.
  const settled = async () => {
    for (let i = 0; i < 400; i++) {
      if (await evaluate(`document.body.dataset.shown === document.getElementById('fen').value`)) return;
      await new Promise(resolve => setTimeout(resolve, 25));
    }
    throw new Error('the page showed no answer');
  };
  const text = selector => evaluate(`document.querySelector('${selector}').textContent`);

  await send('Emulation.setDeviceMetricsOverride', {width: 1000, height: 600, deviceScaleFactor: 1, mobile: false});
  await send('Page.navigate', {url});
  await settled();
  console.log(`value: ${await text('#value')}`);
  const first = '#moves li:first-child';
  console.log(`first move: ${await text(`${first} .san`)} ${await text(`${first} span:last-child`)}`);
  const box = await evaluate(`(r => [r.x + r.width / 2, r.y + r.height / 2])(
    document.querySelector('${first}').getBoundingClientRect())`);
  for (const type of ['mousePressed', 'mouseReleased']) {
    await send('Input.dispatchMouseEvent', {type, x: box[0], y: box[1], button: 'left', clickCount: 1});
  }
  await settled();
  console.log(`after the click: ${await text('#value')}`);
  const shot = await send('Page.captureScreenshot', {format: 'png'});
  writeFileSync(screenshot, Buffer.from(shot.data, 'base64'));
  finish(0);
} catch (err) {
  finish(1, String(err));
}
