#include "base/Component.h"
#include "base/Collection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Log;

class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::string name) : TComponent(owner) { SetName(std::move(name)); }
    ~Probe() override { Log.push_back("free " + Name()); }
    bool LoadedRan = false;

protected:
    void Loaded() override {
        TComponent::Loaded();
        LoadedRan = true;
        Log.push_back("loaded " + Name());
    }
};

TEST(Component, OwnerFreesWhatItOwnsLastFirst) {
    Log.clear();
    auto* root = new Probe(nullptr, "root");
    auto* a = new Probe(root, "a");
    new Probe(root, "b");
    new Probe(a, "a1");
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(a->Owner(), root);
    delete root;
    EXPECT_EQ(Log, (std::vector<std::string>{"free root", "free b", "free a", "free a1"}));
}

TEST(Component, FreeingAnOwnedComponentLeavesItsOwnersList) {
    Log.clear();
    Probe root(nullptr, "root");
    auto* a = new Probe(&root, "a");
    new Probe(&root, "b");
    delete a;
    ASSERT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(root.Components(0)->Name(), "b");
}

TEST(Component, LoadingRunsTheAfterLoadingStepOnceOwnedFirst) {
    Log.clear();
    Probe root(nullptr, "root");
    new Probe(&root, "child");
    root.BeginLoading();
    EXPECT_TRUE(root.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_TRUE(root.Components(0)->ComponentState().Contains(TComponentStateFlag::csLoading));
    root.EndLoading();
    EXPECT_FALSE(root.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_EQ(Log, (std::vector<std::string>{"loaded child", "loaded root"}));
    root.EndLoading(); // not loading any more: no second step
    EXPECT_EQ(Log.size(), 2u);
    root.SetDesigning(true);
    EXPECT_TRUE(root.ComponentState().Contains(TComponentStateFlag::csDesigning));
}

TEST(CollectionItem, BelongsToItsCollectionAndRefusesForeignCopies) {
    auto* items = new TCollection;
    auto* item = new TCollectionItem(items);
    EXPECT_EQ(items->Count(), 1);
    EXPECT_EQ(item->Collection(), items);
    EXPECT_THROW(item->Assign(TObject()), EConvertError);
    delete item;
    EXPECT_EQ(items->Count(), 0);
    new TCollectionItem(items);
    delete items; // frees its item
}

} // namespace
