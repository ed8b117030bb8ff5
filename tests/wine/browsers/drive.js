// Drives Debian's chromium (playwright-core) or firefox-esr (puppeteer-core
// over WebDriver BiDi) headless through the pages of serve.py as a user
// would: visits, a form typed into and sent, a download, then a clean exit
// so that the browser writes its databases and session files.
//
//   node drive.js chromium|firefox PROFILE_DIR DOWNLOAD_DIR PORT [BOOKMARK_URL]
//
// Prints one JSON line with what was done (the visited URLs, the form's
// fields, the downloaded file). Neither automation reaches the browsers'
// bookmark menus: Firefox imports the bookmark from a bookmarks.html that
// make-browser-profiles.sh puts into its new profile, and Chromium, given
// BOOKMARK_URL, finds it in the "Bookmarks" file written before its first
// start (the format it writes itself, checksum included), then keeps and
// rewrites that file as its own.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const crypto = require('node:crypto');

const [browserName, profileDir, downloadDir, port, bookmarkUrl] = process.argv.slice(2);
if (!browserName || !profileDir || !downloadDir || !port) {
  console.error('usage: node drive.js chromium|firefox PROFILE_DIR DOWNLOAD_DIR PORT');
  process.exit(2);
}
const hostA = `http://127.0.0.1:${port}`;
const hostB = `http://localhost:${port}`;
const form = {qp_name: 'Quenlo Tester', qp_city: 'Testville'};
const downloadName = 'quenlo-download.txt';

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function waitForFile(file, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (fs.existsSync(file) && fs.statSync(file).size > 0) return true;
    await sleep(200);
  }
  return false;
}

// The user's part, the same for both browsers through a small page API:
// goto(url), click(selector), type(selector, text), waitForUrl(part).
async function browse(api) {
  const visited = [];
  const go = async (url) => {
    await api.goto(url);
    visited.push(url);
    // Long enough for a favicon fetch and a history commit.
    await sleep(700);
  };
  await go(`${hostA}/page1`);
  await go(`${hostB}/page2`);
  await go(`${hostA}/page2`);
  // page3 by a link, as a user clicks.
  await api.click('#page3');
  await api.waitForUrl('/page3');
  visited.push(`${hostA}/page3`);
  await sleep(700);
  await go(`${hostA}/form`);
  for (const [field, value] of Object.entries(form)) await api.type(`#${field}`, value);
  await api.click('#send');
  await api.waitForUrl('/thanks');
  visited.push(api.currentUrl());
  await sleep(700);
  await go(`${hostA}/download`);
  await api.click('#get');
  const file = path.join(downloadDir, downloadName);
  if (!(await waitForFile(file, 15000))) throw new Error(`the download did not arrive in ${file}`);
  // The download's record is written when it completes.
  await sleep(1500);
  return {visited, form, download: {name: downloadName, path: file}};
}

// Chromium's "Bookmarks" file with one bookmark on the bookmark bar. The
// checksum is the MD5 Chromium's bookmark codec computes: for each node in
// order, its id (UTF-8) and title (UTF-16LE), then "url" and the URL, or
// "folder".
function writeChromiumBookmarks(defaultDir, url, title) {
  const md5 = crypto.createHash('md5');
  const folder = (id, name, children) => {
    md5.update(id, 'utf8');
    md5.update(Buffer.from(name, 'utf16le'));
    md5.update('folder', 'utf8');
    return {children, date_added: '13370000000000000', date_last_used: '0',
            date_modified: '0', guid: crypto.randomUUID(), id, name, type: 'folder'};
  };
  const urlNode = (id, name, href) => {
    md5.update(id, 'utf8');
    md5.update(Buffer.from(name, 'utf16le'));
    md5.update('url', 'utf8');
    md5.update(href, 'utf8');
    return {date_added: '13370000000000000', date_last_used: '0', guid: crypto.randomUUID(),
            id, name, type: 'url', url: href};
  };
  // The bar's checksum part comes before its child's: build it in order.
  const barId = '1';
  md5.update(barId, 'utf8');
  md5.update(Buffer.from('Bookmarks bar', 'utf16le'));
  md5.update('folder', 'utf8');
  const child = urlNode('4', title, url);
  const bar = {children: [child], date_added: '13370000000000000', date_last_used: '0',
               date_modified: '0', guid: crypto.randomUUID(), id: barId,
               name: 'Bookmarks bar', type: 'folder'};
  const other = folder('2', 'Other bookmarks', []);
  const synced = folder('3', 'Mobile bookmarks', []);
  const file = {checksum: md5.digest('hex'),
                roots: {bookmark_bar: bar, other, synced}, version: 1};
  fs.mkdirSync(defaultDir, {recursive: true});
  fs.writeFileSync(path.join(defaultDir, 'Bookmarks'), JSON.stringify(file, null, 3));
}

async function driveChromium() {
  const {chromium} = require('playwright-core');
  if (bookmarkUrl) writeChromiumBookmarks(path.join(profileDir, 'Default'), bookmarkUrl,
                                          'Quenlo bookmark');
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--password-store=basic', '--no-default-browser-check'],
  });
  // Downloads under their own name into downloadDir, as the browser does
  // for a user, instead of the automation's numbered copies.
  const page = context.pages()[0] || (await context.newPage());
  const session = await context.newCDPSession(page);
  await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloadDir});
  const api = {
    goto: (url) => page.goto(url, {waitUntil: 'load'}),
    click: (selector) => page.click(selector),
    type: (selector, text) => page.locator(selector).pressSequentially(text, {delay: 30}),
    waitForUrl: (part) => page.waitForURL((u) => u.toString().includes(part)),
    currentUrl: () => page.url(),
  };
  const done = await browse(api);
  await context.close();
  return done;
}

async function driveFirefox() {
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    userDataDir: profileDir,
    headless: true,
    extraPrefsFirefox: {
      'browser.download.dir': downloadDir,
      'browser.download.folderList': 2,
      'browser.download.useDownloadDir': true,
      'browser.download.always_ask_before_handling_new_types': false,
      'browser.download.start_downloads_in_tmp_dir': false,
      'browser.helperApps.neverAsk.saveToDisk': 'text/plain',
      // The bookmark comes from the profile's bookmarks.html (see the script).
      'browser.places.importBookmarksHTML': true,
      'browser.formfill.enable': true,
      'places.history.enabled': true,
    },
  });
  const page = (await browser.pages())[0] || (await browser.newPage());
  const api = {
    goto: (url) => page.goto(url, {waitUntil: 'load'}),
    click: async (selector) => {
      await page.waitForSelector(selector);
      await page.click(selector);
    },
    type: async (selector, text) => {
      await page.click(selector);
      await page.keyboard.type(text, {delay: 30});
    },
    waitForUrl: async (part) => {
      const end = Date.now() + 15000;
      while (!page.url().includes(part)) {
        if (Date.now() > end) throw new Error(`no page ${part} (at ${page.url()})`);
        await sleep(100);
      }
      await sleep(300);
    },
    currentUrl: () => page.url(),
  };
  const done = await browse(api);
  // puppeteer's close() kills the process as soon as the browser has
  // acknowledged the command, which can cut its shutdown (databases not
  // closed, session not written): ask for the quit and wait for the exit.
  const proc = browser.process();
  const exited = new Promise((resolve) => {
    if (proc.exitCode !== null) resolve();
    else proc.once('exit', resolve);
  });
  await browser.connection.send('browser.close', {}).catch(() => {});
  let timer;
  const timeout = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error('firefox did not exit within 120 s')), 120000);
  });
  try {
    await Promise.race([exited, timeout]);
  } finally {
    clearTimeout(timer);
  }
  return done;
}

(async () => {
  const done = browserName === 'chromium' ? await driveChromium() : await driveFirefox();
  console.log(JSON.stringify(done));
})().catch((error) => {
  console.error(`drive.js ${browserName}: ${error.stack || error}`);
  process.exit(1);
});
