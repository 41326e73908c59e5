#include "session/renseignement.h"

#include "ui_renseignement.h"

Renseignement::Renseignement(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Renseignement>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Renseignement is complete, so the unique_ptr can delete it.
Renseignement::~Renseignement() = default;
