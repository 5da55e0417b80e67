// Long-running use against the real local service: many reloads with posts in between
// must neither grow the resident memory nor leak file descriptors. CI runs a short
// round; BRIMLARK_SOAK=full (./dev soak) runs 1,000 reloads and 200 posts and writes
// its figures to the file named by BRIMLARK_SOAK_REPORT.
#include "FormHarness.h"
#include "LocalService.h"
#include "dialogs/uTwitt.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

#include <unistd.h>

using namespace harness;

namespace {

long residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// The posting dialog keeps its body copy beside the test's settings file.
class SoakTest : public FormTest {};

TEST_F(SoakTest, ReloadsAndPostsKeepMemoryAndDescriptorsSteady)
{
    const bool full = qgetenv("BRIMLARK_SOAK") == "full";
    const int reloads = full ? 1000 : 120;
    const int posts = full ? 200 : 24;
    const int warmUp = full ? 100 : 30;
    const int postEvery = reloads / posts;

    LocalService::Options options;
    options.seed = true;
    LocalService service{options};
    ASSERT_TRUE(service.isRunning()) << qPrintable(service.errorString());
    writeCredentials(QString::fromLatin1(LocalService::kDemoUser), QString::fromLatin1(LocalService::kDemoPassword));
    auto form = makeForm(service.baseUrl());
    ASSERT_GT(rowCount(*form), 0);
    auto* twitt = form->findChild<TfrmTwitt*>();
    ASSERT_NE(twitt, nullptr);

    const int descriptorsBefore = openDescriptors();
    long residentAfterWarmUp = 0;
    int posted = 0;
    for (int i = 1; i <= reloads; ++i) {
        form->Reload();
        waitIdle(*form);
        ASSERT_EQ(rowCount(*form), 20) << "reload " << i;
        if (i % postEvery == 0 && posted < posts) {
            const QString text = QStringLiteral("耐久テスト %1 http://example.com/%1").arg(i);
            twitt->memoTwitt->setPlainText(text);
            twitt->btnTwittClick();
            ASSERT_TRUE(QTest::qWaitFor([twitt] { return !twitt->Posting(); }, 30000)) << "post " << posted;
            ASSERT_TRUE(twitt->memoTwitt->toPlainText().isEmpty()) << "post " << posted << " failed: "
                                                                 << qPrintable(form->StatusText());
            ++posted;
        }
        if (i == warmUp)
            residentAfterWarmUp = residentKb();
        QCoreApplication::processEvents();
    }
    const long residentAtEnd = residentKb();
    const int descriptorsAfter = openDescriptors();

    // The last post shows at the top once the timeline is read again.
    form->Reload();
    waitIdle(*form);
    EXPECT_TRUE(column(*form, 1).first().startsWith(QStringLiteral("耐久テスト")));

    const double growth = static_cast<double>(residentAtEnd - residentAfterWarmUp) / static_cast<double>(residentAfterWarmUp);
    const QString report = QStringLiteral(
        "# Soak\n\nWritten by `./dev soak`: %1 reloads of the friends timeline and %2 posts against the local "
        "service, in one main window.\n\n| figure | value |\n|---|---|\n"
        "| resident memory after %3 reloads | %4 KiB |\n| resident memory at the end | %5 KiB |\n"
        "| growth | %6 % (limit 5 %) |\n| open file descriptors before / after | %7 / %8 |\n")
        .arg(reloads).arg(posted).arg(warmUp).arg(residentAfterWarmUp).arg(residentAtEnd)
        .arg(growth * 100.0, 0, 'f', 2).arg(descriptorsBefore).arg(descriptorsAfter);
    std::fprintf(stderr, "%s", qPrintable(report));
    const QByteArray reportPath = qgetenv("BRIMLARK_SOAK_REPORT");
    if (!reportPath.isEmpty()) {
        QFile out(QString::fromLocal8Bit(reportPath));
        if (out.open(QIODevice::WriteOnly))
            out.write(report.toUtf8());
    }

    EXPECT_EQ(posted, posts);
    EXPECT_LT(growth, 0.05) << residentAfterWarmUp << " KiB -> " << residentAtEnd << " KiB";
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
}

} // namespace
