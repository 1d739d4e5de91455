// A renderer page in jsdom, driven the way the reader drives it.

import { JSDOM } from 'jsdom';
import { createPage } from '../../src/page/page.js';
import { createInlineParser } from '../../src/page/parser.js';
import { parseDocument } from './loaded.js';
import { headCut } from '../../src/parse/head.js';

// Block geometry for tests: every block is `blockHeight` tall (or
// `heightOf(index)`, read at each measure), stacked from `origin` px below
// the top of the page; anything inside a block sits at the block's top.
// `widthOf(element)`, when given, is an element's laid-out width.
export function fakeGeometry(doc, { viewportHeight = 700, viewportWidth = 900, blockHeight = 100, origin = 0, heightOf = null, widthOf = null } = {}) {
    const heightAt = (index) => (heightOf ? heightOf(index) : blockHeight);
    const sumTo = (count) => {
        let sum = 0;
        for (let i = 0; i < count; i++) sum += heightAt(i);
        return sum;
    };
    let scroll = 0;
    const size = { height: viewportHeight, width: viewportWidth };
    const blockOf = (element) => {
        let node = element;
        while (node && !(node.parentElement && node.parentElement.classList.contains('md-chunk'))) node = node.parentElement;
        return node;
    };
    // The blocks of an article are the children of its chunks. Counted by
    // walking the chunks rather than by a selector: the page asks for the
    // geometry of many blocks of a long document at every frame, and a
    // query over the whole article each time made the tests slow.
    const isChunk = (element) => element.classList.contains('md-chunk');
    const countOf = (article) => {
        let count = 0;
        for (const chunk of article?.children ?? []) if (isChunk(chunk)) count += chunk.children.length;
        return count;
    };
    // The index of `block` among its article's blocks, or -1.
    const indexOf = (block) => {
        const chunk = block.parentElement;
        const article = chunk?.parentElement;
        if (!article || !chunk.classList.contains('md-chunk') || !article.classList.contains('md-doc')) return -1;
        let index = 0;
        for (const other of article.children) {
            if (other === chunk) return index + Array.prototype.indexOf.call(chunk.children, block);
            if (isChunk(other)) index += other.children.length;
        }
        return -1;
    };
    const articleHeight = () => {
        const article = doc.querySelector('.md-doc:not(.md-staging)') ?? doc.querySelector('.md-doc');
        return origin + sumTo(countOf(article));
    };
    return {
        scrollTop: () => scroll,
        setScrollTop(value) {
            scroll = Math.max(0, Math.min(value, Math.max(0, articleHeight() - size.height)));
        },
        maxScroll: () => Math.max(0, articleHeight() - size.height),
        viewportHeight: () => size.height,
        viewportWidth: () => size.width,
        top(element) {
            if (element.classList?.contains('md-doc') || element.id === 'content') return 0;
            // A chunk sits where its first block does.
            if (isChunk(element) && element.firstElementChild) return this.top(element.firstElementChild);
            const block = blockOf(element);
            if (!block) return 0;
            return origin + sumTo(indexOf(block));
        },
        height(element) {
            if (element.classList?.contains('md-doc')) return sumTo(countOf(element));
            if (isChunk(element) && element.firstElementChild) {
                const first = indexOf(element.firstElementChild);
                return sumTo(first + element.children.length) - sumTo(first);
            }
            const block = blockOf(element);
            return block ? heightAt(indexOf(block)) : blockHeight;
        },
        width: widthOf ?? undefined,
        resize(width, height) {
            size.width = width;
            size.height = height;
        },
    };
}

let sequence = 0;

export function createHarness(options = {}) {
    const dom = new JSDOM('<!doctype html><html><head></head><body><main id="content"></main></body></html>', {
        pretendToBeVisual: options.visual ?? false,
    });
    const win = dom.window;
    const doc = win.document;
    const events = [];
    const geometry = options.geometry === false ? undefined : fakeGeometry(doc, options.geometry);
    const parser = options.parser ?? createInlineParser({
        parseDocument,
        now: () => performance.now(),
        delay: options.delay,
        headCut,
        later: options.later ?? false,
    });
    const page = createPage({
        win,
        doc,
        parser,
        geometry,
        scheduler: options.scheduler?.(win),
        now: options.now ?? (() => performance.now()),
        postMessage: (envelope) => events.push(JSON.parse(JSON.stringify(envelope))),
        parseTimeoutMs: options.parseTimeoutMs ?? 10000,
        importSelf: options.importSelf ?? (() => Promise.resolve({})),
    });

    const session = { viewSessionID: options.session ?? 'SESSION-1', documentID: options.documentID ?? 'DOC-1', sourceRevision: 1 };

    function envelope(type, payload = {}, overrides = {}) {
        sequence += 1;
        return {
            protocolVersion: 1,
            messageID: `MSG-${sequence}`,
            viewSessionID: session.viewSessionID,
            documentID: session.documentID,
            sourceRevision: session.sourceRevision,
            renderGeneration: 0,
            type,
            payload,
            ...overrides,
        };
    }

    async function request(type, payload = {}, overrides = {}) {
        const sent = envelope(type, payload, overrides);
        const reply = await page.handleMessage(sent);
        // Replies must survive the trip through JSON unchanged.
        return JSON.parse(JSON.stringify(reply));
    }

    async function render(source, extra = {}) {
        return request('render', { source, language: 'en', ...extra });
    }

    const article = () => doc.querySelector('.md-doc:not(.md-staging)');
    // The rendered blocks, in order.
    const blocks = () => Array.from(article()?.querySelectorAll(':scope > .md-chunk > *') ?? []);

    function eventsOf(type) {
        return events.filter((event) => event.type === type);
    }

    function close() {
        page.dispose();
        win.close();
    }

    return { dom, win, doc, page, events, eventsOf, geometry, session, envelope, request, render, article, blocks, close };
}
