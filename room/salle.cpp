#include "room/salle.h"

#include "ui_salle.h"
#include "window/station_text.h"

Salle::Salle(QWidget* parent) : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::Salle>()) {
    ui_->setupUi(this);
    // Closing it while the station sits in the notification area must not end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    // What is typed here goes to the accounts as it is: the code page's characters only, as long as the
    // columns hold.
    QValidator* validator = station_text_validator(this);
    for (QLineEdit* edit :
         {ui_->Salle_recherche, ui_->Salle_recherche_compte, ui_->Salle_compte_identifiant,
          ui_->Salle_compte_nom, ui_->Salle_compte_prenom, ui_->Salle_compte_mot_de_passe}) {
        edit->setValidator(validator);
        edit->setMaxLength(255);
    }
    // A screen reader names a table by its accessible name, not by the label that is its buddy.
    for (const QLabel* label : findChildren<QLabel*>()) {
        if (auto* table = qobject_cast<QTableWidget*>(label->buddy())) {
            table->setAccessibleName(label->text());
        }
    }
    ui_->Salle_message_reseau->setPlaceholderText(QStringLiteral("Aucun message affiché"));
    ui_->Salle_message_espace->setPlaceholderText(QStringLiteral("Aucun message affiché"));
}

// Defined here, where Ui::Salle is complete, so the unique_ptr can delete it.
Salle::~Salle() = default;
