#include "Desktop.h"

#include <QThread>

#include <sys/prctl.h>

#include <csignal>

Desktop::Desktop()
{
    for (QProcess* p : {&m_x, &m_wm})
        p->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool Desktop::Start()
{
    m_x.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                       QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                       QStringLiteral("tcp")});
    QByteArray number;
    // A loaded machine (a sanitizer build beside another test) can take its time.
    while (!number.contains('\n') && m_x.waitForReadyRead(30000))
        number += m_x.readAllStandardOutput();
    if (!number.contains('\n'))
        return false;
    m_display = ":" + number.trimmed();
    qputenv("DISPLAY", m_display);
    m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    for (int i = 0; i < 300; ++i) {
        if (Run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                .contains(QLatin1String("window id")))
            return true;
        QThread::msleep(100);
    }
    return false;
}

Desktop::~Desktop()
{
    for (QProcess* p : {&m_wm, &m_x}) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(1000);
    }
}

QString Desktop::Run(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
}
