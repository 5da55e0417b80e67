// The local service: a small HTTP server on 127.0.0.1 that speaks the interface the
// program uses, backed by an SQLite file. See usageText() for the options.

#include "Seed.h"
#include "Server.h"
#include "ServiceOptions.h"
#include "Store.h"
#include "Termination.h"

#include <ctime>
#include <iostream>

int main(int argc, char** argv)
{
    using namespace localservice;
    ServiceOptions options;
    std::string error;
    if (!parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::cerr << "localservice: " << error << "\n" << usageText();
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    if (!checkFiles(options, &error)) {
        std::cerr << "localservice: " << error << "\n";
        return 2;
    }

    try {
        Store store(options.dbPath);
        if (options.seed && seedDemoData(store, static_cast<std::int64_t>(std::time(nullptr))) && options.verbose)
            std::cerr << "localservice: seeded " << options.dbPath << "\n";
        for (const auto& [name, password] : options.users)
            store.upsertUser(name, password);
        for (const auto& [name, token] : options.tokens) {
            const auto account = store.userByName(name);
            if (!account) {
                std::cerr << "localservice: --token names no account \"" << name << "\"\n";
                return 2;
            }
            store.createToken(0, account->id, "read write", token);
        }

        Server server(store, options, std::cerr);
        if (!server.isValid()) {
            std::cerr << "localservice: cannot serve https with the certificate \"" << options.tlsCertPath
                      << "\" and the key \"" << options.tlsKeyPath << "\" (not PEM, or not a matching pair)\n";
            return 2;
        }
        TerminationWatcher watcher([&server](int) { server.stop(); });
        const int port = server.bind();
        if (port < 0) {
            std::cerr << "localservice: cannot listen on 127.0.0.1:" << options.port << "\n";
            return 1;
        }
        // Alone on the first line, so a launcher can read it.
        std::cout << port << std::endl;
        if (!server.run()) {
            std::cerr << "localservice: the server stopped with an error\n";
            return 1;
        }
    } catch (const StoreError& e) {
        std::cerr << "localservice: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
