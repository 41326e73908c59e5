#include "session/identification.h"

#include "ui_identification.h"

Identification::Identification(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Identification>()) {
    ui_->setupUi(this);
    // The logos keep their design places whatever the screen size; on a screen where the centred
    // login group reaches them they must neither cover its buttons nor take their clicks.
    for (QWidget* logo : {static_cast<QWidget*>(ui_->Identification_image_logo_kalimo),
                          static_cast<QWidget*>(ui_->Identification_image_logo1),
                          static_cast<QWidget*>(ui_->Identification_image_logo2),
                          static_cast<QWidget*>(ui_->Identification_logo3)}) {
        logo->setAttribute(Qt::WA_TransparentForMouseEvents);
        logo->lower();
    }
}

// Defined here, where Ui::Identification is complete, so the unique_ptr can delete it.
Identification::~Identification() = default;
