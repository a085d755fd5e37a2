// A stand-in program for the one-instance tests: a SingleApplication with a minimised window
// that reports on standard output when something brings it back to the front. With
// --no-window it has no window to raise and ends after the first connection.
#include <QEvent>
#include <QLocalServer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "single_application.h"

namespace {

class Watched : public QWidget {
protected:
    void changeEvent(QEvent* e) override {
        if (e->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized)) {
            std::printf("raised\n");
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        QWidget::changeEvent(e);
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    SingleApplication app(argc, argv);
    if (app.isRunning()) return 0;
    const bool withWindow = !(argc > 1 && std::strcmp(argv[1], "--no-window") == 0);
    Watched window;
    if (withWindow) {
        app.mainWindow = &window;
        window.showMinimized();
    }
    if (!withWindow) {
        // Nothing can be raised: end once the guard has dealt with the first connection (this
        // slot runs after the guard's own).
        auto* server = app.findChild<QLocalServer*>();
        if (!server) return 2;
        QObject::connect(server, &QLocalServer::newConnection, &app,
                         [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); });
    }
    std::printf("ready\n");
    std::fflush(stdout);
    // Only catches a hang: the test ends the probe long before.
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
