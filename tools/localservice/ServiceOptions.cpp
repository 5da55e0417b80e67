#include "ServiceOptions.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace localservice {

namespace {

bool toInt(const std::string& text, long long low, long long high, long long* value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end && !text.empty() && *value >= low && *value <= high;
}

} // namespace

std::string usageText()
{
    return "usage: localservice [options]\n"
           "  --port N            port on 127.0.0.1 (0, the default: a free one, printed on the first line)\n"
           "  --db PATH           SQLite database file (created when missing; default localservice.sqlite)\n"
           "  --prefix /api       serve the interface under this path prefix\n"
           "  --user NAME:PASS    create the account or set its password (repeatable)\n"
           "  --seed              fill a new database with demo accounts and statuses (demo/demo)\n"
           "  --delay-ms N        wait N ms before every reply\n"
           "  --rate-limit N/S    at most N requests per S seconds per account (400 beyond)\n"
           "  --max-body BYTES    largest request body (default 65536, form bodies 8192 at most; larger: 413)\n"
           "  --tls-cert FILE     serve https with this certificate (PEM; the chain may follow it)\n"
           "  --tls-key FILE      and this private key (PEM); both or neither\n"
           "  --textlimit N       publish N (0: no limit) in <prefix>/statusnet/config.xml, served without sign-in\n"
           "  --flavour NAME      also serve the fediverse's JSON face (/api/v1, /api/v2, /oauth), behaving\n"
           "                      as mastodon, gotosocial, akkoma or friendica\n"
           "  --token NAME:TOKEN  a personal access token (read write) for the account (repeatable)\n"
           "  --heartbeat-ms N    between heartbeats on an event stream (default 15000)\n"
           "  -v                  log every request to stderr\n";
}

bool parseCommandLine(const std::vector<std::string>& args, ServiceOptions* options, std::string* error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
        }
        const auto takeValue = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        long long number = 0;
        if (name == "-h" || name == "--help") {
            options->help = true;
        } else if (name == "-v" || name == "--verbose") {
            options->verbose = true;
        } else if (name == "--seed") {
            options->seed = true;
        } else if (name == "--port") {
            if (!takeValue())
                return false;
            if (!toInt(value, 0, 65535, &number)) {
                *error = "--port wants a number from 0 to 65535, not \"" + value + "\"";
                return false;
            }
            options->port = static_cast<int>(number);
        } else if (name == "--db") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                *error = "--db wants a file name";
                return false;
            }
            options->dbPath = value;
        } else if (name == "--prefix") {
            if (!takeValue())
                return false;
            while (!value.empty() && value.back() == '/')
                value.pop_back();
            if (!value.empty() && value.front() != '/')
                value.insert(value.begin(), '/');
            if (value.find_first_of("?#% ") != std::string::npos) {
                *error = "--prefix wants a plain path such as /api";
                return false;
            }
            options->prefix = value;
        } else if (name == "--user") {
            if (!takeValue())
                return false;
            const std::size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
                *error = "--user wants NAME:PASSWORD with both parts non-empty";
                return false;
            }
            options->users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else if (name == "--flavour") {
            if (!takeValue())
                return false;
            const auto flavour = flavourNamed(value);
            if (!flavour) {
                *error = "--flavour wants mastodon, gotosocial, akkoma or friendica, not \"" + value + "\"";
                return false;
            }
            options->flavour = *flavour;
            options->fediverse = true;
        } else if (name == "--token") {
            if (!takeValue())
                return false;
            const std::size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0 || value.size() - colon - 1 < 16
                || value.find_first_of(" \t\r\n", colon) != std::string::npos) {
                *error = "--token wants NAME:TOKEN, the token at least 16 characters without spaces";
                return false;
            }
            options->tokens.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else if (name == "--heartbeat-ms") {
            if (!takeValue())
                return false;
            if (!toInt(value, 10, 600000, &number)) {
                *error = "--heartbeat-ms wants a number of milliseconds from 10 to 600000";
                return false;
            }
            options->heartbeatMs = static_cast<int>(number);
        } else if (name == "--delay-ms") {
            if (!takeValue())
                return false;
            if (!toInt(value, 0, 600000, &number)) {
                *error = "--delay-ms wants a number of milliseconds from 0 to 600000";
                return false;
            }
            options->delayMs = static_cast<int>(number);
        } else if (name == "--rate-limit") {
            if (!takeValue())
                return false;
            const std::size_t slash = value.find('/');
            long long count = 0;
            long long seconds = 0;
            if (slash == std::string::npos || !toInt(value.substr(0, slash), 1, 1000000, &count)
                || !toInt(value.substr(slash + 1), 1, 86400 * 7, &seconds)) {
                *error = "--rate-limit wants REQUESTS/SECONDS, for example 70/60";
                return false;
            }
            options->rateLimitCount = static_cast<int>(count);
            options->rateLimitWindowSeconds = static_cast<int>(seconds);
        } else if (name == "--max-body") {
            if (!takeValue())
                return false;
            if (!toInt(value, 1, 1 << 30, &number)) {
                *error = "--max-body wants a number of bytes";
                return false;
            }
            options->maxBodyBytes = static_cast<std::size_t>(number);
        } else if (name == "--textlimit") {
            if (!takeValue())
                return false;
            if (!toInt(value, 0, INT32_MAX, &number)) {
                *error = "--textlimit wants a number from 0 (no limit) to 2147483647, not \"" + value + "\"";
                return false;
            }
            options->textLimit = static_cast<int>(number);
        } else if (name == "--tls-cert" || name == "--tls-key") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                *error = name + " wants a file name";
                return false;
            }
            (name == "--tls-cert" ? options->tlsCertPath : options->tlsKeyPath) = value;
        } else {
            *error = "unknown option \"" + args[i] + "\"";
            return false;
        }
    }
    if (options->tlsCertPath.empty() != options->tlsKeyPath.empty()) {
        *error = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

bool checkFiles(const ServiceOptions& options, std::string* error)
{
    if (options.tlsCertPath.empty())
        return true;
    // Read here rather than left to the server library, which only says that it failed.
    const auto openFile = [error](const std::string& path) {
        BIO* bio = BIO_new_file(path.c_str(), "r");
        if (!bio)
            *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return bio;
    };
    BIO* certFile = openFile(options.tlsCertPath);
    if (!certFile)
        return false;
    X509* cert = PEM_read_bio_X509(certFile, nullptr, nullptr, nullptr);
    BIO_free(certFile);
    if (!cert) {
        *error = "\"" + options.tlsCertPath + "\" holds no PEM certificate";
        return false;
    }
    BIO* keyFile = openFile(options.tlsKeyPath);
    EVP_PKEY* key = keyFile ? PEM_read_bio_PrivateKey(keyFile, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(keyFile);
    bool ok = key != nullptr;
    if (keyFile && !key)
        *error = "\"" + options.tlsKeyPath + "\" holds no unencrypted PEM private key";
    if (key && X509_check_private_key(cert, key) != 1) {
        *error = "the key \"" + options.tlsKeyPath + "\" does not belong to the certificate \"" + options.tlsCertPath + "\"";
        ok = false;
    }
    EVP_PKEY_free(key);
    X509_free(cert);
    ERR_clear_error();
    return ok;
}

} // namespace localservice
