#pragma once
// Shared helpers of the main window tests: settings in a temporary folder, canned
// timeline replies, a catcher for message boxes and a capture of the diagnostic lines.

#include "app/frmMain.h"
#include "http/HttpCli.h"
#include "service/TalkBack.h"
#include "settings/Settings.h"

#include <QAbstractButton>
#include <QAction>
#include <QElapsedTimer>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include "app/StatusListDelegate.h"
#include "service/TimelineModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <memory>
#include <optional>
#include <vector>

// Readable QString values in assertion messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace harness {

struct Row {
    QString name, text, favorited, id;
};

inline QByteArray Escape(const QString& s)
{
    return s.toHtmlEscaped().toUtf8();
}

inline QByteArray TimelineXml(const std::vector<Row>& rows)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\">\n";
    for (const Row& r : rows) {
        xml += "<status>\n<created_at>Tue Apr 07 22:52:51 +0000 2009</created_at>\n<id>" + Escape(r.id)
               + "</id>\n<text>" + Escape(r.text) + "</text>\n<source>web</source>\n"
               + "<truncated>false</truncated>\n<favorited>" + Escape(r.favorited)
               + "</favorited>\n<user>\n<id>1</id>\n<name>" + Escape(r.name)
               + "</name>\n<screen_name>u</screen_name>\n</user>\n</status>\n";
    }
    xml += "</statuses>\n";
    return xml;
}

inline QByteArray Reply(int code, const QByteArray& reason, const QByteArray& body,
                        const QByteArray& type = "application/xml; charset=utf-8")
{
    return "HTTP/1.1 " + QByteArray::number(code) + " " + reason + "\r\nContent-Type: " + type
           + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
           + body;
}

inline QByteArray Ok(const QByteArray& body) { return Reply(200, "OK", body); }

inline std::vector<Row> ThreeRows()
{
    return {{QStringLiteral("太郎"), QStringLiteral("最初のつぶやき"), QStringLiteral("false"), QStringLiteral("301")},
            {QStringLiteral("花子"), QStringLiteral("二番目 http://example.com/2"), QStringLiteral("true"), QStringLiteral("302")},
            {QStringLiteral("次郎"), QStringLiteral("三番目"), QStringLiteral("TRUE"), QStringLiteral("303")}};
}

// First line of a recorded request.
inline QByteArray RequestLine(const QByteArray& request)
{
    return request.left(request.indexOf("\r\n"));
}

// Runs the event loop until ready() holds, at most ms; whether it held. The QTest QTRY_
// macros report to QTest, which a GoogleTest run never hears of: a failure there only
// ends the test early, as a pass.
inline bool WaitUntil(const std::function<bool()>& ready, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!ready()) {
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Answers every message box that opens (a nested loop runs its timers) and records it.
class BoxCatcher {
public:
    struct Box {
        QString title, text;
        QMessageBox::Icon icon;
        bool mainWindowVisible;
        QMessageBox::StandardButton defaultButton;  // what Enter presses
    };
    BoxCatcher()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("caught").toBool())
                return;
            box->setProperty("caught", true);
            bool formVisible = false;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (qobject_cast<TForm1*>(w) && w->isVisible())
                    formVisible = true;
            }
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), formVisible,
                             box->standardButton(box->defaultButton())});
            if (QAbstractButton* button = answer ? box->button(*answer) : nullptr)
                button->click();
            else
                box->accept();
        });
        m_timer.start();
    }
    std::vector<Box> boxes;
    // The button to press where the box has it (a question's Yes); otherwise accepted.
    std::optional<QMessageBox::StandardButton> answer;

private:
    QTimer m_timer;
};

// Diagnostic lines of the brimlark.debug category.
class DebugCapture {
public:
    DebugCapture()
    {
        s_lines().clear();
        m_previous = qInstallMessageHandler(&DebugCapture::handler);
    }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const { return s_lines(); }

private:
    static QStringList& s_lines()
    {
        static QStringList lines;
        return lines;
    }
    static void handler(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && QByteArray(context.category) == "brimlark.debug")
            s_lines().append(message);
    }
    QtMessageHandler m_previous = nullptr;
};

// A settings file in a temporary folder and a window made from it.
class FormTest : public ::testing::Test {
protected:
    QString iniPath() const { return m_dir.filePath(QStringLiteral("brimlark.ini")); }

    void writeSettings(const std::function<void(TMainState&)>& edit)
    {
        TMainState state;
        LoadSettings(iniPath(), state);
        edit(state);
        ASSERT_TRUE(SaveSettings(iniPath(), state, QRect(state.WindowLeft, state.WindowTop,
                                                          state.WindowWidth, state.WindowHeight)));
    }
    void writeCredentials(const QString& user = QStringLiteral("alice"),
                          const QString& password = QStringLiteral("secret"))
    {
        writeSettings([&](TMainState& s) {
            s.AccountName = user;
            s.Password = password;
        });
    }

    // Scripted servers answer only the requests a test expects: the server's configuration
    // and the mentions are asked for only when the test says so.
    std::unique_ptr<TForm1> makeForm(const QByteArray& api, bool readServerConfig = false, bool readMentions = false)
    {
        TForm1Options options;
        options.ReadServerConfig = readServerConfig;
        options.ReadMentions = readMentions;
        options.SettingsFile = iniPath();
        options.Arguments = {QStringLiteral("brimlark"), QStringLiteral("--api"), QString::fromUtf8(api)};
        auto form = std::make_unique<TForm1>(options);
        form->CreateSecondaryWindows();
        waitIdle(*form);
        return form;
    }

    // Runs the event loop until the window's read (start-up, reload, sign-in, read more)
    // and what follows it are done; at most 30 s.
    static void waitIdle(TForm1& form)
    {
        QElapsedTimer clock;
        clock.start();
        while (form.Reading() && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        EXPECT_FALSE(form.Reading()) << "a read still runs after 30 s";
    }
    // Runs the event loop until the favourite or repeat on the window's own client has
    // ended and the window has gone on with its outcome; at most 30 s.
    static bool waitForPost(TForm1& form)
    {
        auto* client = form.findChild<TTalkBack*>()->findChild<THttpCli*>(QStringLiteral("HttpCli1"));
        EXPECT_NE(client, nullptr);
        return client && QTest::qWaitFor([client] { return !client->Running(); }, 30000);
    }
    // A menu command as the user gives it, then whatever read it started, to its end.
    static void trigger(TForm1& form, const char* name)
    {
        action(form, name)->trigger();
        waitIdle(form);
    }

    template <class T>
    static T* child(TForm1& form, const char* name)
    {
        T* found = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QAction* action(TForm1& form, const char* name) { return child<QAction>(form, name); }
    static QTreeView* list(TForm1& form) { return child<QTreeView>(form, "ListView1"); }
    static int rowCount(TForm1& form) { return list(form)->model()->rowCount(); }
    // Makes row current and selected, as a click or the keyboard does.
    static void setCurrentRow(TForm1& form, int row)
    {
        list(form)->setCurrentIndex(list(form)->model()->index(row, 0));
    }
    // The whole row's place in the list's viewport.
    static QRect rowRect(TForm1& form, int row)
    {
        QTreeView* view = list(form);
        return view->visualRect(view->model()->index(row, 0)) | view->visualRect(view->model()->index(row, 1));
    }
    // How the list draws a cell: its font and colours.
    static QStyleOptionViewItem cellStyle(TForm1& form, int row, int column)
    {
        QTreeView* view = list(form);
        QStyleOptionViewItem viewOption;
        viewOption.initFrom(view);
        viewOption.font = view->font();
        auto* delegate = qobject_cast<TStatusListDelegate*>(view->itemDelegate());
        EXPECT_NE(delegate, nullptr);
        return delegate->CellOption(viewOption, view->model()->index(row, column));
    }
    static QTimer* timer(TForm1& form, const char* name) { return child<QTimer>(form, name); }

    // The list's cells by the historic column numbers: 0 name, 1 text (the columns shown),
    // 2 the favourite flag as sent, 3 the status id (kept in the model's rows).
    static QStringList column(TForm1& form, int c)
    {
        QStringList cells;
        QAbstractItemModel* model = list(form)->model();
        for (int i = 0; i < model->rowCount(); ++i) {
            const QModelIndex index = model->index(i, c < 2 ? c : 0);
            cells << (c < 2 ? index.data() : index.data(c == 2 ? TTimelineModel::FavoritedRole : TTimelineModel::IdRole))
                         .toString();
        }
        return cells;
    }
    static int selectedRow(TForm1& form)
    {
        const QModelIndexList selected = list(form)->selectionModel()->selectedRows();
        return selected.isEmpty() ? -1 : selected.first().row();
    }
    static QStringList trace(TForm1& form)
    {
        return child<QPlainTextEdit>(form, "memoDisplay")->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }
    static QString detailText(TForm1& form) { return child<QTextEdit>(form, "RichEditC")->toPlainText(); }
    static QString userName(TForm1& form) { return child<QLabel>(form, "lblUserName")->text(); }
    static bool goldStar(TForm1& form)
    {
        return child<QLabel>(form, "Image1")->pixmap().toImage()
               == child<QLabel>(form, "ImageStarOn")->pixmap().toImage();
    }
    static bool greyStar(TForm1& form)
    {
        return child<QLabel>(form, "Image1")->pixmap().toImage()
               == child<QLabel>(form, "ImageStar")->pixmap().toImage();
    }

    QTemporaryDir m_dir;
    BoxCatcher m_boxes;
};

} // namespace harness
