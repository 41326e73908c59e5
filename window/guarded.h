// Every handler and timer tick runs through here: a database value that should be a decimal integer
// and is not ends the handler and is reported in the error box.
#pragma once

#include <functional>
#include <string>

class QWidget;

void guarded(QWidget* parent, const std::function<void()>& handler);
// The error box for a value (in the station's code page) that is not a decimal integer.
void report_conversion_error(QWidget* parent, const std::string& value);
