#include "window/message_box.h"

#include <QMessageBox>

namespace {
MessageSink& sink() {
    static MessageSink current;
    return current;
}

void show_box(QWidget* parent, const QString& text, bool critical) {
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

void show_message(QWidget* parent, const QString& text) {
    show_box(parent, text, false);
}
void show_error(QWidget* parent, const QString& text) {
    show_box(parent, text, true);
}
void set_message_sink(MessageSink new_sink) {
    sink() = std::move(new_sink);
}
