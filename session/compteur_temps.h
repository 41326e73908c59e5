#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Compteur_temps;
}

// The session counter shown in the corner window during a session.
// A thin holder for its Designer form; Sessions connects and drives it.
class Compteur_temps : public QWidget {
    Q_OBJECT

  public:
    explicit Compteur_temps(QWidget* parent = nullptr);
    ~Compteur_temps() override;

    // The handlers read and move these controls.
    Ui::Compteur_temps* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Compteur_temps> ui_;
};
