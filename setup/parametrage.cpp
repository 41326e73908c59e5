#include "setup/parametrage.h"

#include "fonction/text.h"
#include "ui_parametrage.h"

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

// The database edits refuse a keystroke or a paste that the configuration file could not hold.
class StationTextValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return is_station_text(input) ? Acceptable : Invalid;
    }
};

} // namespace

Parametrage::Parametrage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Parametrage>()) {
    ui_->setupUi(this);
    auto* validator = new StationTextValidator(this);
    for (QLineEdit* edit : {ui_->Parametrage_edit_nom_table_bdd, ui_->Parametrage_edit_adresse_bdd,
                            ui_->Parametrage_edit_nom_bdd, ui_->Parametrage_edit_mdp_bdd}) {
        edit->setValidator(validator);
    }
}

// Defined here, where Ui::Parametrage is complete, so the unique_ptr can delete it.
Parametrage::~Parametrage() = default;
