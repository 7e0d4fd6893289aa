// The administration pages in a real browser against a real tovksrv: log in
// with the demo user, use the frameset as a person would, and check what
// reached the registry with tovkreg. A page of another origin (a second port
// of this test) tries the same changes with the administrator's credentials
// and must change nothing; request text with mark-up and script in it must
// come back inert.
//
// The server runs from a throwaway configuration: its own registry file,
// unit directory, run directory and log directory. /admin/ is aliased to the
// build's admin-www directory (the frameset, help.html, http.aut and a copy
// of admin.dll), and "dll" files run as extensions (TOVK/ISAPI).
//
//   TOVK_BIN_DIR        the programs (default: build/bin of the checkout)
//   TOVK_ADMIN_WWW      the administration directory (default: bin/../admin-www)
//   TOVK_SCREENSHOT_DIR where to leave screenshots of the steps (optional)

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const binDir = process.env.TOVK_BIN_DIR || path.resolve(here, '../../../build/bin');
const adminWww = process.env.TOVK_ADMIN_WWW || path.resolve(binDir, '../admin-www');
const screenshotDir = process.env.TOVK_SCREENSHOT_DIR || '';
const configKey = 'HKLM\\software\\Kestrane\\WWW Server';

// Every wait is bounded; the whole test has its own limit as well.
const kStepTimeout = 15000;
const kServerStartTimeout = 30000;
const kStopTimeout = 20000;
const kTestTimeout = 180000;

const toSystemPath = (p) => p.replaceAll('/', '\\');
const regString = (s) => s.replaceAll('\\', '\\\\').replaceAll('"', '\\"');
const dword = (n) => n.toString(16).padStart(8, '0');

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One GET without credentials; the status code, or 0 when nothing answers.
function statusOf(port, urlPath) {
  return new Promise((resolve) => {
    const request = http.get({ host: '127.0.0.1', port, path: urlPath, timeout: 3000 }, (res) => {
      res.resume();
      resolve(res.statusCode);
    });
    request.on('timeout', () => request.destroy());
    request.on('error', () => resolve(0));
  });
}

async function waitForStatus(port, urlPath, wanted, timeout) {
  const end = Date.now() + timeout;
  let last = 0;
  while (Date.now() < end) {
    last = await statusOf(port, urlPath);
    if (last === wanted) return last;
    await sleep(200);
  }
  return last;
}

function run(program, args, env) {
  const result = spawnSync(path.join(binDir, program), args, { env, encoding: 'latin1', timeout: 30000 });
  if (result.error) throw result.error;
  return result;
}

function hasValue(env, name) {
  return run('tovkreg', ['query', configKey, '/v', name], env).status === 0;
}

function queryValue(env, name) {
  const result = run('tovkreg', ['query', configKey, '/v', name], env);
  assert.equal(result.status, 0, `tovkreg query /v ${name} failed: ${result.stderr}`);
  const line = result.stdout.split(/\r?\n/).find((l) => l.startsWith(`    ${name}    `));
  assert.ok(line, `no line for ${name} in:\n${result.stdout}`);
  const [, type, data] = line.slice(4 + name.length + 4).match(/^(\S+)    (.*)$/) || [];
  return { type, data };
}

async function shot(page, name) {
  if (!screenshotDir) return;
  fs.mkdirSync(screenshotDir, { recursive: true });
  await page.screenshot({ path: path.join(screenshotDir, `${name}.png`), fullPage: true });
}

test('administration through the browser', { timeout: kTestTimeout }, async (t) => {
  for (const file of ['tovksrv', 'tovksc', 'tovkreg']) {
    assert.ok(fs.existsSync(path.join(binDir, file)), `${file} is missing in ${binDir}`);
  }
  for (const file of ['admin.dll', 'index.html', 'help.html', 'http.aut']) {
    assert.ok(fs.existsSync(path.join(adminWww, file)), `${file} is missing in ${adminWww}`);
  }

  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tovk-admin-browser-'));
  const logDir = path.join(root, 'logs');
  fs.mkdirSync(path.join(logDir, 'picked'), { recursive: true });
  const env = {
    ...process.env,
    TOVK_REGISTRY: path.join(root, 'registry.db'),
    TOVK_UNIT_DIR: path.join(root, 'units'),
    TOVK_RUN_DIR: path.join(root, 'run'),
  };
  fs.mkdirSync(env.TOVK_UNIT_DIR);

  const port = await freePort();
  let newPort = await freePort();
  while (newPort === port) newPort = await freePort();

  const protFile = toSystemPath(logDir) + '\\';
  const wwwDir = toSystemPath(adminWww) + '\\';
  const regFile = path.join(root, 'config.reg');
  fs.writeFileSync(
    regFile,
    [
      'REGEDIT4',
      '',
      `[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]`,
      `"Port"=dword:${dword(port)}`,
      '"DefaultHTML"="index.html"',
      `"ProtFile"="${regString(protFile)}"`,
      '"DoProt"=dword:00000001',
      '"SSLon"=dword:00000000',
      '"NewLogFile"=dword:00000000',
      '"KeepAlive"=dword:00000000',
      '"MIME num"=dword:00000003',
      '"MIME 1"="html,text/html"',
      '"MIME 2"="htm,text/html"',
      '"MIME 3"="css,text/css"',
      '"Virt num"=dword:00000001',
      '"Virt 1"="*,HTTP"',
      '"App num"=dword:00000001',
      '"App 1"="dll,TOVK/ISAPI"',
      '"Alias num"=dword:00000001',
      `"Alias 1"="${regString(`* (HTTP),/admin/,${wwwDir}`)}"`,
      '',
    ].join('\r\n'),
    'latin1',
  );
  const imported = run('tovkreg', ['import', regFile], env);
  assert.equal(imported.status, 0, `tovkreg import failed: ${imported.stderr}`);

  const installed = run('tovksrv', ['/I'], env);
  assert.equal(installed.status, 0, `tovksrv /I failed: ${installed.stdout}${installed.stderr}`);
  const service = spawn(path.join(binDir, 'tovksc'), ['run', 'tovk'], { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let serviceOutput = '';
  service.stdout.on('data', (d) => (serviceOutput += d));
  service.stderr.on('data', (d) => (serviceOutput += d));
  const serviceEnded = new Promise((resolve) => service.once('exit', resolve));

  // The other origin: a form that posts to the MIME page on load, with a
  // guessed token, and a delete link, as a hostile page would hold them.
  const adminUrl = `http://127.0.0.1:${port}/admin/admin.dll`;
  const foreignPages = {
    '/form.html':
      `<form id=f method=POST action="${adminUrl}?action=mime&subaction=add">` +
      `<input name=klic value="${'0'.repeat(64)}"><input name=ext value=evil>` +
      '<input name=typ value="application/x-evil"></form>' +
      '<script>addEventListener("load", () => setTimeout(() => document.getElementById("f").submit(), 0))</script>',
    '/link.html': `<a id=d href="${adminUrl}?action=mime&subaction=smaz&co=html%2Ctext/html">x</a>`,
  };
  const foreign = http.createServer((req, res) => {
    const body = foreignPages[req.url];
    res.writeHead(body ? 200 : 404, { 'Content-Type': 'text/html' });
    res.end(body || '');
  });
  const foreignPort = await new Promise((resolve) => foreign.listen(0, '127.0.0.1', () => resolve(foreign.address().port)));

  let context;
  t.after(async () => {
    foreign.close();
    if (context) await context.close().catch(() => {});
    if (service.exitCode === null) {
      service.kill('SIGTERM');
      let timer;
      const ended = await Promise.race([
        serviceEnded.then(() => true),
        new Promise((resolve) => (timer = setTimeout(() => resolve(false), kStopTimeout))),
      ]);
      clearTimeout(timer);
      if (!ended) service.kill('SIGKILL');
    }
    fs.rmSync(root, { recursive: true, force: true });
  });

  // The administration is never open to everyone.
  const anonymous = await waitForStatus(port, '/admin/', 401, kServerStartTimeout);
  assert.equal(anonymous, 401, `the server did not ask for credentials on /admin/\n${serviceOutput}`);

  context = await chromium.launchPersistentContext(path.join(root, 'chromium-profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
    httpCredentials: { username: 'admin', password: 'admin' },
    viewport: { width: 1200, height: 800 },
  });
  context.setDefaultTimeout(kStepTimeout);
  const page = context.pages()[0] || (await context.newPage());

  const opened = await page.goto(`http://127.0.0.1:${port}/admin/`);
  assert.equal(opened.status(), 200, 'the frameset opens with the demo credentials');
  const menu = page.frame({ name: 'menu' });
  const edit = page.frame({ name: 'edit' });
  const browse = page.frame({ name: 'browse' });
  assert.ok(menu && edit && browse, 'the frameset has the frames menu, edit and browse');
  await menu.waitForSelector('a[href="admin.dll?action=mime"]');
  await shot(page, '1-frameset');

  // The other origin's form and link reach the extension with the
  // administrator's credentials, and are refused without a change.
  const refusal = /Požadavek nepřišel ze stránek administrace serveru, nic nebylo změněno/;
  const cp1250 = new TextDecoder('windows-1250');
  const attacker = await context.newPage();
  const [posted] = await Promise.all([
    attacker.waitForResponse((r) => r.url().includes('subaction=add') && r.status() === 200),
    attacker.goto(`http://127.0.0.1:${foreignPort}/form.html`),
  ]);
  assert.match(cp1250.decode(await posted.body()), refusal);
  await attacker.goto(`http://127.0.0.1:${foreignPort}/link.html`);
  const [deleted] = await Promise.all([
    attacker.waitForResponse((r) => r.url().includes('subaction=smaz') && r.status() === 200),
    attacker.click('#d'),
  ]);
  assert.match(cp1250.decode(await deleted.body()), refusal);
  await attacker.close();
  assert.equal(queryValue(env, 'MIME num').data, '0x3');
  assert.equal(queryValue(env, 'MIME 1').data, 'html,text/html');
  assert.ok(!hasValue(env, 'MIME 4'), 'the foreign form added nothing');

  // Request text with mark-up and script, in the browse frame's fields: the
  // page shows it and hands it to the edit frame as text, and runs none of it.
  const tag = '"><img src=x onerror=top.__pwned=1>';
  const add = `'</script><script>top.__pwned=2</script>';top.__pwned=3;'`;
  await edit.waitForSelector('form[name=nast] input[name=ProtFile]');
  await browse.goto(
    `${adminUrl}?action=browse&kam=ProtFile&bpath=${encodeURIComponent(protFile + tag)}&add=${encodeURIComponent(add)}`,
  );
  assert.equal(await edit.inputValue('input[name=ProtFile]'), `${protFile}${tag}\\${add}`);
  assert.match(await browse.textContent('body'), /<img src=x onerror=top.__pwned=1>/);
  await browse.goto(
    `${adminUrl}?action=browse&kam=${encodeURIComponent('x;top.__pwned=4//')}&goto=${encodeURIComponent(tag)}`,
  );
  assert.equal(await page.evaluate(() => window.__pwned), undefined, 'no injected script ran');

  // A MIME type added through the form shows in the list, and its delete link
  // takes it out again.
  await Promise.all([edit.waitForURL(/action=mime$/), menu.click('a[href="admin.dll?action=mime"]')]);
  await edit.fill('form[name=nast] input[name=ext]', 'tovkx');
  await edit.fill('form[name=nast] input[name=typ]', 'application/x-tovk-test');
  await Promise.all([edit.waitForURL(/subaction=add/), edit.click('form[name=nast] input[type=submit]')]);
  const deleteLink =
    'a[href^="admin.dll?action=mime&subaction=smaz&klic="][href$="&co=tovkx%2Capplication/x-tovk-test"]';
  await edit.waitForSelector(deleteLink);
  assert.match(await edit.content(), /application\/x-tovk-test/);
  assert.equal(queryValue(env, 'MIME 4').data, 'tovkx,application/x-tovk-test');
  await shot(page, '2-mime-added');
  await Promise.all([edit.waitForURL(/subaction=smaz/), edit.click(deleteLink)]);
  await edit.waitForSelector('form[name=nast]');
  assert.doesNotMatch(await edit.content(), /x-tovk-test/);
  assert.equal(queryValue(env, 'MIME num').data, '0x3');

  // The settings page starts the picker in the log directory; choosing a
  // directory there writes it into the edit frame's field.
  await Promise.all([
    edit.waitForURL(/action=nastaveni$/),
    browse.waitForURL(/action=browse&kam=ProtFile/),
    menu.click('a[href="admin.dll?action=nastaveni"]'),
  ]);
  assert.equal(await edit.inputValue('input[name=Port]'), String(port));
  await browse.waitForSelector('select[name=goto] option[value="picked"]');
  await browse.selectOption('select[name=goto]', 'picked');
  await Promise.all([browse.waitForNavigation(), browse.click('form[name=brdir] input[type=submit]')]);
  const picked = toSystemPath(path.join(logDir, 'picked')) + '\\';
  await edit.waitForFunction(
    (want) => document.forms.nast.ProtFile.value === want,
    picked,
    { timeout: kStepTimeout },
  );
  await shot(page, '3-directory-picked');

  await edit.fill('input[name=Port]', String(newPort));
  await Promise.all([edit.waitForURL(/subaction=save/), edit.click('form[name=nast] input[type=submit]')]);
  assert.equal(await edit.inputValue('input[name=Port]'), String(newPort));
  assert.equal(await edit.inputValue('input[name=ProtFile]'), picked);

  // The restart link reloads the server, which then listens on the new port.
  const [reload] = await Promise.all([
    page.waitForResponse((r) => r.url().endsWith('/iswd/reload')),
    menu.click('a[href="/iswd/reload"]'),
  ]);
  assert.equal(reload.status(), 200, 'the restart page answers');
  await shot(page, '4-restart');

  const port1 = queryValue(env, 'Port');
  assert.deepEqual(port1, { type: 'REG_DWORD', data: `0x${newPort.toString(16)}` });
  assert.deepEqual(queryValue(env, 'ProtFile'), { type: 'REG_SZ', data: picked });
  assert.equal(queryValue(env, 'DefaultHTML').data, 'index.html');
  assert.equal(queryValue(env, 'KeepAlive').data, '0x0');

  const after = await waitForStatus(newPort, '/admin/', 401, kServerStartTimeout);
  assert.equal(after, 401, `after the restart the server answers on port ${newPort}\n${serviceOutput}`);
});
