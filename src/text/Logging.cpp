#include "text/Logging.h"

// The diagnostic lines (addresses, status ids) only when asked for: --verbose or
// QT_LOGGING_RULES="brimlark.debug=true".
Q_LOGGING_CATEGORY(lcBrimlarkDebug, "brimlark.debug", QtInfoMsg)
// The layers' own lines: failures (info and up) by default, their details on request.
Q_LOGGING_CATEGORY(lcSettings, "brimlark.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcXml, "brimlark.xml", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHttp, "brimlark.http", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "brimlark.service", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "brimlark.app", QtInfoMsg)
