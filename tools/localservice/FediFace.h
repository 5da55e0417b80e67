#pragma once

#include "ServiceOptions.h"

#include <memory>
#include <string_view>

namespace httplib {
struct Request;
struct Response;
}

namespace localservice {

class Store;

// The JSON face of the service, on the same store as the XML one: applications and
// their OAuth grants, tokens, the home timeline and notifications paged by id, posts,
// favourites, repeats, the instance documents and the user's event stream. It behaves
// as the server the options' flavour names.
class FediFace {
public:
    FediFace(Store& store, const ServiceOptions& options);
    ~FediFace();
    FediFace(const FediFace&) = delete;
    FediFace& operator=(const FediFace&) = delete;

    // Whether the path belongs to this face.
    static bool serves(std::string_view path);
    void handle(const httplib::Request& req, httplib::Response& res);
    // Ends the event streams; from any thread.
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace localservice
