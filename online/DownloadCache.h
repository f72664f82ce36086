#pragma once
// A download cache bounded in bytes. The service decides how many LUTs, presets
// and icons a session meets, so a cache that only grows would grow with it:
// when a new entry would pass the budget, the least recently used entries leave
// first. An entry larger than the whole budget is not kept at all.
#include <cstddef>
#include <list>
#include <map>
#include <utility>

template <class Key, class Value>
class DownloadCache {
public:
    explicit DownloadCache(std::size_t budgetBytes) : budgetBytes_(budgetBytes) {}

    // The entry of key, which becomes the most recently used; null when there is none.
    const Value* find(const Key& key) {
        const auto it = index_.find(key);
        if (it == index_.end()) return nullptr;
        entries_.splice(entries_.begin(), entries_, it->second);
        return &it->second->value;
    }

    // Keeps value under key as the most recently used entry, replacing an earlier one of that
    // key. byteSize is what the entry holds, key included.
    void insert(const Key& key, Value value, std::size_t byteSize) {
        erase(key);
        if (byteSize > budgetBytes_) return;
        shrinkTo(budgetBytes_ - byteSize);
        entries_.push_front(Entry{key, std::move(value), byteSize});
        index_.emplace(key, entries_.begin());
        heldBytes_ += byteSize;
    }

    void clear() {
        index_.clear();
        entries_.clear();
        heldBytes_ = 0;
    }

    // A smaller budget drops the least recently used entries at once.
    void setBudget(std::size_t budgetBytes) {
        budgetBytes_ = budgetBytes;
        shrinkTo(budgetBytes_);
    }

    std::size_t budgetBytes() const { return budgetBytes_; }
    std::size_t heldBytes() const { return heldBytes_; }
    std::size_t entryCount() const { return entries_.size(); }

private:
    struct Entry {
        Key key;
        Value value;
        std::size_t byteSize;
    };

    void erase(const Key& key) {
        const auto it = index_.find(key);
        if (it == index_.end()) return;
        heldBytes_ -= it->second->byteSize;
        entries_.erase(it->second);
        index_.erase(it);
    }

    void shrinkTo(std::size_t bytes) {
        while (heldBytes_ > bytes && !entries_.empty()) erase(entries_.back().key);
    }

    std::list<Entry> entries_;  // the most recently used first
    std::map<Key, typename std::list<Entry>::iterator> index_;
    std::size_t budgetBytes_;
    std::size_t heldBytes_ = 0;
};
