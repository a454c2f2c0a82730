// The numbers that stand for server-side objects (open keys) in a client. No Windows header.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

namespace watchsvc {

// Hands out a fresh positive 32-bit number per entry and accepts only numbers it handed out and
// that were not removed since. Numbers are not reused until the counter wraps, so a client that
// keeps a closed number gets an error instead of somebody else's key; they never collide with the
// predefined root keys (0x80000000 and up).
template <class Entry>
class HandleTable {
public:
    std::int32_t Add(Entry e) {
        do {
            next_ = (next_ >= kLast) ? 1 : next_ + 1;
        } while (entries_.count(next_));
        entries_.emplace(next_, std::move(e));
        return next_;
    }
    Entry* Find(std::int32_t number) {
        auto it = entries_.find(number);
        return it == entries_.end() ? nullptr : &it->second;
    }
    bool Remove(std::int32_t number, Entry* removed) {
        auto it = entries_.find(number);
        if (it == entries_.end()) return false;
        if (removed) *removed = std::move(it->second);
        entries_.erase(it);
        return true;
    }
    template <class F>
    void ForEach(F f) {
        for (auto& kv : entries_) f(kv.second);
    }
    void Clear() { entries_.clear(); }
    std::size_t size() const { return entries_.size(); }

private:
    static constexpr std::int32_t kLast = 0x7FFFFFFF;
    std::map<std::int32_t, Entry> entries_;
    std::int32_t next_ = 0;
};

}  // namespace watchsvc
