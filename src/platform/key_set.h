// Sets and maps of 64-bit keys at 9 to 14 bytes per key (plus the value):
// the bookkeeping of a run that may write millions of files (names given,
// files written) must not cost more than the files' own descriptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A text's key: FNV-1a, then mixed, since names differ in their last bytes
// as often as in their first.
inline std::uint64_t text_key(const std::string& text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    }
    h ^= h >> 31;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

namespace key_slots {

// Keys may be raw identities (file numbers counting up), so they are mixed
// before they pick a slot.
inline std::size_t start(std::size_t size, std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDull;
    key ^= key >> 33;
    return static_cast<std::size_t>(key % size);
}
inline std::size_t next(std::size_t size, std::size_t i) { return i + 1 == size ? 0 : i + 1; }
// Up to 85% full, then grown by half, so the spare room stays small.
inline bool full(std::size_t count, std::size_t size) { return (count + 1) * 100 > size * 85; }
inline std::size_t grown(std::size_t size) { return size < 16 ? 32 : size + size / 2; }

}  // namespace key_slots

// Open addressing with linear probing in a table up to 85% full, grown by
// half when full, so the spare room stays small.
class KeySet {
public:
    // True when the key was added, false when it was there already.
    bool insert(std::uint64_t key) {
        if (key == kEmpty) {
            const bool added = !has_empty_key_;
            has_empty_key_ = true;
            return added;
        }
        if (key_slots::full(count_, slots_.size())) grow();
        std::uint64_t& slot = find(slots_, key);
        if (slot == key) return false;
        slot = key;
        ++count_;
        return true;
    }

    bool contains(std::uint64_t key) const {
        if (key == kEmpty) return has_empty_key_;
        if (slots_.empty()) return false;
        for (std::size_t i = start(slots_.size(), key);; i = next(slots_.size(), i)) {
            if (slots_[i] == key) return true;
            if (slots_[i] == kEmpty) return false;
        }
    }

    std::size_t size() const { return count_ + (has_empty_key_ ? 1 : 0); }
    std::size_t bytes() const { return slots_.capacity() * sizeof(std::uint64_t); }

private:
    static constexpr std::uint64_t kEmpty = 0;

    static std::size_t start(std::size_t size, std::uint64_t key) { return key_slots::start(size, key); }
    static std::size_t next(std::size_t size, std::size_t i) { return key_slots::next(size, i); }

    static std::uint64_t& find(std::vector<std::uint64_t>& slots, std::uint64_t key) {
        std::size_t i = start(slots.size(), key);
        while (slots[i] != kEmpty && slots[i] != key) i = next(slots.size(), i);
        return slots[i];
    }

    void grow() {
        std::vector<std::uint64_t> bigger(key_slots::grown(slots_.size()), kEmpty);
        for (const std::uint64_t key : slots_) {
            if (key != kEmpty) find(bigger, key) = key;
        }
        slots_.swap(bigger);
    }

    std::vector<std::uint64_t> slots_;
    std::size_t count_ = 0;
    bool has_empty_key_ = false;
};

// A 32-bit number for each key, in the same kind of table; a key never
// given reads as 0.
class KeyNumbers {
public:
    std::uint32_t get(std::uint64_t key) const {
        if (keys_.empty()) return 0;
        key = key == 0 ? 1 : key;
        const std::size_t i = find(keys_, key);
        return keys_[i] == key ? numbers_[i] : 0;
    }

    void set(std::uint64_t key, std::uint32_t number) {
        key = key == 0 ? 1 : key;  // 0 marks a free slot; a neighbour key stands in
        if (key_slots::full(count_, keys_.size())) grow();
        const std::size_t i = find(keys_, key);
        if (keys_[i] != key) {
            keys_[i] = key;
            ++count_;
        }
        numbers_[i] = number;
    }

private:
    static std::size_t find(const std::vector<std::uint64_t>& keys, std::uint64_t key) {
        key = key == 0 ? 1 : key;
        std::size_t i = key_slots::start(keys.size(), key);
        while (keys[i] != 0 && keys[i] != key) i = key_slots::next(keys.size(), i);
        return i;
    }

    void grow() {
        std::vector<std::uint64_t> keys(key_slots::grown(keys_.size()), 0);
        std::vector<std::uint32_t> numbers(keys.size(), 0);
        for (std::size_t j = 0; j < keys_.size(); ++j) {
            if (keys_[j] == 0) continue;
            const std::size_t i = find(keys, keys_[j]);
            keys[i] = keys_[j];
            numbers[i] = numbers_[j];
        }
        keys_.swap(keys);
        numbers_.swap(numbers);
    }

    std::vector<std::uint64_t> keys_;
    std::vector<std::uint32_t> numbers_;
    std::size_t count_ = 0;
};

}  // namespace platform
