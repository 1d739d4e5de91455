#pragma once

#include <cstddef>
#include <string>

namespace larkspin::bench {

// A Markdown document of at least `bytes` bytes that reads like technical
// writing: sections with headings, paragraphs with inline markup, links and
// inline math, nested lists, tables, fenced code in several languages,
// display math and block quotes. The same size always gives the same text;
// no two formulas or code blocks repeat, so caches do not flatter a parser.
std::string generatedDocument(std::size_t bytes);

// One table of `rows` rows and `columns` columns (a row number, words and
// right-aligned numbers), under a heading: 5,000 × 12 is about 600 KB.
std::string generatedTable(int rows, int columns);

// `sections` sections of a heading ("## Section N"), a paragraph with two
// inline formulas and a display formula: a short document that is mostly
// math.
std::string mathSections(int sections);

// `sections` sections under one title: a heading ("## Section N"), a
// paragraph of two or three lines ("Paragraph one of section N: ...") and a
// shorter one with emphasis ("Paragraph two of section N ...").
std::string proseSections(int sections);

// `parts` parts of a heading ("## Part N"), a paragraph with an inline
// formula, a display formula (a sum and a fraction) and a closing paragraph
// ("Closing words of part N.").
std::string mathParts(int parts);

// Pages for paging through math and code: `sections` sections of a heading,
// a sentence and a 12-line JavaScript block; `formulas` display formulas
// (sums, fractions, matrices, limits); `paragraphs` paragraphs of words with
// `perParagraph` inline formulas each. No formula or block repeats.
std::string codeSections(int sections);
std::string displayFormulas(int formulas);
std::string inlineFormulaParagraphs(int paragraphs, int perParagraph);

}  // namespace larkspin::bench
