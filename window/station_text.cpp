#include "window/station_text.h"

#include "fonction/text.h"

#include <QString>
#include <QValidator>

bool is_station_text(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    // A character outside the code page comes back as '?'.
    return from_cp1252(to_cp1252(text)) == text;
}

namespace {

class StationTextValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return is_station_text(input) ? Acceptable : Invalid;
    }
};

} // namespace

QValidator* station_text_validator(QObject* parent) {
    return new StationTextValidator(parent);
}
