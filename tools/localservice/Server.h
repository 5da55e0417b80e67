#pragma once

#include "ServiceOptions.h"

#include <memory>
#include <ostream>

namespace localservice {

class Store;

// The HTTP side of the local service: Basic authentication, the calls of the
// interface under the optional prefix, the site configuration when a text limit is
// given, an optional request limit and delay, and a clear XML error for everything it
// refuses; with a flavour, the JSON face (FediFace) beside it on the same store. Listens on 127.0.0.1 only; speaks https
// when the options name a certificate and key.
//
//   Server server(store, options);
//   if (!server.isValid()) ...  // the certificate or key was refused
//   int port = server.bind();   // -1 on failure
//   server.run();               // until stop() from another thread
class Server {
public:
    Server(Store& store, const ServiceOptions& options, std::ostream& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // False when the TLS certificate or key could not be used.
    bool isValid() const;
    // Binds the listening socket; returns the port (the chosen one for port 0) or -1.
    int bind();
    // Serves until stop(); false when it could not serve at all.
    bool run();
    // From any thread; also cuts reply delays short.
    void stop();

    static constexpr const char* kRealm = "Brimlark local service";
    static constexpr int kPageSize = 20;
    static constexpr std::size_t kStatusLimit = 140;  // UTF-16 code units, as the program counts; --textlimit sets another

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace localservice
