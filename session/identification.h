#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Identification;
}

// The login screen: welcome, staff sign-in and the power buttons.
// A thin holder for its Designer form; Sessions drives the sign-in, and the main window places the
// panel for each screen and wires the key chord, the power buttons and "Inscription".
class Identification : public QWidget {
    Q_OBJECT

  public:
    explicit Identification(QWidget* parent = nullptr);
    ~Identification() override;

    // The handlers read and move these controls.
    Ui::Identification* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Identification> ui_;
};
