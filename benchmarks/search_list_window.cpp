// A window hosting the search list, filled by discovery from the simulated cameras' default
// scenario, with a few rows in other states; saves a picture of it and exits.
//
//   search_list_window out.png
//
// Run it on a display (e.g. a virtual one) to see what a person sees; it applies the
// application's style sheet as the program does.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>

#include "device_table_widget.h"
#include "style_sheet.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png\n", argv[0]);
        return 2;
    }
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    applyStyle(app);

    if (KpLPRClient_Setup() != 0 || RuDAVADO_LoadDefaultScenario() != 0) {
        std::fprintf(stderr, "cannot set up the simulated network\n");
        return 1;
    }
    int online = 0;
    for (int i = 0; i < RuDAVADO_CameraCount(); ++i) {
        RuDAVADO_CameraState state;
        if (RuDAVADO_GetCameraState(i, &state) == 0 && state.state == RUDAVADO_STATE_ONLINE) ++online;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("搜索列表"));
    auto* list = new DeviceTableWidget(&window, std::make_shared<UiJobQueue>());
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 10, 10, 10);
    layout->addWidget(list);
    window.resize(1400, 480);
    window.show();

    list->StartFindDevice();
    QElapsedTimer timer;
    timer.start();
    while (list->rowCount() < online && timer.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }

    // One row of each look: running with its bar, success, failure, ticked.
    list->setRowStatus(0, DEVICE_STATUS_UPDATING, 40);
    list->setRowStatus(1, DEVICE_STATUS_UPDATE_SUCCESS, 100);
    list->setRowStatus(2, DEVICE_STATUS_UPDATE_FAILED, 0);
    list->setRowStatus(3, DEVICE_STATUS_EXPORTING, 75);
    list->setRowCheckState(1, Qt::Checked);
    list->setRowCheckState(4, Qt::Checked);
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }

    const bool saved = window.grab().save(argv[1]);
    std::fprintf(stderr, "%d rows; picture %s %s\n", list->rowCount(), argv[1],
                 saved ? "saved" : "NOT saved");
    list->StopFindDevice();
    KpLPRClient_Cleanup();
    return saved ? 0 : 1;
}
