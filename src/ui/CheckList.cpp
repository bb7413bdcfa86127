#include "ui/CheckList.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace corvello::ui {

CheckHeader::CheckHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CheckHeader::setImage(int image) {
    if (image_ == image) return;
    image_ = image;
    viewport()->update();
}

void CheckHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0) return;
    QStyleOptionButton box;
    const int size = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    box.rect = QRect(rect.left() + 4, rect.top() + (rect.height() - size) / 2, size, size);
    box.state = QStyle::State_Enabled | (image_ == 2 ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
}

CheckList::CheckList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (column == 0) followRows();
    });
}

void CheckList::init() {
    if (initialised_) return;
    header_ = new CheckHeader(this);
    setHeader(header_);
    header_->setSectionsClickable(true);  // the view resets it when the header is installed
    header_->setStretchLastSection(true);
    // Room for the box before the first column's title.
    if (QTreeWidgetItem* h = headerItem()) h->setText(0, QStringLiteral("      ") + h->text(0).trimmed());
    header_->setImage(1);
    connect(header_, &QHeaderView::sectionClicked, this, &CheckList::onHeaderClicked);
    initialised_ = true;
}

int CheckList::insertItem(int row, const QString& text) {
    row = std::clamp(row, 0, topLevelItemCount());
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setText(0, text);
    item->setCheckState(0, Qt::Unchecked);
    insertTopLevelItem(row, item);
    followRows();
    return row;
}

void CheckList::setItemText(int row, int column, const QString& text) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setText(column, text);
}

QString CheckList::itemText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

void CheckList::deleteAllItems() {
    clear();
    followRows();
}

bool CheckList::isChecked(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr && item->checkState(0) == Qt::Checked;
}

void CheckList::setCheck(int row, bool check) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setCheckState(0, check ? Qt::Checked : Qt::Unchecked);
}

void CheckList::onHeaderClicked(int section) {
    if (!initialised_ || section != 0) return;
    const int image = header_->image() == 2 ? 1 : 2;
    header_->setImage(image);
    settingAll_ = true;
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setCheckState(0, image == 2 ? Qt::Checked : Qt::Unchecked);
    settingAll_ = false;
}

void CheckList::followRows() {
    if (!initialised_ || settingAll_) return;
    bool anyUnchecked = false;
    for (int i = 0; i < topLevelItemCount() && !anyUnchecked; ++i)
        anyUnchecked = topLevelItem(i)->checkState(0) != Qt::Checked;
    header_->setImage(anyUnchecked ? 1 : 2);
}

}  // namespace corvello::ui
