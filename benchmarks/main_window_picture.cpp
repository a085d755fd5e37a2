// Pictures of the main window for the README, on the simulated cameras' default network: the
// search page with a firmware upgrade in progress, the cameras that failed it with their reasons
// (one reason's tooltip open), the local page after a time synchronisation, and the question a
// close asks while the upgrade still runs. Run it on a display (scripts/run.sh --docs starts a
// virtual one) in a scratch folder: the window keeps its device list in the working folder.
//
//   main_window_picture firmware.bin search.png local.png [failures.png [close.png]]
//   main_window_picture --whole-screen screen.png    the window as it opens, and the screen round it
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "device_table_widget.h"
#include "edit_device_table_widget.h"
#include "main_widget.h"
#include "style_sheet.h"
#include "update_widget.h"

namespace {

void pump(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && !done()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void tickIps(DeviceTableWidgetBase* list, const std::vector<std::string>& ips) {
    for (const std::string& ip : ips) {
        int row = -1;
        if (list->findRowByIp(ip, row)) list->setRowCheckState(row, Qt::Checked);
    }
    list->updateCounts();
}

// What the display shows of the window, title bar included.
bool grabWindow(const QWidget& window, const char* path) {
    const QRect frame = window.frameGeometry();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(path);
}

// The window where it places itself on a small screen, with the cameras found, and the whole
// screen: a person sees at once whether the window fits.
int wholeScreen(const char* path) {
    auto* window = new MainWidget(nullptr);
    window->show();
    RuDAVADO_LoadDefaultScenario();
    window->onRefreshClick();
    DeviceTableWidget* search = window->searchList();
    pump(10000, [&] { return search->rowCount() >= 11; });
    tickIps(search, {"192.168.1.101", "192.168.1.102"});
    pump(500);
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::fprintf(stderr, "whole screen %s\n", saved ? "saved" : "NOT saved");
    std::_Exit(saved ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    const bool whole_screen = argc == 3 && std::string(argv[1]) == "--whole-screen";
    if (argc < 4 && !whole_screen) {
        std::fprintf(
            stderr,
            "usage: %s firmware.bin search.png local.png [failures.png [close.png]] | --whole-screen "
            "screen.png\n",
            argv[0]);
        return 2;
    }
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    applyStyle(app);
    if (whole_screen) return wholeScreen(argv[2]);

    auto* window = new MainWidget(nullptr);
    window->move(0, 0);
    window->show();
    RuDAVADO_LoadDefaultScenario();
    RuDAVADO_SetTiming("connect_timeout", 500);

    // The local page: two cameras with their own logins and one that is switched off.
    EditDeviceTableWidget* local = window->localList();
    local->slotAddDeviceInfo("192.168.1.101", 80, "admin", "tolvi");
    local->slotAddDeviceInfo("192.168.1.103", 80, "admin", "Kp@2024");
    local->slotAddDeviceInfo("192.168.1.104", 80, "admin", "tolvi");
    // Typed with a wrong password: "掉线" like the switched-off one, but it says why.
    local->slotAddDeviceInfo("192.168.1.107", 80, "admin", "tolvi2024");

    // The search page, with the login bar as the window fills it in: six cameras ticked for an
    // upgrade; the older model has no package, and .103 has another password.
    window->onRefreshClick();
    DeviceTableWidget* search = window->searchList();
    pump(10000, [&] { return search->rowCount() >= 11; });
    tickIps(search, {"192.168.1.100", "192.168.1.101", "192.168.1.103", "192.168.1.105", "192.168.1.106",
                     "192.168.1.107"});
    window->onButtonUpdateClicked(QString::fromLocal8Bit(argv[1]));
    pump(6000);
    const bool search_saved = grabWindow(*window, argv[2]);

    bool failures_saved = true;
    if (argc > 4) {
        int refused = -1, foreign = -1;
        search->findRowByIp("192.168.1.103", refused);
        search->findRowByIp("192.168.1.105", foreign);
        pump(20000,
             [&] { return !search->rowReason(refused).isEmpty() && !search->rowReason(foreign).isEmpty(); });
        UpdateWidget* cell = search->statusCell(foreign);
        QToolTip::showText(cell->mapToGlobal(QPoint(cell->width() / 2, cell->height())), cell->toolTip(),
                           cell);
        pump(800);
        failures_saved = grabWindow(*window, argv[4]);
        QToolTip::hideText();
    }

    window->slotPage2Clicked();
    tickIps(local, {"192.168.1.101", "192.168.1.103"});
    window->onButtonTimeClicked();
    pump(3000);
    const bool local_saved = grabWindow(*window, argv[3]);

    std::fprintf(stderr, "search page %s, failures %s, local page %s\n", search_saved ? "saved" : "NOT saved",
                 failures_saved ? "saved" : "NOT saved", local_saved ? "saved" : "NOT saved");
    std::fflush(stderr);
    if (argc >= 6 && search_saved && failures_saved && local_saved) {
        // The close asks while the upgrade runs; the picture is taken while the question is open.
        window->slotPage1Clicked();
        pump(300);
        QTimer::singleShot(800, [window, path = argv[5]] {
            const bool saved = grabWindow(*window, path);
            std::fprintf(stderr, "close question %s\n", saved ? "saved" : "NOT saved");
            std::fflush(stderr);
            std::_Exit(saved ? 0 : 1);
        });
        window->close();
        return 1;  // the question was not asked
    }
    // The upgrade still runs; the pictures are all this program is for.
    std::_Exit(search_saved && failures_saved && local_saved ? 0 : 1);
}
