// The golden envelopes of test/golden/, which the reader's tests decode and
// encode too: the page must accept every request in them and answer and post
// exactly what they hold. Values the page measures (timings, the engine's own
// answers, identifiers of its events) must be there with the golden's JSON
// kind, whatever their value.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { createHarness } from './support/harness.js';
import table from '../src/protocol.json' with { type: 'json' };

const folder = new URL('./golden/', import.meta.url);
const golden = Object.fromEntries(readdirSync(folder).filter((name) => name.endsWith('.json'))
    .map((name) => [name.slice(0, -5), JSON.parse(readFileSync(new URL(name, folder), 'utf8'))]));

const kind = (value) => (value === null ? 'null' : Array.isArray(value) ? 'array' : typeof value);

// `measured`: paths ("payload.timings.*" for every member) compared by kind only.
function expectSame(actual, expected, measured = [], path = '') {
    const parent = path.slice(0, path.lastIndexOf('.') + 1);
    assert.equal(kind(actual), kind(expected), `${path}: ${JSON.stringify(actual)}`);
    if (measured.includes(path) || measured.includes(`${parent}*`)) return;
    if (kind(expected) === 'array') {
        assert.equal(actual.length, expected.length, `${path}: ${JSON.stringify(actual)}`);
        expected.forEach((item, i) => expectSame(actual[i], item, measured, `${path}[${i}]`));
    } else if (kind(expected) === 'object') {
        assert.deepEqual(Object.keys(actual).sort(), Object.keys(expected).sort(), path);
        for (const key of Object.keys(expected)) {
            expectSame(actual[key], expected[key], measured, path ? `${path}.${key}` : key);
        }
    } else {
        assert.equal(actual, expected, path);
    }
}

const UUID = /^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$/;

function check(file, name, actual, measured = []) {
    const expected = golden[file][name];
    assert.ok(expected, `${file}: ${name}`);
    assert.equal(actual?.type, expected.type, `${name}: ${JSON.stringify(actual?.payload)}`);
    expectSame(actual, expected, measured);
    if (measured.includes('messageID')) assert.match(actual.messageID, UUID);
}

const TIMINGS = ['payload.timings.*'];
const EVENT = ['messageID']; // the page's own upper-case UUID

test('every message type that travels has a golden envelope, and no other does', () => {
    const types = new Set(Object.values(golden).flatMap((cases) => Object.values(cases).map((e) => e.type)));
    const travelling = new Set([...Object.keys(table.requests), ...Object.values(table.requests), ...table.events]);
    assert.deepEqual([...types].sort(), [...travelling].sort());
});

test('one reading session: the page takes every golden request and answers and posts the golden envelopes', async () => {
    const h = createHarness({ geometry: { viewportHeight: 300 } });
    // Images load at once. Widths the page measures for its layout report:
    // blocks holding a <pre> overflow their box and the prose column.
    Object.defineProperty(h.win.HTMLImageElement.prototype, 'complete', { get: () => true });
    Object.defineProperty(h.win.HTMLPreElement.prototype, 'scrollWidth', { get: () => 1400 });
    Object.defineProperty(h.win.HTMLPreElement.prototype, 'clientWidth', { get: () => 720 });
    h.geometry.width = (element) => (element.querySelector(':scope > pre') ? 1400 : 0);
    const event = (type) => h.eventsOf(type).at(-1);
    async function exchange(file, request, reply, measured = []) {
        const sent = golden[file][request];
        const answer = await h.request(sent.type, sent.payload, sent);
        check(file, reply, answer, measured);
    }

    h.page.postReady();
    check('handshake', 'ready', event('ready'), EVENT);
    await exchange('handshake', 'probe', 'capabilities', ['payload.*']);

    await exchange('appearance', 'setTheme', 'themeApplied');
    await exchange('appearance', 'setBackground', 'backgroundApplied',
        ['payload.computedBackground', 'payload.computedColorScheme']);
    await exchange('appearance', 'setTypography', 'typographyApplied');
    await exchange('appearance', 'setAccessibility', 'accessibilityApplied');
    await exchange('appearance', 'setViewportInsets', 'viewportInsetsApplied');

    await exchange('render', 'render', 'rendered', TIMINGS);
    check('navigation', 'layoutReport', event('layoutReport'),
        [...EVENT, 'payload.pageScrollWidth', 'payload.clientWidth', 'payload.proseWidth', 'payload.availableWidth']);
    check('navigation', 'activeHeading', event('activeHeading'), EVENT);
    check('diagrams', 'diagramRequest', event('diagramRequest'), EVENT);

    await exchange('diagrams', 'diagramResult', 'diagramApplied');
    check('diagrams', 'diagramsProgress', event('diagramsProgress'), [...EVENT, 'payload.diagramMs']);
    await exchange('diagrams', 'diagramResult, failed', 'diagramApplied, no longer awaited');

    await exchange('navigation', 'scrollToHeading', 'scrolled');
    await exchange('navigation', 'find', 'findResult');
    await exchange('navigation', 'find, replacing', 'error, refusing it');
    await exchange('navigation', 'clearFind', 'findResult, cleared');
    await exchange('navigation', 'captureAnchor', 'anchor');
    assert.deepEqual(golden.render['render, restoring a reading position'].payload.restoreAnchor,
        golden.navigation.anchor.payload.anchor);
    h.geometry.setScrollTop(0);
    await exchange('render', 'render, restoring a reading position', 'rendered, with the position restored',
        [...TIMINGS, 'payload.anchorRestored.elapsedMs']);
    await exchange('render', 'render, scrolling to a source line', 'rendered, scrolled to the line', TIMINGS);

    h.article().querySelector('a').dispatchEvent(new h.win.MouseEvent('click', { bubbles: true, cancelable: true, ctrlKey: true }));
    check('links', 'openLink', event('openLink'), EVENT);
    h.article().querySelector('button.md-copy').click();
    check('links', 'copyText', event('copyText'), EVENT);
    h.doc.dispatchEvent(Object.assign(new h.win.Event('securitypolicyviolation'),
        { violatedDirective: 'img-src', blockedURI: 'https://example.org/tracker.png' }));
    check('handshake', 'error', event('error'), EVENT);

    // A page without a size restores the reading position once it has one,
    // and says how in an event; an empty document has nothing to restore to.
    const resize = (width, height) => {
        h.geometry.resize(width, height);
        Object.assign(h.win, { innerWidth: width, innerHeight: height });
        h.page.onResize();
    };
    resize(0, 0);
    const restore = golden.render['render, restoring a reading position'];
    await h.page.handleMessage({ ...restore, payload: { ...restore.payload, source: '' } });
    resize(900, 300);
    check('navigation', 'anchorRestored', event('anchorRestored'), [...EVENT, 'payload.elapsedMs']);
    h.close();
});

test('a parse that runs out of time is answered with the plain-text rendering', async () => {
    const h = createHarness({ parseTimeoutMs: 50, delay: async () => 60 });
    const sent = golden.render['render, too slow to parse'];
    const answer = await h.request(sent.type, sent.payload, sent);
    check('render', 'rendered, as plain text', answer, TIMINGS);
    h.close();
});
