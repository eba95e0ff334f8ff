// Renders cube maps made by skyfold-cli and their source panorama in real
// viewers (headless chromium, SwiftShader WebGL) at the same directions and
// compares the pictures. A preset passes when every view of its faces is
// within a few levels of the panorama's and its two broken variants (two
// faces exchanged, one face mirrored) are far off at some view.
//
//   node run.mjs SKYFOLD_CLI WORK_DIR [PRESET...]
// Exit status 0 passed, 1 failed, 77 chromium missing (skipped).
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const [cli, work, ...only] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(chromium)) {
  console.log(`SKIPPED: no chromium at ${chromium} (apt-get install chromium)`);
  process.exit(77);
}
const puppeteer = (await import('puppeteer-core')).default;

// Within this a view matches; beyond that a broken variant must go.
const kMatch = 5.0;
const kBroken = 12.0;
const directions = [[0, 0], [90, 0], [180, 0], [270, 0], [45, 35], [0, 90], [0, -90]];
// Pannellum keeps the whole view within ±90° of pitch: at 90° field of view
// it looks at most 45° up or down, which shows the pole at the view's edge.
const pannellumDirections = [[0, 0], [90, 0], [180, 0], [270, 0], [45, 35], [0, 45], [120, -45]];

const viewers = {
  opengl: { page: 'opengl.html', directions },
  threejs: { page: 'threejs.html', directions },
  pannellum: { page: 'pannellum.html', directions: pannellumDirections },
  psv: { page: 'psv.html', directions },
};
const suffixes = {
  opengl: ['px', 'nx', 'py', 'ny', 'pz', 'nz'],
  threejs: ['px', 'nx', 'py', 'ny', 'pz', 'nz'],
  pannellum: ['f', 'r', 'b', 'l', 'u', 'd'],
  psv: ['left', 'front', 'right', 'back', 'top', 'bottom'],
};

fs.mkdirSync(work, { recursive: true });
const started = Date.now();
const pano = path.join(work, 'pattern.bmp');
execFileSync(cli, ['test-pattern', '-w', '2048', '-f', pano], { stdio: 'ignore' });
const presets = only.length ? only : Object.keys(viewers);
for (const preset of presets) {
  execFileSync(cli, ['to-cube', '-q', '-f', '-s', '512', '-t', 'bmp', '--preset', preset,
                     '-n', preset, '-o', work, pano], { stdio: 'ignore' });
}

const roots = { '/node_modules/': path.join(here, 'node_modules'), '/pages/': path.join(here, 'pages'),
                '/work/': work };
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                '.bmp': 'image/bmp', '.json': 'application/json' };
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  const prefix = Object.keys(roots).find((p) => url.startsWith(p));
  const file = prefix && path.join(roots[prefix], url.slice(prefix.length));
  if (!file || !file.startsWith(roots[prefix]) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  fs.createReadStream(file).pipe(response);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--allow-file-access-from-files', '--no-sandbox', '--disable-gpu-sandbox'],
});
let failed = false;
try {
  for (const preset of presets) {
    const t0 = Date.now();
    const { page: file, directions: dirs } = viewers[preset];
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.goto(`${base}/pages/${file}`);
    await page.waitForFunction('window.ready === true', { timeout: 30000 }).catch(() => {
      throw new Error(`${preset}: page did not start: ${errors.join('; ')}`);
    });
    const faces = suffixes[preset].map((s) => `/work/${preset}_${s}.bmp`);
    const result = await page.evaluate((job) => window.runCompare(job),
                                       { pano: '/work/pattern.bmp', faces, directions: dirs });
    await page.close();
    const worst = Math.max(...result.faces);
    const swappedWorst = Math.max(...result.swapped);
    const mirroredWorst = Math.max(...result.mirrored);
    const ok = worst <= kMatch && swappedWorst >= kBroken && mirroredWorst >= kBroken;
    failed ||= !ok;
    const show = (list) => list.map((d) => d.toFixed(1)).join(' ');
    console.log(`${ok ? 'PASS' : 'FAIL'} ${preset} (${((Date.now() - t0) / 1000).toFixed(1)} s): ` +
                `faces [${show(result.faces)}] (≤ ${kMatch}), two exchanged [${show(result.swapped)}], ` +
                `one mirrored [${show(result.mirrored)}] (some ≥ ${kBroken}); directions ` +
                dirs.map(([y, p]) => `${y}/${p}`).join(' '));
  }
} finally {
  await browser.close();
  server.close();
}
console.log(`browser tests took ${((Date.now() - started) / 1000).toFixed(1)} s`);
process.exit(failed ? 1 : 0);
