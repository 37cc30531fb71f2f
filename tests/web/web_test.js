// The browser build in Debian's Chromium, headless, against the page as scripts/run --web
// serves it. PFAD_WEB_ROOT: the site (build-web/www); PFAD_LINUX_TOOLS: the Linux build's
// tools, whose frames the page must match.
"use strict";
const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { chromium } = require("playwright-core");

const ROOT = path.resolve(__dirname, "../..");
const WWW = process.env.PFAD_WEB_ROOT || path.join(ROOT, "build-web/www");
const TOOLS = process.env.PFAD_LINUX_TOOLS || path.join(ROOT, "build/tools");
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "pfad-web-"));
const servers = [];
let browser;
let context;
let page;
let site;

function serve(extra) {
  const server = spawn(process.execPath, [path.join(ROOT, "web/serve.js"), WWW, "--port", "0", ...extra]);
  servers.push(server);
  return new Promise((resolve, reject) => {
    server.stdout.on("data", (data) => {
      const found = /http:\/\/[0-9.:]+\//.exec(String(data));
      if (found) resolve(found[0]);
    });
    server.on("exit", () => reject(new Error("serve.js ended")));
  });
}

// A 24-bit bottom-up BMP as top-down RGBA bytes, alpha 255.
function bmpToRgba(bytes) {
  const offset = bytes.readUInt32LE(10), width = bytes.readInt32LE(18), height = bytes.readInt32LE(22);
  const stride = Math.ceil((width * 3) / 4) * 4;
  const out = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; ++y)
    for (let x = 0; x < width; ++x) {
      const from = offset + (height - 1 - y) * stride + x * 3, to = (y * width + x) * 4;
      out[to] = bytes[from + 2];
      out[to + 1] = bytes[from + 1];
      out[to + 2] = bytes[from];
      out[to + 3] = 255;
    }
  return out;
}

// How many canvas pixels differ from the RGBA bytes, and the box around them.
function canvasDifference(rgba) {
  return page.evaluate((expected) => {
    const bytes = Uint8Array.from(atob(expected), (c) => c.charCodeAt(0));
    const canvas = document.getElementById("canvas");
    const data = canvas.getContext("2d").getImageData(0, 0, 800, 600).data;
    let count = 0, box = null;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] === bytes[i] && data[i + 1] === bytes[i + 1] && data[i + 2] === bytes[i + 2] && data[i + 3] === bytes[i + 3]) continue;
      const x = (i / 4) % 800, y = Math.floor(i / 4 / 800);
      count++;
      box = box ? [Math.min(box[0], x), Math.min(box[1], y), Math.max(box[2], x), Math.max(box[3], y)] : [x, y, x, y];
    }
    return { count, box };
  }, rgba.toString("base64"));
}

function pixel(x, y) {
  return page.evaluate(([x, y]) => Array.from(
    document.getElementById("canvas").getContext("2d").getImageData(x, y, 1, 1).data).slice(0, 3), [x, y]);
}
// Until the canvas shows the colour there: the page's frames come when the browser is ready.
function waitForPixel(x, y, rgb) {
  return page.waitForFunction(([x, y, rgb]) => {
    const d = document.getElementById("canvas").getContext("2d").getImageData(x, y, 1, 1).data;
    return d[0] === rgb[0] && d[1] === rgb[1] && d[2] === rgb[2];
  }, [x, y, rgb]);
}
const YELLOW = [255, 255, 0];  // the path
const WALL = [128, 128, 255];

function frames() { return page.evaluate(() => Module.pfadFrames || 0); }
function jobFinished() { return page.waitForFunction(() => document.body.dataset.job === "1", null, { timeout: 20000 }); }
async function open() {
  await page.goto(site);
  await jobFinished();
}

before(async () => {
  site = await serve([]);
  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync",
           // Each worker compiles the module's functions up front: the first search's time then
           // is the search's own, as on the desktop, and its label the same.
           "--js-flags=--no-wasm-lazy-compilation"],
  });
  context = await browser.newContext({ acceptDownloads: true, viewport: { width: 900, height: 720 } });
  page = await context.newPage();
  page.on("pageerror", (error) => console.error("page error:", error.message));
});

after(async () => {
  if (browser) await browser.close();
  for (const server of servers) server.kill();
  fs.rmSync(scratch, { recursive: true, force: true });
});

test("served without the isolation headers the page says what is missing", async () => {
  const bare = await serve(["--no-isolation"]);
  await page.goto(bare);
  assert.equal(await page.evaluate(() => crossOriginIsolated), false);
  const notice = await page.textContent("#notice");
  assert.match(notice, /Cross-Origin-Opener-Policy: same-origin/);
  assert.match(notice, /Cross-Origin-Embedder-Policy: require-corp/);
});

test("the first frame equals the Linux rendering of the start-up scene", async () => {
  await open();
  assert.equal(await page.evaluate(() => crossOriginIsolated), true);
  assert.equal(await page.title(), "Fenster");
  // The program draws its own cursor; the page's is hidden over the canvas.
  assert.equal(await page.$eval("#canvas", (canvas) => getComputedStyle(canvas).cursor), "none");
  // The frame shows the search's measured time; the Linux rendering is made with the same.
  const time = await page.evaluate(() => document.body.dataset.jobTime);
  assert.match(time, /^[0-9]+$/);
  const expected = path.join(scratch, "start-up.bmp");
  execFileSync(path.join(TOOLS, "pfadlotse-render"), ["--bmp", expected, "--time", time]);
  assert.deepEqual(await canvasDifference(bmpToRgba(fs.readFileSync(expected))), { count: 0, box: null });
});

test("a dragged wall changes the path; F5, a reload and F6 bring it back", async () => {
  await open();
  assert.deepEqual(await pixel(300, 340), YELLOW);
  const box = await page.locator("#canvas").boundingBox();
  await page.mouse.move(box.x + 400, box.y + 200);
  await page.mouse.down();
  await page.mouse.move(box.x + 400, box.y + 500, { steps: 10 });
  await page.mouse.up();
  await waitForPixel(400, 300, WALL);
  await jobFinished();
  await page.waitForTimeout(100);
  assert.notDeepEqual(await pixel(300, 340), YELLOW);

  const stamp = await page.evaluate(() => document.body.dataset.saved || "");
  await page.keyboard.press("F5");
  await page.waitForFunction((before) => (document.body.dataset.saved || "") !== before, stamp);
  await open();
  assert.notDeepEqual(await pixel(400, 300), WALL);
  await page.keyboard.press("F6");
  await waitForPixel(400, 300, WALL);
  await jobFinished();
  await page.waitForTimeout(100);
  assert.notDeepEqual(await pixel(300, 340), YELLOW);
});

for (const [how, act] of [["F12", () => page.keyboard.press("F12")], ["its button", () => page.click("#screenshot")]])
  test(`${how} downloads a Screen.bmp equal to the canvas`, async () => {
    await open();
    const [download] = await Promise.all([page.waitForEvent("download"), act()]);
    assert.equal(download.suggestedFilename(), "Screen.bmp");
    const saved = path.join(scratch, "Screen.bmp");
    await download.saveAs(saved);
    assert.deepEqual(await canvasDifference(bmpToRgba(fs.readFileSync(saved))), { count: 0, box: null });
  });

test("a right drag moves Start", async () => {
  await open();
  const START = [160, 160, 0];
  const box = await page.locator("#canvas").boundingBox();
  await page.mouse.move(box.x + 52, box.y + 338);
  await page.mouse.down({ button: "right" });
  await page.mouse.move(box.x + 200, box.y + 200, { steps: 5 });
  await page.mouse.up({ button: "right" });
  await waitForPixel(197, 200, START);  // left of the drawn cursor
  assert.notDeepEqual(await pixel(50, 340), START);
});

test("a dropped scene of 100,000 walls is searched while frames keep coming", async () => {
  await open();
  const scene = path.join(scratch, "dense.scene");
  execFileSync(path.join(TOOLS, "pfadlotse-scene"), ["random-dense", "--walls", "100000", "-o", scene], { stdio: "ignore" });
  const bytes = fs.readFileSync(scene).toString("base64");
  const before = await frames();
  const started = Date.now();
  await page.evaluate((b64) => {
    const file = new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], "dense.scene");
    const transfer = new DataTransfer();
    transfer.items.add(file);
    document.getElementById("canvas").dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, bytes);
  await page.waitForFunction(() => document.body.dataset.job === "0");
  await page.waitForFunction(() => document.body.dataset.job !== "0", null, { timeout: 60000 });
  const seconds = (Date.now() - started) / 1000, count = (await frames()) - before;
  console.log(`# 100,000 walls: ${count} frames in ${seconds.toFixed(2)} s while loading and searching`);
  assert.ok(count >= 5 * seconds, `only ${count} frames in ${seconds} s`);
});

test("a refused scene file leaves the scene and says why", async () => {
  await open();
  const huge = Buffer.alloc(16 + 32 * 1000000 + 32);
  await page.evaluate(([size]) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(size)], "huge.scene"));
    document.getElementById("canvas").dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, [huge.length]);
  await page.waitForFunction(() => document.getElementById("notice").textContent.includes("PathFindLog.txt"));
  await page.waitForTimeout(100);
  assert.deepEqual(await pixel(300, 340), YELLOW);
});

test("Escape ends the program and keeps its last frame", async () => {
  await open();
  await page.keyboard.press("Escape");
  await page.waitForFunction(() => document.body.dataset.state === "ended");
  const count = await frames();
  await page.waitForTimeout(300);
  assert.equal(await frames(), count);
  assert.deepEqual(await pixel(300, 340), YELLOW);
  assert.equal(await page.isVisible("#restart"), true);
});

// Last: each case ends the program it traps. The line the box must name: the trap's own line
// in the test seam, and for the stack overflow one within the recursing function.
const SEAM = fs.readFileSync(path.join(ROOT, "platform/web/web_main.cpp"), "utf8").split("\n");
const seamLine = (pattern) => SEAM.findIndex((line) => pattern.test(line)) + 1;
function expectedLines(kind) {
  if (kind !== 4) return [seamLine(new RegExp(`case ${kind}:`))];
  const first = seamLine(/int32_t Recurse\(/);
  return Array.from({ length: 6 }, (_, i) => first + i);
}
const TRAPS = [  // kind, how the box's first line begins: the text of the matching exception code
  [1, "Typ: An attempted read or write"],
  [2, "Typ: Attempted division by zero"],
  [3, "Typ: Try to execute an invalid instruction"],
  [4, "Typ: Stack overflow."],
];
for (const onWorker of [0, 1])
  for (const [kind, first] of TRAPS)
    test(`a trap of kind ${kind} on ${onWorker ? "a worker" : "the main thread"} shows the Fehler box`, async () => {
      await open();
      await page.evaluate(([kind, onWorker]) => {
        // A trap on the main thread is thrown out of this call; the page reports it from there.
        setTimeout(() => Module.ccall("PfadTrapForTest", null, ["number", "number"], [kind, onWorker]), 0);
      }, [kind, onWorker]);
      await page.waitForSelector("#fault", { state: "visible", timeout: 10000 });
      assert.equal(await page.textContent("#fault-caption"), "Fehler");
      const lines = (await page.textContent("#fault-text")).split("\n");
      assert.ok(lines[0].startsWith(first), lines[0]);
      const line = /^File: platform\/web\/web_main\.cpp   Line: ([0-9]+)$/.exec(lines[1]);
      assert.ok(line && expectedLines(kind).includes(Number(line[1])), lines[1]);
      assert.match(lines[2], /^Memory: [1-9][0-9]*$/);
      await page.keyboard.press("Enter");
      await page.waitForFunction(() => document.body.dataset.state === "ended");
      assert.equal(await page.isVisible("#fault"), false);
    });
