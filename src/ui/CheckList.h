#pragma once
// A file list with a check box per row and one in the header of the first column: clicking the
// header box checks or unchecks every row, and the header box follows the rows (checked when no
// row is unchecked).
// (CCheckListCtrl in the original design.)

#include <QHeaderView>
#include <QTreeWidget>

namespace corvello::ui {

class CheckHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CheckHeader(QWidget* parent = nullptr);

    // 1 unchecked box, 2 checked box.
    int image() const { return image_; }
    void setImage(int image);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    int image_ = 1;
};

class CheckList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CheckList(QWidget* parent = nullptr);

    // Once, after the columns are set: puts the check box into the first column's header.
    void init();

    int insertItem(int row, const QString& text);
    void setItemText(int row, int column, const QString& text);
    QString itemText(int row, int column) const;
    int itemCount() const { return topLevelItemCount(); }
    void deleteAllItems();
    bool isChecked(int row) const;
    void setCheck(int row, bool check);

    CheckHeader* checkHeader() const { return header_; }
    // 1 or 2, as the header shows it.
    int headerImage() const { return header_->image(); }

public slots:
    // A click on a header section (section 0 flips the header box and sets every row).
    void onHeaderClicked(int section);

private:
    void followRows();

    CheckHeader* header_ = nullptr;
    bool initialised_ = false;
    bool settingAll_ = false;
};

}  // namespace corvello::ui
