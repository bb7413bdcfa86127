#include "ui/CheckTree.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <vector>

namespace corvello::ui {

namespace {

constexpr int kItemDataRole = Qt::UserRole;

QColor fromColorRef(std::int32_t c) {
    const auto v = static_cast<std::uint32_t>(c);
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
}

}  // namespace

CheckTree::CheckTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { noteExpansion(item, true); });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) { noteExpansion(item, false); });
}

CheckTree::~CheckTree() {
    destroying_ = true;
    records_.clear();
}

void CheckTree::initCheckTree() {
    checkBoxes_ = true;
    setMouseTracking(true);
    deleteAllItems();
}

CheckItemState* CheckTree::itemState(QTreeWidgetItem* item) {
    if (destroying_ || item == nullptr) return nullptr;
    const auto it = records_.find(item);
    return it == records_.end() ? nullptr : &it->second;
}

const CheckItemState* CheckTree::itemState(QTreeWidgetItem* item) const {
    if (destroying_ || item == nullptr) return nullptr;
    const auto it = records_.find(item);
    return it == records_.end() ? nullptr : &it->second;
}

int CheckTree::stateImage(QTreeWidgetItem* item) const {
    const CheckItemState* d = itemState(item);
    if (d == nullptr) return 0;
    int image = 0;
    if (smartCheck_ && d->childCount > 0) {
        if (d->checkedCount == 0)
            image = kStateUnchecked;
        else if (d->checkedCount == d->childCount - d->separatorCount)
            image = kStateChecked;
        else
            image = kStateTriState;
    } else {
        image = d->checked ? kStateChecked : kStateUnchecked;
    }
    return d->enabled ? image : image + kStateDisabledOffset;
}

void CheckTree::applyState(QTreeWidgetItem* item) {
    const CheckItemState* d = itemState(item);
    if (d == nullptr) return;
    if (checkBoxes_ && !d->separator) {
        const int image = stateImage(item) & 3;
        const Qt::CheckState state = image == kStateChecked   ? Qt::Checked
                                     : image == kStateTriState ? Qt::PartiallyChecked
                                                               : Qt::Unchecked;
        if (item->data(0, Qt::CheckStateRole) != QVariant(static_cast<int>(state)))
            item->setData(0, Qt::CheckStateRole, static_cast<int>(state));
    }
    Qt::ItemFlags flags = Qt::ItemIsSelectable;
    if (d->enabled) flags |= Qt::ItemIsEnabled;
    if (item->flags() != flags) item->setFlags(flags);
    if (d->textColor == kDefaultTextColor)
        item->setData(0, Qt::ForegroundRole, QVariant());
    else
        item->setForeground(0, fromColorRef(d->textColor));
}

QTreeWidgetItem* CheckTree::insertItem(const QString& text, int image, int selectedImage, QTreeWidgetItem* parent) {
    TreeInsert insert;
    insert.parent = parent;
    insert.text = text;
    insert.image = image;
    insert.selectedImage = selectedImage;
    return insertItem(insert);
}

QTreeWidgetItem* CheckTree::insertItem(const TreeInsert& insert) {
    QTreeWidgetItem* parent = insert.parent;
    if (parent != nullptr && parent->treeWidget() != this) return nullptr;  // not an item of this tree
    auto* item = new QTreeWidgetItem;
    const int count = parent == nullptr ? topLevelItemCount() : parent->childCount();
    int position = count;
    if (insert.first) {
        position = 0;
    } else if (insert.after != nullptr && insert.after->parent() == parent) {
        const int after = parent == nullptr ? indexOfTopLevelItem(insert.after)
                                             : parent->indexOfChild(insert.after);
        if (after >= 0) position = after + 1;
    }
    if (parent == nullptr)
        insertTopLevelItem(position, item);
    else
        parent->insertChild(position, item);
    item->setText(0, insert.text);
    if (images_ && insert.image >= 0 && insert.image < imageList_.size()) item->setIcon(0, imageList_[insert.image]);
    item->setToolTip(0, insert.text);
    if (insert.data != 0) item->setData(0, kItemDataRole, static_cast<qulonglong>(insert.data));
    CheckItemState& d = records_[item];
    d = CheckItemState{};
    d.tree = this;
    d.toolTip = insert.text;
    applyState(item);

    if (smartCheck_) {
        int delta = d.checked ? 1 : 0;
        for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) {
            CheckItemState* pd = itemState(p);
            if (pd == nullptr) break;
            pd->childCount += 1;
            pd->checkedCount = std::max(0, pd->checkedCount + delta);
            const bool was = pd->checked;
            pd->checked = pd->checkedCount == pd->childCount - pd->separatorCount;
            applyState(p);
            if (was != pd->checked) delta += pd->checked ? 1 : -1;
        }
    }
    return item;
}

void CheckTree::setSubtree(QTreeWidgetItem* item, bool check) {
    // Depth first over a stack: the disk decides how deep folders go.
    std::vector<QTreeWidgetItem*> stack{item};
    while (!stack.empty()) {
        QTreeWidgetItem* node = stack.back();
        stack.pop_back();
        if (CheckItemState* d = itemState(node)) {
            d->checked = check;
            d->checkedCount = check ? std::max(0, d->childCount - d->separatorCount) : 0;
            applyState(node);
        }
        for (int i = node->childCount() - 1; i >= 0; --i) stack.push_back(node->child(i));
    }
}

void CheckTree::setCheck(QTreeWidgetItem* item, bool check) {
    if (!checkBoxes_) return;
    CheckItemState* d = itemState(item);
    if (d == nullptr || !d->enabled || d->separator) return;

    const bool old = d->checked;
    if (smartCheck_ && old != check) {
        int delta = check ? d->childCount - d->checkedCount + 1 : -(d->checkedCount + 1);
        setSubtree(item, check);
        for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) {
            CheckItemState* pd = itemState(p);
            if (pd == nullptr) break;
            pd->checkedCount = std::max(0, pd->checkedCount + delta);
            const bool was = pd->checked;
            pd->checked = pd->checkedCount == pd->childCount - pd->separatorCount;
            applyState(p);
            if (was != pd->checked) delta += pd->checked ? 1 : -1;
        }
    } else {
        d->checked = check;
        applyState(item);
    }
    emit checkboxClicked(item, check);
}

bool CheckTree::isChecked(QTreeWidgetItem* item) const {
    const CheckItemState* d = itemState(item);
    if (d == nullptr) return false;
    if (smartCheck_ && d->childCount > 0) return d->checkedCount == d->childCount - d->separatorCount;
    return d->checked;
}

void CheckTree::setItemEnabled(QTreeWidgetItem* item, bool enable) {
    if (CheckItemState* d = itemState(item)) {
        d->enabled = enable;
        applyState(item);
    }
}

void CheckTree::forgetSubtree(QTreeWidgetItem* item) {
    std::vector<QTreeWidgetItem*> stack{item};
    while (!stack.empty()) {
        QTreeWidgetItem* node = stack.back();
        stack.pop_back();
        records_.erase(node);
        for (int i = 0; i < node->childCount(); ++i) stack.push_back(node->child(i));
    }
}

void CheckTree::deleteItem(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    if (const CheckItemState* d = itemState(item); d != nullptr && smartCheck_) {
        const int removed = 1 + d->childCount;
        int removedChecked = (d->checked ? 1 : 0) + d->checkedCount;
        const int removedSeparators = (d->separator ? 1 : 0) + d->separatorCount;
        for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) {
            CheckItemState* pd = itemState(p);
            if (pd == nullptr) break;
            pd->childCount = std::max(0, pd->childCount - removed);
            pd->checkedCount = std::max(0, pd->checkedCount - removedChecked);
            pd->separatorCount = std::max(0, pd->separatorCount - removedSeparators);
            // A folder whose remaining children are all checked now counts as checked itself.
            if (pd->childCount > 0) {
                const bool was = pd->checked;
                pd->checked = pd->checkedCount == pd->childCount - pd->separatorCount;
                if (was != pd->checked) removedChecked += pd->checked ? -1 : 1;
            }
            applyState(p);
        }
    }
    forgetSubtree(item);
    delete item;
}

void CheckTree::deleteAllItems() {
    clearSelection();
    for (int i = 0; i < topLevelItemCount(); ++i) topLevelItem(i)->setExpanded(false);
    destroying_ = true;
    clear();
    records_.clear();
    destroying_ = false;
}

void CheckTree::noteExpansion(QTreeWidgetItem* item, bool expanded) {
    CheckItemState* d = itemState(item);
    if (d == nullptr || d->expanded == expanded) return;
    d->expanded = expanded;
    if (expanded) d->wasExpanded = true;
    emit itemExpandedChanged(item, expanded);
}

void CheckTree::setExpansion(QTreeWidgetItem* item, int code) {
    CheckItemState* d = itemState(item);
    if (d == nullptr) return;
    bool expand = d->expanded;
    if ((code & kToggle) == kToggle)
        expand = !d->expanded;
    else if (code & kExpand)
        expand = true;
    else if ((code & kCollapse) || (code & kCollapseReset))
        expand = false;
    noteExpansion(item, expand);
    item->setExpanded(expand);
}

void CheckTree::expandSubtree(QTreeWidgetItem* item) {
    std::vector<QTreeWidgetItem*> stack{item};
    while (!stack.empty()) {
        QTreeWidgetItem* node = stack.back();
        stack.pop_back();
        setExpansion(node, kExpand);
        for (int i = 0; i < node->childCount(); ++i) stack.push_back(node->child(i));
    }
}

std::int32_t CheckTree::markDeleted(QTreeWidgetItem* item) {
    const std::int32_t previous = itemTextColor(item);
    setItemTextColor(item, kDeletedTextColor);
    return previous;
}

void CheckTree::setItemTextColor(QTreeWidgetItem* item, std::int32_t color) {
    if (CheckItemState* d = itemState(item)) {
        d->textColor = color;
        applyState(item);
    }
}

std::int32_t CheckTree::itemTextColor(QTreeWidgetItem* item) const {
    const CheckItemState* d = itemState(item);
    return d != nullptr ? d->textColor : kDefaultTextColor;
}

QString CheckTree::itemText(QTreeWidgetItem* item) const { return item != nullptr ? item->text(0) : QString(); }

std::uint64_t CheckTree::itemData(QTreeWidgetItem* item) const {
    return item != nullptr ? item->data(0, kItemDataRole).toULongLong() : 0;
}

void CheckTree::setItemData(QTreeWidgetItem* item, std::uint64_t value) {
    if (item != nullptr) item->setData(0, kItemDataRole, static_cast<qulonglong>(value));
}

QRect CheckTree::checkBoxRect(QTreeWidgetItem* item) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = indexFromItem(item);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    if (!item->icon(0).isNull()) option.features |= QStyleOptionViewItem::HasDecoration;
    option.text = item->text(0);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void CheckTree::mousePressEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item == nullptr) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    CheckItemState* d = itemState(item);
    if (event->button() == Qt::RightButton) {
        setCurrentItem(item);
        emit rightClicked(item);
        return;
    }
    if (event->button() == Qt::LeftButton && checkBoxes_ && d != nullptr &&
        checkBoxRect(item).contains(event->position().toPoint())) {
        if (d->separator) return;
        if (d->enabled && !readOnly_) {
            setCheck(item, !d->checked);
            setCurrentItem(item);
        }
        return;
    }
    QTreeWidget::mousePressEvent(event);
    const QRect row = visualItemRect(item);
    if (event->button() == Qt::LeftButton && (d == nullptr || d->enabled) && row.contains(event->position().toPoint()))
        emit labelClicked(item);
}

void CheckTree::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    const CheckItemState* d = itemState(item);
    if (item != nullptr && d != nullptr && !d->enabled) return;
    if (item != nullptr && checkBoxes_ && checkBoxRect(item).contains(event->position().toPoint())) return;
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CheckTree::keyPressEvent(QKeyEvent* event) {
    QTreeWidgetItem* item = currentItem();
    const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
    if (item != nullptr) {
        if (event->key() == Qt::Key_Space && checkBoxes_) {
            if (!readOnly_)
                if (const CheckItemState* d = itemState(item)) setCheck(item, !d->checked);
            return;
        }
        if (keypad && event->key() == Qt::Key_Plus) {
            setExpansion(item, kExpand);
            return;
        }
        if (keypad && event->key() == Qt::Key_Minus) {
            setExpansion(item, kCollapse);
            return;
        }
        if (keypad && event->key() == Qt::Key_Asterisk) {
            expandSubtree(item);
            scrollToItem(item);
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

}  // namespace corvello::ui
