#include "base/Collection.h"

#include <algorithm>
#include <typeinfo>

TCollection::~TCollection() {
    while (!FItems.empty()) {
        delete FItems.back();
    }
}

TCollectionItem::TCollectionItem(TCollection* collection) : FCollection(collection) {
    if (FCollection != nullptr) {
        FCollection->FItems.push_back(this);
    }
}

TCollectionItem::~TCollectionItem() {
    if (FCollection != nullptr) {
        auto& items = FCollection->FItems;
        items.erase(std::remove(items.begin(), items.end(), this), items.end());
    }
}

void TCollectionItem::Assign(const TObject& source) {
    throw EConvertError(std::string("Cannot assign a ") + typeid(source).name() + " to a " +
                        typeid(*this).name());
}
