#include "platform/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool LoadQtFrench() {
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load("qtbase_fr", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
