// The local service's parts on their own: form decoding, the 140-unit cut, the XML
// writer read back by the real parser, the command line and the seed.

#include "FormCodec.h"
#include "Seed.h"
#include "ServiceOptions.h"
#include "StatusJson.h"
#include "StatusXml.h"
#include "Store.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QTemporaryDir>

using namespace localservice;

namespace {

TEST(FormCodec, DecodesFieldsAndRefusesBrokenEscapes)
{
    struct Case {
        std::string body;
        bool ok;
        std::vector<std::pair<std::string, std::string>> fields;
    };
    const std::vector<Case> cases{
        {"", true, {}},
        {"status=a+b%26c%3Dd&source=brimlark", true, {{"status", "a b&c=d"}, {"source", "brimlark"}}},
        {"a=1&&b=%e3%81%82&", true, {{"a", "1"}, {"b", "\xE3\x81\x82"}}},  // lower-case hex too
        {"flag&x=", true, {{"flag", ""}, {"x", ""}}},
        {"x=a=b", true, {{"x", "a=b"}}},
        {"x=%00y", true, {{"x", std::string("\0y", 2)}}},
        {"x=%", false, {}},
        {"x=%A", false, {}},
        {"x=%AG", false, {}},
        {"ok=1&x=%C3%28", false, {}},
        {"%FF=1", false, {}},
    };
    for (const Case& c : cases) {
        const FormResult result = decodeForm(c.body);
        EXPECT_EQ(result.ok, c.ok) << c.body;
        EXPECT_EQ(result.fields, c.fields) << c.body;
        EXPECT_EQ(result.error.empty(), c.ok) << c.body;
    }
    const FormResult twice = decodeForm("s=1&s=2");
    ASSERT_NE(twice.find("s"), nullptr);
    EXPECT_EQ(*twice.find("s"), "1");
    EXPECT_EQ(twice.find("t"), nullptr);
}

TEST(FormCodec, CutsToUtf16UnitsWithoutSplittingACharacter)
{
    const std::string flower = "\xF0\x9F\x8C\xB8";
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("\xE3\x81\x82"), 1u);
    EXPECT_EQ(utf16Length(flower), 2u);

    std::string text = "ab" + flower;
    EXPECT_TRUE(cutToUtf16Units(text, 3));
    EXPECT_EQ(text, "ab");
    text = "ab" + flower;
    EXPECT_FALSE(cutToUtf16Units(text, 4));
    EXPECT_EQ(text, "ab" + flower);
    text = "\xE3\x81\x82\xE3\x81\x84";
    EXPECT_TRUE(cutToUtf16Units(text, 1));
    EXPECT_EQ(text, "\xE3\x81\x82");
    text = "";
    EXPECT_FALSE(cutToUtf16Units(text, 0));
}

std::string parsedText(const std::string& escaped)
{
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><t>" + escaped + "</t>";
    xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "t.xml", "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return "<not well-formed>";
    xmlChar* content = xmlNodeGetContent(xmlDocGetRootElement(doc));
    std::string text = reinterpret_cast<const char*>(content);
    xmlFree(content);
    xmlFreeDoc(doc);
    return text;
}

TEST(StatusXml, EscapedTextComesBackFromTheParserAsStoredMinusWhatXmlCannotHold)
{
    struct Case {
        std::string stored;
        std::string parsed;
    };
    const std::vector<Case> cases{
        {"a & b < c > d \"e\" 'f' ]]>", "a & b < c > d \"e\" 'f' ]]>"},
        {"line\r\nnext\ttab", "line\r\nnext\ttab"},
        {std::string("nul\0bell\x07" "esc\x1B" "end", 16), "nulbellescend"},
        {"\xEF\xBF\xBE\xEF\xBF\xBF" "ok", "ok"},                     // U+FFFE, U+FFFF
        {"bad\xFF\xC3" "byte", "bad\xEF\xBF\xBD\xEF\xBF\xBD" "byte"},  // not UTF-8
        {"日本語 \xF0\x9F\x8C\xB8", "日本語 \xF0\x9F\x8C\xB8"},
        {"&amp;", "&amp;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsedText(xmlEscape(c.stored)), c.parsed) << c.stored;
}

TEST(StatusXml, DatesHaveTheHistoricFormInUtc)
{
    EXPECT_EQ(historicDate(0), "Thu Jan 01 00:00:00 +0000 1970");
    EXPECT_EQ(historicDate(1796629260), "Mon Dec 07 07:41:00 +0000 2026");
    EXPECT_EQ(historicDate(951782400), "Tue Feb 29 00:00:00 +0000 2000");
}

TEST(StatusJson, TextBecomesTheHtmlTheServersWrite)
{
    JsonContext context;
    context.origin = "https://h";
    context.findUser = [](const std::string& name) -> std::optional<UserRecord> {
        if (name != "sakura")
            return std::nullopt;
        UserRecord u;
        u.id = 2;
        u.screenName = name;
        return u;
    };
    QJsonArray mentions;
    QJsonArray tags;
    EXPECT_EQ(statusHtml("@sakura @nobody <&> #tag\nhttps://www.example.com/a/very/long/path/beyond/thirty.\n\nhttp://e.jp",
                         context, &mentions, &tags),
              "<p><span class=\"h-card\" translate=\"no\"><a href=\"https://h/@sakura\" class=\"u-url mention\">@<span>"
              "sakura</span></a></span> @nobody &lt;&amp;&gt; <a href=\"https://h/tags/tag\" class=\"mention hashtag\" "
              "rel=\"tag\">#<span>tag</span></a><br /><a href=\"https://www.example.com/a/very/long/path/beyond/thirty\" "
              "target=\"_blank\" rel=\"nofollow noopener\" translate=\"no\"><span class=\"invisible\">https://www.</span>"
              "<span class=\"ellipsis\">example.com/a/very/long/path/b</span><span class=\"invisible\">eyond/thirty</span>"
              "</a>.</p><p><a href=\"http://e.jp\" target=\"_blank\" rel=\"nofollow noopener\" translate=\"no\"><span "
              "class=\"invisible\">http://</span><span class=\"\">e.jp</span><span class=\"invisible\"></span></a></p>");
    EXPECT_EQ(mentions.size(), 1);
    EXPECT_EQ(tags.size(), 1);
}

TEST(ServiceOptions, ParsesEveryOption)
{
    ServiceOptions options;
    std::string error;
    ASSERT_TRUE(parseCommandLine({"--port", "8080", "--db=x.sqlite", "--prefix", "api/", "--user", "a:b:c",
                                  "--user", "d:e", "--seed", "--delay-ms", "250", "--rate-limit", "70/60", "-v",
                                  "--tls-cert", "c.pem", "--tls-key=k.pem", "--textlimit", "0", "--flavour", "akkoma",
                                  "--token", "d:0123456789abcdef", "--heartbeat-ms", "50"},
                                 &options, &error)) << error;
    EXPECT_EQ(options.port, 8080);
    EXPECT_EQ(options.dbPath, "x.sqlite");
    EXPECT_EQ(options.prefix, "/api");
    ASSERT_EQ(options.users.size(), 2u);
    EXPECT_EQ(options.users[0], std::make_pair(std::string("a"), std::string("b:c")));
    EXPECT_TRUE(options.seed);
    EXPECT_EQ(options.delayMs, 250);
    EXPECT_EQ(options.rateLimitCount, 70);
    EXPECT_EQ(options.rateLimitWindowSeconds, 60);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.tlsCertPath, "c.pem");
    EXPECT_EQ(options.tlsKeyPath, "k.pem");
    EXPECT_EQ(options.textLimit, 0);
    EXPECT_TRUE(options.fediverse);
    EXPECT_EQ(options.flavour, Flavour::Akkoma);
    ASSERT_EQ(options.tokens.size(), 1u);
    EXPECT_EQ(options.tokens[0].second, "0123456789abcdef");
    EXPECT_EQ(options.heartbeatMs, 50);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--port", "-1"}, {"--port", "8o"}, {"--delay-ms", "soon"}, {"--rate-limit", "0/60"},
             {"--rate-limit", "70/"}, {"--user", ":pw"}, {"--user", "name:"}, {"--prefix", "/a?b"}, {"extra"},
             {"--tls-cert", "c.pem"}, {"--tls-key", "k.pem"}, {"--flavour", "pleroma"}, {"--token", "d:short"},
             {"--heartbeat-ms", "0"}}) {
        ServiceOptions o;
        std::string message;
        EXPECT_FALSE(parseCommandLine(bad, &o, &message)) << bad[0];
        EXPECT_FALSE(message.empty()) << bad[0];
    }
}

TEST(Seed, FillsAnEmptyDatabaseOnceAndLeavesItSound)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("seed.sqlite").toStdString();
    {
        Store store(path);
        EXPECT_TRUE(seedDemoData(store, 1796629260));
        EXPECT_FALSE(seedDemoData(store, 1796629260));
        EXPECT_EQ(store.count("statuses"), kSeedFriendStatuses + kSeedOutsiderStatuses);
        EXPECT_EQ(store.count("users"), 6);
        EXPECT_TRUE(store.integrityOk());
        const auto demo = store.authenticate(kDemoScreenName, kDemoPassword);
        ASSERT_TRUE(demo);
        const auto newest = store.friendsTimeline(*demo, 0, 1);
        ASSERT_EQ(newest.size(), 1u);
        EXPECT_EQ(newest[0].createdAt, 1796629260);
    }
    Store reopened(path);
    EXPECT_FALSE(seedDemoData(reopened, 1796629999));
    EXPECT_EQ(reopened.count("statuses"), kSeedFriendStatuses + kSeedOutsiderStatuses);
}

} // namespace
