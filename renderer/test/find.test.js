import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';

// A page that closes when its test ends, passed or failed.
const open = (t, options) => {
    const h = createHarness(options);
    t.after(() => h.close());
    return h;
};

const find = (h, query, direction = 'next', restart = true, caseSensitive = false) =>
    h.request('find', { query, direction, caseSensitive, restart }).then((r) => r.payload);

// The text of the active match's marks.
const marked = (h) => Array.from(h.article().querySelectorAll('mark.md-find-active'), (mark) => mark.textContent).join('');

describe('find', () => {
    test('highlights every match, across markup, and steps through them both ways', async (t) => {
        const h = open(t);
        await h.render('# Apple pie\n\nAn **ap**ple a day. APPLE.\n\n```\napple()\n```\n\n$q$');
        let result = await find(h, 'apple');
        assert.deepEqual(result, { matchCount: 4, activeIndex: 0, found: true });
        const marks = h.article().querySelectorAll('mark.md-find');
        assert.equal(marks.length, 5, 'the match split by <strong> has two marks');
        assert.equal(h.article().querySelectorAll('mark.md-find-active').length, 1);
        assert.equal(h.article().querySelector('strong').textContent, 'ap', 'markup stays intact');

        result = await find(h, 'apple', 'next', false);
        assert.equal(result.activeIndex, 1);
        assert.equal(h.article().querySelectorAll('mark.md-find-active').length, 2);
        result = await find(h, 'apple', 'previous', false);
        assert.equal(result.activeIndex, 0);
        result = await find(h, 'apple', 'previous', false);
        assert.equal(result.activeIndex, 3, 'wraps around');
        result = await find(h, 'apple', 'next', false);
        assert.equal(result.activeIndex, 0);

        result = await find(h, 'APPLE', 'next', true, true);
        assert.deepEqual(result, { matchCount: 1, activeIndex: 0, found: true });
        // Typeset math counts once, not again in its hidden annotation.
        result = await find(h, 'q');
        assert.equal(result.matchCount, 1);
    });

    test('any case as Unicode folds it, long s and the Kelvin sign too, with or without ASCII in the query', async (t) => {
        const h = open(t);
        const text = 'Mass ſo, the Kelvin sign \u212a, kK; MASS and Straße, a\\s and İı.';
        await h.render(text);
        for (const query of ['s', 'S', 'k', 'K', '\u212a', 'ss', 'ß', 'a\\s', 'ı', 'mass ſ']) {
            for (const caseSensitive of [false, true]) {
                const escaped = query.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
                const expected = text.match(new RegExp(escaped, caseSensitive ? 'gu' : 'giu'))?.length ?? 0;
                assert.equal((await find(h, query, 'next', true, caseSensitive)).matchCount, expected, `${query} ${caseSensitive}`);
            }
        }
    });

    test('no match, clearing, and text the find leaves alone', async (t) => {
        const h = open(t);
        await h.render('Some text.\n\n```js\ncode\n```');
        assert.deepEqual(await find(h, 'absent'), { matchCount: 0, activeIndex: -1, found: false });
        // The copy button's label is not document text.
        assert.equal((await find(h, 'Copy')).matchCount, 0);
        await find(h, 'text');
        const cleared = await h.request('clearFind');
        assert.equal(cleared.type, 'findResult');
        assert.deepEqual(cleared.payload, { matchCount: 0, activeIndex: -1, found: false });
        assert.equal(h.article().querySelectorAll('mark').length, 0);
        assert.equal(h.article().querySelector('p').textContent, 'Some text.');
        assert.equal(h.article().querySelector('p').childNodes.length, 1, 'text nodes are joined again');
    });

    test('after a re-render the same step finds the matches again and keeps its place', async (t) => {
        const h = open(t);
        await h.render('one x\n\ntwo x\n\nthree x');
        await find(h, 'x');
        await find(h, 'x', 'next', false);
        assert.equal((await find(h, 'x', 'next', false)).activeIndex, 2);
        await h.render('one x\n\ntwo x\n\nthree x\n\nfour x');
        const result = await find(h, 'x', 'next', false);
        assert.deepEqual(result, { matchCount: 4, activeIndex: 2, found: true });
        assert.equal(h.article().querySelectorAll('mark.md-find').length, 4);
    });
});

describe('the text that highlighting and math will show', () => {
    test('is the text the page reads from their markup once in place', async (t) => {
        const { JSDOM } = await import('jsdom');
        const { parseDocument } = await import('./support/loaded.js');
        const { shownText } = await import('../src/parse/text.js');
        const doc = new JSDOM('').window.document;
        const skip = '.katex-mathml, .md-copy, .md-diagram, script, style';
        // The page puts the markup's element in place of the block.
        const read = (html) => {
            const template = doc.createElement('template');
            template.innerHTML = html;
            assert.equal(template.content.children.length, 1);
            let text = '';
            const walker = doc.createTreeWalker(template.content.children[0], 4);
            for (let node = walker.nextNode(); node; node = walker.nextNode()) {
                if (!node.parentElement?.closest(skip)) text += node.data;
            }
            return text;
        };
        const source = [
            '# Math & code $\\alpha$',
            'Inline $a < b$, $x^2 + \\sqrt{y}$, $\\text{a & b "c" \'d\'}$, $\\left( \\frac{1}{2} \\right)$ and $$\\sum_k k$$ here.',
            '$$\n\\begin{pmatrix} 1 & 2 \\\\ 3 & 4 \\end{pmatrix} \\overrightarrow{AB} \\xrightarrow{f} \\sqrt[3]{x} \\underbrace{a+b}_{c}\n$$',
            '| a | $b_1$ |\n|---|---|\n| `x` | $\\alpha \\cdot \\beta$ |',
            '- item $\\mathbb{R}^n$\n  1. nested $\\hat{x}$',
            '> quote $\\{ \\}$, an error $\\frac{1}{$ and $\\unknown$',
            '```js\nconst a = "<b>" && \'c\' > 1; // &amp; comment\n```',
            '```python\ndef f(x): return x ** 2  # "q"\n```',
            '```math\ne^{i\\pi} + 1 = 0\n```',
            'Footnote[^1] with $x$.\n\n[^1]: Note $y$.',
        ].join('\n\n');
        const later = [];
        parseDocument(source, {}, later);
        assert.ok(later.length >= 9);
        for (const entry of later) {
            const html = entry.render();
            assert.equal(shownText(html), read(html), html.slice(0, 80));
        }
    });
});

describe('find counts and marks what the page shows while it changes', () => {
    test('a search while a long table or list goes in leaves later searches seeing all of it', async (t) => {
        const { createScheduler } = await import('../src/page/scheduler.js');
        const table = ['# T', '', '| n | a |', '|---|---|', ...Array.from({ length: 3000 }, (_, i) => `| r${i} | cell ${i} |`)].join('\n');
        const list = ['# L', '', ...Array.from({ length: 3000 }, (_, i) => `- cell ${i} of the list`)].join('\n');
        for (const [source, items] of [[table, 'tbody tr'], [list, 'li']]) {
            // The first search goes out at the first frame that shows the
            // block with some of its items.
            let early = null;
            let h = null;
            h = open(t, {
                scheduler: (win) => {
                    const inner = createScheduler(win);
                    return {
                        ...inner,
                        nextFrame: () => {
                            const shown = h?.article()?.querySelectorAll(items).length ?? 0;
                            if (!early && shown > 0 && shown < 3000) early = find(h, 'cell 10');
                            return inner.nextFrame();
                        },
                    };
                },
            });
            await h.render(source);
            assert.ok(early, 'a search went out during the fill');
            const first = await early;
            assert.equal(first.found, true);
            assert.equal(first.partial, true, 'the count is not final yet');
            assert.ok(first.matchCount < 111, `${items}: the early search saw part of the block`);
            assert.equal(h.article().querySelectorAll(items).length, 3000);
            // The reader asks again after the render: cell 10, cell 100-109
            // and cell 1000-1099 are counted, and the active match stays.
            assert.deepEqual(await find(h, 'cell 10', 'next', true),
                { matchCount: 111, activeIndex: first.activeIndex, found: true }, items);
            assert.equal((await find(h, 'cell 10', 'next', false)).activeIndex, first.activeIndex + 1, items);
            assert.deepEqual(await find(h, 'cell 2999'), { matchCount: 1, activeIndex: 0, found: true }, items);
            assert.equal(marked(h), 'cell 2999');
        }
    });

    test('a search right after a long reply counts what the dressed page shows, not the formulas\' TeX', async (t) => {
        const { createInlineParser } = await import('../src/page/parser.js');
        const { parseDocument } = await import('./support/loaded.js');
        // The worker's highlighting and math arrive when the test lets them.
        const held = [];
        const inner = createInlineParser({ parseDocument, now: () => performance.now(), later: true });
        const parser = {
            ...inner,
            parse: (source, options, timeoutMs, onHead, onEnhanced) => inner.parse(source, options, timeoutMs, onHead,
                onEnhanced && ((items, done) => held.push(() => onEnhanced(items, done)))),
        };
        const source = Array.from({ length: 80 }, (_, i) => `Paragraph ${i} of the text.\n\n$$\\frac{i}{2} + x_{${i}}$$`).join('\n\n');
        const h = open(t, { parser, geometry: { viewportHeight: 300 } });
        const reply = await h.render(source);
        assert.equal(reply.type, 'rendered');
        assert.ok(h.article().textContent.includes('\\frac'), 'formulas below the first screen are not typeset yet');
        const counted = find(h, 'frac');
        // The markup comes once the search has answered, or a while later.
        await Promise.race([counted, new Promise((resolve) => setTimeout(resolve, 300))]);
        while (held.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
        for (const deliver of held.splice(0)) deliver();
        assert.deepEqual(await counted, { matchCount: 0, activeIndex: -1, found: false });
        // The same counts as a page that typeset everything at once.
        const whole = open(t);
        await whole.render(source);
        for (const query of ['2', 'x', '+', 'paragraph 1']) {
            const expected = (await find(whole, query)).matchCount;
            assert.ok(expected > 0);
            assert.equal((await find(h, query)).matchCount, expected, query);
        }
        // The last formula's match is shown typeset ("x_{79}" reads "x79").
        assert.equal((await find(h, 'x79')).matchCount, 1);
        assert.ok(h.article().querySelector('mark.md-find-active').closest('.katex-html'), 'the match shown is in the typeset formula');
    });

    test('a paragraph whose image did not load is searched and marked in the alternative text it shows', async (t) => {
        const sources = [
            'First target line.\n\n![Build status](https://example.org/b.svg) Second target line.\n\nThird target line.',
            'First target line.\n\n[![Build status](missing.png)](https://example.org/) Second target line.\n\nThird target line.',
        ];
        for (const source of sources) {
            const h = open(t);
            await h.render(source);
            assert.equal((await find(h, 'target')).matchCount, 3);
            assert.equal((await find(h, 'Build status')).found, false, 'an image loading shows no text');
            // The image fails: its alternative text takes its place.
            h.article().querySelector('img').dispatchEvent(new h.win.Event('error'));
            assert.ok(h.article().querySelector('.md-image-unavailable'));
            const badge = h.blocks()[1];
            assert.deepEqual(await find(h, 'Build status'), { matchCount: 1, activeIndex: 0, found: true });
            assert.ok(badge.querySelector('.md-image-unavailable mark.md-find-active'));
            assert.equal((await find(h, 'target')).matchCount, 3);
            assert.equal((await find(h, 'target', 'next', false)).activeIndex, 1);
            assert.equal(badge.querySelector('mark.md-find-active')?.textContent, 'target', source);
            // A search made before the failure steps on in the text shown now.
            await find(h, 'line');
        }
    });

    test('a step after the image failed finds its alternative text and marks the match shown', async (t) => {
        const h = open(t);
        await h.render('One line.\n\n![Line art](https://example.org/a.png) Two line.\n\nThree line.');
        assert.equal((await find(h, 'line')).matchCount, 3);
        h.article().querySelector('img').dispatchEvent(new h.win.Event('error'));
        const step = await find(h, 'line', 'next', false);
        assert.equal(step.matchCount, 4, 'the alternative text counts');
        assert.equal(h.article().querySelectorAll('mark.md-find-active').length, 1);
        assert.equal(marked(h).toLowerCase(), 'line');
    });

    test('soft hyphens and combining accents read as the words they show', async (t) => {
        const h = open(t);
        await h.render('An extra&shy;ordinary caf\u0065\u0301, a café, and a soft\u00adware.');
        assert.equal((await find(h, 'extraordinary')).matchCount, 1);
        assert.equal(marked(h), 'extra\u00adordinary', 'the mark holds the hyphen it passed over');
        assert.equal((await find(h, 'café')).matchCount, 2, 'composed in the query, decomposed in the text');
        assert.equal((await find(h, 'CAFE\u0301')).matchCount, 2, 'decomposed in the query, any case');
        assert.equal(marked(h), 'cafe\u0301');
        assert.equal((await find(h, 'software')).matchCount, 1);
        assert.equal((await find(h, 'e, a')).matchCount, 0, 'an accented letter is not its base letter');
        assert.equal((await find(h, '\u00ad')).matchCount, 0, 'a soft hyphen alone finds nothing');
        await h.request('clearFind');
        assert.equal(h.article().textContent.trim(), 'An extra\u00adordinary cafe\u0301, a café, and a soft\u00adware.');
    });
});

describe('find reads what the page shows, counts all of it, and keeps up with typing', () => {
    test('text a document hides is not counted; a step into a closed details opens it', async (t) => {
        const h = open(t);
        await h.render([
            '<details><summary>Two</summary>Inline body words in a closed details.</details>',
            '<div hidden>Hidden div words.</div>',
            'A paragraph with <span hidden>hidden span</span> words.',
            '<details><summary>Three words</summary>More.</details>',
        ].join('\n\n'));
        assert.deepEqual(await find(h, 'hidden div'), { matchCount: 0, activeIndex: -1, found: false });
        assert.equal((await find(h, 'hidden')).matchCount, 0);
        const [first, second] = h.article().querySelectorAll('details');
        assert.equal((await find(h, 'three')).matchCount, 1);
        assert.equal(second.open, false, 'a match in the summary shows without opening it');
        assert.deepEqual(await find(h, 'inline body'), { matchCount: 1, activeIndex: 0, found: true });
        assert.equal(first.open, true);
        assert.equal(marked(h), 'Inline body');
        assert.equal((await find(h, 'words')).matchCount, 3);
        assert.equal(h.article().querySelectorAll('[hidden] mark').length, 0);
    });

    test('a phrase across a line break, runs of white space, no-break spaces and invisible characters', async (t) => {
        const h = open(t);
        await h.render([
            'The quick brown\nfox jumps.',
            '- a list item that ends brown\n  fox too',
            '> a quote of brown\n> fox',
            'Two spaces brown  fox, a tab brown\tfox, entities brown&nbsp;fox and brown&#x202F;fox.',
            'No-break brown\u00a0fox, narrow brown\u202ffox.',
            'Hidden in words: ne\u200bedle, ne\u2060edle, ne\u200cedle, ne\u200eedle.',
            'Korean as letters: \u1112\u1161\u11ab\u1100\u1173\u11af and composed: 한글.',
        ].join('\n\n'));
        assert.equal((await find(h, 'brown fox')).matchCount, 9);
        assert.equal(marked(h), 'brown\nfox', 'the mark holds the line break');
        assert.equal((await find(h, 'brown  fox')).matchCount, 9, 'the query reads as the text does');
        assert.equal((await find(h, 'brown\u00a0fox')).matchCount, 9);
        assert.equal((await find(h, 'needle')).matchCount, 4);
        assert.equal((await find(h, 'ne\u200bedle')).matchCount, 4);
        assert.equal((await find(h, '한글')).matchCount, 2, 'composed and as letters alike');
        assert.equal(marked(h), '\u1112\u1161\u11ab\u1100\u1173\u11af');
        assert.equal((await find(h, '\u1112\u1161\u11ab')).matchCount, 2);
        assert.equal((await find(h, 'quick brown fox jumps')).matchCount, 1);
        assert.equal((await find(h, 'brownfox')).matchCount, 0);
        await h.request('clearFind');
        assert.equal(h.blocks()[0].textContent, 'The quick brown\nfox jumps.', 'the text is left as it was');
    });

    test('white space and invisible characters after other letters and characters beyond the first plane', async (t) => {
        const h = open(t);
        await h.render([
            'Émigré brown  fox, naïve brown\tfox.',
            'Emoji \u{1F600}ne\u200bedle and \u{1D400}\u{1D401} ne\u2060edle.',
            '\u{1F600}  brown fox after an emoji, \u{E0041}needle behind a tag.',
        ].join('\n\n'));
        assert.equal((await find(h, 'brown fox')).matchCount, 3);
        assert.equal(marked(h), 'brown  fox');
        assert.equal((await find(h, 'needle')).matchCount, 3);
        assert.equal(marked(h), 'ne\u200bedle');
        assert.equal((await find(h, '\u{1F600}ne')).matchCount, 1, 'the emoji itself is searched as shown');
        assert.equal((await find(h, '\u{1F600} brown')).matchCount, 1);
        assert.equal((await find(h, 'émigré')).matchCount, 1);
    });

    test('every match is counted and reachable both ways', async (t) => {
        const h = open(t);
        await h.render(Array.from({ length: 12000 }, (_, i) => `## Heading ${i + 1}`).join('\n\n'));
        assert.deepEqual(await find(h, 'heading'), { matchCount: 12000, activeIndex: 0, found: true });
        const last = await find(h, 'heading', 'previous', false);
        assert.deepEqual(last, { matchCount: 12000, activeIndex: 11999, found: true });
        assert.equal(h.article().querySelector('mark.md-find-active').closest('h2').textContent, 'Heading 12000');
        assert.equal((await find(h, 'heading', 'next', false)).activeIndex, 0);
    });

    test('a newer query ends the search under way, and both requests get its answer', async (t) => {
        // A clock that runs fast makes every search run in many slices.
        let clock = 0;
        const h = open(t, { now: () => (clock += 2) });
        await h.render(Array.from({ length: 3000 }, (_, i) => `Row ${i}: needle${i} in a nest.`).join('\n\n'));
        const older = find(h, 'ne');
        const newer = find(h, 'needle1');
        const answers = await Promise.all([older, newer]);
        assert.deepEqual(answers[1], { matchCount: 1111, activeIndex: 0, found: true });
        assert.deepEqual(answers[0], answers[1], 'the older request is answered with the newer count');
        const marks = Array.from(h.article().querySelectorAll('mark.md-find'), (mark) => mark.textContent);
        assert.equal(marks.length, 1111);
        assert.ok(marks.every((text) => text === 'needle1'), 'no mark of the older query is left');
        // Steps wait for the search they step through.
        const search = find(h, 'nest');
        const stepped = find(h, 'nest', 'next', false);
        assert.equal((await search).matchCount, 3000);
        assert.equal((await stepped).activeIndex, 1);
    });

    test('a newer query without matches leaves no mark of the older one', async (t) => {
        const h = open(t);
        const text = 'An alpha, a beta and an alpha again.';
        await h.render(`${text}\n\n| a | b |\n|---|---|\n${Array.from({ length: 60 }, (_, i) => `| alpha${i} | x |`).join('\n')}`);
        const marks = () => h.article().querySelectorAll('mark.md-find').length;
        assert.equal((await find(h, 'alpha')).matchCount, 62);
        assert.ok(marks() > 0);
        assert.equal((await find(h, 'alphabet')).matchCount, 0);
        assert.equal(marks(), 0);
        assert.equal(h.blocks()[0].textContent, text, 'the text is one again as it was');
        assert.equal((await find(h, 'alpha5')).matchCount, 11);
        assert.ok(Array.from(h.article().querySelectorAll('mark.md-find'), (mark) => mark.textContent).every((t) => t === 'alpha5'));
    });

    test('a search made while the blocks go in says its count is not final, and every step after moves', async (t) => {
        const { createScheduler } = await import('../src/page/scheduler.js');
        const source = Array.from({ length: 1500 }, (_, i) => `Paragraph ${i} with a word.`).join('\n\n');
        let early = null;
        let h = null;
        h = open(t, {
            scheduler: (win) => {
                const inner = createScheduler(win);
                return {
                    ...inner,
                    nextFrame: () => {
                        const shown = h?.blocks().length ?? 0;
                        if (!early && shown > 0 && shown < 1500) early = find(h, 'word');
                        return inner.nextFrame();
                    },
                };
            },
        });
        await h.render(source);
        assert.ok(early, 'a search went out while the blocks went in');
        const first = await early;
        assert.ok(first.matchCount < 1500);
        assert.equal(first.partial, true);
        // Every step moves, and counts the blocks that came meanwhile.
        assert.deepEqual(await find(h, 'word', 'next', false), { matchCount: 1500, activeIndex: 1, found: true });
        assert.deepEqual(await find(h, 'word', 'next', false), { matchCount: 1500, activeIndex: 2, found: true });
        // Asked while the document is parsed, before a block is in place,
        // the count is not final either.
        const { createInlineParser } = await import('../src/page/parser.js');
        const { parseDocument } = await import('./support/loaded.js');
        const inner = createInlineParser({ parseDocument, now: () => performance.now() });
        let parsed = () => {};
        const parsing = new Promise((resolve) => { parsed = resolve; });
        const parser = { ...inner, parse: (...args) => parsing.then(() => inner.parse(...args)) };
        const other = open(t, { parser });
        const going = other.render(source);
        assert.deepEqual(await find(other, 'word'), { matchCount: 0, activeIndex: -1, found: false, partial: true });
        parsed();
        await going;
        assert.equal((await find(other, 'word', 'next', false)).matchCount, 1500);
    });
});

describe('find and formulas the worker sends after the search began', () => {
    test('the search waits for them, and each step marks its match as its block is typeset', async (t) => {
        const { createInlineParser } = await import('../src/page/parser.js');
        const { parseDocument } = await import('./support/loaded.js');
        const held = [];
        const inner = createInlineParser({ parseDocument, now: () => performance.now(), later: true });
        const parser = {
            ...inner,
            parse: (source, options, timeoutMs, onHead, onEnhanced) => inner.parse(source, options, timeoutMs, onHead,
                onEnhanced && ((items, done) => held.push(() => onEnhanced(items, done)))),
        };
        // Paragraphs of many formulas, long enough to be typeset a few
        // formulas at a time.
        const paragraph = (n) => `Paragraph ${n}: ` + Array.from({ length: 8 }, (_, k) => `$\\alpha_{${n},${k}} + \\frac{${k}}{2}$`).join(', ');
        const source = Array.from({ length: 12 }, (_, n) => `## Part ${n}\n\n${paragraph(n)}`).join('\n\n');
        const whole = open(t);
        await whole.render(source);
        const expected = (await find(whole, 'α')).matchCount;
        assert.equal(expected, 96);

        const h = open(t, { parser, geometry: { viewportHeight: 300 } });
        await h.render(source);
        assert.ok(h.article().querySelector('.md-math-pending'), 'formulas wait as quiet boxes');
        const counted = find(h, 'α');
        await new Promise((resolve) => setTimeout(resolve, 50));
        while (held.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
        for (const deliver of held.splice(0)) deliver();
        assert.equal((await counted).matchCount, expected);
        for (let step = 1; step <= 20; step++) {
            const result = await find(h, 'α', 'previous', false);
            assert.equal(result.matchCount, expected);
            const active = Array.from(h.article().querySelectorAll('mark.md-find-active'));
            assert.equal(active.map((mark) => mark.textContent).join(''), 'α', `step ${step}`);
            assert.ok(active[0].closest('.katex-html'), 'marked in the typeset formula');
            await new Promise((resolve) => setTimeout(resolve, 5));
        }
    });
});
