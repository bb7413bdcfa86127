#pragma once
// The volume-list page: the volumes of the chosen disk, from its partition tables (standard
// scan, on the user-interface thread) or from a boot-record scan (advanced scan, on a worker),
// with custom settings for the selected volume.
// (PopulateDriveDlg in the original design.)

#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "common/VolumeRecord.h"
#include "ui/WizardPage.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;

namespace corvello::ui {

class QtScanHost;
class SectorSpinBox;

// The texts Next shows when a later step does not exist yet.
inline constexpr const char* kRecoveryModeUnavailable =
    "The recovery-mode step (Standard, Advanced or Deep scan of the volume) is not available in this version of "
    "Corvello yet.";
inline constexpr const char* kRawRecoveryUnavailable =
    "Raw recovery (finding files by their signatures) is not available in this version of Corvello yet.";

class VolumeListPage : public WizardPage {
    Q_OBJECT
public:
    enum Column { VolumeColumn, FileSystemColumn, VolumeSizeColumn, StartSectorColumn };

    explicit VolumeListPage(WizardPage* parent);
    ~VolumeListPage() override;

    bool initPage() override;

    // Inputs from the partition-scan-mode page.
    QString devicePath;
    int scanMode = 1;  // 1 standard (partition tables), 2 advanced (boot-record scan)
    bool gptFormat = false;
    bool doNotSkipVolumeSize = false;
    std::int64_t customStartSector = 0;
    std::int64_t customEndSector = 0;

    std::vector<VolumeRecord> volumes;
    VolumeRecord* selectedVolume = nullptr;  // the row's record that Next chose
    bool customApplied = false;

    bool scanRunning() const;
    // The record a row shows (the row's own copy).
    VolumeRecord* rowRecord(int row);

    QTableWidget* list() const { return list_; }
    QPushButton* filterButton() const { return filter_; }
    QPushButton* addCustomButton() const { return addCustom_; }
    QPushButton* stopButton() const { return stop_; }
    QCheckBox* customCheck() const { return custom_; }
    QLabel* selectedVolumeText() const { return selectedValue_; }
    SectorSpinBox* startSector() const { return start_; }
    SectorSpinBox* endSector() const { return end_; }
    QComboBox* treatAs() const { return treatAs_; }
    QtScanHost* scanHost() const { return host_; }
    QProgressBar* progress() const { return progress_; }
    QLabel* statusText() const { return status_; }

public slots:
    void onStop();
    void onFilterEntries();
    void onAddCustomVolume();
    void onCustomCheck();
    void onNext();

signals:
    // The boot-record scan has ended and the page is ready again.
    void advancedScanEnded();

protected:
    void beforeLeaving() override;

private slots:
    void onSelectionChanged();
    void onRowClicked(int row);
    void onVolumesFound();
    void onAdvancedScanFinished();

private:
    void standardScan();
    void advancedScan();
    void stopWorker();
    void clearList();
    void insertRow(int row, const VolumeRecord& record);
    void enableCustomControls(bool enable);
    void setStatus(const QString& text);

    QTableWidget* list_ = nullptr;
    QPushButton* filter_ = nullptr;
    QPushButton* addCustom_ = nullptr;
    QPushButton* stop_ = nullptr;
    QCheckBox* custom_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QLabel* selectedLabel_ = nullptr;
    QLabel* selectedValue_ = nullptr;
    QLabel* startLabel_ = nullptr;
    QLabel* endLabel_ = nullptr;
    QLabel* treatAsLabel_ = nullptr;
    SectorSpinBox* start_ = nullptr;
    SectorSpinBox* end_ = nullptr;
    QComboBox* treatAs_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;

    QtScanHost* host_ = nullptr;
    QThread* worker_ = nullptr;
    std::atomic<int> workerResult_{1};
    std::deque<VolumeRecord> rowRecords_;  // each row's own copy; a deque keeps them in place
    bool leaving_ = false;
};

}  // namespace corvello::ui
