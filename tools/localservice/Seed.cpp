#include "Seed.h"

#include "Store.h"

#include <array>
#include <random>
#include <string>
#include <vector>

namespace localservice {

namespace {

// In a template {n} becomes the status's number, so the statuses differ; {h}, {t} and
// {m} become an hour, a temperature and some minutes that fit the sentence.
constexpr std::array kTemplates = {
    "おはようございます。今日もいい天気ですね。連続{n}日目の早起きです。",
    "新しいブログ記事を書きました http://example.com/blog/{n}",
    "この記事が面白かった https://example.org/news/{n}?lang=ja&ref=brimlark",
    "ランチはラーメンにしました。詳しくは www.example.jp/ramen/{n} で。",
    "電車が{m}分遅れています…",
    "週末は京都へ行く予定です。おすすめのお寺はありますか？",
    "Brimlark_Simple でつぶやいています #brimlark {n}",
    "写真をアップしました http://example.net/photos/{n}.jpg と https://example.com/a/{n}",
    "表示のテスト: <b>太字</b> & \"引用\" 'アポストロフィ' {n}",
    "会議が終わりました。次は{h}時から。",
    "桜がきれいに咲いています 🌸 {n}",
    "Reading the docs at https://example.org/docs/{n} — とても分かりやすい",
    "今日の気温は{t}度。寒いのでお茶を飲んでいます。",
    "リンク二つ: www.example.com/{n} と http://example.jp/{n}",
    "おやすみなさい。また明日。",
    "プログラミング勉強会 {n} 回目に参加しました。資料: https://example.com/slides/{n}.pdf",
};

std::string fill(const char* pattern, int n)
{
    std::string text(pattern);
    const std::pair<const char*, int> values[] = {{"{n}", n}, {"{h}", 9 + n % 10}, {"{t}", n % 30}, {"{m}", 1 + n % 45}};
    for (const auto& [name, value] : values) {
        const std::string number = std::to_string(value);
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + number.size()))
            text.replace(at, 3, number);
    }
    return text;
}

struct SeedUser {
    const char* screenName;
    const char* password;
    const char* name;
    const char* location;
    const char* description;
    bool isProtected;
};

constexpr std::array kUsers = {
    SeedUser{kDemoScreenName, kDemoPassword, "デモ ユーザー", "東京", "Brimlark_Simple を試すためのアカウントです。", false},
    SeedUser{"sakura", "sakura", "桜井さくら", "大阪", "カフェ巡りと写真が好きです。", false},
    SeedUser{"kenji", "kenji", "山田健二", "札幌", "エンジニア。ラーメンと鉄道。", false},
    SeedUser{"yuki", "yuki", "雪村ゆき", "京都", "本と猫と日本茶。", false},
    SeedUser{"brimlark_news", "brimlark_news", "Brimlark ニュース", "", "お知らせ用のアカウントです。", false},
};
// Statuses by the other accounts that name @demo, so the mentions show something at once.
// Each takes the place of a templated status: the counts stay as they are.
struct SeedMention {
    int friendIndex;
    std::size_t author;  // in kUsers, never 0 (demo)
    const char* text;
    bool reply;          // answers demo's latest status before it
};
constexpr std::array kMentions = {
    SeedMention{250, 1, "@demo 京都のおすすめ、清水寺はどうでしょう？", false},
    SeedMention{280, 2, "@demo さん、明日の勉強会に来ますか？ 資料: https://example.com/slides/demo", false},
    SeedMention{300, 3, "猫の写真を @demo に見せたい 🐱", false},
    SeedMention{312, 2, "@demo ありがとうございます！参考になりました。", true},
    SeedMention{318, 4, "@demo, Brimlark_Simple の新しい版が出ました http://example.com/release", false},
};

constexpr SeedUser kOutsider{"outsider", "outsider", "見知らぬ人", "", "誰もフォローしていない鍵付きアカウント。", true};

} // namespace

bool seedDemoData(Store& store, std::int64_t now)
{
    if (store.meta("seeded") == "1")
        return false;
    store.runBatch([&](Store::Batch& batch) {
        const auto create = [&](const SeedUser& seed) {
            Store::NewUser user;
            user.screenName = seed.screenName;
            user.password = seed.password;
            user.name = seed.name;
            user.location = seed.location;
            user.description = seed.description;
            user.profileImageUrl = std::string("http://example.com/images/") + seed.screenName + "_normal.png";
            user.url = std::string("http://example.com/") + seed.screenName;
            user.isProtected = seed.isProtected;
            return batch.createUser(user);
        };
        std::vector<std::int64_t> ids;
        for (const SeedUser& seed : kUsers)
            ids.push_back(create(seed));
        const std::int64_t outsider = create(kOutsider);
        for (std::int64_t a : ids) {
            for (std::int64_t b : ids) {
                if (a != b)
                    batch.follow(a, b);
            }
        }

        // Oldest first, so ids grow with time as the timeline's order expects.
        const int total = kSeedFriendStatuses + kSeedOutsiderStatuses;
        // mt19937's sequence is fixed by the standard, so every seed is the same.
        std::mt19937 random(20261207);
        int friendIndex = 0;
        std::int64_t latestByDemo = 0;
        for (int i = 0; i < total; ++i) {
            const std::uint32_t roll = random();
            const std::int64_t id = kSeedFirstStatusId + i;
            const std::int64_t createdAt = now - static_cast<std::int64_t>(total - 1 - i) * 600;
            // Every 27th status belongs to the outsider, until its share is used up.
            const bool byOutsider = i % 27 == 26 && i / 27 < kSeedOutsiderStatuses;
            std::string text;
            if (byOutsider) {
                text = fill("この鍵付きアカウントのつぶやき {n} はタイムラインに出ないはずです。", i);
            } else if (friendIndex == 100) {
                // Exactly 140 characters, the longest a status can be.
                text = "長";
                while (text.size() < 140 * 3)
                    text += "文";
            } else {
                text = fill(kTemplates[(roll >> 8) % kTemplates.size()], friendIndex + 1);
            }
            std::int64_t author = byOutsider ? outsider : ids[(roll >> 20) % ids.size()];
            std::int64_t inReplyTo = 0;
            for (const SeedMention& mention : kMentions) {
                if (!byOutsider && mention.friendIndex == friendIndex) {
                    author = ids[mention.author];
                    text = mention.text;
                    inReplyTo = mention.reply ? latestByDemo : 0;
                }
            }
            batch.insertStatus(id, author, createdAt, text, byOutsider ? "web" : "brimlark", inReplyTo);
            if (author == ids[0])
                latestByDemo = id;
            if (!byOutsider) {
                if (friendIndex % 6 == 0)
                    batch.markFavourite(ids[0], id);
                if (friendIndex % 4 == 1)
                    batch.markFavourite(ids[1], id);
                ++friendIndex;
            }
        }
        batch.setMeta("seeded", "1");
    });
    return true;
}

} // namespace localservice
