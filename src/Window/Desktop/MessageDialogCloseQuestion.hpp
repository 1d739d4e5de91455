#pragma once

#include <functional>

#include "Document/Closing/CloseReview.hpp"

typedef struct _GtkWindow GtkWindow;

namespace larkspin {

// The close and quit review's question as an AdwMessageDialog, modal on the
// group window that shows the document's tab (the review selects the tab
// first): "“<name>”有未保存的修改。关闭前要保存吗？" with "取消", "不保存"
// (destructive) and "保存" (suggested, the default). Esc answers "取消", and so
// does a dialog destroyed without an answer. Main thread.
class MessageDialogCloseQuestion final : public CloseQuestion {
public:
    // `windowOf` gives the window of a document's tab at the time of asking
    // (null for none: the dialog then stands alone).
    explicit MessageDialogCloseQuestion(std::function<GtkWindow*(ClosingDocument&)> windowOf);

    void ask(ClosingDocument& document, std::function<void(CloseAnswer)> answer) override;

    static constexpr const char* cancelResponse = "cancel";
    static constexpr const char* discardResponse = "discard";
    static constexpr const char* saveResponse = "save";

private:
    std::function<GtkWindow*(ClosingDocument&)> windowOf_;
};

}  // namespace larkspin
