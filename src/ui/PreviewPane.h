#pragma once
// The preview beside a file list: the selected file as a picture (any format Qt's image plugins
// read), as text (its encoding detected, the first 64 KiB) or as a hex view, with its size,
// times and path above. Only what is shown is read, on a worker of its own; the window never
// waits for it, and a newer selection makes an older read's result go unshown.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QThreadPool>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;

namespace corvello::ui {

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    enum class Kind { None, Loading, Image, Text, Hex, Unreadable };

    // Text and hex show at most this many bytes of the file's start.
    static constexpr std::size_t kTextBytes = 64 * 1024;
    // Pictures up to this size are read whole and drawn; larger ones show as hex.
    static constexpr std::uint64_t kImageBytes = 32ull * 1024 * 1024;
    // What the pane shows while no file is chosen.
    static const QString kNothingChosen;

    // Reads at most limit bytes from the file's start (called on the worker). It must not read
    // much past what it returns.
    using Reader = std::function<std::vector<std::uint8_t>(std::size_t limit)>;

    explicit PreviewPane(QWidget* parent = nullptr);
    ~PreviewPane() override;

    // Shows the file: header (path, then details such as size and times) at once, the content
    // when the worker has read it.
    void showFile(const QString& path, const QString& details, std::uint64_t size, Reader read);
    void clear();

    Kind kind() const { return kind_; }
    QSize imageSize() const { return image_.size(); }
    QString shownText() const;
    QString headerText() const;
    // Waits (for tests) until the worker has nothing left to do.
    void waitForWorker() { pool_.waitForDone(); }

    // What the content of bytes looks like: picture (image set), text (text set) or hex.
    static Kind classify(const std::vector<std::uint8_t>& bytes, QImage* image, QString* text);
    // The picture format the bytes start with ("png", "jpeg", ...), empty for none.
    static QByteArray imageFormat(const std::vector<std::uint8_t>& bytes);
    // The hex view of bytes: offset, 16 bytes, their printable characters.
    static QString hexView(const std::vector<std::uint8_t>& bytes);

signals:
    // The content of the current file is shown.
    void contentShown();

private:
    void showContent(Kind kind, const QImage& image, const QString& text, const QString& note);

    QLabel* header_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QLabel* picture_ = nullptr;
    QScrollArea* pictureArea_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QLabel* message_ = nullptr;
    QImage image_;
    Kind kind_ = Kind::None;
    std::shared_ptr<std::atomic<std::uint64_t>> generation_;
    QThreadPool pool_;
};

}  // namespace corvello::ui
