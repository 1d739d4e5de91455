// Entry of the renderer page. It installs window.Orvik and announces itself
// with "ready" straight away, without waiting for a frame, fonts or
// visibility; the parse worker starts loading after that.

import { createPage } from './page/page.js';
import { createWorkerParser } from './page/parser.js';
import { createTextTransport, makeEnvelope, postAsText, readyEnvelope } from './page/protocol.js';

const workerURL = new URL('./parse-worker.js', import.meta.url);

/** @param {object} envelope */
function postToReader(envelope) {
    postAsText(window.webkit?.messageHandlers?.orvik, envelope);
}

/** @type {ReturnType<typeof createPage> | null} */
let page = null;
/** @type {ReturnType<typeof createWorkerParser> | null} */
let parser = null;
try {
    parser = createWorkerParser({
        win: window,
        workerURL,
        importInPage: () => import(workerURL.href),
        now: () => performance.now(),
        onWarm: (result) => page?.warmLayout(result),
        onMath: () => page?.preloadMathFonts(),
    });
    page = createPage({
        win: window,
        doc: document,
        parser,
        postMessage: postToReader,
        importSelf: () => import(import.meta.url),
    });
} catch (error) {
    page = null;
    console.error('renderer page failed to start', error);
}

/** @param {unknown} envelope  the reader's request, as far as it can be read */
function unavailable(envelope) {
    const source = /** @type {Record<string, unknown>} */ (envelope && typeof envelope === 'object' ? envelope : {});
    return Promise.resolve(makeEnvelope({
        messageID: typeof source.messageID === 'string' ? source.messageID : '',
        viewSessionID: typeof source.viewSessionID === 'string' ? source.viewSessionID : '',
        documentID: typeof source.documentID === 'string' ? source.documentID : '',
        sourceRevision: Number.isInteger(source.sourceRevision) ? /** @type {number} */ (source.sourceRevision) : 0,

        renderGeneration: 0,
        type: 'error',
        payload: { code: 'pageUnavailable', message: 'the renderer page failed to start' },
    }));
}

// The reader calls handleMessageText (JSON text both ways, long texts in
// slices through appendMessageText and takeReplyText); handleMessage takes and
// answers the envelope itself, for scripts in the page.
const handleMessage = page ? page.handleMessage : unavailable;
const transport = createTextTransport(handleMessage);
window.Orvik = Object.freeze({
    handleMessage,
    handleMessageText: transport.handleMessageText,
    appendMessageText: transport.appendMessageText,
    takeReplyText: transport.takeReplyText,
});

if (page) {
    page.postReady();
    parser?.warmUp();
} else {
    postToReader(readyEnvelope(window.crypto));
}
