#include "ui/QtResultTree.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>
#include <QThread>

#include "ui/QtText.h"

namespace corvello::ui {

QtResultTree::QtResultTree(CheckTree* view, QObject* parent) : QObject(parent), view_(view) {
    QFileIconProvider provider;
    view_->setImageList({folderIcon(), QIcon(), provider.icon(QFileIconProvider::File)});
}

QIcon QtResultTree::folderIcon() {
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    return icon;
}

QIcon QtResultTree::fileIcon(const QString& name) {
    // One look-up per extension: a folder of thousands of files has few kinds.
    static QHash<QString, QIcon> byExtension;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    auto it = byExtension.find(extension);
    if (it != byExtension.end()) return *it;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
    byExtension.insert(extension, icon);
    return icon;
}

template <class F>
void QtResultTree::replay(F&& change) {
    if (QThread::currentThread() == thread())
        change();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(change), Qt::QueuedConnection);
}

TreeItem QtResultTree::insertItem(TreeItem parent, const std::u16string& text, IconKind icon, ItemData data,
                                  TextColor color) {
    const TreeItem id = model_.insertItem(parent, text, icon, data, color);
    if (id == 0) return 0;
    replay([this, parent, id, name = qs(text), icon, data, color] {
        QTreeWidgetItem* parentItem = nullptr;
        if (parent != kTreeTop) {
            parentItem = items_.value(parent, nullptr);
            if (parentItem == nullptr) return;
        }
        TreeInsert insert;
        insert.parent = parentItem;
        insert.text = name;
        insert.image = icon == IconKind::Folder ? kFolderImage : icon == IconKind::Placeholder ? kPlaceholderImage : kFileImage;
        insert.selectedImage = insert.image;
        insert.data = data;
        QTreeWidgetItem* item = view_->insertItem(insert);
        if (item == nullptr) return;
        if (icon == IconKind::File) item->setIcon(0, fileIcon(name));
        if (color == kDeletedColor) view_->setItemTextColor(item, kDeletedTextColor);
        items_.insert(id, item);
        ids_.insert(item, id);
        emit itemShown(item, icon);
    });
    return id;
}

void QtResultTree::expand(TreeItem item) {
    model_.expand(item);
    replay([this, item] {
        if (QTreeWidgetItem* w = items_.value(item, nullptr)) view_->setExpansion(w, kExpand);
    });
}

void QtResultTree::forget(QTreeWidgetItem* item) {
    for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
    items_.remove(ids_.value(item, 0));
    ids_.remove(item);
}

void QtResultTree::deleteItem(TreeItem item) {
    model_.deleteItem(item);
    replay([this, item] {
        QTreeWidgetItem* w = items_.value(item, nullptr);
        if (w == nullptr) return;
        emit itemRemoving(w);
        forget(w);
        view_->deleteItem(w);
    });
}

void QtResultTree::deleteAllItems() {
    model_.deleteAllItems();
    replay([this] {
        items_.clear();
        ids_.clear();
        view_->deleteAllItems();
        emit allRemoved();
    });
}

void QtResultTree::setItemText(TreeItem item, const std::u16string& text) {
    model_.setItemText(item, text);
    replay([this, item, name = qs(text)] {
        if (QTreeWidgetItem* w = items_.value(item, nullptr)) {
            w->setText(0, name);
            w->setToolTip(0, name);
        }
    });
}

}  // namespace corvello::ui
