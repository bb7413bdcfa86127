#pragma once
// The wizard's message boxes: notices (caption "Corvello", information icon) and Yes/No
// questions (question icon). Tests install a handler that records them and answers.

#include <QString>
#include <functional>

class QWidget;

namespace corvello::ui {

enum class MessageKind { Notice, Question };

// Returns the answer to a question (true for Yes); ignored for notices.
using MessageHandler = std::function<bool(MessageKind kind, const QString& text)>;

// Replaces the message boxes by handler (an empty handler restores them).
void setMessageHandler(MessageHandler handler);

void showNotice(QWidget* parent, const QString& text);
bool askQuestion(QWidget* parent, const QString& text);

}  // namespace corvello::ui
