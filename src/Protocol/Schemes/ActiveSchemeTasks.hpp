#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "Protocol/Schemes/SchemeTask.hpp"

namespace larkspin {

// The requests a scheme handler has started and not yet answered. WebKitGTK
// has no "stop" callback, so every started request carries a generation
// number: a read that ends after its request was stopped, or after the same
// task object was started again, finds no entry of its generation and is
// dropped. Main thread.
class ActiveSchemeTasks {
public:
    using Identity = std::uintptr_t;  // a started task's address, used only as a key
    struct Ticket {
        Identity identity;
        std::uint64_t generation;
    };

    Ticket add(std::shared_ptr<SchemeTask> task) {
        const Ticket ticket{reinterpret_cast<Identity>(task.get()), ++nextGeneration_};  // wraps at 2^64
        const SchemeTask::WebViewKey webView = task->webView();
        tasks_.insert_or_assign(ticket.identity, Entry{std::move(task), ticket.generation, webView});
        return ticket;
    }

    // The task to answer, removed from the set; null when it was stopped or
    // started again meanwhile.
    std::shared_ptr<SchemeTask> take(Identity identity, std::uint64_t generation) {
        const auto entry = tasks_.find(identity);
        if (entry == tasks_.end() || entry->second.generation != generation) return nullptr;
        std::shared_ptr<SchemeTask> task = std::move(entry->second.task);
        tasks_.erase(entry);
        return task;
    }

    void stop(const SchemeTask& task) { tasks_.erase(reinterpret_cast<Identity>(&task)); }
    // Forgets the requests of one web view; the others stay.
    void stopAll(SchemeTask::WebViewKey webView) {
        std::erase_if(tasks_, [webView](const auto& entry) { return entry.second.webView == webView; });
    }

private:
    struct Entry {
        std::shared_ptr<SchemeTask> task;
        std::uint64_t generation = 0;
        SchemeTask::WebViewKey webView = 0;
    };
    std::map<Identity, Entry> tasks_;
    std::uint64_t nextGeneration_ = 0;
};

}  // namespace larkspin
