#pragma once

#include "Flavour.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace localservice {

struct ServiceOptions {
    int port = 0;                       // 0: a free port, printed on the first line of stdout
    std::string dbPath = "localservice.sqlite";
    std::string prefix;                 // "" or "/api": a leading "/", no trailing one
    std::vector<std::pair<std::string, std::string>> users;  // name, password
    bool seed = false;
    int delayMs = 0;
    int rateLimitCount = 0;             // 0: no limit
    int rateLimitWindowSeconds = 0;
    bool verbose = false;
    std::size_t maxBodyBytes = 64 * 1024;
    std::string tlsCertPath;            // both or neither: https with this certificate chain
    std::string tlsKeyPath;             // and its private key (PEM, unencrypted)
    int textLimit = -1;                 // -1: no configuration document; 0: published as unlimited
    // The JSON face is served only when a flavour is named, so an XML-only service
    // is not taken for the other family by a client that probes.
    bool fediverse = false;
    Flavour flavour = Flavour::Mastodon;  // which server the JSON face behaves as
    std::vector<std::pair<std::string, std::string>> tokens;  // name, personal access token
    int heartbeatMs = 15000;            // between ":thump" lines on an event stream
    bool help = false;
};

// Parses the command line (without the program name). Returns false with a message
// in *error for anything it does not understand.
bool parseCommandLine(const std::vector<std::string>& args, ServiceOptions* options, std::string* error);

// Whether the certificate and key the options name can be read and belong together;
// false with a message naming the file at fault. Checked before the database is touched.
bool checkFiles(const ServiceOptions& options, std::string* error);

std::string usageText();

} // namespace localservice
