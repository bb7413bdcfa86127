#pragma once
// A tree with tri-state check boxes: checking an item checks its whole subtree, and every
// ancestor shows checked, unchecked or mixed from the counts of its checked descendants. Keeps
// a record per item (check state, counts, expansion, text colour) and tells the page which item
// was clicked, checked or expanded.

#include <QIcon>
#include <QList>
#include <QTreeWidget>
#include <cstdint>
#include <unordered_map>

namespace corvello::ui {

using HTREEITEM = QTreeWidgetItem*;
inline HTREEITEM const TVI_ROOT = nullptr;

// Expand codes.
enum : int { TVE_COLLAPSE = 0x0001, TVE_EXPAND = 0x0002, TVE_TOGGLE = 0x0003, TVE_COLLAPSERESET = 0x8000 };

// Colours are 0x00BBGGRR values; -1 means the default.
inline constexpr std::int32_t kDefaultTextColor = -1;
inline constexpr std::int32_t kDeletedTextColor = 0x0000FF;  // red

// State images: 1 unchecked, 2 checked, 3 mixed; +4 disabled.
enum : int { kStateUnchecked = 1, kStateChecked = 2, kStateTriState = 3, kStateDisabledOffset = 4 };

struct XHTMLTREEDATA {
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
struct TVINSERTSTRUCT {
    HTREEITEM hParent = TVI_ROOT;
    HTREEITEM hInsertAfter = nullptr;  // null: as the last child
    bool first = false;                // as the first child (hInsertAfter is then ignored)
    QString text;
    int image = 0;
    int selectedImage = 0;
    std::uint64_t lParam = 0;
};

class CXHtmlTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CXHtmlTree(QWidget* parent = nullptr);
    ~CXHtmlTree() override;

    // Check boxes and tooltips on, the tree emptied.
    void InitCheckTree();
    void SetSmartCheckBox(bool on) { smartCheck_ = on; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    void SetImages(bool on) { images_ = on; }
    void SetImageList(const QList<QIcon>& icons) { imageList_ = icons; }
    bool GetSmartCheckBox() const { return smartCheck_; }

    // Inserts text as the last child of parent (TVI_ROOT for the top level).
    HTREEITEM InsertItem(const QString& text, int image = 0, int selectedImage = 0, HTREEITEM parent = TVI_ROOT);
    HTREEITEM InsertItem(const TVINSERTSTRUCT& insert);
    void DeleteItem(HTREEITEM item);
    void DeleteAllItems();

    void SetCheck(HTREEITEM item, bool check);
    // The aggregated state: with smart check boxes and descendants, true when all of them are
    // checked; otherwise the item's own state.
    bool GetCheck(HTREEITEM item) const;
    // 1 unchecked, 2 checked, 3 mixed, +4 when disabled; 0 for an unknown item.
    int GetStateImage(HTREEITEM item) const;

    void Expand(HTREEITEM item, int code);
    void EnableItem(HTREEITEM item, bool enable);

    // Sets the text colour to red; returns the previous colour.
    std::int32_t MarkDeleted(HTREEITEM item);
    void SetItemTextColor(HTREEITEM item, std::int32_t color);
    std::int32_t GetItemTextColor(HTREEITEM item) const;

    QString GetItemText(HTREEITEM item) const;
    std::uint64_t GetItemData(HTREEITEM item) const;
    void SetItemData(HTREEITEM item, std::uint64_t value);

    // The item's record; null for an unknown item or while the tree is being cleared.
    XHTMLTREEDATA* GetItemDataStruct(HTREEITEM item);
    const XHTMLTREEDATA* GetItemDataStruct(HTREEITEM item) const;

signals:
    // "WM_XHTMLTREE_CHECKBOX_CLICKED": the item's check state was set.
    void checkboxClicked(QTreeWidgetItem* item, bool checked);
    // "WM_XHTMLTREE_ITEM_EXPANDED": the item was expanded (true) or collapsed (false).
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
    void applyState(HTREEITEM item);
    void setSubtree(HTREEITEM item, bool check);
    void forgetSubtree(HTREEITEM item);
    void expandSubtree(HTREEITEM item);
    void noteExpansion(HTREEITEM item, bool expanded);
    QRect checkBoxRect(HTREEITEM item) const;

    std::unordered_map<HTREEITEM, XHTMLTREEDATA> records_;
    bool destroying_ = false;  // while set, record lookups fail (no count updates)
    bool checkBoxes_ = false;
    bool smartCheck_ = false;
    bool readOnly_ = false;
    bool images_ = true;
    QList<QIcon> imageList_;
};

}  // namespace corvello::ui
