// Builds the renderer page into dist/: index.html, renderer.js (the page),
// parse-worker.js (the module worker), renderer.css and KaTeX's fonts as
// woff2. highlight.js (its core and each language) and KaTeX go into chunks
// of their own in dist/chunks/, which the worker imports only for a document
// that needs them; code shared by the page and the worker goes there too.
// The reader serves only .html .js .css .json .png .svg .woff2, and the
// page's content security policy allows no eval and no network calls; the
// build checks both, and that neither entry holds highlight.js or KaTeX.
//
// The diagram host page goes beside it: diagram-host.html, diagram-host.js
// (a plain script), diagram-host.css and mermaid's own single-file browser
// build, mermaid.min.js, with mermaid's licence notices in licenses/ (kept
// with the files, never served).
//
// dist-bench/ gets the naive baseline pages (plain, and with highlighting and
// math) that bench/render compares the renderer page with; never shipped.

import * as esbuild from 'esbuild';
import { readFile, writeFile, rm, mkdir, copyFile, cp, readdir } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const src = path.join(here, 'src');
const dist = path.join(here, 'dist');
const distBench = path.join(here, 'dist-bench');

const SERVED = new Set(['.html', '.js', '.css', '.json', '.png', '.svg', '.woff2']);
// Licence notices ship in dist/licenses/ as text; the scheme does not serve them.
const NOTICES = 'licenses';

// KaTeX lists woff and ttf beside each woff2 font; only woff2 is shipped.
const woff2Only = {
    name: 'woff2-only',
    setup(build) {
        build.onLoad({ filter: /katex[\\/]dist[\\/]katex(\.min)?\.css$/ }, async (args) => {
            const css = await readFile(args.path, 'utf8');
            const stripped = css.replace(/,\s*url\([^)]*\.(?:woff|ttf)\)\s*format\("(?:woff|truetype)"\)/g, '');
            if (/\.(?:woff|ttf)\)/.test(stripped)) throw new Error('KaTeX style sheet still names woff or ttf fonts');
            return { contents: stripped, loader: 'css' };
        });
    },
};

const common = {
    bundle: true,
    minify: true,
    sourcemap: false,
    legalComments: 'none',
    target: ['es2022'],
    logLevel: 'warning',
    absWorkingDir: here,
};

async function listFiles(dir) {
    const entries = await readdir(dir, { withFileTypes: true, recursive: true });
    return entries.filter((e) => e.isFile()).map((e) => path.join(e.parentPath ?? e.path, e.name));
}

async function check(dir, needed) {
    const files = await listFiles(dir);
    for (const file of files) {
        const ext = path.extname(file).toLowerCase();
        if (ext === '.txt' && path.relative(dir, path.dirname(file)) === NOTICES) continue;
        if (!SERVED.has(ext)) throw new Error(`${path.basename(dir)} holds a file the reader would not serve: ${path.relative(dir, file)}`);
        if (ext !== '.js') continue;
        const code = await readFile(file, 'utf8');
        const forbidden = [
            [/(?<![.\w$])eval\s*\((?!\s*\))/, 'eval'],
            [/\bnew\s+Function\s*\(/, 'new Function'],
            [/\bXMLHttpRequest\b/, 'XMLHttpRequest'],
            [/\bWebSocket\b/, 'WebSocket'],
            [/(?<![.\w$])fetch\s*\((?!\s*\))/, 'fetch'],
            [/(?<![.\w$])importScripts\s*\(/, 'importScripts'],
        ];
        for (const [pattern, name] of forbidden) {
            if (pattern.test(code)) throw new Error(`${path.relative(dir, file)} uses ${name}`);
        }
    }
    for (const name of needed) {
        if (!files.includes(path.join(dir, name))) throw new Error(`${path.basename(dir)} lacks ${name}`);
    }
}

// Marks of code that must stay out of the entries, loaded only on demand.
const LAZY_MARKS = [
    ['KaTeX parse error', 'KaTeX'],
    ['Could not find the language', 'highlight.js'],
];

async function checkLazy(dir, entries) {
    for (const entry of entries) {
        const code = await readFile(path.join(dir, entry), 'utf8');
        for (const [mark, name] of LAZY_MARKS) {
            if (code.includes(mark)) throw new Error(`${entry} holds ${name}, which must load on demand`);
        }
    }
    const chunks = await readdir(path.join(dir, 'chunks'));
    if (!chunks.some((name) => name.startsWith('katex-'))) throw new Error('dist/chunks lacks the KaTeX chunk');
    if (!chunks.some((name) => name.startsWith('python-'))) throw new Error('dist/chunks lacks the language chunks');
}

async function buildDiagramHost() {
    await esbuild.build({
        ...common,
        entryPoints: { 'diagram-host': path.join(src, 'diagram-host', 'main.js') },
        outdir: dist,
        format: 'iife',
    });
    await esbuild.build({
        ...common,
        entryPoints: { 'diagram-host': path.join(src, 'diagram-host', 'diagram-host.css') },
        outdir: dist,
    });
    await copyFile(path.join(src, 'diagram-host.html'), path.join(dist, 'diagram-host.html'));
    const mermaid = path.join(here, 'node_modules', 'mermaid');
    await copyFile(path.join(mermaid, 'dist', 'mermaid.min.js'), path.join(dist, 'mermaid.min.js'));
    const { version } = JSON.parse(await readFile(path.join(mermaid, 'package.json'), 'utf8'));
    const notice = [
        `mermaid ${version}`,
        '',
        await readFile(path.join(mermaid, 'LICENSE'), 'utf8'),
        await readFile(path.join(mermaid, 'THIRD_PARTY_NOTICES'), 'utf8'),
        'mermaid.min.js also bundles other packages; their licence notices are kept in the',
        'comments at the end of that file.',
        '',
    ].join('\n');
    await mkdir(path.join(dist, NOTICES), { recursive: true });
    await writeFile(path.join(dist, NOTICES, 'mermaid.txt'), notice);
}

// Typeset math as the worker makes it, which the page lays out while it
// warms up (src/page/layout.js): an inline and a display formula.
async function mathWarmup() {
    const { parseLoaded } = await import(pathToFileURL(path.join(src, 'worker.js')).href);
    const source = 'Grows as $O(n_1 \\log n)$.\n\n$$\nx_1 = \\frac{a+1}{b} = \\sum_{k=1}^{n} k^2 = \\int_0^1 f(t)\\,dt\n$$\n';
    const { result } = await parseLoaded(source, { highlight: false, math: true, diagrams: false, language: 'en' });
    if (!result.html.includes('class="katex')) throw new Error('the math warm-up was not typeset');
    return result.html;
}

async function main() {
    await rm(dist, { recursive: true, force: true });
    await mkdir(dist, { recursive: true });

    await esbuild.build({
        ...common,
        define: { __MATH_WARMUP__: JSON.stringify(await mathWarmup()) },
        entryPoints: { renderer: path.join(src, 'main.js'), 'parse-worker': path.join(src, 'worker.js') },
        outdir: dist,
        format: 'esm',
        splitting: true,
        chunkNames: 'chunks/[name]-[hash]',
        outExtension: { '.js': '.js' },
    });

    await esbuild.build({
        ...common,
        entryPoints: { renderer: path.join(src, 'styles', 'renderer.css') },
        outdir: dist,
        loader: { '.woff2': 'file' },
        assetNames: 'fonts/[name]',
        plugins: [woff2Only],
    });

    await copyFile(path.join(src, 'index.html'), path.join(dist, 'index.html'));
    await checkLazy(dist, ['renderer.js', 'parse-worker.js']);
    await buildDiagramHost();
    await check(dist, ['index.html', 'renderer.js', 'renderer.css', 'parse-worker.js',
        'diagram-host.html', 'diagram-host.js', 'diagram-host.css', 'mermaid.min.js',
        `${NOTICES}/mermaid.txt`]);

    await rm(distBench, { recursive: true, force: true });
    await mkdir(distBench, { recursive: true });
    await esbuild.build({
        ...common,
        entryPoints: {
            baseline: path.join(here, 'bench', 'baseline.js'),
            'baseline-full': path.join(here, 'bench', 'baseline-full.js'),
        },
        outdir: distBench,
        format: 'esm',
    });
    await copyFile(path.join(here, 'bench', 'baseline.html'), path.join(distBench, 'baseline.html'));
    await copyFile(path.join(here, 'bench', 'baseline-full.html'), path.join(distBench, 'baseline-full.html'));
    await cp(path.join(dist, 'renderer.css'), path.join(distBench, 'renderer.css'));
    await cp(path.join(dist, 'fonts'), path.join(distBench, 'fonts'), { recursive: true });
    await check(distBench, ['baseline.html', 'baseline.js', 'baseline-full.html', 'baseline-full.js', 'renderer.css']);
}

main().catch((error) => {
    console.error(`renderer build failed: ${error.message}`);
    process.exit(1);
});
