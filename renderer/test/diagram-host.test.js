// The diagram host page's request handling, with jsdom and a stand-in for
// mermaid (the real one is exercised in a web view by the program's tests).

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { JSDOM } from 'jsdom';
import {
    createDiagramHost, svgElementID, cleanThemeVariables, watchdogMs,
} from '../src/diagram-host/host.js';

// Timers that fire only when told to.
function manualTimers() {
    let next = 1;
    const pending = new Map();
    return {
        setTimeout(fn) {
            const id = next++;
            pending.set(id, fn);
            return id;
        },
        clearTimeout(id) {
            pending.delete(id);
        },
        fireAll() {
            const due = Array.from(pending.values());
            pending.clear();
            for (const fn of due) fn();
        },
        get count() {
            return pending.size;
        },
    };
}

// A mermaid whose parse and render do what each test asks; it records the
// configuration and the ids it was given, and leaves nodes behind the way
// the real one can.
function fakeMermaid(doc, behaviour = {}) {
    const calls = { configs: [], ids: [] };
    return {
        calls,
        initialize(config) {
            calls.configs.push(config);
        },
        async parse(source) {
            if (behaviour.parse) return behaviour.parse(source);
            if (source.includes('syntax error')) throw new Error('Parse error on line 1: <b>syntax error</b>');
            return { diagramType: 'flowchart-v2' };
        },
        async render(id, source, container) {
            calls.ids.push(id);
            const leftover = doc.createElement('div');
            leftover.id = `d${id}`;
            doc.body.append(leftover);
            container.append(doc.createElement('svg'));
            if (behaviour.render) return behaviour.render(id, source);
            return { svg: `<svg id="${id}"><g/></svg>`, diagramType: 'flowchart-v2' };
        },
    };
}

function setUp(behaviour) {
    const dom = new JSDOM('<!doctype html><body><div id="stage"></div></body>');
    const doc = dom.window.document;
    const timers = manualTimers();
    const mermaid = fakeMermaid(doc, behaviour);
    const posted = [];
    let clock = 0;
    const host = createDiagramHost({
        win: timers,
        doc,
        mermaid,
        post: (message) => posted.push(message),
        now: () => (clock += 5),
        fontFamily: 'system-ui, sans-serif',
    });
    return { doc, timers, mermaid, posted, host };
}

function envelope(payload, extra = {}) {
    return {
        protocolVersion: 1,
        messageID: 'M-1',
        viewSessionID: '',
        documentID: '',
        sourceRevision: 0,
        renderGeneration: 0,
        type: 'renderDiagram',
        payload: { diagramID: 'D1-1', source: 'graph TD; A-->B', themeVariables: null, timeoutMs: 8000, ...payload },
        ...extra,
    };
}

const ENVELOPE_KEYS = ['protocolVersion', 'messageID', 'viewSessionID', 'documentID',
    'sourceRevision', 'renderGeneration', 'type', 'payload'];

test('malformed requests are answered with badRequest, never thrown', async () => {
    const cases = [
        ['not an object', 'renderDiagram please'],
        ['null', null],
        ['wrong protocol version', envelope({}, { protocolVersion: 2 })],
        ['unknown type', envelope({}, { type: 'render' })],
        ['no messageID', envelope({}, { messageID: 7 })],
        ['payload not an object', envelope({}, { payload: [] })],
        ['empty diagramID', envelope({ diagramID: '' })],
        ['source not a text', envelope({ source: 42 })],
        ['no time-out', envelope({ timeoutMs: undefined })],
        ['time-out not positive', envelope({ timeoutMs: 0 })],
        ['time-out not a number', envelope({ timeoutMs: '8000' })],
        ['a getter that throws', Object.defineProperty(envelope({}), 'payload', { get() { throw new Error('boom'); } })],
    ];
    const { host, mermaid } = setUp();
    for (const [name, message] of cases) {
        const reply = await host.handleMessage(message);
        assert.equal(reply.type, 'error', name);
        assert.equal(reply.payload.code, 'badRequest', name);
        assert.equal(typeof reply.payload.message, 'string', name);
        assert.deepEqual(Object.keys(reply).sort(), [...ENVELOPE_KEYS].sort(), name);
    }
    assert.equal(mermaid.calls.ids.length, 0);
    const echoed = await host.handleMessage(envelope({}, { type: 'bogus', messageID: 'M-9', sourceRevision: 3 }));
    assert.equal(echoed.messageID, 'M-9');
    assert.equal(echoed.sourceRevision, 3);
});

test('a diagram renders to SVG under an id of its own, and nothing is left behind', async () => {
    const { host, mermaid, doc } = setUp();
    const bodyBefore = doc.body.childNodes.length;
    const reply = await host.handleMessage(envelope({ diagramID: 'D3-7' }));
    assert.equal(reply.type, 'diagramRendered');
    assert.equal(reply.messageID, 'M-1');
    assert.equal(reply.payload.diagramID, 'D3-7');
    assert.equal(reply.payload.svg, `<svg id="${svgElementID('D3-7')}"><g/></svg>`);
    assert.equal(reply.payload.diagramType, 'flowchart-v2');
    assert.ok(reply.payload.renderMs > 0);
    assert.equal(reply.payload.error, undefined);
    assert.deepEqual(mermaid.calls.ids, [svgElementID('D3-7')]);
    assert.equal(doc.getElementById('stage').childNodes.length, 0);
    assert.equal(doc.body.childNodes.length, bodyBefore);
});

test('failures carry their code and message', async () => {
    const cases = [
        ['parse', { source: 'graph TD; syntax error' }, {}, 'parse', /Parse error on line 1: <b>syntax error<\/b>/],
        ['empty', { source: '  \n\t' }, {}, 'empty', /empty/],
        ['parse refused', {}, { parse: () => false }, 'parse', /could not be parsed/],
        ['render throws', {}, { render: () => { throw new Error('layout failed'); } }, 'render', /layout failed/],
        ['render throws a text', {}, { render: () => { throw 'odd'; } }, 'render', /odd/],
        ['no svg', {}, { render: () => ({ svg: '<div>no</div>' }) }, 'render', /no svg/],
        ['long message is cut', {}, { render: () => { throw new Error('x'.repeat(5000)); } }, 'render', /^x{2000}…$/],
    ];
    for (const [name, payload, behaviour, code, message] of cases) {
        const { host, doc } = setUp(behaviour);
        const reply = await host.handleMessage(envelope(payload));
        assert.equal(reply.type, 'diagramRendered', name);
        assert.equal(reply.payload.svg, undefined, name);
        assert.equal(reply.payload.error.code, code, name);
        assert.match(reply.payload.error.message, message, name);
        assert.equal(doc.getElementById('stage').childNodes.length, 0, name);
    }
});

test('mermaid is configured strict, with SVG labels, the base theme only with theme variables', async () => {
    const { host, mermaid } = setUp();
    await host.handleMessage(envelope({ themeVariables: { primaryColor: '#112233', darkMode: true, lineColor: null } }));
    await host.handleMessage(envelope({ themeVariables: null }));
    const [themed, plain] = mermaid.calls.configs;
    for (const config of [themed, plain]) {
        assert.equal(config.securityLevel, 'strict');
        assert.equal(config.htmlLabels, false);
        assert.equal(config.flowchart.htmlLabels, false);
        assert.equal(config.fontFamily, 'system-ui, sans-serif');
    }
    assert.equal(themed.theme, 'base');
    assert.deepEqual(themed.themeVariables, { primaryColor: '#112233', darkMode: true, fontFamily: 'system-ui, sans-serif' });
    assert.equal(plain.theme, 'default');
});

test('theme variables keep only plain keys and colour-like values', () => {
    assert.equal(cleanThemeVariables(null), null);
    assert.equal(cleanThemeVariables(['#fff']), null);
    assert.equal(cleanThemeVariables({ lineColor: null }), null);
    assert.deepEqual(cleanThemeVariables({
        primaryColor: '#AABBCC',
        textColor: 'rgb(1, 2, 3)',
        fontSize: 14,
        darkMode: false,
        background: 'red; } svg { display:none',
        edgeLabelBackground: 'url(https://example.org/x)',
        'font-family': 'serif',
        __proto__x: '#fff',
        nested: { a: 1 },
        huge: Infinity,
    }), { primaryColor: '#AABBCC', textColor: 'rgb(1, 2, 3)', fontSize: 14, darkMode: false });
});

test('svg ids are valid, prefixed and tell apart ids that clean up alike', () => {
    const ids = ['D1-1', 'D1.1', 'D1_1', 'a b', '<script>', 'x'.repeat(300), '图表'];
    const seen = new Set();
    for (const id of ids) {
        const svgID = svgElementID(id);
        assert.match(svgID, /^orvik-diagram-[A-Za-z0-9_-]*-[0-9a-z]+$/, id);
        assert.ok(svgID.length < 80, id);
        assert.ok(!seen.has(svgID), id);
        seen.add(svgID);
        assert.equal(svgElementID(id), svgID);
    }
});

test('the watchdog answers timeout a little before the program gives up, the page reports busy until the render settles', async () => {
    assert.equal(watchdogMs(8000), 7500);
    assert.ok(watchdogMs(100) < 100 && watchdogMs(100) > 0);

    let finish;
    let hang = true;
    const { host, timers, doc } = setUp({
        render: (id) => (hang ? new Promise((resolve) => { hang = false; finish = resolve; }) : { svg: `<svg id="${id}"></svg>` }),
    });
    const first = host.handleMessage(envelope({ diagramID: 'D1-1' }));
    for (let turn = 0; turn < 100 && timers.count === 0; turn += 1) {
        await new Promise((resolve) => setImmediate(resolve));
    }
    assert.equal(timers.count, 1);
    timers.fireAll();
    const timedOut = await first;
    assert.equal(timedOut.payload.error.code, 'timeout');

    const busy = await host.handleMessage(envelope({ diagramID: 'D1-2' }, { messageID: 'M-2' }));
    assert.equal(busy.type, 'error');
    assert.equal(busy.payload.code, 'busy');
    assert.equal(busy.messageID, 'M-2');

    finish({ svg: '<svg></svg>' });
    await new Promise((resolve) => setImmediate(resolve));
    assert.equal(doc.getElementById('stage').childNodes.length, 0);

    // Settled: the page takes requests again.
    const next = await host.handleMessage(envelope({ diagramID: 'D1-3' }, { messageID: 'M-3' }));
    assert.equal(next.type, 'diagramRendered');
    assert.equal(next.payload.svg, `<svg id="${svgElementID('D1-3')}"></svg>`);
});

test('requests are drawn one at a time, in order', async () => {
    const events = [];
    const { host } = setUp({
        render: async (id) => {
            events.push(`start ${id}`);
            await new Promise((resolve) => setImmediate(resolve));
            events.push(`end ${id}`);
            return { svg: `<svg id="${id}"></svg>` };
        },
    });
    const replies = await Promise.all(['A', 'B', 'C'].map((id) => host.handleMessage(envelope({ diagramID: id }))));
    assert.deepEqual(replies.map((r) => r.payload.diagramID), ['A', 'B', 'C']);
    assert.deepEqual(events, ['A', 'B', 'C'].flatMap((id) => [`start ${svgElementID(id)}`, `end ${svgElementID(id)}`]));
});

test('without mermaid every request is answered with an error', async () => {
    const dom = new JSDOM('<!doctype html><body><div id="stage"></div></body>');
    const host = createDiagramHost({
        win: manualTimers(), doc: dom.window.document, mermaid: null, post: () => {}, now: () => 0, fontFamily: '',
    });
    const reply = await host.handleMessage(envelope({}));
    assert.equal(reply.type, 'error');
    assert.equal(reply.payload.code, 'mermaidMissing');
});
