#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's web browser while it lives: every http and https address
// the program opens is recorded instead.
class FakeBrowser : public QObject {
    Q_OBJECT
public:
    FakeBrowser();
    ~FakeBrowser() override;

    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};
