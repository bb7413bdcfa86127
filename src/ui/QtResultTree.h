#pragma once
// ResultTree for a page's check-box tree. The items live in a thread-safe model that answers
// the scan layer at once; every change is replayed on the CheckTree on the user-interface
// thread (directly there, queued from a worker), in the order it was made. Workers never touch
// the widget.

#include <QHash>
#include <QIcon>
#include <QObject>

#include "common/MemoryResultTree.h"
#include "common/ResultTree.h"
#include "ui/CheckTree.h"

namespace corvello::ui {

// Images of the tree's image list.
enum TreeImage : int { kFolderImage = 0, kPlaceholderImage = 1, kFileImage = 2 };

class QtResultTree : public QObject, public ResultTree {
    Q_OBJECT
public:
    // view: the page's tree; this object lives on the user-interface thread with it.
    QtResultTree(CheckTree* view, QObject* parent);

    TreeItem insertItem(TreeItem parent, const std::u16string& text, IconKind icon, ItemData data,
                        TextColor color = kDefaultColor) override;
    void expand(TreeItem item) override;
    void deleteItem(TreeItem item) override;
    void deleteAllItems() override;
    void setItemText(TreeItem item, const std::u16string& text) override;

    std::vector<TreeItem> children(TreeItem parent) const override { return model_.children(parent); }
    std::u16string itemText(TreeItem item) const override { return model_.itemText(item); }
    ItemData itemData(TreeItem item) const override { return model_.itemData(item); }
    IconKind itemIcon(TreeItem item) const override { return model_.itemIcon(item); }
    TextColor itemColor(TreeItem item) const override { return model_.itemColor(item); }

    // The widget's item for a tree item and back (user-interface thread); null / 0 when unknown.
    QTreeWidgetItem* widgetItem(TreeItem item) const { return items_.value(item, nullptr); }
    TreeItem treeItem(QTreeWidgetItem* item) const { return ids_.value(item, 0); }

    // The icon shown for a file of this name.
    static QIcon fileIcon(const QString& name);
    static QIcon folderIcon();

signals:
    // Told on the user-interface thread as the widget changes: an item was placed in it, an item
    // (with everything below it) is about to leave it, every item has left it.
    void itemShown(QTreeWidgetItem* item, corvello::IconKind icon);
    void itemRemoving(QTreeWidgetItem* item);
    void allRemoved();

private:
    // Runs change on the widget now (user-interface thread) or queued (worker).
    template <class F>
    void replay(F&& change);
    void forget(QTreeWidgetItem* item);

    MemoryResultTree model_;
    CheckTree* view_;
    QHash<TreeItem, QTreeWidgetItem*> items_;
    QHash<QTreeWidgetItem*, TreeItem> ids_;
};

}  // namespace corvello::ui
