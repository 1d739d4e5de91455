// How the renderer page shows a document, in a real WebKitGTK web view,
// against two naive pages rendering the same text: the plain baseline
// (markdown-it over the whole text and one innerHTML assignment,
// renderer/bench/baseline.js) and the full baseline (the same with the
// renderer's plugins, highlight.js and KaTeX in one pass, its KaTeX fonts
// loaded beforehand, renderer/bench/baseline-full.js). Run by hand under
// Xvfb, from a build with benchmarks:
//
//   export GDK_BACKEND=x11 GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1
//   xvfb-run -a -s "-screen 0 1280x1024x24" <build>/bench/render/larkspin_render_bench
//
// Options:
//   --repeat N     runs of each measurement (3)
//   --only TEXT    one section ("render", "paging", "find", "table",
//                  "pages", "motion" or "typography"), or
//                  the rows whose page and document hold TEXT, such as
//                  "1 MiB" or "renderer 5 MiB"
//   --pages N      screens to page through (100; 0: to the end)
//   --step-ms N    time between two screens while paging (50; 0: one
//                  screen each animation frame)
//   --peer DIR     another build of the reading page (a `dist` folder, such
//                  as the tree's before a change, copied aside), measured as
//                  "peer" beside each measurement of the renderer, in the
//                  same rounds: before and after in one run
//
// Each measurement loads the page in a web view of its own, in a visible
// 1024×768 window, waits for "ready" (and, for the renderer, for its parse
// worker to answer a probe), then sends one render request the way the
// reader does (JSON text handed to window.Orvik.handleMessageText; the naive
// pages take the envelope through window.Orvik.handleMessage). Frames are
// seen from outside the page's code: a loop of animation frames run by the
// bench's own script in the page world, started before each request, which
// records every frame's time stamp. A long task, or a long style and layout
// after the page changed its content, shows as a long gap between two
// frames. The loop runs until the content held still and three frames after
// the last change, so that the layout after the last change is counted.
//
// Sections:
//   render  documents of 100 KiB, 1 MiB and 5 MiB (GeneratedDocument.hpp),
//           to the renderer page with enhancements (highlighting, math,
//           diagrams) and without ("plain"), to the plain baseline and to
//           the full baseline (not at 5 MiB: about 40 s a run, and no goal
//           needs it):
//             first screen  from the request to the end of the first frame
//                           whose rendering shows content down to the
//                           bottom of the window (checked in a task queued
//                           from each animation frame, so after that
//                           frame's layout and paint);
//             screen still  from the request to the last change to what the
//                           first screen shows (the elements hit at a grid
//                           of points then: one removed, as a block
//                           replaced by its highlighted or typeset form, or
//                           what is inside one changed): a first screen
//                           shown in its final form has the two equal;
//             reply         from the request to the reply ("rendered");
//             complete      from the request to the last change to the
//                           content (a mutation observer's, once it held
//                           still for a second) or to the first screen,
//                           whichever comes later;
//             longest frame the longest gap between two frames from the
//                           request to the last change (outside), beside
//                           the page's own meter (the reply's
//                           timings.maxFrameGapMs, or a later event's).
//   paging  after each render above (once it held still), the bench's
//           script scrolls by a screen at a time from the top, --pages
//           screens or to the end, and reports the longest frame from the
//           first step until the content held still again.
//   find    the first search after a render held still: a find request as
//           the reader sends it, the time to its reply ("findResult") and
//           the longest frame until the reply is shown and until the
//           content held still again; on the 1 MiB and 5 MiB documents
//           ("settles", once per section) and on 200 sections of a heading,
//           two inline formulas and a display formula ("Section"; also with
//           math off). The floor is a naive search in the plain baseline
//           page of the same text: its whole text read and searched.
//           The render's loop of frames also runs on for 2 s after the
//           last change: the longest frame until then, and when it fell.
//           Tables of 4,000 and 20,000 rows × 5 columns (a cell "needleN"
//           in each row): "needle1" typed key by key as the find strip sends
//           it, a key every 120 ms while the reader scrolls, not waiting for
//           the answers: the time from the last key to its answer, the
//           longest frame from the first key until the content held still,
//           the marks in the page then; the floor is the naive search.
//   table   one table of 5,000 rows × 12 columns (about 600 KB): the
//           renderer's first screen, complete render and longest frame
//           against the plain baseline's complete render.
//   motion  right after the reply the reader scrolls fast (a screen each
//           frame) to the middle of 300 paragraphs of 12 inline formulas,
//           of 1,200 sections with math and of 400 display formulas, or
//           jumps there (or to 90 % and 97 % of the way down) 0.2 s after
//           it, and holds still: the time from the stop until no formula on
//           screen waits for its typeset form (goal 0.5 s) and the longest
//           frame until then; after a jump, how far the text at the top of
//           the screen moved from where the first frame showed it (goal
//           2 px). On 200 parts of
//           a heading, a paragraph with an inline formula, a display
//           formula and "Closing words of part N.", the paragraph of part
//           120 put at the top (as a restored place) and the heading of
//           part 120 scrolled to (as from the outline): how far either
//           moves while the formulas above it are typeset (goal 2 px).
//   pages   a code page (150 sections of a heading, a sentence and a
//           12-line JavaScript block), 400 display formulas and 300
//           paragraphs of 12 inline formulas, each rendered with and
//           without enhancements and paged through as above: the longest
//           paging frame against the same document without enhancements
//           (and, apart, while the steps go on: "moving fr.") and beside
//           the full baseline paged the same way.
//   typography  600 sections of a heading and two paragraphs, opened with
//           the look the app sends first (the light theme, the default
//           typography) and a top inset of 100 px, the reading line: the
//           first paragraph of section 30, 300 or 550 put there, then the
//           reader's changes as the app sends them, one after the other
//           (16 to 17 to 18 px, back to 16, 16 to 20 px at once, 20 to 13 px
//           with the compact width, loose lines, a dark theme, more
//           contrast): how far the paragraph moved from the line, the worst
//           at any frame until the content held still (goal 2 px). The
//           plain baseline takes each change as CSS on its root, its scroll
//           position kept: what a one-pass page does.
// Figures are medians of the repetitions, with the worst longest frame of
// all of them; the frame goals are judged on the worst. Every goal is
// printed as a ratio to its peer, floor or limit in the same run.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographySettings.hpp"
#include "GeneratedDocument.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Payloads/AccessibilityDisplayOptionsFields.hpp"
#include "Protocol/Payloads/SetBackgroundPayload.hpp"
#include "Protocol/Payloads/SetThemePayload.hpp"
#include "Protocol/Payloads/SetTypographyPayload.hpp"
#include "Protocol/Payloads/ViewportInsetsPayload.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Support/Display/RendererPage.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "BenchSetup.hpp"

namespace larkspin::bench {
namespace {

using nlohmann::json;

constexpr int windowWidth = 1024;
// Between two keys of a query typed into the find strip.
constexpr int typingGapMs = 120;
constexpr int windowHeight = 768;

// What every measuring script starts with: the bench's own frame loop and
// change watch, none of it the page's code.
constexpr const char* prelude = R"(
    const nextFrame = () => new Promise((done) => requestAnimationFrame(done));
    const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
    const content = document.getElementById('content');
    const watchFrames = () => {
        const frames = [];
        let running = true;
        const tick = (stamp) => {
            if (!running) return;
            frames.push(stamp);
            requestAnimationFrame(tick);
        };
        requestAnimationFrame(tick);
        return {
            // Waits until `count` frames have begun after `time`.
            async after(time, count, deadline) {
                const seen = () => frames.filter((f) => f > time).length;
                while (seen() < count && performance.now() < deadline) await nextFrame();
            },
            stop() { running = false; },
            // The longest gap between two frames from the one before `from`
            // to the third frame after `to`, the gaps counted and those over
            // 50 ms.
            longest(from, to) {
                let gap = 0;
                let count = 0;
                let over = 0;
                let after = 0;
                let at = 0;
                for (let i = 1; i < frames.length; i++) {
                    if (frames[i] < from) continue;
                    if (frames[i - 1] > to && ++after > 2) break;
                    if (frames[i] - frames[i - 1] > gap) {
                        gap = frames[i] - frames[i - 1];
                        at = frames[i] - from;
                    }
                    count += 1;
                    if (frames[i] - frames[i - 1] > 50) over += 1;
                }
                return { gap, count, over, at };
            },
        };
    };
    const watchChanges = () => {
        const watch = { last: null };
        const observer = new MutationObserver(() => { watch.last = performance.now(); });
        observer.observe(content, { subtree: true, childList: true, attributes: true, characterData: true });
        watch.stop = () => observer.disconnect();
        return watch;
    };
    // Waits until the content has not changed for `stillMs` since `since`.
    const holdStill = async (changes, since, stillMs, deadline) => {
        while (performance.now() < deadline && performance.now() - Math.max(since, changes.last ?? since) < stillMs) {
            await nextFrame();
        }
    };
    const settle = async () => { for (let i = 0; i < 3; i++) await nextFrame(); };
    // A request as the reader sends it: JSON text in, the reply's JSON text
    // out (the naive pages take the envelope itself). The reply is read
    // once the frames are counted, as the reader reads it outside the page.
    const send = async (message) => window.Orvik.handleMessageText
        ? { text: await window.Orvik.handleMessageText(message) }
        : { reply: await window.Orvik.handleMessage(JSON.parse(message)) };
    const read = (sent) => sent.reply ?? JSON.parse(sent.text);
)";

// The measured render request; `message` is the envelope as JSON text.
constexpr const char* measureRender = R"(
    const filled = () => {
        const placed = Array.from(content.children).filter((c) => !c.classList.contains('md-staging'));
        return placed.length > 0 && placed[placed.length - 1].getBoundingClientRect().bottom >= innerHeight;
    };
    // What the first screen shows: the elements hit at a grid of points once
    // it is in. It changes when one of them is removed (a block replaced by
    // its highlighted or typeset form) or when what is inside one of them
    // changes; watched through the mutations, so that the bench adds no
    // work to the frames that follow.
    let started = null;
    let firstScreen = null;
    let screenStill = null;
    let shown = [];
    const touchesScreen = (record) => {
        if (shown.some((element) => element.contains(record.target))) return true;
        for (const node of record.removedNodes) {
            if (shown.some((element) => node === element || node.contains(element))) return true;
        }
        return false;
    };
    const screenChanges = new MutationObserver((records) => {
        if (firstScreen === null || !records.some(touchesScreen)) return;
        screenStill = performance.now();
    });
    const afterFrame = new MessageChannel();
    afterFrame.port1.onmessage = () => {
        if (started === null || firstScreen !== null || !filled()) return;
        firstScreen = performance.now();
        screenStill = firstScreen;
        const hits = new Set();
        for (let row = 0; row < 12; row++) {
            for (let column = 0; column < 4; column++) {
                const hit = document.elementFromPoint(innerWidth * (0.2 + 0.2 * column), innerHeight * (row + 0.5) / 12);
                if (hit && content.contains(hit) && hit !== content) hits.add(hit);
            }
        }
        // A container hit between its blocks (a chunk, the article) stands
        // for what it holds: the blocks hit inside it.
        shown = Array.from(hits).filter((hit) => !Array.from(hits).some((other) => other !== hit && hit.contains(other)));
        screenChanges.observe(content, { subtree: true, childList: true, characterData: true });
    };
    let checking = true;
    const check = () => {
        if (!checking) return;
        afterFrame.port2.postMessage(0);
        requestAnimationFrame(check);
    };
    await settle();
    const frames = watchFrames();
    requestAnimationFrame(check);
    await nextFrame();

    started = performance.now();
    const changes = watchChanges();
    const sent = await send(message);
    const replied = performance.now();
    const deadline = replied + 30000;
    while (firstScreen === null && performance.now() < deadline) await nextFrame();
    await holdStill(changes, replied, 1000, deadline);
    changes.stop();
    screenChanges.disconnect();
    checking = false;
    afterFrame.port1.close();
    const complete = Math.max(replied, changes.last ?? replied, firstScreen ?? replied);
    await frames.after(complete, 3, deadline + 5000);
    // The same loop goes on for two seconds after that: what the page still
    // does once its content held still (reading the document's text for
    // search, work the worker sends, collections) shows there.
    const idle = performance.now() + 2000;
    while (performance.now() < idle) await nextFrame();
    frames.stop();
    const longest = frames.longest(started, complete);
    const toIdle = frames.longest(started, idle);
    const reply = read(sent);
    return {
        type: reply.type,
        code: reply.payload?.code ?? null,
        message: reply.payload?.message ?? null,
        firstScreenMs: firstScreen === null ? null : firstScreen - started,
        screenStillMs: screenStill === null ? null : screenStill - started,
        replyMs: replied - started,
        completeMs: complete - started,
        maxGapMs: longest.gap,
        frames: longest.count,
        maxGapToIdleMs: toIdle.gap,
        maxGapToIdleAtMs: toIdle.at,
        degraded: reply.payload?.degraded?.reason ?? null,
        timings: reply.payload?.timings ?? null,
        size: [innerWidth, innerHeight],
    };
)";

// Pages through the document from the top, `pages` screens or to its end,
// one each `stepMs` (each frame if 0).
constexpr const char* measurePaging = R"(
    const pages = Number(pagesText) || Infinity;
    const stepMs = Number(stepText);
    const deadline = performance.now() + 180000;
    const scroller = document.scrollingElement ?? document.documentElement;
    window.scrollTo({ top: 0, behavior: 'instant' });
    await settle();
    const changes = watchChanges();
    const frames = watchFrames();
    await settle();
    const started = performance.now();
    let steps = 0;
    while (steps < pages && scroller.scrollTop + innerHeight < scroller.scrollHeight - 1) {
        window.scrollBy({ top: innerHeight, behavior: 'instant' });
        steps += 1;
        if (stepMs > 0) await sleep(stepMs); else await nextFrame();
    }
    const lastStep = performance.now();
    await holdStill(changes, lastStep, 500, deadline);
    changes.stop();
    const end = Math.max(lastStep, changes.last ?? lastStep);
    await frames.after(end, 3, deadline + 5000);
    frames.stop();
    const longest = frames.longest(started, end);
    return {
        steps,
        movingGapMs: frames.longest(started, lastStep).gap,
        pagingMs: lastStep - started,
        settleMs: end - lastStep,
        maxGapMs: longest.gap,
        frames: longest.count,
        over: longest.over,
        top: scroller.scrollTop,
        height: scroller.scrollHeight,
    };
)";

// The first find request after the render held still; `message` is its
// envelope as JSON text.
constexpr const char* measureFind = R"(
    window.scrollTo({ top: 0, behavior: 'instant' });
    await settle();
    const changes = watchChanges();
    const frames = watchFrames();
    await settle();
    const started = performance.now();
    const sent = await send(message);
    const replied = performance.now();
    const deadline = replied + 60000;
    await holdStill(changes, replied, 500, deadline);
    changes.stop();
    const end = Math.max(replied, changes.last ?? replied);
    await frames.after(end, 3, deadline + 5000);
    frames.stop();
    const toReply = frames.longest(started, replied);
    const toEnd = frames.longest(started, end);
    const reply = read(sent);
    return {
        type: reply.type,
        code: reply.payload?.code ?? null,
        message: reply.payload?.message ?? null,
        matches: reply.payload?.matchCount ?? null,
        replyMs: replied - started,
        settleMs: end - started,
        gapToReplyMs: toReply.gap,
        gapToSettleMs: toEnd.gap,
    };
)";

// Right after the render's reply, the reader goes somewhere: `motion` is
// "scroll" (a screen each frame to the middle), "jump" (straight to
// `ratioText` of the way down, `delayText` ms after the reply), "place"
// (the paragraph whose text is `targetText` at the top at once, as a
// restored place) or
// "heading" (the page's own scroll to heading `headingMessage`, as the
// outline asks). Then it holds still. For "scroll" and "jump": the time
// from the stop until no formula box waiting for its typeset formula lies
// on screen (checked after each frame in the chunks on screen only), and
// the longest frame until then; after a jump, also how far the block at the
// top of the screen moved until the content held still for a second. For
// "place" and "heading": how far the target moved from where it was put,
// at any frame until the content held still for a second.
constexpr const char* measureMotion = R"(
    const scroller = document.scrollingElement ?? document.documentElement;
    await settle();
    const frames = watchFrames();
    const changes = watchChanges();
    await nextFrame();
    const started = performance.now();
    const sent = await send(message);
    const replied = performance.now();
    const deadline = replied + 30000;
    const reply = read(sent);
    if (reply.type !== 'rendered') return { type: reply.type, message: reply.payload?.message ?? null };
    const pendingOnScreen = () => {
        for (const chunk of content.querySelectorAll('.md-chunk')) {
            const box = chunk.getBoundingClientRect();
            if (box.bottom <= 0 || box.top >= innerHeight) continue;
            for (const holder of chunk.querySelectorAll('.md-math-pending')) {
                const r = holder.getBoundingClientRect();
                if (r.bottom > 0 && r.top < innerHeight) return true;
            }
        }
        return false;
    };
    if (motion === 'scroll' || motion === 'jump') {
        if (Number(delayText) > 0) await sleep(Number(delayText));
        const maxScroll = scroller.scrollHeight - innerHeight;
        const middle = maxScroll / 2;
        if (motion === 'jump') {
            window.scrollTo({ top: maxScroll * Number(ratioText), behavior: 'instant' });
        } else {
            while (scroller.scrollTop + innerHeight < middle) {
                window.scrollBy({ top: innerHeight, behavior: 'instant' });
                await nextFrame();
            }
        }
        // After a jump, the block at the top of the screen as the first
        // frame after it showed it: how far it moves from there until the
        // content holds still. What a frame showed is read in a task after
        // it (in the frame's callback, reading the layout would lay out
        // what the frame itself may still change before it paints).
        let line = null;
        let placed = 0;
        let moved = 0;
        const follow = async () => {
            if (motion !== 'jump') return;
            await sleep(0);
            if (!line) {
                line = Array.from(content.querySelectorAll('.md-chunk > *')).find((block) => {
                    const box = block.getBoundingClientRect();
                    return box.bottom > 0 && box.top < innerHeight;
                }) ?? null;
                placed = line?.getBoundingClientRect().top ?? 0;
            }
            if (line) moved = Math.max(moved, Math.abs(line.getBoundingClientRect().top - placed));
        };
        const stopped = performance.now();
        let typeset = null;
        while (performance.now() < deadline) {
            await nextFrame();
            await follow();
            if (!pendingOnScreen()) {
                typeset = performance.now();
                break;
            }
        }
        await frames.after(typeset ?? deadline, 3, deadline + 5000);
        frames.stop();
        const longest = frames.longest(stopped, typeset ?? deadline);
        if (motion === 'jump') {
            const since = performance.now();
            while (performance.now() < deadline && performance.now() - Math.max(since, changes.last ?? since) < 1000) {
                await nextFrame();
                await follow();
            }
        }
        changes.stop();
        const result = { type: reply.type, replyMs: replied - started, typesetMs: typeset === null ? null : typeset - stopped,
                         gapMs: longest.gap, top: scroller.scrollTop };
        return line ? { ...result, movedPx: moved } : result;
    }
    let target = null;
    if (motion === 'place') {
        target = Array.from(content.querySelectorAll('p')).find((p) => p.textContent.trim() === targetText);
        if (target) window.scrollTo({ top: target.getBoundingClientRect().top + scroller.scrollTop, behavior: 'instant' });
    } else {
        const heading = read(await send(headingMessage));
        if (heading.payload?.found) target = document.getElementById(JSON.parse(headingMessage).payload.id);
    }
    if (!target) return { type: 'missing', message: 'no target' };
    const placed = target.getBoundingClientRect().top;
    const placedAt = performance.now();
    let moved = 0;
    let movedAt = 0;
    while (performance.now() < deadline && performance.now() - Math.max(placedAt, changes.last ?? placedAt) < 1000) {
        await nextFrame();
        const off = Math.abs(target.getBoundingClientRect().top - placed);
        if (off > moved) {
            moved = off;
            movedAt = performance.now() - placedAt;
        }
    }
    frames.stop();
    changes.stop();
    return { type: reply.type, replyMs: replied - started, movedPx: moved, movedAtMs: movedAt,
             pending: content.querySelectorAll('.md-math-pending').length };
)";

// A query typed key by key into the find strip: each prefix sent as the
// strip sends it (`gapText` ms apart, not waiting for the answers), the
// reader scrolling a little at each key. The answer that counts is the
// last key's: the time from that key to it, and the longest frame from the
// first key until the content held still.
constexpr const char* measureTyping = R"(
    window.scrollTo({ top: 0, behavior: 'instant' });
    await settle();
    const changes = watchChanges();
    const frames = watchFrames();
    await settle();
    const keys = JSON.parse(keysText);
    const gap = Number(gapText);
    const started = performance.now();
    const pending = [];
    let lastSent = started;
    for (let i = 0; i < keys.length; i++) {
        if (i > 0) await sleep(gap);
        window.scrollBy({ top: 40, behavior: 'instant' });
        lastSent = performance.now();
        pending.push(send(keys[i]).then((sent) => ({ sent, at: performance.now() })));
    }
    const last = await pending[pending.length - 1];
    const replied = last.at;
    const deadline = replied + 60000;
    await holdStill(changes, replied, 500, deadline);
    changes.stop();
    const end = Math.max(replied, changes.last ?? replied);
    await frames.after(end, 3, deadline + 5000);
    frames.stop();
    const toReply = frames.longest(started, replied);
    const toEnd = frames.longest(started, end);
    const reply = read(last.sent);
    return {
        type: reply.type,
        code: reply.payload?.code ?? null,
        message: reply.payload?.message ?? null,
        matches: reply.payload?.matchCount ?? null,
        replyMs: replied - lastSent,
        settleMs: end - lastSent,
        gapToReplyMs: toReply.gap,
        gapToSettleMs: toEnd.gap,
        marks: document.querySelectorAll('mark.md-find').length,
    };
)";

// The floor of a search: the naive page's whole text read and searched.
constexpr const char* measureNaiveFind = R"(
    await settle();
    const started = performance.now();
    const text = content.textContent.toLowerCase();
    const needle = query.toLowerCase();
    let matches = 0;
    for (let at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + needle.length)) matches += 1;
    return { type: 'findResult', matches, replyMs: performance.now() - started };
)";

// The reader's place through a sequence of changes of look. The page gets
// the look the app sends when it opens a document (`lookText`: envelopes as
// JSON text), the render request (`message`), and, once the content held
// still, paragraph one of section `section` is scrolled to `lineText` px
// from the top, the reading line (the renderer pages get that line as
// their top inset). Then each change of `stepsText` (the envelopes the app
// sends for it, one after the other): how far the paragraph's top moved
// from the line, the worst at any frame until the content held still for a
// second, read in a task after each frame. The naive page answers nothing
// but "render" (renderer/bench/baseline-protocol.js): it takes each change
// the way a one-pass page would, as CSS on the root (the custom properties
// of the stylesheet it shares with the renderer), its scroll position left
// as it was. A paragraph more than 2 px off the line is put back there
// before the next change (the reader finds the place again), so that each
// figure is one change's; one within 2 px is left where it is.
constexpr const char* measureTypography = R"(
    const scroller = document.scrollingElement ?? document.documentElement;
    const line = Number(lineText);
    const naive = !window.Orvik.handleMessageText;
    const widthRem = { comfortable: 44, compact: 36, wide: 58 };
    const lineHeights = { standard: 1.7, compact: 1.5, loose: 1.9 };
    const restyle = ({ type, payload }) => {
        const root = document.documentElement;
        if (type === 'setTypography') {
            root.style.setProperty('--md-font-size', `${payload.fontSizePx}px`);
            root.style.setProperty('--md-prose-width', `${widthRem[payload.widthPreset]}rem`);
            root.style.setProperty('--md-line-height', String(lineHeights[payload.lineHeightPreset]));
            root.style.setProperty('--md-font-weight', String(payload.fontWeight));
        } else if (type === 'setTheme') {
            for (const [name, value] of Object.entries(payload.tokens)) {
                if (name === '--md-background-style') root.toggleAttribute('data-solid', value === 'solid');
                else root.style.setProperty(name, value);
            }
        } else if (type === 'setBackground') {
            root.style.setProperty('--md-page-background', payload.pageBackground);
            if (payload.colorScheme) root.style.setProperty('color-scheme', payload.colorScheme);
        } else if (type === 'setAccessibility') {
            root.toggleAttribute('data-reduce-motion', payload.reduceMotion);
            root.toggleAttribute('data-increase-contrast', payload.increaseContrast);
            root.toggleAttribute('data-solid', payload.reduceTransparency || payload.increaseContrast);
        }
        return { type: 'applied' };
    };
    const apply = async (message) => naive ? restyle(JSON.parse(message)) : read(await send(message));
    for (const message of JSON.parse(lookText)) {
        const reply = await apply(message);
        if (reply.type === 'error') return { type: 'error', message: reply.payload?.message ?? null };
    }
    const rendered = read(await send(message));
    if (rendered.type !== 'rendered') return { type: rendered.type, message: rendered.payload?.message ?? null };
    const changes = watchChanges();
    const deadline = performance.now() + 120000;
    const holdFollowing = async (since, follow) => {
        while (performance.now() < deadline && performance.now() - Math.max(since, changes.last ?? since) < 1000) {
            await nextFrame();
            await follow();
        }
    };
    await holdFollowing(performance.now(), async () => {});
    const find = () => Array.from(content.querySelectorAll('p'))
        .find((p) => p.textContent.startsWith(`Paragraph one of section ${section}:`)) ?? null;
    let target = find();
    if (!target) return { type: 'missing', message: `no paragraph one of section ${section}` };
    scroller.scrollTop += target.getBoundingClientRect().top - line;
    let moved = 0;
    const follow = async () => {
        await sleep(0);
        if (!target.isConnected) target = find();
        if (target) moved = Math.max(moved, Math.abs(target.getBoundingClientRect().top - line));
    };
    await holdFollowing(performance.now(), follow);
    const placed = moved;
    const steps = [];
    for (const step of JSON.parse(stepsText)) {
        // A reader who lost the place finds it again before the next change;
        // a page that kept it is left as it is (its drift adds up).
        if (target && Math.abs(target.getBoundingClientRect().top - line) > 2) {
            scroller.scrollTop += target.getBoundingClientRect().top - line;
            await settle();
        }
        // The frames between the requests of one change count too.
        moved = 0;
        let failed = null;
        let done = null;
        (async () => {
            try {
                for (const message of step) {
                    const reply = await apply(message);
                    if (reply.type === 'error') {
                        failed = reply;
                        break;
                    }
                }
            } catch (error) {
                failed = { type: 'error', payload: { message: String(error) } };
            } finally {
                done = performance.now();
            }
        })();
        while (done === null && performance.now() < deadline) {
            await nextFrame();
            await follow();
        }
        if (failed) return { type: 'error', message: failed.payload?.message ?? null };
        await holdFollowing(done ?? performance.now(), follow);
        steps.push(target ? moved : null);
    }
    changes.stop();
    return { type: 'rendered', placedPx: placed, steps, top: scroller.scrollTop };
)";

struct Document {
    std::string label;
    std::string text;
};

enum class Section { Render, Find, Table, Pages, Motion, Typography };

struct Job {
    Section section;
    std::string page;   // "renderer", "baseline" (plain) or "full" (the full baseline)
    std::string label;  // what it renders
    const Document* document;
    bool enhancements;
    bool paging = false;      // page through it after the render
    std::string query = {};   // search it after the render
    std::string motion = {};  // the reader's move right after the reply (measureMotion)
    int delayMs = 0;          // before it
    bool typed = false;       // the query typed key by key
    double ratio = 0.5;       // how far down a jump goes
    int paragraph = 0;        // the section whose first paragraph is held at the reading line (measureTypography)
    std::string key() const { return page + " " + label; }
};

// The reading line of the typography section, from the top of the view.
constexpr double readingLinePx = 100;

// A request as the app sends it: its type and its payload.
using Request = std::pair<std::string, json>;

template <typename Payload>
json encoded(const Payload& payload) {
    return json::parse(PayloadCodec::encode(payload).serialized());
}

// What the app sends when the theme or the accessibility options change:
// the options, the theme's tokens with the options merged in, then its
// background (as PageAppearance::applyAppearance does).
std::vector<Request> appearanceRequests(ThemeID id, std::int64_t revision, const AccessibilityDisplayOptions& options) {
    const Theme theme = ThemeCatalog::theme(id);
    SetThemePayload payload{std::string(rawValue(id)), revision, options.mergingThemeTokens(theme.cssVariables())};
    SetBackgroundPayload background{theme.web.canvas.hex,
                                    std::string(theme.appearance == ThemeAppearance::dark ? "dark" : "light")};
    return {{"setAccessibility", encoded(options)}, {"setTheme", encoded(payload)}, {"setBackground", encoded(background)}};
}

// What a document's page gets before its first render: the reading line as
// the top inset, the light theme and the default typography.
std::vector<Request> openingLook() {
    std::vector<Request> requests{{"setViewportInsets", encoded(ViewportInsetsPayload{readingLinePx, 0})}};
    for (auto& request : appearanceRequests(ThemeID::porcelain, 1, AccessibilityDisplayOptions::none)) {
        requests.push_back(std::move(request));
    }
    requests.emplace_back("setTypography", encoded(SetTypographyPayload::from(TypographySettings::defaults)));
    return requests;
}

struct LookChange {
    std::string label;
    std::vector<Request> requests;
};

// The reader's changes of look, one after the other from the opening look:
// the text one step larger at a time, back, larger at once, smaller in a
// narrower column, looser lines, a dark theme, then more contrast.
std::vector<LookChange> lookChanges() {
    std::vector<LookChange> changes;
    TypographySettings settings = TypographySettings::defaults;
    const auto typography = [&](std::string label, auto change) {
        change(settings);
        changes.push_back({std::move(label), {{"setTypography", encoded(SetTypographyPayload::from(settings))}}});
    };
    typography("16 to 17 px", [](TypographySettings& s) { s.fontSizePx = 17; });
    typography("17 to 18 px", [](TypographySettings& s) { s.fontSizePx = 18; });
    typography("18 to 16 px", [](TypographySettings& s) { s.fontSizePx = 16; });
    typography("16 to 20 px at once", [](TypographySettings& s) { s.fontSizePx = 20; });
    typography("20 to 13 px, compact width", [](TypographySettings& s) {
        s.fontSizePx = 13;
        s.widthPreset = TypographyWidthPreset::compact;
    });
    typography("loose line spacing", [](TypographySettings& s) { s.lineHeightPreset = TypographyLineHeightPreset::loose; });
    changes.push_back({"theme porcelain to graphite",
                       appearanceRequests(ThemeID::graphite, 2, AccessibilityDisplayOptions::none)});
    AccessibilityDisplayOptions contrast;
    contrast.increaseContrast = true;
    changes.push_back({"more contrast", appearanceRequests(ThemeID::graphite, 2, contrast)});
    return changes;
}

// One run's figures by name; a figure the run lacks is absent.
using Sample = std::map<std::string, double>;

struct Settings {
    int pages = 100;
    int stepMs = 50;
};

class Bench {
public:
    Bench(test::WebViewHarness& harness, const std::filesystem::path& dist,
          const std::filesystem::path& benchDist, const std::filesystem::path& peerDist, Settings settings)
        : context_(harness.context()),
          renderer_(AppResourceSchemeHandler::create(dist, std::make_shared<PooledResourceWorkers>("bench", 1))),
          baseline_(AppResourceSchemeHandler::create(benchDist, std::make_shared<PooledResourceWorkers>("bench", 1))),
          peer_(peerDist.empty() ? nullptr
                                 : AppResourceSchemeHandler::create(peerDist,
                                                                    std::make_shared<PooledResourceWorkers>("bench", 1))),
          settings_(settings) {}

    // Each measurement has a web view (and so a web process) of its own, as
    // each document of the reader has: what one document left behind in a
    // process (its memory, a collection due) never lands in another's figures.
    std::optional<Sample> run(const Job& job) {
        const bool isRenderer = job.page == "renderer" || job.page == "peer";
        test::RendererPage page(context_,
                                job.page == "peer" ? peer_
                                : isRenderer       ? renderer_
                                                   : baseline_,
                                nullptr);
        const ShownWindow shown(GTK_WIDGET(page.view()), windowWidth, windowHeight);
        const std::string url = isRenderer          ? std::string(AppResourceSchemeHandler::entryURL)
                                : job.page == "full" ? "app-resource://renderer/baseline-full.html"
                                                     : "app-resource://renderer/baseline.html";
        const test::LoadOutcome load = page.load(url);
        if (!load.finished || load.failed || !page.waitForEvent("ready")) {
            std::fprintf(stderr, "%s: the page did not load: %s\n", job.page.c_str(), load.error.c_str());
            return std::nullopt;
        }
        if (isRenderer && page.request("probe")["payload"].value("moduleWorker", false) != true) {
            std::fprintf(stderr, "renderer: the parse worker did not answer\n");
            return std::nullopt;
        }
        json payload = {{"source", job.document->text}, {"language", "en"}};
        if (!job.enhancements) {
            payload["enhancements"] = {{"highlight", false}, {"math", false}, {"diagrams", false}};
        }
        if (!job.motion.empty()) return runMotion(page, job, payload);
        if (job.section == Section::Typography) return runTypography(page, job, payload);
        const std::size_t firstEvent = page.messages().size();
        const json result = page.script(std::string(prelude) + measureRender,
                                        {{"message", page.envelope("render", payload).dump()}},
                                        std::chrono::minutes(5));
        if (result.value("type", "") != "rendered") {
            std::fprintf(stderr, "%s %s: no rendered reply: %s\n", job.page.c_str(), job.label.c_str(),
                         result.dump().substr(0, 400).c_str());
            return std::nullopt;
        }
        if (!result["degraded"].is_null()) {
            std::fprintf(stderr, "%s %s: degraded (%s)\n", job.page.c_str(), job.label.c_str(),
                         result["degraded"].get<std::string>().c_str());
        }
        if (result["size"] != json({windowWidth, windowHeight})) {
            std::fprintf(stderr, "note: the page measured %s\n", result["size"].dump().c_str());
        }
        Sample sample;
        if (result["firstScreenMs"].is_number()) sample["firstScreen"] = result["firstScreenMs"].get<double>();
        if (result["screenStillMs"].is_number()) sample["screenStill"] = result["screenStillMs"].get<double>();
        sample["reply"] = result["replyMs"].get<double>();
        sample["complete"] = result["completeMs"].get<double>();
        sample["gap"] = result["maxGapMs"].get<double>();
        sample["frames"] = result["frames"].get<double>();
        sample["gapIdle"] = result["maxGapToIdleMs"].get<double>();
        sample["gapIdleAt"] = result["maxGapToIdleAtMs"].get<double>();
        if (isRenderer) readMeter(page, firstEvent, result["timings"], sample);

        if (job.paging) {
            const json paging = page.script(std::string(prelude) + measurePaging,
                                            {{"pagesText", std::to_string(settings_.pages)},
                                             {"stepText", std::to_string(settings_.stepMs)}},
                                            std::chrono::minutes(5));
            if (!paging.contains("maxGapMs")) {
                std::fprintf(stderr, "%s: paging failed: %s\n", job.key().c_str(), paging.dump().substr(0, 400).c_str());
            } else {
                sample["pagingGap"] = paging["maxGapMs"].get<double>();
                sample["pagingSteps"] = paging["steps"].get<double>();
                sample["pagingMs"] = paging["pagingMs"].get<double>();
                sample["pagingFrames"] = paging["frames"].get<double>();
                sample["pagingOver"] = paging["over"].get<double>();
                sample["pagingMovingGap"] = paging["movingGapMs"].get<double>();
                if (paging["steps"].get<int>() > 0 && paging["top"].get<double>() <= 0) {
                    std::fprintf(stderr, "%s: the page did not scroll\n", job.key().c_str());
                }
            }
        }
        if (!job.query.empty()) {
            json keys = json::array();
            for (std::size_t length = 1; length <= job.query.size(); ++length) {
                keys.push_back(page.envelope("find", {{"query", job.query.substr(0, length)},
                                                      {"direction", "next"},
                                                      {"caseSensitive", false},
                                                      {"restart", true}})
                                   .dump());
            }
            const json find =
                isRenderer && job.typed
                    ? page.script(std::string(prelude) + measureTyping,
                                  {{"keysText", keys.dump()}, {"gapText", std::to_string(typingGapMs)}},
                                  std::chrono::minutes(10))
                : isRenderer
                    ? page.script(std::string(prelude) + measureFind,
                                  {{"message", page.envelope("find", {{"query", job.query},
                                                                      {"direction", "next"},
                                                                      {"caseSensitive", false},
                                                                      {"restart", true}})
                                                   .dump()}},
                                  std::chrono::minutes(5))
                    : page.script(std::string(prelude) + measureNaiveFind, {{"query", job.query}});
            if (find.value("type", "") != "findResult") {
                std::fprintf(stderr, "%s: no find result: %s\n", job.key().c_str(), find.dump().substr(0, 400).c_str());
                return std::nullopt;
            }
            sample["findReply"] = find["replyMs"].get<double>();
            if (find["matches"].is_number()) sample["findMatches"] = find["matches"].get<double>();
            if (find.contains("gapToReplyMs")) {
                sample["findGapToReply"] = find["gapToReplyMs"].get<double>();
                sample["findGapToSettle"] = find["gapToSettleMs"].get<double>();
                sample["findSettle"] = find["settleMs"].get<double>();
            }
            if (find.contains("marks")) sample["findMarks"] = find["marks"].get<double>();
        }
        return sample;
    }

private:
    static std::optional<Sample> runMotion(test::RendererPage& page, const Job& job, const json& payload) {
        const json result = page.script(
            std::string(prelude) + measureMotion,
            {{"message", page.envelope("render", payload).dump()},
             {"motion", job.motion},
             {"delayText", std::to_string(job.delayMs)},
             {"ratioText", std::to_string(job.ratio)},
             {"targetText", "Closing words of part 120."},
             {"headingMessage", page.envelope("scrollToHeading", {{"id", "part-120"}}).dump()}},
            std::chrono::minutes(2));
        if (result.value("type", "") != "rendered") {
            std::fprintf(stderr, "%s: %s\n", job.key().c_str(), result.dump().substr(0, 400).c_str());
            return std::nullopt;
        }
        Sample sample;
        sample["reply"] = result["replyMs"].get<double>();
        if (result.contains("typesetMs")) {
            sample["typeset"] = result["typesetMs"].is_number() ? result["typesetMs"].get<double>() : 30000.0;
            sample["gap"] = result["gapMs"].get<double>();
        }
        if (result.contains("movedPx")) {
            sample["moved"] = result["movedPx"].get<double>();
            if (result.contains("movedAtMs")) sample["movedAt"] = result["movedAtMs"].get<double>();
        }
        return sample;
    }

    static std::optional<Sample> runTypography(test::RendererPage& page, const Job& job, const json& payload) {
        const auto envelopes = [&](const std::vector<Request>& requests) {
            json list = json::array();
            for (const auto& [type, body] : requests) list.push_back(page.envelope(type, body).dump());
            return list;
        };
        json steps = json::array();
        for (const auto& change : lookChanges()) steps.push_back(envelopes(change.requests));
        const json result = page.script(std::string(prelude) + measureTypography,
                                        {{"message", page.envelope("render", payload).dump()},
                                         {"lookText", envelopes(openingLook()).dump()},
                                         {"stepsText", steps.dump()},
                                         {"section", std::to_string(job.paragraph)},
                                         {"lineText", std::to_string(readingLinePx)}},
                                        std::chrono::minutes(5));
        if (result.value("type", "") != "rendered") {
            std::fprintf(stderr, "%s: %s\n", job.key().c_str(), result.dump().substr(0, 400).c_str());
            return std::nullopt;
        }
        Sample sample;
        sample["placed"] = result["placedPx"].get<double>();
        for (std::size_t i = 0; i < result["steps"].size(); ++i) {
            const json& moved = result["steps"][i];
            if (moved.is_number()) {
                sample["step " + std::to_string(i)] = moved.get<double>();
            } else {
                std::fprintf(stderr, "%s: the paragraph was gone after change %zu\n", job.key().c_str(), i + 1);
            }
        }
        return sample;
    }

    // The page's own frame meter: the reply's, or that of an event posted
    // after it that carries one (the longest of them).
    static void readMeter(const test::RendererPage& page, std::size_t firstEvent, const json& timings, Sample& sample) {
        if (timings.is_object()) {
            sample["pageParse"] = timings.value("parseWaitMs", -1.0);
            sample["pageDom"] = timings.value("domMs", -1.0);
            sample["pageGap"] = timings.value("maxFrameGapMs", -1.0);
            sample["pageFrames"] = timings.value("frameCount", 0.0);
        }
        const auto& messages = page.messages();
        for (std::size_t i = firstEvent; i < messages.size(); ++i) {
            const json& message = messages[i];
            if (!message.is_object() || !message.contains("payload") || !message["payload"].is_object()) continue;
            const json& payload = message["payload"];
            const json* meter = payload.contains("timings") && payload["timings"].is_object() ? &payload["timings"] : &payload;
            if (meter->contains("maxFrameGapMs") && (*meter)["maxFrameGapMs"].is_number()) {
                sample["pageGap"] = std::max(sample.contains("pageGap") ? sample["pageGap"] : -1.0,
                                             (*meter)["maxFrameGapMs"].get<double>());
            }
        }
    }

    WebKitWebContext* context_;
    std::shared_ptr<AppResourceSchemeHandler> renderer_;
    std::shared_ptr<AppResourceSchemeHandler> baseline_;
    std::shared_ptr<AppResourceSchemeHandler> peer_;
    Settings settings_;
};

std::string formatMs(double value) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f ms" : "%.0f ms", value);
    return text;
}

std::string formatRatio(double a, double b) {
    if (a < 0 || b <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", a / b);
    return text;
}

// The medians of a job's runs, and the worst of each frame figure.
class Results {
public:
    void add(const std::string& key, const Sample& sample) { runs_[key].push_back(sample); }
    bool has(const std::string& key) const { return runs_.contains(key); }
    int count(const std::string& key) const { return has(key) ? static_cast<int>(runs_.at(key).size()) : 0; }
    double median(const std::string& key, const std::string& figure) const {
        if (!has(key)) return -1;
        std::vector<double> values;
        for (const auto& run : runs_.at(key)) {
            if (run.contains(figure)) values.push_back(run.at(figure));
        }
        return bench::median(values);
    }
    double worst(const std::string& key, const std::string& figure) const {
        double value = -1;
        if (!has(key)) return value;
        for (const auto& run : runs_.at(key)) {
            if (run.contains(figure)) value = std::max(value, run.at(figure));
        }
        return value;
    }

private:
    std::map<std::string, std::vector<Sample>> runs_;
};

// A table of `rows` rows × 5 columns, a cell of each row "needleN" (the
// find strip's typed query "needle1" has 1 + 10 + 100 + ... of them, every
// row holds "ne"): about 70 bytes a row.
std::string findTable(int rows) {
    std::string out = "# A table to search\n\n| row | name | key | note | value |\n|---|---|---|---|--:|\n";
    const char* notes[] = {"settles", "green", "quiet", "river", "lantern", "mosaic"};
    for (int row = 1; row <= rows; ++row) {
        out += "| row " + std::to_string(row) + " | item " + std::to_string(row * 7 % 1000) + " | needle" +
               std::to_string(row) + " | " + notes[row % 6] + " " + notes[(row / 6) % 6] + " | " +
               std::to_string(row * 313 % 99991) + " |\n";
    }
    return out;
}

void goal(bool met, const std::string& text) { std::printf("  [%s] %s\n", met ? "met" : "MISSED", text.c_str()); }

void printRender(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nRender: request to the last change (\"plain\": no highlighting, math or diagrams)\n\n");
    std::printf("%-24s %12s %12s %10s %10s %11s %9s %11s %9s %7s %7s   %s\n", "page / document", "first screen",
                "screen still", "reply", "complete", "longest fr.", "(worst)", "page meter", "(worst)", "meter/",
                "frames", "page's parse wait, DOM");
    std::printf("%-24s %12s %12s %10s %10s %11s %9s %11s %9s %7s\n", "", "", "", "", "", "outside", "", "", "",
                "outside");
    for (const auto& job : jobs) {
        if (job.section != Section::Render) continue;
        const std::string key = job.key();
        if (!results.has(key)) {
            std::printf("%-24s failed\n", key.c_str());
            continue;
        }
        const double gap = results.median(key, "gap");
        const double meter = results.median(key, "pageGap");
        std::printf("%-24s %12s %12s %10s %10s %11s %9s %11s %9s %7s %7.0f", key.c_str(),
                    formatMs(results.median(key, "firstScreen")).c_str(),
                    formatMs(results.median(key, "screenStill")).c_str(), formatMs(results.median(key, "reply")).c_str(),
                    formatMs(results.median(key, "complete")).c_str(), formatMs(gap).c_str(),
                    formatMs(results.worst(key, "gap")).c_str(), formatMs(meter).c_str(),
                    formatMs(results.worst(key, "pageGap")).c_str(), formatRatio(meter, gap).c_str(),
                    results.median(key, "frames"));
        if (job.page == "renderer") {
            std::printf("   %s, %s", formatMs(results.median(key, "pageParse")).c_str(),
                        formatMs(results.median(key, "pageDom")).c_str());
        }
        std::printf("\n");
    }

    std::printf("\nThe same loop of frames, run on for 2 s after the last change (median / worst; where the longest "
                "fell, from the request)\n\n");
    for (const auto& job : jobs) {
        if (job.section != Section::Render || !results.has(job.key())) continue;
        const std::string key = job.key();
        std::printf("%-24s %10s / %-10s at %s\n", key.c_str(), formatMs(results.median(key, "gapIdle")).c_str(),
                    formatMs(results.worst(key, "gapIdle")).c_str(), formatMs(results.median(key, "gapIdleAt")).c_str());
    }

    std::printf("\nRender goals (ratios within this run)\n");
    for (const auto& [label, limit] : std::vector<std::pair<std::string, double>>{
             {"100 KiB", 50}, {"1 MiB", 50}, {"5 MiB", 100}}) {
        for (const std::string variant : {"", " plain"}) {
            const std::string key = "renderer " + label + variant;
            if (!results.has(key)) continue;
            const double worst = results.worst(key, "gap");
            const double meter = results.worst(key, "pageGap");
            goal(worst >= 0 && worst <= limit,
                 key + ": longest frame to the last change " + formatMs(worst) + " (worst run; page meter " +
                     formatMs(meter) + ") within " + formatMs(limit) + ": " + formatRatio(worst, limit) +
                     " of the limit, " + formatRatio(worst, results.worst("baseline " + label, "gap")) +
                     " of the plain baseline's");
        }
    }
    for (const std::string label : {"1 MiB", "5 MiB"}) {
        const std::string key = "renderer " + label;
        const std::string plain = "baseline " + label;
        if (!results.has(key) || !results.has(plain)) continue;
        const double first = results.median(key, "firstScreen");
        const double complete = results.median(plain, "complete");
        goal(first >= 0 && first * 20 <= complete,
             label + ": first screen (" + formatMs(first) + ") at least 20× sooner than the plain baseline's complete (" +
                 formatMs(complete) + "): " + formatRatio(first, complete) + " (goal 0.05 or less)");
    }
    if (results.has("renderer 1 MiB") && results.has("baseline 1 MiB")) {
        const double reply = results.median("renderer 1 MiB", "reply");
        const double complete = results.median("baseline 1 MiB", "complete");
        goal(reply <= complete, "1 MiB: \"rendered\" (" + formatMs(reply) + ") no later than the plain baseline's complete (" +
                                    formatMs(complete) + "): " + formatRatio(reply, complete));
    }
    if (results.has("renderer 1 MiB") && results.has("full 1 MiB")) {
        const double complete = results.median("renderer 1 MiB", "complete");
        const double full = results.median("full 1 MiB", "complete");
        goal(complete <= 0.5 * full, "1 MiB: complete (" + formatMs(complete) + ") within 0.5× the full baseline's (" +
                                         formatMs(full) + "): " + formatRatio(complete, full));
    }
    for (const std::string label : {"1 MiB", "5 MiB"}) {
        const std::string key = "renderer " + label + " plain";
        const std::string plain = "baseline " + label;
        if (!results.has(key) || !results.has(plain)) continue;
        const double complete = results.median(key, "complete");
        const double peer = results.median(plain, "complete");
        goal(complete <= 0.8 * peer, label + " plain: complete (" + formatMs(complete) +
                                         ") within 0.8× the plain baseline's (" + formatMs(peer) + "): " +
                                         formatRatio(complete, peer));
    }
}

void printPaging(const std::vector<Job>& jobs, const Results& results, const Settings& settings) {
    std::printf("\nPaging: a screen %s from the top, %s, until the content held still\n\n",
                settings.stepMs > 0 ? ("every " + std::to_string(settings.stepMs) + " ms").c_str() : "each frame",
                settings.pages > 0 ? ("up to " + std::to_string(settings.pages) + " screens").c_str() : "to the end");
    std::printf("%-24s %7s %10s %12s %9s %7s %9s %12s\n", "page / document", "screens", "paging", "longest fr.",
                "(worst)", "frames", "> 50 ms", "worst / plain");
    std::printf("%-24s %7s %10s %12s %9s %7s %9s %12s\n", "", "", "", "outside", "", "", "", "baseline's");
    for (const auto& job : jobs) {
        if (job.section != Section::Render || !job.paging) continue;
        const std::string key = job.key();
        if (!results.has(key) || results.median(key, "pagingGap") < 0) {
            std::printf("%-24s failed\n", key.c_str());
            continue;
        }
        const double worst = results.worst(key, "pagingGap");
        std::printf("%-24s %7.0f %10s %12s %9s %7.0f %9.0f %12s\n", key.c_str(), results.median(key, "pagingSteps"),
                    formatMs(results.median(key, "pagingMs")).c_str(), formatMs(results.median(key, "pagingGap")).c_str(),
                    formatMs(worst).c_str(), results.median(key, "pagingFrames"), results.median(key, "pagingOver"),
                    formatRatio(worst, results.worst("baseline " + job.label.substr(0, job.label.find(" plain")), "pagingGap")).c_str());
    }
    std::printf("\nPaging goals (ratios within this run)\n");
    for (const auto& [label, limit] : std::vector<std::pair<std::string, double>>{
             {"100 KiB", 50}, {"1 MiB", 50}, {"5 MiB", 100}}) {
        const std::string key = "renderer " + label;
        if (!results.has(key) || results.worst(key, "pagingGap") < 0) continue;
        const double worst = results.worst(key, "pagingGap");
        goal(worst <= limit, key + ": longest frame while paging " + formatMs(worst) + " (worst run) within " +
                                 formatMs(limit) + ": " + formatRatio(worst, limit) + " of the limit, " +
                                 formatRatio(worst, results.worst("renderer " + label + " plain", "pagingGap")) +
                                 " of the page's without enhancements, " +
                                 formatRatio(worst, results.worst("baseline " + label, "pagingGap")) +
                                 " of the plain baseline's");
    }
}

// Pages of code, display math and inline math, each with and without
// enhancements: the render, then paging through to the end.
void printPages(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nPaging through math and code: a screen every step from the top to the end, until the content "
                "held still\n\n");
    std::printf("%-30s %12s %10s %10s %7s %12s %9s %9s %10s\n", "page / document", "first screen", "complete", "longest fr.",
                "screens", "paging fr.", "(worst)", "> 50 ms", "moving fr.");
    for (const auto& job : jobs) {
        if (job.section != Section::Pages) continue;
        const std::string key = job.key();
        if (!results.has(key)) {
            std::printf("%-30s failed\n", key.c_str());
            continue;
        }
        std::printf("%-30s %12s %10s %10s %7.0f %12s %9s %9.0f %10s\n", key.c_str(),
                    formatMs(results.median(key, "firstScreen")).c_str(),
                    formatMs(results.median(key, "complete")).c_str(), formatMs(results.worst(key, "gap")).c_str(),
                    results.median(key, "pagingSteps"), formatMs(results.median(key, "pagingGap")).c_str(),
                    formatMs(results.worst(key, "pagingGap")).c_str(), results.median(key, "pagingOver"),
                    formatMs(results.median(key, "pagingMovingGap")).c_str());
    }
    std::printf("\nPaging goals (ratios within this run)\n");
    for (const auto& job : jobs) {
        if (job.section != Section::Pages || !job.enhancements) continue;
        const std::string key = job.key();
        const std::string plain = key + " plain";
        if (!results.has(key) || !results.has(plain)) continue;
        const double ours = results.median(key, "pagingGap");
        const double peer = results.median(plain, "pagingGap");
        goal(ours >= 0 && peer > 0 && ours <= 1.5 * peer,
             key + ": longest frame while paging " + formatMs(ours) + " (worst run " +
                 formatMs(results.worst(key, "pagingGap")) + ") at most 1.5× the same without enhancements (" +
                 formatMs(peer) + "): " + formatRatio(ours, peer) + " (worst runs " +
                 formatRatio(results.worst(key, "pagingGap"), results.worst(plain, "pagingGap")) + ")");
    }
}

void printFind(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nFind: the first search after the render held still\n\n");
    std::printf("%-30s %9s %10s %13s %9s %13s %10s %8s %13s %10s\n", "page / document", "query", "reply",
                "longest fr.", "(worst)", "longest fr.", "settled", "matches", "floor: naive", "reply /");
    std::printf("%-30s %9s %10s %13s %9s %13s %10s %8s %13s %10s\n", "", "", "", "to the reply", "",
                "to settled", "", "", "search", "floor");
    for (const auto& job : jobs) {
        if (job.section != Section::Find || (job.page != "renderer" && job.page != "peer")) continue;
        const std::string key = job.key();
        if (!results.has(key)) {
            std::printf("%-30s failed\n", key.c_str());
            continue;
        }
        const std::string floorKey = "baseline " + job.label.substr(0, job.label.find(" plain"));
        const double reply = results.median(key, "findReply");
        const double floor = results.median(floorKey, "findReply");
        std::printf("%-30s %9s %10s %13s %9s %13s %10s %8.0f %13s %10s\n", key.c_str(), job.query.c_str(),
                    formatMs(reply).c_str(), formatMs(results.median(key, "findGapToReply")).c_str(),
                    formatMs(results.worst(key, "findGapToReply")).c_str(),
                    formatMs(results.median(key, "findGapToSettle")).c_str(),
                    formatMs(results.median(key, "findSettle")).c_str(), results.median(key, "findMatches"),
                    (formatMs(floor) + " (" + std::to_string(static_cast<int>(results.median(floorKey, "findMatches"))) + ")").c_str(),
                    formatRatio(reply, floor).c_str());
    }
    for (const auto& job : jobs) {
        if (job.section != Section::Find || (job.page != "renderer" && job.page != "peer") || !job.typed ||
            !results.has(job.key()))
            continue;
        std::printf("%s: \"%s\" typed a key every %d ms; the reply is the last key's, from that key; marks in the page "
                    "once still: %.0f; longest frame from the first key until still %s (worst %s)\n",
                    job.key().c_str(), job.query.c_str(), typingGapMs, results.median(job.key(), "findMarks"),
                    formatMs(results.median(job.key(), "findGapToSettle")).c_str(),
                    formatMs(results.worst(job.key(), "findGapToSettle")).c_str());
    }
    std::printf("\nFind goals (ratios within this run)\n");
    for (const auto& job : jobs) {
        if (job.section != Section::Find || job.page != "renderer" || !job.enhancements) continue;
        const std::string key = job.key();
        if (!results.has(key)) continue;
        const double reply = results.median(key, "findReply");
        const double worst = results.worst(key, "findGapToReply");
        if (job.typed) {
            const double limit = job.document->label.find("20,000") != std::string::npos ? 1000 : 100;
            const double frames = results.worst(key, "findGapToSettle");
            goal(reply >= 0 && reply <= limit, key + ": the last key's answer " + formatMs(reply) + " within " +
                                                   formatMs(limit) + ": " + formatRatio(reply, limit) + " of the limit");
            goal(frames >= 0 && frames <= 250, key + ": no frame over 250 ms from the first key until still (worst run: " +
                                                   formatMs(frames) + "): " + formatRatio(frames, 250) + " of the limit");
            continue;
        }
        goal(reply >= 0 && reply <= 100, key + ": first find's reply " + formatMs(reply) + " within 100 ms: " +
                                             formatRatio(reply, 100) + " of the limit");
        goal(worst >= 0 && worst <= 50, key + ": no frame over 50 ms to the reply shown (worst run: " + formatMs(worst) +
                                            "): " + formatRatio(worst, 50) + " of the limit");
    }
}

void printTable(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nTable of 5,000 rows × 12 columns\n\n");
    std::printf("%-24s %12s %12s %10s %10s %11s %9s %11s %9s\n", "page / document", "first screen", "screen still",
                "reply", "complete", "longest fr.", "(worst)", "page meter", "(worst)");
    std::printf("%-24s %12s %12s %10s %10s %11s\n", "", "", "", "", "", "outside");
    for (const auto& job : jobs) {
        if (job.section != Section::Table) continue;
        const std::string key = job.key();
        if (!results.has(key)) {
            std::printf("%-24s failed\n", key.c_str());
            continue;
        }
        std::printf("%-24s %12s %12s %10s %10s %11s %9s %11s %9s\n", key.c_str(),
                    formatMs(results.median(key, "firstScreen")).c_str(),
                    formatMs(results.median(key, "screenStill")).c_str(), formatMs(results.median(key, "reply")).c_str(),
                    formatMs(results.median(key, "complete")).c_str(), formatMs(results.median(key, "gap")).c_str(),
                    formatMs(results.worst(key, "gap")).c_str(), formatMs(results.median(key, "pageGap")).c_str(),
                    formatMs(results.worst(key, "pageGap")).c_str());
    }
    const std::string ours = "renderer table";
    const std::string plain = "baseline table";
    if (results.has("peer table") && results.has(plain)) {
        std::printf("\nPeer: complete %s, %s of the plain baseline's; longest frame, worst run, %s\n",
                    formatMs(results.median("peer table", "complete")).c_str(),
                    formatRatio(results.median("peer table", "complete"), results.median(plain, "complete")).c_str(),
                    formatMs(results.worst("peer table", "gap")).c_str());
    }
    if (results.has(ours) && results.has(plain)) {
        std::printf("\nTable goals (ratios within this run)\n");
        const double first = results.median(ours, "firstScreen");
        const double complete = results.median(plain, "complete");
        goal(first >= 0 && first < complete, "table: first screen (" + formatMs(first) +
                                                 ") sooner than the plain baseline's complete (" + formatMs(complete) +
                                                 "): " + formatRatio(first, complete) + " (goal under 1)");
        const double ourComplete = results.median(ours, "complete");
        goal(ourComplete >= 0 && ourComplete <= 2 * complete,
             "table: complete (" + formatMs(ourComplete) + ") within 2× the plain baseline's complete (" +
                 formatMs(complete) + "): " + formatRatio(ourComplete, complete) + " (goal 2 or less)");
        const double worst = results.worst(ours, "gap");
        goal(worst >= 0 && worst <= 250, "table: longest frame to the last change " + formatMs(worst) +
                                             " (worst run; page meter " + formatMs(results.worst(ours, "pageGap")) +
                                             ") within 250 ms: " + formatRatio(worst, 250) + " of the limit, " +
                                             formatRatio(worst, results.worst(plain, "gap")) +
                                             " of the plain baseline's");
    }
}

void printMotion(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nThe reader moves right after the reply, then holds still\n\n");
    std::printf("%-44s %10s %16s %9s %12s %9s\n", "page / document", "reply", "typeset on screen", "(worst)",
                "longest fr.", "moved");
    std::printf("%-44s %10s %16s %9s %12s %9s\n", "", "", "after the stop", "", "until then", "(worst)");
    for (const auto& job : jobs) {
        if (job.section != Section::Motion) continue;
        const std::string key = job.key();
        if (!results.has(key)) {
            std::printf("%-44s failed\n", key.c_str());
            continue;
        }
        const bool typesetting = job.motion == "scroll" || job.motion == "jump";
        const bool followed = job.motion != "scroll";
        std::printf("%-44s %10s %16s %9s %12s %9s\n", key.c_str(), formatMs(results.median(key, "reply")).c_str(),
                    typesetting ? formatMs(results.median(key, "typeset")).c_str() : "",
                    typesetting ? formatMs(results.worst(key, "typeset")).c_str() : "",
                    typesetting ? formatMs(results.worst(key, "gap")).c_str() : "",
                    followed ? (std::to_string(static_cast<int>(results.worst(key, "moved") + 0.5)) + " px").c_str() : "");
    }
    std::printf("\nGoals (ratios within this run)\n");
    for (const auto& job : jobs) {
        if (job.section != Section::Motion) continue;
        const std::string key = job.key();
        if (!results.has(key)) continue;
        if (job.motion == "scroll" || job.motion == "jump") {
            const double worst = results.worst(key, "typeset");
            goal(worst <= 500, key + ": formulas on screen typeset " + formatMs(worst) +
                                   " (worst run) after the stop, within 500 ms: " + formatRatio(worst, 500) +
                                   " of the limit");
        }
        if (job.motion == "jump") {
            const double worst = results.worst(key, "moved");
            goal(worst <= 2, key + ": the text at the top of the screen moved " + std::to_string(worst) +
                                 " px (worst run) after the jump, at most 2 px");
        } else if (job.motion != "scroll") {
            const double worst = results.worst(key, "moved");
            goal(worst <= 2, key + ": the reading line moved " + std::to_string(worst) +
                                 " px (worst run) while formulas above it were typeset, at most 2 px");
        }
    }
}

std::string formatPx(double value) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f px", value);
    return text;
}

void printTypography(const std::vector<Job>& jobs, const Results& results) {
    std::printf("\nThe reading line through changes of look: how far the paragraph held there (%.0f px from the top) "
                "moved, the worst at any frame until the content held still (worst run)\n\n",
                readingLinePx);
    const auto changes = lookChanges();
    std::vector<int> paragraphs;
    for (const auto& job : jobs) {
        if (job.section == Section::Typography && std::find(paragraphs.begin(), paragraphs.end(), job.paragraph) == paragraphs.end()) {
            paragraphs.push_back(job.paragraph);
        }
    }
    const auto key = [](const std::string& page, int paragraph) {
        return page + " paragraph " + std::to_string(paragraph);
    };
    std::printf("%-36s %10s %10s %10s\n", "paragraph / change", "ours", "peer", "naive");
    for (const int paragraph : paragraphs) {
        std::printf("paragraph one of section %d\n", paragraph);
        std::printf("  %-34s %10s %10s %10s\n", "placed at the line",
                    formatPx(results.worst(key("renderer", paragraph), "placed")).c_str(),
                    formatPx(results.worst(key("peer", paragraph), "placed")).c_str(),
                    formatPx(results.worst(key("baseline", paragraph), "placed")).c_str());
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const std::string figure = "step " + std::to_string(i);
            std::printf("  %-34s %10s %10s %10s\n", changes[i].label.c_str(),
                        formatPx(results.worst(key("renderer", paragraph), figure)).c_str(),
                        formatPx(results.worst(key("peer", paragraph), figure)).c_str(),
                        formatPx(results.worst(key("baseline", paragraph), figure)).c_str());
        }
    }
    std::printf("\nGoals (ratios within this run)\n");
    for (const int paragraph : paragraphs) {
        const std::string ours = key("renderer", paragraph);
        if (!results.has(ours)) continue;
        double worst = -1;
        std::string at = "-";
        bool complete = true;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const double moved = results.worst(ours, "step " + std::to_string(i));
            if (moved < 0) complete = false;
            if (moved > worst) {
                worst = moved;
                at = changes[i].label;
            }
        }
        goal(complete && worst <= 2, "paragraph " + std::to_string(paragraph) + ": the text at the reading line moved " +
                                         formatPx(worst) + " (worst run, after " + at + ") through " +
                                         std::to_string(changes.size()) + " changes of look, within 2 px: " +
                                         formatRatio(worst, 2) + " of the limit");
    }
}

}  // namespace
}  // namespace larkspin::bench

int main(int argc, char** argv) {
    using namespace larkspin;
    using namespace larkspin::bench;
    const auto [repeat, only] = readOptions(argc, argv, 3);
    Settings settings;
    std::filesystem::path peerDist;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--pages") == 0) settings.pages = std::max(0, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--step-ms") == 0) settings.stepMs = std::max(0, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--peer") == 0) peerDist = argv[i + 1];
    }
    if (!peerDist.empty() && !std::filesystem::exists(peerDist / "index.html")) {
        std::fprintf(stderr, "%s holds no reading page (index.html)\n", peerDist.c_str());
        return 1;
    }
    const auto dist = startOnDisplay("renderer");
    if (!dist) return 2;
    const auto benchDist = dist->parent_path() / "dist-bench";
    if (!std::filesystem::exists(benchDist / "baseline.html")) {
        std::fprintf(stderr, "%s lacks baseline.html: run scripts/build-renderer.sh\n", benchDist.c_str());
        return 1;
    }

    const std::vector<Document> documents{
        {"100 KiB", generatedDocument(100 * 1024)},
        {"1 MiB", generatedDocument(1024 * 1024)},
        {"5 MiB", generatedDocument(5 * 1024 * 1024)},
    };
    const Document sections{"200 sections", mathSections(200)};
    const Document table{"table", generatedTable(5000, 12)};
    const Document findTable4k{"table 4,000 rows", findTable(4000)};
    const Document findTable20k{"table 20,000 rows", findTable(20000)};
    const std::vector<Document> pagesToPage{
        {"code page", codeSections(150)},
        {"display math", displayFormulas(400)},
        {"inline math", inlineFormulaParagraphs(300, 12)},
    };

    const Document inlineMath{"inline math", inlineFormulaParagraphs(300, 12)};
    const Document manySections{"1,200 sections", mathSections(1200)};
    const Document manyDisplays{"400 display formulas", displayFormulas(400)};
    const Document parts{"200 parts", mathParts(200)};
    const Document prose{"600 sections", proseSections(600)};

    const bool sectionOnly = only == "render" || only == "paging" || only == "find" || only == "table" ||
                             only == "pages" || only == "motion" || only == "typography";
    std::vector<Job> jobs;
    for (const auto& document : documents) {
        for (const bool enhancements : {true, false}) {
            jobs.push_back({Section::Render, "renderer", document.label + (enhancements ? "" : " plain"), &document,
                            enhancements, true});
        }
        jobs.push_back({Section::Render, "baseline", document.label, &document, false, true});
        if (document.label != "5 MiB") jobs.push_back({Section::Render, "full", document.label, &document, true, true});
    }
    for (const Document* document : {&documents[1], &documents[2], &sections}) {
        const std::string query = document == &sections ? "Section" : "settles";
        jobs.push_back({Section::Find, "renderer", document->label, document, true, false, query});
        if (document == &sections) {
            jobs.push_back({Section::Find, "renderer", document->label + " plain", document, false, false, query});
        }
        jobs.push_back({Section::Find, "baseline", document->label, document, false, false, query});
    }
    for (const Document* document : {&findTable4k, &findTable20k}) {
        jobs.push_back({Section::Find, "renderer", document->label + ", typed", document, true, false, "needle1", {}, 0, true});
        jobs.push_back({Section::Find, "baseline", document->label + ", typed", document, false, false, "needle1"});
    }
    jobs.push_back({Section::Table, "renderer", table.label, &table, true});
    jobs.push_back({Section::Table, "baseline", table.label, &table, false});
    for (const auto& document : pagesToPage) {
        for (const bool enhancements : {true, false}) {
            jobs.push_back({Section::Pages, "renderer", document.label + (enhancements ? "" : " plain"), &document,
                            enhancements, true});
        }
        // The naive page with everything typeset and coloured in one pass.
        jobs.push_back({Section::Pages, "full", document.label, &document, true, true});
    }

    for (const Document* document : {&inlineMath, &manySections, &manyDisplays}) {
        jobs.push_back({Section::Motion, "renderer", document->label + ", scrolled to the middle", document, true,
                        false, {}, "scroll"});
    }
    jobs.push_back({Section::Motion, "renderer", "inline math, a jump 0.2 s after the reply", &inlineMath, true, false,
                    {}, "jump", 200});
    for (const int percent : {90, 97}) {
        jobs.push_back({Section::Motion, "renderer",
                        "inline math, a jump to " + std::to_string(percent) + " % 0.2 s after the reply", &inlineMath,
                        true, false, {}, "jump", 200, false, percent / 100.0});
    }
    jobs.push_back({Section::Motion, "renderer", "200 parts, a place held at the top", &parts, true, false, {}, "place"});
    jobs.push_back({Section::Motion, "renderer", "200 parts, a heading from the outline", &parts, true, false, {},
                    "heading"});
    for (const int paragraph : {30, 300, 550}) {
        for (const char* page : {"renderer", "baseline"}) {
            Job job{Section::Typography, page, "paragraph " + std::to_string(paragraph), &prose, true};
            job.paragraph = paragraph;
            jobs.push_back(job);
        }
    }

    const auto sectionName = [](Section section) {
        return section == Section::Render   ? "render"
               : section == Section::Find   ? "find"
               : section == Section::Table  ? "table"
               : section == Section::Pages  ? "pages"
               : section == Section::Motion ? "motion"
                                            : "typography";
    };
    std::erase_if(jobs, [&](const Job& job) {
        if (!sectionOnly) return job.key().find(only) == std::string::npos;
        if (only == "paging") return job.section != Section::Render;
        return sectionName(job.section) != only;
    });
    if (only == "render") {
        for (auto& job : jobs) job.paging = false;
    }
    if (!peerDist.empty()) {
        std::vector<Job> withPeer;
        for (const auto& job : jobs) {
            withPeer.push_back(job);
            if (job.page != "renderer") continue;
            withPeer.push_back(job);
            withPeer.back().page = "peer";
        }
        jobs = std::move(withPeer);
    }

    test::WebViewHarness harness;
    Bench bench(harness, *dist, benchDist, peerDist, settings);
    // Results are kept by section, since the find and table runs render
    // under the same names as the render runs.
    std::map<Section, Results> results;
    for (int round = 0; round < repeat; ++round) {
        for (const auto& job : jobs) {
            std::fprintf(stderr, "round %d/%d: %s %s\n", round + 1, repeat, sectionName(job.section), job.key().c_str());
            if (auto sample = bench.run(job)) results[job.section].add(job.key(), *sample);
        }
    }

    std::printf("\n%d×%d WebKitGTK view, medians of %d runs; documents of %zu, %zu and %zu bytes, the table %zu, "
                "the sections %zu\n",
                windowWidth, windowHeight, repeat, documents[0].text.size(), documents[1].text.size(),
                documents[2].text.size(), table.text.size(), sections.text.size());
    const auto present = [&](Section section) {
        return std::any_of(jobs.begin(), jobs.end(), [&](const Job& job) { return job.section == section; });
    };
    if (present(Section::Render)) printRender(jobs, results[Section::Render]);
    if (present(Section::Render) && std::any_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.paging; })) {
        printPaging(jobs, results[Section::Render], settings);
    }
    if (present(Section::Find)) printFind(jobs, results[Section::Find]);
    if (present(Section::Table)) printTable(jobs, results[Section::Table]);
    if (present(Section::Pages)) printPages(jobs, results[Section::Pages]);
    if (present(Section::Motion)) printMotion(jobs, results[Section::Motion]);
    if (present(Section::Typography)) printTypography(jobs, results[Section::Typography]);
    return 0;
}
