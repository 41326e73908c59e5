#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Inscription;
}

// The self-registration form.
// A thin holder for its Designer form; SelfRegistration connects and drives it.
class Inscription : public QWidget {
    Q_OBJECT

  public:
    explicit Inscription(QWidget* parent = nullptr);
    ~Inscription() override;

    // The handlers read and move these controls.
    Ui::Inscription* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Inscription> ui_;
};
