// The check-box tree and the check-box list.
#include <QHeaderView>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include "UiTestSupport.h"
#include "ui/CheckList.h"
#include "ui/CheckTree.h"

using namespace corvello::ui;

namespace {

// ROOT
//   folder
//     a  b  c
//   d
struct SampleTree {
    CheckTree tree;
    QTreeWidgetItem *root, *folder, *a, *b, *c, *d;
    SampleTree() {
        tree.initCheckTree();
        tree.setSmartCheckBox(true);
        tree.setReadOnlyChecks(false);
        tree.setImages(true);
        root = tree.insertItem(QStringLiteral("ROOT"));
        folder = tree.insertItem(QStringLiteral("folder"), 0, 0, root);
        a = tree.insertItem(QStringLiteral("a.txt"), 0, 0, folder);
        b = tree.insertItem(QStringLiteral("b.txt"), 0, 0, folder);
        c = tree.insertItem(QStringLiteral("c.txt"), 0, 0, folder);
        d = tree.insertItem(QStringLiteral("d.txt"), 0, 0, root);
    }
    int checkedCount(QTreeWidgetItem* item) { return tree.itemState(item)->checkedCount; }
    int childCount(QTreeWidgetItem* item) { return tree.itemState(item)->childCount; }
};

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void insertCountsDescendants() {
        SampleTree t;
        QCOMPARE(t.childCount(t.root), 5);
        QCOMPARE(t.childCount(t.folder), 3);
        QCOMPARE(t.childCount(t.a), 0);
        for (QTreeWidgetItem* item : {t.root, t.folder, t.a, t.d}) QCOMPARE(t.tree.stateImage(item), kStateUnchecked);
    }

    void insertionRecordPlacesTheItem() {
        SampleTree t;
        TreeInsert first;
        first.parent = t.folder;
        first.first = true;
        first.text = QStringLiteral("0.txt");
        first.data = 42;
        QTreeWidgetItem* zero = t.tree.insertItem(first);
        TreeInsert after;
        after.parent = t.folder;
        after.after = t.a;
        after.text = QStringLiteral("a2.txt");
        QTreeWidgetItem* a2 = t.tree.insertItem(after);
        QCOMPARE(t.folder->child(0), zero);
        QCOMPARE(t.folder->child(2), a2);
        QCOMPARE(t.folder->childCount(), 5);
        QCOMPARE(t.tree.itemData(zero), 42ull);
        QCOMPARE(t.childCount(t.folder), 5);
        QCOMPARE(t.childCount(t.root), 7);
    }

    void checkingAFolderChecksItsFilesAndAggregatesUpwards() {
        SampleTree t;
        QSignalSpy clicked(&t.tree, &CheckTree::checkboxClicked);
        t.tree.setCheck(t.folder, true);
        for (QTreeWidgetItem* item : {t.folder, t.a, t.b, t.c}) {
            QVERIFY(t.tree.isChecked(item));
            QCOMPARE(t.tree.stateImage(item), kStateChecked);
            QCOMPARE(item->checkState(0), Qt::Checked);
        }
        QCOMPARE(t.checkedCount(t.folder), 3);
        QCOMPARE(t.checkedCount(t.root), 4);  // the folder and its three files
        QCOMPARE(t.tree.stateImage(t.root), kStateTriState);
        QVERIFY(!t.tree.isChecked(t.root));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).value<QTreeWidgetItem*>(), t.folder);
        QCOMPARE(clicked.at(0).at(1).toBool(), true);

        // One file unchecked: the folder shows mixed, and is no longer counted as checked.
        t.tree.setCheck(t.b, false);
        QCOMPARE(t.tree.stateImage(t.folder), kStateTriState);
        QCOMPARE(t.folder->checkState(0), Qt::PartiallyChecked);
        QVERIFY(!t.tree.isChecked(t.folder));
        QCOMPARE(t.checkedCount(t.folder), 2);
        QCOMPARE(t.checkedCount(t.root), 2);
        QCOMPARE(t.tree.stateImage(t.root), kStateTriState);

        // Checking the last unchecked file checks the folder and raises the root by the extra 1.
        t.tree.setCheck(t.b, true);
        QCOMPARE(t.tree.stateImage(t.folder), kStateChecked);
        QCOMPARE(t.checkedCount(t.folder), 3);
        QCOMPARE(t.checkedCount(t.root), 4);

        // And the last file of the root checks the root.
        t.tree.setCheck(t.d, true);
        QCOMPARE(t.checkedCount(t.root), 5);
        QCOMPARE(t.tree.stateImage(t.root), kStateChecked);
        QVERIFY(t.tree.isChecked(t.root));

        // Unchecking the root clears everything below it.
        t.tree.setCheck(t.root, false);
        for (QTreeWidgetItem* item : {t.root, t.folder, t.a, t.b, t.c, t.d}) {
            QCOMPARE(t.tree.stateImage(item), kStateUnchecked);
            QCOMPARE(t.checkedCount(item), 0);
        }
    }

    void disabledItemIgnoresSetCheck() {
        SampleTree t;
        t.tree.setItemEnabled(t.a, false);
        QSignalSpy clicked(&t.tree, &CheckTree::checkboxClicked);
        t.tree.setCheck(t.a, true);
        QVERIFY(!t.tree.isChecked(t.a));
        QCOMPARE(t.checkedCount(t.folder), 0);
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(t.tree.stateImage(t.a), kStateUnchecked + kStateDisabledOffset);
        QVERIFY(!(t.a->flags() & Qt::ItemIsEnabled));
    }

    void insertAndDeleteKeepTheCountsRight() {
        SampleTree t;
        t.tree.setCheck(t.folder, true);
        // A new unchecked file makes the checked folder mixed and takes it out of the root's count.
        QTreeWidgetItem* e = t.tree.insertItem(QStringLiteral("e.txt"), 0, 0, t.folder);
        QCOMPARE(t.childCount(t.folder), 4);
        QCOMPARE(t.childCount(t.root), 6);
        QCOMPARE(t.tree.stateImage(t.folder), kStateTriState);
        QCOMPARE(t.checkedCount(t.root), 3);
        // Deleting it again restores the checked folder and the root's count.
        t.tree.deleteItem(e);
        QCOMPARE(t.childCount(t.folder), 3);
        QCOMPARE(t.childCount(t.root), 5);
        QCOMPARE(t.tree.stateImage(t.folder), kStateChecked);
        QCOMPARE(t.checkedCount(t.root), 4);
        // Deleting the whole folder takes its four counted items off the root.
        t.tree.deleteItem(t.folder);
        QCOMPARE(t.childCount(t.root), 1);
        QCOMPARE(t.checkedCount(t.root), 0);
        QVERIFY(t.tree.itemState(t.d) != nullptr);

        t.tree.deleteAllItems();
        QCOMPARE(t.tree.topLevelItemCount(), 0);
    }

    void expandNotifiesOnlyOnChange() {
        SampleTree t;
        QSignalSpy expanded(&t.tree, &CheckTree::itemExpandedChanged);
        t.tree.setExpansion(t.folder, kExpand);
        t.tree.setExpansion(t.folder, kExpand);
        QCOMPARE(expanded.count(), 1);
        QVERIFY(t.folder->isExpanded());
        QVERIFY(t.tree.itemState(t.folder)->wasExpanded);
        t.tree.setExpansion(t.folder, kToggle);
        QCOMPARE(expanded.count(), 2);
        QCOMPARE(expanded.at(1).at(1).toBool(), false);
        QVERIFY(!t.folder->isExpanded());
        QVERIFY(t.tree.itemState(t.folder)->wasExpanded);
        // Expanding through the view (the arrow, the keyboard) keeps the record in step.
        t.folder->setExpanded(true);
        QCOMPARE(expanded.count(), 3);
        QVERIFY(t.tree.itemState(t.folder)->expanded);
    }

    void markDeletedColoursTheTextRed() {
        SampleTree t;
        QCOMPARE(t.tree.markDeleted(t.c), kDefaultTextColor);
        QCOMPARE(t.tree.itemTextColor(t.c), kDeletedTextColor);
        QCOMPARE(t.c->foreground(0).color(), QColor(255, 0, 0));
        QCOMPARE(t.tree.markDeleted(t.c), kDeletedTextColor);
        t.tree.setItemData(t.c, 0x1234567890ull);
        QCOMPARE(t.tree.itemData(t.c), 0x1234567890ull);
    }

    void mouseAndKeyboard() {
        SampleTree t;
        t.tree.resize(300, 200);
        t.tree.show();
        t.tree.expandAll();
        QVERIFY(QTest::qWaitForWindowExposed(&t.tree));
        QSignalSpy label(&t.tree, &CheckTree::labelClicked);

        // A click on the check box toggles it and selects the item.
        const QRect row = t.tree.visualItemRect(t.a);
        const int box = t.tree.style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &t.tree);
        const QPoint onBox(row.left() + box / 2 + 3, row.center().y());
        QTest::mouseClick(t.tree.viewport(), Qt::LeftButton, {}, onBox);
        QVERIFY(t.tree.isChecked(t.a));
        QCOMPARE(t.tree.currentItem(), t.a);
        QCOMPARE(label.count(), 0);

        // A click on the label tells the page and does not check.
        QTest::mouseClick(t.tree.viewport(), Qt::LeftButton, {}, QPoint(row.left() + 60, row.center().y()));
        QCOMPARE(label.count(), 1);
        QVERIFY(t.tree.isChecked(t.a));

        // Space toggles the current item.
        t.tree.setCurrentItem(t.b);
        QTest::keyClick(&t.tree, Qt::Key_Space);
        QVERIFY(t.tree.isChecked(t.b));
        QTest::keyClick(&t.tree, Qt::Key_Space);
        QVERIFY(!t.tree.isChecked(t.b));

        // Read-only: no checking by hand.
        t.tree.setReadOnlyChecks(true);
        QTest::keyClick(&t.tree, Qt::Key_Space);
        QVERIFY(!t.tree.isChecked(t.b));
        corvello::uitest::renderToPng(&t.tree, QStringLiteral("CheckTree"));
    }

    void listHeaderFollowsAndDrivesTheRows() {
        CheckList list;
        list.setColumnCount(3);
        list.setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified")});
        list.init();
        for (int i = 0; i < 3; ++i) list.insertItem(i, QStringLiteral("file%1.txt").arg(i));
        QCOMPARE(list.headerImage(), 1);

        for (int i = 0; i < 3; ++i) list.setCheck(i, true);
        QCOMPARE(list.headerImage(), 2);
        list.setCheck(1, false);
        QCOMPARE(list.headerImage(), 1);

        // A click on the first column's header checks every row ...
        list.resize(400, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QHeaderView* header = list.header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionPosition(0) + 8, header->height() / 2));
        QCOMPARE(list.headerImage(), 2);
        for (int i = 0; i < 3; ++i) QVERIFY(list.isChecked(i));
        corvello::uitest::renderToPng(&list, QStringLiteral("CheckList"));
        // ... and the next one unchecks them; other columns do nothing.
        list.onHeaderClicked(0);
        QCOMPARE(list.headerImage(), 1);
        for (int i = 0; i < 3; ++i) QVERIFY(!list.isChecked(i));
        list.onHeaderClicked(1);
        QCOMPARE(list.headerImage(), 1);
        // A new unchecked row after all were checked brings the header back to unchecked.
        list.onHeaderClicked(0);
        QCOMPARE(list.headerImage(), 2);
        list.insertItem(0, QStringLiteral("new.txt"));
        QCOMPARE(list.headerImage(), 1);
    }
};

CORVELLO_UI_TEST(ControlsTest);

#include "Controls_qtest.moc"
