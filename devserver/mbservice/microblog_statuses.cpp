// Statuses, favourites and reminder counters of the microblog, and the JSON the service answers with.
#include <algorithm>

#include "devserver/mbservice/json_text.h"
#include "devserver/mbservice/microblog.h"
#include "devserver/mbservice/text_codec.h"

namespace mbservice {

namespace {

constexpr std::int64_t kStatusIdBase = 3510000000;
constexpr const char* kStatusColumns =
    "id, user_id, text, created_at, source, kind, parent_id, root_id, deleted";

const char* FlagText(StatusKind kind) {
    switch (kind) {
    case StatusKind::Retweet:
        return "RETWEET";
    case StatusKind::Comment:
        return "COMMENT";
    case StatusKind::Original:
        break;
    }
    return "ORIGINAL";
}

std::string IdText(std::int64_t id) {
    return id > 0 ? std::to_string(id) : std::string();
}

// The problem of a status text, if it has one; a CR LF line break counts as one character.
std::optional<ApiReply> CheckStatusText(std::string_view text) {
    if (TrimBlanks(text).empty())
        return ErrorReply(400, kEmptyStatus);
    std::string counted(text);
    counted.erase(std::remove(counted.begin(), counted.end(), '\r'), counted.end());
    if (CountCodePoints(counted) > kMaxStatusChars)
        return ErrorReply(400, kStatusTooLong);
    return std::nullopt;
}

// What a reply keeps for the id, made the first time it is asked for.
template <typename Kept, typename Make>
const typename Kept::mapped_type& Remembered(Kept& kept, std::int64_t id, Make make) {
    auto found = kept.find(id);
    if (found == kept.end())
        found = kept.emplace(id, make()).first;
    return found->second;
}

} // namespace

std::optional<Microblog::StatusRow> Microblog::LoadStatus(std::int64_t id) {
    Statement query = db_.Prepare(std::string("SELECT ") + kStatusColumns + " FROM statuses WHERE id = ?");
    query.Bind(1, id);
    std::vector<StatusRow> rows = LoadStatuses(query);
    if (rows.empty())
        return std::nullopt;
    return rows.front();
}

std::optional<Microblog::StatusRow> Microblog::LoadLiveStatus(std::int64_t id) {
    auto row = LoadStatus(id);
    if (row && row->deleted)
        return std::nullopt;
    return row;
}

std::vector<Microblog::StatusRow> Microblog::LoadStatuses(Statement& query) {
    std::vector<StatusRow> rows;
    while (query.Step()) {
        StatusRow row;
        row.id = query.Int(0);
        row.userId = query.Int(1);
        row.text = query.Text(2);
        row.createdAt = query.Int(3);
        row.source = query.Text(4);
        const std::int64_t kind = query.Int(5);
        row.kind = kind == 1 ? StatusKind::Retweet : kind == 2 ? StatusKind::Comment : StatusKind::Original;
        row.parentId = query.Int(6);
        row.rootId = query.Int(7);
        row.deleted = query.Int(8) != 0;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::int64_t Microblog::NewestStatusId() {
    Statement query = db_.Prepare("SELECT COALESCE(MAX(id), 0) FROM statuses");
    query.Step();
    return query.Int(0);
}

std::int64_t Microblog::AddStatus(std::int64_t userId, std::string_view text, StatusKind kind,
                                  std::int64_t parentId, std::int64_t createdAt, std::string_view source) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    std::int64_t rootId = 0;
    if (parentId > 0) {
        const auto parent = LoadStatus(parentId);
        if (!parent)
            throw StoreError("no status " + std::to_string(parentId));
        rootId = parent->rootId > 0 ? parent->rootId : parent->id;
    }
    const std::int64_t id = std::max(NewestStatusId(), kStatusIdBase) + 1;
    const int kindNumber = kind == StatusKind::Retweet ? 1 : kind == StatusKind::Comment ? 2 : 0;
    db_.Prepare("INSERT INTO statuses(id, user_id, text, created_at, source, kind, parent_id, root_id) "
                "VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, id)
        .Bind(2, userId)
        .Bind(3, text)
        .Bind(4, createdAt)
        .Bind(5, source)
        .Bind(6, kindNumber)
        .Bind(7, parentId)
        .Bind(8, rootId)
        .Run();
    return id;
}

std::int64_t Microblog::Post(const UserRecord& me, std::string_view text, StatusKind kind,
                             const StatusRow* parent, std::string_view source) {
    return AddStatus(me.id, text, kind, parent ? parent->id : 0, clock_.Now(), source);
}

void Microblog::AddFavorite(std::int64_t userId, std::int64_t statusId) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    db_.Prepare("INSERT OR IGNORE INTO favorites(user_id, status_id, created_at) VALUES(?, ?, ?)")
        .Bind(1, userId)
        .Bind(2, statusId)
        .Bind(3, clock_.Now())
        .Run();
}

void Microblog::WriteUser(std::string& out, const UserRecord& user, std::int64_t viewer,
                          std::string_view status) {
    auto count = [this](const char* sql, std::int64_t id) {
        Statement query = db_.Prepare(sql);
        query.Bind(1, id);
        query.Step();
        return query.Int(0);
    };
    Statement following = db_.Prepare("SELECT 1 FROM follows WHERE follower = ? AND followee = ?");
    following.Bind(1, viewer).Bind(2, user.id);
    JsonObjectText json;
    json.String("id", std::to_string(user.id));
    json.String("screen_name", user.screenName);
    json.String("name", user.name);
    json.String("location", user.location);
    json.String("description", user.description);
    json.String("gender", user.gender);
    json.String("url", urls_.WebRoot() + "/" + user.screenName);
    json.String("profile_image_url", urls_.origin + "/avatar/" + std::to_string(user.id) + ".svg");
    json.Integer("followers_count", count("SELECT COUNT(*) FROM follows WHERE followee = ?", user.id));
    json.Integer("friends_count", count("SELECT COUNT(*) FROM follows WHERE follower = ?", user.id));
    json.Integer("statuses_count",
                 count("SELECT COUNT(*) FROM statuses WHERE user_id = ? AND deleted = 0", user.id));
    json.Integer("favourites_count", count("SELECT COUNT(*) FROM favorites WHERE user_id = ?", user.id));
    json.String("created_at", FormatCreatedAt(user.createdAt));
    json.Boolean("following", viewer != user.id && following.Step());
    json.Boolean("verified", false);
    if (!status.empty())
        json.Json("status", status);
    json.AppendTo(out);
}

nlohmann::json Microblog::UserJson(const UserRecord& user, std::int64_t viewer) {
    std::string text;
    WriteUser(text, user, viewer);
    return nlohmann::json::parse(text);
}

void Microblog::WriteStatus(std::string& out, const StatusRow& status, std::int64_t viewer, bool nest,
                            ReplyCache* cache) {
    // The status's counters and whether the viewer keeps it, in one query.
    Statement tallies = db_.Prepare(
        "SELECT (SELECT COUNT(*) FROM statuses WHERE parent_id = ?1 AND kind = 1 AND deleted = 0),"
        " (SELECT COUNT(*) FROM statuses WHERE parent_id = ?1 AND kind = 2 AND deleted = 0),"
        " EXISTS(SELECT 1 FROM favorites WHERE user_id = ?2 AND status_id = ?1)");
    tallies.Bind(1, status.id).Bind(2, viewer);
    tallies.Step();
    auto user = [this, cache](std::int64_t id) {
        return cache ? Remembered(cache->users, id, [&] { return LoadUser(id); }) : LoadUser(id);
    };
    auto statusById = [this, cache](std::int64_t id) {
        return cache ? Remembered(cache->statuses, id, [&] { return LoadStatus(id); }) : LoadStatus(id);
    };
    const auto author = user(status.userId);

    JsonObjectText json;
    json.String("id", std::to_string(status.id));
    json.String("created_at", FormatCreatedAt(status.createdAt));
    json.String("text",
                status.deleted ? std::string_view(kDeletedStatusText) : std::string_view(status.text));
    json.String("source", status.source);
    json.Boolean("favorited", tallies.Int(2) != 0);
    json.Boolean("truncated", false);
    json.String("flag", FlagText(status.kind));
    json.Integer("retweet_count", tallies.Int(0));
    json.Integer("comments_count", tallies.Int(1));
    json.String("in_reply_to_status_id", IdText(status.parentId));
    json.String("in_reply_to_user_id", "");
    json.String("in_reply_to_screen_name", "");
    json.String("in_reply_to_user_name", "");
    if (author && cache) {
        json.Json("user", Remembered(cache->userText, author->id, [&] {
                      std::string text;
                      WriteUser(text, *author, viewer);
                      return text;
                  }));
    } else if (author) {
        std::string text;
        WriteUser(text, *author, viewer);
        json.Json("user", text);
    }

    const auto parent = status.parentId > 0 ? statusById(status.parentId) : std::nullopt;
    if (parent) {
        if (const auto parentAuthor = user(parent->userId)) {
            json.String("in_reply_to_user_id", std::to_string(parentAuthor->id));
            json.String("in_reply_to_screen_name", parentAuthor->screenName);
            json.String("in_reply_to_user_name", parentAuthor->name);
        }
        if (nest && status.kind == StatusKind::Retweet) {
            std::string text;
            WriteStatus(text, *parent, viewer, false, cache);
            json.Json("retweeted_status", text);
        }
    }
    const auto root = status.rootId > 0 ? statusById(status.rootId) : std::nullopt;
    if (root) {
        const auto rootAuthor = user(root->userId);
        json.String("root_in_reply_to_status_id", std::to_string(root->id));
        json.String("root_in_reply_to_status_text",
                    root->deleted ? std::string_view(kDeletedStatusText) : std::string_view(root->text));
        json.String("root_in_reply_to_user_id", rootAuthor ? std::to_string(rootAuthor->id) : std::string());
        json.String("root_in_reply_to_user_name", rootAuthor ? rootAuthor->name : std::string());
        json.String("root_in_reply_to_screen_name", rootAuthor ? rootAuthor->screenName : std::string());
    }
    json.AppendTo(out);
}

ApiReply Microblog::StatusReply(const StatusRow& status, std::int64_t viewer) {
    std::string text;
    WriteStatus(text, status, viewer, true);
    return ApiReply::Written(std::move(text));
}

std::string Microblog::StatusArrayText(const std::vector<StatusRow>& statuses, std::int64_t viewer) {
    std::string text = "[";
    text.reserve(statuses.size() * 1024);
    ReplyCache cache;
    for (const StatusRow& status : statuses) {
        if (text.size() > 1)
            text.push_back(',');
        WriteStatus(text, status, viewer, true, &cache);
    }
    text.push_back(']');
    return text;
}

ApiReply Microblog::HomeTimeline(const UserRecord& me, int count, std::int64_t sinceId, std::int64_t maxId) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare(std::string("SELECT ") + kStatusColumns +
                                  " FROM statuses WHERE deleted = 0 AND (user_id = ?1 OR user_id IN "
                                  "(SELECT followee FROM follows WHERE follower = ?1)) AND id > ?2 AND id <= "
                                  "?3 ORDER BY id DESC LIMIT ?4");
    query.Bind(1, me.id).Bind(2, sinceId).Bind(3, maxId > 0 ? maxId : INT64_MAX).Bind(4, count);
    const std::vector<StatusRow> rows = LoadStatuses(query);
    // Reading the home timeline is what clears its reminder counter.
    db_.Prepare("UPDATE users SET home_read_id = MAX(home_read_id, ?) WHERE id = ?")
        .Bind(1, NewestStatusId())
        .Bind(2, me.id)
        .Run();
    return ApiReply::Written(StatusArrayText(rows, me.id));
}

ApiReply Microblog::Mentions(const UserRecord& me, int count, std::int64_t sinceId, std::int64_t maxId) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement query = db_.Prepare(
        std::string("SELECT ") + kStatusColumns +
        " FROM statuses WHERE deleted = 0 AND user_id <> ?1 AND (instr(text, '@' || ?2) > 0 OR "
        "instr(text, '@' || ?3) > 0 OR parent_id IN (SELECT id FROM statuses WHERE user_id = ?1)) "
        "AND id > ?4 AND id <= ?5 ORDER BY id DESC LIMIT ?6");
    query.Bind(1, me.id)
        .Bind(2, me.name)
        .Bind(3, me.screenName)
        .Bind(4, sinceId)
        .Bind(5, maxId > 0 ? maxId : INT64_MAX)
        .Bind(6, count);
    const std::vector<StatusRow> rows = LoadStatuses(query);
    db_.Prepare("UPDATE users SET mentions_read_id = MAX(mentions_read_id, ?) WHERE id = ?")
        .Bind(1, NewestStatusId())
        .Bind(2, me.id)
        .Run();
    return ApiReply::Written(StatusArrayText(rows, me.id));
}

ApiReply Microblog::Update(const UserRecord& me, std::string_view text, std::string_view source) {
    if (auto problem = CheckStatusText(text))
        return *problem;
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const std::int64_t id = Post(me, text, StatusKind::Original, nullptr, source);
    return StatusReply(*LoadStatus(id), me.id);
}

ApiReply Microblog::Retweet(const UserRecord& me, std::int64_t id, std::string_view text, bool alsoComment,
                            bool alsoCommentRoot, std::string_view source) {
    const bool plain = TrimBlanks(text).empty();
    if (!plain) {
        if (auto problem = CheckStatusText(text))
            return *problem;
    }
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const auto target = LoadLiveStatus(id);
    if (!target)
        return ErrorReply(404, kStatusNotFound);
    Transaction transaction(db_);
    const std::int64_t retweetId =
        Post(me, plain ? std::string_view(kPlainRetweetText) : text, StatusKind::Retweet, &*target, source);
    if (alsoComment && !plain)
        Post(me, text, StatusKind::Comment, &*target, source);
    if (alsoCommentRoot && !plain && target->rootId > 0) {
        if (const auto root = LoadLiveStatus(target->rootId))
            Post(me, text, StatusKind::Comment, &*root, source);
    }
    transaction.Commit();
    return StatusReply(*LoadStatus(retweetId), me.id);
}

ApiReply Microblog::Reply(const UserRecord& me, std::int64_t id, std::string_view text, bool alsoRetweet,
                          bool alsoCommentRoot, std::string_view source) {
    if (auto problem = CheckStatusText(text))
        return *problem;
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const auto target = LoadLiveStatus(id);
    if (!target)
        return ErrorReply(404, kStatusNotFound);
    Transaction transaction(db_);
    const std::int64_t commentId = Post(me, text, StatusKind::Comment, &*target, source);
    if (alsoRetweet)
        Post(me, text, StatusKind::Retweet, &*target, source);
    if (alsoCommentRoot && target->rootId > 0) {
        if (const auto root = LoadLiveStatus(target->rootId))
            Post(me, text, StatusKind::Comment, &*root, source);
    }
    transaction.Commit();
    return StatusReply(*LoadStatus(commentId), me.id);
}

ApiReply Microblog::Destroy(const UserRecord& me, std::int64_t id) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const auto status = LoadLiveStatus(id);
    if (!status)
        return ErrorReply(404, kStatusNotFound);
    if (status->userId != me.id)
        return ErrorReply(403, kNotYourStatus);
    // The reply shows the status as it was before it went.
    ApiReply reply = StatusReply(*status, me.id);
    db_.Prepare("UPDATE statuses SET deleted = 1 WHERE id = ?").Bind(1, id).Run();
    return reply;
}

ApiReply Microblog::CreateFavorite(const UserRecord& me, std::int64_t id) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const auto status = LoadLiveStatus(id);
    if (!status)
        return ErrorReply(404, kStatusNotFound);
    db_.Prepare("INSERT OR IGNORE INTO favorites(user_id, status_id, created_at) VALUES(?, ?, ?)")
        .Bind(1, me.id)
        .Bind(2, id)
        .Bind(3, clock_.Now())
        .Run();
    if (db_.Changes() == 0)
        return ErrorReply(403, kAlreadyFavorite);
    return StatusReply(*status, me.id);
}

ApiReply Microblog::DestroyFavorite(const UserRecord& me, std::int64_t id) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    const auto status = LoadStatus(id);
    if (!status)
        return ErrorReply(404, kStatusNotFound);
    db_.Prepare("DELETE FROM favorites WHERE user_id = ? AND status_id = ?").Bind(1, me.id).Bind(2, id).Run();
    if (db_.Changes() == 0)
        return ErrorReply(403, kNotFavorite);
    return StatusReply(*status, me.id);
}

ApiReply Microblog::Reminds(const UserRecord& me) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement marks = db_.Prepare("SELECT home_read_id, mentions_read_id FROM users WHERE id = ?");
    marks.Bind(1, me.id);
    if (!marks.Step())
        return ErrorReply(403, kNoMicroblogYet);
    const std::int64_t homeRead = marks.Int(0);
    const std::int64_t mentionsRead = marks.Int(1);

    Statement timeline =
        db_.Prepare("SELECT COUNT(*) FROM statuses WHERE deleted = 0 AND id > ? AND user_id IN "
                    "(SELECT followee FROM follows WHERE follower = ?)");
    timeline.Bind(1, homeRead).Bind(2, me.id);
    timeline.Step();
    Statement replies =
        db_.Prepare("SELECT COUNT(*) FROM statuses WHERE deleted = 0 AND id > ?1 AND user_id <> ?2 "
                    "AND (instr(text, '@' || ?3) > 0 OR instr(text, '@' || ?4) > 0)");
    replies.Bind(1, mentionsRead).Bind(2, me.id).Bind(3, me.name).Bind(4, me.screenName);
    replies.Step();
    Statement comments = db_.Prepare(
        "SELECT COUNT(*) FROM statuses WHERE deleted = 0 AND kind = 2 AND id > ?1 AND user_id <> ?2 "
        "AND parent_id IN (SELECT id FROM statuses WHERE user_id = ?2)");
    comments.Bind(1, mentionsRead).Bind(2, me.id);
    comments.Step();
    // The counters travel as decimal strings, as clients expect them.
    return ApiReply{200, nlohmann::json{{"timelineCount", std::to_string(timeline.Int(0))},
                                        {"replyCount", std::to_string(replies.Int(0))},
                                        {"commentOfMeCount", std::to_string(comments.Int(0))}}};
}

std::optional<nlohmann::json> Microblog::PublicProfile(std::string_view screenName) {
    std::lock_guard<std::recursive_mutex> hold(dataLock_);
    Statement who = db_.Prepare("SELECT id FROM users WHERE screen_name = ?");
    who.Bind(1, screenName);
    if (!who.Step())
        return std::nullopt;
    const UserRecord user = *LoadUser(who.Int(0));
    const std::string columns = std::string("SELECT ") + kStatusColumns + " FROM statuses ";

    Statement mine = db_.Prepare(columns + "WHERE deleted = 0 AND user_id = ? ORDER BY id DESC LIMIT 50");
    mine.Bind(1, user.id);
    Statement mentions =
        db_.Prepare(columns + "WHERE deleted = 0 AND user_id <> ?1 AND (instr(text, '@' || ?2) > 0 OR "
                              "instr(text, '@' || ?3) > 0) ORDER BY id DESC LIMIT 50");
    mentions.Bind(1, user.id).Bind(2, user.name).Bind(3, user.screenName);
    Statement comments =
        db_.Prepare(columns + "WHERE deleted = 0 AND kind = 2 AND user_id <> ?1 AND parent_id IN "
                              "(SELECT id FROM statuses WHERE user_id = ?1) ORDER BY id DESC LIMIT 50");
    comments.Bind(1, user.id);
    Statement favorites =
        db_.Prepare(columns + "WHERE deleted = 0 AND id IN (SELECT status_id FROM favorites "
                              "WHERE user_id = ?) ORDER BY id DESC LIMIT 50");
    favorites.Bind(1, user.id);

    return nlohmann::json{{"user", UserJson(user, 0)},
                          {"mine", nlohmann::json::parse(StatusArrayText(LoadStatuses(mine), 0))},
                          {"replies", nlohmann::json::parse(StatusArrayText(LoadStatuses(mentions), 0))},
                          {"reply", nlohmann::json::parse(StatusArrayText(LoadStatuses(comments), 0))},
                          {"favorites", nlohmann::json::parse(StatusArrayText(LoadStatuses(favorites), 0))}};
}

} // namespace mbservice
