// The parse worker: Markdown text in, block list out. The same module can be
// imported by the page itself when module workers are unavailable.

import { parseDocument } from './parse/document.js';
import { headCut } from './parse/head.js';

export { parseDocument };

const inWorker = typeof WorkerGlobalScope !== 'undefined' && globalThis instanceof WorkerGlobalScope;

if (inWorker) {
    globalThis.onmessage = (event) => {
        const message = event.data ?? {};
        if (message.type === 'ping') {
            globalThis.postMessage({ type: 'pong', id: message.id });
            return;
        }
        if (message.type !== 'parse') return;
        try {
            // A long document's head first, so that its first screen can be
            // shown while the rest is parsed.
            const cut = message.head ? headCut(message.source) : 0;
            if (cut > 0) {
                const head = parseDocument(message.source.slice(0, cut), message.options ?? {});
                globalThis.postMessage({ type: 'head', id: message.id, result: head });
            }
            const result = parseDocument(message.source, message.options ?? {});
            globalThis.postMessage({ type: 'result', id: message.id, result });
        } catch (error) {
            globalThis.postMessage({ type: 'failure', id: message.id, message: String(error?.message ?? error) });
        }
    };
}
