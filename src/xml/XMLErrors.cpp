#include "xml/XMLErrors.h"

#include <QCoreApplication>

EDOMParseError::EDOMParseError(const QString& reason, int line, const QString& srcText)
    : EBrimlarkError(QCoreApplication::translate("XMLErrors", "%1\r\n直線: %2\r\n%3").arg(reason, QString::number(line), srcText)),
      m_reason(reason), m_line(line), m_srcText(srcText)
{
}

EIntfCastError::EIntfCastError()
    : EBrimlarkError(QCoreApplication::translate("XMLErrors", "Interface はサポートされていません"))
{
}

EListError::EListError(qsizetype index)
    : EBrimlarkError(QCoreApplication::translate("XMLErrors", "リストのインデックスが範囲を超えています (%1)").arg(index))
{
}
