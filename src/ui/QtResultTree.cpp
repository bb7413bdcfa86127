#include "ui/QtResultTree.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>
#include <QThread>

#include "ui/QtText.h"

namespace corvello::ui {

QtResultTree::QtResultTree(CXHtmlTree* view, QObject* parent) : QObject(parent), view_(view) {
    QFileIconProvider provider;
    view_->SetImageList({folderIcon(), QIcon(), provider.icon(QFileIconProvider::File)});
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
        HTREEITEM parentItem = TVI_ROOT;
        if (parent != kTreeTop) {
            parentItem = items_.value(parent, nullptr);
            if (parentItem == nullptr) return;
        }
        TVINSERTSTRUCT insert;
        insert.hParent = parentItem;
        insert.text = name;
        insert.image = icon == IconKind::Folder ? kFolderImage : icon == IconKind::Placeholder ? kPlaceholderImage : kFileImage;
        insert.selectedImage = insert.image;
        insert.lParam = data;
        HTREEITEM item = view_->InsertItem(insert);
        if (item == nullptr) return;
        if (icon == IconKind::File) item->setIcon(0, fileIcon(name));
        if (color == kDeletedColor) view_->SetItemTextColor(item, kDeletedTextColor);
        items_.insert(id, item);
        ids_.insert(item, id);
        emit itemShown(item, icon);
    });
    return id;
}

void QtResultTree::expand(TreeItem item) {
    model_.expand(item);
    replay([this, item] {
        if (HTREEITEM w = items_.value(item, nullptr)) view_->Expand(w, TVE_EXPAND);
    });
}

void QtResultTree::forget(HTREEITEM item) {
    for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
    items_.remove(ids_.value(item, 0));
    ids_.remove(item);
}

void QtResultTree::deleteItem(TreeItem item) {
    model_.deleteItem(item);
    replay([this, item] {
        HTREEITEM w = items_.value(item, nullptr);
        if (w == nullptr) return;
        emit itemRemoving(w);
        forget(w);
        view_->DeleteItem(w);
    });
}

void QtResultTree::deleteAllItems() {
    model_.deleteAllItems();
    replay([this] {
        items_.clear();
        ids_.clear();
        view_->DeleteAllItems();
        emit allRemoved();
    });
}

void QtResultTree::setItemText(TreeItem item, const std::u16string& text) {
    model_.setItemText(item, text);
    replay([this, item, name = qs(text)] {
        if (HTREEITEM w = items_.value(item, nullptr)) {
            w->setText(0, name);
            w->setToolTip(0, name);
        }
    });
}

}  // namespace corvello::ui
