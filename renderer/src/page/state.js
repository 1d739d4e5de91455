// @ts-check
// What the page's parts share: the session the reader last named, the render
// under way and the document on screen, plus the types they pass around. Each
// part gets this state as an argument; whatever only one part needs stays in
// that part.

/**
 * @typedef {object} Session
 * @property {string} viewSessionID
 * @property {string} documentID
 * @property {number} sourceRevision
 */

/**
 * Where blocks are and how the page scrolls; anchors.js makes the page's
 * own, tests pass one of their own.
 * @typedef {object} Geometry
 * @property {() => number} scrollTop
 * @property {(value: number) => void} setScrollTop
 * @property {() => number} maxScroll
 * @property {() => number} viewportHeight
 * @property {() => number} viewportWidth
 * @property {(element: Element) => number} top
 * @property {(element: Element) => number} height
 * @property {(element: Element) => number} [width]
 * @property {(element: Element, y: number) => boolean} [topAtOrAbove]
 * @property {(top: number) => void} [setReadingLine]
 * @property {(chunk: Element) => void} [watchChunk]
 * @property {(chunk: Element) => void} [forgetChunk]
 * @property {(changed: Element | Element[], change: () => (Element | null)[] | void) => void} [keepPlace]
 *     makes a change inside the blocks (or replacing them: the change returns
 *     what stands for each then), the reading line staying where it is
 * @property {() => void} [didScroll]  the page scrolled itself
 * @property {() => boolean} [ownScroll]  the view is where the page last put
 *     it itself (a scroll event then is the page's own, not the reader's)
 * @property {() => void} [dispose]
 */

/**
 * @typedef {object} Block  one block of a parse result
 * @property {string} id
 * @property {string} kind
 * @property {number} start  first source line
 * @property {number} end  last source line
 * @property {number} [est]  estimated height in pixels
 * @property {RawMarkup} [raw]  raw markup, sanitised on its own
 * @property {string} fp  fingerprint of the content
 * @property {number} heading  index of the heading it sits under, -1 before the first
 */

/**
 * A block of raw markup: its outer element, and its inner HTML in which the
 * trusted pieces are placeholders that carry the render's nonce.
 * @typedef {object} RawMarkup
 * @property {string} tag
 * @property {Record<string, string | number>} [attrs]
 * @property {string} html
 * @property {string[]} pieces
 * @property {string} [nonce]
 */


/**
 * @typedef {object} Heading
 * @property {number} level
 * @property {string} text
 * @property {string} id
 */

/**
 * @typedef {{local: number, remote: number, rejected: number}} ImageCounts
 */

/**
 * A parsed document: the markup of block i is html[offsets[i], offsets[i + 1]).
 * @typedef {object} ParseResult
 * @property {string} html
 * @property {number[]} offsets
 * @property {Block[]} blocks
 * @property {Heading[]} headings
 * @property {ImageCounts} images
 * @property {{id: string, source: string}[]} diagrams
 * @property {import('../protocol.js').Payloads['rendered']['limits']} limits
 * @property {number} parseMs
 * @property {number} [lineCount]  lines of the source
 */

/**
 * @typedef {{status: 'ok', result: ParseResult, later?: number, waitMs: number}
 *     | {status: 'timeout', waitMs: number}
 *     | {status: 'failed', message: string, waitMs: number}
 *     | {status: 'cancelled', waitMs?: number}} ParseOutcome
 */

/**
 * See parser.js.
 * @typedef {object} Parser
 * @property {string} mode
 * @property {(source: string, options: object, timeoutMs: number, onHead?: (head: ParseResult) => void,
 *     onEnhanced?: import('./parser.js').OnEnhanced) => Promise<ParseOutcome>} parse
 * @property {() => void} cancel
 * @property {(from: number, to: number) => void} [prefer]  the blocks on screen get their
 *     highlighting and math first
 * @property {(timeoutMs: number) => Promise<boolean>} ping
 * @property {() => void} [dispose]
 */

/**
 * @typedef {object} PageState
 * @property {Session} session  as named by the latest request
 * @property {number} generation  the latest render's
 * @property {string} language  the latest render's
 * @property {{top: number, bottom: number}} insets  the reader's bars over the page
 * @property {import('./view.js').View | null} view  the document on screen
 * @property {object | null} activeRender  the token of the render under way
 * @property {number} activeHeading  the heading last reported as active
 */

/** @returns {PageState} */
export function createState() {
    return {
        session: { viewSessionID: '', documentID: '', sourceRevision: 0 },
        generation: 0,
        language: 'zh-Hans',
        insets: { top: 0, bottom: 0 },
        view: null,
        activeRender: null,
        activeHeading: -1,
    };
}
