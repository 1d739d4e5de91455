import { test } from 'node:test';
import assert from 'node:assert/strict';
import { JSDOM } from 'jsdom';
import { createViews } from '../src/page/view.js';

// A parse result of `count` one-line paragraphs, B1…, without parsing.
function result(count) {
    const blocks = [];
    const parts = [];
    const offsets = [0];
    for (let i = 0; i < count; i++) {
        const html = `<p id="B${i + 1}">${i}</p>`;
        blocks.push({ id: `B${i + 1}`, kind: 'paragraph', start: i + 1, end: i + 1, fp: `f${i}`, heading: -1, est: 30 });
        parts.push(html);
        offsets.push(offsets[i] + html.length);
    }
    return { html: parts.join(''), offsets, blocks, headings: [], images: { local: 0, remote: 0, rejected: 0 }, diagrams: [], limits: {}, lineCount: count, parseMs: 0 };
}

// Each chunk that skips its contents costs the browser time at every frame,
// growing with the square of their number: a long document has a bounded
// number of chunks, and a head's chunks (here a head longer than the chunks
// every document shares) stay good for its full document.
test('a long document goes into a bounded number of chunks, in order, after a head of thousands of blocks', () => {
    const doc = new JSDOM('<!doctype html><body></body>').window.document;
    const state = { session: { documentID: 'DOC-1' }, language: 'en' };
    const views = createViews({ doc, geometry: /** @type {any} */ ({ viewportHeight: () => 768 }), sanitizer: /** @type {any} */ (null), state });
    const ids = (view) => Array.from(view.article.querySelectorAll(':scope > .md-chunk > *')).map((e) => e.id);

    const full = result(60000);
    const alone = views.makeView(full, 1);
    alone.builder.append(0, 60000);
    alone.count = 60000;
    assert.ok(alone.article.children.length <= 400, `${alone.article.children.length} chunks`);
    assert.deepEqual(ids(alone), full.blocks.map((b) => b.id));

    const head = views.makeView(result(3500), 1);
    head.builder.append(0, 3500);
    head.count = 3500;
    const view = views.makeView(full, 2);
    views.adoptHead(head, view);
    assert.ok(view.count > 2000 && view.count < 3500, `${view.count} blocks kept`);
    view.builder.append(view.count, 60000);
    assert.deepEqual(ids(view), full.blocks.map((b) => b.id));
    assert.ok(view.article.children.length <= 400);
});

// A jump to the end finds the last chunks at their real heights: they are
// laid out whatever the scroll position, as many as two screens by their
// estimates, never a long document's whole wide last chunk.
test('the last chunks of a document are laid out as they go in, a bounded number of blocks', () => {
    const doc = new JSDOM('<!doctype html><body></body>').window.document;
    const state = { session: { documentID: 'DOC-1' }, language: 'en' };
    const views = createViews({ doc, geometry: /** @type {any} */ ({ viewportHeight: () => 768 }), sanitizer: /** @type {any} */ (null), state });
    /** @param {number} count */
    const tail = (count) => {
        const view = views.makeView(result(count), 1);
        view.builder.append(0, count);
        const chunks = Array.from(view.article.children);
        const marked = chunks.filter((chunk) => chunk.classList.contains('md-tail'));
        assert.deepEqual(marked, chunks.slice(chunks.length - marked.length), 'the last ones, in a row');
        return { chunks: marked.length, blocks: marked.reduce((sum, chunk) => sum + chunk.children.length, 0) };
    };
    // Two screens of 30 px blocks are 52 blocks: the last two chunks.
    const short = tail(400);
    assert.equal(short.chunks, 2);
    assert.ok(short.blocks >= 52 && short.blocks <= 160, `${short.blocks} blocks`);
    // A long document's last chunk holds more than that: none.
    assert.deepEqual(tail(100000), { chunks: 0, blocks: 0 });
    // Nor a chunk of a long table's height.
    const table = views.makeView(result(400), 1);
    table.result.blocks[399].est = 150000;
    table.builder.append(0, 400);
    assert.equal(table.article.querySelectorAll('.md-tail').length, 0);
});
