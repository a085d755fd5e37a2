// A stand-in program for the one-instance tests: a SingleApplication with a minimised window
// that reports on standard output when something brings it back to the front.
#include <QEvent>
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
    std::printf("ready\n");
    std::fflush(stdout);
    // Without a window nothing can be raised: end quietly. With one, time out with code 3.
    QTimer::singleShot(withWindow ? 20000 : 3000, &app,
                       [withWindow] { QCoreApplication::exit(withWindow ? 3 : 0); });
    return app.exec();
}
