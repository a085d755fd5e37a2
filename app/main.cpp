#include <windows.h>

#include <QPalette>

#include "main_widget.h"
#include "single_application.h"
#include "style_sheet.h"

namespace {

// The socket library is started before main and cleaned up at exit only if that worked.
struct WinsockSession {
    WSADATA data{};
    int result;
    WinsockSession() : result(WSAStartup(MAKEWORD(1, 0), &data)) {}
    ~WinsockSession() {
        if (result == 0) WSACleanup();
    }
};
WinsockSession g_winsock;

}  // namespace

int main(int argc, char* argv[]) {
    // The resources live in a static library; a linker may drop them unless referenced.
    Q_INIT_RESOURCE(resources);
    QCoreApplication::addLibraryPath("./plugins");
    SingleApplication app(argc, argv);
    applyStyle(app);
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);
    if (app.isRunning()) return 0;

    auto* window = new MainWidget(nullptr);
    app.mainWindow = window;
    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
