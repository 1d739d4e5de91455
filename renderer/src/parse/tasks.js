// GitHub task lists: a list item whose text starts with "[ ] " or "[x] "
// shows a disabled check box instead of the brackets.

const MARKER = /^\[([ xX])\](?=\s|$)/;

/** @param {import('markdown-it').StateCore} state */
function findTasks(state) {
    const tokens = state.tokens;
    /** @type {import('markdown-it').Token[]} */
    const lists = [];
    for (let i = 0; i < tokens.length; i++) {
        const token = tokens[i];
        if (token.type === 'bullet_list_open' || token.type === 'ordered_list_open') {
            lists.push(token);
            continue;
        }
        if (token.type === 'bullet_list_close' || token.type === 'ordered_list_close') {
            lists.pop();
            continue;
        }
        if (token.type !== 'inline' || i < 2 || tokens[i - 1].type !== 'paragraph_open'
            || tokens[i - 2].type !== 'list_item_open') continue;
        const children = token.children;
        const first = children?.[0];
        if (!children || !first || first.type !== 'text') continue;
        const match = MARKER.exec(first.content);
        if (!match) continue;
        first.content = first.content.slice(3).replace(/^\s/, '');
        const box = new state.Token('task_checkbox', '', 0);
        box.meta = { checked: match[1] !== ' ' };
        children.unshift(box);

        tokens[i - 2].attrSet('data-task', box.meta.checked ? 'done' : 'open');
        if (lists.length > 0) lists[lists.length - 1].attrSet('data-tasks', '');
    }
}

/** @param {import('markdown-it').MarkdownIt} md */
export default function taskListPlugin(md) {

    md.core.ruler.after('inline', 'task_lists', findTasks);
}
