#include "registration/inscription.h"

#include "ui_inscription.h"

Inscription::Inscription(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Inscription>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Inscription is complete, so the unique_ptr can delete it.
Inscription::~Inscription() = default;
