import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';
import { createScheduler } from '../src/page/scheduler.js';
import { parseDocument } from './support/loaded.js';

const table = (rows) => ['| n | name | note |', '|---|:----:|-----:|',
    ...Array.from({ length: rows }, (_, i) => `| ${i} | *row* ${i} | \`x${i}\` |`)].join('\n');
const list = (items) => Array.from({ length: items }, (_, i) => (i % 10 === 5
    ? `- item ${i}\n  - nested ${i}\n  - nested **${i}**`
    : `- item ${i} with a [link](https://example.org/${i})`)).join('\n');
const code = (lines) => '```\n' + Array.from({ length: lines }, (_, i) => `line ${i} <a> & "b"`).join('\n') + '\n```';

// The page's chunks hold what one parse of the whole markup makes.
function assertUnsliced(h, source) {
    const result = parseDocument(source, { documentID: 'DOC-1', language: 'en' });
    const whole = h.doc.createElement('template');
    whole.innerHTML = result.html;
    const chunks = Array.from(h.article().children, (chunk) => chunk.innerHTML).join('');
    assert.equal(chunks, whole.innerHTML);
}

// A harness that records, at each frame the page waits for, how many rows
// the first table holds.
function watchedHarness(options = {}) {
    const seen = [];
    let h = null;
    h = createHarness({
        ...options,
        scheduler: (win) => {
            const inner = createScheduler(win);
            return {
                ...inner,
                nextFrame: () => {
                    const rows = h?.article()?.querySelectorAll('tbody tr').length;
                    if (rows !== undefined) seen.push(rows);
                    return inner.nextFrame();
                },
            };
        },
    });
    return { h, seen };
}

describe('long blocks', () => {
    test('a long table and list go in piece by piece and end as the unsliced rendering; a long code block goes whole', async () => {
        const source = ['# Long blocks', 'Before.', table(2500), 'Between.', list(2000), code(4000), 'After.'].join('\n\n');
        const { h, seen } = watchedHarness();
        const reply = await h.render(source, { enhancements: { highlight: false } });
        assert.equal(reply.type, 'rendered');
        assert.deepEqual(reply.payload.blocks.map((b) => b.kind), ['heading', 'paragraph', 'table', 'paragraph', 'list', 'code', 'paragraph']);
        // The table was on the page with some of its rows, then more.
        const partial = new Set(seen.filter((rows) => rows > 0 && rows < 2500));
        assert.ok(partial.size >= 3, `rows seen at frames: ${[...partial].join(', ')}`);
        assertUnsliced(h, source);
        assert.equal(h.article().querySelector('.md-code code').childNodes.length, 1);
        h.close();
    });

    test('a long table\'s pieces follow what laying them out costs, however slow the frames', async () => {
        // The page's clock moves only by what laying the table out costs
        // (`newMs` a row added, `ownMs` a row already in place) and by
        // frames `frameMs` apart, slowed by a busy machine rather than by
        // the pieces. Returns each piece's rows and its slice's cost.
        const piecesAt = async ({ frameMs, newMs, ownMs }) => {
            let clock = 0;
            let laidOut = 0;
            const rowsAtFrames = [];
            let h = null;
            const rowsIn = (element) => element?.querySelector?.('tbody')?.rows.length;
            h = createHarness({
                now: () => clock,
                scheduler: (win) => {
                    const inner = createScheduler(win);
                    return {
                        ...inner,
                        nextFrame: async () => {
                            const rows = rowsIn(h?.article());
                            if (rows) rowsAtFrames.push(rows);
                            await inner.yieldTask();
                            clock += frameMs;
                            return clock;
                        },
                    };
                },
            });
            const height = h.geometry.height;
            h.geometry.height = (element) => {
                const rows = rowsIn(element);
                if (rows !== undefined && rows > laidOut) {
                    clock += (rows - laidOut) * newMs + laidOut * ownMs;
                    laidOut = rows;
                }
                return height(element);
            };
            await h.render(table(12000), { enhancements: { highlight: false } });
            assert.equal(h.article().querySelectorAll('tbody tr').length, 12000);
            h.close();
            const counts = [...new Set(rowsAtFrames), 12000];
            return counts.slice(1).map((count, k) => ({
                rows: count - counts[k],
                cost: (count - counts[k]) * newMs + counts[k] * ownMs,
                own: counts[k] * ownMs,
            }));
        };
        const show = (pieces) => pieces.map((p) => `${p.rows} (${p.cost.toFixed(1)} ms)`).join(', ');
        // Frames of 400 ms while a piece costs next to nothing: the pieces
        // double up to the largest, rather than shrink to fit the frames.
        const cheap = await piecesAt({ frameMs: 400, newMs: 0.001, ownMs: 0 });
        // (The first piece goes in with the first screen, unmeasured.)
        assert.ok(cheap.length >= 4 && cheap.length <= 10, show(cheap));
        for (let k = 1; k < 4; k++) assert.ok(Math.abs(cheap[k].rows / cheap[k - 1].rows - 2) < 0.1, show(cheap));
        // Rows that cost their layout, and a table laid out again whole: a
        // piece's new rows cost about the frame's time while the table's
        // own part is small, about that part once it is larger, and never
        // much more.
        const costly = await piecesAt({ frameMs: 16, newMs: 0.05, ownMs: 0.004 });
        for (const piece of costly.slice(1)) {
            const added = piece.cost - piece.own;
            assert.ok(added <= Math.max(24, piece.own) * 1.5 + 0.05 * 40, show(costly));
        }
        assert.ok(costly.length < 80, show(costly));
    });

    test('a long table\'s columns are fitted to all its rows within the room, and again when the text grows', async (t) => {
        // Text 8 px a character (more once the text grows), cells 26 px of
        // padding and rules, 700 px of room: the notes of the last rows
        // are long, the first rows' short.
        let perChar = 8;
        const room = 700;
        const widthOf = (element) => (element.classList.contains('md-table') ? room : element.textContent.length * perChar);
        const h = createHarness({ geometry: { widthOf } });
        t.after(() => h.close());
        const rows = Array.from({ length: 1500 }, (_, i) => `| ${i} | name${i} | ${i < 1400 ? 'fine' : `a much longer note on row ${i}`} |`);
        await h.render(['| n | name | note |', '|---|---|---|', ...rows].join('\n'), { enhancements: { highlight: false } });
        const table = h.article().querySelector('table');
        assert.equal(table.querySelectorAll('tbody tr').length, 1500);
        assert.equal(table.style.tableLayout, 'fixed');
        const widths = () => Array.from(table.tHead.rows[0].cells, (cell) => parseFloat(cell.style.width));
        const fitted = widths();
        // Each column as wide as its longest cell ("a much longer note on
        // row 1499", 30 characters) and a little more: all fit in the room.
        assert.deepEqual(fitted.map(Math.round), [4, 8, 30].map((chars) => Math.round(chars * 8 * 1.05 + 2)));
        assert.ok(Math.abs(parseFloat(table.style.width) - (fitted.reduce((a, b) => a + b, 0) + 1)) < 0.5, table.style.width);
        assert.equal(h.article().querySelectorAll('table span').length, 0, 'no measuring span is left');

        // Three times the text: the notes no longer fit on one line; every
        // column keeps its longest word and the table takes the room.
        perChar = 24;
        await h.request('setTypography', { fontSizePx: 48, widthPreset: 'comfortable', lineHeightPreset: 'standard', bodyFamily: '',
            monoFamily: '', headingFamily: '', fontWeight: 400, wideBlocks: 'aligned' });
        const grown = widths();
        assert.ok(grown[0] >= 4 * 24 && grown[1] >= 8 * 24 && grown[2] >= 'longer'.length * 24, grown.join());
        assert.ok(grown[2] < 30 * 24, grown.join());
        assert.ok(Math.abs(parseFloat(table.style.width) - room) < 1, table.style.width);
    });

    test('a hidden page also ends as the unsliced rendering', async () => {
        const source = [table(1500), list(1500)].join('\n\n');
        const h = createHarness({ visual: true });
        await h.render(source, { background: true });
        assertUnsliced(h, source);
        h.close();
    });

    test('a long table in a long document\'s head goes on with the full parse, in the same element', async () => {
        const parts = ['# Report', 'Intro.', table(3000)];
        for (let i = 0; i < 300; i++) parts.push(`Paragraph ${i} with some words.`);
        const source = parts.join('\n\n');
        let inHead = null;
        const h = createHarness({
            delay: async () => {
                inHead = h.article().querySelector('table');
                return 0;
            },
        });
        await h.render(source);
        assert.ok(inHead, 'the head showed the table');
        assert.equal(h.article().querySelector('table'), inHead);
        assert.equal(inHead.querySelectorAll('tbody tr').length, 3000);
        assert.equal(h.blocks().length, 303);
        assertUnsliced(h, source);
        h.close();
    });

    test('a newer render replaces one still filling a long table', async (t) => {
        const { h, seen } = watchedHarness();
        t.after(() => h.close());
        const older = h.render(table(4000));
        while (!seen.some((rows) => rows > 0)) await new Promise((resolve) => setTimeout(resolve, 1));
        const newer = await h.render('# New\n\ntext');
        assert.equal((await older).payload.code, 'superseded');
        assert.equal(newer.type, 'rendered');
        assert.equal(h.doc.querySelectorAll('table').length, 0);
        assert.equal(h.blocks().length, 2);
    });
});
