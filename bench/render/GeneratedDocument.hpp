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

}  // namespace larkspin::bench
