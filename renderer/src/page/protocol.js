// The message protocol between the reader and this page: envelopes, message
// types, small value checks and the error type that becomes an "error" reply.

import table from '../protocol.json' with { type: 'json' };

/**
 * @typedef {keyof import('../protocol.js').Payloads} MessageType  the messages the page receives or sends
 * @typedef {import('../protocol.js').RequestType} RequestType
 * @typedef {import('../protocol.js').EventType} EventType
 * @typedef {import('../protocol.js').Payloads} Payloads
 */
/**
 * @template {MessageType} [T=MessageType]
 * @typedef {import('../protocol.js').Envelope<T>} Envelope
 */
/**
 * What could be read of a refused request's identifiers.
 * @typedef {{messageID: string, viewSessionID?: string, documentID?: string, sourceRevision?: number}} Echo
 */

// The message types, the request → reply pairs, the events and the envelope's
// keys are written once, in protocol.json; the reader's tests read the same
// file.
export const PROTOCOL_VERSION = /** @type {import('../protocol.js').ProtocolVersion} */ (table.protocolVersion);

export const MESSAGE_TYPES = Object.freeze([...table.messageTypes]);

// Requests the reader may send, with the reply each one expects.
export const REPLY_OF = Object.freeze(/** @type {import('../protocol.js').Replies} */ ({ ...table.requests }));

// What the page posts on its own.
export const EVENT_TYPES = Object.freeze(/** @type {import('../protocol.js').EventType[]} */ ([...table.events]));

const ENVELOPE_KEYS = Object.freeze([...table.envelopeKeys]);

// A failure that is answered as an "error" envelope with this code.
export class PageError extends Error {
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
 * @param {unknown} value
 * @returns {value is Record<string, any>}
 */
export function isPlainObject(value) {
    return value !== null && typeof value === 'object' && !Array.isArray(value);
}

/**
 * @param {unknown} value
 * @returns {value is number}
 */
export function isInteger(value) {
    return typeof value === 'number' && Number.isInteger(value);
}

/**
 * @param {unknown} value
 * @returns {value is number}
 */
export function isFiniteNumber(value) {
    return typeof value === 'number' && Number.isFinite(value);
}

// Numbers in our payloads must be finite; anything else is reported as 0.
/**
 * @param {unknown} value
 * @param {number} [fallback]
 * @returns {number}
 */
export function finite(value, fallback = 0) {
    return typeof value === 'number' && Number.isFinite(value) ? value : fallback;
}

/** @param {unknown} value */
export function round1(value) {
    return Math.round(finite(value) * 10) / 10;
}

// Checks a received envelope. Returns {ok: true, envelope} or {ok: false,
// code, message, echo} where echo holds whatever identifiers could be read,
// so that even a refused request gets a reply it can be matched with.
/**
 * @param {unknown} value
 * @returns {{ok: true, envelope: Envelope<RequestType>, echo: Echo}
 *   | {ok: false, code: string, message: string, echo: Partial<Echo>}}
 */
export function readRequest(value) {
    if (!isPlainObject(value)) {
        return { ok: false, code: 'invalidEnvelope', message: 'the message is not an object', echo: {} };
    }
    const echo = {
        messageID: typeof value.messageID === 'string' ? value.messageID : '',
        viewSessionID: typeof value.viewSessionID === 'string' ? value.viewSessionID : undefined,
        documentID: typeof value.documentID === 'string' ? value.documentID : undefined,
        sourceRevision: isInteger(value.sourceRevision) ? value.sourceRevision : undefined,
    };
    for (const key of ENVELOPE_KEYS) {
        if (!(key in value)) {
            return { ok: false, code: 'invalidEnvelope', message: `missing key ${key}`, echo };
        }
    }
    if (value.protocolVersion !== PROTOCOL_VERSION) {
        return { ok: false, code: 'unsupportedVersion', message: `protocolVersion ${String(value.protocolVersion)}`, echo };
    }
    if (typeof value.messageID !== 'string' || typeof value.viewSessionID !== 'string'
        || typeof value.documentID !== 'string' || typeof value.type !== 'string') {
        return { ok: false, code: 'invalidEnvelope', message: 'identifier fields must be strings', echo };
    }
    if (!isInteger(value.sourceRevision) || !isInteger(value.renderGeneration)) {
        return { ok: false, code: 'invalidEnvelope', message: 'counters must be whole numbers', echo };
    }
    if (!MESSAGE_TYPES.includes(value.type)) {
        return { ok: false, code: 'unknownType', message: `unknown message type ${value.type}`, echo };
    }
    if (!(value.type in REPLY_OF)) {
        return { ok: false, code: 'notARequest', message: `${value.type} is not a request`, echo };
    }
    return { ok: true, envelope: /** @type {Envelope<RequestType>} */ (value), echo };
}

/**
 * @template {MessageType} T
 * @param {Omit<Envelope<T>, 'protocolVersion' | 'payload'> & {payload?: Payloads[T]}} fields
 * @returns {Envelope<T>}
 */
export function makeEnvelope(fields) {
    return {
        protocolVersion: PROTOCOL_VERSION,
        messageID: fields.messageID,
        viewSessionID: fields.viewSessionID,
        documentID: fields.documentID,
        sourceRevision: fields.sourceRevision,
        renderGeneration: fields.renderGeneration,
        type: fields.type,
        payload: fields.payload ?? /** @type {Payloads[T]} */ ({}),
    };
}

// Upper-case canonical UUID text. The page runs in a secure context, where
// crypto.randomUUID is always there.
/** @param {Crypto} [cryptoObject] */
export function newMessageID(cryptoObject = globalThis.crypto) {
    return cryptoObject.randomUUID().toUpperCase();
}

// The page's first word, posted before any request has named a session.
/**
 * @param {Crypto} [cryptoObject]
 * @returns {Envelope<'ready'>}
 */
export function readyEnvelope(cryptoObject = globalThis.crypto) {
    return makeEnvelope({
        messageID: newMessageID(cryptoObject),
        viewSessionID: '',
        documentID: '',
        sourceRevision: 0,
        renderGeneration: 0,
        type: 'ready',
        payload: {},
    });
}

// The reader's calls and this page's events cross the web view's boundary as
// JSON text. One string crosses cheaply, where an object graph (a render's
// reply holds every heading and block) would be rebuilt value by value on the
// reader's main thread before the reader could even look at it.

/**
 * The entry the reader calls: the request as JSON text in, the reply envelope
 * as JSON text out. Text that is not JSON is answered like a message that is
 * not an object.
 * @param {(value: unknown) => Promise<object>} handleMessage
 * @returns {(text: unknown) => Promise<string>}
 */
export function textEntry(handleMessage) {
    return (text) => {
        let value = null;
        if (typeof text === 'string') {
            try {
                value = JSON.parse(text);
            } catch {
                value = null;
            }
        }
        return Promise.resolve(handleMessage(value)).then((reply) => JSON.stringify(reply));
    };
}

/**
 * Hands an event envelope to the reader's message handler as JSON text.
 * @param {{postMessage: (body: string) => void} | undefined} handler
 * @param {object} envelope
 */
export function postAsText(handler, envelope) {
    if (handler) handler.postMessage(JSON.stringify(envelope));
}

// No single call carries a very long text either way: WebKit converts a
// call's argument and its result on the reader's main thread. A long request
// arrives in slices (appendMessageText, then the last one with
// handleMessageText naming the transfer), and a long reply is kept here and
// answered with its first slice under a header, "#<count> <transfer>\n"; the
// reader takes the others with takeReplyText.

// Replies kept for the reader at once, at most (an abandoned one goes first).
const KEPT_REPLIES = 4;

/**
 * Cuts a text into slices of at most `units` UTF-16 code units, never
 * between the two halves of a surrogate pair.
 * @param {string} text
 * @param {number} units
 * @returns {string[]}
 */
export function sliceText(text, units) {
    const size = Math.max(2, Math.floor(units));
    const slices = [];
    let start = 0;
    while (start < text.length) {
        let end = Math.min(text.length, start + size);
        const last = text.charCodeAt(end - 1);
        if (end < text.length && last >= 0xd800 && last <= 0xdbff) end -= 1;
        slices.push(text.slice(start, end));
        start = end;
    }
    return slices.length > 0 ? slices : [''];
}

/**
 * The reader's entries over `handleMessage`: handleMessageText (JSON text in,
 * the reply's JSON text out, optionally in slices), appendMessageText and
 * takeReplyText.
 * @param {(value: unknown) => Promise<object>} handleMessage
 */
export function createTextTransport(handleMessage) {
    const entry = textEntry(handleMessage);
    /** @type {{id: string, parts: string[]} | null} */
    let incoming = null;
    /** @type {Map<string, string[]>} */
    const kept = new Map();
    let nextReply = 0;

    /**
     * @param {unknown} transfer
     * @param {unknown} index
     * @param {unknown} slice
     */
    function appendMessageText(transfer, index, slice) {
        if (typeof transfer !== 'string' || transfer === '' || typeof slice !== 'string') return false;
        // A slice of another transfer replaces a partial one: that one was abandoned.
        if (index === 0 || incoming?.id !== transfer) incoming = { id: transfer, parts: [] };
        if (index !== incoming.parts.length) {
            incoming = null;  // a slice went missing: the whole transfer is refused
            return false;
        }
        incoming.parts.push(slice);
        return true;
    }

    /**
     * @param {string} text
     * @param {number} sliceBytes
     */
    function keepReply(text, sliceBytes) {
        // At most three bytes of UTF-8 per code unit.
        const slices = sliceText(text, sliceBytes / 3);
        if (slices.length === 1) return text;
        const transfer = `reply-${++nextReply}`;
        kept.set(transfer, slices);
        while (kept.size > KEPT_REPLIES) kept.delete(/** @type {string} */ (kept.keys().next().value));
        return `#${slices.length} ${transfer}\n${slices[0]}`;
    }

    /**
     * @param {unknown} text
     * @param {unknown} [transfer]
     * @param {unknown} [index]
     * @param {unknown} [replySliceBytes]
     * @returns {Promise<string>}
     */
    function handleMessageText(text, transfer, index, replySliceBytes) {
        let whole = text;
        if (typeof transfer === 'string' && transfer !== '') {
            const parts = incoming?.id === transfer ? incoming.parts : null;
            incoming = null;
            if (!parts || parts.length !== index || typeof text !== 'string') {
                return Promise.reject(new Error(`incomplete transfer ${transfer}`));
            }
            whole = parts.join('') + text;
        }
        const reply = entry(whole);
        if (!(typeof replySliceBytes === 'number' && replySliceBytes > 0)) return reply;
        return reply.then((replyText) => keepReply(replyText, replySliceBytes));
    }

    /**
     * @param {unknown} transfer
     * @param {unknown} index
     * @returns {string | null}
     */
    function takeReplyText(transfer, index) {
        const slices = typeof transfer === 'string' ? kept.get(transfer) : undefined;
        if (!slices || typeof index !== 'number' || !Number.isInteger(index) || index < 1 || index >= slices.length) return null;
        const slice = slices[index];
        if (index === slices.length - 1) kept.delete(/** @type {string} */ (transfer));
        return slice;
    }

    return { handleMessageText, appendMessageText, takeReplyText };
}
