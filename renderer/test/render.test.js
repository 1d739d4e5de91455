import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';
import { createScheduler } from '../src/page/scheduler.js';
import { createInlineParser } from '../src/page/parser.js';
import { parseDocument } from './support/loaded.js';
import { headCut } from '../src/parse/head.js';
import { shownText } from '../src/parse/text.js';

// A harness whose render can be interrupted at its next yield between slices:
// `atFirstYield(fn)` runs `fn` there (which sends a newer "# New…" request),
// and the interrupted render goes on only once that newer one parses.
// `options` go to the harness.
function interruptibleHarness(options = {}) {
    let onYield = null;
    let parsing = null;
    const h = createHarness({
        ...options,
        scheduler: (win) => {
            const inner = createScheduler(win);
            const hooked = (wait) => async () => {
                const hook = onYield;
                onYield = null;
                if (hook) await hook();
                return wait();
            };
            return { ...inner, nextFrame: hooked(inner.nextFrame), yieldTask: hooked(inner.yieldTask) };
        },
        delay: async (source) => {
            if (source.startsWith('# New')) parsing?.();
            return 0;
        },
    });
    const atFirstYield = (fn) => {
        onYield = () => new Promise((resolve) => {
            parsing = resolve;
            fn();
        });
    };
    return { h, atFirstYield };
}

const TIMING_KEYS = ['diagramMs', 'domMs', 'frameCount', 'maxFrameGapMs', 'parseMs', 'parseTimeoutMs', 'parseWaitMs', 'postDomMs', 'totalMs'];

describe('render', () => {
    test('the reply describes the rendered document', async () => {
        const h = createHarness();
        const reply = await h.render('# Title\n\nText with ![i](i.png).\n\n## Next\n\n- a\n- b\n');
        assert.equal(reply.type, 'rendered');
        const p = reply.payload;
        assert.deepEqual(p.headings, [{ level: 1, text: 'Title', id: 'title' }, { level: 2, text: 'Next', id: 'next' }]);
        assert.deepEqual(p.blocks, [
            { id: 'title', kind: 'heading', sourceStart: 1, sourceEnd: 1 },
            { id: 'B2', kind: 'paragraph', sourceStart: 3, sourceEnd: 3 },
            { id: 'next', kind: 'heading', sourceStart: 5, sourceEnd: 5 },
            { id: 'B4', kind: 'list', sourceStart: 7, sourceEnd: 8 },
        ]);
        assert.deepEqual(p.images, { local: 1, remote: 0, rejected: 0 });
        assert.deepEqual(p.diagrams, { total: 0, failed: 0 });
        assert.deepEqual(Object.keys(p.timings).sort(), TIMING_KEYS);
        for (const value of Object.values(p.timings)) assert.ok(Number.isFinite(value));
        assert.deepEqual(p.limits, { depthClamped: 0, nodesClamped: 0, codeTruncated: 0, diagramsSkipped: 0 });
        assert.equal(p.parserMode, 'inline');
        assert.equal(p.degraded, undefined);
        assert.equal(h.doc.documentElement.lang, 'en');
        // The page reported its layout and the heading in view.
        assert.equal(h.eventsOf('layoutReport').at(-1).payload.reason, 'render');
        assert.deepEqual(h.eventsOf('activeHeading').at(-1).payload, { id: 'title', index: 0 });
        h.close();
    });

    test('a parse that runs out of time shows the text plainly and says so', async () => {
        const h = createHarness({ parseTimeoutMs: 50, delay: async () => 60 });
        const source = '# Big\r\n\r\n<script>x</script>\r\n' + 'line\n'.repeat(450);
        const reply = await h.render(source);
        const p = reply.payload;
        assert.equal(p.degraded.reason, 'timeout');
        assert.equal(typeof p.degraded.message, 'string');
        assert.equal(p.timings.parseTimeoutMs, 50);
        assert.equal(p.parserMode, 'plain');
        assert.deepEqual(p.headings, []);
        assert.deepEqual(p.blocks.map((b) => [b.kind, b.sourceStart, b.sourceEnd]), [['plain', 1, 200], ['plain', 201, 400], ['plain', 401, 454]]);
        const text = Array.from(h.article().querySelectorAll('pre.md-plain'), (pre) => pre.textContent).join('');
        assert.ok(text.startsWith('# Big\n\n<script>x</script>\nline\n'));
        assert.equal(h.doc.querySelectorAll('script').length, 0);
        h.close();
    });

    test('a background render never waits for frames', async () => {
        const h = createHarness({ visual: true });
        const source = Array.from({ length: 3000 }, (_, i) => `Paragraph ${i} with *some* text.`).join('\n\n');
        const reply = await h.render(source, { background: true });
        assert.equal(reply.payload.timings.frameCount, 0);
        assert.equal(reply.payload.timings.maxFrameGapMs, 0);
        assert.equal(h.blocks().length, 3000);
        h.close();
    });

    test('the reply\'s frame gap counts a long task from the request on', async () => {
        // The parse holds the page for 150 ms, as receiving a long
        // document's result does.
        const busy = async () => {
            const until = performance.now() + 150;
            while (performance.now() < until) { /* the page can show no frame */ }
            return 150;
        };
        const h = createHarness({ visual: true, delay: busy });
        const reply = await h.render('# Title\n\ntext');
        assert.ok(reply.payload.timings.maxFrameGapMs >= 140, JSON.stringify(reply.payload.timings));
        assert.ok(reply.payload.timings.frameCount >= 1);
        h.close();
    });

    test('the frame meter counts the wait for the first frame and for the frame still to come', () => {
        let clock = 1000;
        /** @type {((stamp: number) => void)[]} */
        let callbacks = [];
        const win = /** @type {any} */ ({
            performance: { now: () => clock },
            requestAnimationFrame: (callback) => callbacks.push(callback),
            setTimeout, clearTimeout,
        });
        const frame = (at) => {
            clock = at;
            const due = callbacks;
            callbacks = [];
            for (const callback of due) callback(at);
        };
        const { frameMeter } = createScheduler(win);
        const first = frameMeter();
        frame(1016);
        frame(1032);
        frame(1048);
        clock = 1300; // a long task, no frame yet
        assert.deepEqual(first.stop(), { frameCount: 3, maxFrameGapMs: 252 });
        const late = frameMeter();
        frame(1420);
        frame(1436);
        clock = 1440;
        assert.deepEqual(late.stop(), { frameCount: 2, maxFrameGapMs: 120 });
        const hidden = frameMeter();
        frame(1456);
        clock = 2000; // hidden meanwhile: no frames came
        assert.deepEqual(hidden.stop(false), { frameCount: 1, maxFrameGapMs: 16 });
    });

    test('a visible render inserts in slices and replaces the old document only when ready', async () => {
        const h = createHarness({ visual: true });
        await h.render('# Old\n\nold text');
        const source = Array.from({ length: 4000 }, (_, i) => `Block ${i} with \`code\` and **bold**.`).join('\n\n');
        const pending = h.render(source);
        const reply = await pending;
        assert.equal(reply.type, 'rendered');
        assert.equal(h.doc.querySelectorAll('.md-doc').length, 1);
        assert.equal(h.blocks().length, 4000);
        assert.equal(h.blocks().at(-1).id, 'B4000');
        assert.ok(reply.payload.timings.frameCount >= 0);
        h.close();
    });

    test('a render replaced while its blocks go in answers as superseded; the newer one shows its own document', async (t) => {
        // The newer request comes at the older render's first yield between
        // slices, and the older one goes on only once the newer one parses.
        const { h, atFirstYield } = interruptibleHarness();
        // Closed even after a failed check: the page's message port would
        // keep the test process alive.
        t.after(() => h.close());
        await h.render('# Old\n\nold text');
        const total = 2000;
        const long = Array.from({ length: total }, (_, i) => `Long ${i} with \`code\` and **bold**.`).join('\n\n');
        let insertedThen = -1;
        let newer = null;
        atFirstYield(() => {
            insertedThen = Array.from(h.doc.querySelectorAll('.md-doc')).at(-1).querySelectorAll(':scope > .md-chunk > *').length;
            newer = h.render('# New\n\nnew text');
        });
        const older = await h.render(long);
        assert.ok(insertedThen > 0 && insertedThen < total, `${insertedThen} of ${total} blocks in at the newer request`);
        assert.equal(older.type, 'error');
        assert.equal(older.payload.code, 'superseded');

        const reply = await newer;
        assert.equal(reply.type, 'rendered');
        assert.equal(reply.payload.renderGeneration, 3);
        assert.deepEqual(reply.payload.blocks.map((b) => b.id), ['new', 'B2']);
        assert.deepEqual(h.blocks().map((b) => b.id), ['new', 'B2']);
        assert.equal(h.doc.querySelectorAll('.md-doc').length, 1);
        assert.equal(h.doc.querySelectorAll('.md-staging').length, 0);
    });

    test('a render replaced while its document is still built out of sight leaves only the newer one', async (t) => {
        // The older render returns to a line near the end of a long document,
        // so it stays staged behind the old one for several slices; a clock
        // that moves 10 ms at each reading ends its first slice early.
        let clock = 0;
        const { h, atFirstYield } = interruptibleHarness({ now: () => (clock += 10) });
        t.after(() => h.close());
        await h.render('# Old\n\nold text');
        const total = 2000;
        const long = Array.from({ length: total }, (_, i) => `Long ${i} with \`code\` and **bold**.`).join('\n\n');
        let seen = null;
        let newer = null;
        atFirstYield(() => {
            seen = { docs: h.doc.querySelectorAll('.md-doc').length, staged: h.doc.querySelectorAll('.md-staging').length };
            newer = h.render('# New\n\nnew text');
        });
        const older = await h.render(long, { scrollToSource: { line: 2 * total - 5 } });
        assert.deepEqual(seen, { docs: 2, staged: 1 }, 'the older render was still staged at the newer request');
        assert.equal(older.type, 'error');
        assert.equal(older.payload.code, 'superseded');
        const reply = await newer;
        assert.equal(reply.type, 'rendered');
        assert.deepEqual(h.blocks().map((b) => b.id), ['new', 'B2']);
        assert.equal(h.doc.querySelectorAll('.md-doc').length, 1);
        assert.equal(h.doc.querySelectorAll('.md-staging').length, 0);
    });

    test('a long document shows its head first; the full parse keeps only what came out the same', async () => {
        const parts = ['# Start', 'A [reference][later] and a note[^n].', '```mermaid\ngraph TD; A-->B\n```'];
        for (let i = 0; i < 1200; i++) parts.push(i % 50 === 0 ? `## Part ${i}` : `Paragraph ${i} with $x_{${i}}$ and \`code\` and some more words.`);
        parts.push('[later]: https://example.org/later', '[^n]: The note.');
        const source = parts.join('\n\n');
        let headSeen = null;
        const h = createHarness({
            delay: async () => {
                headSeen = h.blocks().map((b) => b.id);
                return 0;
            },
        });
        const reply = await h.render(source);
        assert.ok(headSeen.length > 10 && headSeen.length < 400, `head of ${headSeen.length} blocks`);

        // The same document rendered in one piece.
        const whole = createHarness();
        const wholeReply = await whole.render(source, { background: true });
        assert.deepEqual(reply.payload.blocks, wholeReply.payload.blocks);
        assert.deepEqual(h.blocks().map((b) => b.outerHTML), whole.blocks().map((b) => b.outerHTML));
        assert.equal(h.doc.querySelectorAll('.md-doc').length, 1);
        assert.ok(h.doc.querySelector('a[href="https://example.org/later"]'), 'the reference resolved');
        assert.ok(h.doc.getElementById('fnref-F-1'), 'the footnote resolved');
        // The head's diagram request stands for the full document's.
        assert.equal(h.eventsOf('diagramRequest').length, 1);
        const id = h.eventsOf('diagramRequest')[0].payload.diagramID;
        assert.equal((await h.request('diagramResult', { diagramID: id, svg: '<svg></svg>' })).payload.accepted, true);
        assert.ok(h.article().querySelector('[data-diagram]').shadowRoot);
        h.close();
        whole.close();
    });

    test('a page shown while its first render parses (a spare taken into a window) shows the head', async () => {
        const source = Array.from({ length: 1200 }, (_, i) => `Paragraph ${i} with some words.`).join('\n\n');
        for (const shownMeanwhile of [true, false]) {
            let headSeen = null;
            let h = null;
            const inner = createInlineParser({
                parseDocument, headCut, now: () => performance.now(),
                delay: async () => { headSeen = h.blocks().length; return 0; },
            });
            const parser = {
                ...inner,
                parse: (text, options, timeoutMs, onHead) => inner.parse(text, options, timeoutMs, onHead && ((head) => {
                    if (shownMeanwhile) h.geometry.resize(900, 700);
                    onHead(head);
                })),
            };
            h = createHarness({ parser, geometry: { viewportHeight: 0, viewportWidth: 0 } });
            try {
                await h.render(source);
                assert.equal(headSeen > 0, shownMeanwhile, `head of ${headSeen} blocks`);
                assert.equal(h.blocks().length, 1200);
            } finally {
                h.close();
            }
        }
    });

    test('enhancements switch highlighting, math and diagrams off', async () => {
        const h = createHarness();
        const reply = await h.render('```js\nlet a\n```\n\n$x$\n\n```mermaid\ngraph TD\n```', {
            enhancements: { highlight: false, math: false, diagrams: false },
        });
        assert.equal(h.article().querySelectorAll('.hljs-keyword, .katex, [data-diagram]').length, 0);
        assert.equal(reply.payload.diagrams.total, 0);
        assert.equal(h.eventsOf('diagramRequest').length, 0);
        const bad = await h.render('x', { enhancements: { math: 'yes' } });
        assert.equal(bad.payload.code, 'invalidPayload');
        h.close();
    });
});

describe('what a shown document keeps', () => {
    // The parse results the page received, through a parser that notes them.
    function notingHarness(options = {}) {
        const results = [];
        const inner = createInlineParser({ parseDocument, now: () => performance.now(), headCut, later: options.later ?? false });
        const parser = {
            ...inner,
            async parse(source, parseOptions, timeoutMs, onHead, onEnhanced) {
                const outcome = await inner.parse(source, parseOptions, timeoutMs, onHead, onEnhanced);
                if (outcome.status === 'ok') results.push(outcome.result);
                return outcome;
            },
        };
        return { h: createHarness({ ...options, parser }), results };
    }

    test('the markup goes once the blocks are in; outline, search, anchors and headings still answer', async () => {
        const { h, results } = notingHarness({ geometry: { viewportHeight: 200, blockHeight: 100 } });
        const source = '# Intro\n\nalpha\n\n## Part Two\n\nbeta\n\n<div>raw</div>\n\ngamma';
        const reply = await h.render(source);
        assert.equal(results.length, 1);
        assert.equal(results[0].html, '');
        assert.deepEqual(results[0].offsets, []);
        assert.deepEqual(reply.payload.headings.map((heading) => heading.id), ['intro', 'part-two']);
        assert.equal(h.blocks().length, results[0].blocks.length);
        assert.equal((await h.request('find', { query: 'beta', direction: 'next', caseSensitive: false, restart: true })).payload.matchCount, 1);
        assert.equal((await h.request('scrollToHeading', { id: 'part-two' })).payload.found, true);
        const scrolled = h.geometry.scrollTop();
        const { anchor } = (await h.request('captureAnchor')).payload;
        // The same text again, and an edited one, render in full from their own parses.
        h.geometry.setScrollTop(0);
        const again = await h.render(source, { restoreAnchor: anchor });
        assert.equal(again.payload.anchorRestored.strategy, 'exact');
        assert.equal(h.geometry.scrollTop(), scrolled);
        await h.render(source.replace('beta', 'delta'));
        assert.equal(h.article().textContent.includes('delta'), true);
        assert.equal(h.blocks().length, results[2].blocks.length);
        h.close();
    });

    test('a long document\'s head keeps its markup until the full parse has taken what came out the same', async () => {
        const { h, results } = notingHarness({ visual: true });
        const source = Array.from({ length: 400 }, (_, i) => `Paragraph ${i} ${'words '.repeat(30)}`).join('\n\n');
        await h.render(source);
        const full = results[results.length - 1];
        assert.equal(full.html, '');
        assert.equal(h.blocks().length, full.blocks.length);
        assert.ok(h.blocks().every((block, i) => block.textContent.startsWith(`Paragraph ${i} `)));
        h.close();
    });
});

describe('highlighting and math after the blocks', () => {
    const source = Array.from({ length: 150 }, (_, i) => (i % 3 === 0
        ? `\`\`\`js\nconst v${i} = ${i};\n\`\`\``
        : `Paragraph ${i} with $x_{${i}}$.`)).join('\n\n');
    // Waits (a bounded number of checks) until `done()` holds. The page's
    // slices keep to a time budget, so on a busy machine each does less: the
    // bound leaves room for that, and still ends a page that never finishes.
    // A check that counts the blocks of a long document takes a while in
    // jsdom, and the page gets no frame meanwhile: after each one the page
    // has four times as long to itself.
    const until = async (done) => {
        for (let i = 0; i < 5000; i++) {
            const started = performance.now();
            if (done()) return true;
            const spent = performance.now() - started;
            await new Promise((resolve) => setTimeout(resolve, Math.max(1, 4 * spent)));
        }
        return done();
    };
    const enhanced = (h) => h.article().querySelectorAll('.katex, code.hljs').length;

    const isDressed = (block) => block.querySelector('.katex, code.hljs') !== null;

    test('the reply comes with the first screen dressed and the rest plain; the page ends as a full render does', async () => {
        const h = createHarness({ later: true });
        const whole = createHarness();
        const reply = await h.render(source);
        const first = enhanced(h);
        assert.ok(first > 0 && first < 50, `${first} blocks dressed`);
        assert.equal(h.blocks().findIndex((block) => !isDressed(block)), first, 'the first screen, nothing after it');
        assert.ok(!h.blocks()[0].textContent.includes('$'));
        const wholeReply = await whole.render(source);
        assert.deepEqual(reply.payload.blocks, wholeReply.payload.blocks);
        assert.deepEqual(reply.payload.headings, wholeReply.payload.headings);
        assert.ok(await until(() => enhanced(h) === 150), `${enhanced(h)} blocks enhanced`);
        assert.deepEqual(h.blocks().map((b) => b.outerHTML), whole.blocks().map((b) => b.outerHTML));
        h.close();
        whole.close();
    });

    test('on a visible page they start with the first screen; a block still to come gets its own once in', async () => {
        // 3000 blocks take many frames to go in; the worker's markup for
        // all of them is there long before.
        const long = Array.from({ length: 3000 }, (_, i) => (i % 3 === 0
            ? `\`\`\`js\nconst v${i} = ${i};\n\`\`\``
            : `Paragraph ${i} with $x_{${i}}$.`)).join('\n\n');
        const h = createHarness({ later: true, visual: true, geometry: { viewportHeight: 300 } });
        const whole = createHarness();
        let replied = false;
        const pending = h.render(long).finally(() => { replied = true; });
        // Whether a block was dressed while the rest went in, looked at (as
        // `until` does) until it was.
        let early = false;
        while (!early && !replied) {
            const started = performance.now();
            const article = h.article();
            const inSoFar = Array.from(article?.children ?? [], (chunk) => chunk.children.length).reduce((a, b) => a + b, 0);
            early = inSoFar < 3000 && article?.querySelector('.katex, code.hljs') != null;
            const spent = performance.now() - started;
            await new Promise((resolve) => setTimeout(resolve, Math.max(1, 4 * spent)));
        }
        const reply = await pending;
        assert.equal(reply.type, 'rendered');
        assert.ok(early, 'some blocks enhanced while the rest went in');
        const wholeReply = await whole.render(long);
        assert.deepEqual(reply.payload.blocks, wholeReply.payload.blocks);
        assert.ok(await until(() => enhanced(h) === 3000), `${enhanced(h)} blocks enhanced`);
        assert.deepEqual(h.blocks().map((b) => b.outerHTML), whole.blocks().map((b) => b.outerHTML));
        h.close();
        whole.close();
    });

    test('a formula not typeset yet shows a quiet box of about its size, never its source; with math off, its source', async () => {
        // Paragraphs of a dozen formulas get theirs a few at a time.
        const formulas = Array.from({ length: 60 }, (_, i) => (i % 2
            ? `Paragraph ${i} with $x_{${i}} + \\alpha$ inside` + Array.from({ length: 12 }, (_, k) => ` and $y_{${k}}^{${i}}$`).join(',') + '.'
            : `$$
\\frac{a_{${i}}}{b} \\\\ c
$$`)).join('\n\n');
        const h = createHarness({ later: true, geometry: { viewportHeight: 20 } });
        await h.render(formulas);
        const waiting = h.blocks().filter((block) => !isDressed(block));
        assert.ok(waiting.length > 40, `${waiting.length} blocks waiting`);
        for (const block of waiting) {
            assert.ok(!/[$\\]|alpha|frac/.test(block.textContent), block.textContent);
            assert.ok(block.querySelector('.md-math-pending'), block.outerHTML);
        }
        const inline = waiting.find((block) => block.tagName === 'P').querySelector('.md-math-pending');
        const display = waiting.find((block) => block.tagName === 'DIV').querySelector('.md-math-pending');
        assert.ok(parseFloat(inline.style.width) > 1 && !inline.style.height);
        assert.ok(parseFloat(display.style.height) > parseFloat(h.win.getComputedStyle(inline).height || '0'));
        // Once typeset, the same as a render that had math at once.
        const whole = createHarness();
        await whole.render(formulas);
        assert.ok(await until(() => enhanced(h) >= 60 && !h.article().enhancementsComing && h.article().querySelectorAll('.md-math-pending').length === 0));
        assert.deepEqual(h.blocks().map((b) => b.outerHTML), whole.blocks().map((b) => b.outerHTML));
        whole.close();
        h.close();

        const off = createHarness({ later: true });
        await off.render(formulas, { enhancements: { math: false } });
        assert.ok(off.blocks()[1].textContent.includes('$x_{1} + \\alpha$'));
        assert.equal(off.article().querySelectorAll('.md-math-pending').length, 0);
        off.close();
    });

    test('while the reader scrolls the blocks wait; they are dressed once the page holds still', async () => {
        const h = createHarness({ later: true, visual: true, geometry: { viewportHeight: 300 } });
        const reply = await h.render(source);
        assert.equal(reply.type, 'rendered');
        const atReply = enhanced(h);
        // Scroll events every few milliseconds for a while.
        const scrolling = Date.now() + 400;
        while (Date.now() < scrolling) {
            h.win.dispatchEvent(new h.win.Event('scroll'));
            await new Promise((resolve) => setTimeout(resolve, 5));
        }
        assert.ok(enhanced(h) - atReply <= 2, `${enhanced(h) - atReply} blocks dressed while scrolling`);
        assert.ok(await until(() => enhanced(h) === 150), `${enhanced(h)} blocks enhanced`);
        h.close();
    });

    test('the page\'s own scrolls, keeping the reading line while blocks above it are dressed, hold nothing', async () => {
        const h = createHarness({ later: true, visual: true, geometry: { viewportHeight: 300 } });
        assert.equal((await h.render(source)).type, 'rendered');
        // The view stays where the page put it: each scroll is its own.
        h.geometry.ownScroll = () => true;
        const atReply = enhanced(h);
        const scrolling = Date.now() + 400;
        while (Date.now() < scrolling && enhanced(h) < 150) {
            h.win.dispatchEvent(new h.win.Event('scroll'));
            await new Promise((resolve) => setTimeout(resolve, 5));
        }
        assert.ok(enhanced(h) - atReply > 2, `${enhanced(h) - atReply} blocks dressed meanwhile`);
        h.close();
    });

    test('only chunks near the screen get theirs at once; a search finds what they will show without putting them in place', async () => {
        // A screen of one block, which comes dressed.
        const h = createHarness({ later: true, geometry: { viewportHeight: 20 } });
        const whole = createHarness();
        /** @type {{callback: Function, watched: Set<Element>}[]} */
        const observers = [];
        h.win.IntersectionObserver = class {
            constructor(callback) {
                this.watched = new Set();
                this.callback = callback;
                observers.push(this);
            }
            observe(element) { this.watched.add(element); }
            unobserve(element) { this.watched.delete(element); }
            disconnect() { this.watched.clear(); }
        };
        await h.render(source);
        await whole.render(source);
        const chunks = Array.from(h.article().children);
        // As a real observer, it tells only of the chunks it watches.
        const report = (chunk, near) => {
            if (observers[0].watched.has(chunk)) observers[0].callback([{ target: chunk, isIntersecting: near }]);
        };
        report(chunks[1], true);
        // The reader pages past chunk 2: gone by the time the page holds
        // still, it waits until it comes near again.
        report(chunks[2], true);
        report(chunks[2], false);
        const nearOnes = chunks[1].children.length + 1;
        assert.ok(await until(() => enhanced(h) === nearOnes), `${enhanced(h)} of ${nearOnes} near blocks enhanced`);
        assert.equal(chunks[2].querySelectorAll('.katex, code.hljs').length, 0);

        const step = (page, query, restart = true) => page.request('find', { query, direction: 'next', caseSensitive: false, restart })
            .then((r) => r.payload);
        assert.deepEqual(await step(h, 'Paragraph'), { matchCount: 100, activeIndex: 0, found: true });
        assert.equal(enhanced(h), nearOnes + 1, 'the block of the match shown is put in place, nothing else');
        // The same matches as a page with everything in place: typeset math
        // by the text it shows, not by its source.
        for (const query of ['x1', 'x_{1', 'const v3', '$x']) {
            assert.equal((await step(h, query)).matchCount, (await step(whole, query)).matchCount, query);
        }
        assert.deepEqual(await step(h, 'Paragraph'), { matchCount: 100, activeIndex: 0, found: true });
        const marked = () => Array.from(h.article().querySelectorAll('mark.md-find'));
        const dressed = (mark) => mark.closest('.md-chunk > *').querySelector('.katex, code.hljs') !== null;
        assert.ok(marked().length > 0 && marked().every(dressed), 'only blocks that show their text are marked');
        assert.ok(h.article().querySelector('mark.md-find-active'));

        // As the rest comes near, its blocks are put in place and marked;
        // the search goes on where it was.
        for (const chunk of chunks) report(chunk, true);
        assert.ok(await until(() => enhanced(h) === 150), `${enhanced(h)} blocks enhanced`);
        assert.deepEqual(await step(h, 'Paragraph', false), { matchCount: 100, activeIndex: 1, found: true });
        await step(whole, 'Paragraph');
        const texts = (page) => Array.from(page.article().querySelectorAll('mark.md-find'), (mark) => mark.textContent);
        assert.deepEqual(texts(h), texts(whole));
        assert.equal(h.article().querySelectorAll('mark.md-find-active').length, 1);
        h.close();
        whole.close();
    });

    test('the blocks on screen get theirs first, and the worker is asked for them when it has not reached them', async (t) => {
        // A parser that sends the blocks' markup only when the test says.
        const asked = [];
        let held = null;
        const parser = {
            mode: 'inline', warmUp() {}, cancel() {}, dispose() {}, ping: async () => true,
            prefer: (from, to) => asked.push([from, to]),
            async parse(text, options, timeoutMs, onHead, onEnhanced) {
                const later = onEnhanced ? [] : undefined;
                const result = parseDocument(text, options, later);
                held = { later, onEnhanced };
                return { status: 'ok', result, later: later?.length ?? 0, waitMs: 0 };
            },
        };
        const send = (from, to) => held.onEnhanced(held.later.filter((entry) => entry.index >= from && entry.index <= to).map((entry) => {
            const html = entry.render();
            return { index: entry.index, html, text: shownText(html) };
        }), false);
        // Blocks of 100 px, a screen of 700: seven blocks and a part.
        const h = createHarness({ parser, visual: true, geometry: { viewportHeight: 700 } });
        t.after(() => h.close());
        // No chunk is ever reported near the screen.
        h.win.IntersectionObserver = class { observe() {} unobserve() {} disconnect() {} };
        assert.equal((await h.render(source)).type, 'rendered');
        send(0, 7);
        h.geometry.setScrollTop(8000);
        h.win.dispatchEvent(new h.win.Event('scroll'));
        const told = () => asked.filter(([from]) => from !== 0);
        assert.ok(await until(() => told().length > 0), 'the worker was told where the reader is');
        assert.deepEqual(told(), [[80, 87]]);
        send(80, 87);
        send(140, 149);
        const blocks = h.blocks();
        assert.ok(await until(() => blocks.slice(80, 88).every((_, k) => isDressed(h.blocks()[80 + k]))), 'the screen\'s blocks are dressed');
        assert.ok(h.blocks().slice(140).every((block) => !isDressed(block)), 'blocks far from the screen wait');
        assert.deepEqual(told(), [[80, 87]]);
    });

    test('the head of a long document is shown with its first screen dressed, and stays', async () => {
        const long = Array.from({ length: 1500 }, (_, i) => (i % 3 === 0
            ? `\`\`\`js\nconst v${i} = ${i};\n\`\`\``
            : `Paragraph ${i} with $x_{${i}}$ and a few more words to it.`)).join('\n\n');
        /** @type {Element[]} */
        let head = [];
        const h = createHarness({ later: true, delay: async () => { head = h.blocks(); return 0; } });
        await h.render(long);
        assert.ok(head.length > 5 && head.length < 100, `head of ${head.length} blocks`);
        // The screen (seven blocks of the test's geometry) is dressed.
        assert.ok(head.slice(0, 7).every(isDressed), 'no raw TeX, no uncoloured code on the first screen');
        assert.deepEqual(h.blocks().slice(0, head.length), head, 'the full parse kept them as they were');
        h.close();
    });

    test('a search stepping while they land keeps its matches and its place', async () => {
        const h = createHarness({ later: true });
        await h.render(source);
        const step = (restart) => h.request('find', { query: 'paragraph', direction: 'next', caseSensitive: false, restart })
            .then((r) => r.payload);
        assert.deepEqual(await step(true), { matchCount: 100, activeIndex: 0, found: true });
        assert.ok(await until(() => enhanced(h) === 150));
        assert.deepEqual(await step(false), { matchCount: 100, activeIndex: 1, found: true });
        assert.equal(h.article().querySelectorAll('mark.md-find').length, 100);
        h.close();
    });

    test('a slice counts the style and layout of what it put in, and keeps frames short', async () => {
        // A browser whose style and layout of new markup cost 0.01 ms a
        // character, paid when the page reads a layout or at the next frame.
        let clock = 0;
        let dirty = 0;
        const frames = [];
        let frameStarted = 0;
        const h = createHarness({
            later: true,
            visual: true,
            now: () => clock,
            scheduler: (win) => {
                const inner = createScheduler(win);
                return {
                    ...inner,
                    nextFrame: async () => {
                        clock += dirty;
                        dirty = 0;
                        frames.push(clock - frameStarted);
                        const stamp = await inner.nextFrame();
                        frameStarted = clock;
                        return stamp === null ? null : clock;
                    },
                };
            },
        });
        const replaceWith = h.win.Element.prototype.replaceWith;
        h.win.Element.prototype.replaceWith = function (...nodes) {
            for (const node of nodes) dirty += 0.01 * (node.outerHTML?.length ?? 0);
            return replaceWith.apply(this, nodes);
        };
        h.win.Element.prototype.getBoundingClientRect = function () {
            clock += dirty;
            dirty = 0;
            return { top: 0, left: 0, right: 0, bottom: 0, width: 0, height: 0, x: 0, y: 0 };
        };
        await h.render(source);
        assert.ok(await until(() => enhanced(h) === 150), `${enhanced(h)} blocks enhanced`);
        assert.ok(frames.length > 10, `${frames.length} frames`);
        assert.ok(Math.max(...frames) <= 50, `frames of ${frames.map(Math.round).join(', ')} ms`);
        h.close();
    });

    test('a render that returns to a place has them at once', async () => {
        const h = createHarness({ later: true });
        await h.render(source, { scrollToSource: { line: 40 } });
        assert.equal(enhanced(h), 150);
        h.close();
    });

    test('a newer render drops what is still coming for the older one', async () => {
        const h = createHarness({ later: true });
        await h.render(source);
        await h.render('# New\n\nText $y$.');
        assert.ok(await until(() => enhanced(h) === 1));
        // Whatever the older render still had would land within a few
        // tasks: each of its slices takes one.
        for (let i = 0; i < 200; i++) await new Promise((resolve) => setTimeout(resolve, 1));
        assert.equal(h.doc.querySelectorAll('.md-doc').length, 1);
        assert.equal(enhanced(h), 1);
        h.close();
    });
});

describe('diagrams', () => {
    test('placeholders ask for diagrams; results are applied once and progress is reported', async () => {
        const h = createHarness();
        await h.request('setTheme', { themeID: 'porcelain', themeRevision: 1, tokens: { '--md-canvas': '#FAFBFC', '--md-diagram-node': '#E8EEFA' } });
        const reply = await h.render('```mermaid\ngraph TD; A-->B\n```\n\n```mermaid\nbroken\n```');
        assert.deepEqual(reply.payload.diagrams, { total: 2, failed: 0 });
        const requests = h.eventsOf('diagramRequest').map((e) => e.payload);
        assert.equal(requests.length, 2);
        assert.equal(requests[0].source, 'graph TD; A-->B\n');
        assert.equal(requests[0].themeVariables.primaryColor, '#E8EEFA');

        const ok = await h.request('diagramResult', { diagramID: requests[0].diagramID, svg: '<svg xmlns="http://www.w3.org/2000/svg"><text>A</text></svg>' });
        assert.deepEqual(ok.payload, { diagramID: requests[0].diagramID, accepted: true });
        const again = await h.request('diagramResult', { diagramID: requests[0].diagramID, svg: '<svg></svg>' });
        assert.equal(again.payload.accepted, false);
        const failed = await h.request('diagramResult', { diagramID: requests[1].diagramID, error: { code: 'render', message: 'Parse error' } });
        assert.equal(failed.payload.accepted, true);
        const placeholder = h.article().querySelectorAll('[data-diagram]')[1];
        assert.equal(placeholder.getAttribute('data-state'), 'failed');
        assert.match(placeholder.textContent, /Parse error/);

        const progress = h.eventsOf('diagramsProgress').map((e) => e.payload);
        assert.deepEqual(progress.at(-1), {
            total: 2, done: 1, failed: 1, mode: 'isolated', inline: 0, isolated: 1, complete: true,
            diagramMs: progress.at(-1).diagramMs, maxFrameGapMs: 0, frameCount: 0,
        });

        // A new render forgets what the old one waited for; the same diagram
        // comes from the page's cache.
        const old = requests[1].diagramID;
        await h.render('```mermaid\ngraph TD; A-->B\n```');
        assert.equal((await h.request('diagramResult', { diagramID: old, svg: '<svg></svg>' })).payload.accepted, false);
        assert.equal(h.eventsOf('diagramRequest').length, 2);
        assert.ok(h.article().querySelector('[data-diagram]').shadowRoot.querySelector('svg'));
        h.close();
    });

    test('a theme change draws the diagrams again in its colours, the old drawing kept until then', async () => {
        const h = createHarness();
        const light = { '--md-canvas': '#FAFBFC', '--md-diagram-node': '#E8EEFA' };
        const dark = { '--md-canvas': '#101418', '--md-diagram-node': '#243447' };
        const svg = (label) => `<svg xmlns="http://www.w3.org/2000/svg"><text>${label}</text></svg>`;
        const drawn = (i) => h.article().querySelectorAll('[data-diagram]')[i].shadowRoot?.querySelector('text')?.textContent;
        const requests = () => h.eventsOf('diagramRequest').map((e) => e.payload);
        const answer = async (request, label) => (await h.request('diagramResult', { diagramID: request.diagramID, svg: svg(label) })).payload.accepted;

        await h.request('setTheme', { themeID: 'porcelain', themeRevision: 1, tokens: light });
        await h.request('setBackground', { pageBackground: '#FAFBFC', colorScheme: 'light' });
        await h.render('```mermaid\ngraph TD; A-->B\n```\n\n```mermaid\nbroken\n```\n\n```mermaid\ngraph LR; C\n```');
        const [first, broken, third] = requests();
        assert.equal(await answer(first, 'light A'), true);
        assert.equal((await h.request('diagramResult', { diagramID: broken.diagramID, error: { code: 'render', message: 'Parse error' } })).payload.accepted, true);

        // Switching to a dark theme: the drawn diagram is asked for again with
        // the new colours and scheme; the failed one is not; the one still
        // awaited is asked for again and its earlier answer is not shown.
        await h.request('setTheme', { themeID: 'graphite', themeRevision: 2, tokens: dark });
        await h.request('setBackground', { pageBackground: '#101418', colorScheme: 'dark' });
        const redrawn = requests().slice(3);
        const last = (id) => redrawn.filter((r) => r.diagramID === id).at(-1);
        assert.deepEqual([...new Set(redrawn.map((r) => r.diagramID))].sort(), [first.diagramID, third.diagramID].sort());
        assert.equal(last(first.diagramID).themeVariables.primaryColor, '#243447');
        assert.equal(last(first.diagramID).themeVariables.darkMode, true);
        assert.equal(drawn(0), 'light A', 'the old drawing stays until the new one comes');
        for (const request of [third, ...redrawn.filter((r) => r !== last(r.diagramID))]) {
            assert.equal(await answer(request, 'stale'), false);
        }
        assert.equal(drawn(0), 'light A');
        assert.equal(await answer(last(first.diagramID), 'dark A'), true);
        assert.equal(drawn(0), 'dark A');
        assert.equal(await answer(last(third.diagramID), 'dark C'), true);
        assert.equal(drawn(2), 'dark C');
        assert.equal(h.article().querySelectorAll('[data-diagram]')[1].getAttribute('data-state'), 'failed');

        // Back to the first theme: its drawings come from the page's cache,
        // and the answers to what was asked for on the way are not shown.
        const before = requests().length;
        await h.request('setTheme', { themeID: 'porcelain', themeRevision: 3, tokens: light });
        await h.request('setBackground', { pageBackground: '#FAFBFC', colorScheme: 'light' });
        assert.equal(drawn(0), 'light A');
        const onTheWay = requests().slice(before);
        for (const request of onTheWay.filter((r) => r.diagramID === first.diagramID)) {
            assert.equal(await answer(request, 'stale'), false);
        }
        assert.equal(drawn(0), 'light A');
        h.close();
    });
});

describe('a match found', () => {
    test('stays where it was shown while the blocks above it grow as they come on screen', async () => {
        const heights = new Map();
        const h = createHarness({ visual: true, geometry: { heightOf: (index) => heights.get(index) ?? 100 } });
        try {
            // The browser centres a mark it scrolls to.
            h.win.Element.prototype.scrollIntoView = function scrollIntoView() {
                h.geometry.setScrollTop(h.geometry.top(this) - h.geometry.viewportHeight() / 2);
            };
            const source = Array.from({ length: 60 }, (_, i) => `Paragraph ${i}${i === 40 ? ' target' : ''}.`).join('\n\n');
            await h.render(source);
            const reply = await h.request('find', { query: 'target', direction: 'next', caseSensitive: false, restart: true });
            assert.equal(reply.payload.matchCount, 1);
            const mark = h.article().querySelector('mark.md-find-active');
            const offset = () => h.geometry.top(mark) - h.geometry.scrollTop();
            const shown = offset();
            // The blocks between the reading line and the match are laid
            // out, and dressed, taller than their estimate.
            for (let i = 30; i < 40; i++) heights.set(i, 160);
            for (let frame = 0; frame < 8; frame++) await new Promise((resolve) => h.win.requestAnimationFrame(resolve));
            assert.equal(offset(), shown, 'the match is still where it was shown');
        } finally {
            h.close();
        }
    });
});
