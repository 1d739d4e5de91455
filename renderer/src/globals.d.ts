// What the web view and the worker add to the page's globals.

interface WebKitMessageHandler {
    postMessage(body: unknown): void;
}

interface Window {
    /** The reader's script message handlers, by name. */
    webkit?: { messageHandlers?: Record<string, WebKitMessageHandler | undefined> };
    /** The reading page's entries for the reader. */
    Orvik?: unknown;
    /** mermaid's browser build, in the diagram host page. */
    mermaid?: unknown;

    /** The diagram host page's entry for the reader. */
    OrvikDiagramHost?: unknown;
}

/** Defined only inside a worker. */
declare var WorkerGlobalScope: { prototype: object; new (): object } | undefined;

/** markdown-it-footnote ships no types of its own. */
declare module 'markdown-it-footnote' {
    const footnotePlugin: import('markdown-it').PluginSimple;
    export default footnotePlugin;
}

/** Typeset math for the page's warm-up layout, put in by the build (build.mjs). */
declare const __MATH_WARMUP__: string | undefined;
