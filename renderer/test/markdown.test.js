import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { parseDocument } from './support/loaded.js';
import { classifyImage } from '../src/parse/images.js';
import { createHarness } from './support/harness.js';

const parse = (source, options = {}, later = undefined) =>
    parseDocument(source, { documentID: 'DOC', language: 'en', generation: 1, ...options }, later);
const blockHTML = (result, index) => result.html.slice(result.offsets[index], result.offsets[index + 1]);

describe('heading ids', () => {
    test('follow GitHub: lower case, punctuation dropped, spaces to hyphens, duplicates numbered', () => {
        const result = parse([
            '# Hello, World!', '## Hello World', '## hello world', '### C++ & Rust: `async` fn',
            '# 中文 标题', '# Ünïcödé Straße', '# !!!', '# ', '# Hello World-1',
        ].join('\n\n'));
        assert.deepEqual(result.headings.map((h) => h.id), [
            'hello-world', 'hello-world-1', 'hello-world-2', 'c--rust-async-fn',
            '中文-标题', 'ünïcödé-straße', 'section', 'section-1', 'hello-world-1-1',
        ]);
        assert.deepEqual(result.headings.map((h) => h.level), [1, 2, 2, 3, 1, 1, 1, 1, 1]);
        assert.equal(result.headings[3].text, 'C++ & Rust: async fn');
        // Every heading is a block of kind "heading" whose id is the heading's.
        const headingBlocks = result.blocks.filter((b) => b.kind === 'heading');
        assert.deepEqual(headingBlocks.map((b) => b.id), result.headings.map((h) => h.id));
        // Ids never collide with the ids of other blocks.
        const ids = result.blocks.map((b) => b.id);
        assert.equal(new Set(ids).size, ids.length);
    });

    test('are stable across renders and independent of later text', () => {
        const a = parse('# Intro\n\ntext\n\n## Usage\n\n## Usage');
        const b = parse('# Intro\n\nchanged text\n\n## Usage\n\n## Usage\n\n## Extra');
        assert.deepEqual(a.headings.map((h) => h.id), b.headings.slice(0, 3).map((h) => h.id));
    });

    test('images count in a heading\'s text and id only when it has no other text', () => {
        const result = parse([
            '# cssesc [![Build status](https://x.org/b.svg)](https://x.org) [![Coverage](https://x.org/c.svg)](https://x.org)',
            '## ![Logo](logo.png)',
            '## ![](logo.png) `api` ![Badge](b.png)',
            '## [![A](a.png)](x) [![B](b.png)](y)',
        ].join('\n\n'));
        assert.deepEqual(result.headings.map((h) => [h.text, h.id]), [
            // The spaces beside the badges stay in the id, as on GitHub.
            ['cssesc', 'cssesc--'], ['Logo', 'logo'], ['api', '-api-'], ['A B', 'a-b'],
        ]);
    });

    test('keep the hyphens that raw tags and badges leave at either end, shown trimmed', () => {
        const result = parse([
            '## Contributors ✨ <a name="contributors"></a>',
            '## ![npm](https://x.org/b.svg) opts for libnpmorg commands',
            '## Usage <img src="x.png">',
            '## <a name="u"></a> Usage',
            '## <a name="v"></a> Usage',
            '## Usage',
            '## <a name="w"></a> ✨',
            '## [![A](a.png)](x) [![B](b.png)](y)',
        ].join('\n\n'));
        assert.deepEqual(result.headings.map((h) => [h.text, h.id]), [
            ['Contributors ✨', 'contributors--'],
            ['opts for libnpmorg commands', '-opts-for-libnpmorg-commands'],
            ['Usage', 'usage-'],
            ['Usage', '-usage'],
            ['Usage', '-usage-1'],
            ['Usage', 'usage'],
            // Nothing to slug, and a heading of badges only: as before.
            ['✨', 'section'],
            ['A B', 'a-b'],
        ]);
        const headingBlocks = result.blocks.filter((b) => b.kind === 'heading');
        assert.deepEqual(headingBlocks.map((b) => b.id), result.headings.map((h) => h.id));
        assert.match(blockHTML(result, 1), /^<h2 id="-opts-for-libnpmorg-commands"/);
    });

    test('a heading that cannot collide with block ids even when it reads like one', () => {
        const result = parse('# B2\n\nparagraph');
        assert.deepEqual(result.blocks.map((b) => b.id), ['b2', 'B2']);
    });
});

describe('blocks and source lines', () => {
    test('lines are 1-based and CRLF, LF and CR each end one line', () => {
        for (const eol of ['\n', '\r\n', '\r']) {
            const result = parse(['# Title', '', 'para one', 'continues', '', '- a', '- b'].join(eol));
            assert.deepEqual(result.blocks.map((b) => [b.kind, b.start, b.end]), [
                ['heading', 1, 1], ['paragraph', 3, 4], ['list', 6, 7],
            ], JSON.stringify(eol));
        }
    });

    test('a block ends at its last line of text, not at the blank lines after it', () => {
        const result = parse('- a\n- b\n\n\npara\n\n> quote\n\n1. one\n   \n');
        assert.deepEqual(result.blocks.map((b) => [b.kind, b.start, b.end]), [
            ['list', 1, 2], ['paragraph', 5, 5], ['blockquote', 7, 7], ['list', 9, 9],
        ]);
        // The same list keeps its fingerprint wherever it stands.
        assert.equal(parse('- a\n- b').blocks[0].fp, result.blocks[0].fp);
    });

    test('front matter is hidden but keeps the line numbers', () => {
        const result = parse('---\ntitle: Secret\ntags: [a]\n---\n# Body\n');
        assert.equal(result.blocks.length, 1);
        assert.deepEqual([result.blocks[0].start, result.blocks[0].end], [5, 5]);
        assert.ok(!result.html.includes('Secret'));
        // A rule that is not at the very start is a rule.
        assert.equal(parse('text\n\n---\n\nmore').blocks[1].kind, 'rule');
    });

    test('fingerprints follow the content, not the position', () => {
        const a = parse('# A\n\nsame paragraph');
        const b = parse('# A\n\nnew first\n\nsame paragraph');
        assert.equal(a.blocks[1].fp, b.blocks[2].fp);
        assert.notEqual(a.blocks[1].fp, b.blocks[1].fp);
    });
});

describe('GitHub-flavoured constructs', () => {
    test('tables, strikethrough, autolinks, task lists and footnotes', () => {
        const result = parse([
            '| a | b |', '|:--|--:|', '| 1 | 2 |', '',
            '~~gone~~ www.example.com/path. and https://example.org and notes.md', '',
            '- [ ] open', '- [x] done', '',
            'See[^n].', '', '[^n]: The note.',
        ].join('\n'));
        const html = result.html;
        assert.match(html, /<th align="left">a<\/th>/);
        assert.match(html, /<td align="right">2<\/td>/);
        assert.match(html, /<s>gone<\/s>/);
        assert.match(html, /<a href="http:\/\/www\.example\.com\/path">www\.example\.com\/path<\/a>\./);
        assert.match(html, /<a href="https:\/\/example\.org">/);
        assert.ok(!/<a[^>]*>notes\.md/.test(html), 'bare file names are not links');
        assert.match(html, /<li data-task="open"><input type="checkbox" disabled> open<\/li>/);
        assert.match(html, /<li data-task="done"><input type="checkbox" disabled checked> done<\/li>/);
        assert.match(html, /href="#fn-F-1" id="fnref-F-1"/);
        const footnotes = result.blocks.at(-1);
        assert.equal(footnotes.kind, 'footnotes');
        assert.deepEqual([footnotes.start, footnotes.end], [12, 12]);
    });

    test('link destinations are kept as written', () => {
        const result = parse('[a](<my file.md#Part Two>) [b](x%20y.md) [c](../up.md?q=1)');
        assert.match(result.html, /href="my file\.md#Part Two"/);
        assert.match(result.html, /href="x%20y\.md"/);
        assert.match(result.html, /href="\.\.\/up\.md\?q=1"/);
    });

    test('math: $…$, $$…$$ and ```math typeset; prices and escapes stay text', () => {
        const result = parse('Inline $a^2$ and $$b$$.\n\n$$\nc = d\n$$\n\n```math\ne\n```\n\nIt costs $5 and $10.\n\nNot \\$x$ either.');
        assert.equal((result.html.match(/class="katex"/g) ?? []).length, 4);
        assert.deepEqual(result.blocks.map((b) => b.kind), ['paragraph', 'math', 'math', 'paragraph', 'paragraph']);
        assert.match(blockHTML(result, 3), /It costs \$5 and \$10\./);
        assert.match(blockHTML(result, 4), /Not \$x\$ either\./);
        const plain = parse('$a^2$\n\n$$\nc\n$$', { math: false });
        assert.ok(!plain.html.includes('katex'));
        assert.match(plain.html, /\$a\^2\$/);
        assert.match(plain.html, /<pre class="md-math-source">\$\$c\n\$\$<\/pre>/);
    });

    test('math: a formula never holds an unescaped $; a price before a formula stays text', () => {
        const cases = [
            ['Pay $5, get $x^2$ back.', ['x^2'], /Pay \$5, get /],
            ['From $ 3 to $y$ now.', ['y'], /From \$ 3 to /],
            ['Total $a + $b$ here.', ['b'], /Total \$a \+ /],
            ['Both $$a $ b$$ and $c$.', ['c'], /Both \$\$a \$ b\$\$ and /],
            ['Escaped $\\$5 + x$ stays one.', ['\\$5 + x'], /Escaped /],
        ];
        for (const [source, formulas, text] of cases) {
            const html = parse(source).html;
            const typeset = Array.from(html.matchAll(/<annotation encoding="application\/x-tex">([^<]*)<\/annotation>/g), (m) => m[1]);
            assert.deepEqual(typeset, formulas, source);
            assert.ok(!html.includes('katex-error'), source);
            assert.match(html, text, source);
        }
    });

    test('untypeset display math inside a paragraph stays in the paragraph, as text', async () => {
        const h = createHarness();
        for (const source of ['Before $$x^2$$ after.', '- item $$a < b$$ end', 'Raw <b>bold</b> and $$y$$ too.']) {
            const result = parse(source, { math: false });
            assert.ok(!result.html.includes('<pre') && !JSON.stringify(result.blocks).includes('<pre'), source);
            const reply = await h.render(source, { enhancements: { highlight: true, math: false, diagrams: true } });
            const blocks = h.blocks();
            assert.deepEqual(blocks.map((b) => b.id), reply.payload.blocks.map((b) => b.id), source);
            assert.equal(h.article().querySelectorAll('[id]').length, 1, source);
            assert.match(blocks[0].textContent, /\$\$.+\$\$/, source);
        }
        h.close();
    });

    test('code is highlighted only when the fence names a known language', () => {
        const result = parse('```python\ndef f(): pass\n```\n\n```\ndef f(): pass\n```\n\n```nosuchlang\nx\n```\n\n    indented code');
        assert.match(blockHTML(result, 0), /<code class="language-python hljs"><span class="hljs-keyword">def<\/span>/);
        assert.ok(!blockHTML(result, 1).includes('hljs'), 'no automatic detection');
        assert.match(blockHTML(result, 2), /<code class="language-nosuchlang">x\n<\/code>/);
        assert.ok(!blockHTML(result, 3).includes('hljs'));
        assert.deepEqual(result.blocks.map((b) => b.kind), ['code', 'code', 'code', 'code']);
        const off = parse('```python\ndef f(): pass\n```', { highlight: false });
        assert.ok(!off.html.includes('hljs-keyword'));
    });

    test('mermaid fences become diagram placeholders, up to the limit', () => {
        const result = parse('```mermaid\ngraph TD; A-->B\n```\n\n- item\n\n  ```mermaid\nsequenceDiagram\n  ```', { maxDiagrams: 1 });
        assert.deepEqual(result.diagrams, [{ id: 'D1-1', source: 'graph TD; A-->B\n' }]);
        assert.equal(result.blocks[0].kind, 'diagram');
        assert.match(blockHTML(result, 0), /data-diagram="D1-1"/);
        assert.equal(result.limits.diagramsSkipped, 1);
        const off = parse('```mermaid\ngraph TD\n```', { diagrams: false });
        assert.equal(off.blocks[0].kind, 'code');
        assert.equal(off.diagrams.length, 0);
    });
});

describe('images', () => {
    test('local paths go through the document scheme; remote ones are counted; others are refused', () => {
        const cases = [
            ['img/a b.png', 'local', 'document-resource://D%201/?path=img%2Fa%20b.png'],
            ['img/a%20b.png?raw=1#x', 'local', 'document-resource://D%201/?path=img%2Fa%20b.png'],
            ['/abs/p.jpg', 'local', 'document-resource://D%201/?path=%2Fabs%2Fp.jpg'],
            ['file:///abs/%E4%B8%AD.png', 'local', 'document-resource://D%201/?path=%2Fabs%2F%E4%B8%AD.png'],
            ['https://example.org/x.png', 'remote', 'https://example.org/x.png'],
            ['HTTP://example.org/x.png', 'remote', 'HTTP://example.org/x.png'],
            ['data:image/png;base64,AAAA', 'rejected'],
            ['  data:image/png;base64,AAAA', 'rejected'],
            ['java\tscript:alert(1)', 'rejected'],
            ['file://server/share/x.png', 'rejected'],
            ['//cdn.example.org/x.png', 'rejected'],
            ['app-resource://renderer/index.html', 'rejected'],
            ['document-resource://OTHER/?path=/etc/passwd', 'rejected'],
            ['C:\\pics\\x.png', 'rejected'],
            ['', 'rejected'],
        ];
        for (const [src, kind, url] of cases) {
            const decision = classifyImage(src, 'D 1');
            assert.equal(decision.kind, kind, src);
            if (url) assert.equal(decision.src, url, src);
        }
    });

    test('markdown images are counted and refused ones show their text', () => {
        const result = parse('![a](a.png) ![b](https://x.org/b.png) ![c](data:image/gif;base64,R0lG) ![d](javascript:x)');
        // A javascript: destination makes no image at all.
        assert.deepEqual(result.images, { local: 1, remote: 1, rejected: 1 });
        assert.match(result.html, /<span class="md-image-rejected" data-reason="Image address not allowed">c<\/span>/);
        assert.ok(!/src="(?:data|javascript):/i.test(result.html));
        assert.match(result.html, /<img src="https:\/\/x\.org\/b\.png" alt="b" loading="lazy" decoding="async" referrerpolicy="no-referrer">/);
    });

    test('raw HTML images follow the same rules and are counted in the reply', async () => {
        const h = createHarness();
        const reply = await h.render('<p><img src="a.png" alt="one"><img src="https://x.org/y.png"><img src="data:image/png;base64,AA" alt="no"></p>\n\n![m](m.png)');
        assert.deepEqual(reply.payload.images, { local: 2, remote: 1, rejected: 1 });
        const srcs = Array.from(h.article().querySelectorAll('img'), (img) => img.getAttribute('src'));
        assert.deepEqual(srcs, [
            'document-resource://DOC-1/?path=a.png',
            'https://x.org/y.png',
            'document-resource://DOC-1/?path=m.png',
        ]);
        const refused = h.article().querySelector('.md-image-rejected');
        assert.equal(refused.textContent, 'no');
        assert.equal(refused.getAttribute('data-reason'), 'Image address not allowed');
        h.close();
    });

    test('an image that fails to load gives way to its text and the reason', async () => {
        const h = createHarness();
        await h.render('![wide map](map.png "The map") [![build](https://x.org/b.svg)](https://x.org)\n\n<p><img src="big.png"></p>', { language: 'zh-Hans' });
        for (const img of Array.from(h.article().querySelectorAll('img'))) img.dispatchEvent(new h.win.Event('error'));
        assert.equal(h.article().querySelectorAll('img').length, 0);
        const shown = Array.from(h.article().querySelectorAll('.md-image-unavailable'), (span) => [
            span.textContent, span.getAttribute('data-reason'), span.getAttribute('title'), span.parentElement.localName,
        ]);
        assert.deepEqual(shown, [
            ['wide map', '图片无法显示：文件缺失、无法读取、过大或格式不受支持', 'The map', 'p'],
            ['build', '图片无法加载', null, 'a'],
            ['', '图片无法显示：文件缺失、无法读取、过大或格式不受支持', null, 'p'],
        ]);
        assert.equal(h.eventsOf('error').length, 0);
        h.close();
    });
});

describe('details around Markdown', () => {
    test('raw markup that opens a details holds the Markdown blocks up to its close', async (t) => {
        const source = [
            '# Top', '', '<details>', '<summary>Summary</summary>', '', 'Body **bold** $x$.', '',
            '## Inner', '', '```js', 'let a', '```', '', '<details><summary>Nested</summary>', '', 'Deep', '',
            '</details>', '', 'Still inside', '', '</details>', '', 'After', '', '## Inner',
        ].join('\n');
        const result = parse(source);
        assert.deepEqual(result.blocks.map((b) => [b.kind, b.start, b.end]),
            [['heading', 1, 1], ['html', 3, 22], ['paragraph', 24, 24], ['heading', 26, 26]]);
        // The heading inside keeps its place in GitHub's numbering of ids.
        assert.deepEqual(result.headings.map((h) => h.id), ['top', 'inner-1']);

        const h = createHarness();
        t.after(() => h.close());
        await h.render(source);
        const blocks = h.blocks();
        assert.equal(blocks.length, 4);
        const outer = blocks[1].querySelector(':scope > details');
        assert.ok(outer, 'the details is the block\'s own');
        assert.equal(outer.querySelector(':scope > summary').textContent, 'Summary');
        assert.equal(outer.querySelector('strong').textContent, 'bold');
        assert.ok(outer.querySelector('.katex'), 'trusted pieces are put back inside');
        assert.ok(outer.querySelector('h2#inner'));
        assert.equal(outer.querySelector(':scope details > summary + p')?.textContent, 'Deep');
        assert.match(outer.lastElementChild.textContent, /Still inside/);
        assert.equal(blocks[2].textContent, 'After');
    });

    test('a details closed in its own markup, or never closed, leaves the blocks after it alone', () => {
        assert.deepEqual(parse('<details><summary>x</summary>y</details>\n\nAfter').blocks.map((b) => b.kind),
            ['html', 'paragraph']);
        assert.deepEqual(parse('<details>\n<summary>S</summary>\n\nBody\n\n- list').blocks.map((b) => b.kind),
            ['html', 'paragraph', 'list']);
        // Nor does one too long to be sanitised in one go.
        assert.deepEqual(parse(`<details>\n\n${'word '.repeat(60000)}\n\n</details>`).blocks.map((b) => b.kind),
            ['html', 'paragraph', 'html']);
        // A close inside the footnotes does not pull them in.
        assert.deepEqual(parse('<details>\n\nBody[^1]\n\n[^1]: note </details>').blocks.map((b) => b.kind),
            ['html', 'paragraph', 'footnotes']);
    });
});

describe('rendering into the page', () => {
    test('one element per block, with the block id, in order', async () => {
        const h = createHarness();
        const source = '# T\n\npara <b>raw</b> $x$ ![i](i.png)\n\n<div>html</div>\n\n```js\nlet a\n```\n\n| a |\n|---|\n| <i>b</i> |\n\n- [x] task <em>raw</em>\n\nRef[^1]\n\n[^1]: note <b>b</b>';
        const reply = await h.render(source);
        const blocks = reply.payload.blocks;
        const children = h.blocks();
        assert.deepEqual(children.map((c) => c.id), blocks.map((b) => b.id));
        // Trusted pieces survive in raw blocks.
        const raw = h.doc.getElementById(blocks[1].id);
        assert.equal(raw.querySelector('b').textContent, 'raw');
        assert.ok(raw.querySelector('.katex'));
        assert.match(raw.querySelector('img').getAttribute('src'), /^document-resource:/);
        assert.ok(h.article().querySelector('li[data-task] input[type="checkbox"][disabled][checked]'));
        const footnote = h.doc.getElementById('fn-F-1');
        assert.ok(footnote, 'footnote id restored in a raw footnote block');
        assert.equal(footnote.querySelector('b').textContent, 'b');
        h.close();
    });
});

describe('highlighting and math later', () => {
    const withoutNonce = (value) => JSON.parse(JSON.stringify(value).replace(/[0-9a-f]{32}/g, 'NONCE'));
    const cases = [
        { name: 'code with a named language', source: '```js\nconst a = 1;\n```', later: 1 },
        { name: 'inline math in a paragraph, a heading and a list', source: '# Sum $a+b$\n\nText $x^2$ here.\n\n- item $y$\n- other', later: 3 },
        { name: 'display math and a math fence', source: '$$\n\\frac{a}{b}\n$$\n\n```math\nx\n```', later: 2 },
        { name: 'an image beside math counts once', source: 'See ![a](pic.png) and $z$.', later: 1 },
        { name: 'plain text, code without a language', source: 'Just text.\n\n```\nplain\n```', later: 0 },
        { name: 'diagrams and raw markup come in full at once; footnotes later', source: '```mermaid\ngraph TD\n```\n\n<div>$m$ `c`</div>\n\nNote[^n].\n\n[^n]: With $f$.', later: 1 },
        { name: 'a diagram inside a list comes at once with the list', source: '- item $x$\n\n  ```mermaid\n  graph TD\n  ```', later: 0 },
    ];
    for (const { name, source, later: expected } of cases) {
        test(name, () => {
            const full = parse(source);
            const later = [];
            const first = parse(source, {}, later);
            assert.equal(later.length, expected);
            // The reply's figures come from the first pass: they must be the full one's.
            for (const key of ['blocks', 'headings', 'images', 'diagrams', 'limits', 'offsets', 'lineCount']) {
                if (key !== 'offsets' || later.length === 0) assert.deepEqual(withoutNonce(first[key]), withoutNonce(full[key]), key);
            }
            const deferred = new Map(later.map((entry) => [entry.index, entry.render()]));
            for (let i = 0; i < full.blocks.length; i++) {
                const plain = blockHTML(first, i);
                if (deferred.has(i)) assert.doesNotMatch(plain, /class="(katex|hljs)/, `block ${i} waits`);
                assert.equal(deferred.get(i) ?? plain, blockHTML(full, i), `block ${i}`);
            }
            assert.deepEqual(first.images, full.images, 'rendering again counts nothing twice');
        });
    }

    test('switched-off enhancements are not deferred', () => {
        const later = [];
        parse('```js\nx\n```\n\n$y$', { highlight: false, math: false }, later);
        assert.equal(later.length, 0);
    });
});
