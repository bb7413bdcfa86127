#pragma once
// The scan page: parses the chosen volume on a worker with the parser of its file system and
// the recovery mode chosen before, shows the progress, and fills the results tree; Pause,
// Resume and Stop act on the running scan.

#include <QString>
#include <memory>

#include "partition/VolumeRecord.h"
#include "scan/Scan.h"
#include "scan/ScanRequest.h"
#include "scan/ScanSession.h"
#include "ui/WizardPage.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvello::ui {

class CCheckListCtrl;
class CXHtmlTree;
class PageWorker;
class ParceModeNtfsDlg;
class QtResultTree;
class QtScanHost;
class advanceOptions;

class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    enum class State { Starting, Scanning, Done, Refused };

    explicit VolumeScanDlg(WizardPage* parent);
    ~VolumeScanDlg() override;

    bool initPage() override;

    int recoveryMode = -1;        // 1 standard, 2 advanced, 3 deep
    VolumeRecord volume;          // the volume being scanned
    Family family = Family::None;  // the parser family chosen for it
    bool scanInProgress = false;  // set from the start until the scan has ended
    bool stopPressed = false;     // Stop was pressed during the current work

    State state() const { return state_; }
    bool workerRunning() const;
    // The finished scan's records (null before the end or when the scan was refused).
    ScanSession* session() const { return session_.get(); }
    QtResultTree* results() const { return results_; }
    ParceModeNtfsDlg* modePage() const;
    advanceOptions* advancedPage() const;

    CXHtmlTree* tree() const { return tree_; }
    CCheckListCtrl* fileList() const { return list_; }
    QLineEdit* volumeData() const { return volumeData_; }
    QLineEdit* searchEdit() const { return searchEdit_; }
    QPushButton* searchButton() const { return search_; }
    QPushButton* saveButton() const { return save_; }
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
    void onSearch();

signals:
    // The scan has ended (completed, refused or stopped) and the page is ready again.
    void scanEnded();

protected:
    bool stopWorkerFirst() override;
    void beforeLeaving() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setStatus(const QString& text);
    void onScanFinished();
    void refuse(const QString& message, const QString& status, bool allowBack);
    void setThreadControlsVisible(bool visible);
    void copyAdvancedLists(advanceOptions* from);
    ScanRequest makeRequest(FileReadSeek* reader) const;

    QLineEdit* volumeData_ = nullptr;
    QLineEdit* searchEdit_ = nullptr;
    QPushButton* search_ = nullptr;
    CXHtmlTree* tree_ = nullptr;
    CCheckListCtrl* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* resume_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* status2_ = nullptr;
    QPushButton* save_ = nullptr;
    QGroupBox* advancedBox_ = nullptr;
    QComboBox* tfs_ = nullptr;
    QComboBox* spc_ = nullptr;
    QComboBox* heap_ = nullptr;
    QLineEdit* outputFolder_ = nullptr;

    QtScanHost* host_ = nullptr;
    QtResultTree* results_ = nullptr;
    PageWorker* worker_ = nullptr;
    std::unique_ptr<ScanSession> session_;
    std::int64_t maxCandidates_ = 3;
    State state_ = State::Starting;
    bool leaving_ = false;
};

}  // namespace corvello::ui
