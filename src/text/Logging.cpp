#include "text/Logging.h"

Q_LOGGING_CATEGORY(lcBrimlarkDebug, "brimlark.debug")
Q_LOGGING_CATEGORY(lcSettings, "brimlark.settings")
Q_LOGGING_CATEGORY(lcXml, "brimlark.xml")
Q_LOGGING_CATEGORY(lcHttp, "brimlark.http")
Q_LOGGING_CATEGORY(lcService, "brimlark.service")
Q_LOGGING_CATEGORY(lcApp, "brimlark.app")
