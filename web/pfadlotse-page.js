// The page around the program: checks that threads can run here, keeps PathFindLog.txt in the
// browser's storage across reloads, downloads each new Screen.bmp, hands dropped or chosen
// scene files to the program, and shows the "Fehler" box when the program traps.
"use strict";
(function () {
  const SCENE = "PathFindLog.txt";
  const SCREENSHOT = "Screen.bmp";
  // The program's own cap; one byte more is enough for it to refuse a longer file unread.
  const SCENE_MAX_BYTES = 16 + 32 * 1000000;
  const canvas = document.getElementById("canvas");
  const notice = document.getElementById("notice");
  const $ = (id) => document.getElementById(id);

  function say(text, problem) {
    notice.textContent = text;
    notice.className = problem ? "problem" : "";
  }

  if (!window.crossOriginIsolated) {
    say("Pfadlotse cannot start here: its search runs on a thread of its own, and a browser " +
        "gives a page threads only when the server sends two HTTP headers with it:\n" +
        "  Cross-Origin-Opener-Policy: same-origin\n" +
        "  Cross-Origin-Embedder-Policy: require-corp\n" +
        "This server sent the page without them (or the page was opened as a file). " +
        "Serve the folder with both headers, for example with scripts/run --web.", true);
    document.body.dataset.state = "not-isolated";
    return;
  }

  // ---- Storage: one IndexedDB store, file name to bytes ----
  function openStore() {
    return new Promise((resolve, reject) => {
      const request = indexedDB.open("pfadlotse", 1);
      request.onupgradeneeded = () => request.result.createObjectStore("files");
      request.onsuccess = () => resolve(request.result);
      request.onerror = () => reject(request.error);
    });
  }
  function storeCall(mode, act) {
    return openStore().then((db) => new Promise((resolve, reject) => {
      const transaction = db.transaction("files", mode);
      const request = act(transaction.objectStore("files"));
      transaction.oncomplete = () => { db.close(); resolve(request.result); };
      transaction.onerror = transaction.onabort = () => { db.close(); reject(transaction.error); };
    }));
  }

  // What each file looked like when the page last dealt with it: a save or a screenshot is a
  // change of its time or size.
  const seen = {};
  function stampOf(name) {
    try {
      const status = FS.stat(name);
      return status.mtime.getTime() + ":" + status.size;
    } catch (e) {
      return null;
    }
  }

  function syncFiles(jobStatus, jobTimeMs) {
    if (document.body.dataset.job !== String(jobStatus)) {
      document.body.dataset.jobTime = jobTimeMs;
      document.body.dataset.job = jobStatus;
    }
    const sceneStamp = stampOf(SCENE);
    if (sceneStamp && sceneStamp !== seen[SCENE]) {
      seen[SCENE] = sceneStamp;
      const bytes = FS.readFile(SCENE);
      storeCall("readwrite", (store) => store.put(bytes, SCENE))
        .then(() => { document.body.dataset.saved = sceneStamp; })
        .catch((e) => say("The scene could not be kept in the browser's storage: " + e, true));
    }
    const shotStamp = stampOf(SCREENSHOT);
    if (shotStamp && shotStamp !== seen[SCREENSHOT]) {
      seen[SCREENSHOT] = shotStamp;
      const url = URL.createObjectURL(new Blob([FS.readFile(SCREENSHOT)], { type: "image/bmp" }));
      const link = document.createElement("a");
      link.href = url;
      link.download = SCREENSHOT;
      link.click();
      setTimeout(() => URL.revokeObjectURL(url), 60000);
    }
  }

  // ---- The fault box ----
  let faultShown = false;
  function showBox(caption, text) {
    $("fault-caption").textContent = caption;
    $("fault-text").textContent = text;
    $("fault").style.display = "flex";
    $("fault-ok").focus();
  }
  function closeBox() {
    $("fault").style.display = "none";
    if (faultShown) {
      Module.ccall("PfadEndAfterFault", null, [], []);
      ended("The program ended after a fault.");
    }
  }
  $("fault-ok").addEventListener("click", closeBox);
  $("fault").addEventListener("keydown", (e) => {
    if (e.key === "Enter") { e.preventDefault(); e.stopPropagation(); closeBox(); }
  }, true);

  function ended(text) {
    say(text || "The program has ended (Escape). The last frame stays above.");
    document.body.dataset.state = "ended";
    $("restart").hidden = false;
  }
  $("restart").addEventListener("click", () => location.reload());

  // ---- Traps: the "Fehler" box with the kind, our source line and the code offset ----
  const KINDS = [  // the trap's words, and the exception code whose text the box shows
    [/out of bounds/i, 0xC0000005],
    [/divide by zero|remainder by zero/i, 0xC0000094],
    [/unreachable/i, 0xC000001D],
    [/call stack size|stack overflow/i, 0xC00000FD],
  ];
  let sourceMap = null;
  function loadSourceMap() {
    if (!sourceMap) {
      sourceMap = fetch("pfadlotse.wasm.map").then((r) => r.json()).then(decodeSourceMap).catch(() => null);
    }
    return sourceMap;
  }
  // The map's entries as [code offset, source index, line], by offset.
  function decodeSourceMap(map) {
    const DIGITS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const entries = [];
    const state = [0, 0, 0, 0];
    for (const segment of map.mappings.split(",")) {
      if (!segment) continue;
      let field = 0, value = 0, shift = 0;
      for (const ch of segment) {
        const digit = DIGITS.indexOf(ch);
        value += (digit & 31) << shift;
        if (digit & 32) { shift += 5; continue; }
        state[field++] += value & 1 ? -(value >>> 1) : value >>> 1;
        value = shift = 0;
      }
      if (field >= 3) entries.push([state[0], state[1], state[2] + 1]);
    }
    const sources = map.sources.map((name) => name.replace(/^(\.\.?\/)+/, ""));
    return { entries, sources };
  }
  function sourceLineOf(map, offset) {
    let low = 0, high = map.entries.length - 1, found = -1;
    while (low <= high) {
      const middle = (low + high) >> 1;
      if (map.entries[middle][0] <= offset) { found = middle; low = middle + 1; } else high = middle - 1;
    }
    if (found < 0) return null;
    const [, source, line] = map.entries[found];
    return { file: map.sources[source], line };
  }
  // Ours: the project's sources, not Emscripten's libraries.
  const isOurs = (file) => /^(app|platform|pathsearch|geometry|fault|analysis)\//.test(file);

  function reportTrap(name, message, stack) {
    if (faultShown) return;
    faultShown = true;
    Module.pfadFaultReported = true;
    const kind = (KINDS.find(([words]) => words.test(message)) || [null, 0])[1];
    const offsets = [...String(stack).matchAll(/wasm-function\[\d+\]:0x([0-9a-f]+)/g)].map((m) => parseInt(m[1], 16));
    loadSourceMap().then((map) => {
      let where = null;
      for (const offset of map ? offsets : []) {
        const found = sourceLineOf(map, offset);
        if (found && isOurs(found.file)) { where = found; break; }
      }
      const text = Module.ccall("PfadFaultText", "string", ["number", "string", "number", "number"],
                                [kind, where ? where.file : "", where ? where.line : 0, offsets[0] || 0]);
      console.error(text);
      document.body.dataset.fault = text;
      showBox("Fehler", text);
    });
  }
  window.addEventListener("error", (event) => {
    const error = event.error;
    if (error instanceof WebAssembly.RuntimeError || error instanceof RangeError) {
      reportTrap(error.name, error.message, error.stack);
    }
  });
  new BroadcastChannel("pfadlotse-fault").onmessage = (event) => {
    reportTrap(event.data.name, event.data.message, event.data.stack);
  };

  // ---- Buttons and dropped files ----
  function pressKey(code) {
    const init = { code: code, key: code, bubbles: true, cancelable: true };
    document.dispatchEvent(new KeyboardEvent("keydown", init));
    document.dispatchEvent(new KeyboardEvent("keyup", init));
    canvas.focus();
  }
  $("save").addEventListener("click", () => pressKey("F5"));
  $("load").addEventListener("click", () => pressKey("F6"));
  $("screenshot").addEventListener("click", () => pressKey("F12"));
  $("open").addEventListener("click", () => $("file").click());
  $("file").addEventListener("change", () => {
    if ($("file").files.length) loadSceneFile($("file").files[0]);
    $("file").value = "";
  });
  canvas.addEventListener("contextmenu", (e) => e.preventDefault());
  canvas.addEventListener("dragover", (e) => e.preventDefault());
  canvas.addEventListener("drop", (e) => {
    e.preventDefault();
    if (e.dataTransfer.files.length) loadSceneFile(e.dataTransfer.files[0]);
  });

  function loadSceneFile(file) {
    file.slice(0, SCENE_MAX_BYTES + 1).arrayBuffer().then((buffer) => {
      try { FS.mkdir("/dropped"); } catch (e) { /* made by an earlier drop */ }
      const path = "/dropped/" + SCENE;
      FS.writeFile(path, new Uint8Array(buffer));
      say("");
      Module.ccall("PfadLoadDroppedScene", null, ["string"], [path]);
    });
  }

  // ---- The program ----
  window.Module = {
    canvas: canvas,
    print: (text) => console.log(text),
    printErr: (text) => {
      console.error(text);
      // What the program says on stderr (a refused file, a failed save) is the user's to read;
      // a worker's trap is told by the fault box instead.
      if (!faultShown && !/^worker sent an error/.test(text)) say(text, true);
    },
    preRun: [() => {
      addRunDependency("stored-scene");
      storeCall("readonly", (store) => store.get(SCENE))
        .then((bytes) => {
          if (bytes) {
            FS.writeFile(SCENE, bytes);
            seen[SCENE] = stampOf(SCENE);
          }
        })
        .catch((e) => say("The browser's storage could not be read: " + e, true))
        .finally(() => removeRunDependency("stored-scene"));
    }],
    pfadSyncFiles: syncFiles,
    pfadShowBox: showBox,
    pfadEnded: () => ended(),
    pfadFramePresented: () => {
      Module.pfadFrames = (Module.pfadFrames || 0) + 1;
    },
    pfadFaultReported: false,
  };
  canvas.focus();
  const program = document.createElement("script");
  program.src = "pfadlotse.js";
  document.body.appendChild(program);
})();
