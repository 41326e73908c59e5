#include "app/identification.h"

#include "ui_identification.h"

Identification::Identification(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Identification>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Identification is complete, so the unique_ptr can delete it.
Identification::~Identification() = default;
