import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';

// 40 blocks of 100 px under 4 headings; a 700 px view.
function documentText(prefix = '') {
    const parts = [prefix];
    for (let s = 1; s <= 4; s++) {
        parts.push(`## Section ${s}`);
        for (let p = 1; p <= 9; p++) parts.push(`Paragraph ${s}.${p}`);
    }
    return parts.filter(Boolean).join('\n\n');
}

// The page's timers, fired only when told to: the limit of a held place
// among them.
function manualTimers(win) {
    let next = 1;
    const pending = new Map();
    win.setTimeout = (fn) => {
        const id = next++;
        pending.set(id, fn);
        return id;
    };
    win.clearTimeout = (id) => pending.delete(id);
    return {
        fireAll() {
            const due = Array.from(pending.values());
            pending.clear();
            for (const fn of due) fn();
        },
    };
}

function resize(h, width, height) {
    h.geometry.resize(width, height);
    h.win.innerWidth = width;
    h.win.innerHeight = height;
    h.page.onResize();
}

const ANCHOR_KEYS = ['blockId', 'fingerprint', 'headingPath', 'kind', 'offsetPx', 'relativeOffset', 'scrollRatio', 'scrollTop', 'sourceRange', 'version'];

describe('reading anchors', () => {
    test('no anchor before anything is rendered', async () => {
        const h = createHarness();
        const reply = await h.request('captureAnchor');
        assert.equal(reply.type, 'anchor');
        assert.deepEqual(reply.payload, {});
        h.close();
    });

    test('capture, re-render and restore lands on the same block (exact)', async () => {
        const h = createHarness();
        await h.request('setViewportInsets', { top: 20, bottom: 0 });
        await h.render(documentText());
        h.geometry.setScrollTop(1230); // reading line 1250: block 12, half way
        const { payload } = await h.request('captureAnchor');
        const anchor = payload.anchor;
        assert.deepEqual(Object.keys(anchor).sort(), ANCHOR_KEYS);
        assert.equal(anchor.blockId, 'B13');
        assert.equal(anchor.kind, 'paragraph');
        assert.deepEqual(anchor.headingPath, ['Section 2']);
        assert.equal(anchor.offsetPx, 50);
        assert.equal(anchor.relativeOffset, 0.5);
        assert.equal(anchor.scrollTop, 1230);
        assert.ok(anchor.scrollRatio > 0 && anchor.scrollRatio <= 1);
        assert.equal(JSON.stringify(JSON.parse(JSON.stringify(anchor))), JSON.stringify(anchor));

        h.geometry.setScrollTop(0);
        const reply = await h.render(documentText(), { restoreAnchor: anchor });
        const restored = reply.payload.anchorRestored;
        assert.equal(restored.strategy, 'exact');
        assert.equal(restored.applied, true);
        assert.equal(restored.blockId, 'B13');
        assert.equal(restored.scrollTop, 1230);
        assert.equal(typeof restored.elapsedMs, 'number');
        assert.equal(h.geometry.scrollTop(), 1230);
        h.close();
    });

    test('an anchor taken above the first block (the page\'s top margin) returns there, not to the block\'s top', async () => {
        // The first block starts 28 px below the top inset, as the body's padding puts it.
        for (const [scrollTop, inset] of [[0, 0], [0, 40], [12, 0]]) {
            const h = createHarness({ geometry: { origin: 28 + inset } });
            await h.request('setViewportInsets', { top: inset, bottom: 0 });
            await h.render(documentText());
            h.geometry.setScrollTop(scrollTop);
            const { anchor } = (await h.request('captureAnchor')).payload;
            assert.equal(anchor.blockId, 'section-1');
            assert.equal(anchor.offsetPx, 0);
            h.geometry.setScrollTop(500);
            const restored = (await h.render(documentText(), { restoreAnchor: anchor })).payload.anchorRestored;
            assert.equal(restored.strategy, 'exact');
            assert.equal(restored.scrollTop, scrollTop, `${scrollTop} under ${inset}`);
            assert.equal(h.geometry.scrollTop(), scrollTop);
            // Text added above: the block is no longer first and comes to the reading line.
            await h.render(documentText('Preface'), { restoreAnchor: anchor });
            assert.equal(h.geometry.scrollTop(), 28 + 100);
            h.close();
        }
    });

    test('a block a fraction of a pixel below the reading line is the block being read', async () => {
        const h = createHarness();
        await h.render(documentText());
        // Real layout puts blocks at fractional positions; scroll offsets are
        // whole pixels.
        const top = h.geometry.top;
        h.geometry.top = (element) => top(element) + 0.4;
        h.geometry.setScrollTop(1200);
        const { anchor } = (await h.request('captureAnchor')).payload;
        assert.equal(anchor.blockId, 'B13');
        assert.equal(anchor.offsetPx, 0);
        h.close();
    });

    test('a reading line in the space below a block is restored there, not at the block\'s end', async () => {
        const h = createHarness();
        await h.render(documentText());
        // Blocks of 80 px every 100 px: a 20 px margin below each.
        h.geometry.height = () => 80;
        h.geometry.setScrollTop(1290); // block 12's margin, 10 px past its end
        const { anchor } = (await h.request('captureAnchor')).payload;
        assert.equal(anchor.blockId, 'B13');
        assert.equal(anchor.relativeOffset, 1);
        h.geometry.setScrollTop(0);
        let reply = await h.render(documentText(), { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored.strategy, 'exact');
        assert.equal(h.geometry.scrollTop(), 1290);
        // Found by fingerprint after content moved: the same place past it.
        reply = await h.render(documentText('New one\n\nNew two'), { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored.strategy, 'fingerprint');
        assert.equal(h.geometry.scrollTop(), 1490);
        // Never past where the next block begins.
        h.geometry.height = () => 20;
        reply = await h.render(documentText(), { restoreAnchor: { ...anchor, offsetPx: 180 } });
        assert.equal(h.geometry.scrollTop(), 1300);
        h.close();
    });

    test('moved content is found by fingerprint, then by heading, then by ratio', async () => {
        const h = createHarness();
        await h.render(documentText());
        h.geometry.setScrollTop(1200);
        const { anchor } = (await h.request('captureAnchor')).payload;

        // Two blocks inserted above: same content, new id.
        let reply = await h.render(documentText('New one\n\nNew two'), { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored.strategy, 'fingerprint');
        assert.equal(h.geometry.scrollTop(), 1400);

        // The paragraph itself changed: its heading remains.
        const changed = documentText().replace('Paragraph 2.2', 'Paragraph 2.2, edited');
        reply = await h.render(changed, { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored.strategy, 'heading');
        assert.equal(reply.payload.anchorRestored.blockId, 'section-2');

        // Nothing left to recognise: the scroll ratio.
        const other = Array.from({ length: 40 }, (_, i) => `Other ${i}`).join('\n\n');
        reply = await h.render(other, { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored.strategy, 'ratio');
        assert.equal(reply.payload.anchorRestored.applied, true);

        // A malformed anchor restores nothing but does not fail the render.
        reply = await h.render(other, { restoreAnchor: { ...anchor, sourceRange: { start: 1.5, end: 2 } } });
        assert.equal(reply.type, 'rendered');
        assert.equal(reply.payload.anchorRestored.strategy, 'none');
        assert.equal(reply.payload.anchorRestored.applied, false);
        h.close();
    });

    test('scrollToSource reports all six keys, found or not', async () => {
        const h = createHarness();
        const text = '# T\n\nline three\nline four\n\n\n\nline eight';
        let reply = await h.render(text, { scrollToSource: { line: 4 } });
        assert.deepEqual(reply.payload.scrolledToSource, {
            line: 4, found: true, blockId: 'B2', sourceStart: 3, sourceEnd: 4, strategy: 'contains',
        });
        reply = await h.render(text, { scrollToSource: { line: 6 } });
        assert.equal(reply.payload.scrolledToSource.blockId, 'B3');
        assert.equal(reply.payload.scrolledToSource.strategy, 'following');
        reply = await h.render('', { scrollToSource: { line: 3 } });
        assert.deepEqual(reply.payload.scrolledToSource, {
            line: 3, found: false, blockId: '', sourceStart: 0, sourceEnd: 0, strategy: 'none',
        });
        // scrollToSource wins over an anchor.
        reply = await h.render(text, { scrollToSource: { line: 1 }, restoreAnchor: { version: 1 } });
        assert.equal(reply.payload.anchorRestored, undefined);
        h.close();
    });

    test('a page without a size restores once it gets one, and says so as an event', async () => {
        const h = createHarness();
        await h.render(documentText());
        h.geometry.setScrollTop(2000);
        const { anchor } = (await h.request('captureAnchor')).payload;
        h.geometry.setScrollTop(0);
        h.geometry.resize(0, 0);
        h.win.innerWidth = 0;
        h.win.innerHeight = 0;
        h.page.onResize();
        const reply = await h.render(documentText(), { restoreAnchor: anchor, background: true });
        assert.equal(reply.payload.anchorRestored, undefined);
        assert.equal(reply.payload.timings.frameCount, 0);
        assert.equal(reply.payload.timings.maxFrameGapMs, 0);
        const reportsBefore = h.eventsOf('layoutReport').length;
        assert.equal(h.eventsOf('anchorRestored').length, 0);

        h.geometry.resize(900, 700);
        h.win.innerWidth = 900;
        h.win.innerHeight = 700;
        h.page.onResize();
        const [event] = h.eventsOf('anchorRestored');
        assert.equal(event.payload.strategy, 'exact');
        assert.equal(event.payload.scrollTop, 2000);
        assert.equal(h.geometry.scrollTop(), 2000);
        await new Promise((resolve) => setTimeout(resolve, 80));
        const reports = h.eventsOf('layoutReport').slice(reportsBefore);
        assert.ok(reports.some((r) => r.payload.reason === 'resize'));
        h.close();
    });

    test('a newer render without an anchor drops the older place, waiting for a size or held for an image', async () => {
        const h = createHarness();
        const timers = manualTimers(h.win);
        await h.render(documentText());
        h.geometry.setScrollTop(2000);
        const { anchor } = (await h.request('captureAnchor')).payload;
        h.geometry.setScrollTop(0);

        // A hidden page keeps the place for when it gets a size.
        resize(h, 0, 0);
        let reply = await h.render(documentText(), { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored, undefined);
        await h.render(documentText());
        resize(h, 900, 700);
        timers.fireAll();
        assert.equal(h.geometry.scrollTop(), 0);
        assert.equal(h.eventsOf('anchorRestored').length, 0);

        // A page with a size holds the place while an image may move it.
        const withImage = documentText('![Chart](chart.png)');
        reply = await h.render(withImage, { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored, undefined);
        assert.ok(h.geometry.scrollTop() > 0);
        await h.render(withImage);
        h.geometry.setScrollTop(0);
        h.article().querySelector('img').dispatchEvent(new h.win.Event('load'));
        timers.fireAll();
        assert.equal(h.geometry.scrollTop(), 0);
        assert.equal(h.eventsOf('anchorRestored').length, 0);
        h.close();
    });

    test('a place held for an image that never loads is reported once, at the limit', async () => {
        const h = createHarness();
        const timers = manualTimers(h.win);
        const text = documentText('![Chart](chart.png)');
        await h.render(text);
        h.geometry.setScrollTop(1200);
        const { anchor } = (await h.request('captureAnchor')).payload;
        h.geometry.setScrollTop(0);
        const reply = await h.render(text, { restoreAnchor: anchor });
        assert.equal(reply.payload.anchorRestored, undefined, 'held while the image may move the layout');
        assert.equal(h.eventsOf('anchorRestored').length, 0);
        timers.fireAll();
        const [event, ...more] = h.eventsOf('anchorRestored');
        assert.deepEqual(more, []);
        assert.equal(event.payload.strategy, 'exact');
        assert.equal(event.payload.applied, true);
        assert.equal(event.payload.blockId, anchor.blockId);
        assert.equal(event.payload.scrollTop, 1200);
        // Nothing after it reports again: a key, the image failing, time.
        h.win.dispatchEvent(new h.win.KeyboardEvent('keydown'));
        h.article().querySelector('img').dispatchEvent(new h.win.Event('error'));
        timers.fireAll();
        assert.equal(h.eventsOf('anchorRestored').length, 1);
        h.close();
    });

    test('active heading follows the reading line', async () => {
        const h = createHarness();
        await h.render(documentText());
        const first = h.eventsOf('activeHeading').at(-1);
        assert.deepEqual(first.payload, { id: 'section-1', index: 0 });
        h.geometry.setScrollTop(2100);
        h.page.onScroll();
        await new Promise((resolve) => setTimeout(resolve, 120));
        assert.deepEqual(h.eventsOf('activeHeading').at(-1).payload, { id: 'section-3', index: 2 });
        h.close();
    });
});
