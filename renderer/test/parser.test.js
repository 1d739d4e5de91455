import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createWorkerParser } from '../src/page/parser.js';

// A module worker that answers only when told to; with `timers`, the
// parser's timers wait until the test fires them.
function fakeWorkers({ timers = null, idleMs, hiddenIdleMs, document } = {}) {
    const made = [];
    class FakeWorker {
        constructor() {
            this.received = [];
            this.terminated = false;
            made.push(this);
        }
        postMessage(message) {
            this.received.push(message);
        }
        terminate() {
            this.terminated = true;
        }
        answer(data) {
            this.onmessage?.({ data });
        }
    }
    const win = timers
        ? {
            Worker: FakeWorker,
            setTimeout: (fn, ms) => timers.push({ fn, ms }) - 1,
            clearTimeout: (index) => { if (timers[index]) timers[index].fn = null; },
            document,
        }
        : { Worker: FakeWorker, setTimeout, clearTimeout };
    const parser = createWorkerParser({
        win, workerURL: 'parse-worker.js', importInPage: async () => ({}), now: () => performance.now(), idleMs, hiddenIdleMs,
    });
    return { parser, made };
}

describe('parse worker', () => {
    test('a ping that finds the worker busy leaves it in place; a late parse replaces it', async () => {
        const { parser, made } = fakeWorkers();
        parser.warmUp();
        // Still loading or warming up: no answer in time, but not stuck.
        assert.equal(await parser.ping(20), false);
        assert.equal(made.length, 1);
        assert.equal(made[0].terminated, false);

        const parsing = parser.parse('# x', {}, 0);
        made[0].answer({ type: 'warm', result: {} });
        made[0].answer({ type: 'result', id: made[0].received.at(-1).id, result: { blocks: [] } });
        assert.equal((await parsing).status, 'ok');
        // It has answered: module workers run here.
        assert.equal(await parser.ping(20), true);

        const late = await parser.parse('# y', {}, 20);
        assert.equal(late.status, 'timeout');
        assert.equal(made[0].terminated, true);
        assert.equal(parser.mode, 'worker');
    });

    test('a worker that cannot load fails the ping at once and parsing moves into the page', async () => {
        const { parser, made } = fakeWorkers();
        const pinging = parser.ping(10000);
        made[0].onerror({ message: 'module failed to load', preventDefault() {} });
        assert.equal(await pinging, false);
        assert.equal(parser.mode, 'page');
    });

    test('highlighting and math stream to the parse that asked for them until a newer parse or a failure', async () => {
        const { parser, made } = fakeWorkers();
        const received = [];
        const parsing = parser.parse('a', {}, 0, undefined, (items, done) => received.push(['a', items.length, done]));
        const first = made[0].received.at(-1);
        assert.equal(first.later, true);
        made[0].answer({ type: 'result', id: first.id, result: { blocks: [] }, later: 3 });
        assert.equal((await parsing).later, 3);
        made[0].answer({ type: 'enhanced', id: first.id, items: [{ index: 0, html: '<p></p>' }], done: false });
        // A newer parse ends the older one's stream; what the worker still
        // sends for it goes nowhere.
        const next = parser.parse('b', {}, 0, undefined, (items, done) => received.push(['b', items.length, done]));
        const second = made[0].received.at(-1);
        made[0].answer({ type: 'enhanced', id: first.id, items: [{ index: 1, html: '<p></p>' }], done: true });
        made[0].answer({ type: 'result', id: second.id, result: { blocks: [] }, later: 2 });
        await next;
        made[0].onerror({ message: 'crashed', preventDefault() {} });
        assert.deepEqual(received, [['a', 1, false], ['a', 0, true], ['b', 0, true]]);

        // Without a receiver nothing is deferred.
        const { parser: plain, made: plainMade } = fakeWorkers();
        const whole = plain.parse('c', {}, 0);
        assert.equal(plainMade[0].received.at(-1).later, false);
        plainMade[0].answer({ type: 'result', id: plainMade[0].received.at(-1).id, result: { blocks: [] }, later: 2 });
        assert.equal((await whole).later, 0);
    });

    test('a worker idle after its last parse ends and the next parse starts another; a spare keeps its own', async () => {
        const timers = [];
        const pendingIdle = () => timers.filter((t) => t.fn && t.ms === 500);
        const { parser, made } = fakeWorkers({ timers, idleMs: 500 });
        const answer = (worker, later = 0) => {
            const { id } = worker.received.at(-1);
            worker.answer({ type: 'result', id, result: { blocks: [] }, later });
            return id;
        };
        // Warm and probed but never parsed, as a spare is: no idle timer.
        parser.warmUp();
        const ping = parser.ping(0);
        made[0].answer({ type: 'pong', id: made[0].received.at(-1).id });
        assert.equal(await ping, true);
        assert.equal(pendingIdle().length, 0);

        // Highlighting and math still coming keep the worker; their end arms
        // the timer, and a newer parse stops it.
        const first = parser.parse('a', {}, 0, undefined, () => {});
        const id = answer(made[0], 2);
        await first;
        assert.equal(pendingIdle().length, 0);
        made[0].answer({ type: 'enhanced', id, items: [], done: true });
        assert.equal(pendingIdle().length, 1);
        const second = parser.parse('b', {}, 0);
        assert.equal(pendingIdle().length, 0);
        answer(made[0]);
        await second;

        pendingIdle()[0].fn();
        assert.equal(made[0].terminated, true);
        assert.equal(parser.mode, 'worker');
        const third = parser.parse('c', {}, 0);
        assert.equal(made.length, 2, 'a new worker for the next parse');
        answer(made[1]);
        assert.equal((await third).status, 'ok');
        assert.equal(await parser.ping(0), true, 'still known to work');
    });

    test('a hidden page ends its idle worker sooner; its visibility changing restarts the wait', async () => {
        const timers = [];
        const listeners = new Set();
        const document = {
            hidden: true,
            addEventListener: (type, fn) => type === 'visibilitychange' && listeners.add(fn),
            removeEventListener: (type, fn) => listeners.delete(fn),
        };
        const setHidden = (hidden) => {
            document.hidden = hidden;
            for (const fn of listeners) fn();
        };
        const armed = () => timers.filter((t) => t.fn).map((t) => t.ms);
        const { parser, made } = fakeWorkers({ timers, idleMs: 500, hiddenIdleMs: 20, document });
        // A hidden spare, warm and never parsed, keeps its worker.
        parser.warmUp();

        const parse = async () => {
            const parsing = parser.parse('a', {}, 0);
            const worker = made.at(-1);
            worker.answer({ type: 'result', id: worker.received.at(-1).id, result: { blocks: [] } });
            await parsing;
        };
        setHidden(false);
        setHidden(true);
        assert.deepEqual(armed(), []);
        await parse();
        assert.deepEqual(armed(), [20], 'parsed while hidden');
        for (const [hidden, delay] of [[false, 500], [true, 20], [false, 500]]) {
            setHidden(hidden);
            assert.deepEqual(armed(), [delay]);
        }
        setHidden(true);
        const due = timers.find((t) => t.fn);
        const fire = due.fn;
        due.fn = null;
        fire();
        assert.equal(made[0].terminated, true);
        // Ended, nothing is armed by a change of visibility.
        setHidden(false);
        assert.deepEqual(armed(), []);

        await parse();
        assert.equal(made.length, 2);
        assert.deepEqual(armed(), [500], 'parsed while shown');
        parser.dispose();
        assert.equal(listeners.size, 0);
    });
});
