#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Identification;
}

// The login screen: welcome, staff sign-in and the power buttons.
// A thin holder for its Designer form; the main window connects and drives it.
class Identification : public QWidget {
    Q_OBJECT

  public:
    explicit Identification(QWidget* parent = nullptr);
    ~Identification() override;

    // The main window's handlers read and move these controls.
    Ui::Identification* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Identification> ui_;
};
