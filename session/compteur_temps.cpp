#include "session/compteur_temps.h"

#include "ui_compteur_temps.h"

#include <QLabel>

Compteur_temps::Compteur_temps(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Compteur_temps>()) {
    ui_->setupUi(this);
}

void Compteur_temps::set_warning_look(int look) {
    QLabel* label = ui_->Compteur_Temps_parcouru;
    if (label->property("warning").toInt() == look) {
        return;
    }
    label->setProperty("warning", look);
    // The design's red text on the window's background; amber, then red, behind it as the end nears.
    switch (look) {
    case 1:
        label->setStyleSheet(QStringLiteral("color: #000000; background-color: #ffb300;"));
        break;
    case 2:
        label->setStyleSheet(QStringLiteral("color: #ffffff; background-color: #d50000;"));
        break;
    default:
        label->setStyleSheet(QStringLiteral("color: #ff0000;"));
        break;
    }
}

// Defined here, where Ui::Compteur_temps is complete, so the unique_ptr can delete it.
Compteur_temps::~Compteur_temps() = default;
