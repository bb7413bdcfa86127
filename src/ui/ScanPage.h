#pragma once
// The scan page: parses the chosen volume on a worker with the parser of its file system and
// the recovery mode chosen before, shows the progress, and fills the results tree; Pause,
// Resume and Stop act on the running scan.
// (VolumeScanDlg in the original design.)

#include <QColor>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <vector>

#include "common/VolumeRecord.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "scan/ScanRequest.h"
#include "scan/ScanSession.h"
#include "ui/WizardPage.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidgetItem;

namespace corvello::ui {

// What a save wrote (kept apart from the save walk's own record).
// The summary shown after a save: incomplete and unwritten files, each named.
QString saveProblemsText(const SaveResult& result);

// The file list's "Data" text of a file ("intact", "partly overwritten (40%)", "overwritten"; empty
// when it cannot be told, as for live files) and the colour of its row (invalid: the default).
QString dataStateText(const Recoverability& r);
QColor dataStateColor(DataState state);

class CheckList;
class CheckTree;
class PreviewPane;
class PageWorker;
class RecoveryModePage;
class QtResultTree;
class QtScanHost;
class AdvancedInputPage;

class ScanPage : public WizardPage {
    Q_OBJECT
public:
    enum class State { Starting, Scanning, Done, Refused };

    explicit ScanPage(WizardPage* parent);
    ~ScanPage() override;

    bool initPage() override;

    int recoveryMode = -1;        // 1 standard, 2 advanced, 3 deep
    VolumeRecord volume;          // the volume being scanned
    Family family = Family::None;  // the parser family chosen for it
    bool scanInProgress = false;  // set from the start until the scan has ended
    bool stopPressed = false;     // Stop was pressed during the current work (cleared when a search or save starts)
    bool searchResultsShown = false;  // the list shows search results (their check boxes stay out of the tree)

    // Asks the user for the output folder ("Please choose a folder."); tests replace it.
    static std::function<QString(QWidget* parent)> folderChooser;
    QString outputFolder() const;

    // Item data role of the file list's rows: the tree item (as the results tree numbers it) of
    // a folder listing, or the record of a search result.
    static constexpr int kRowTreeItemRole = 0x0100;
    static constexpr int kRowRecordRole = 0x0101;
    // The file list's columns; the last tells whether a deleted file's data are still there.
    static constexpr int kListColumns = 7;
    static constexpr int kDataColumn = 6;

    State state() const { return state_; }
    bool workerRunning() const;
    // The finished scan's records (null before the end or when the scan was refused).
    ScanSession* session() const { return session_.get(); }
    // The host the page's workers report to and wait at (tests hold a worker at its gate).
    QtScanHost* scanHost() const { return host_; }
    QtResultTree* results() const { return results_; }
    RecoveryModePage* modePage() const;
    AdvancedInputPage* advancedPage() const;

    CheckTree* tree() const { return tree_; }
    CheckList* fileList() const { return list_; }
    // The preview of the file selected in the tree or the list.
    PreviewPane* preview() const { return preview_; }
    QLineEdit* volumeData() const { return volumeData_; }
    QLineEdit* searchEdit() const { return searchEdit_; }
    QPushButton* searchButton() const { return search_; }
    // Search and Save leave out deleted files whose data are not all there.
    QCheckBox* intactOnlyBox() const { return intactOnly_; }
    QPushButton* saveButton() const { return save_; }
    // "Export list...": the scanned volume's entries as CSV or DFXML.
    QPushButton* exportButton() const { return export_; }
    QProgressBar* progress() const { return progress_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }
    QLabel* statusText() const { return status_; }
    QLabel* sizeText() const { return status2_; }
    QComboBox* hiddenTfsList() const { return tfs_; }
    QComboBox* hiddenClusterList() const { return spc_; }
    QComboBox* hiddenHeapList() const { return heap_; }

public slots:
    void onPause();
    void onResume();
    void onStop();
    void onSave();
    void onExport();
    void onSearch();
    // The tree's events: a click on an item's label, an item expanded, a double-click.
    void onLabelClicked(QTreeWidgetItem* item);
    void onItemExpanded(QTreeWidgetItem* item);
    void onDoubleClicked(QTreeWidgetItem* item);

signals:
    // The scan has ended (completed, refused or stopped) and the page is ready again.
    void scanEnded();

protected:
    bool stopWorkerFirst() override;
    void beforeLeaving() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setStatus(const QString& text);
    void onWorkerFinished();
    void onScanFinished();
    void onSearchFinished();
    void onSaveFinished();
    // Inserts the children of a folder item (its placeholder replaced); true for a folder.
    bool openItem(QTreeWidgetItem* item, bool redForDeleted);
    void addRow(const QString& name, ItemData record, const QVariant& treeItem, bool details);
    void showDataState(QTreeWidgetItem* row, const Recoverability& r);
    // Shows a file record in the preview (path as the tree or the search shows it).
    void previewRecord(ItemData record, const QString& path);
    void onListSelection();
    QString treePath(QTreeWidgetItem* item) const;
    void onListItemChanged(QTreeWidgetItem* row, int column);
    bool busy();
    bool chooseFolder();
    // What Save writes: the checked items, or the children of the selected savable folder.
    struct SaveGroup {
        std::string dir;
        std::vector<ItemData> records;
    };
    std::vector<SaveGroup> checkedGroups();
    void collectChecked(QTreeWidgetItem* item, const std::string& dir, std::vector<SaveGroup>& groups);
    void startSave(std::vector<SaveGroup> groups, std::uint64_t count, bool quick, const QString& dumpedMessage);
    void setBusyControls(bool busy);
    void refuse(const QString& message, const QString& status, bool allowBack);
    void setThreadControlsVisible(bool visible);
    void copyAdvancedLists(AdvancedInputPage* from);
    ScanRequest makeRequest(FileReadSeek* reader) const;

    QLineEdit* volumeData_ = nullptr;
    QLineEdit* searchEdit_ = nullptr;
    QPushButton* search_ = nullptr;
    QCheckBox* intactOnly_ = nullptr;
    CheckTree* tree_ = nullptr;
    CheckList* list_ = nullptr;
    PreviewPane* preview_ = nullptr;
    // Held by the preview's reads on its worker and by the page's own reads of the records, so
    // that the two never run in the parser at once.
    std::shared_ptr<std::timed_mutex> sessionLock_;
    QProgressBar* progress_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* resume_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* status2_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* export_ = nullptr;
    QGroupBox* advancedBox_ = nullptr;
    QComboBox* tfs_ = nullptr;
    QComboBox* spc_ = nullptr;
    QComboBox* heap_ = nullptr;
    QLineEdit* outputFolder_ = nullptr;

    QtScanHost* host_ = nullptr;
    QtResultTree* results_ = nullptr;
    PageWorker* worker_ = nullptr;
    std::unique_ptr<ScanSession> session_;
    std::unique_ptr<ScanSession> scanned_;  // the scan worker's result, until it has ended
    std::int64_t maxCandidates_ = 3;
    std::optional<std::vector<std::int64_t>> foundTables_, foundHeaps_;
    State state_ = State::Starting;
    enum class Work { None, Scan, Search, Save } work_ = Work::None;
    bool fillingList_ = false;
    // The save that runs: what it counted, what it wrote, what it tells at the end.
    std::uint64_t saveCount_ = 0;
    SaveResult saveResult_;
    QString dumpedMessage_;
    bool quickSave_ = false;
    bool leaving_ = false;
};

}  // namespace corvello::ui
