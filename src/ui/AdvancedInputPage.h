#pragma once
// The advanced-input page: searches the volume for candidate structures on a worker (copies of
// the NTFS MFT, FAT tables, exFAT cluster-heap starts) and offers them, with the cluster sizes,
// in drop-down lists; the scan page then parses the volume with the user's choice.
// (advanceOptions in the original design.)

#include <QString>

#include "scan/Candidates.h"
#include "ui/WizardPage.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvello::ui {

class PageWorker;
class RecoveryModePage;
class QtScanHost;

// Item data of the TFS and Heap Offset lists: the candidate's index in the search's list.
inline constexpr int kCandidateIndexRole = Qt::UserRole;

class AdvancedInputPage : public WizardPage {
    Q_OBJECT
public:
    explicit AdvancedInputPage(WizardPage* parent);
    ~AdvancedInputPage() override;

    bool initPage() override;

    std::int64_t maxCount = 3;
    // What the search found (valid once it has ended).
    const CandidateList& candidates() const { return found_; }
    RecoveryModePage* modePage() const;
    bool searchRunning() const;

    QComboBox* tfsList() const { return tfs_; }
    QComboBox* clusterList() const { return spc_; }
    QComboBox* heapList() const { return heap_; }
    QLabel* tfsLabel() const { return tfsLabel_; }
    QLabel* clusterLabel() const { return spcLabel_; }
    QLabel* heapLabel() const { return heapLabel_; }
    QProgressBar* progress() const { return progress_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }
    QLabel* statusText() const { return status_; }

public slots:
    void onPause();
    void onResume();
    void onStop();
    void onNext();

protected:
    bool stopWorkerFirst() override;
    void beforeLeaving() override;

private:
    void onSearchEnded();
    void setStatus(const QString& text);
    void hideThreadControls();

    QLabel* tfsLabel_ = nullptr;
    QComboBox* tfs_ = nullptr;
    QLabel* spcLabel_ = nullptr;
    QComboBox* spc_ = nullptr;
    QLabel* heapLabel_ = nullptr;
    QComboBox* heap_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* resume_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;

    QtScanHost* host_ = nullptr;
    PageWorker* worker_ = nullptr;
    Family family_ = Family::None;
    CandidateList found_;
    bool leaving_ = false;
};

}  // namespace corvello::ui
