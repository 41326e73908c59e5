#include "setup/parametrage.h"

#include "ui_parametrage.h"

Parametrage::Parametrage(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Parametrage>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Parametrage is complete, so the unique_ptr can delete it.
Parametrage::~Parametrage() = default;
