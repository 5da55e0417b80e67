#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace localservice {

struct UserRecord {
    std::int64_t id = 0;
    std::string name;         // display name
    std::string screenName;   // account name
    std::string location;
    std::string description;
    std::string profileImageUrl;
    std::string url;
    bool isProtected = false;
    std::int32_t followersCount = 0;
};

struct StatusRecord {
    std::int64_t id = 0;
    std::int64_t createdAt = 0;  // seconds since 1970, UTC
    std::string text;
    std::string source;
    std::string spoilerText;     // a content warning (the JSON face only); empty: none
    bool truncated = false;
    bool favorited = false;      // for the signed-in user
    bool reblogged = false;      // the signed-in user repeated it
    std::int64_t favouritesCount = 0;
    std::int64_t reblogsCount = 0;
    std::int64_t repliesCount = 0;
    UserRecord user;
    // The status this one answers; 0 when it answers none.
    std::int64_t inReplyToStatusId = 0;
    std::int64_t inReplyToUserId = 0;
    std::string inReplyToScreenName;
    std::int64_t inReplyToCreatedAt = 0;
    // For a repeat, the status repeated; null otherwise.
    std::shared_ptr<const StatusRecord> retweetedStatus;
};

// Character data for an element or attribute: markup characters become references, a
// CR becomes &#13; so a parser keeps it, characters XML 1.0 does not allow are dropped
// and bytes that are not UTF-8 become U+FFFD.
std::string xmlEscape(std::string_view utf8);

// The date form of the historic service: "Mon Dec 07 07:41:00 +0000 2026" (always UTC).
std::string historicDate(std::int64_t secondsSinceEpoch);

// A whole document: the declaration and <statuses type="array"> with each status.
std::string statusesDocument(const std::vector<StatusRecord>& statuses);
// A whole document holding one <status>, the reply to an update, a repeat or a favourite.
std::string statusDocument(const StatusRecord& status);
// A whole document holding one <user>, the reply to verify_credentials.
std::string userDocument(const UserRecord& user);
// The site configuration a GNU social server publishes, reduced to its name and the
// status length limit (0: none).
std::string configDocument(int textLimit);
// A whole document describing a refused request: <hash><request/><error/></hash>.
std::string errorDocument(std::string_view requestPath, std::string_view message);

} // namespace localservice
