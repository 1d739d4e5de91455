// @ts-check
// The renderer page: answers the reader's requests, posts the page's own
// events and owns the rendered document. Everything the page touches comes
// in through `host`, so the same code runs in the web view and in tests.
// The render request is in render.js (its insertion loop in insert.js, the
// highlighting and math in enhance.js, its reply in reply.js), returning the
// reader to a place in restore.js, the layout report and active heading in
// layout.js; they share the state of state.js.

import {
    REPLY_OF, PageError, readRequest, makeEnvelope, newMessageID, readyEnvelope, isPlainObject, isFiniteNumber, finite,
} from './protocol.js';
import { createScheduler } from './scheduler.js';
import { createFrameBudget } from './budget.js';
import { createGeometry, captureAnchor } from './anchors.js';
import { createSanitizer, createSVGSanitizer } from './sanitize.js';
import { createTheme } from './theme.js';
import { createTypography } from './typography.js';
import { createFind } from './find.js';
import { createDiagrams } from './diagrams.js';
import { installLinkHandling } from './links.js';
import { DEFAULT_PARSE_TIMEOUT_MS } from './parser.js';
import { createState } from './state.js';
import { createViews } from './view.js';
import { createLayout, isHidden } from './layout.js';
import { createRestore } from './restore.js';
import { createRenderer } from './render.js';
import { showUnavailableImage } from './images.js';
import { textsFor } from '../texts.js';
import { slug } from 'github-slugger';
import { trimmedIds } from '../slugs.js';

/**
 * @typedef {import('../protocol.js').RequestType} RequestType
 * @typedef {import('../protocol.js').EventType} EventType
 */
/**
 * @template {RequestType} T
 * @typedef {import('../protocol.js').RequestPayload<T>} RequestPayload
 */
/**
 * @template {RequestType} T
 * @typedef {import('../protocol.js').ReplyPayload<T>} ReplyPayload
 */
/**
 * @template {EventType} T
 * @typedef {import('../protocol.js').EventPayload<T>} EventPayload
 */
/**
 * What answers each request: its payload in, the reply's payload out.
 * @typedef {{[T in RequestType]: (payload: RequestPayload<T>) => ReplyPayload<T> | Promise<ReplyPayload<T>>}} Handlers
 */
/**
 * Posts an event to the reader.
 * @typedef {<T extends EventType>(type: T, payload: EventPayload<T>) => void} Post
 */

/**
 * @typedef {object} Host
 * @property {Window & typeof globalThis} win
 * @property {Document} doc
 * @property {(envelope: object) => void} postMessage  hands an event to the reader
 * @property {import('./state.js').Parser} parser  see parser.js
 * @property {() => number} [now]  milliseconds, monotonic
 * @property {ReturnType<typeof createScheduler>} [scheduler]  see scheduler.js
 * @property {import('./state.js').Geometry} [geometry]  see anchors.js
 * @property {() => Promise<unknown>} [importSelf]  a dynamic import, for the capability probe
 * @property {number} [parseTimeoutMs]  the parse budget
 */

const MAX_ERROR_EVENTS = 20;

// A heading scroll is placed again each frame until the layout around it
// holds still for this many frames (chunks off screen are laid out only
// when they come near it, at their real heights), for at most so many.
const HEADING_SETTLED_FRAMES = 3;
const HEADING_SETTLE_LIMIT = 120;

// The browser reports resize notifications that it holds back to the next
// frame (when observers change the layout within a frame) as an error event
// on the window that carries no exception. No script failed: the held-back
// notifications come with the next frame.
const RESIZE_OBSERVER_LOOP = /^ResizeObserver loop (completed with undelivered notifications|limit exceeded)/;

/** @param {ErrorEvent} event */
function isResizeObserverLoop(event) {
    return event.error == null && RESIZE_OBSERVER_LOOP.test(String(event.message ?? ''));
}

/** @param {Host} host */
export function createPage(host) {
    const { win, doc, parser } = host;
    const now = host.now ?? (() => win.performance.now());
    const scheduler = host.scheduler ?? createScheduler(win);
    // Insertion, dressing and find ask it for their slices of each frame.
    const budget = createFrameBudget({ scheduler, now });
    const geometry = host.geometry ?? createGeometry(win, doc);
    const parseTimeoutMs = host.parseTimeoutMs ?? DEFAULT_PARSE_TIMEOUT_MS;
    const root = doc.documentElement;

    const content = doc.getElementById('content') ?? (() => {
        const main = doc.createElement('main');
        main.id = 'content';
        doc.body.append(main);
        return main;
    })();

    const state = createState();
    // Events wait here until the first request names the session.
    /** @type {[EventType, EventPayload<EventType>][]} */
    let queue = [];
    let seenRequest = false;
    let errorEvents = 0;
    // Until then, a blocked inline script is the capability probe's own.
    let probeGuardUntil = 0;
    let lastSize = { width: win.innerWidth, height: win.innerHeight };
    /** @type {(() => void)[]} */
    const disposers = [];

    // ---- events -------------------------------------------------------

    /** @type {Post} */
    function send(type, payload) {
        try {
            host.postMessage(makeEnvelope({
                messageID: newMessageID(win.crypto),
                viewSessionID: state.session.viewSessionID,
                documentID: state.session.documentID,
                sourceRevision: state.session.sourceRevision,
                renderGeneration: state.generation,
                type,
                payload,
            }));
        } catch {
            // The reader is gone; nothing to tell.
        }
    }

    /** @type {Post} */
    function post(type, payload) {
        if (!seenRequest) queue.push([type, payload]);
        else send(type, payload);
    }

    function postReady() {
        try {
            host.postMessage(readyEnvelope(win.crypto));
        } catch {
            // No reader to tell.
        }
    }

    /**
     * @param {string} code
     * @param {unknown} message
     */
    function postError(code, message) {
        if (errorEvents >= MAX_ERROR_EVENTS) return;
        errorEvents += 1;
        post('error', { code, message: String(message).slice(0, 500) });
    }

    // ---- parts --------------------------------------------------------

    const sanitizer = createSanitizer(win);
    const svgSanitizer = createSVGSanitizer(win);
    const theme = createTheme(doc);
    const typography = createTypography(doc);
    const find = createFind({
        doc,
        getView: () => state.view,
        isRendering: () => state.activeRender !== null,
        geometry,
        getInsetTop: () => state.insets.top,
        scheduler,
        budget,
        now,
    });
    const diagrams = createDiagrams({
        doc,
        post,
        sanitizeSVG: svgSanitizer.sanitizeSVG,
        themeVariables: () => theme.diagramThemeVariables(),
        themeKey: () => theme.themeKey,
        now,
        texts: () => textsFor(state.language),
        keepPlace: (element, change) => (geometry.keepPlace ? geometry.keepPlace(element, change) : change()),
    });
    const views = createViews({ doc, geometry, sanitizer, state });
    const layout = createLayout({ win, doc, geometry, typography, state, post });
    const restore = createRestore({ win, geometry, now, state, post, diagrams, anchorView: views.anchorView });
    const { render, dispose: disposeRender } = createRenderer({
        doc, content, geometry, now, parser, scheduler, budget, parseTimeoutMs, state, views, diagrams, find, restore, layout,
    });

    disposers.push(installLinkHandling(doc, {
        onLink: (link) => post('openLink', link),
        onCopy: (text, kind) => post('copyText', { text, kind }),
    }));

    // ---- other requests -----------------------------------------------

    /** @type {{cancelled: boolean} | null} */
    let headingScroll = null;

    function cancelHeadingScroll() {
        if (headingScroll) headingScroll.cancelled = true;
        headingScroll = null;
    }

    // The headings' former ids by view, worked out on the first miss.
    /** @type {WeakMap<import('./view.js').View, Map<string, string>>} */
    const formerIds = new WeakMap();

    /**
     * The heading, element or named anchor an identifier names: a heading's
     * id, any id in the document, the id's slug, the ids and names that the
     * sanitiser gave raw markup ("user-content-…"), then a heading's id as
     * slugged from its trimmed text (without the hyphens that spaces left
     * by raw tags or badges at either end give).
     * @param {import('./view.js').View} view
     * @param {string} id
     * @returns {Element | null}
     */
    function targetOf(view, id) {
        /** @param {string} key */
        const byHeading = (key) => {
            const index = view.indexById.get(key);
            return index !== undefined && view.blocks[index].kind === 'heading' ? view.elements[index] ?? null : null;
        };
        /** @param {string} key */
        const inArticle = (key) => {
            const found = key ? doc.getElementById(key) : null;
            return found && view.article.contains(found) ? found : null;
        };
        /** @param {string} key */
        const named = (key) => {
            if (!key) return null;
            for (const found of Array.from(doc.getElementsByName(key))) if (view.article.contains(found)) return found;
            return null;
        };
        /** @param {string} key */
        const byFormerId = (key) => {
            let ids = formerIds.get(view);
            if (!ids) {
                ids = trimmedIds(view.headings);
                formerIds.set(view, ids);
            }
            const current = ids.get(key);
            return current === undefined ? null : byHeading(current);
        };
        const prefixed = `user-content-${id}`;
        return byHeading(id) ?? inArticle(id) ?? byHeading(slug(id)) ?? inArticle(prefixed)
            ?? named(prefixed) ?? named(id) ?? byFormerId(id) ?? byFormerId(slug(id));
    }

    // Puts the target at the reading line, or as near as the end of the
    // document allows, and keeps it there while the chunks around it take
    // their real heights; the reply comes once it holds still, the frames
    // stop (a hidden page), the reader scrolls or another scroll or render
    // takes over.
    /** @type {Handlers['scrollToHeading']} */
    async function scrollToHeading(payload) {
        if (!isPlainObject(payload) || typeof payload.id !== 'string') {
            throw new PageError('invalidPayload', 'scrollToHeading needs an id');
        }
        const id = payload.id;
        const view = state.view;
        const element = view ? targetOf(view, id) : null;
        if (!view || !element) return { id, found: false };
        restore.cancelPin();
        cancelHeadingScroll();
        const run = { cancelled: false };
        headingScroll = run;
        const place = () => {
            const target = Math.max(0, Math.min(geometry.top(element) - state.insets.top, geometry.maxScroll()));
            if (Math.abs(geometry.scrollTop() - Math.round(target)) < 1) return false;
            geometry.setScrollTop(target);
            return true;
        };
        place();
        let still = 0;
        // A hidden page has no frames and lays nothing out meanwhile.
        const settling = !isHidden(doc, geometry);
        for (let frame = 0; settling && frame < HEADING_SETTLE_LIMIT && still < HEADING_SETTLED_FRAMES; frame++) {
            const stamp = await scheduler.nextFrame();
            if (run.cancelled || state.view !== view || !element.isConnected) break;
            const moved = place();
            if (stamp === null) break;
            still = moved ? 0 : still + 1;
        }
        if (headingScroll === run) headingScroll = null;
        return { id, found: true };
    }

    /** @type {Handlers['setViewportInsets']} */
    function setViewportInsets(payload) {
        if (!isPlainObject(payload) || !isFiniteNumber(payload.top) || !isFiniteNumber(payload.bottom)) {
            throw new PageError('invalidPayload', 'setViewportInsets needs finite top and bottom');
        }
        state.insets = { top: Math.max(0, payload.top), bottom: Math.max(0, payload.bottom) };
        geometry.setReadingLine?.(state.insets.top);
        root.style.setProperty('--md-inset-top', `${state.insets.top}px`);
        root.style.setProperty('--md-inset-bottom', `${state.insets.bottom}px`);
        return { top: state.insets.top, bottom: state.insets.bottom, originOffset: finite(geometry.top(content)) };
    }

    async function capabilities() {
        let dynamicImport = false;
        try {
            if (host.importSelf) {
                await host.importSelf();
                dynamicImport = true;
            }
        } catch {
            dynamicImport = false;
        }
        let moduleWorker = false;
        try {
            // A worker that is still starting on a busy machine answers
            // after its warm-up parse.
            moduleWorker = parser.mode === 'worker' && await parser.ping(parseTimeoutMs);
        } catch {
            moduleWorker = false;
        }
        return {
            isSecureContext: Boolean(win.isSecureContext),
            cryptoSubtle: Boolean(win.crypto && win.crypto.subtle),
            moduleWorker,
            dynamicImport,
            cspBlockedInlineScript: inlineScriptBlocked(),
            userAgent: String(win.navigator?.userAgent ?? ''),
        };
    }

    // Tries an inline script of our own; under the page's content security
    // policy it must not run.
    function inlineScriptBlocked() {
        const flag = '__larkspinInlineProbe';
        const globals = /** @type {Record<string, unknown>} */ (/** @type {unknown} */ (win));
        globals[flag] = false;
        probeGuardUntil = now() + 1000;
        const script = doc.createElement('script');
        script.textContent = `window.${flag} = true;`;
        (doc.head ?? root).append(script);
        script.remove();
        const ran = globals[flag] === true;
        delete globals[flag];
        return !ran;
    }

    /** @type {Handlers} */
    const handlers = {
        render,
        probe: capabilities,
        // Diagrams already drawn follow the theme's colours and scheme.
        setBackground: (payload) => {
            const reply = theme.setBackground(payload, win);
            diagrams.redraw();
            return reply;
        },
        setTheme: (payload) => {
            const reply = restore.keepThrough(() => theme.setTheme(payload));
            diagrams.redraw();
            return reply;
        },
        scrollToHeading,
        setTypography: (payload) => {
            const reply = restore.keepThrough(() => {
                const applied = typography.setTypography(payload);
                layout.syncAvailableWidth();
                views.refitTables(state.view);
                return applied;
            });
            layout.scheduleReport('typography');
            return reply;
        },
        diagramResult: (payload) => {
            const reply = diagrams.apply(payload);
            if (reply.accepted) restore.lateLayoutChanged();
            return reply;
        },
        find: (payload) => find.find(payload),
        clearFind: () => find.clear(),
        setViewportInsets,
        captureAnchor: () => {
            const view = state.view;
            const anchor = view ? captureAnchor(views.anchorView(view)) : null;
            return anchor ? { anchor } : {};
        },
        setAccessibility: (payload) => restore.keepThrough(() => theme.setAccessibility(payload)),
    };

    // ---- entry point --------------------------------------------------

    /**
     * @param {Partial<import('./protocol.js').Echo>} echo
     * @param {unknown} code
     * @param {unknown} message
     */
    function errorEnvelope(echo, code, message) {
        return makeEnvelope({
            messageID: echo.messageID ?? '',
            viewSessionID: echo.viewSessionID ?? state.session.viewSessionID,
            documentID: echo.documentID ?? state.session.documentID,
            sourceRevision: echo.sourceRevision ?? state.session.sourceRevision,
            renderGeneration: state.generation,
            type: 'error',
            payload: { code: String(code), message: String(message) },
        });
    }

    /**
     * @param {unknown} value  an envelope as the reader sent it
     * @returns {Promise<object>}  the reply envelope
     */
    function handleMessage(value) {
        let read;
        try {
            read = readRequest(value);
        } catch (error) {
            return Promise.resolve(errorEnvelope({}, 'invalidEnvelope', String(error?.message ?? error)));
        }
        if (!read.ok) return Promise.resolve(errorEnvelope(read.echo, read.code, read.message));
        const envelope = read.envelope;

        // Every request names the session; a prewarmed page changes session
        // without reloading.
        state.session = {
            viewSessionID: envelope.viewSessionID,
            documentID: envelope.documentID,
            sourceRevision: envelope.sourceRevision,
        };
        if (!seenRequest) {
            seenRequest = true;
            const queued = queue;
            queue = [];
            for (const [type, payload] of queued) send(type, payload);
        }

        /**
         * @param {RequestType} request
         * @param {object} payload
         */
        const answer = (request, payload) => makeEnvelope({
            messageID: envelope.messageID,
            viewSessionID: envelope.viewSessionID,
            documentID: envelope.documentID,
            sourceRevision: envelope.sourceRevision,
            renderGeneration: state.generation,
            type: REPLY_OF[request],
            payload: /** @type {any} */ (payload),
        });
        // Each handler's payload and reply are checked where the handler is
        // written; here the request's type picks its handler.
        const handler = /** @type {(payload: unknown) => unknown} */ (handlers[envelope.type]);
        return Promise.resolve()
            .then(() => handler(envelope.payload))
            .then(
                (payload) => answer(envelope.type, payload ?? {}),
                (error) => errorEnvelope(
                    envelope,
                    error instanceof PageError ? error.code : 'internal',
                    error?.message ?? String(error),
                ),
            )
            .catch((error) => errorEnvelope(envelope, 'internal', String(error)));
    }

    // ---- listeners ----------------------------------------------------

    function onResize() {
        const size = { width: win.innerWidth, height: win.innerHeight };
        if (size.width === lastSize.width && size.height === lastSize.height) return;
        const wasEmpty = lastSize.width === 0 || lastSize.height === 0;
        lastSize = size;
        if (size.width === 0 || size.height === 0) return;
        if (wasEmpty) restore.runDeferred();
        layout.scheduleReport('resize');
    }

    const onScroll = () => layout.onScroll();
    const onInteraction = () => {
        restore.cancelPin();
        cancelHeadingScroll();
    };
    // End goes to the end at once. The browser's own End glides to where
    // the end was when the key went down, and the chunks laid out on the
    // way take their real heights meanwhile, so that it stopped short of the
    // end, further the longer the document. At once, the chunks above the
    // screen take theirs with the reading line kept (the last chunks are
    // laid out already).
    /** @param {KeyboardEvent} event */
    const onKeyDown = (event) => {
        if (event.key !== 'End' || event.defaultPrevented || event.altKey || event.ctrlKey || event.shiftKey || event.metaKey) return;
        const target = /** @type {HTMLElement | null} */ (event.target);
        if (target?.isContentEditable || /^(input|textarea|select)$/.test(target?.localName ?? '')) return;
        event.preventDefault();
        geometry.setScrollTop(geometry.maxScroll());
    };
    /** @param {Event} event */
    const onLoad = (event) => {
        if (/** @type {Element | null} */ (event.target)?.localName === 'img') restore.lateLayoutChanged();
    };
    /** @param {any} event  a window's ErrorEvent or an image's error */
    const onError = (event) => {
        if (event.target && event.target.localName === 'img') {
            if (event.target.isConnected) find.changed(showUnavailableImage(doc, event.target, textsFor(state.language)));
            restore.lateLayoutChanged();
            return;
        }
        if (event.target !== win && event.target !== undefined) return;
        if (isResizeObserverLoop(event)) return;
        postError('scriptError', event.message ?? 'error');
    };
    /** @param {PromiseRejectionEvent} event */
    const onRejection = (event) => postError('scriptError', event.reason?.message ?? String(event.reason));
    /** @param {SecurityPolicyViolationEvent} event */
    const onViolation = (event) => {
        if (now() < probeGuardUntil && String(event.violatedDirective ?? '').startsWith('script-src')) return;
        postError('cspViolation', `${event.violatedDirective ?? ''} ${event.blockedURI ?? ''}`.trim());
    };

    /**
     * @param {EventTarget} target
     * @param {string} type
     * @param {(event: any) => void} fn
     * @param {boolean | AddEventListenerOptions} [options]
     */
    const listen = (target, type, fn, options) => {
        target.addEventListener(type, fn, options);
        disposers.push(() => target.removeEventListener(type, fn, options));
    };
    listen(win, 'resize', onResize);
    listen(win, 'scroll', onScroll, { passive: true });
    for (const type of ['wheel', 'keydown', 'mousedown', 'touchstart']) listen(win, type, onInteraction, { passive: true });
    listen(win, 'keydown', onKeyDown);
    listen(content, 'load', onLoad, true);
    listen(content, 'error', onError, true);
    listen(win, 'error', onError);
    listen(win, 'unhandledrejection', onRejection);
    listen(doc, 'securitypolicyviolation', onViolation);

    function dispose() {
        for (const fn of disposers.splice(0)) fn();
        find.dispose();
        disposeRender();
        geometry.dispose?.();
        layout.dispose();
        restore.dispose();
        budget.dispose();
        scheduler.dispose();
        parser.dispose?.();
    }

    return { handleMessage, postReady, dispose, onResize, onScroll, warmLayout: layout.warm, preloadMathFonts: layout.preloadMathFonts };
}
