// The diagram host page with the real mermaid under jsdom: what a diagram
// says about its own settings (init directives, front matter) must not
// change those the host relies on. jsdom lays nothing out, so text is given
// a width of 8 px a character; that is all a layout needs here.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { JSDOM } from 'jsdom';

const dom = new JSDOM('<!doctype html><body><div id="stage"></div></body>', { pretendToBeVisual: true });
const win = dom.window;
// mermaid reads these as globals while it loads and draws.
for (const name of ['window', 'document', 'CSSStyleSheet', 'Element', 'SVGElement', 'HTMLElement', 'Node',
    'DOMParser', 'XMLSerializer']) {
    if (!(name in globalThis)) globalThis[name] = name === 'window' ? win : win[name];
}
const textWidth = (node) => 8 * (node.textContent ?? '').length;
win.SVGElement.prototype.getBBox = function getBBox() {
    return { x: 0, y: 0, width: textWidth(this), height: 16 };
};
win.SVGElement.prototype.getComputedTextLength = function getComputedTextLength() {
    return textWidth(this);
};

const { default: mermaid } = await import('mermaid');
const { createDiagramHost } = await import('../src/diagram-host/host.js');

const FONT = 'system-ui, sans-serif';

function makeHost() {
    // Real timers: the host's own watchdog bounds a render that never ends
    // (a label waiting for an image jsdom never loads). Generous, since a
    // first render under load is slow; it only turns a hang into a failure.
    const timers = { setTimeout: (fn, ms) => setTimeout(fn, ms), clearTimeout: (id) => clearTimeout(id) };
    // A fresh stage each time: the host clears it, but a failed test should
    // not leave anything for the next.
    win.document.body.replaceChildren(Object.assign(win.document.createElement('div'), { id: 'stage' }));
    const host = createDiagramHost({
        win: timers, doc: win.document, mermaid, post: () => {}, now: () => 0, fontFamily: FONT,
    });
    let count = 0;
    return async (source, themeVariables = null) => {
        count += 1;
        const reply = await host.handleMessage({
            protocolVersion: 1, messageID: `M-${count}`, viewSessionID: '', documentID: '',
            sourceRevision: 0, renderGeneration: 0, type: 'renderDiagram',
            payload: { diagramID: `D1-${count}`, source, themeVariables, timeoutMs: 120000 },
        });
        return reply.payload;
    };
}

// The labels as the reading page will see them: SVG text only.
function svgTexts(svg) {
    const doc = new win.DOMParser().parseFromString(svg, 'image/svg+xml');
    return Array.from(doc.querySelectorAll('text')).map((node) => node.textContent.replace(/\s+/g, ' ').trim());
}

// mermaid's style sheet comes out minified: compare without white space.
const holdsText = (svg, text) => svg.replace(/\s+/g, '').includes(text.replace(/\s+/g, ''));

const flowchart = 'graph TD\n  A[First label] --> B[Second label]\n';
const htmlLabelsOn = '{"htmlLabels": true, "flowchart": {"htmlLabels": true}}';

test('a diagram cannot turn HTML labels back on: its labels stay SVG text', async () => {
    const cases = [
        ['init directive', `%%{init: ${htmlLabelsOn}}%%\n${flowchart}`],
        ['initialize directive', `%%{initialize: ${htmlLabelsOn}}%%\n${flowchart}`],
        ['front matter', `---\nconfig:\n  htmlLabels: true\n  flowchart:\n    htmlLabels: true\n---\n${flowchart}`],
        ['only the flowchart level', '%%{init: {"flowchart": {"htmlLabels": true}}}%%\n' + flowchart],
        ['a remote image in the label',
            `%%{init: ${htmlLabelsOn}}%%\ngraph TD\n  A["First label <img src='https://example.org/x.png'>"] --> B[Second label]\n`],
    ];
    const render = makeHost();
    for (const [name, source] of cases) {
        const result = await render(source);
        assert.equal(result.error, undefined, `${name}: ${JSON.stringify(result.error)}`);
        assert.doesNotMatch(result.svg, /foreignObject/i, name);
        assert.doesNotMatch(result.svg, /<img/i, name);
        const texts = svgTexts(result.svg);
        assert.ok(texts.some((text) => text.startsWith('First label')), `${name}: ${JSON.stringify(texts)}`);
        assert.ok(texts.includes('Second label'), `${name}: ${JSON.stringify(texts)}`);
    }
});

test('theme, fonts, style sheet and limits stay the host\'s', async () => {
    const render = makeHost();
    const theme = { primaryColor: '#123456' };
    const plain = await render(flowchart, theme);
    assert.ok(plain.svg.includes('#123456'), 'the request\'s theme reaches the diagram');
    assert.ok(holdsText(plain.svg, FONT));

    const cases = [
        ['theme', '{"theme": "dark"}', (svg) => svg.includes('#123456')],
        ['theme variables', '{"themeVariables": {"primaryColor": "#abcdef"}}',
            (svg) => svg.includes('#123456') && !svg.includes('#abcdef')],
        ['font family', '{"fontFamily": "Evil Sans"}', (svg) => holdsText(svg, FONT) && !holdsText(svg, 'Evil Sans')],
        ['style sheet', '{"themeCSS": ".node rect { fill: url(https://example.org/f.svg#a); }"}',
            (svg) => !svg.includes('example.org')],
        ['text size limit', '{"maxTextSize": 10}', (svg) => svgTexts(svg).includes('Second label')],
        ['security level', '{"securityLevel": "sandbox"}', (svg) => !/iframe/i.test(svg)],
    ];
    for (const [name, directive, holds] of cases) {
        const result = await render(`%%{init: ${directive}}%%\n${flowchart}`, theme);
        assert.equal(result.error, undefined, `${name}: ${JSON.stringify(result.error)}`);
        assert.ok(holds(result.svg), name);
    }
});
