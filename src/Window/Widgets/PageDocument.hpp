#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Reader/Chrome/ConflictBarContent.hpp"

namespace larkspin {

class ReaderView;
class ReaderViewController;

// What a document page needs of the document it shows: its name, its file,
// its reader and what its notice bar should say. Main thread.
class PageDocument {
public:
    virtual ~PageDocument() = default;

    // The tab's and the window's title.
    virtual std::string displayName() const = 0;
    // None for a document that was never read from a file.
    virtual std::optional<std::filesystem::path> filePath() const = 0;
    virtual std::shared_ptr<ReaderViewController> reader() const = 0;
    // The reader's widgets, which the page mounts in its mode container.
    virtual std::shared_ptr<ReaderView> readerView() const = 0;
    // What the notice bar shows when the page opens; none hides it.
    virtual std::optional<ConflictBarContent> notice() const { return std::nullopt; }
};

}  // namespace larkspin
