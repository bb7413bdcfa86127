#include "ui/MessageBoxes.h"

#include <QMessageBox>

namespace corvello::ui {

namespace {
MessageHandler& handler() {
    static MessageHandler h;
    return h;
}
}  // namespace

void setMessageHandler(MessageHandler h) { handler() = std::move(h); }

void showNotice(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(MessageKind::Notice, text);
        return;
    }
    QMessageBox::information(parent, QStringLiteral("Corvello"), text);
}

bool askQuestion(QWidget* parent, const QString& text) {
    if (handler()) return handler()(MessageKind::Question, text);
    return QMessageBox::question(parent, QStringLiteral("Corvello"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace corvello::ui
