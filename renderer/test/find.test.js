import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';

const find = (h, query, direction = 'next', restart = true, caseSensitive = false) =>
    h.request('find', { query, direction, caseSensitive, restart }).then((r) => r.payload);

describe('find', () => {
    test('highlights every match, across markup, and steps through them both ways', async () => {
        const h = createHarness();
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
        h.close();
    });

    test('any case as Unicode folds it, long s and the Kelvin sign too, with or without ASCII in the query', async () => {
        const h = createHarness();
        const text = 'Mass ſo, the Kelvin sign \u212a, kK; MASS and Straße, a\\s and İı.';
        await h.render(text);
        for (const query of ['s', 'S', 'k', 'K', '\u212a', 'ss', 'ß', 'a\\s', 'ı', 'mass ſ']) {
            for (const caseSensitive of [false, true]) {
                const escaped = query.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
                const expected = text.match(new RegExp(escaped, caseSensitive ? 'gu' : 'giu'))?.length ?? 0;
                assert.equal((await find(h, query, 'next', true, caseSensitive)).matchCount, expected, `${query} ${caseSensitive}`);
            }
        }
        h.close();
    });

    test('no match, clearing, and text the find leaves alone', async () => {
        const h = createHarness();
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
        h.close();
    });

    test('after a re-render the same step finds the matches again and keeps its place', async () => {
        const h = createHarness();
        await h.render('one x\n\ntwo x\n\nthree x');
        await find(h, 'x');
        await find(h, 'x', 'next', false);
        assert.equal((await find(h, 'x', 'next', false)).activeIndex, 2);
        await h.render('one x\n\ntwo x\n\nthree x\n\nfour x');
        const result = await find(h, 'x', 'next', false);
        assert.deepEqual(result, { matchCount: 4, activeIndex: 2, found: true });
        assert.equal(h.article().querySelectorAll('mark.md-find').length, 4);
        h.close();
    });
});

describe('the text that highlighting and math will show', () => {
    test('is the text the page reads from their markup once in place', async () => {
        const { JSDOM } = await import('jsdom');
        const { parseDocument } = await import('./support/loaded.js');
        const { shownText } = await import('../src/parse/text.js');
        const doc = new JSDOM('').window.document;
        const skip = '.katex-mathml, .md-copy, .md-diagram, script, style';
        const read = (html) => {
            const template = doc.createElement('template');
            template.innerHTML = html;
            let text = '';
            const walker = doc.createTreeWalker(template.content, 4);
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
