#include "Editor/MarkdownHighlighter.hpp"

#include <algorithm>
#include <cstring>

namespace larkspin {
namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::int64_t countCharacters(const char* p, std::size_t n) {
    std::int64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += isContinuation(p[i]) ? 0 : 1;
    return count;
}

// Character offsets within one line, for spans that the rules give in bytes.
class LineOffsets {
public:
    explicit LineOffsets(std::string_view line) : line_(line) {
        ascii_ = std::all_of(line.begin(), line.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii_) {
            prefix_.resize(line.size() + 1);
            std::int64_t count = 0;
            for (std::size_t i = 0; i < line.size(); ++i) {
                prefix_[i] = count;
                count += isContinuation(line[i]) ? 0 : 1;
            }
            prefix_[line.size()] = count;
        }
    }
    std::int64_t at(std::size_t byte) const {
        return ascii_ ? static_cast<std::int64_t>(byte) : prefix_[std::min(byte, line_.size())];
    }
    std::int64_t length() const { return at(line_.size()); }

private:
    std::string_view line_;
    bool ascii_ = true;
    std::vector<std::int64_t> prefix_;
};

}  // namespace

MarkdownHighlighter::MarkdownHighlighter(const TextStorage& storage, HighlightSink& sink)
    : storage_(storage), sink_(sink), knownBytes_(storage.string().size()) {}

MarkdownHighlighter::Position MarkdownHighlighter::positionAt(std::int64_t character) {
    const std::string& s = str();
    const std::int64_t total = length();
    character = std::clamp<std::int64_t>(character, 0, total);
    if (hint_.byte > s.size() || hint_.character > total) hint_ = {};
    // Walk from the nearest known point: the start, the hint or the end.
    Position from = hint_;
    if (character < std::llabs(character - hint_.character)) from = {};
    if (total - character < std::llabs(character - from.character)) from = {total, s.size()};
    std::size_t byte = from.byte;
    std::int64_t at = from.character;
    while (at < character) {
        ++byte;
        while (byte < s.size() && isContinuation(s[byte])) ++byte;
        ++at;
    }
    while (at > character) {
        --byte;
        while (byte > 0 && isContinuation(s[byte])) --byte;
        --at;
    }
    hint_ = {character, byte};
    return hint_;
}

TextRange MarkdownHighlighter::paragraphRange(TextRange range) {
    const std::string& s = str();
    const std::int64_t total = length();
    const std::int64_t location = std::clamp<std::int64_t>(range.location, 0, total);
    const std::int64_t end = std::clamp<std::int64_t>(range.location + std::max<std::int64_t>(range.length, 0),
                                                      location, total);
    const Position startPos = positionAt(location);
    std::size_t startByte = startPos.byte;
    while (startByte > 0 && s[startByte - 1] != '\n') --startByte;
    const std::int64_t startChar =
        startPos.character - countCharacters(s.data() + startByte, startPos.byte - startByte);

    const Position endPos = positionAt(end);
    std::size_t endByte = endPos.byte;
    if (!(end > location && endByte > 0 && s[endByte - 1] == '\n')) {
        const void* nl = endByte < s.size() ? std::memchr(s.data() + endByte, '\n', s.size() - endByte) : nullptr;
        endByte = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - s.data()) + 1 : s.size();
    }
    const std::int64_t endChar = endPos.character + countCharacters(s.data() + endPos.byte, endByte - endPos.byte);
    return {startChar, endChar - startChar};
}

void MarkdownHighlighter::ensureFenceCache() {
    if (fenceCacheValid_) return;
    fenceLines_.clear();
    const std::string& s = str();
    std::size_t byte = 0;
    std::int64_t character = 0;
    while (byte < s.size()) {
        const void* nl = std::memchr(s.data() + byte, '\n', s.size() - byte);
        const std::size_t lineEnd = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - s.data()) : s.size();
        if (HighlightRules::isFenceLine(std::string_view(s).substr(byte, lineEnd - byte))) {
            fenceLines_.push_back(character);
        }
        const std::size_t next = nl ? lineEnd + 1 : s.size();
        character += countCharacters(s.data() + byte, next - byte);
        byte = next;
    }
    fenceCacheValid_ = true;
}

bool MarkdownHighlighter::isInsideFence(std::int64_t offset) {
    ensureFenceCache();
    const auto before = std::lower_bound(fenceLines_.begin(), fenceLines_.end(), offset) - fenceLines_.begin();
    return before % 2 == 1;
}

const std::vector<std::int64_t>& MarkdownHighlighter::fenceLineLocations() {
    ensureFenceCache();
    return fenceLines_;
}

bool MarkdownHighlighter::updateFenceCache(TextRange paragraph, std::int64_t delta) {
    if (!fenceCacheValid_) return false;
    const std::int64_t oldEnd = paragraph.location + std::max<std::int64_t>(paragraph.length - delta, 0);
    std::vector<std::int64_t> updated;
    updated.reserve(fenceLines_.size() + 1);
    std::int64_t removed = 0;
    for (const std::int64_t entry : fenceLines_) {
        if (entry < paragraph.location) {
            updated.push_back(entry);
        } else if (entry < oldEnd) {
            ++removed;
        } else {
            updated.push_back(entry + delta);
        }
    }
    std::int64_t added = 0;
    const std::string& s = str();
    Position pos = positionAt(paragraph.location);
    const std::int64_t end = paragraph.location + paragraph.length;
    while (pos.character < end && pos.byte < s.size()) {
        const void* nl = std::memchr(s.data() + pos.byte, '\n', s.size() - pos.byte);
        const std::size_t lineEnd = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - s.data()) : s.size();
        if (HighlightRules::isFenceLine(std::string_view(s).substr(pos.byte, lineEnd - pos.byte))) {
            updated.push_back(pos.character);
            ++added;
        }
        const std::size_t next = nl ? lineEnd + 1 : s.size();
        pos.character += countCharacters(s.data() + pos.byte, next - pos.byte);
        pos.byte = next;
    }
    std::sort(updated.begin(), updated.end());
    fenceLines_ = std::move(updated);
    return removed % 2 != added % 2;
}

void MarkdownHighlighter::highlight(TextRange range) {
    const std::int64_t total = length();
    const std::int64_t location = std::clamp<std::int64_t>(range.location, 0, total);
    const std::int64_t end = std::clamp<std::int64_t>(range.location + range.length, location, total);
    const TextRange clamped{location, end - location};
    if (clamped.length < 1) {
        lastHighlighted_ = clamped;
        return;
    }
    bool inside = isInsideFence(clamped.location);
    sink_.clearRoles(clamped);

    const std::string& s = str();
    Position pos = positionAt(clamped.location);
    // From the start of the line that holds the range's start.
    std::size_t lineStart = pos.byte;
    while (lineStart > 0 && s[lineStart - 1] != '\n') --lineStart;
    std::int64_t character = pos.character - countCharacters(s.data() + lineStart, pos.byte - lineStart);
    while (lineStart < s.size()) {
        const void* nl = std::memchr(s.data() + lineStart, '\n', s.size() - lineStart);
        std::size_t contentEnd = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - s.data()) : s.size();
        const std::size_t next = nl ? contentEnd + 1 : s.size();
        if (nl && contentEnd > lineStart && s[contentEnd - 1] == '\r') --contentEnd;
        const std::string_view line = std::string_view(s).substr(lineStart, contentEnd - lineStart);
        const LineOffsets offsets(line);
        const std::int64_t lineLength = offsets.length();
        if (HighlightRules::isFenceLine(line)) {
            sink_.addRole(HighlightRole::fenceMarker, {character, lineLength});
            inside = !inside;
        } else if (inside) {
            if (lineLength > 0) sink_.addRole(HighlightRole::fencedCode, {character, lineLength});
        } else if (!line.empty()) {
            for (const LineSpan& span : HighlightRules::lineSpans(line)) {
                const std::int64_t from = offsets.at(span.begin);
                const std::int64_t to = offsets.at(span.end);
                if (to > from) sink_.addRole(span.role, {character + from, to - from});
            }
        }
        character += countCharacters(s.data() + lineStart, next - lineStart);
        lineStart = next;
        if (character >= end) break;
    }
    hint_ = {character, lineStart};
    lastHighlighted_ = clamped;
    ++passCount_;
}

void MarkdownHighlighter::highlightAll() {
    cancel();
    fullPassComplete_ = false;
    fenceCacheValid_ = false;
    ensureFenceCache();
    const std::int64_t total = length();
    if (total == 0) {
        highlight({0, 0});
        finishPass();
        return;
    }
    const TextRange first = paragraphRange({0, std::min(total, chunkLength)});
    highlight(first);
    if (first.location + first.length < total) {
        startPass(first.location + first.length);
    } else {
        finishPass();
    }
}

void MarkdownHighlighter::startPass(std::int64_t from) {
    if (chunkCursor_) {
        // A pass already running goes on from the earlier of the two points,
        // so that nothing between them is left with old colours.
        chunkCursor_ = std::min(*chunkCursor_, from);
    } else {
        chunkCursor_ = from;
    }
    fullPassComplete_ = false;
    if (!chunkWanted_) {
        chunkWanted_ = true;
        if (onChunkWanted) onChunkWanted();
    }
}

bool MarkdownHighlighter::runChunk() {
    chunkWanted_ = false;
    if (!chunkCursor_) return false;
    if (isSuspended()) {
        // Kept, not skipped: the flush at the end of composition carries on.
        return false;
    }
    const std::int64_t total = length();
    if (*chunkCursor_ >= total) {
        finishPass();
        return false;
    }
    const TextRange chunk = paragraphRange({*chunkCursor_, std::min(total - *chunkCursor_, chunkLength)});
    highlight(chunk);
    const std::int64_t end = chunk.location + chunk.length;
    if (end < total && chunk.length > 0) {
        chunkCursor_ = end;
        chunkWanted_ = true;
        return true;
    }
    finishPass();
    return false;
}

void MarkdownHighlighter::finishPass() {
    chunkCursor_.reset();
    chunkWanted_ = false;
    fullPassComplete_ = true;
}

void MarkdownHighlighter::cancel() {
    chunkCursor_.reset();
    chunkWanted_ = false;
}

void MarkdownHighlighter::noteEdit(const TextStorage::Edit& edit) {
    const std::string& s = str();
    const std::int64_t oldEnd = edit.replacedRange.location + edit.replacedRange.length;
    const auto byteDelta = static_cast<std::int64_t>(s.size()) - static_cast<std::int64_t>(knownBytes_);
    knownBytes_ = s.size();
    if (oldEnd <= hint_.character) {
        hint_.character += edit.changeInLength;
        hint_.byte = static_cast<std::size_t>(static_cast<std::int64_t>(hint_.byte) + byteDelta);
    } else if (edit.replacedRange.location < hint_.character || hint_.byte > s.size()) {
        hint_ = {};
    }

    const TextRange edited{edit.replacedRange.location,
                           std::max<std::int64_t>(edit.replacedRange.length + edit.changeInLength, 0)};
    const TextRange paragraph = paragraphRange(edited);
    const bool parityChanged = updateFenceCache(paragraph, edit.changeInLength);

    if (chunkCursor_) {
        if (oldEnd <= *chunkCursor_) {
            *chunkCursor_ += edit.changeInLength;
        } else if (edit.replacedRange.location < *chunkCursor_) {
            chunkCursor_ = paragraph.location;
        }
    }
    if (pendingRange_ && oldEnd <= pendingRange_->location) {
        pendingRange_->location = std::max<std::int64_t>(pendingRange_->location + edit.changeInLength, 0);
    }

    if (!isSuspended()) {
        highlightEdited(paragraph, parityChanged);
        return;
    }
    if (pendingRange_) {
        const std::int64_t from = std::min(pendingRange_->location, paragraph.location);
        const std::int64_t to = std::max(pendingRange_->location + pendingRange_->length,
                                         paragraph.location + paragraph.length);
        pendingRange_ = TextRange{from, to - from};
    } else {
        pendingRange_ = paragraph;
    }
    // Remembered: after the flush everything behind the edit changes sides.
    pendingParityChange_ = pendingParityChange_ != parityChanged;
}

void MarkdownHighlighter::highlightEdited(TextRange paragraph, bool parityChanged) {
    if (paragraph.length > chunkLength) {
        // A long edit (a reload replaces everything): one chunk now, the rest
        // and everything after it in the pass, so the main loop never waits
        // for the whole text.
        const TextRange first = paragraphRange({paragraph.location, chunkLength});
        highlight(first);
        startPass(first.location + first.length);
        return;
    }
    highlight(paragraph);
    if (parityChanged) startPass(paragraph.location + paragraph.length);
}

void MarkdownHighlighter::flushPending() {
    if (pendingRange_) {
        const TextRange pending = *pendingRange_;
        const bool parityChanged = pendingParityChange_;
        pendingRange_.reset();
        pendingParityChange_ = false;
        const std::int64_t total = length();
        const std::int64_t location = std::clamp<std::int64_t>(pending.location, 0, total);
        const std::int64_t end = std::clamp<std::int64_t>(pending.location + pending.length, location, total);
        if (end > location || total == 0) {
            fenceCacheValid_ = false;
            highlightEdited(paragraphRange({location, end - location}), parityChanged);
        } else if (parityChanged) {
            startPass(location);
        }
    }
    if (chunkCursor_ && !chunkWanted_ && !isSuspended()) {
        chunkWanted_ = true;
        if (onChunkWanted) onChunkWanted();
    }
}

}  // namespace larkspin
