// A reply document of the service: a JSON tree written by worker threads and read on the
// user-interface thread. Each parse goes into a fresh reader that replaces the kept one under the
// lock, so a reader never sees a tree half built; reads hold the lock for as long as they look.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "data/json_reader.h"

namespace microblog {

class Document {
public:
    Document() : reader_(std::make_unique<JsonReader>()) {}

    // Parses a reply body. An empty body is not parsed and leaves the document as it was; a text
    // that opens no container keeps the previous tree, as the reader itself does.
    void Parse(const std::string& body) {
        if (body.empty())
            return;
        auto fresh = std::make_unique<JsonReader>();
        fresh->Parse(body.c_str());
        std::lock_guard<std::mutex> lock(mutex_);
        if (fresh->root() != nullptr)
            reader_ = std::move(fresh);
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        reader_->Clear();
    }

    // Calls read(root) with the lock held; root is null when there is no tree.
    template <class Read> auto With(Read&& read) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return read(static_cast<const JsonValue*>(reader_->root()));
    }

private:
    mutable std::mutex mutex_;
    std::unique_ptr<JsonReader> reader_;
};

} // namespace microblog
