#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace localservice {

// Which server the JSON face behaves as: the ids it hands out, its limits and the
// quirks a client must live with.
enum class Flavour { Mastodon, GoToSocial, Akkoma, Friendica };

std::optional<Flavour> flavourNamed(std::string_view name);
const char* flavourName(Flavour flavour);

// The id a client sees for a row: a decimal number (Mastodon, Friendica), a ULID
// (GoToSocial) or a FlakeId (Akkoma). The row's time goes into the last two, as those
// servers do, so the text sorts by time there too.
std::string externalId(Flavour flavour, std::int64_t rowId, std::int64_t createdAtSeconds);
// The row behind an id this flavour handed out; nullopt for anything else.
std::optional<std::int64_t> rowId(Flavour flavour, std::string_view id);

// The longest status the flavour takes when none is configured.
int defaultStatusLimit(Flavour flavour);
// What a link counts as in a status, published as characters_reserved_per_url: 23 on
// Mastodon; nullopt where the server publishes none and a link counts its own characters.
std::optional<int> linkLength(Flavour flavour);

} // namespace localservice
