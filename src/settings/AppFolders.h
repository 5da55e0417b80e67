#pragma once

#include <QString>

// The per-user base folders the program keeps its files in when it is not run from a
// folder of its own. One implementation per platform.
enum class TUserFolder {
    Config,     // settings
    Cache,      // copies that can be thrown away
};

// The user's base folder of that kind, without a trailing separator; the program adds
// its own subfolder. May not exist yet.
QString UserFolder(TUserFolder kind);
