#include "toolkit_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator* installToolkitTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    const QString folders[] = {QLibraryInfo::location(QLibraryInfo::TranslationsPath),
                               QCoreApplication::applicationDirPath() + "/translations"};
    for (const QString& folder : folders) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder) && app.installTranslator(translator))
            return translator;
    }
    delete translator;
    return nullptr;
}
