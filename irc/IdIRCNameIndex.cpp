#include "IdIRCNameIndex.h"

#include "IdIRCNamedList.h"
#include "IdIRCSameBytes.h"

#include <functional>

size_t TIdIRCNameIndex::Hash(std::string_view folded) {
    return std::hash<std::string_view>{}(folded);
}

size_t TIdIRCNameIndex::Find(std::string_view folded, size_t hash) const {
    if (FSlots.empty()) {
        return NoSlot;
    }
    const size_t mask = FSlots.size() - 1;
    for (size_t i = hash & mask; FSlots[i].Head != nullptr; i = (i + 1) & mask) {
        if (FSlots[i].Hash == hash && SameBytes(FSlots[i].Head->FFoldedName, folded)) {
            return i;
        }
    }
    return NoSlot;
}

size_t TIdIRCNameIndex::FindHead(size_t hash, const TIdIRCNamedItem* head) const {
    if (FSlots.empty()) {
        return NoSlot;
    }
    const size_t mask = FSlots.size() - 1;
    for (size_t i = hash & mask; FSlots[i].Head != nullptr; i = (i + 1) & mask) {
        if (FSlots[i].Head == head) {
            return i;
        }
    }
    return NoSlot;
}

void TIdIRCNameIndex::Place(size_t hash, TIdIRCNamedItem* head) {
    const size_t mask = FSlots.size() - 1;
    size_t i = hash & mask;
    while (FSlots[i].Head != nullptr) {
        i = (i + 1) & mask;
    }
    FSlots[i] = Slot{hash, head};
}

void TIdIRCNameIndex::Insert(size_t hash, TIdIRCNamedItem* head) {
    if ((FUsed + 1) * 2 > FSlots.size()) {
        std::vector<Slot> old(FSlots.empty() ? 16 : FSlots.size() * 2);
        old.swap(FSlots);
        for (const Slot& slot : old) {
            if (slot.Head != nullptr) {
                Place(slot.Hash, slot.Head);
            }
        }
    }
    Place(hash, head);
    ++FUsed;
}

// Backward-shift deletion: every later slot of the same probe run that may move into the hole
// does, so that no lookup stops early at a free slot and no tombstones pile up.
void TIdIRCNameIndex::Erase(size_t slot) {
    const size_t mask = FSlots.size() - 1;
    size_t hole = slot;
    for (size_t j = (slot + 1) & mask; FSlots[j].Head != nullptr; j = (j + 1) & mask) {
        const size_t home = FSlots[j].Hash & mask;
        const bool homeAfterHole =
            hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!homeAfterHole) {
            FSlots[hole] = FSlots[j];
            hole = j;
        }
    }
    FSlots[hole] = Slot{};
    --FUsed;
}

void TIdIRCNameIndex::Clear() {
    FSlots = {};
    FUsed = 0;
}
