#pragma once

#include <cstdint>

namespace localservice {

class Store;

// The demo account that the seed creates; the demo script writes it into the settings.
inline constexpr const char* kDemoScreenName = "demo";
inline constexpr const char* kDemoPassword = "demo";

// How much the seed creates, for tests that count.
inline constexpr int kSeedFriendStatuses = 320;  // by demo and the four accounts it follows
inline constexpr int kSeedOutsiderStatuses = 12; // by a protected account nobody follows
inline constexpr std::int64_t kSeedFirstStatusId = 5000000001;  // ids beyond 32 bits on purpose
inline constexpr int kSeedMentionsOfDemo = 5;    // among the friends' statuses, one of them a reply

// Fills an empty database with accounts that follow each other, some hundreds of
// statuses in Japanese with web addresses, favourites, and a few statuses that mention
// the demo account or answer it. Does nothing and returns
// false when the database has been seeded before. `now` is the time of the newest status.
bool seedDemoData(Store& store, std::int64_t now);

} // namespace localservice
