// @ts-check
// Yielding between slices of work. A visible page yields to the next frame;
// a hidden one (no frames come) yields through a MessageChannel, which is not
// throttled the way nested timers are.

/** @param {Window & typeof globalThis} win */
export function createScheduler(win) {
    const Channel = win.MessageChannel ?? globalThis.MessageChannel;
    /** @type {MessageChannel | null} */
    let channel = null;
    /** @type {(() => void)[]} */
    const waiting = [];

    function port() {
        if (!channel && Channel) {
            channel = new Channel();
            channel.port1.onmessage = () => {
                const resolve = waiting.shift();
                if (resolve) resolve();
            };
        }
        return channel;
    }

    // Resolves soon, without waiting for a frame or a timer.
    function yieldTask() {
        return new Promise((resolve) => {
            const c = port();
            if (c) {
                waiting.push(() => resolve(undefined));
                c.port2.postMessage(0);
            } else {
                win.setTimeout(resolve, 0);
            }
        });
    }

    // Resolves at the next animation frame with its time stamp; if no frame
    // comes within 250 ms (the page was hidden meanwhile), resolves with null.
    function nextFrame() {
        if (typeof win.requestAnimationFrame !== 'function') return yieldTask().then(() => null);
        return new Promise((resolve) => {
            let done = false;
            const timer = win.setTimeout(() => {
                if (done) return;
                done = true;
                resolve(null);
            }, 250);
            win.requestAnimationFrame((stamp) => {
                if (done) return;
                done = true;
                win.clearTimeout(timer);
                resolve(stamp);
            });
        });
    }

    // Counts frames and the longest gap between two of them while running.
    // The time from the start to the first frame, and from the last frame
    // to the stop, are gaps too: a long task (a parse's result received, a
    // layout forced) holds back the next frame, and a frame that has not
    // come yet when the meter stops is still a frame the reader waits for.
    // stop(false) leaves out the time since the last frame (the page was
    // hidden meanwhile, and no frames came).
    function frameMeter() {
        const clock = () => (win.performance ?? globalThis.performance).now();
        let running = typeof win.requestAnimationFrame === 'function';
        let last = clock();
        let count = 0;
        let maxGap = 0;
        /** @param {number} stamp */
        const tick = (stamp) => {
            if (!running) return;
            if (stamp > last) {
                maxGap = Math.max(maxGap, stamp - last);
                last = stamp;
            }
            count += 1;
            win.requestAnimationFrame(tick);
        };
        if (running) win.requestAnimationFrame(tick);
        return {
            // Whether frames come here at all.
            get framed() {
                return typeof win.requestAnimationFrame === 'function';
            },
            /** @param {boolean} [withTail] */
            stop(withTail = true) {
                if (running && withTail) maxGap = Math.max(maxGap, clock() - last);
                running = false;
                return { frameCount: count, maxFrameGapMs: maxGap };
            },
        };
    }

    function dispose() {
        if (channel) {
            channel.port1.onmessage = null;
            channel.port1.close();
            channel.port2.close();
            channel = null;
        }
        for (const resolve of waiting.splice(0)) resolve();
    }

    return { yieldTask, nextFrame, frameMeter, dispose };
}
