#pragma once
// ResultTree kept in memory, for the command line and the tests.

#include <map>
#include <mutex>

#include "common/ResultTree.h"

namespace corvello {

class MemoryResultTree : public ResultTree {
public:
    TreeItem insertItem(TreeItem parent, const std::u16string& text, IconKind icon, ItemData data,
                        TextColor color = kDefaultColor) override;
    void expand(TreeItem item) override;
    void deleteItem(TreeItem item) override;
    void deleteAllItems() override;
    void setItemText(TreeItem item, const std::u16string& text) override;

    std::vector<TreeItem> children(TreeItem parent) const override;
    std::u16string itemText(TreeItem item) const override;
    ItemData itemData(TreeItem item) const override;
    IconKind itemIcon(TreeItem item) const override;
    TextColor itemColor(TreeItem item) const override;

    bool isExpanded(TreeItem item) const;
    std::size_t size() const;
    // The first top-level item, or 0.
    TreeItem root() const;

private:
    struct Node {
        TreeItem parent = kTreeTop;
        std::u16string text;
        IconKind icon = IconKind::File;
        ItemData data = 0;
        TextColor color = kDefaultColor;
        bool expanded = false;
        std::vector<TreeItem> children;
    };
    void eraseSubtree(TreeItem item);

    mutable std::mutex mutex_;
    std::map<TreeItem, Node> nodes_;
    std::vector<TreeItem> top_;
    TreeItem next_ = 1;
};

}  // namespace corvello
