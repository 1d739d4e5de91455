#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Document/Links/LinkOpenerSeams.hpp"
#include "Platform/Async/Task.hpp"

namespace larkspin {

class NoticeBarController;
class DocumentReader;

// What the window side gives a document for its page: the reader, the
// notice bar, and the two questions that need
// a window (the relocation panel, the confirmation before unsaved text is
// thrown away). The Window layer implements it (the document's tab page);
// tests use fakes. The document holds it only while the page lives. Main
// thread.
class DocumentWindowHost {
public:
    // What the relocation panel is asked with.
    struct SourceRequest {
        std::optional<std::filesystem::path> startFolder;  // the current file's folder
        std::string prompt;   // the accept button: "选择源文件"
        std::string message;  // "重新选择「name」的源文件位置。…"
    };

    virtual ~DocumentWindowHost() = default;

    // The page's reader; null when the page has none.
    virtual std::shared_ptr<DocumentReader> reader() const = 0;
    // Null when the page has no notice bar.
    virtual NoticeBarController* noticeBarController() const = 0;
    // The document's name or file changed: the tab's title follows.
    virtual void documentTitleChanged() = 0;
    // Where a presented page stands: whether it joined a tab group that was
    // there before it (rather than starting a window of its own), and how
    // many tabs its group holds now.
    struct Presented {
        bool joinedGroup = false;
        std::int64_t tabCount = 1;
    };
    // Brings the page forward: its tab selected, its window presented.
    virtual Presented present() = 0;

    // The relocation panel: the file chosen, or none when cancelled.
    virtual Task<std::optional<std::filesystem::path>> chooseSourceFile(SourceRequest request) = 0;
    // Asks once before unsaved text is thrown away; true to go on.
    virtual Task<bool> confirmDiscard(OpenConfirmation::Question question) = 0;

    // What the save panel is asked with.
    struct SaveRequest {
        std::string name;                                 // the proposed file name
        std::optional<std::filesystem::path> folder;      // the current file's folder
    };
    // The save panel: the file chosen, or none when cancelled.
    virtual Task<std::optional<std::filesystem::path>> chooseSaveLocation(SaveRequest request) = 0;
    // Tells the user why a Save or Save As did not end saved.
    virtual void showSaveError(std::string message) = 0;
};

}  // namespace larkspin
