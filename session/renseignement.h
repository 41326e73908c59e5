#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Renseignement;
}

// The usage survey shown after a visitor signs in.
// A thin holder for its Designer form; Sessions connects and drives it.
class Renseignement : public QWidget {
    Q_OBJECT

  public:
    explicit Renseignement(QWidget* parent = nullptr);
    ~Renseignement() override;

    // The handlers read and move these controls.
    Ui::Renseignement* ui() const { return ui_.get(); }

    // Puts the keyboard's Tab order back in the order the boxes and buttons now stand on the panel, top
    // to bottom, then left to right; called after the survey's layout has moved them.
    void follow_layout_with_tab_order();

  private:
    std::unique_ptr<Ui::Renseignement> ui_;
};
