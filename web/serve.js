// Serves the static site on 127.0.0.1 with the two headers that make the page cross-origin
// isolated, which its threads need. --no-isolation leaves them out (the page must then say
// what is missing).
//   node web/serve.js FOLDER [--port N] [--no-isolation]
"use strict";
const http = require("http");
const fs = require("fs");
const path = require("path");

const args = process.argv.slice(2);
const root = path.resolve(args[0] || ".");
const portIndex = args.indexOf("--port");
const port = portIndex >= 0 ? Number(args[portIndex + 1]) : 8000;
const isolated = !args.includes("--no-isolation");
const TYPES = {
  ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8",
  ".wasm": "application/wasm", ".bmp": "image/bmp", ".png": "image/png",
};

const server = http.createServer((request, response) => {
  const url = new URL(request.url, "http://localhost");
  let name = decodeURIComponent(url.pathname);
  if (name.endsWith("/")) name += "index.html";
  const file = path.join(root, path.normalize(name));
  // Only what lies in the folder is served.
  if (file !== root && !file.startsWith(root + path.sep)) {
    response.writeHead(403).end();
    return;
  }
  fs.readFile(file, (error, bytes) => {
    const headers = { "Cache-Control": "no-cache" };
    if (isolated) {
      headers["Cross-Origin-Opener-Policy"] = "same-origin";
      headers["Cross-Origin-Embedder-Policy"] = "require-corp";
    }
    if (error) {
      response.writeHead(404, headers).end("not found\n");
      return;
    }
    headers["Content-Type"] = TYPES[path.extname(file)] || "application/octet-stream";
    response.writeHead(200, headers).end(bytes);
  });
});
server.on("error", (error) => {
  console.error(`serve.js: cannot serve on 127.0.0.1:${port}: ${error.message}`);
  process.exit(1);
});
server.listen(port, "127.0.0.1", () => {
  console.log(`Pfadlotse: http://127.0.0.1:${server.address().port}/` + (isolated ? "" : " (without isolation headers)"));
});
