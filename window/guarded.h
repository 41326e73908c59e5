// Every handler and timer tick runs through here: a database value that should be a decimal integer
// and is not ends the handler and is reported in the error box.
#pragma once

#include <functional>

class QWidget;

void guarded(QWidget* parent, const std::function<void()>& handler);
