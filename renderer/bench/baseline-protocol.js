// Just enough of the protocol for the baseline pages: "ready", and "render"
// answered by "rendered" once the whole document is in the page and laid out.

let generation = 0;

function envelope(request, type, payload) {
    return {
        protocolVersion: 1,
        messageID: request.messageID ?? '',
        viewSessionID: request.viewSessionID ?? '',
        documentID: request.documentID ?? '',
        sourceRevision: request.sourceRevision ?? 0,
        renderGeneration: generation,
        type,
        payload,
    };
}

// toHTML(source) gives the whole document's markup.
export function answer(toHTML) {
    window.Orvik = Object.freeze({
        handleMessage(request) {
            if (!request || request.type !== 'render' || typeof request.payload?.source !== 'string') {
                return Promise.resolve(envelope(request ?? {}, 'error', { code: 'unsupported', message: 'the baseline page only renders' }));
            }
            const started = performance.now();
            generation += 1;
            document.getElementById('content').innerHTML = toHTML(request.payload.source);
            // Let the layout happen before answering, as a page that shows the
            // whole document at once must.
            void document.documentElement.scrollHeight;
            const totalMs = performance.now() - started;
            return Promise.resolve(envelope(request, 'rendered', {
                headings: [],
                renderGeneration: generation,
                parserMode: 'baseline',
                timings: { parseMs: 0, parseWaitMs: 0, domMs: totalMs, diagramMs: 0, maxFrameGapMs: 0, frameCount: 0, totalMs },
            }));
        },
    });
}

export function announce() {
    window.webkit?.messageHandlers?.orvik?.postMessage(envelope({}, 'ready', {}));
}
