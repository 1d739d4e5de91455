// The diagram host page's logic: one "renderDiagram" request at a time turned
// into SVG by mermaid, off screen, in a page that shows nothing and holds no
// document. Everything the page touches comes in through `createDiagramHost`
// so that tests can drive it with jsdom and a stand-in for mermaid.
//
// handleMessage(message) answers every call with a reply envelope and never
// throws or rejects: "diagramRendered" (svg, or an error object with the code
// "parse", "render", "empty" or "timeout"), or "error" with the code
// "badRequest" for a request it cannot read and "busy" while a render that
// overran its watchdog is still running (mermaid renders one diagram at a
// time, so nothing else could start: the program then replaces this page).

export const HANDLER_NAME = 'orvikDiagramHost';
export const PROTOCOL_VERSION = 1;
export const STAGE_WIDTH_PX = 1600;

// Errors longer than this are cut: mermaid's parse errors quote the source.
const MAX_MESSAGE_LENGTH = 2000;
const MAX_ID_PART = 40;

/** @typedef {Record<string, string | number | boolean>} ThemeVariables */

/**
 * The identifiers a reply repeats from its request.
 * @typedef {object} Echo
 * @property {string} messageID
 * @property {string} viewSessionID
 * @property {string} documentID
 * @property {number} sourceRevision
 * @property {number} renderGeneration
 */

/**
 * @typedef {object} DiagramRequest
 * @property {string} diagramID
 * @property {string} source
 * @property {ThemeVariables | null} themeVariables
 * @property {number} timeoutMs
 */

/**
 * The payload of "diagramRendered".
 * @typedef {object} Rendered
 * @property {string} diagramID
 * @property {string} [svg]
 * @property {string} [diagramType]
 * @property {{code: string, message: string}} [error]
 * @property {number} [renderMs]
 */

/**
 * @typedef {object} MermaidConfig
 * @property {boolean} startOnLoad
 * @property {string} securityLevel
 * @property {string[]} secure
 * @property {boolean} htmlLabels
 * @property {{htmlLabels: boolean}} flowchart
 * @property {boolean} suppressErrorRendering
 * @property {string} fontFamily
 * @property {string} themeCSS
 * @property {string} [theme]
 * @property {ThemeVariables} [themeVariables]
 */

/**
 * What the host uses of mermaid (or of a test's stand-in); what its
 * promises give is checked before use.
 * @typedef {object} Mermaid
 * @property {(config: MermaidConfig) => void} initialize
 * @property {(source: string) => Promise<{diagramType?: unknown} | false | null | undefined>} parse
 * @property {(id: string, source: string, container: Element) =>
 *     Promise<{svg?: unknown, diagramType?: unknown} | null | undefined>} render
 */

/**
 * @param {unknown} value
 * @returns {value is Record<string, unknown>}
 */
function isPlainObject(value) {
    return value !== null && typeof value === 'object' && !Array.isArray(value);
}

// 32-bit FNV-1a over the UTF-16 code units, as 7 base-36 digits at most.
/** @param {string} text */
export function shortHash(text) {
    let hash = 0x811c9dc5;
    for (let i = 0; i < text.length; i += 1) {
        hash ^= text.charCodeAt(i);
        hash = Math.imul(hash, 0x01000193) >>> 0;
    }
    return hash.toString(36);
}

// The SVG element's id for a diagram identifier. Every diagram of a reading
// page ends up in one document and mermaid scopes its style sheet by this id,
// so it must differ between identifiers: the readable part keeps letters,
// digits, "-" and "_", and the hash tells apart identifiers that clean up to
// the same text.
/** @param {string} diagramID */
export function svgElementID(diagramID) {
    const readable = diagramID.replace(/[^A-Za-z0-9_-]/g, '_').slice(0, MAX_ID_PART);
    return `orvik-diagram-${readable}-${shortHash(diagramID)}`;
}

// Theme variables as mermaid may take them: plain keys, and values that are
// booleans, finite numbers or short colour-like texts. Anything else (null
// included, which the reading page sends for colours a theme lacks) is left
// out rather than written into the diagram's style sheet.
/**
 * @param {unknown} value
 * @returns {ThemeVariables | null}
 */
export function cleanThemeVariables(value) {
    if (!isPlainObject(value)) return null;
    /** @type {ThemeVariables} */
    const clean = {};
    for (const [key, entry] of Object.entries(value)) {
        if (!/^[A-Za-z][A-Za-z0-9]{0,63}$/.test(key)) continue;
        if (typeof entry === 'boolean') clean[key] = entry;
        else if (typeof entry === 'number' && Number.isFinite(entry)) clean[key] = entry;
        else if (typeof entry === 'string' && /^[#A-Za-z0-9 .,%()-]{1,64}$/.test(entry)) clean[key] = entry;
    }
    return Object.keys(clean).length > 0 ? clean : null;
}

/** @param {unknown} text */
function cut(text) {
    const message = String(text ?? '');
    return message.length > MAX_MESSAGE_LENGTH ? `${message.slice(0, MAX_MESSAGE_LENGTH)}…` : message;
}

/** @param {unknown} error  whatever was thrown */
function errorMessage(error) {
    const fields = /** @type {{message?: unknown, str?: unknown} | null | undefined} */ (error);
    if (fields && typeof fields.message === 'string' && fields.message !== '') return cut(fields.message);
    if (fields && typeof fields.str === 'string') return cut(fields.str);
    return cut(error === undefined ? 'unknown error' : String(error));
}

// Reads one request. Returns {request} or {refusal: message}, with `echo`
// holding the identifiers that could be read either way.
/**
 * @param {unknown} message
 * @returns {{echo: Partial<Echo>, refusal: string, request?: undefined}
 *     | {echo: Partial<Echo>, request: DiagramRequest, refusal?: undefined}}
 */
export function readRequest(message) {
    /** @type {Record<string, unknown>} */
    const source = isPlainObject(message) ? message : {};
    /** @type {Echo} */
    const echo = {
        messageID: typeof source.messageID === 'string' ? source.messageID : '',
        viewSessionID: typeof source.viewSessionID === 'string' ? source.viewSessionID : '',
        documentID: typeof source.documentID === 'string' ? source.documentID : '',
        sourceRevision: Number.isSafeInteger(source.sourceRevision) ? /** @type {number} */ (source.sourceRevision) : 0,
        renderGeneration: Number.isSafeInteger(source.renderGeneration) ? /** @type {number} */ (source.renderGeneration) : 0,
    };
    const refuse = (/** @type {string} */ text) => ({ echo, refusal: text });
    if (!isPlainObject(message)) return refuse('the message is not an object');
    if (message.protocolVersion !== PROTOCOL_VERSION) return refuse('unsupported protocolVersion');
    if (typeof message.messageID !== 'string' || message.messageID === '') return refuse('messageID must be a text');
    if (message.type !== 'renderDiagram') return refuse(`unknown type ${String(message.type).slice(0, 40)}`);
    const payload = message.payload;
    if (!isPlainObject(payload)) return refuse('payload must be an object');
    if (typeof payload.diagramID !== 'string' || payload.diagramID === '') return refuse('diagramID must be a text');
    if (typeof payload.source !== 'string') return refuse('source must be a text');
    if (typeof payload.timeoutMs !== 'number' || !Number.isFinite(payload.timeoutMs) || payload.timeoutMs <= 0) {
        return refuse('timeoutMs must be a positive number');
    }
    return {
        echo,
        request: {
            diagramID: payload.diagramID,
            source: payload.source,
            themeVariables: cleanThemeVariables(payload.themeVariables),
            timeoutMs: payload.timeoutMs,
        },
    };
}

// How long the page itself waits for mermaid: a little under the program's
// own time-out, so that the page's answer arrives first.
/** @param {number} timeoutMs */
export function watchdogMs(timeoutMs) {
    return Math.max(1, timeoutMs - Math.min(500, timeoutMs / 10));
}

// Settings a diagram may not change with its own init directive or front
// matter: mermaid drops these keys, at every level, from what a diagram
// asks for. Without it a diagram could turn HTML labels back on (drawn in
// foreignObject, which the reading page removes with all the text in it, and
// which loads the images a label names), loosen the security level, or bring
// its own theme, fonts and style sheet. The first six are mermaid's own
// defaults, which a list given here replaces.
export const SECURE_CONFIG_KEYS = Object.freeze([
    'secure', 'securityLevel', 'startOnLoad', 'maxTextSize', 'maxEdges', 'suppressErrorRendering',
    'htmlLabels', 'dompurifyConfig', 'arrowMarkerAbsolute', 'deterministicIds', 'deterministicIDSeed',
    'theme', 'themeVariables', 'themeCSS', 'darkMode', 'fontFamily', 'altFontFamily',
]);

/**
 * @param {ThemeVariables | null} themeVariables
 * @param {string} fontFamily
 * @returns {MermaidConfig}
 */
export function mermaidConfig(themeVariables, fontFamily) {
    /** @type {MermaidConfig} */
    const config = {
        startOnLoad: false,
        securityLevel: 'strict',
        secure: [...SECURE_CONFIG_KEYS],
        // Labels as SVG text: the reading page drops foreignObject.
        htmlLabels: false,
        flowchart: { htmlLabels: false },
        suppressErrorRendering: true,
        fontFamily,
        themeCSS: '',
    };
    if (themeVariables) {
        config.theme = 'base';
        config.themeVariables = { ...themeVariables, fontFamily };
    } else {
        config.theme = 'default';
        config.themeVariables = { fontFamily };
    }
    return config;
}

class Failure extends Error {
    /**
     * @param {string} code
     * @param {string} message
     */
    constructor(code, message) {
        super(message);
        this.code = code;
    }
}

/**
 * @param {object} parts
 * @param {Window} parts.win
 * @param {Document} parts.doc  holds the off-screen #stage
 * @param {Mermaid | null} parts.mermaid  null when it did not load
 * @param {(message: object) => void} parts.post
 * @param {() => number} parts.now
 * @param {string} parts.fontFamily
 */
export function createDiagramHost({ win, doc, mermaid, post, now, fontFamily }) {
    const stage = /** @type {HTMLElement} */ (doc.getElementById('stage'));
    // The render that is running, if any, and whether it overran its watchdog.
    /** @type {{overran: boolean, settled: boolean} | null} */
    let running = null;

    /**
     * @param {Echo} echo
     * @param {string} type
     * @param {object} payload
     */
    function reply(echo, type, payload) {
        return { protocolVersion: PROTOCOL_VERSION, ...echo, type, payload };
    }

    // Whatever mermaid left behind: the stage's children and any node it
    // added to the body outside the stage (its temporary wrappers, tooltips).
    /** @param {Set<Node>} bodyBefore */
    function sweep(bodyBefore) {
        stage.replaceChildren();
        for (const node of Array.from(doc.body.childNodes)) {
            if (!bodyBefore.has(node)) node.remove();
        }
    }

    /**
     * Called only while mermaid is there.
     * @param {DiagramRequest} request
     */
    async function draw(request) {
        const engine = /** @type {Mermaid} */ (mermaid);
        if (request.source.trim() === '') throw new Failure('empty', 'the diagram is empty');
        engine.initialize(mermaidConfig(request.themeVariables, fontFamily));
        let parsed;
        try {
            parsed = await engine.parse(request.source);
        } catch (error) {
            throw new Failure('parse', errorMessage(error));
        }
        if (!parsed) throw new Failure('parse', 'the diagram could not be parsed');
        let result;
        try {
            result = await engine.render(svgElementID(request.diagramID), request.source, stage);
        } catch (error) {
            throw new Failure('render', errorMessage(error));
        }
        const svg = result && typeof result.svg === 'string' ? result.svg : '';
        if (!/^\s*<svg[\s>]/i.test(svg)) throw new Failure('render', 'mermaid returned no svg');
        return {
            svg,
            diagramType: typeof result?.diagramType === 'string' ? result.diagramType
                : (typeof parsed.diagramType === 'string' ? parsed.diagramType : undefined),
        };
    }

    /**
     * @param {DiagramRequest} request
     * @returns {Promise<Rendered>}
     */
    async function render(request) {
        const started = now();
        const bodyBefore = new Set(doc.body.childNodes);
        const attempt = { overran: false, settled: false };
        running = attempt;
        /** @type {number | undefined} */
        let timer;
        /** @type {Promise<'timeout'>} */
        const watchdog = new Promise((resolve) => {
            timer = win.setTimeout(() => resolve('timeout'), watchdogMs(request.timeoutMs));
        });
        /** @type {Promise<{drawn: {svg: string, diagramType?: string}, error?: undefined} | {error: unknown, drawn?: undefined}>} */
        const work = draw(request).then(
            (drawn) => ({ drawn }),
            (error) => ({ error }),
        ).finally(() => {
            attempt.settled = true;
            if (running === attempt) running = null;
            sweep(bodyBefore);
        });
        const outcome = await Promise.race([work, watchdog]);
        win.clearTimeout(timer);
        /** @type {Rendered} */
        const payload = { diagramID: request.diagramID };
        if (outcome === 'timeout') {
            attempt.overran = !attempt.settled;
            payload.error = { code: 'timeout', message: `the diagram did not finish within ${Math.round(watchdogMs(request.timeoutMs))} ms` };
        } else if (outcome.drawn) {
            payload.svg = outcome.drawn.svg;
            if (outcome.drawn.diagramType) payload.diagramType = outcome.drawn.diagramType;
        } else {
            const error = outcome.error;
            payload.error = error instanceof Failure
                ? { code: error.code, message: error.message }
                : { code: 'render', message: errorMessage(error) };
        }
        payload.renderMs = Math.max(0, now() - started);
        return payload;
    }

    let chain = Promise.resolve();

    /**
     * @param {unknown} message
     * @returns {Promise<object>}
     */
    function handleMessage(message) {
        /** @type {ReturnType<typeof readRequest>} */
        let read;
        try {
            read = readRequest(message);
        } catch (error) {
            read = { echo: {}, refusal: errorMessage(error) };
        }
        const echo = {
            messageID: '', viewSessionID: '', documentID: '', sourceRevision: 0, renderGeneration: 0,
            ...read.echo,
        };
        if (read.refusal !== undefined) {
            return Promise.resolve(reply(echo, 'error', { code: 'badRequest', message: read.refusal }));
        }
        if (!mermaid) {
            return Promise.resolve(reply(echo, 'error', { code: 'mermaidMissing', message: 'mermaid did not load' }));
        }
        const next = chain.then(() => {
            if (running && running.overran) {
                return reply(echo, 'error', { code: 'busy', message: 'an earlier diagram is still being drawn' });
            }
            return render(read.request).then((payload) => reply(echo, 'diagramRendered', payload));
        }).catch((error) => reply(echo, 'diagramRendered', {
            diagramID: read.request.diagramID,
            error: { code: 'render', message: errorMessage(error) },
        }));
        chain = next.then(() => undefined, () => undefined);
        return next;
    }

    return {
        handleMessage,
        postReady() {
            post({ type: 'ready' });
        },
    };
}

// Reports page-level problems to the program as {type: "error", payload:
// {code, message}}: script errors, unhandled rejections and content security
// policy violations.
/**
 * @param {Window} win
 * @param {(message: object) => void} post
 */
export function watchPageErrors(win, post) {
    /**
     * @param {string} code
     * @param {unknown} message
     */
    const report = (code, message) => {

        try {
            post({ type: 'error', payload: { code, message: cut(message) } });
        } catch {
            // Nothing to report to.
        }
    };
    win.addEventListener('error', (event) => {
        report('scriptError', event?.message || errorMessage(event?.error));
    });
    win.addEventListener('unhandledrejection', (event) => {
        report('unhandledRejection', errorMessage(event?.reason));
    });
    win.document.addEventListener('securitypolicyviolation', (event) => {
        report('cspViolation', `${event?.violatedDirective ?? ''} ${event?.blockedURI ?? ''}`.trim());
    });
    return report;
}
