#include "ui/PreviewPane.h"

#include <QBuffer>
#include <algorithm>
#include <QByteArray>
#include <QFont>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "common/Text.h"
#include "ui/QtText.h"

namespace corvello::ui {

namespace {

// Text when it decodes without error and holds no control characters other than the usual
// layout ones (tab, line feeds, form feed, escape).
bool looksLikeText(const QString& text) {
    if (text.isEmpty()) return false;
    qsizetype control = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0 || u == 0xFFFD) return false;
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f' && u != 0x1B) ++control;
    }
    return control * 100 <= text.size();  // a stray control character or two
}

// UTF-16 without a byte-order mark: mostly Latin text has a zero byte in every pair, on the
// same side.
bool looksLikeUtf16(const QByteArray& data) {
    const qsizetype pairs = std::min<qsizetype>(data.size() / 2, 512);
    if (pairs < 4) return false;
    qsizetype highZero = 0, lowZero = 0;
    for (qsizetype i = 0; i < pairs; ++i) {
        const bool a = data[2 * i] == '\0', b = data[2 * i + 1] == '\0';
        if (b && !a) ++highZero;
        if (a && !b) ++lowZero;
    }
    return highZero * 10 >= pairs * 9 || lowZero * 10 >= pairs * 9;
}

// The bytes as text in the encoding, or nothing when they are not. With cutAtEnd a character
// cut short at the end of what was read (up to three bytes of it) is left out.
QString decodeWith(QStringConverter::Encoding encoding, const QByteArray& bytes, bool cutAtEnd) {
    for (int drop = 0; drop <= (cutAtEnd ? 3 : 0) && drop < bytes.size(); ++drop) {
        QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(bytes.left(bytes.size() - drop));
        if (!decoder.hasError()) return text;
    }
    return QString();
}

}  // namespace

const QString PreviewPane::kNothingChosen = QStringLiteral("Select a file to see its contents here.");

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent), generation_(std::make_shared<std::atomic<std::uint64_t>>(0)) {
    pool_.setMaxThreadCount(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    header_ = new QLabel(this);
    header_->setObjectName(QStringLiteral("previewHeader"));
    header_->setWordWrap(true);
    header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header_->setTextFormat(Qt::PlainText);
    header_->hide();  // shown with a file
    layout->addWidget(header_);
    stack_ = new QStackedWidget(this);
    // Messages stand in a frame like the text view's, so that the pane reads as one before a
    // file is chosen too.
    message_ = new QLabel(kNothingChosen, stack_);
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    message_->setFrameShape(QFrame::StyledPanel);
    picture_ = new QLabel;
    picture_->setAlignment(Qt::AlignCenter);
    pictureArea_ = new QScrollArea(stack_);
    pictureArea_->setWidget(picture_);
    pictureArea_->setWidgetResizable(true);
    pictureArea_->setAlignment(Qt::AlignCenter);
    text_ = new QPlainTextEdit(stack_);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    stack_->addWidget(message_);
    stack_->addWidget(pictureArea_);
    stack_->addWidget(text_);
    layout->addWidget(stack_, 1);
}

PreviewPane::~PreviewPane() {
    generation_->fetch_add(1);
    pool_.waitForDone();
}

QString PreviewPane::headerText() const { return header_->text(); }

QString PreviewPane::shownText() const {
    if (kind_ == Kind::Text || kind_ == Kind::Hex) return text_->toPlainText();
    return message_->text();
}

void PreviewPane::clear() {
    generation_->fetch_add(1);
    header_->clear();
    header_->hide();
    image_ = QImage();
    picture_->clear();
    text_->clear();
    message_->setText(kNothingChosen);
    stack_->setCurrentWidget(message_);
    kind_ = Kind::None;
}

QByteArray PreviewPane::imageFormat(const std::vector<std::uint8_t>& bytes) {
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<qsizetype>(bytes.size())));
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    // TGA has no signature: any bytes may pass its header check.
    return format == "tga" ? QByteArray() : format;
}

PreviewPane::Kind PreviewPane::classify(const std::vector<std::uint8_t>& bytes, QImage* image, QString* text) {
    const QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<qsizetype>(bytes.size()));
    const QByteArray format = imageFormat(bytes);
    if (!format.isEmpty()) {
        QBuffer buffer;
        buffer.setData(raw);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, format);
        reader.setAutoTransform(true);
        {
            QImage decoded = reader.read();
            if (!decoded.isNull()) {
                if (image != nullptr) *image = decoded;
                return Kind::Image;
            }
        }
    }
    // Text: a byte-order mark says the encoding; else UTF-8 when it decodes, else the 8-bit
    // code page when nothing in it looks binary.
    QString decoded;
    if (raw.startsWith("\xEF\xBB\xBF")) {
        decoded = decodeWith(QStringConverter::Utf8, raw.mid(3), true);
    } else if (raw.startsWith("\xFF\xFE")) {
        decoded = decodeWith(QStringConverter::Utf16LE, raw.mid(2).left((raw.size() - 2) & ~qsizetype(1)), false);
    } else if (raw.startsWith("\xFE\xFF")) {
        decoded = decodeWith(QStringConverter::Utf16BE, raw.mid(2).left((raw.size() - 2) & ~qsizetype(1)), false);
    } else if (looksLikeUtf16(raw)) {
        decoded = decodeWith(raw[0] == '\0' ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                             raw.left(raw.size() & ~qsizetype(1)), false);
    } else {
        decoded = decodeWith(QStringConverter::Utf8, raw, true);
        if (!looksLikeText(decoded)) {
            const std::string eightBit(raw.constData(), static_cast<std::size_t>(raw.size()));
            decoded = qs(fromCodePage(eightBit));
            // The code page maps every byte: only text without binary bytes counts.
            if (raw.contains('\0')) decoded.clear();
        }
    }
    if (looksLikeText(decoded)) {
        if (text != nullptr) *text = decoded;
        return Kind::Text;
    }
    if (text != nullptr) *text = hexView(bytes);
    return Kind::Hex;
}

QString PreviewPane::hexView(const std::vector<std::uint8_t>& bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size() / 16 + 1) * 80);
    static const char digits[] = "0123456789abcdef";
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        out += QStringLiteral("%1  ").arg(static_cast<qulonglong>(line), 8, 16, QLatin1Char('0'));
        QString chars;
        for (std::size_t i = 0; i < 16; ++i) {
            if (line + i < bytes.size()) {
                const std::uint8_t b = bytes[line + i];
                out += QLatin1Char(digits[b >> 4]);
                out += QLatin1Char(digits[b & 15]);
                out += QLatin1Char(' ');
                chars += (b >= 0x20 && b < 0x7F) ? QChar(char16_t(b)) : QLatin1Char('.');
            } else {
                out += QStringLiteral("   ");
            }
            if (i == 7) out += QLatin1Char(' ');
        }
        out += QLatin1Char(' ') + chars + QLatin1Char('\n');
    }
    return out;
}

void PreviewPane::showFile(const QString& path, const QString& details, std::uint64_t size, Reader read) {
    const std::uint64_t mine = generation_->fetch_add(1) + 1;
    header_->setText(details.isEmpty() ? path : path + QLatin1Char('\n') + details);
    header_->show();
    image_ = QImage();
    text_->clear();
    kind_ = Kind::Loading;
    message_->setText(QStringLiteral("Reading..."));
    stack_->setCurrentWidget(message_);
    auto generation = generation_;
    pool_.start([this, generation, mine, size, read = std::move(read)] {
        if (generation->load() != mine) return;  // a newer selection came first
        std::vector<std::uint8_t> bytes = read(kTextBytes);
        QString note;
        if (size > bytes.size() && !bytes.empty() && !imageFormat(bytes).isEmpty()) {
            // A picture is read whole to be drawn, when it is not too large.
            if (size <= kImageBytes && generation->load() == mine)
                bytes = read(static_cast<std::size_t>(size));
            else
                note = QStringLiteral("Too large to draw: the first bytes are shown.");
        }
        QImage image;
        QString text;
        Kind got = bytes.empty() && size > 0 ? Kind::Unreadable : classify(bytes, &image, &text);
        if (bytes.empty() && size == 0) got = Kind::Text;
        if (!note.isEmpty()) {
            got = Kind::Hex;
            text = hexView(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::min(bytes.size(), kTextBytes)));
        }
        if (generation->load() != mine) return;
        QMetaObject::invokeMethod(
            this,
            [this, generation, mine, got, image, text, note] {
                if (generation->load() == mine) showContent(got, image, text, note);
            },
            Qt::QueuedConnection);
    });
}

void PreviewPane::showContent(Kind kind, const QImage& image, const QString& text, const QString& note) {
    kind_ = kind;
    switch (kind) {
        case Kind::Image:
            image_ = image;
            picture_->setPixmap(QPixmap::fromImage(image));
            stack_->setCurrentWidget(pictureArea_);
            break;
        case Kind::Text:
        case Kind::Hex:
            text_->setPlainText(note.isEmpty() ? text : note + QLatin1Char('\n') + text);
            {
                QFont font = text_->font();
                font.setFamily(QStringLiteral("monospace"));
                font.setStyleHint(QFont::Monospace);
                text_->setFont(font);
            }
            stack_->setCurrentWidget(text_);
            break;
        case Kind::Unreadable:
            message_->setText(QStringLiteral("The file's data could not be read."));
            stack_->setCurrentWidget(message_);
            break;
        case Kind::None:
        case Kind::Loading:
            break;
    }
    emit contentShown();
}

}  // namespace corvello::ui
