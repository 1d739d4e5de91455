// Entry of the diagram host page. mermaid.min.js, a plain deferred script
// before this one, has set window.mermaid by now (or failed to load: then
// every request is answered with an error and the failure is posted).

import { createDiagramHost, watchPageErrors, HANDLER_NAME } from './host.js';
import { DEFAULT_STACKS } from '../page/typography.js';

/** @param {object} message */
function post(message) {
    const handler = window.webkit?.messageHandlers?.[HANDLER_NAME];
    if (handler) handler.postMessage(message);
}

const report = watchPageErrors(window, post);
const loaded = /** @type {{render?: unknown} | undefined} */ (window.mermaid);
const mermaid = loaded && typeof loaded.render === 'function' ? /** @type {import('./host.js').Mermaid} */ (loaded) : null;


const host = createDiagramHost({
    win: window,
    doc: document,
    mermaid,
    post,
    now: () => performance.now(),
    fontFamily: DEFAULT_STACKS.body,
});

window.OrvikDiagramHost = Object.freeze({ handleMessage: host.handleMessage });

if (mermaid) {
    host.postReady();
} else {
    report('mermaidMissing', 'mermaid did not load');
}
