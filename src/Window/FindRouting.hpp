#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Window/DocumentMode.hpp"

namespace larkspin {

// The find commands by the tag their menu items carry.
namespace FindPanelTag {
inline constexpr std::int64_t showFindInterface = 1;
inline constexpr std::int64_t next = 2;
inline constexpr std::int64_t previous = 3;
inline constexpr std::int64_t replaceAll = 4;
inline constexpr std::int64_t setFindString = 7;  // use the selection for find
inline constexpr std::int64_t hideFindInterface = 11;
inline constexpr std::int64_t showReplaceInterface = 12;
}  // namespace FindPanelTag

// Where a find command goes.
enum class FindRoute {
    forwardToEditor,  // the editor's own find handles the same tag
    showFindBar,      // the page's find bar, shown
    findNext,         // the find bar, next match (shown first when hidden)
    findPrevious,     // the find bar, previous match
    useSelection,     // the page's selection becomes the query
};

namespace FindRouting {

// A find command with its sender's tag (nothing for a sender that carries
// none; a negative tag counts as 0).
FindRoute route(DocumentMode mode, bool hasEditor, std::optional<std::int64_t> tag);
// Whether the item with `tag` is enabled: in reading mode the find bar has no
// replacing, so replace all and the replace interface are not.
bool isEnabled(DocumentMode mode, std::int64_t tag);
// The query from the page's selection: trimmed of white space and line
// breaks; nothing when that leaves nothing.
std::optional<std::string> selectionQuery(std::string_view selection);

}  // namespace FindRouting

// The reading/editing switch's decisions. Editing is behind a build switch
// that is off: nothing leads into editing mode yet, but the checks it will run
// are decided here.
namespace ModeSwitch {

// Off in this build: no toolbar item, menu item or default leads into
// editing mode.
inline constexpr bool sourceEditing = false;
// Whether editing is on: the build switch, or tests that turn it on.
bool sourceEditingEnabled();
void setSourceEditingForTesting(bool enabled);

// What the page knows when the user asks for editing mode.
struct EditingRequest {
    bool hasDocument = false;
    DocumentMode mode = DocumentMode::reading;
    bool isLatin1 = false;
    bool isRestricted = false;
    std::string writabilityProblem;
    bool hasMixedLineEndings = false;
    bool normalizationConfirmed = false;
};

enum class EditingStep {
    refuseWithoutDocument,    // nothing to edit; no alert
    alreadyEditing,           // nothing to do
    refuseReadOnly,           // an alert with the refusal
    confirmMixedLineEndings,  // ask once per page, then decide again
    enter,
};

struct EditingDecision {
    EditingStep step = EditingStep::enter;
    // Why it was refused (kept as the page's last refusal), empty otherwise.
    std::string refusal;

    bool operator==(const EditingDecision&) const = default;
};

EditingDecision decideEditing(const EditingRequest& request);
// The refusal kept when the user declines the mixed line-ending question.
std::string declinedMixedLineEndings();
// The source line the page returns to after editing: the cursor's, at least 1.
std::int64_t readingLine(std::int64_t cursorLine);
// Whether "edit here" applies.
bool canEditHere(DocumentMode mode);

}  // namespace ModeSwitch

}  // namespace larkspin
