// A digest of everything the registry calls read from a hive: each key's
// name and place in the tree, its values' names, types and data, in the
// hive's order, and which of them could not be read. The writer compares
// the hive it committed with the hive it changed: libhivex frees the cells
// of what it deletes, and on a damaged hive one of those cells may belong
// to another key as well, which would then be lost without a word.
#pragma once

#include <hivex.h>

#include <cstdint>

struct HiveDigest {
    std::uint64_t hash = 0;
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    bool operator==(const HiveDigest& other) const
    {
        return hash == other.hash && keys == other.keys && values == other.values;
    }
    bool operator!=(const HiveDigest& other) const { return !(*this == other); }
};

// What is left out of a digest: a key (with its values), or one value of
// one key. 0 leaves nothing out.
struct HiveDigestSkip {
    hive_node_h key = 0;
    hive_value_h value = 0;  // when set, only this value of `key` is left out
};

// False when a key is reached twice (the keys do not form a tree): such a
// hive is not changed.
bool DigestHive(hive_h* hive, const HiveDigestSkip& skip, HiveDigest& digest);
