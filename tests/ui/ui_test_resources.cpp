#include "ui_test_resources.h"

#include <QtGlobal>

#include <mutex>

static void initUiResources() { Q_INIT_RESOURCE(resources); }

void ensureUiResources() {
    static std::once_flag once;
    std::call_once(once, initUiResources);
}
