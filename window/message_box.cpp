#include "window/message_box.h"

#include <QMessageBox>

namespace {
MessageSink& sink() {
    static MessageSink current;
    return current;
}

int open_error_boxes = 0;

// Counts an error box as open for its whole life, the tests' recorded ones included.
class OpenErrorBox {
  public:
    explicit OpenErrorBox(bool critical) : critical_(critical) { open_error_boxes += critical_ ? 1 : 0; }
    ~OpenErrorBox() { open_error_boxes -= critical_ ? 1 : 0; }
    OpenErrorBox(const OpenErrorBox&) = delete;
    OpenErrorBox& operator=(const OpenErrorBox&) = delete;

  private:
    bool critical_;
};

void show_box(QWidget* parent, const QString& text, bool critical) {
    const OpenErrorBox open(critical);
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
bool error_box_open() {
    return open_error_boxes > 0;
}
