#include "common/MemoryResultTree.h"

#include <algorithm>

namespace corvello {

TreeItem MemoryResultTree::insertItem(TreeItem parent, const std::u16string& text, IconKind icon, ItemData data,
                                      TextColor color) {
    std::lock_guard lock(mutex_);
    if (parent != kTreeTop && nodes_.find(parent) == nodes_.end()) return 0;
    const TreeItem item = next_++;
    Node node;
    node.parent = parent;
    node.text = text;
    node.icon = icon;
    node.data = data;
    node.color = color;
    nodes_.emplace(item, std::move(node));
    if (parent == kTreeTop)
        top_.push_back(item);
    else
        nodes_[parent].children.push_back(item);
    return item;
}

void MemoryResultTree::expand(TreeItem item) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    if (it != nodes_.end()) it->second.expanded = true;
}

void MemoryResultTree::eraseSubtree(TreeItem item) {
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    const std::vector<TreeItem> kids = it->second.children;
    for (TreeItem child : kids) eraseSubtree(child);
    nodes_.erase(item);
}

void MemoryResultTree::deleteItem(TreeItem item) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    const TreeItem parent = it->second.parent;
    auto& siblings = parent == kTreeTop ? top_ : nodes_[parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    eraseSubtree(item);
}

void MemoryResultTree::deleteAllItems() {
    std::lock_guard lock(mutex_);
    nodes_.clear();
    top_.clear();
}

void MemoryResultTree::setItemText(TreeItem item, const std::u16string& text) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    if (it != nodes_.end()) it->second.text = text;
}

std::vector<TreeItem> MemoryResultTree::children(TreeItem parent) const {
    std::lock_guard lock(mutex_);
    if (parent == kTreeTop) return top_;
    auto it = nodes_.find(parent);
    return it == nodes_.end() ? std::vector<TreeItem>{} : it->second.children;
}

std::u16string MemoryResultTree::itemText(TreeItem item) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    return it == nodes_.end() ? std::u16string{} : it->second.text;
}

ItemData MemoryResultTree::itemData(TreeItem item) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    return it == nodes_.end() ? 0 : it->second.data;
}

IconKind MemoryResultTree::itemIcon(TreeItem item) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    return it == nodes_.end() ? IconKind::File : it->second.icon;
}

TextColor MemoryResultTree::itemColor(TreeItem item) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    return it == nodes_.end() ? kDefaultColor : it->second.color;
}

bool MemoryResultTree::isExpanded(TreeItem item) const {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(item);
    return it != nodes_.end() && it->second.expanded;
}

std::size_t MemoryResultTree::size() const {
    std::lock_guard lock(mutex_);
    return nodes_.size();
}

TreeItem MemoryResultTree::root() const {
    std::lock_guard lock(mutex_);
    return top_.empty() ? 0 : top_.front();
}

}  // namespace corvello
