#pragma once

#include <QLoggingCategory>

// One category per layer, and brimlark.debug for the diagnostic lines the program has
// always written ("url:", "strActiveStateId=", the favourite address). Enable them
// with QT_LOGGING_RULES, e.g. "brimlark.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcBrimlarkDebug)   // brimlark.debug
Q_DECLARE_LOGGING_CATEGORY(lcSettings)        // brimlark.settings
Q_DECLARE_LOGGING_CATEGORY(lcXml)             // brimlark.xml
Q_DECLARE_LOGGING_CATEGORY(lcHttp)            // brimlark.http
Q_DECLARE_LOGGING_CATEGORY(lcService)         // brimlark.service
Q_DECLARE_LOGGING_CATEGORY(lcApp)             // brimlark.app (windows and dialogs)
