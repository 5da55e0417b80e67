#include "TestCertificates.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const char* const kLocalNames = "subjectAltName=IP:127.0.0.1,DNS:localhost";

} // namespace

TestCertificates::TestCertificates()
    : m_dir(std::make_unique<QTemporaryDir>())
{
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    auto write = [this](const QString& name, const QByteArray& text) {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    // An extension file per certificate: names, and server use only.
    write(QStringLiteral("local.ext"), QByteArray(kLocalNames) + "\nextendedKeyUsage=serverAuth\n");
    write(QStringLiteral("wrong.ext"), "subjectAltName=DNS:wrong.example\nextendedKeyUsage=serverAuth\n");

    const QString ca = path(QStringLiteral("ca"));
    if (!run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", ca + ".key", "-out", ca + ".pem", "-days", "2", "-subj", "/CN=Brimlark Test CA",
              "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}))
        return;
    auto issue = [&](const QString& name, const QString& ext, const QStringList& validity) {
        const QString base = path(name);
        if (!run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                  base + ".key", "-out", base + ".csr", "-subj", "/CN=" + name}))
            return false;
        QStringList args{"x509", "-req", "-in", base + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                         "-CAcreateserial", "-out", base + ".pem", "-extfile", path(ext)};
        return run(args + validity);
    };
    if (!issue(QStringLiteral("server"), QStringLiteral("local.ext"), {"-days", "2"})
        || !issue(QStringLiteral("wrong"), QStringLiteral("wrong.ext"), {"-days", "2"}))
        return;
    // Valid from three days ago until yesterday.
    const QString expired = path(QStringLiteral("expired"));
    if (!run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
              expired + ".key", "-out", expired + ".csr", "-subj", "/CN=expired"}))
        return;
    // openssl x509 has no start date option before 3.4; "ca" with a tiny config does.
    write(QStringLiteral("ca.cnf"),
          "[ca]\ndefault_ca=test\n[test]\ndatabase=" + path(QStringLiteral("index.txt")).toUtf8()
              + "\nnew_certs_dir=" + m_dir->path().toUtf8() + "\nserial=" + path(QStringLiteral("serial")).toUtf8()
              + "\ndefault_md=sha256\npolicy=any\ncopy_extensions=none\n[any]\ncommonName=supplied\n"
              + "[ext]\n" + kLocalNames + "\nextendedKeyUsage=serverAuth\n");
    write(QStringLiteral("index.txt"), "");
    write(QStringLiteral("serial"), "1000\n");
    const QString start = QDateTime::currentDateTimeUtc().addDays(-3).toString(QStringLiteral("yyyyMMddHHmmss'Z'"));
    const QString end = QDateTime::currentDateTimeUtc().addDays(-1).toString(QStringLiteral("yyyyMMddHHmmss'Z'"));
    if (!run({"ca", "-batch", "-config", path(QStringLiteral("ca.cnf")), "-cert", ca + ".pem", "-keyfile",
              ca + ".key", "-in", expired + ".csr", "-out", expired + ".pem", "-startdate", start, "-enddate", end,
              "-extensions", "ext"}))
        return;
    const QString self = path(QStringLiteral("self"));
    run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         self + ".key", "-out", self + ".pem", "-days", "2", "-subj", "/CN=self", "-addext", kLocalNames});
}

TestCertificates::~TestCertificates() = default;

QString TestCertificates::path(const QString& name) const { return m_dir->filePath(name); }
QString TestCertificates::caFile() const { return path(QStringLiteral("ca.pem")); }
QString TestCertificates::serverCert() const { return path(QStringLiteral("server.pem")); }
QString TestCertificates::serverKey() const { return path(QStringLiteral("server.key")); }
QString TestCertificates::wrongHostCert() const { return path(QStringLiteral("wrong.pem")); }
QString TestCertificates::wrongHostKey() const { return path(QStringLiteral("wrong.key")); }
QString TestCertificates::expiredCert() const { return path(QStringLiteral("expired.pem")); }
QString TestCertificates::expiredKey() const { return path(QStringLiteral("expired.key")); }
QString TestCertificates::selfSignedCert() const { return path(QStringLiteral("self.pem")); }
QString TestCertificates::selfSignedKey() const { return path(QStringLiteral("self.key")); }

bool TestCertificates::run(const QStringList& args)
{
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir->path());
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        if (m_error.isEmpty()) {
            m_error = QStringLiteral("openssl %1 failed: %2 %3")
                          .arg(args.value(0), openssl.errorString(), QString::fromLocal8Bit(openssl.readAllStandardError()));
        }
        return false;
    }
    return true;
}
