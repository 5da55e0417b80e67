#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

// A private certificate authority and server certificates made for one test with the
// openssl command line, in a temporary folder that goes away with the object. Nothing
// here is ever committed: every key is made fresh.
//
//   TestCertificates certs;
//   ASSERT_TRUE(certs.isValid()) << certs.errorString();
//   server.useTls(certs.serverCert(), certs.serverKey());   // for 127.0.0.1 and localhost
//   request.Network.CaFile = certs.caFile();
class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    QString caFile() const;         // the authority's certificate (PEM)
    // Signed by the authority for 127.0.0.1 and localhost, valid now.
    QString serverCert() const;
    QString serverKey() const;
    // Signed by the authority, valid now, but only for "wrong.example".
    QString wrongHostCert() const;
    QString wrongHostKey() const;
    // Signed by the authority for 127.0.0.1 and localhost, expired a day ago.
    QString expiredCert() const;
    QString expiredKey() const;
    // Self-signed for 127.0.0.1 and localhost: no authority anyone trusts.
    QString selfSignedCert() const;
    QString selfSignedKey() const;

    QString path(const QString& name) const;

private:
    bool run(const QStringList& args);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_error;
};
