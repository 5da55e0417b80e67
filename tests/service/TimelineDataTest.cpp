// The timeline binding over real parsed replies.
#include "service/TimelineData.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

namespace {

const char kTimeline[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<statuses type="array">
  <status>
    <created_at>Tue Mar 10 12:00:00 +0000 2009</created_at>
    <id>1298765432</id>
    <text>こんにちは &amp; http://example.com/a?b=1&amp;c=2 &#x263A;</text>
    <source>&lt;a href="http://example.com"&gt;web&lt;/a&gt;</source>
    <truncated>false</truncated>
    <in_reply_to_status_id>1298765000</in_reply_to_status_id>
    <in_reply_to_user_id>42</in_reply_to_user_id>
    <favorited>true</favorited>
    <in_reply_to_screen_name>bob</in_reply_to_screen_name>
    <user>
      <id>7</id>
      <name>山田 太郎</name>
      <screen_name>taro</screen_name>
      <location>東京</location>
      <description>説明</description>
      <profile_image_url>http://example.com/p.png</profile_image_url>
      <url>http://example.com/</url>
      <protected>false</protected>
      <followers_count>2147483647</followers_count>
    </user>
  </status>
  <status>
    <created_at/>
    <id>1298765431</id>
    <text>second</text>
    <source>web</source>
    <truncated>false</truncated>
    <in_reply_to_status_id></in_reply_to_status_id>
    <in_reply_to_user_id></in_reply_to_user_id>
    <favorited>false</favorited>
    <in_reply_to_screen_name></in_reply_to_screen_name>
    <user>
      <id>8</id>
      <name>alice</name>
      <followers_count>-3</followers_count>
    </user>
  </status>
</statuses>
)";

TXMLStatusesType* Load(TXMLDocument& doc, const QByteArray& text)
{
    doc.LoadFromText(text);
    return TimelineStatuses(doc);
}

QStringList Ids(TXMLStatusesType* statuses)
{
    QStringList ids;
    for (int i = 0; i < statuses->Count(); ++i)
        ids << statuses->Get_status(i)->Get_id();
    return ids;
}

} // namespace

TEST(TimelineRead, EveryFieldOfAFullReply)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc, kTimeline);
    ASSERT_EQ(statuses->Count(), 2);
    EXPECT_EQ(statuses->Get_type(), QStringLiteral("array"));

    TXMLStatusType* s = statuses->Get_status(0);
    EXPECT_EQ(s->Get_created_at(), QStringLiteral("Tue Mar 10 12:00:00 +0000 2009"));
    EXPECT_EQ(s->Get_id(), QStringLiteral("1298765432"));
    EXPECT_EQ(s->Get_text(), QStringLiteral("こんにちは & http://example.com/a?b=1&c=2 ☺"));
    EXPECT_EQ(s->Get_source(), QStringLiteral("<a href=\"http://example.com\">web</a>"));
    EXPECT_EQ(s->Get_truncated(), QStringLiteral("false"));
    EXPECT_EQ(s->Get_in_reply_to_status_id(), QStringLiteral("1298765000"));
    EXPECT_EQ(s->Get_in_reply_to_user_id(), QStringLiteral("42"));
    EXPECT_EQ(s->Get_favorited(), QStringLiteral("true"));
    EXPECT_EQ(s->Get_in_reply_to_screen_name(), QStringLiteral("bob"));

    TXMLUserType* u = s->Get_user();
    EXPECT_EQ(u->Get_id(), QStringLiteral("7"));
    EXPECT_EQ(u->Get_name(), QStringLiteral("山田 太郎"));
    EXPECT_EQ(u->Get_screen_name(), QStringLiteral("taro"));
    EXPECT_EQ(u->Get_location(), QStringLiteral("東京"));
    EXPECT_EQ(u->Get_description(), QStringLiteral("説明"));
    EXPECT_EQ(u->Get_profile_image_url(), QStringLiteral("http://example.com/p.png"));
    EXPECT_EQ(u->Get_url(), QStringLiteral("http://example.com/"));
    EXPECT_EQ(u->Get_protected(), QStringLiteral("false"));
    EXPECT_EQ(u->Get_followers_count(), 2147483647);
    EXPECT_EQ(u, s->Get_user());

    TXMLStatusType* s2 = statuses->Get_status(1);
    EXPECT_EQ(s2->Get_created_at(), QString());
    EXPECT_EQ(s2->Get_in_reply_to_status_id(), QString());
    EXPECT_EQ(s2->Get_favorited(), QStringLiteral("false"));
    EXPECT_EQ(s2->Get_user()->Get_name(), QStringLiteral("alice"));
    EXPECT_EQ(s2->Get_user()->Get_followers_count(), -3);
    EXPECT_EQ(s2->Get_user()->Get_location(), QString());   // missing: read as empty
}

TEST(TimelineRead, OnlyStatusChildrenAreItemsInDocumentOrder)
{
    struct Case { const char* name; QByteArray text; QStringList ids; };
    const Case cases[] = {
        {"empty root", "<statuses/>", {}},
        {"empty root with layout", "<statuses type=\"array\">\n</statuses>", {}},
        {"stray element", "<statuses><status><id>1</id></status><ad>x</ad><status><id>2</id></status></statuses>", {"1", "2"}},
        {"wrong case", "<statuses><Status><id>9</id></Status><status><id>3</id></status></statuses>", {"3"}},
        {"comment and pi", "<statuses><!-- c --><status><id>4</id></status><?p x?></statuses>", {"4"}},
        {"namespaced", "<statuses xmlns=\"urn:t\"><status><id>5</id></status></statuses>", {"5"}},
    };
    for (const Case& c : cases) {
        TXMLDocument doc;
        EXPECT_EQ(Ids(Load(doc, c.text)), c.ids) << c.name;
    }
}

// A timeline as Friendica sends it: the default namespace on the root, three prefixes,
// and an author and an owner beside the user, each with a <name> of its own (put first
// here, so a lookup that strays into them shows).
TEST(TimelineRead, AFriendicaTimelineBindsToTheUserName)
{
    const QByteArray status = R"(
  <status>
    <friendica:author><name>Author Name</name><screen_name>author</screen_name></friendica:author>
    <friendica:owner><name>Owner Name</name><screen_name>owner</screen_name></friendica:owner>
    <text>from afar</text>
    <truncated>false</truncated>
    <created_at>Mon Dec 07 19:00:00 +0000 2026</created_at>
    <in_reply_to_status_id></in_reply_to_status_id>
    <source>web</source>
    <id>ID</id>
    <in_reply_to_user_id></in_reply_to_user_id>
    <in_reply_to_screen_name></in_reply_to_screen_name>
    <georss:point>35.68 139.76</georss:point>
    <favorited>FAV</favorited>
    <user><id>3</id><name>User Name</name><screen_name>user</screen_name></user>
    <statusnet:html>from afar</statusnet:html>
    <statusnet:conversation_id>7</statusnet:conversation_id>
    <friendica:title></friendica:title>
  </status>)";
    QByteArray text = R"(<?xml version="1.0" encoding="UTF-8"?>
<statuses xmlns="http://api.twitter.com" xmlns:statusnet="http://status.net/schema/api/1/"
  xmlns:friendica="http://friendi.ca/schema/api/1/" xmlns:georss="http://www.georss.org/georss">)";
    text += QByteArray(status).replace("ID", "11").replace("FAV", "true");
    text += QByteArray(status).replace("ID", "12").replace("FAV", "false") + "\n</statuses>\n";

    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc, text);
    ASSERT_EQ(statuses->Count(), 2);
    EXPECT_EQ(Ids(statuses), (QStringList{"11", "12"}));
    for (int i = 0; i < 2; ++i) {
        TXMLStatusType* s = statuses->Get_status(i);
        EXPECT_EQ(s->Get_user()->Get_name(), QStringLiteral("User Name")) << i;
        EXPECT_EQ(s->Get_text(), QStringLiteral("from afar")) << i;
    }
    EXPECT_EQ(statuses->Get_status(0)->Get_favorited(), QStringLiteral("true"));
    EXPECT_EQ(statuses->Get_status(1)->Get_favorited(), QStringLiteral("false"));
}

TEST(TimelineRead, StatusIndexOutsideTheItemsRaisesTheListError)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc, "<statuses><status/><other/></statuses>");
    EXPECT_NO_THROW(statuses->Get_status(0));
    try {
        statuses->Get_status(1);
        ADD_FAILURE();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("リストのインデックスが範囲を超えています (1)"));
    }
    EXPECT_THROW(statuses->Get_status(-1), EListError);
}

TEST(TimelineRead, MissingFieldsReadEmptyAndAreAddedToTheDocument)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc, "<statuses><status><id>1</id><text>t</text></status></statuses>");
    TXMLStatusType* s = statuses->Get_status(0);
    EXPECT_EQ(s->Get_favorited(), QString());
    EXPECT_EQ(s->ChildList()->Count(), 3);
    EXPECT_EQ(s->ChildList()->Last()->NodeName(), QStringLiteral("favorited"));
    TXMLUserType* u = s->Get_user();
    EXPECT_EQ(u->Get_name(), QString());
    EXPECT_EQ(statuses->Get_type(), QString());
    EXPECT_EQ(s->Get_text(), QStringLiteral("t"));   // existing values are untouched
    const QByteArray saved = doc.SaveToText();
    EXPECT_TRUE(saved.contains("<text>t</text><favorited></favorited><user><name></name></user>")) << saved.constData();
    EXPECT_TRUE(saved.contains("<statuses type=\"\">")) << saved.constData();
}

TEST(TimelineRead, BadFieldsRaiseTheirErrors)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc,
        "<statuses><status><text>a<b>bold</b></text><id><!--x--></id>"
        "<user><followers_count>12x</followers_count></user></status>"
        "<status><user><followers_count/></user></status>"
        "<status><user><followers_count>2147483648</followers_count></user></status></statuses>");
    TXMLStatusType* s = statuses->Get_status(0);
    EXPECT_THROW(s->Get_text(), EXMLDocError);
    EXPECT_THROW(s->Get_id(), EXMLDocError);
    for (int i = 0; i < 3; ++i)
        EXPECT_THROW(statuses->Get_status(i)->Get_user()->Get_followers_count(), EConvertError) << i;
}

TEST(TimelineRead, WrongRootRaisesIntfCastError)
{
    for (const char* text : {"<error>Could not authenticate you.</error>", "<Statuses/>", "<hash><status/></hash>"}) {
        TXMLDocument doc;
        doc.LoadFromText(text);
        EXPECT_THROW(TimelineStatuses(doc), EIntfCastError) << text;
    }
}

TEST(TimelineRead, AShiftJisReplyReadsAsUnicode)
{
    // <statuses><status><text>日本語</text><user><name>ソース</name></user></status></statuses>
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc,
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><statuses><status><text>\x93\xfa\x96\x7b\x8c\xea</text>"
        "<user><name>\x83\x5c\x81\x5b\x83\x58</name></user></status></statuses>");
    EXPECT_EQ(statuses->Get_status(0)->Get_text(), QStringLiteral("日本語"));
    EXPECT_EQ(statuses->Get_status(0)->Get_user()->Get_name(), QStringLiteral("ソース"));
}

TEST(TimelineWrite, SettersReadBackAndSurviveASaveAndReload)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = Load(doc, kTimeline);
    TXMLStatusType* s = statuses->Get_status(1);
    const QString text = QStringLiteral("<b>&amp; \"x\" 😀 &lt;");
    s->Set_text(text);
    s->Set_favorited(QStringLiteral("true"));
    s->Set_in_reply_to_screen_name(QStringLiteral("carol"));
    s->Get_user()->Set_followers_count(-2147483647 - 1);
    s->Get_user()->Set_location(QStringLiteral("大阪"));
    statuses->Set_type(QStringLiteral("list"));
    EXPECT_EQ(s->Get_text(), text);
    EXPECT_EQ(s->Get_user()->Get_followers_count(), -2147483647 - 1);
    EXPECT_TRUE(doc.Modified());

    TXMLDocument again;
    TXMLStatusesType* reread = Load(again, doc.SaveToText());
    ASSERT_EQ(reread->Count(), 2);
    EXPECT_EQ(reread->Get_type(), QStringLiteral("list"));
    TXMLStatusType* r = reread->Get_status(1);
    EXPECT_EQ(r->Get_text(), text);
    EXPECT_EQ(r->Get_favorited(), QStringLiteral("true"));
    EXPECT_EQ(r->Get_in_reply_to_screen_name(), QStringLiteral("carol"));
    EXPECT_EQ(r->Get_user()->Get_location(), QStringLiteral("大阪"));
    EXPECT_EQ(r->Get_user()->Get_followers_count(), -2147483647 - 1);
    EXPECT_EQ(reread->Get_status(0)->Get_text(), statuses->Get_status(0)->Get_text());
}

TEST(TimelineWrite, AddAndInsertPlaceNewStatuses)
{
    TXMLDocument doc;
    TXMLStatusesType* statuses = TimelineStatuses(doc);   // no reply: an empty root is made
    EXPECT_EQ(statuses->Count(), 0);
    statuses->Add()->Set_id(QStringLiteral("2"));
    statuses->Insert(0)->Set_id(QStringLiteral("1"));
    statuses->Insert(2)->Set_id(QStringLiteral("3"));
    EXPECT_EQ(Ids(statuses), (QStringList{"1", "2", "3"}));
    EXPECT_THROW(statuses->Insert(4), EListError);
    statuses->Delete(1);
    EXPECT_EQ(Ids(statuses), (QStringList{"1", "3"}));
    EXPECT_EQ(TimelineStatuses(doc)->Count(), 2);
}
