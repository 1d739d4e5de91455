#include "Window/FindRouting.hpp"

#include <algorithm>

#include "Platform/Localization.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

namespace FindRouting {

FindRoute route(DocumentMode mode, bool hasEditor, std::optional<std::int64_t> tag) {
    if (mode == DocumentMode::editing && hasEditor) return FindRoute::forwardToEditor;
    if (!tag) return FindRoute::showFindBar;
    switch (std::max<std::int64_t>(*tag, 0)) {
        case FindPanelTag::next: return FindRoute::findNext;
        case FindPanelTag::previous: return FindRoute::findPrevious;
        case FindPanelTag::setFindString: return FindRoute::useSelection;
        default: return FindRoute::showFindBar;
    }
}

bool isEnabled(DocumentMode mode, std::int64_t tag) {
    if (mode == DocumentMode::editing) return true;
    return tag != FindPanelTag::replaceAll && tag != FindPanelTag::showReplaceInterface;
}

std::optional<std::string> selectionQuery(std::string_view selection) {
    auto query = trimmedWhitespace(selection);
    if (query.empty()) return std::nullopt;
    return query;
}

}  // namespace FindRouting

namespace ModeSwitch {

namespace {
bool sourceEditingForTesting = false;
}  // namespace

bool sourceEditingEnabled() { return sourceEditing || sourceEditingForTesting; }

void setSourceEditingForTesting(bool enabled) { sourceEditingForTesting = enabled; }

EditingDecision decideEditing(const EditingRequest& request) {
    if (!request.hasDocument) return {EditingStep::refuseWithoutDocument, "窗口没有挂文档"};
    if (request.mode == DocumentMode::editing) return {EditingStep::alreadyEditing, {}};
    if (request.isLatin1 || request.isRestricted) {
        auto problem = request.writabilityProblem.empty() ? L10n::text("mode.readonly.fallback")
                                                          : request.writabilityProblem;
        return {EditingStep::refuseReadOnly, std::move(problem)};
    }
    if (request.hasMixedLineEndings && !request.normalizationConfirmed) {
        return {EditingStep::confirmMixedLineEndings, {}};
    }
    return {EditingStep::enter, {}};
}

std::string declinedMixedLineEndings() { return "用户取消：混合换行文件未确认继续编辑"; }

std::int64_t readingLine(std::int64_t cursorLine) { return std::max<std::int64_t>(cursorLine, 1); }

bool canEditHere(DocumentMode mode) { return mode == DocumentMode::reading; }

}  // namespace ModeSwitch

}  // namespace larkspin
