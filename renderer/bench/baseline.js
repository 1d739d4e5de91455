// The naive page that bench/render measures the renderer page against:
// markdown-it over the whole text and one innerHTML assignment, without
// highlighting or math.

import MarkdownIt from 'markdown-it';
import { answer, announce } from './baseline-protocol.js';

const md = new MarkdownIt('default', { html: true, linkify: true });

answer((source) => md.render(source));
announce();
