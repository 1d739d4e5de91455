#include "GeneratedDocument.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace larkspin::bench {

namespace {

constexpr std::array<std::string_view, 24> words{
    "renderer", "document",  "paragraph", "latency", "frame",    "layout",   "worker", "budget",
    "heading",  "anchor",    "scroll",    "theme",   "pipeline", "parser",   "block",  "insert",
    "measure",  "threshold", "reader",    "window",  "markdown", "sanitise", "chunk",  "visible"};

// A small deterministic generator (xorshift), so that every run reads the
// same text.
class Words {
public:
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::string_view word() { return words[next() % words.size()]; }
    std::string sentence(int length) {
        std::string text;
        for (int i = 0; i < length; ++i) {
            if (i > 0) text += ' ';
            text += word();
        }
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
        return text + '.';
    }

private:
    std::uint32_t state_ = 2463534242u;
};

void appendSection(std::string& out, Words& words, int n) {
    const std::string number = std::to_string(n);
    out += "## " + number + ". The " + std::string(words.word()) + " and its " +
           std::string(words.word()) + "\n\n";
    out += words.sentence(14) + " It keeps *" + std::string(words.word()) + "* and **" +
           std::string(words.word()) + "** apart, calls `step_" + number + "()` and links to [the notes](https://example.org/notes/" +
           number + "). " + words.sentence(11) + " The cost grows as $O(n_{" + number +
           "} \\log n)$ while " + words.sentence(9) + "\n\n";
    out += words.sentence(18) + " " + words.sentence(12) + " With $x_{" + number + "} = \\frac{a+" +
           number + "}{b}$ the " + std::string(words.word()) + " settles.\n\n";
    switch (n % 4) {
        case 0:
            out += "- " + words.sentence(6) + "\n- " + words.sentence(8) + "\n  - " +
                   words.sentence(5) + "\n  - " + words.sentence(7) + "\n- " + words.sentence(6) +
                   "\n\n";
            break;
        case 1:
            out += "| step | " + std::string(words.word()) + " | time (ms) | note |\n";
            out += "|------|------|----------:|------|\n";
            for (int row = 1; row <= 5; ++row) {
                out += "| " + std::to_string(row) + " | " + std::string(words.word()) + " | " +
                       std::to_string((n * 7 + row * 13) % 997) + " | " + words.sentence(3) +
                       " |\n";
            }
            out += "\n";
            break;
        case 2: {
            static constexpr std::array<std::string_view, 4> languages{"js", "python", "cpp", "rust"};
            const auto language = languages[(n / 4) % languages.size()];
            out += "```" + std::string(language) + "\n";
            for (int line = 0; line < 10; ++line) {
                const std::string name = std::string(words.word()) + "_" + number + "_" + std::to_string(line);
                if (language == "python") {
                    out += "def " + name + "(value):\n    return value * " + std::to_string(line + 1) + "  # " + std::string(words.word()) + "\n";
                } else if (language == "rust") {
                    out += "fn " + name + "(value: u32) -> u32 { value * " + std::to_string(line + 1) + " } // " + std::string(words.word()) + "\n";
                } else if (language == "cpp") {
                    out += "int " + name + "(int value) { return value * " + std::to_string(line + 1) + "; } // " + std::string(words.word()) + "\n";
                } else {
                    out += "const " + name + " = (value) => value * " + std::to_string(line + 1) + "; // " + std::string(words.word()) + "\n";
                }
            }
            out += "```\n\n";
            break;
        }
        default:
            out += "$$\n\\sum_{k=1}^{" + number + "} \\frac{k^2}{" + std::to_string(n % 9 + 2) +
                   "} = \\int_0^{" + number + "} f(t)\\,dt\n$$\n\n";
            out += "> " + words.sentence(16) + "\n\n";
            break;
    }
    if (n % 6 == 0) {
        out += "### " + std::string(words.word()) + " in detail\n\n" + words.sentence(20) + "\n\n";
    }
}

}  // namespace

std::string generatedDocument(std::size_t bytes) {
    Words words;
    std::string out = "# Generated document\n\n" + words.sentence(20) + "\n\n";
    out.reserve(bytes + 4096);
    for (int n = 1; out.size() < bytes; ++n) appendSection(out, words, n);
    return out;
}

std::string generatedTable(int rows, int columns) {
    Words words;
    std::string out = "# A long table\n\n";
    std::string line = "|";
    std::string rule = "|";
    for (int column = 0; column < columns; ++column) {
        line += " c" + std::to_string(column + 1) + " |";
        rule += column % 3 == 2 ? "--:|" : "---|";
    }
    out += line + "\n" + rule + "\n";
    for (int row = 1; row <= rows; ++row) {
        line = "| row " + std::to_string(row) + " |";
        for (int column = 1; column < columns; ++column) {
            if (column % 3 == 2) {
                const int value = (row * 313 + column * 171) % 999983;
                const std::string fraction = std::to_string(1000 + value % 1000).substr(1);
                line += " " + std::to_string(value / 1000) + "." + fraction + " |";
            } else {
                line += " " + std::string(words.word()) + " |";
            }
        }
        out += line + "\n";
    }
    return out;
}

std::string mathSections(int sections) {
    std::string out;
    for (int n = 1; n <= sections; ++n) {
        const std::string number = std::to_string(n);
        out += "## Section " + number + "\n\nThe value $a_{" + number + "} + b^2$ grows as $\\frac{" + number +
               "}{n}$ while the sum settles.\n\n$$\n\\sum_{k=1}^{" + number + "} k^2 = \\int_0^{" + number +
               "} f(t)\\,dt\n$$\n\n";
    }
    return out;
}

std::string proseSections(int sections) {
    Words words;
    std::string out = "# Guide\n\nThe guide begins here.\n\n";
    for (int n = 1; n <= sections; ++n) {
        const std::string number = std::to_string(n);
        out += "## Section " + number + "\n\nParagraph one of section " + number + ": " + words.sentence(22) + " " +
               words.sentence(12) + "\n\nParagraph two of section " + number + " says *" +
               std::string(words.word()) + "* about **" + std::string(words.word()) + "**. " +
               words.sentence(9) + "\n\n";
    }
    return out;
}

std::string mathParts(int parts) {
    std::string out;
    for (int n = 1; n <= parts; ++n) {
        const std::string number = std::to_string(n);
        out += "## Part " + number + "\n\nThe value $\\alpha_{" + number + "} + x^2$ is part " + number +
               "'s.\n\n$$\\sum_{k=1}^{" + number + "} k = \\frac{" + number + "(" + number +
               "+1)}{2}$$\n\nClosing words of part " + number + ".\n\n";
    }
    return out;
}

std::string codeSections(int sections) {
    Words words;
    std::string out = "# Code\n\n";
    for (int n = 1; n <= sections; ++n) {
        const std::string number = std::to_string(n);
        out += "## Step " + number + "\n\n" + words.sentence(14) + "\n\n```javascript\n";
        out += "// step " + number + ": " + std::string(words.word()) + "\n";
        out += "export async function step" + number + "(input, options = {}) {\n";
        out += "    const limit = options.limit ?? " + std::to_string(n * 7 % 97 + 3) + ";\n";
        out += "    const seen = new Map();\n";
        out += "    for (const [key, value] of Object.entries(input)) {\n";
        out += "        if (seen.size >= limit) break;\n";
        out += "        seen.set(key, `${value}-" + std::string(words.word()) + "`);\n";
        out += "    }\n";
        out += "    const total = [...seen.values()].reduce((sum, v) => sum + v.length, " + number + ");\n";
        out += "    await new Promise((resolve) => setTimeout(resolve, total % 10));\n";
        out += "    return { total, keys: Array.from(seen.keys()), ok: total > 0 && !options.dry };\n";
        out += "}\n```\n\n";
    }
    return out;
}

std::string displayFormulas(int formulas) {
    std::string out = "# Display math\n\n";
    for (int n = 1; n <= formulas; ++n) {
        const std::string number = std::to_string(n);
        switch (n % 4) {
            case 0:
                out += "$$\n\\sum_{k=1}^{" + number + "} \\frac{k^2}{" + number + " + k} = \\int_0^{" + number +
                       "} f(t)\\,dt\n$$\n\n";
                break;
            case 1:
                out += "$$\n\\left( \\frac{a_{" + number + "}}{b} \\right)^2 + \\sqrt{x_{" + number +
                       "}^2 + y^2} \\leq \\prod_{i=1}^{n} c_i\n$$\n\n";
                break;
            case 2:
                out += "$$\n\\begin{pmatrix} " + number + " & x \\\\ y & \\alpha_{" + number +
                       "} \\end{pmatrix} \\cdot \\vec{v} = \\lambda \\vec{v}\n$$\n\n";
                break;
            default:
                out += "$$\n\\lim_{n \\to \\infty} \\left(1 + \\frac{" + number + "}{n}\\right)^n = e^{" + number +
                       "}\n$$\n\n";
                break;
        }
    }
    return out;
}

std::string inlineFormulaParagraphs(int paragraphs, int perParagraph) {
    Words words;
    std::string out = "# Inline math\n\n";
    for (int n = 1; n <= paragraphs; ++n) {
        for (int k = 1; k <= perParagraph; ++k) {
            const std::string index = std::to_string(n * perParagraph + k);
            out += std::string(words.word()) + " " + std::string(words.word());
            switch (k % 3) {
                case 0: out += " $x_{" + index + "} + y^2$ "; break;
                case 1: out += " $\\frac{" + index + "}{n}$ "; break;
                default: out += " $\\alpha_{" + index + "} \\leq \\beta$ "; break;
            }
        }
        out += std::string(words.word()) + ".\n\n";
    }
    return out;
}

}  // namespace larkspin::bench
