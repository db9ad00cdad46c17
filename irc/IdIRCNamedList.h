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

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The hooks an item carries so that its list can index it without a second allocation.
class TIdIRCNamedItem {
private:
    template <typename> friend class TIdIRCNamedList;
    std::string FFoldedName;                 // the folded name the item is indexed under
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
        IRCFoldName(name, FScratchKey);
        const auto found = FIndex.find(FScratchKey);
        return found == FIndex.end() ? nullptr : static_cast<T*>(found->second);
    }

    // True when item is the first by position among those sharing its folded name.
    bool IsFirstOfItsName(const T* item) const {
        const auto found = FIndex.find(item->FFoldedName);
        return found != FIndex.end() && found->second == item;
    }

    T* Append(std::unique_ptr<T> item, std::string_view name) {
        T* added = item.get();
        added->FListPosition = Count();
        IRCFoldName(name, added->FFoldedName);
        FItems.push_back(std::move(item));
        Link(added);
        return added;
    }

    // Re-indexes an item of this list under a new name.
    void Rename(T* item, std::string_view name) {
        Unlink(item);
        IRCFoldName(name, item->FFoldedName);
        Link(item);
    }

    // Takes an item out of the list and hands it back, so that the caller decides when it dies.
    std::unique_ptr<T> Extract(T* item) {
        Unlink(item);
        const auto position = static_cast<size_t>(item->FListPosition);
        std::unique_ptr<T> owned = std::move(FItems[position]);
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(position));
        for (size_t i = position; i < FItems.size(); ++i) {
            FItems[i]->FListPosition = static_cast<int32_t>(i);
        }
        return owned;
    }

    void Clear() {
        FIndex.clear();
        // Freed from the back, so that an item's destructor never sees a renumbering.
        while (!FItems.empty()) {
            FItems.pop_back();
        }
    }

private:
    void Link(TIdIRCNamedItem* item) {
        auto [slot, inserted] = FIndex.try_emplace(item->FFoldedName, item);
        if (inserted) {
            item->FNextSameKey = nullptr;
            return;
        }
        TIdIRCNamedItem* head = slot->second;
        if (item->FListPosition < head->FListPosition) {
            item->FNextSameKey = head;
            slot->second = item;
            return;
        }
        while (head->FNextSameKey != nullptr &&
               head->FNextSameKey->FListPosition < item->FListPosition) {
            head = head->FNextSameKey;
        }
        item->FNextSameKey = head->FNextSameKey;
        head->FNextSameKey = item;
    }

    void Unlink(TIdIRCNamedItem* item) {
        const auto slot = FIndex.find(item->FFoldedName);
        if (slot->second == item) {
            if (item->FNextSameKey == nullptr) {
                FIndex.erase(slot);
            } else {
                slot->second = item->FNextSameKey;
            }
        } else {
            TIdIRCNamedItem* before = slot->second;
            while (before->FNextSameKey != item) {
                before = before->FNextSameKey;
            }
            before->FNextSameKey = item->FNextSameKey;
        }
        item->FNextSameKey = nullptr;
    }

    std::vector<std::unique_ptr<T>> FItems;
    std::unordered_map<std::string, TIdIRCNamedItem*> FIndex;
    mutable std::string FScratchKey; // Find folds into it: no allocation per lookup once warm
};
