#include "window/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace {
MessageSink& sink() {
    static MessageSink current;
    return current;
}
ConfirmationSink& confirmation_sink() {
    static ConfirmationSink current;
    return current;
}

int open_error_boxes = 0;
int open_boxes = 0;

// Counts a box as open for its whole life, the tests' recorded ones included.
class OpenBox {
  public:
    explicit OpenBox(bool critical) : critical_(critical) {
        ++open_boxes;
        open_error_boxes += critical_ ? 1 : 0;
    }
    ~OpenBox() {
        --open_boxes;
        open_error_boxes -= critical_ ? 1 : 0;
    }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;

  private:
    bool critical_;
};

void show_box(QWidget* parent, const QString& text, bool critical) {
    const OpenBox open(critical);
    if (sink()) {
        sink()(text, critical);
        return;
    }
    QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::NoIcon, QStringLiteral("Kalimo"), text,
                    QMessageBox::Ok, parent);
    // The station's window stays on top; its messages must not open behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}
} // namespace

bool ask_confirmation(QWidget* parent, const QString& question) {
    const OpenBox open(false);
    if (confirmation_sink()) {
        return confirmation_sink()(question);
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kalimo"), question,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Oui"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Non"));
    box.setDefaultButton(QMessageBox::No);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return box.exec() == QMessageBox::Yes;
}

void show_message(QWidget* parent, const QString& text) {
    show_box(parent, text, false);
}
void show_error(QWidget* parent, const QString& text) {
    show_box(parent, text, true);
}
void set_message_sink(MessageSink new_sink) {
    sink() = std::move(new_sink);
}
void set_confirmation_sink(ConfirmationSink new_sink) {
    confirmation_sink() = std::move(new_sink);
}
bool error_box_open() {
    return open_error_boxes > 0;
}
bool box_open() {
    return open_boxes > 0;
}
