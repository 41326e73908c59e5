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

    // The counter's look as the end of the credit nears: 0 as designed, 1 amber, 2 red (the last
    // minute blinks between 1 and 2). Kept in the label's "warning" property.
    void set_warning_look(int look);

  private:
    std::unique_ptr<Ui::Compteur_temps> ui_;
};
