// The hostile corpus through the whole pipeline: parse, sanitise, insert.
// Whatever a document holds, the page must end up with no script, no event
// handler, no dangerous address, no frame or form, and no style that could
// leave its block. The same files serve the tests in the real web view.

import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createHarness } from './support/harness.js';

const dir = path.join(path.dirname(fileURLToPath(import.meta.url)), 'hostile');
const corpus = readdirSync(dir).filter((name) => name.endsWith('.md')).sort();

const FORBIDDEN_ELEMENTS = [
    'script', 'style', 'iframe', 'frame', 'frameset', 'object', 'embed', 'applet', 'portal', 'form',
    'textarea', 'select', 'option', 'link', 'meta', 'base', 'noscript', 'template', 'audio', 'video',
    'source', 'picture', 'canvas', 'map', 'area', 'dialog', 'marquee', 'use', 'image', 'foreignObject',
    'feImage', 'animate', 'set', 'animateMotion', 'animateTransform', 'handler',
];
const URL_ATTRIBUTES = ['href', 'src', 'xlink:href', 'action', 'formaction', 'data', 'srcdoc', 'poster', 'background', 'srcset'];
const DANGEROUS = /^(?:javascript|vbscript|data):/i;

function compact(value) {
    return value.replace(/[\u0000-\u0020]/g, '');
}

export function assertSafe(doc, article) {
    const problems = [];
    for (const name of FORBIDDEN_ELEMENTS) {
        for (const element of doc.getElementsByTagName(name)) problems.push(`<${name}> ${element.outerHTML.slice(0, 80)}`);
    }
    for (const element of doc.querySelectorAll('input')) {
        if (!element.matches('li[data-task] > input[type="checkbox"][disabled]')) problems.push(`input ${element.outerHTML}`);
    }
    for (const element of doc.querySelectorAll('button')) {
        if (!element.matches('.md-code > button.md-copy')) problems.push(`button ${element.outerHTML}`);
    }
    for (const element of article.querySelectorAll('*')) {
        for (const attribute of Array.from(element.attributes)) {
            const name = attribute.name.toLowerCase();
            if (name.startsWith('on')) problems.push(`handler ${name} on <${element.localName}>`);
            if (URL_ATTRIBUTES.includes(name) && DANGEROUS.test(compact(attribute.value))) {
                problems.push(`${name}=${attribute.value.slice(0, 60)} on <${element.localName}>`);
            }
            if (['popover', 'contenteditable', 'formaction', 'srcset', 'target', 'ping', 'background', 'is'].includes(name)) {
                problems.push(`attribute ${name} on <${element.localName}>`);
            }
        }
        if (element.localName === 'img') {
            const src = element.getAttribute('src') ?? '';
            if (!/^(?:document-resource:\/\/|https?:\/\/)/i.test(src)) problems.push(`img src ${src}`);
        }
        if (element.hasAttribute('style')) {
            const style = element.getAttribute('style');
            const isChunk = element.parentElement === article && element.classList.contains('md-chunk')
                && /^contain-intrinsic-size: auto \d+px;$/.test(style);
            const inMath = element.closest('.katex, .katex-error') !== null;
            if (!isChunk && !inMath) problems.push(`style="${style}" on <${element.localName}>`);
            if (inMath && /position|url\(|fixed/i.test(style)) problems.push(`math style ${style}`);
        }
        if (element.localName === 'code' && element.hasAttribute('class')
            && !/^language-[A-Za-z0-9_+#.-]+( hljs)?$/.test(element.getAttribute('class'))) {
            problems.push(`code class ${element.getAttribute('class')}`);
        }
    }
    // Raw HTML keeps no classes and only prefixed ids.
    for (const raw of article.querySelectorAll('.md-html, p, li, td, th, blockquote')) {
        for (const element of raw.querySelectorAll('*')) {
            if (element.closest('.katex, .katex-error, .md-code, pre, .md-diagram, .footnote-ref, .md-image-rejected')) continue;
            if (element.hasAttribute('class')) problems.push(`class ${element.getAttribute('class')} in raw HTML`);
        }
    }
    for (const element of article.querySelectorAll('[id]')) {
        const isBlock = element.parentElement?.parentElement === article;
        const isFootnote = /^fn(ref)?-F-\d+(:\d+)?$/.test(element.id);
        if (!isBlock && !isFootnote && !element.id.startsWith('user-content-')) problems.push(`id ${element.id}`);
    }
    assert.equal(doc.querySelectorAll('.md-staging').length, 0, 'no staging left behind');
    assert.equal(doc.querySelectorAll('#content').length, 1, 'the page keeps its own container id');
    assert.deepEqual(problems, []);
}

describe('hostile corpus', () => {
    for (const name of corpus) {
        test(name, async () => {
            const h = createHarness();
            const headBefore = h.doc.head.innerHTML;
            const source = readFileSync(path.join(dir, name), 'utf8');
            const reply = await h.render(source, { enhancements: { highlight: true, math: true, diagrams: true } });
            assert.equal(reply.type, 'rendered');
            assertSafe(h.doc, h.article());
            assert.equal(h.doc.head.innerHTML, headBefore, 'the head is untouched');
            assert.deepEqual(Array.from(h.doc.body.children, (c) => c.id), ['content']);
            assert.equal(h.win.__pwned, undefined);

            // Clicking every link only reports it; the page goes nowhere.
            const before = h.win.location.href;
            const links = Array.from(h.article().querySelectorAll('a'));
            for (const link of links) link.dispatchEvent(new h.win.MouseEvent('click', { bubbles: true, cancelable: true }));
            assert.equal(h.win.location.href, before);
            for (const event of h.eventsOf('openLink')) {
                assert.ok(['external', 'relative', 'fragment', 'file'].includes(event.payload.kind));
            }
            h.close();
        });
    }

    test('a crafted fence language stays text inside its code block', async () => {
        const h = createHarness();
        await h.render(readFileSync(path.join(dir, 'fence-breakout.md'), 'utf8'));
        const codes = Array.from(h.article().querySelectorAll('pre > code'));
        assert.equal(codes.length, 9);
        assert.deepEqual(codes.map((c) => c.getAttribute('class')), [
            null, null, 'language-python hljs', null, null, null, 'language-js hljs', null, null,
        ]);
        assert.match(codes[6].textContent, /<\/code><\/pre><script>/);
        // The crafted mermaid language is not a diagram.
        assert.equal(h.article().querySelectorAll('[data-diagram]').length, 0);
        h.close();
    });

    test('raw HTML can neither overlay the page nor borrow its classes or ids', async () => {
        const h = createHarness();
        await h.render(readFileSync(path.join(dir, 'css-overlays.md'), 'utf8'));
        const article = h.article();
        assert.equal(article.querySelectorAll('[style*="fixed"], [style*="absolute"]').length, 0);
        assert.equal(article.querySelectorAll('.md-staging, .md-copy, .md-diagram').length, 0);
        assert.ok(h.doc.getElementById('user-content-content'));
        assert.ok(h.doc.getElementById('user-content-B3'));
        h.close();
    });

    test('tags that would swallow the text after them stay as text, and the text stays', async () => {
        const h = createHarness();
        await h.render('<strong> <title> <style> <em>\n\n<blockquote>\n  <xmp> is disallowed.  <XMP> is also disallowed.\n</blockquote>\n\n'
            + '<div><plaintext>one</div>\n\n<p><textarea>two</textarea> <script>three()</script> <iframe src="x"></iframe></p>\n\nafter');
        const [strong, quote, div, p, after] = h.blocks();
        assert.equal(strong.textContent, ' <title> <style> ');
        assert.equal(quote.querySelector('blockquote').textContent.trim(), '<xmp> is disallowed.  <XMP> is also disallowed.');
        assert.equal(div.textContent.trim(), '<plaintext>one');
        assert.equal(p.textContent.trim(), '<textarea>two</textarea> <script>three()</script> <iframe src="x"></iframe>');
        assert.equal(after.textContent, 'after');
        for (const name of ['title', 'style', 'xmp', 'plaintext', 'textarea', 'script', 'iframe']) {
            assert.equal(h.article().querySelectorAll(name).length, 0, name);
        }
        h.close();
    });

    test('a tag name ended by a slash is such a tag too: the text after it stays', async (t) => {
        const h = createHarness();
        t.after(() => h.close());
        const names = ['textarea', 'title', 'xmp', 'script', 'style', 'iframe', 'noembed', 'noframes'];
        const source = names.map((name) => `<p>before <${name}/x> kept ${name}</p>`).join('\n\n')
            + '\n\n<div><plaintext/ x> kept plaintext</div>\n\nafter';
        await h.render(source);
        const blocks = h.blocks();
        assert.equal(blocks.length, names.length + 2);
        names.forEach((name, index) => {
            assert.equal(blocks[index].textContent.trim(), `before <${name}/x> kept ${name}`);
        });
        assert.equal(blocks[names.length].textContent.trim(), '<plaintext/ x> kept plaintext');
        assert.equal(blocks.at(-1).textContent, 'after');
        assert.equal(h.article().querySelectorAll([...names, 'plaintext'].join(', ')).length, 0);
    });

    test('an image\'s alternative text that reads like markup stays its text, shown or standing in', async (t) => {
        const h = createHarness();
        t.after(() => h.close());
        const alt = '</xmp><script>window.__pwned = 1</script>';
        await h.render(`<img alt="${alt}">\n\n<p><img alt="${alt}" src="https://images.test/a.png"> <img alt="</style>x" src="pic.png"></p>`);
        const [refused, shown] = h.blocks();
        const standIn = refused.querySelector('.md-image-rejected');
        assert.equal(standIn?.textContent, alt);
        assert.deepEqual(Array.from(shown.querySelectorAll('img'), (img) => img.getAttribute('alt')), [alt, '</style>x']);
        assert.equal(h.article().querySelectorAll('script, xmp, style').length, 0);
    });

    test('hostile diagram SVG is cleaned and kept inside a shadow root', async () => {
        const h = createHarness();
        await h.render('```mermaid\ngraph TD; A-->B\n```');
        const [request] = h.eventsOf('diagramRequest');
        const svgText = readFileSync(path.join(dir, 'diagram-result.svg'), 'utf8');
        const reply = await h.request('diagramResult', { diagramID: request.payload.diagramID, svg: svgText });
        assert.deepEqual(reply.payload, { diagramID: request.payload.diagramID, accepted: true });
        const host = h.article().querySelector('[data-diagram]');
        const shadow = host.shadowRoot;
        assert.ok(shadow, 'the SVG lives in a shadow root');
        const svg = shadow.querySelector('svg');
        assert.ok(svg);
        for (const name of ['script', 'foreignObject', 'iframe', 'img', 'use', 'image', 'animate', 'set']) {
            assert.equal(shadow.querySelectorAll(name).length, 0, name);
        }
        for (const element of [svg, ...svg.querySelectorAll('*')]) {
            for (const attribute of Array.from(element.attributes)) {
                assert.ok(!attribute.name.toLowerCase().startsWith('on'), attribute.name);
                assert.ok(!/javascript:/i.test(attribute.value), attribute.value);
                if (attribute.name === 'style') assert.ok(!/url\(/i.test(attribute.value), attribute.value);
            }
        }
        const sheet = Array.from(shadow.querySelectorAll('svg style'), (s) => s.textContent).join('\n');
        assert.ok(!/@import|:host|evil\.example/.test(sheet), sheet);
        assert.match(sheet, /url\(#arrow\)/, 'references inside the SVG stay');
        // Links inside the diagram report their destination like any other.
        const link = Array.from(svg.querySelectorAll('a')).find((a) => a.getAttribute('href') === 'https://example.org/docs');
        assert.ok(link);
        assert.equal(h.win.__pwned, undefined);
        h.close();
    });
});
