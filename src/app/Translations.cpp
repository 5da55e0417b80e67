#include "app/Translations.h"

#include "text/Logging.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QTranslator>

namespace {

// Marks the translators this unit installed, so a later call replaces only them.
const QString kTranslatorName = QStringLiteral("brimlark-translator");

} // namespace

bool InstallTranslators(TLanguage language)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    const QList<QTranslator*> earlier = app->findChildren<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly);
    for (QTranslator* translator : earlier) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }

    auto* translator = new QTranslator(app);
    translator->setObjectName(kTranslatorName);
    bool loaded = false;
    QString wanted;
    if (language == TLanguage::English) {
        wanted = QStringLiteral(":/i18n/brimlark_en.qm");
        loaded = translator->load(wanted);
    } else {
        // qt_ja only names the catalogues of Qt's modules; qtbase_ja holds the texts.
        wanted = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        loaded = translator->load(QStringLiteral("qtbase_ja"), wanted)
                 || translator->load(QStringLiteral("qt_ja"), wanted);
    }
    if (!loaded) {
        qCWarning(lcApp).noquote() << "no translations loaded from" << wanted;
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
