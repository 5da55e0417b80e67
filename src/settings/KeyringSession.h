#pragma once

#include <QString>

// Why the desktop's keyring cannot be asked in this session, checked before the first
// keyring call; empty when it can be asked (it may still refuse). One implementation per
// platform.
QString KeyringUnreachable();
