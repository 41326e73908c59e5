// Every message the station shows goes through here: modal, titled "Kalimo", one OK button.
// Tests install a sink that records the texts, so no test ever blocks on a dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

using MessageSink = std::function<void(const QString& text, bool critical)>;

void show_message(QWidget* parent, const QString& text);
// The error box for a value the program could not convert.
void show_error(QWidget* parent, const QString& text);
void set_message_sink(MessageSink sink);
// An error box is open: the timer ticks that could raise it again wait until it is closed, so that
// errors never pile up one box inside another.
bool error_box_open();
// Any box is open: a person is reading it, and the screen must not change under it.
bool box_open();
