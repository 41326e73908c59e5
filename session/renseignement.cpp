#include "session/renseignement.h"

#include "ui_renseignement.h"

#include <QAbstractButton>

#include <algorithm>
#include <vector>

Renseignement::Renseignement(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::Renseignement>()) {
    ui_->setupUi(this);
}

// Defined here, where Ui::Renseignement is complete, so the unique_ptr can delete it.
Renseignement::~Renseignement() = default;

void Renseignement::follow_layout_with_tab_order() {
    // With both groups open the buttons stand beside the Internet group, not below "Autres".
    const QList<QAbstractButton*> found = findChildren<QAbstractButton*>();
    std::vector<QAbstractButton*> controls(found.begin(), found.end());
    std::stable_sort(controls.begin(), controls.end(), [](const QWidget* a, const QWidget* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    for (std::size_t i = 1; i < controls.size(); ++i) {
        QWidget::setTabOrder(controls[i - 1], controls[i]);
    }
}
