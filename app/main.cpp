#include <windows.h>

#include <QPalette>
#include <cstdint>

#include "logging.h"
#include "main_widget.h"
#include "single_application.h"
#include "style_sheet.h"
#include "toolkit_translation.h"

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
    installToolkitTranslation(app);
    // Standard error is out of sight on Windows: the log also goes to dated files a technician can
    // send. Never destroyed: threads may still log while static objects go.
    auto* log_file = new kpes::rotating_file_sink(kpes::kLogFolder, kpes::kLogFileBytes, kpes::kLogDays);
    kpes::add_log_sink(log_file, kpes::LS_VERBOSE);

    auto* window = new MainWidget(nullptr);
    app.mainWindow = window;
    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
