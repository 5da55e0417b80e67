#pragma once

#include "service/TimelineStatus.h"

#include <QJsonObject>

#include <optional>

// A Status of the client API as a row: the wrapper's id (a repeat shows its original's
// author and text), the display name else the account name, the account ("acct"), the
// text from the HTML (the content warning alone when there is one), the favourite flag,
// the answered status and the status's page. Nothing without an id.
std::optional<TTimelineStatus> ClientApiStatusRow(const QJsonObject& status);
