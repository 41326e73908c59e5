// Entry of the UI test executables: the real widgets on Qt's offscreen platform with one
// 1920x1080 screen (and a second one on demand).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mysql.h>

int main(int argc, char** argv) {
    const bool two_screens = qEnvironmentVariableIsSet("KALIMO_TEST_SECOND_SCREEN");
    const QString config =
        QDir::temp().filePath(two_screens ? QStringLiteral("kalimo-offscreen-screens.json")
                                          : QStringLiteral("kalimo-offscreen-screen.json"));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        // KALIMO_TEST_SECOND_SCREEN adds a second screen to the right of the first.
        file.write(
            two_screens
                ? R"({"screens":[{"name":"s0","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96},)"
                  R"({"name":"s1","x":1920,"y":0,"width":1280,"height":1024,"logicalDpi":96}]})"
                : R"({"screens":[{"name":"s0","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96}]})");
        file.close();
    }
    const QByteArray platform = "offscreen:configfile=" + config.toLocal8Bit();
    qputenv("QT_QPA_PLATFORM", platform);
    mysql_library_init(0, nullptr, nullptr);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kalimo"));
    ::testing::InitGoogleTest(&argc, argv);
    const int code = RUN_ALL_TESTS();
    mysql_library_end();
    return code;
}
