#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Editor/HighlightRules.hpp"
#include "Model/TextStorage.hpp"

namespace larkspin {

// Where the highlighter's colours go: the editor's text buffer, through one
// tag per role. Offsets are characters of the text the highlighter reads.
class HighlightSink {
public:
    virtual ~HighlightSink() = default;
    // Removes every role from the range (the base look remains).
    virtual void clearRoles(TextRange range) = 0;
    virtual void addRole(HighlightRole role, TextRange range) = 0;
};

// Colours Markdown source line by line, never changing characters. It reads
// the text from a `TextStorage` (the document model's) and writes roles to
// the sink. Fenced code is tracked with a sorted cache of the character
// offsets of fence marker lines, patched per edit. A whole-text pass colours
// the first chunk at once and the rest one chunk per `runChunk()`, which the
// owner calls from an idle callback after `onChunkWanted`. While `isSuspended`
// (an input method is composing) edits are remembered and coloured by
// `flushPending()`; a fence parity change or a chunk met while suspended is
// carried on after the flush rather than lost. Main thread.
class MarkdownHighlighter {
public:
    static constexpr std::int64_t chunkLength = 65536;

    // `storage` (the document model's) outlives the highlighter.
    MarkdownHighlighter(const TextStorage& storage, HighlightSink& sink);

    std::function<bool()> isSuspended = [] { return false; };
    // Asked for a later `runChunk()` (never called from inside one).
    std::function<void()> onChunkWanted;

    // A full pass: the fence cache rebuilt, the first chunk coloured now.
    void highlightAll();
    // One chunk of a running pass; false when no pass waits for a chunk.
    bool runChunk();
    // After the characters changed: `edit` as the text storage reports it
    // (the range replaced in the old text and the change in length).
    void noteEdit(const TextStorage::Edit& edit);
    // Colours what was edited while suspended, and carries on a pass that
    // was waiting.
    void flushPending();
    // Stops a running pass (no completion is reported).
    void cancel();

    // Whether a position lies inside fenced code.
    bool isInsideFence(std::int64_t offset);
    const std::vector<std::int64_t>& fenceLineLocations();

    bool isFullPassComplete() const { return fullPassComplete_; }
    bool isPassRunning() const { return chunkCursor_.has_value(); }
    std::optional<TextRange> pendingRange() const { return pendingRange_; }
    std::int64_t passCount() const { return passCount_; }
    std::optional<TextRange> lastHighlightedRange() const { return lastHighlighted_; }

private:
    struct Position {
        std::int64_t character = 0;
        std::size_t byte = 0;
    };

    const std::string& str() const { return storage_.string(); }
    std::int64_t length() const { return storage_.length(); }
    Position positionAt(std::int64_t character);
    // The whole lines holding [location, location + length), terminators
    // included.
    TextRange paragraphRange(TextRange range);
    void ensureFenceCache();
    bool updateFenceCache(TextRange paragraph, std::int64_t delta);
    void highlight(TextRange range);
    // An edited paragraph: coloured now when short, else its first chunk now
    // and the rest in a pass; a parity change colours everything after it.
    void highlightEdited(TextRange paragraph, bool parityChanged);
    void startPass(std::int64_t from);
    void finishPass();

    const TextStorage& storage_;
    HighlightSink& sink_;

    std::vector<std::int64_t> fenceLines_;
    bool fenceCacheValid_ = false;
    std::optional<TextRange> pendingRange_;
    bool pendingParityChange_ = false;
    std::optional<std::int64_t> chunkCursor_;
    bool chunkWanted_ = false;
    bool fullPassComplete_ = false;
    std::int64_t passCount_ = 0;
    std::optional<TextRange> lastHighlighted_;

    // A known (character, byte) pair of the current text, moved along by
    // lookups and kept valid across edits behind it, so that typing does not
    // rescan the text. `knownBytes_` is the text's size at the last edit, from
    // which an edit's change in bytes is known.
    Position hint_;
    std::size_t knownBytes_ = 0;
};

}  // namespace larkspin
