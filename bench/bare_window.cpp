// The comparison for the station's start-up: a bare Qt Widgets program that shows one window the
// size of the screen and exits once it has been painted. With "--text" the window also shows one
// line of text, so that the font system starts as in any window that shows words.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstring>

namespace {

class BareWindow : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    BareWindow window;
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0) {
        auto* line = new QLabel(QStringLiteral("Bienvenue"), &window);
        line->move(25, 16);
    }
    window.show();
    return QApplication::exec();
}
