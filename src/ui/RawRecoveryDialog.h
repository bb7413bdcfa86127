#pragma once
// The raw-recovery page: loads signature definitions (the default set beside the program and a
// file of the user's), carves the selected volume on a worker, shows the found files in a
// check-box tree grouped by category with a file list beside it, and saves the checked ones,
// one folder per category, on a worker of its own.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/ResultTree.h"
#include "scan/Carving.h"
#include "ui/WizardPage.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;
class QTreeWidgetItem;

namespace corvello {
class FileReadSeek;
struct VolumeRecord;
}  // namespace corvello

namespace corvello::ui {

class CheckTree;
class PreviewPane;
class QtResultTree;
class QtScanHost;

class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
public:
    explicit RawRecoveryDialog(WizardPage* parent);
    ~RawRecoveryDialog() override;

    bool initPage() override;

    // The program's folder followed by "FileSetting.txt" (in a build tree, the data folder the
    // build writes it to).
    QString defaultSettingsPath;
    int loadedCount = 0;  // definitions loaded by the last Parse

    // The dialogs the page opens, replaceable by tests: the settings file to load ("..."), and
    // the output folder of Save ("Please choose a folder."). An empty answer is a cancel.
    std::function<QString()> chooseSettingsFile;
    std::function<QString()> chooseFolder;

    // The bytes the carving covers: the selected volume's exact length (its sector count), or
    // from its first byte to the end of the device when the list does not know its length.
    std::int64_t volumeLength() const;

    bool running() const;
    bool saving() const { return running() && saveRun_; }
    const CarvingEngine* engine() const { return engine_.get(); }
    QString outputFolder() const;

    // The positions in the engine's found files of the checked file items, in tree order.
    std::vector<std::size_t> checkedFiles() const;
    // The file item showing found file index; null when there is none.
    QTreeWidgetItem* fileItem(std::size_t index) const;
    QTreeWidgetItem* rootItem() const;

    QGroupBox* groupBox() const { return group_; }
    QLineEdit* settingsPathBox() const { return settingsPath_; }
    QPushButton* browseSettingsButton() const { return browseSettings_; }
    QPushButton* parseButton() const { return parse_; }
    QCheckBox* loadDefaultItems() const { return loadDefaults_; }
    QPushButton* settingButton() const { return setting_; }
    QLabel* settingHint() const { return settingHint_; }
    CheckTree* tree() const { return tree_; }
    QTableWidget* fileList() const { return fileList_; }
    // The preview of the found file selected in the tree or the list.
    PreviewPane* preview() const { return preview_; }
    QProgressBar* progress() const { return progress_; }
    QtScanHost* scanHost() const { return host_; }
    QLabel* statusText() const { return status_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* browseFolderButton() const { return browseFolder_; }
    QLineEdit* folderPathBox() const { return folderPath_; }

public slots:
    void onBrowseSettings();
    void onParse();
    void onSetting();
    void onPause();
    void onResume();
    void onStop();
    void onSave();
    void onBrowseFolder();

signals:
    // A carving or save run has ended and the page is ready again.
    void runEnded();

protected:
    void beforeLeaving() override;

private slots:
    void onItemShown(QTreeWidgetItem* item, corvello::IconKind icon);
    void onItemRemoving(QTreeWidgetItem* item);
    void onAllRemoved();
    void onCurrentItemChanged(QTreeWidgetItem* item);
    void onRunFinished();

private:
    void setStatus(const QString& text);
    void showRunControls(bool show);
    void enableControls(bool enable);
    void startWorker(std::function<void()> work, bool save);
    void stopWorker();
    void releasePause();
    FileReadSeek* prepareReader();
    const VolumeRecord* selectedVolume() const;
    void finishSave();
    // Shows the found file of a file item in the preview (nothing while a run is going on).
    void previewFound(QTreeWidgetItem* item);

    QGroupBox* group_ = nullptr;
    QLineEdit* settingsPath_ = nullptr;
    QPushButton* browseSettings_ = nullptr;
    QPushButton* parse_ = nullptr;
    QCheckBox* loadDefaults_ = nullptr;
    QPushButton* setting_ = nullptr;
    QLabel* settingHint_ = nullptr;
    CheckTree* tree_ = nullptr;
    QTableWidget* fileList_ = nullptr;
    PreviewPane* preview_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* resume_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* browseFolder_ = nullptr;
    QLineEdit* folderPath_ = nullptr;

    QtScanHost* host_ = nullptr;
    QtResultTree* results_ = nullptr;  // what the carving worker finds, shown in tree_
    std::unique_ptr<CarvingEngine> engine_;
    QThread* worker_ = nullptr;
    bool saveRun_ = false;
    int pauses_ = 0;  // the pauses this page has put on the gate
    bool leaving_ = false;

    std::unordered_map<std::size_t, QTreeWidgetItem*> fileItems_;  // by found-file index

    // The save worker's request and its outcome.
    std::vector<std::size_t> saveIndices_;
    std::string saveFolder_;
    CarveSaveResult saveResult_;
};

}  // namespace corvello::ui
