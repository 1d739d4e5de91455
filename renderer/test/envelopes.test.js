import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';

const UUID = /^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$/;
const KEYS = ['documentID', 'messageID', 'payload', 'protocolVersion', 'renderGeneration', 'sourceRevision', 'type', 'viewSessionID'];

function assertEnvelope(envelope) {
    assert.deepEqual(Object.keys(envelope).sort(), KEYS);
    assert.equal(envelope.protocolVersion, 1);
    assert.ok(envelope.payload !== null && typeof envelope.payload === 'object');
}

describe('handshake and events', () => {
    test('events wait for the first request and then carry its session', async () => {
        const h = createHarness();
        h.page.postReady();
        h.doc.dispatchEvent(new h.win.Event('securitypolicyviolation'));
        assert.deepEqual(h.events.map((e) => e.type), ['ready']);

        await h.request('clearFind');
        const queued = h.eventsOf('error');
        assert.equal(queued.length, 1);
        assertEnvelope(queued[0]);
        assert.equal(queued[0].viewSessionID, 'SESSION-1');
        assert.equal(queued[0].documentID, 'DOC-1');
        assert.match(queued[0].messageID, UUID);
        h.close();
    });

    test('script errors are reported; held-back resize notifications are not', async () => {
        const h = createHarness();
        await h.request('clearFind');
        const raise = (init) => h.win.dispatchEvent(new h.win.ErrorEvent('error', init));
        // What the browser raises when resize observers change the layout
        // within a frame: no exception comes with it.
        raise({ message: 'ResizeObserver loop completed with undelivered notifications.' });
        raise({ message: 'ResizeObserver loop limit exceeded' });
        assert.deepEqual(h.eventsOf('error'), []);

        raise({ message: 'TypeError: x is not a function', error: new h.win.TypeError('x is not a function') });
        // A thrown exception is a fault whatever its text says.
        raise({ message: 'ResizeObserver loop completed with undelivered notifications.', error: new h.win.Error('thrown') });
        h.win.dispatchEvent(new h.win.Event('error'));
        assert.deepEqual(h.eventsOf('error').map((e) => e.payload), [
            { code: 'scriptError', message: 'TypeError: x is not a function' },
            { code: 'scriptError', message: 'ResizeObserver loop completed with undelivered notifications.' },
            { code: 'scriptError', message: 'error' },
        ]);
        h.close();
    });

    test('a prewarmed page adopts the session and document of every request', async () => {
        const h = createHarness();
        await h.render('# One');
        h.session.viewSessionID = 'SESSION-2';
        h.session.documentID = 'DOC-2';
        await h.render('# Two\n\n[link](other.md)');
        h.article().querySelector('a').click();
        const [link] = h.eventsOf('openLink');
        assert.equal(link.viewSessionID, 'SESSION-2');
        assert.equal(link.documentID, 'DOC-2');
        // New local images use the adopted document identifier too.
        const reply = await h.render('![x](pic.png)');
        assert.equal(reply.payload.images.local, 1);
        assert.match(h.article().querySelector('img').getAttribute('src'), /^document-resource:\/\/DOC-2\//);
        h.close();
    });
});

describe('replies', () => {
    test('refused requests are answered with error envelopes, never by throwing', async () => {
        const h = createHarness();
        const good = h.envelope('probe');
        const cases = [
            [null, 'invalidEnvelope'],
            ['text', 'invalidEnvelope'],
            [[good], 'invalidEnvelope'],
            [(() => { const e = { ...good, messageID: 'B' }; delete e.payload; return e; })(), 'invalidEnvelope'],
            [{ ...good, messageID: 'C', protocolVersion: 2 }, 'unsupportedVersion'],
            [{ ...good, messageID: 'D', type: 'Render' }, 'unknownType'],
            [{ ...good, messageID: 'E', type: 'rendered' }, 'notARequest'],
            [{ ...good, messageID: 'F', type: 'setFonts' }, 'notARequest'],
            [{ ...good, messageID: 'G', type: 'scrollToSource' }, 'notARequest'],
            [{ ...good, messageID: 'H', sourceRevision: 1.5 }, 'invalidEnvelope'],
            [{ ...good, messageID: 'I', type: 'render', payload: {} }, 'invalidPayload'],
            [{ ...good, messageID: 'J', type: 'setTheme', payload: { themeID: 'mist', themeRevision: 1.5, tokens: {} } }, 'invalidPayload'],
            [{ ...good, messageID: 'K', type: 'find', payload: { query: 'x', direction: 'replaceAll', caseSensitive: false, restart: true } }, 'unsupported'],
            [{ ...good, messageID: 'L', type: 'setViewportInsets', payload: { top: 'x', bottom: 0 } }, 'invalidPayload'],
        ];
        for (const [value, code] of cases) {
            const reply = await h.page.handleMessage(value);
            assertEnvelope(reply);
            assert.equal(reply.type, 'error');
            assert.equal(reply.payload.code, code, JSON.stringify(value)?.slice(0, 80));
            assert.equal(typeof reply.payload.message, 'string');
            if (value && typeof value === 'object' && typeof value.messageID === 'string') {
                assert.equal(reply.messageID, value.messageID);
            }
        }
        // An integral double is an integer.
        const whole = await h.page.handleMessage({ ...h.envelope('probe'), sourceRevision: 5.0 });
        assert.equal(whole.type, 'capabilities');
        h.close();
    });

    test('render generations start at 0, rise by one per render and match the reply', async () => {
        const h = createHarness();
        const before = await h.request('clearFind');
        assert.equal(before.renderGeneration, 0);
        const first = await h.render('one');
        assert.equal(first.renderGeneration, 1);
        assert.equal(first.payload.renderGeneration, 1);
        const second = await h.render('two');
        assert.equal(second.renderGeneration, 2);
        assert.equal(second.payload.renderGeneration, 2);
        const after = await h.request('captureAnchor');
        assert.equal(after.renderGeneration, 2);
        // A refused render does not count.
        const refused = await h.request('render', { language: 'en' });
        assert.equal(refused.type, 'error');
        assert.equal((await h.request('clearFind')).renderGeneration, 2);
        h.close();
    });

    test('overlapping renders: the older one is answered as superseded', async () => {
        let release;
        const gate = new Promise((resolve) => { release = resolve; });
        let calls = 0;
        const h = createHarness({ delay: async () => { calls += 1; if (calls === 1) await gate; return 0; } });
        const older = h.render('# old');
        const newer = h.render('# new');
        release();
        const [a, b] = await Promise.all([older, newer]);
        assert.equal(a.type, 'error');
        assert.equal(a.payload.code, 'superseded');
        assert.equal(b.type, 'rendered');
        assert.equal(b.payload.renderGeneration, 2);
        assert.ok(b.renderGeneration >= a.renderGeneration);
        assert.equal(h.article().querySelector('h1').textContent, 'new');
        h.close();
    });

    test('capabilities: a failed import and no worker are reported as such', async () => {
        const h = createHarness({ importSelf: () => Promise.reject(new Error('no')) });
        const reply = await h.request('probe');
        const p = reply.payload;
        assert.equal(p.dynamicImport, false);
        assert.equal(p.moduleWorker, false);
        // jsdom runs no scripts, as the policy demands of the real page.
        assert.equal(p.cspBlockedInlineScript, true);
        assert.equal(h.doc.querySelectorAll('script').length, 0);
        h.close();
    });
});
