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
    const views = createViews({ doc, geometry: {}, sanitizer: /** @type {any} */ (null), state });
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
