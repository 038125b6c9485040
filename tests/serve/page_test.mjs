// Drives the explorer page in headless Chromium over the DevTools protocol,
// spoken on a pipe (no network port, no WebSocket, any Node from 18 on):
// reads the value and the first move shown, clicks that move with the mouse,
// reads the new value, and saves a screenshot.
//   node page_test.mjs URL SCREENSHOT.png
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const [url, screenshot] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), 'zok-page-'));
// The browser reads commands on its descriptor 3 and answers on 4, each
// message ended by a NUL byte.
const chromium = spawn('/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu',
  '--remote-debugging-pipe', `--user-data-dir=${profile}`, 'about:blank'],
  {stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']});
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
  const [toBrowser, fromBrowser] = [chromium.stdio[3], chromium.stdio[4]];
  fromBrowser.setEncoding('utf8');
  let last = 0, pending = '', session;
  const waiting = new Map();
  fromBrowser.on('data', d => {
    pending += d;
    for (let end; (end = pending.indexOf('\0')) >= 0; pending = pending.slice(end + 1)) {
      const m = JSON.parse(pending.slice(0, end));
      if (waiting.has(m.id)) waiting.get(m.id)(m);
    }
  });
  const send = async (method, params = {}) => {
    const m = await new Promise(resolve => {
      waiting.set(++last, resolve);
      toBrowser.write(JSON.stringify({id: last, method, params, ...(session && {sessionId: session})}) + '\0');
    });
    if (m.error) throw new Error(`${method}: ${m.error.message}`);
    return m.result;
  };
  // The blank page the browser opens, once it is there.
  let page;
  for (let i = 0; i < 200 && !page; i++) {
    page = (await send('Target.getTargets')).targetInfos.find(t => t.type === 'page');
    if (!page) await new Promise(resolve => setTimeout(resolve, 25));
  }
  if (!page) throw new Error('the browser opened no page');
  session = (await send('Target.attachToTarget', {targetId: page.targetId, flatten: true})).sessionId;
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
