#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Salle;
}

// The room view's window, "Kalimo - Salle": a window of its own beside the station's, its four pages
// (the stations, the waiting registrations, the accounts, the welcome messages) and a status line.
// A thin holder for its Designer form; RoomView connects and drives it.
class Salle : public QWidget {
    Q_OBJECT

  public:
    explicit Salle(QWidget* parent = nullptr);
    ~Salle() override;

    Ui::Salle* ui() const { return ui_.get(); }

  private:
    std::unique_ptr<Ui::Salle> ui_;
};
