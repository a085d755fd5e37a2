// ShellExecuteA: the desktop's default browser stands in for the one the program names.
#include <windows.h>

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <mutex>
#include <string>

#include "kp_platform.h"

namespace {

std::mutex g_hookLock;
kp::ShellExecuteHook g_shellHook;

}  // namespace

namespace kp {

void setShellExecuteHook(ShellExecuteHook hook) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_shellHook = std::move(hook);
}

}  // namespace kp

HINSTANCE ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR, int) {
    const std::string operation = lpOperation ? lpOperation : "";
    const std::string file = lpFile ? lpFile : "";
    const std::string parameters = lpParameters ? lpParameters : "";
    kp::ShellExecuteHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_shellHook;
    }
    // Like the real call, a value above 32 means success.
    HINSTANCE ok = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(33));
    if (hook)
        return hook(operation, file, parameters) ? ok : reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(2));
    // A browser named as the program (e.g. "iexplore.exe") opens its parameter: the desktop's
    // default browser stands in for it.
    const bool browser =
        !parameters.empty() && file.size() > 4 && file.compare(file.size() - 4, 4, ".exe") == 0;
    const QString target = QString::fromUtf8((browser ? parameters : file).c_str());
    QUrl url = QUrl::fromUserInput(target);
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(2));  // ERROR_FILE_NOT_FOUND
    return ok;
}
