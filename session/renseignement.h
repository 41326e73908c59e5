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

  private:
    std::unique_ptr<Ui::Renseignement> ui_;
};
