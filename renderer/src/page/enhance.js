// @ts-check
// The blocks' highlighting and math, put in place as the worker sends them:
// a block's new element takes the place of its plain one, in slices sized
// by the frames seen, and the search hears of each block replaced.

import { isHidden } from './layout.js';
import { blockIndexAt } from './anchors.js';

/** @typedef {import('./view.js').View} View */
/** @typedef {import('./parser.js').EnhancedItem} EnhancedItem */
/**
 * The blocks' highlighting and math as they come from the worker; `pending`
 * holds, by block, those not in place yet, `received` the blocks of all
 * that came; `arrived` settles once the worker
 * has sent them all, or no more come (`arrive` settles it).
 * @typedef {{items: EnhancedItem[], next: number, done: boolean, wake: (() => void) | null,
 *     pending: Map<number, EnhancedItem>, received: Set<number>, arrived: Promise<void>, arrive: () => void}} Feed
 */

// Highlighting and math arrive from the worker after the blocks are in
// place and replace blocks in slices of this much time per frame. The
// browser's style and layout of the new elements (several times the time
// to make them for typeset math) are part of it: each group of blocks
// forces them before the next, so that the slice's clock counts them, and
// the groups are sized by the time they took per character of markup. What
// the frame still does after the slice (paint) is left to the rest of the
// frame: the budget shrinks when a frame comes later than the target and
// grows again when frames come sooner.
const ENHANCE_MS = { initial: 6, min: 3, max: 10, target: 28, screen: 20 };
// The browser's own work for a slice's new elements, at most this many times
// the slice: a frame later than the slice and that work could make it (a
// slow paint, a busy machine) keeps the budget, as a smaller slice would not
// bring the frames back, only leave the formulas on screen waiting longer.
const ENHANCE_LAYOUT_FACTOR = 3;
const ENHANCE_GROUP_CHARS = { min: 512, max: 16 * 1024 };
// Milliseconds per character of markup, until measured: typeset math's.
const ENHANCE_INITIAL_MS_PER_CHAR = 0.002;
// A block whose markup is longer than this and that holds several formulas
// (a paragraph of inline math) gets them a few at a time, each slice as
// many as its time allows: typeset whole, such a paragraph cost one frame of
// 50-80 ms of style and layout.
const BY_FORMULA_CHARS = 4000;
// The outermost elements of a typeset formula, in the order of the
// placeholders they take the place of.
const FORMULA_ROOTS = '.katex-display, .katex, .katex-error, .md-math-error';
// Dressing waits until the page has not scrolled for this long; then the
// formulas on screen, which the reader is looking at as empty boxes, get at
// least ENHANCE_MS.screen a frame.
const SCROLL_QUIET_MS = 100;
// While the reader scrolls, the worker hears where every so often.
const TELL_WORKER_MS = 60;

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {ReturnType<typeof import('./budget.js').createFrameBudget>} parts.budget  grants the slices of frames
 * @param {import('./state.js').PageState} parts.state
 * @param {{replaced(index: number): void}} parts.find  hears of each block that highlighting or math replaced
 * @param {{prefer?: (from: number, to: number) => void}} parts.parser  sends the blocks on screen theirs first
 */
export function createEnhancer({ doc, geometry, now, scheduler, budget: frameBudget, state, find, parser }) {
    /**
     * Highlighting and math come after the plain blocks of the first screen
     * are in place; they are kept in the feed until then.
     * @returns {{feed: Feed, onEnhanced: (items: EnhancedItem[], done: boolean) => void}}
     */
    function enhancementFeed() {
        /** @type {() => void} */
        let arrive = () => {};
        /** @type {Promise<void>} */
        const arrived = new Promise((resolve) => { arrive = () => resolve(); });
        /** @type {Feed} */
        const feed = { items: [], next: 0, done: false, wake: null, pending: new Map(), received: new Set(), arrived, arrive };
        /** @type {(items: EnhancedItem[], done: boolean) => void} */
        const onEnhanced = (items, done) => {
            for (const item of items) {
                feed.items.push(item);
                feed.pending.set(item.index, item);
                feed.received.add(item.index);
            }
            if (done) {
                feed.done = true;
                feed.arrive();
            }
            const wake = feed.wake;
            feed.wake = null;
            wake?.();
        };
        return { feed, onEnhanced };
    }

    /** @type {(() => void) | null} */
    let stopEnhancing = null;

    /**
     * Puts the blocks' highlighting and math in place as they come, until
     * the worker has sent them all or another render began. A block's new
     * element takes the place of its plain one, in slices, a slice per frame
     * (or per task on a hidden page). The browser's own work for the new
     * elements (styles, boxes) is several times the time spent making them,
     * even in chunks off screen, so only the chunks near the screen get
     * theirs at once; the others keep them until they come near. The blocks
     * on screen go first, and the worker is asked to send theirs first
     * when the reader went where it had not got to yet. A search reads the
     * text that a block's markup shows without putting it in place
     * (view.dressing), and has the block of the match it shows dressed at
     * once. Each change keeps the reading line where it is (keepPlace).
     * @param {View} view
     * @param {Feed} feed
     */
    async function applyEnhancements(view, feed) {
        const template = doc.createElement('template');
        // Whether highlighting and math are still to come for the blocks
        // near the screen (from the worker, or put in place); the page's
        // tests wait for it.
        const coming = /** @type {any} */ (view.article);
        coming.enhancementsComing = true;
        let stopped = false;
        /** @type {Set<Element>} */
        const near = new Set();
        // The chunks the screen's watch has told about at least once.
        /** @type {WeakSet<Element>} */
        const reported = new WeakSet();
        /** @type {Map<Element, EnhancedItem[]>} */
        const parked = new Map();
        const Observer = doc.defaultView?.IntersectionObserver;
        const observer = Observer ? new Observer((entries) => {
            for (const entry of entries) {
                reported.add(entry.target);
                if (!entry.isIntersecting) {
                    near.delete(entry.target);
                    continue;
                }
                near.add(entry.target);
                const waiting = parked.get(entry.target);
                if (!waiting) continue;
                parked.delete(entry.target);
                // The chunk stays watched: a reader paging past it is gone
                // by the time the page holds still, and its blocks, parked
                // again, wait until it comes near once more.
                for (const item of waiting) feed.items.push(item);
                if (!stopped) coming.enhancementsComing = true;
            }
            wake();
        }, { rootMargin: '100% 0px' }) : null;
        // The blocks may still be going in: new chunks are watched as they
        // come, and a block's markup waits until the block is in.
        let watched = 0;
        const watchNewChunks = () => {
            const chunks = view.article.children;
            for (; watched < chunks.length; watched++) observer?.observe(chunks[watched]);
        };
        watchNewChunks();
        /** @type {EnhancedItem[]} */
        let notInYet = [];
        // A long block whose items are still going in counts as not in yet.
        /** @param {number} index */
        const isIn = (index) => index < view.count && index !== view.long?.index;
        // Without a watch on the screen every block is replaced as its
        // markup comes.
        const eager = !observer;
        const wake = () => {
            const resume = feed.wake;
            feed.wake = null;
            resume?.();
        };
        let lastScroll = -Infinity;
        // A scroll wakes a loop that waits for markup: once the page holds
        // still, the blocks that came on screen may want theirs first. The
        // page's own scrolls (a place restored, the reading line kept while
        // the blocks above it are dressed) hold nothing back: they are not
        // the reader's.
        const onScroll = () => {
            if (!geometry.ownScroll?.()) lastScroll = now();
            wake();
        };
        doc.defaultView?.addEventListener('scroll', onScroll, { passive: true });
        const stop = () => {
            stopped = true;
            doc.defaultView?.removeEventListener('scroll', onScroll);
            feed.arrive();
            coming.enhancementsComing = false;
            observer?.disconnect();
            parked.clear();
            if (stopEnhancing === stop) stopEnhancing = null;
            if (view.dressing === dressing) delete view.dressing;
            wake();
        };
        stopEnhancing?.();
        stopEnhancing = stop;

        /**
         * Replaces the items' blocks with their new markup; an item whose
         * block has it already (dressed for a search) is passed over.
         * @param {EnhancedItem[]} items
         */
        const replace = (items) => {
            /** @type {number[]} */
            const indexes = [];
            /** @type {EnhancedItem[]} */
            const taken = [];
            let html = '';
            for (const item of items) {
                if (feed.pending.get(item.index) !== item) continue;
                feed.pending.delete(item.index);
                if (!view.elements[item.index]?.isConnected) continue;
                indexes.push(item.index);
                taken.push(item);
                html += item.html;
            }
            /** @param {string} markup */
            const parse = (markup) => {
                template.innerHTML = markup;
                const made = Array.from(template.content.children);
                template.innerHTML = '';
                return made;
            };
            /** @type {(Element | null)[]} */
            let made = parse(html);
            if (made.length !== indexes.length) {
                // Not one element per block: block by block, and a block
                // that does not make one element stays plain.
                made = [];
                for (const item of taken) {
                    const one = parse(item.html);
                    made.push(one.length === 1 ? one[0] : null);
                }
            }
            /** @type {Element | null} */
            let last = null;
            const plain = indexes.map((index) => view.elements[index]);
            // Their style and layout within the slice's time: keeping the
            // place reads the layout after the change.
            keepPlace(plain, () => {
                for (let k = 0; k < indexes.length; k++) {
                    const element = made[k];
                    if (!element) continue;
                    view.elements[indexes[k]].replaceWith(element);
                    view.elements[indexes[k]] = element;
                    find.replaced(indexes[k]);
                    last = element;
                }
                return indexes.map((index) => view.elements[index]);
            });
            /** @type {Element | null} */ (last)?.getBoundingClientRect();
            return last !== null;
        };
        /** @type {import('./view.js').Dressing} */
        const dressing = {
            textOf: (index) => feed.pending.get(index)?.text,
            dress(index) {
                const item = feed.pending.get(index);
                return item !== undefined && index < view.count && replace([item]);
            },
            coming: (index) => !stopped && !feed.done && !feed.received.has(index),
            arrived: () => feed.arrived,
        };
        view.dressing = dressing;

        /**
         * A block getting its formulas a few at a time: its element on the
         * page, the placeholders still there and the typeset formulas that
         * take their places, in order.
         * @type {{item: EnhancedItem, element: Element, holders: Element[], roots: Element[], next: number,
         *     onScreen: boolean} | null}
         */
        let partial = null;
        // The time a typeset formula takes to put in place, as measured.
        let msPerFormula = 2;
        /**
         * Starts dressing the item's block formula by formula; false when
         * its markup does not pair each placeholder with one formula (it
         * is then replaced whole).
         * @param {EnhancedItem} item
         * @param {boolean} onScreen  the block is on screen
         */
        const startByFormula = (item, onScreen) => {
            const element = view.elements[item.index];
            if (!element) return false;
            const holders = Array.from(element.querySelectorAll('.md-math-pending'));
            if (holders.length < 2) return false;
            template.innerHTML = item.html;
            const made = template.content.firstElementChild;
            template.innerHTML = '';
            if (!made) return false;
            const roots = Array.from(made.querySelectorAll(FORMULA_ROOTS))
                .filter((root) => !root.parentElement?.closest(FORMULA_ROOTS));
            if (roots.length !== holders.length) return false;
            // Everything but the formulas must read the same.
            const bare = /** @type {Element} */ (made.cloneNode(true));
            for (const root of Array.from(bare.querySelectorAll(FORMULA_ROOTS))) root.replaceWith(doc.createElement('span'));
            const plain = /** @type {Element} */ (element.cloneNode(true));
            for (const holder of Array.from(plain.querySelectorAll('.md-math-pending'))) holder.replaceWith(doc.createElement('span'));
            if (bare.outerHTML !== plain.outerHTML) return false;
            partial = { item, element, holders, roots, next: 0, onScreen };
            return true;
        };
        /**
         * Puts the partial block's next formulas in place until `until`;
         * ends it once all are in (or the block was replaced meanwhile).
         * @param {number} until
         */
        const continueByFormula = (until) => {
            const going = partial;
            if (!going) return;
            if (view.elements[going.item.index] !== going.element || feed.pending.get(going.item.index) !== going.item) {
                partial = null;
                return;
            }
            // As many at a time as the time left should take, their style
            // and layout read once for them all (keeping the place reads it).
            do {
                const started = now();
                const count = Math.max(1, Math.floor((until - started) / msPerFormula));
                const end = Math.min(going.holders.length, going.next + count);
                keepPlace([going.element], () => {
                    for (; going.next < end; going.next++) going.holders[going.next].replaceWith(going.roots[going.next]);
                });
                going.element.getBoundingClientRect();
                const rate = (now() - started) / count;
                msPerFormula = rate > msPerFormula ? rate : msPerFormula * 0.8 + rate * 0.2;
            } while (going.next < going.holders.length && now() < until);
            if (going.next < going.holders.length) return;
            partial = null;
            feed.pending.delete(going.item.index);
            find.replaced(going.item.index);
        };

        // The blocks on screen whose markup is here and not in place yet,
        // in order; the worker hears of the screen when some of its blocks'
        // markup has not come yet.
        /** @type {string} */
        let preferred = '';
        let lastTold = -Infinity;
        /** @returns {EnhancedItem[]} */
        const onScreen = () => {
            if (view.count === 0 || !hasLayout()) return [];
            const top = geometry.scrollTop();
            const count = Math.min(view.count, view.elements.length);
            const from = blockIndexAt(view.elements, count, top, geometry);
            const to = blockIndexAt(view.elements, count, top + geometry.viewportHeight(), geometry);
            /** @type {EnhancedItem[]} */
            const items = [];
            let missing = false;
            for (let index = from; index <= to; index++) {
                const item = feed.pending.get(index);
                if (item && isIn(index)) items.push(item);
                else if (!item && !feed.received.has(index)) missing = true;
            }
            const range = `${from}-${to}`;
            if (missing && !feed.done && range !== preferred) {
                preferred = range;
                parser.prefer?.(from, to);
            }
            return items;
        };
        const hasLayout = () => !isHidden(doc, geometry);

        let budget = ENHANCE_MS.initial;
        // The last slice's time, while slices follow frame by frame; -1
        // after a wait.
        let lastSpent = -1;
        let msPerChar = ENHANCE_INITIAL_MS_PER_CHAR;
        // The first screen goes first, in a frame of its own.
        /** @type {number | null} */
        let lastFrame = isHidden(doc, geometry) ? await scheduler.yieldTask().then(() => null) : await scheduler.nextFrame();
        /** @type {EnhancedItem[]} the blocks on screen, ahead of the feed */
        let urgent = [];
        // The next item to put in place: the screen's, then the feed's.
        const take = () => {
            while (urgent.length > 0) {
                const item = /** @type {EnhancedItem} */ (urgent.shift());
                if (feed.pending.get(item.index) === item) return { item, onScreen: true };
            }
            return feed.next < feed.items.length ? { item: feed.items[feed.next++], onScreen: false } : null;
        };
        /** @param {{item: EnhancedItem, onScreen: boolean}} taken */
        const putBack = (taken) => {
            if (taken.onScreen) urgent.unshift(taken.item);
            else feed.next -= 1;
        };
        // Whether highlighting and math may still be coming for a block
        // near the screen: from the worker, in blocks still going in, in
        // chunks the screen's watch has not told about yet.
        const stillComing = () => {
            if (!feed.done || notInYet.length > 0 || partial !== null || urgent.length > 0 || feed.next < feed.items.length) return true;
            for (const chunk of parked.keys()) if (!reported.has(chunk) || near.has(chunk)) return true;
            return false;
        };
        while (!stopped && state.view === view) {
            watchNewChunks();
            if (notInYet.length > 0 && (feed.next >= feed.items.length || view.count >= view.result.blocks.length)) {
                const waiting = notInYet;
                notInYet = [];
                for (const item of waiting) {
                    if (isIn(item.index)) feed.items.push(item);
                    else notInYet.push(item);
                }
            }
            // While the reader scrolls, the frames are the scroll's: the
            // blocks coming on screen are laid out and painted. The blocks
            // are dressed once the page holds still.
            const scrolling = now() - lastScroll < SCROLL_QUIET_MS && hasLayout();
            // While the reader scrolls the worker hears where, now and then,
            // so that the screen they stop at is typeset by then.
            if (!eager && (!scrolling || now() - lastTold >= TELL_WORKER_MS)) {
                lastTold = now();
                const items = onScreen();
                if (!scrolling) urgent = items;
            }
            coming.enhancementsComing = stillComing();
            if (scrolling) {
                await scheduler.nextFrame();
                lastFrame = null;
                continue;
            }
            if (partial === null && urgent.length === 0 && feed.next >= feed.items.length) {
                feed.items = [];
                feed.next = 0;
                if (notInYet.length > 0) {
                    // The blocks they belong to go in a frame at a time.
                    if (isHidden(doc, geometry)) await scheduler.yieldTask();
                    else await scheduler.nextFrame();
                    lastFrame = null;
                    continue;
                }
                if (feed.done && parked.size === 0) break;
                await new Promise((resolve) => { feed.wake = () => resolve(undefined); });
                lastFrame = null;
                continue;
            }
            const going = /** @type {{onScreen: boolean} | null} */ (partial);
            const screen = urgent.length > 0 || going?.onScreen === true;
            // A visible page's slice is the frame's, granted after work of
            // a higher priority in it (a search, insertion before the
            // blocks near the screen).
            let sliceMs = screen ? Math.max(budget, ENHANCE_MS.screen) : budget;
            /** @type {import('./budget.js').Slice | null} */
            let slice = null;
            if (!isHidden(doc, geometry)) {
                slice = await frameBudget.next(screen ? 'screen' : 'dress', sliceMs);
                if (slice.frame !== null && lastFrame !== null && lastSpent >= 0) {
                    budget = nextBudget(budget, slice.frame - lastFrame, lastSpent);
                }
                lastFrame = slice.frame;
                sliceMs = slice.ms;
                if (stopped || state.view !== view) {
                    slice.end();
                    break;
                }
                // The reader began to scroll meanwhile.
                if (now() - lastScroll < SCROLL_QUIET_MS) {
                    slice.end();
                    continue;
                }
            }
            const sliceStarted = now();
            continueByFormula(sliceStarted + sliceMs);
            while (partial === null) {
                const left = sliceMs - (now() - sliceStarted);
                if (left <= 0) break;
                // A few blocks at a time, parsed in one go, as many as the
                // time left should take.
                const chars = Math.min(ENHANCE_GROUP_CHARS.max, Math.max(ENHANCE_GROUP_CHARS.min, left / msPerChar));
                const group = [];
                let length = 0;
                let ended = true;
                for (let taken = take(); taken; taken = length < chars ? take() : null) {
                    ended = false;
                    const { item } = taken;
                    if (!isIn(item.index) && item.index < view.result.blocks.length) {
                        notInYet.push(item);
                        continue;
                    }
                    const chunk = view.elements[item.index]?.parentElement;
                    if (!chunk) continue;
                    if (!eager && !taken.onScreen && !near.has(chunk)) {
                        const waiting = parked.get(chunk);
                        if (waiting) waiting.push(item);
                        else parked.set(chunk, [item]);
                        continue;
                    }
                    if (item.html.length > BY_FORMULA_CHARS && feed.pending.get(item.index) === item) {
                        if (group.length > 0) {
                            putBack(taken);
                            break;
                        }
                        if (startByFormula(item, taken.onScreen)) break;
                    }
                    group.push(item);
                    length += item.html.length;
                }
                if (partial !== null) {
                    continueByFormula(sliceStarted + sliceMs);
                    continue;
                }
                if (group.length === 0) {
                    if (ended) break;
                    continue;
                }
                const groupStarted = now();
                if (!replace(group)) continue;
                // Quick to follow a costlier group, slow to trust a cheaper one.
                const rate = (now() - groupStarted) / Math.max(1, length);
                msPerChar = rate > msPerChar ? rate : msPerChar * 0.8 + rate * 0.2;
            }
            lastSpent = now() - sliceStarted;
            slice?.end();
            if (!slice) {
                await scheduler.yieldTask();
                lastFrame = null;
                lastSpent = -1;
            }
        }
        if (stopEnhancing === stop) stop();
    }

    /**
     * The slice's time after a frame `gap` ms from the one before, whose
     * slice took `spent` ms: less after a frame the slice made late, the
     * same after one late for other reasons, more after a quick one.
     * @param {number} budget
     * @param {number} gap
     * @param {number} spent
     */
    function nextBudget(budget, gap, spent) {
        if (gap > ENHANCE_MS.target && gap - ENHANCE_MS.target > spent * (1 + ENHANCE_LAYOUT_FACTOR)) return budget;
        if (gap > ENHANCE_MS.target) return Math.max(ENHANCE_MS.min, budget * 0.7);
        if (gap < ENHANCE_MS.target * 0.75) return Math.min(ENHANCE_MS.max, budget * 1.2);
        return budget;
    }

    /**
     * @param {Element[]} elements
     * @param {() => (Element | null)[] | void} change
     */
    function keepPlace(elements, change) {
        if (geometry.keepPlace) geometry.keepPlace(elements, change);
        else change();
    }

    // Ends the highlighting and math still coming (a new render, or the
    // page is closing).
    function stopCurrent() {
        stopEnhancing?.();
    }

    return { feed: enhancementFeed, apply: applyEnhancements, stop: stopCurrent };
}
