#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Document/Document.hpp"
#include "Document/DocumentKeeper.hpp"

namespace larkspin::test {

// A document's keeper that makes no window and records what it was told;
// a relocation finds the file open elsewhere when the test says so.
class FakeDocumentKeeper final : public DocumentKeeper {
public:
    void makeWindow(Document&) override { ++windowsAsked; }
    bool mayWatchFile(Document&) override { return allowsWatch; }
    void documentClosed(Document&) override { ++closed; }
    void documentFileChanged(Document&) override { ++fileChanges; }
    void documentStateChanged(Document&) override { ++stateChanges; }
    Task<bool> bringForwardIfOpen(std::shared_ptr<Document>, std::filesystem::path path) override {
        return answer(path);
    }
    void openLink(Document&, const OpenLinkPayload& payload) override { links.push_back(payload.href); }

    bool openElsewhere = false;
    bool allowsWatch = true;
    std::vector<std::filesystem::path> asked;
    std::vector<std::string> links;
    int windowsAsked = 0;
    int closed = 0;
    int fileChanges = 0;
    int stateChanges = 0;

private:
    Task<bool> answer(std::filesystem::path path) {
        asked.push_back(std::move(path));
        co_return openElsewhere;
    }
};

}  // namespace larkspin::test
