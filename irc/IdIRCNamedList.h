// An ordered list of owned items that is also indexed by folded name, the container under the
// user, channel and member registries.
//
// The list keeps insertion order and 0-based positions. Beside it, a hash index maps each
// folded name to the first item (by position) that carries it; further items with the same
// folded name hang off that one in position order. Names are unique on arrival, but a rename
// may give two items the same name, and then the first by position is the one a search from
// index 0 would meet. So finding by name, finding an item's position, and appending cost O(1)
// expected; removing an item renumbers the items behind it, which costs nothing for the last
// item (where the per-line users come and go) and one pass over the tail otherwise.
#pragma once

#include "IdIRCCaseFold.h"
#include "IdIRCNameIndex.h"
#include "IdIRCSameBytes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The hooks an item carries so that its list can index it without a second allocation.
class TIdIRCNamedItem {
private:
    template <typename> friend class TIdIRCNamedList;
    friend class TIdIRCNameIndex;
    std::string FFoldedName;                 // the folded name the item is indexed under
    size_t FHash = 0;                        // its hash, kept for unlinking
    int32_t FListPosition = -1;              // 0-based position in its list
    TIdIRCNamedItem* FNextSameKey = nullptr; // next item with FFoldedName, by position
};

template <typename T> class TIdIRCNamedList {
public:
    TIdIRCNamedList() = default;
    TIdIRCNamedList(const TIdIRCNamedList&) = delete;
    TIdIRCNamedList& operator=(const TIdIRCNamedList&) = delete;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }

    // The item at a position; outside the list, the list's index error.
    T* At(int32_t index) const {
        if (index < 0 || index >= Count()) {
            throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
        }
        return FItems[static_cast<size_t>(index)].get();
    }

    static int32_t PositionOf(const T* item) { return item->FListPosition; }

    // The first item by position whose name folds like name, or null.
    T* Find(std::string_view name) const {
        // The same name as the last lookup (a flood from one sender, a run of replies about
        // one nick) reuses its folded form and hash: comparing the name costs less than
        // folding and hashing it again.
        if (!SameBytes(name, FScratchName)) {
            FScratchName.assign(name);
            IRCFoldName(name, FScratchKey);
            FScratchHash = TIdIRCNameIndex::Hash(FScratchKey);
        }
        const size_t slot = FIndex.Find(FScratchKey, FScratchHash);
        return slot == TIdIRCNameIndex::NoSlot ? nullptr : static_cast<T*>(FIndex.Head(slot));
    }

    T* Append(std::unique_ptr<T> item, std::string_view name) {
        T* added = item.get();
        added->FListPosition = Count();
        Fold(name, added);
        FItems.push_back(std::move(item));
        Link(added);
        return added;
    }

    // Append for the name the last Find missed, with nothing changed since: that search has
    // folded and hashed the name already, and no item carries it. Where every line's sender
    // comes and goes, this halves the cost of the coming.
    T* AppendMissed(std::unique_ptr<T> item) {
        T* added = item.get();
        added->FListPosition = Count();
        added->FFoldedName.assign(FScratchKey);
        added->FHash = FScratchHash;
        added->FNextSameKey = nullptr;
        FItems.push_back(std::move(item));
        FIndex.Insert(added->FHash, added);
        return added;
    }

    // Re-indexes an item of this list under a new name.
    void Rename(T* item, std::string_view name) {
        Unlink(item);
        Fold(name, item);
        Link(item);
    }

    // Takes an item out of the list and hands it back, so that the caller decides when it dies.
    std::unique_ptr<T> Extract(T* item) {
        Unlink(item);
        return Remove(item);
    }

    // Extract, but only when the item is the first by position among those sharing its folded
    // name; else null. One search of the index serves both.
    std::unique_ptr<T> ExtractIfFirstOfItsName(T* item) {
        const size_t slot = FIndex.FindHead(item->FHash, item);
        if (slot == TIdIRCNameIndex::NoSlot) {
            return nullptr;
        }
        if (item->FNextSameKey == nullptr) {
            FIndex.Erase(slot);
        } else {
            FIndex.Head(slot) = item->FNextSameKey;
            item->FNextSameKey = nullptr;
        }
        return Remove(item);
    }

    void Clear() {
        FIndex.Clear();
        // Freed from the back, so that an item's destructor never sees a renumbering.
        while (!FItems.empty()) {
            FItems.pop_back();
        }
    }

private:
    // Takes an unlinked item out of the list.
    std::unique_ptr<T> Remove(T* item) {
        const auto position = static_cast<size_t>(item->FListPosition);
        std::unique_ptr<T> owned = std::move(FItems[position]);
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(position));
        for (size_t i = position; i < FItems.size(); ++i) {
            FItems[i]->FListPosition = static_cast<int32_t>(i);
        }
        return owned;
    }

    static void Fold(std::string_view name, TIdIRCNamedItem* item) {
        IRCFoldName(name, item->FFoldedName);
        item->FHash = TIdIRCNameIndex::Hash(item->FFoldedName);
    }

    void Link(TIdIRCNamedItem* item) {
        item->FNextSameKey = nullptr;
        const size_t slot = FIndex.Find(item->FFoldedName, item->FHash);
        if (slot == TIdIRCNameIndex::NoSlot) {
            FIndex.Insert(item->FHash, item);
            return;
        }
        TIdIRCNamedItem*& head = FIndex.Head(slot);
        if (item->FListPosition < head->FListPosition) {
            item->FNextSameKey = head;
            head = item;
            return;
        }
        TIdIRCNamedItem* before = head;
        while (before->FNextSameKey != nullptr &&
               before->FNextSameKey->FListPosition < item->FListPosition) {
            before = before->FNextSameKey;
        }
        item->FNextSameKey = before->FNextSameKey;
        before->FNextSameKey = item;
    }

    void Unlink(TIdIRCNamedItem* item) {
        const size_t slot = FIndex.Find(item->FFoldedName, item->FHash);
        TIdIRCNamedItem*& head = FIndex.Head(slot);
        if (head == item) {
            if (item->FNextSameKey == nullptr) {
                FIndex.Erase(slot);
            } else {
                head = item->FNextSameKey;
            }
        } else {
            TIdIRCNamedItem* before = head;
            while (before->FNextSameKey != item) {
                before = before->FNextSameKey;
            }
            before->FNextSameKey = item->FNextSameKey;
        }
        item->FNextSameKey = nullptr;
    }

    std::vector<std::unique_ptr<T>> FItems;
    TIdIRCNameIndex FIndex;
    mutable std::string FScratchName; // the name Find last looked up, as given
    mutable std::string FScratchKey;  // Find folds into it: no allocation per lookup once warm
    mutable size_t FScratchHash = 0;  // and hashes into this
};
