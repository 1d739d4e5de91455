#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Document/Disk/DocumentDiskWatch.hpp"
#include "Model/DocumentModel.hpp"
#include "Storage/DocumentLoader.hpp"

namespace larkspin::test {

// Stands in for the document: a real model, one notice cleared by kind, and
// what the watch asked for.
struct FakeDiskClient final : DocumentDiskWatch::Client {
    DocumentModel model;
    ExternalChangePolicy policy = ExternalChangePolicy::reload;
    std::optional<ExternalIssue> issue;
    int issuesRaised = 0;
    std::vector<std::string> adopted;  // each reload's text
    std::vector<std::filesystem::path> moves;

    void open(const std::filesystem::path& path) { model.adopt(DocumentLoader::load(path)); }
    std::optional<ExternalIssueKind> kind() const {
        return issue ? std::optional(issue->kind()) : std::nullopt;
    }

    DocumentModel& diskModel() override { return model; }
    ExternalChangePolicy externalChangePolicy() const override { return policy; }
    void setExternalIssue(ExternalIssue i) override { issue = std::move(i), ++issuesRaised; }
    void clearExternalIssue(const ExternalIssueKinds& kinds) override {
        if (issue && clears(kinds, issue->kind())) issue.reset();
    }
    void adoptReload(LoadedDocument loaded) override {
        adopted.push_back(loaded.source);
        model.adopt(std::move(loaded));
    }
    void fileDidMove(const std::filesystem::path& path) override { moves.push_back(path); }
    void fileReplaced() override {}
    std::string logID() const override { return "0badf00d"; }
    std::string displayName() const override { return "note.md"; }
};

}  // namespace larkspin::test
