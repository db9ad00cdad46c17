// The hash index under TIdIRCNamedList: folded name -> first item of that name.
//
// Open addressing with linear probing in one flat array of (hash, item) slots, at most half
// full. A lookup touches one slot and the item it names; growing re-places slots by their
// stored hash without visiting the items. A node-based map was measured at twice the cost
// for a 100,000-name channel, most of it in chasing nodes while rehashing.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

class TIdIRCNamedItem;

class TIdIRCNameIndex {
public:
    static constexpr size_t NoSlot = static_cast<size_t>(-1);

    static size_t Hash(std::string_view folded);
    // The slot whose item is indexed under folded, or NoSlot.
    size_t Find(std::string_view folded, size_t hash) const;
    // The slot whose first item is head, indexed under hash, or NoSlot: found by identity, so
    // no name is compared.
    size_t FindHead(size_t hash, const TIdIRCNamedItem* head) const;
    // Adds a slot for a name that has none yet.
    void Insert(size_t hash, TIdIRCNamedItem* head);
    TIdIRCNamedItem*& Head(size_t slot) { return FSlots[slot].Head; }
    TIdIRCNamedItem* Head(size_t slot) const { return FSlots[slot].Head; }
    void Erase(size_t slot);
    void Clear();

private:
    struct Slot {
        size_t Hash = 0;
        TIdIRCNamedItem* Head = nullptr; // null: a free slot
    };
    void Place(size_t hash, TIdIRCNamedItem* head);

    std::vector<Slot> FSlots; // a power of two in size
    size_t FUsed = 0;
};
