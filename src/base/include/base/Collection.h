// A small collection-item base: an item may belong to a collection that owns it, and copying
// one item from another is refused unless the item's class knows how to copy that source.
#pragma once

#include "base/Exception.h"

#include <vector>

class TCollectionItem;

class TCollection : public TObject {
public:
    TCollection() = default;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;
    ~TCollection() override; // frees the items

    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem* Items(int index) const { return FItems.at(static_cast<size_t>(index)); }

private:
    friend class TCollectionItem;
    std::vector<TCollectionItem*> FItems;
};

class TCollectionItem : public TObject {
public:
    explicit TCollectionItem(TCollection* collection);
    ~TCollectionItem() override;
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;

    TCollection* Collection() const { return FCollection; }

    // Copy from another object; the base refuses with EConvertError.
    virtual void Assign(const TObject& source);

private:
    TCollection* FCollection = nullptr;
};
