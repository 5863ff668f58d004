#include "devserver/mbservice/demo_seed.h"

#include <array>

namespace mbservice {

namespace {

struct SeedAccount {
    const char* email;
    const char* password;
    const char* nickname; // null: no microblog yet
    const char* location;
    const char* description;
    bool barred;
};

// demo, lin, chen and emma have microblogs; newbie has none yet, and barred's activation is refused.
constexpr std::array<SeedAccount, 6> kAccounts = {{
    {"demo@velmora.com", "demo123", "小维", "北京", "TAVI 微博的演示帐号", false},
    {"lin@velmora.com", "lin123", "林小雨", "杭州", "爱看书，爱旅行", false},
    {"chen@velmora.com", "chen123", "陈默", "上海", "写代码的", false},
    {"emma@velmora.com", "emma123", "Emma_Li", "Shenzhen", "Learning Chinese one post at a time", false},
    {"newbie@velmora.com", "newbie123", nullptr, "", "", false},
    {"barred@velmora.com", "barred123", nullptr, "", "", true},
}};

struct SeedPicture {
    const char* code;
    const char* caption;
    const char* color;
};

constexpr std::array<SeedPicture, 10> kPictures = {{
    {"Dm7sum", "Dim sum", "#c0392b"},
    {"Bay8km", "Morning run", "#2980b9"},
    {"Xh5now", "西湖雪景", "#7f8c8d"},
    {"Hsr0u1", "红烧肉", "#a04000"},
    {"Cat2mt", "地铁上的猫", "#8e44ad"},
    {"Sun6am", "日出", "#e67e22"},
    {"Off1ce", "Sunset", "#d35400"},
    {"Kbd104", "机械键盘", "#2c3e50"},
    {"Bnt0oo", "便当", "#27ae60"},
    {"Rnb0w2", "Rainbow", "#16a085"},
}};

struct SeedStatus {
    int author; // index into kAccounts
    int minutesAgo;
    StatusKind kind;
    int parent;       // index into kStatuses, -1 for none
    const char* text; // "{P}" stands for the picture prefix
};

constexpr StatusKind O = StatusKind::Original;
constexpr StatusKind R = StatusKind::Retweet;
constexpr StatusKind C = StatusKind::Comment;

// In the order they were written; entries refer only to earlier ones.
constexpr std::array<SeedStatus, 60> kStatuses = {{
    {1, 64800, O, -1, "新的一年，新的开始！今年的目标：每周读一本书。"},
    {2, 63000, O, -1,
     "Shanghai in the rain is a different city. http://www.example.com/photos/shanghai-rain"},
    {3, 61000, O, -1, "Just moved to Shenzhen. Any recommendations for good dim sum? {P}Dm7sum"},
    {0, 59000, O, -1, "大家好，我是小维，TAVI 微博的演示帐号。欢迎关注！"},
    {1, 58000, C, 3, "欢迎小维！"},
    {2, 50000, O, -1, "推荐一篇关于分布式系统的好文章：http://blog.example.org/2024/consensus.html"},
    {0, 48000, R, 5, "收藏了，周末细读"},
    {3, 46000, O, -1, "Morning run along the bay, 8 km. {P}Bay8km"},
    {1, 44000, O, -1, "杭州西湖的雪景，美得不像话 {P}Xh5now"},
    {2, 43000, R, 8, "太美了"},
    {0, 40000, O, -1, "今天学会了做红烧肉，第一次就成功了 {P}Hsr0u1"},
    {3, 38000, C, 10, "Looks delicious! Recipe please?"},
    {0, 37900, C, 11, "@Emma_Li 菜谱在这里 http://www.example.com/recipes/hongshaorou"},
    {1, 36000, O, -1, "周末去了趟乌镇，古镇的夜晚很安静。"},
    {2, 30000, O, -1, "C++20 的 ranges 真香。http://en.cppreference.com/w/cpp/ranges"},
    {3, 29000, R, 14, "Agreed, though the compile times..."},
    {0, 28000, R, 15, "哈哈，编译时间确实是个问题"},
    {1, 25000, O, -1, "Reading list this month: 三体, The Pragmatic Programmer, 活着"},
    {2, 21600, O, -1, "地铁上看到一只很淡定的猫 {P}Cat2mt"},
    {0, 20000, O, -1, "新版 TAVI 客户端试用中，时间线加载快多了！http://www.velmora.com/tavi/"},
    {3, 18000, C, 19, "Nice! Is the Linux version out yet?"},
    {0, 17950, C, 20, "@Emma_Li 快了快了"},
    {1, 15000, O, -1, "下雨天和火锅最配。"},
    {2, 14000, O, -1,
     "Weekend project: a tiny HTTP server in 300 lines. http://code.example.net/chenmo/tinyhttp"},
    {3, 12000, R, 23, "Bookmarking this"},
    {0, 11000, O, -1, "@林小雨 上次说的那家书店叫什么名字？"},
    {1, 10900, C, 25, "@小维 晓风书屋，在南山路上"},
    {2, 9000, O, -1, "今天终于把拖了三个月的重构做完了。"},
    {3, 8000, O, -1, "Learning Chinese: 今天天气很好 = the weather is nice today. Did I get it right?"},
    {0, 7990, C, 28, "完全正确！👍"},
    {1, 7000, O, -1, "早起看日出 {P}Sun6am"},
    {2, 6000, R, 30, "起这么早！"},
    {0, 4400, O, -1, "Sunset from the office window. {P}Off1ce"},
    {3, 4300, O, -1, "Coffee count today: 3. Productivity: questionable."},
    {1, 2900, O, -1, "分享一首歌：http://music.example.com/song/12345 单曲循环中"},
    {2, 2000, O, -1, "明天开始休假，一周不看电脑！"},
    {0, 1900, R, 35, "羡慕"},
    {3, 1700, O, -1, "Tip: press Ctrl+Enter to send in most chat apps."},
    {1, 1500, O, -1, "新买的机械键盘到了 {P}Kbd104"},
    {0, 1450, C, 38, "什么轴的？"},
    {1, 1440, C, 39, "@小维 茶轴，手感刚好"},
    {2, 1300, O, -1, "Debugging tip of the day: the bug is always in the part you were sure was fine."},
    {0, 1200, R, 41, "真理"},
    {3, 900, O, -1, "带了自己做的便当去公司 {P}Bnt0oo"},
    {1, 600, O, -1, "下午三点团队分享会，主题是“如何写好单元测试”。http://wiki.example.org/testing"},
    {2, 400, O, -1, "剛剛看完一部紀錄片，推薦《地球脈動》"},
    {0, 300, O, -1, "在写新的微博插件文档，有问题的同学可以@小维"},
    {3, 240, C, 46, "I'll send you my notes later."},
    {1, 180, O, -1, "午饭吃什么是每天最难的问题。"},
    {2, 120, R, 44, "期待"},
    {3, 90, O, -1, "Rainbow after the storm! {P}Rnb0w2"},
    {1, 75, R, 50, "好漂亮"},
    {0, 60, O, -1, "刚刚更新了个人资料 http://www.velmora.com/u/demo"},
    {2, 45, O, -1, "Tea > coffee. Change my mind."},
    {3, 30, C, 53, "@陈默 Challenge accepted."},
    {1, 20, O, -1, "周五啦，大家周末愉快！"},
    {0, 12, R, 55, "周末愉快！"},
    {2, 6, O, -1, "链接结尾带句号的情况：http://www.example.com/a.b."},
    {3, 3, O, -1, "Late night coding session. Lo-fi music on. http://radio.example.com/lofi"},
    {1, 1, O, -1, "大家晚安 🌙"},
}};

// Who keeps which status: pairs of (account index, status index).
constexpr std::array<std::array<int, 2>, 8> kFavorites = {{
    {0, 5},
    {0, 8},
    {0, 23},
    {1, 3},
    {1, 10},
    {2, 19},
    {3, 46},
    {3, 14},
}};

std::string WithPictures(std::string text, const std::string& prefix) {
    for (std::size_t at = text.find("{P}"); at != std::string::npos;
         at = text.find("{P}", at + prefix.size()))
        text.replace(at, 3, prefix);
    return text;
}

} // namespace

void SeedDemo(Microblog& microblog) {
    microblog.Atomically([&microblog] {
        const std::int64_t now = microblog.Clock().Now();
        std::array<std::int64_t, kAccounts.size()> accountIds{};
        for (std::size_t i = 0; i < kAccounts.size(); ++i) {
            const SeedAccount& account = kAccounts[i];
            accountIds[i] = microblog.AddAccount(account.email, account.password, account.barred);
            if (account.nickname) {
                microblog.OpenMicroblog(accountIds[i], account.nickname,
                                        now - 90LL * 86400 + static_cast<std::int64_t>(i) * 3600);
                microblog.SetProfileDetails(accountIds[i], account.location, account.description);
            }
        }
        for (const SeedPicture& picture : kPictures)
            microblog.AddPicture(picture.code, picture.caption, picture.color);
        std::array<std::int64_t, kStatuses.size()> statusIds{};
        for (std::size_t i = 0; i < kStatuses.size(); ++i) {
            const SeedStatus& status = kStatuses[i];
            const std::int64_t parent =
                status.parent >= 0 ? statusIds[static_cast<std::size_t>(status.parent)] : 0;
            statusIds[i] =
                microblog.AddStatus(accountIds[static_cast<std::size_t>(status.author)],
                                    WithPictures(status.text, microblog.Urls().picturePrefix), status.kind,
                                    parent, now - static_cast<std::int64_t>(status.minutesAgo) * 60, "web");
        }
        for (const auto& [account, status] : kFavorites)
            microblog.AddFavorite(accountIds[static_cast<std::size_t>(account)],
                                  statusIds[static_cast<std::size_t>(status)]);
        microblog.MarkAllRead();
    });
}

const std::vector<std::string>& ActivityTexts() {
    static const std::vector<std::string> texts = {
        "刚刚喝完一杯咖啡，继续干活。",
        "Anyone else watching the match tonight?",
        "今天的晚霞特别好看。",
        "Just pushed a fix for that flaky test. http://code.example.net/fix/42",
        "下班路上，耳机里放着老歌。",
        "Reading: http://blog.example.org/2024/sqlite-internals.html",
        "周末打算去爬山，有人一起吗？",
        "New blog post about OAuth signatures is up! http://blog.example.org/oauth",
        "楼下新开了一家面馆，味道不错。",
        "Quick poll: tabs or spaces?",
        "今天学到一个新词：摸鱼。",
        "Back from the gym. Legs: gone.",
    };
    return texts;
}

} // namespace mbservice
