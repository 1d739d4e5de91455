// The page's side of the parse worker: one module worker, a wall-clock budget
// per parse, a fresh worker after a time-out or a crash, and parsing inside
// the page itself when module workers cannot start at all.

import { shownText } from '../parse/text.js';

export const DEFAULT_PARSE_TIMEOUT_MS = 10000;

// A worker with nothing to do for this long after a parse (and its
// highlighting and math) is ended, giving back its heap and the code it
// loaded; the next parse starts a new one. A document edited beside the
// reader is parsed again on each save, usually more often than this, and
// keeps its worker; after a minute without a parse the reader is being read,
// and its next parse pays for a worker's start (about a tenth of a second)
// while the old content stays on screen. A page that has never parsed (a
// spare) keeps its warm worker.
export const IDLE_WORKER_MS = 60000;
// A hidden page (a tab in the background, a minimised window) parses again
// only when its document changes, and nobody watches that render: its idle
// worker goes sooner, and such a parse starts a new one out of sight.
export const HIDDEN_IDLE_WORKER_MS = 2000;

/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./state.js').ParseOutcome} ParseOutcome */
/** @typedef {import('../parse/document.js').ParseOptions} ParseOptions */
/** @typedef {(head: ParseResult) => void} OnHead */
/**
 * A block's highlighted or typeset markup and the text it shows.
 * @typedef {{index: number, html: string, text: string}} EnhancedItem
 */
/** @typedef {(items: EnhancedItem[], done: boolean) => void} OnEnhanced */

/**
 * What the worker's answer settles a request with (a ping's "ok" has no
 * result).
 * @typedef {{status: 'ok', result?: ParseResult, later?: number} | {status: 'timeout'}
 *     | {status: 'failed', message: string} | {status: 'cancelled'}} Answer
 */

// Outcomes of parse(): {status: 'ok', result, later, waitMs}, {status:
// 'timeout', waitMs}, {status: 'failed', message, waitMs} or {status:
// 'cancelled'}. `later` counts the blocks whose highlighting and math come
// afterwards through onEnhanced(items, done), when it was given.
// onWarm(result), when given, receives the worker's warm-up parse (again
// from each new worker); onMath(), when given, hears that a document being
// parsed has math, as soon as the worker knows (its head, else its whole).
/**
 * @param {object} parts
 * @param {Window & typeof globalThis} parts.win
 * @param {URL} parts.workerURL
 * @param {() => Promise<unknown>} parts.importInPage  the worker's module, in the page
 * @param {() => number} parts.now
 * @param {(result: ParseResult) => void} [parts.onWarm]
 * @param {() => void} [parts.onMath]
 * @param {number} [parts.idleMs]  none when 0
 * @param {number} [parts.hiddenIdleMs]  the same while the page is hidden
 */
export function createWorkerParser({
    win, workerURL, importInPage, now, onWarm, onMath, idleMs = IDLE_WORKER_MS, hiddenIdleMs = HIDDEN_IDLE_WORKER_MS,
}) {
    /** @type {any} a Worker or null; replaced from callbacks, which tsc cannot follow */
    let worker = null;
    /** @type {number | null} */
    let idleTimer = null;
    let everWorked = false;
    let unavailable = false;
    let sequence = 0;
    /** @type {Map<number, {finish: (answer: Answer) => void, onHead?: OnHead, onEnhanced?: OnEnhanced}>} */
    const pending = new Map();
    // Parses whose blocks' enhancements are still coming, by request id.
    /** @type {Map<number, OnEnhanced>} */
    const enhancing = new Map();

    // Ends the enhancements under way: their receivers hear that no more come.
    function endEnhancing() {
        const receivers = Array.from(enhancing.values());
        enhancing.clear();
        for (const onEnhanced of receivers) onEnhanced([], true);
    }

    /** @param {Answer} outcome */
    function settleAll(outcome) {
        for (const entry of pending.values()) entry.finish(outcome);
        pending.clear();
        endEnhancing();
    }

    function stopIdle() {
        if (idleTimer === null) return;
        win.clearTimeout(idleTimer);
        idleTimer = null;
    }

    // Ends the worker once it has been idle for idleMs (hiddenIdleMs while
    // the page is hidden).
    function armIdle() {
        stopIdle();
        const delay = win.document?.hidden ? hiddenIdleMs : idleMs;
        if (!worker || !(delay > 0)) return;
        idleTimer = win.setTimeout(() => {
            idleTimer = null;
            if (pending.size === 0 && enhancing.size === 0) discard();
        }, delay);
    }

    // An idle worker's time runs again from a change of visibility, with
    // the delay of the new one.
    function onVisibility() {
        if (idleTimer !== null) armIdle();
    }
    win.document?.addEventListener?.('visibilitychange', onVisibility);

    function discard() {
        stopIdle();
        if (worker) {
            worker.onmessage = null;
            worker.onerror = null;
            worker.terminate();
            worker = null;
        }
    }

    function start() {
        if (worker || unavailable) return worker;
        try {
            worker = new win.Worker(workerURL, { type: 'module' });
        } catch {
            unavailable = true;
            return null;
        }
        worker.onmessage = (/** @type {MessageEvent} */ event) => {
            everWorked = true;
            const message = event.data ?? {};
            if (message.type === 'warm') {
                onWarm?.(message.result);
                return;
            }
            if (message.type === 'enhanced') {
                const onEnhanced = enhancing.get(message.id);
                if (!onEnhanced) return;
                if (message.done) enhancing.delete(message.id);
                onEnhanced(message.items ?? [], Boolean(message.done));
                if (message.done && enhancing.size === 0 && pending.size === 0) armIdle();
                return;
            }
            const entry = pending.get(message.id);
            if (!entry) return;
            if (message.math === true) onMath?.();
            if (message.type === 'head') {
                entry.onHead?.(message.result);
                return;
            }
            pending.delete(message.id);
            if (message.type === 'result') {
                const later = entry.onEnhanced ? Number(message.later) || 0 : 0;
                if (later > 0 && entry.onEnhanced) enhancing.set(message.id, entry.onEnhanced);
                else if (pending.size === 0 && enhancing.size === 0) armIdle();
                entry.finish({ status: 'ok', result: message.result, later });
            }
            else if (message.type === 'pong') entry.finish({ status: 'ok' });
            else entry.finish({ status: 'failed', message: String(message.message ?? 'parse failed') });
        };
        worker.onerror = (/** @type {ErrorEvent} */ event) => {
            event?.preventDefault?.();
            discard();
            // A worker that never answered could not load: parse in the page.
            if (!everWorked) unavailable = true;
            settleAll({ status: 'failed', message: String(event?.message ?? 'worker error') });
        };
        return worker;
    }

    // A parse that runs out of time leaves its worker stuck in it, and the
    // worker is replaced; a ping that does so only found the worker busy
    // (still starting, warming up or parsing), and the worker stays.
    /**
     * @param {{type: 'parse', source: string, options: ParseOptions, head: boolean, later: boolean} | {type: 'ping'}} message
     * @param {number} timeoutMs  none when 0
     * @param {OnHead} [onHead]
     * @param {OnEnhanced} [onEnhanced]
     * @returns {Promise<ParseOutcome>}  a ping's "ok" without a result
     */
    function request(message, timeoutMs, onHead, onEnhanced) {
        const started = now();
        return new Promise((resolve) => {
            const id = ++sequence;
            /** @type {number | null} */
            let timer = null;
            /** @param {Answer} outcome */
            const finish = (outcome) => {
                if (timer !== null) win.clearTimeout(timer);
                resolve(/** @type {ParseOutcome} */ ({ ...outcome, waitMs: now() - started }));
            };
            stopIdle();
            pending.set(id, { finish, onHead, onEnhanced });
            if (timeoutMs > 0) {
                timer = win.setTimeout(() => {
                    if (!pending.has(id)) return;
                    pending.delete(id);
                    if (message.type === 'parse') {
                        discard();
                        settleAll({ status: 'failed', message: 'worker replaced after a time-out' });
                    }
                    finish({ status: 'timeout' });
                }, timeoutMs);
            }
            worker.postMessage({ ...message, id });
        });
    }

    /** @typedef {{parseLoaded: typeof import('../worker.js').parseLoaded}} InPageModule */
    /** @type {InPageModule | null} the worker's module, once imported in the page */
    let inPageModule = null;
    /**
     * @param {string} source
     * @param {ParseOptions} options
     * @returns {Promise<ParseOutcome>}
     */
    async function parseInPage(source, options) {
        const started = now();
        try {
            inPageModule ??= /** @type {InPageModule} */ (await importInPage());
            const { result } = await inPageModule.parseLoaded(source, options);
            return { status: 'ok', result, later: 0, waitMs: now() - started };
        } catch (error) {
            return { status: 'failed', message: String(error?.message ?? error), waitMs: now() - started };
        }
    }

    return {
        get mode() {
            return unavailable ? 'page' : 'worker';
        },
        warmUp() {
            start();
        },
        // onHead, when given, receives the parse of a long document's head
        // before the whole result; onEnhanced, when given, the blocks'
        // highlighting and math after it.
        /**
         * @param {string} source
         * @param {ParseOptions} options
         * @param {number} timeoutMs
         * @param {OnHead} [onHead]
         * @param {OnEnhanced} [onEnhanced]
         * @returns {Promise<ParseOutcome>}
         */
        async parse(source, options, timeoutMs, onHead, onEnhanced) {
            if (!start()) return parseInPage(source, options);
            endEnhancing();
            const outcome = await request({ type: 'parse', source, options, head: Boolean(onHead), later: Boolean(onEnhanced) },
                timeoutMs, onHead, onEnhanced);
            if (outcome.status === 'failed' && unavailable) return parseInPage(source, options);
            return outcome;
        },
        // The blocks from `from` to `to` are on the reader's screen: the
        // highlighting and math still coming go to them first.
        /**
         * @param {number} from
         * @param {number} to
         */
        prefer(from, to) {
            if (!worker) return;
            for (const id of enhancing.keys()) worker.postMessage({ type: 'prefer', id, from, to });
        },
        // Drops the parse under way (a newer render replaced it).
        cancel() {
            endEnhancing();
            if (pending.size === 0) {
                armIdle();
                return;
            }
            discard();
            settleAll({ status: 'cancelled' });
        },
        // Whether module workers run here: a worker has answered, or answers
        // within timeoutMs. One that cannot load fails at once.
        /** @param {number} timeoutMs */
        async ping(timeoutMs) {
            if (!start()) return false;
            if (everWorked) return true;
            const outcome = await request({ type: 'ping' }, timeoutMs);
            return outcome.status === 'ok';
        },
        dispose() {
            win.document?.removeEventListener?.('visibilitychange', onVisibility);
            discard();
            settleAll({ status: 'cancelled' });
        },
    };
}

// A parser that runs in the calling thread; tests use it, with an optional
// delay, in place of the worker. With `later`, highlighting and math come
// after the result, all at once in a task, as the worker sends them.
/**
 * @param {object} parts
 * @param {typeof import('../parse/document.js').parseDocument} parts.parseDocument
 * @param {() => number} parts.now
 * @param {(source: string, options: ParseOptions) => Promise<number>} [parts.delay]
 *     how long the parse took, in milliseconds
 * @param {(source: string) => number} [parts.headCut]
 * @param {boolean} [parts.later]
 */
export function createInlineParser({ parseDocument, now, delay, headCut, later: enhanceLater = false }) {
    /** @type {object | null} */
    let cancelled = null;
    return {
        mode: 'inline',
        warmUp() {},
        /**
         * @param {string} source
         * @param {ParseOptions} options
         * @param {number} timeoutMs
         * @param {OnHead} [onHead]
         * @param {OnEnhanced} [onEnhanced]
         * @returns {Promise<ParseOutcome>}
         */
        async parse(source, options, timeoutMs, onHead, onEnhanced) {

            const started = now();
            const token = {};
            cancelled = token;
            const cut = onHead && headCut ? headCut(source) : 0;
            // As the worker does: the head's highlighting and math too come
            // later, but for its first screen.
            if (cut > 0 && onHead) onHead(parseDocument(source.slice(0, cut), options, enhanceLater && onEnhanced ? [] : undefined));
            const wait = delay ? await delay(source, options) : 0;
            if (cancelled !== token) return { status: 'cancelled', waitMs: now() - started };
            if (timeoutMs > 0 && wait >= timeoutMs) return { status: 'timeout', waitMs: timeoutMs };
            try {
                /** @type {{index: number, render: () => string}[] | undefined} */
                const later = enhanceLater && onEnhanced ? [] : undefined;
                const result = parseDocument(source, options, later);
                if (later && later.length > 0) {
                    setTimeout(() => {
                        if (cancelled !== token || !onEnhanced) return;
                        onEnhanced(later.map((entry) => {
                            const html = entry.render();
                            return { index: entry.index, html, text: shownText(html) };
                        }), true);
                    }, 0);
                }
                return { status: 'ok', result, later: later?.length ?? 0, waitMs: now() - started };
            } catch (error) {
                return { status: 'failed', message: String(error?.message ?? error), waitMs: now() - started };
            }
        },
        cancel() {
            cancelled = {};
        },
        async ping() {
            return true;
        },
        dispose() {},
    };
}
