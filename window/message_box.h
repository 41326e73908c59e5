// Every message the station shows goes through here: modal, titled "Kalimo", one OK button; and the
// one question it asks before an action that cannot be taken back, with "Oui" and "Non".
// Tests install sinks that record the texts (and answer the questions), so no test ever blocks on a
// dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

using MessageSink = std::function<void(const QString& text, bool critical)>;

void show_message(QWidget* parent, const QString& text);
// The error box for a value the program could not convert.
void show_error(QWidget* parent, const QString& text);
void set_message_sink(MessageSink sink);
// True when the person answers "Oui"; "Non", Escape and closing the box say no.
bool ask_confirmation(QWidget* parent, const QString& question);
using ConfirmationSink = std::function<bool(const QString& question)>;
void set_confirmation_sink(ConfirmationSink sink);
// An error box is open: the timer ticks that could raise it again wait until it is closed, so that
// errors never pile up one box inside another.
bool error_box_open();
// Any box is open: a person is reading it, and the screen must not change under it.
bool box_open();
