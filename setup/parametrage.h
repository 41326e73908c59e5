#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Parametrage;
}

// The set-up screen that binds the station to its computer record.
// A thin holder for its Designer form; StationSetup connects and drives it.
class Parametrage : public QWidget {
    Q_OBJECT

  public:
    explicit Parametrage(QWidget* parent = nullptr);
    ~Parametrage() override;

    // The handlers read and move these controls.
    Ui::Parametrage* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Parametrage> ui_;
};
