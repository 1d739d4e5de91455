// The page's own texts, in the two languages the reader asks for.

const TEXTS = {
    en: {
        copy: 'Copy',
        diagramPending: 'Rendering diagram…',
        diagramFailed: 'The diagram could not be rendered',
        parseTimeout: 'The document took too long to lay out, so it is shown as plain text.',
        parseFailed: 'The document could not be laid out, so it is shown as plain text.',
        imageNotAllowed: 'Image address not allowed',
        imageUnavailable: 'Image not shown: missing, unreadable, too large or not a supported format',
        imageNotLoaded: 'Image could not be loaded',
    },
    'zh-Hans': {
        copy: '复制',
        diagramPending: '正在渲染图表…',
        diagramFailed: '图表无法渲染',
        parseTimeout: '文档排版耗时过长，已按纯文本显示。',
        parseFailed: '文档无法排版，已按纯文本显示。',
        imageNotAllowed: '图片地址不受支持',
        imageUnavailable: '图片无法显示：文件缺失、无法读取、过大或格式不受支持',
        imageNotLoaded: '图片无法加载',
    },
};

/** @typedef {typeof TEXTS.en} Texts */

/**
 * @param {string} [language]  the other texts are Chinese
 * @returns {Texts}

 */
export function textsFor(language) {
    return language === 'en' || language === 'zh-Hans' ? TEXTS[language] : TEXTS['zh-Hans'];
}
