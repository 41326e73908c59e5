#include "session/compteur_temps.h"

#include "ui_compteur_temps.h"

Compteur_temps::Compteur_temps(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Compteur_temps>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Compteur_temps is complete, so the unique_ptr can delete it.
Compteur_temps::~Compteur_temps() = default;
