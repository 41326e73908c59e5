#include "window/guarded.h"

#include "fonction/conversion.h"
#include "fonction/text.h"
#include "window/message_box.h"

#include <QString>

void guarded(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const ConversionError& error) {
        report_conversion_error(parent, error.value());
    }
}

void report_conversion_error(QWidget* parent, const std::string& value) {
    show_error(parent, QStringLiteral("'%1' n'est pas une valeur entière correcte").arg(from_cp1252(value)));
}
