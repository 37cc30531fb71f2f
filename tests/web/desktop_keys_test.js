// The page in Chromium as a user runs it: a window on an X display, keys typed on the keyboard
// (XTest), so the browser's own actions for them (F5 reloads, F12 opens its tools) get their
// chance. Headless Chromium hands keys to the page directly, which proves nothing about that.
// Needs DISPLAY (scripts/test runs it under Xvfb) and xdotool.
"use strict";
const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawn, execFileSync } = require("node:child_process");
const path = require("node:path");
const { chromium } = require("playwright-core");

const ROOT = path.resolve(__dirname, "../..");
const WWW = process.env.PFAD_WEB_ROOT || path.join(ROOT, "build-web/www");
const skip = process.env.DISPLAY ? false : "no X display";
let server;
let browser;
let page;

function typeKey(key) {
  execFileSync("xdotool", ["key", key]);
}

before(async () => {
  if (skip) return;
  server = spawn(process.execPath, [path.join(ROOT, "web/serve.js"), WWW, "--port", "0"]);
  const site = await new Promise((resolve, reject) => {
    server.stdout.on("data", (data) => {
      const found = /http:\/\/[0-9.:]+\//.exec(String(data));
      if (found) resolve(found[0]);
    });
    server.on("exit", () => reject(new Error("serve.js ended")));
  });
  browser = await chromium.launch({
    headless: false,
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--window-position=0,0", "--window-size=1000,800"],
  });
  const context = await browser.newContext({ acceptDownloads: true, viewport: null });
  page = await context.newPage();
  await page.goto(site);
  await page.waitForFunction(() => document.body.dataset.job === "1", null, { timeout: 20000 });
  // No window manager: the keyboard goes where X's focus is set.
  const windows = execFileSync("xdotool", ["search", "--sync", "--onlyvisible", "--class", "chromium"])
    .toString().trim().split("\n");
  execFileSync("xdotool", ["windowfocus", "--sync", windows[windows.length - 1]]);
  await page.click("#canvas");
  // Gone if the browser reloads the page.
  await page.evaluate(() => { window.pfadTestMark = 1; });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.kill();
});

const stillTheSamePage = () => page.evaluate(() => window.pfadTestMark === 1);

test("typed F5 saves the scene and the browser does not reload", { skip }, async () => {
  const before = await page.evaluate(() => document.body.dataset.saved || "");
  typeKey("F5");
  await page.waitForFunction((stamp) => (document.body.dataset.saved || "") !== stamp, before);
  await page.waitForTimeout(500);
  assert.equal(await stillTheSamePage(), true);
});

test("typed F12 downloads Screen.bmp and opens no developer tools", { skip }, async () => {
  // Docked developer tools take their room from the page.
  const width = await page.evaluate(() => window.innerWidth);
  const [download] = await Promise.all([page.waitForEvent("download"), Promise.resolve().then(() => typeKey("F12"))]);
  assert.equal(download.suggestedFilename(), "Screen.bmp");
  await page.waitForTimeout(500);
  assert.equal(await stillTheSamePage(), true);
  assert.equal(await page.evaluate(() => window.innerWidth), width);
});

const canvasPixels = () => page.evaluate(() => document.getElementById("canvas").toDataURL());

test("typed F1 shows the help panel over the frame and F1 again takes it away", { skip }, async () => {
  const pages = page.context().pages().length;
  const plain = await canvasPixels();
  typeKey("F1");
  await page.waitForFunction((before) => document.getElementById("canvas").toDataURL() !== before, plain);
  typeKey("F1");
  await page.waitForFunction((before) => document.getElementById("canvas").toDataURL() === before, plain);
  // The browser's own F1 would open its help in a new tab.
  assert.equal(page.context().pages().length, pages);
  assert.equal(await stillTheSamePage(), true);
});

const WALL = [128, 128, 255];

test("typed F6 brings back the saved scene and Escape ends the program", { skip }, async () => {
  const box = await page.locator("#canvas").boundingBox();
  await page.mouse.move(box.x + 400, box.y + 200);
  await page.mouse.down();
  await page.mouse.move(box.x + 400, box.y + 500, { steps: 10 });
  await page.mouse.up();
  await page.waitForFunction(([x, y, rgb]) => {
    const d = document.getElementById("canvas").getContext("2d").getImageData(x, y, 1, 1).data;
    return d[0] === rgb[0] && d[1] === rgb[1] && d[2] === rgb[2];
  }, [400, 300, WALL]);
  typeKey("F6");
  await page.waitForFunction(() => {
    const d = document.getElementById("canvas").getContext("2d").getImageData(400, 300, 1, 1).data;
    return d[0] === 0 && d[1] === 0 && d[2] === 0;
  });
  assert.equal(await stillTheSamePage(), true);
  typeKey("Escape");
  await page.waitForFunction(() => document.body.dataset.state === "ended");
});
