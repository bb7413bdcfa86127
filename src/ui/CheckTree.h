#pragma once
// The results tree (CXHtmlTree in the original design): a tree with tri-state check boxes.
// Checking an item checks its whole subtree, and every ancestor shows checked, unchecked or mixed
// from the counts of its checked descendants. Keeps a record per item (check state, counts,
// expansion, text colour) and tells the page which item was clicked, checked or expanded.

#include <QIcon>
#include <QList>
#include <QTreeWidget>
#include <cstdint>
#include <unordered_map>

namespace corvello::ui {

// What setExpansion does to an item.
enum ExpandCode : int { kCollapse = 0x0001, kExpand = 0x0002, kToggle = 0x0003, kCollapseReset = 0x8000 };

// Colours are 0x00BBGGRR values; -1 means the default.
inline constexpr std::int32_t kDefaultTextColor = -1;
inline constexpr std::int32_t kDeletedTextColor = 0x0000FF;  // red

// State images: 1 unchecked, 2 checked, 3 mixed; +4 disabled.
enum : int { kStateUnchecked = 1, kStateChecked = 2, kStateTriState = 3, kStateDisabledOffset = 4 };

struct CheckItemState {
    bool checked = false;
    bool enabled = true;
    bool separator = false;
    QTreeWidget* tree = nullptr;
    bool expanded = false;
    bool wasExpanded = false;
    int childCount = 0;      // descendants counted for the check aggregation
    int checkedCount = 0;    // how many of them are checked
    int separatorCount = 0;  // how many of them are separators
    QString toolTip;
    std::int32_t textColor = kDefaultTextColor;
    std::int32_t anchorColor = 0xFF0000;
    std::int32_t backColor = -1;
};

// A full insertion record: where (parent, and after which sibling), what, and the item data.
struct TreeInsert {
    QTreeWidgetItem* parent = nullptr;
    QTreeWidgetItem* after = nullptr;  // null: as the last child
    bool first = false;                // as the first child (after is then ignored)
    QString text;
    int image = 0;
    int selectedImage = 0;
    std::uint64_t data = 0;
};

class CheckTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CheckTree(QWidget* parent = nullptr);
    ~CheckTree() override;

    // Check boxes and tooltips on, the tree emptied.
    void initCheckTree();
    void setSmartCheckBox(bool on) { smartCheck_ = on; }
    void setReadOnlyChecks(bool on) { readOnly_ = on; }
    void setImages(bool on) { images_ = on; }
    void setImageList(const QList<QIcon>& icons) { imageList_ = icons; }
    bool smartCheckBox() const { return smartCheck_; }

    // Inserts text as the last child of parent (nullptr for the top level).
    QTreeWidgetItem* insertItem(const QString& text, int image = 0, int selectedImage = 0, QTreeWidgetItem* parent = nullptr);
    QTreeWidgetItem* insertItem(const TreeInsert& insert);
    void deleteItem(QTreeWidgetItem* item);
    void deleteAllItems();

    void setCheck(QTreeWidgetItem* item, bool check);
    // The aggregated state: with smart check boxes and descendants, true when all of them are
    // checked; otherwise the item's own state.
    bool isChecked(QTreeWidgetItem* item) const;
    // 1 unchecked, 2 checked, 3 mixed, +4 when disabled; 0 for an unknown item.
    int stateImage(QTreeWidgetItem* item) const;

    void setExpansion(QTreeWidgetItem* item, int code);
    void setItemEnabled(QTreeWidgetItem* item, bool enable);

    // Sets the text colour to red; returns the previous colour.
    std::int32_t markDeleted(QTreeWidgetItem* item);
    void setItemTextColor(QTreeWidgetItem* item, std::int32_t color);
    std::int32_t itemTextColor(QTreeWidgetItem* item) const;

    QString itemText(QTreeWidgetItem* item) const;
    std::uint64_t itemData(QTreeWidgetItem* item) const;
    void setItemData(QTreeWidgetItem* item, std::uint64_t value);

    // The item's record; null for an unknown item or while the tree is being cleared.
    CheckItemState* itemState(QTreeWidgetItem* item);
    const CheckItemState* itemState(QTreeWidgetItem* item) const;

signals:
    // The item's check state was set.
    void checkboxClicked(QTreeWidgetItem* item, bool checked);
    // The item was expanded (true) or collapsed (false).
    void itemExpandedChanged(QTreeWidgetItem* item, bool expanded);
    // A press on an item's label (the page fills its file list).
    void labelClicked(QTreeWidgetItem* item);
    // A right-button press on an item.
    void rightClicked(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyState(QTreeWidgetItem* item);
    void setSubtree(QTreeWidgetItem* item, bool check);
    void forgetSubtree(QTreeWidgetItem* item);
    void expandSubtree(QTreeWidgetItem* item);
    void noteExpansion(QTreeWidgetItem* item, bool expanded);
    QRect checkBoxRect(QTreeWidgetItem* item) const;

    std::unordered_map<QTreeWidgetItem*, CheckItemState> records_;
    bool destroying_ = false;  // while set, record lookups fail (no count updates)
    bool checkBoxes_ = false;
    bool smartCheck_ = false;
    bool readOnly_ = false;
    bool images_ = true;
    QList<QIcon> imageList_;
};

}  // namespace corvello::ui
