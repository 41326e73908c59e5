#include "setup/parametrage.h"

#include "ui_parametrage.h"
#include "window/station_text.h"

Parametrage::Parametrage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Parametrage>()) {
    ui_->setupUi(this);
    QValidator* validator = station_text_validator(this);
    for (QLineEdit* edit : {ui_->Parametrage_edit_nom_table_bdd, ui_->Parametrage_edit_adresse_bdd,
                            ui_->Parametrage_edit_nom_bdd, ui_->Parametrage_edit_mdp_bdd}) {
        edit->setValidator(validator);
    }
}

// Defined here, where Ui::Parametrage is complete, so the unique_ptr can delete it.
Parametrage::~Parametrage() = default;
