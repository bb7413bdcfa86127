#pragma once
// The sink a parser fills with its results, and that the scan layer walks afterwards: the
// wizard implements it on its check-box tree, the command line and the tests in memory.

#include <cstdint>
#include <string>
#include <vector>

namespace corvello {

using TreeItem = std::uint64_t;      // 0 stands for "no item" and, as a parent, for the top level
using ItemData = std::uint64_t;      // a parser's record reference (address, index or node ID)

inline constexpr TreeItem kTreeTop = 0;

enum class IconKind : std::uint8_t {
    Folder,       // folder icon
    File,         // the file-type icon for the item's name
    Placeholder,  // "..DUMY..": image 1
};

// What an item's text colour says; each front end picks the colour that shows it.
enum class TextColor : std::uint8_t {
    Default,  // the tree's own text colour
    Deleted,  // a deleted entry
};
inline constexpr TextColor kDefaultColor = TextColor::Default;
inline constexpr TextColor kDeletedColor = TextColor::Deleted;

class ResultTree {
public:
    virtual ~ResultTree() = default;

    // Inserts an item at the end of parent's children and returns it.
    virtual TreeItem insertItem(TreeItem parent, const std::u16string& text, IconKind icon, ItemData data,
                                TextColor color = kDefaultColor) = 0;
    virtual void expand(TreeItem item) = 0;
    virtual void deleteItem(TreeItem item) = 0;
    virtual void deleteAllItems() = 0;
    virtual void setItemText(TreeItem item, const std::u16string& text) = 0;

    virtual std::vector<TreeItem> children(TreeItem parent) const = 0;
    virtual std::u16string itemText(TreeItem item) const = 0;
    virtual ItemData itemData(TreeItem item) const = 0;
    virtual IconKind itemIcon(TreeItem item) const = 0;
    virtual TextColor itemColor(TreeItem item) const = 0;
};

}  // namespace corvello
