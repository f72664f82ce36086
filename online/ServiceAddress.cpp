#include "online/ServiceAddress.h"

#include <cctype>
#include <cstdlib>
#include <iostream>

namespace quillane::online {

// A reserved domain: it never resolves until the operator's real origin is filled in here,
// or a mirror is named in the environment.
const char* const kDefaultServiceUrl = "https://luts.quillane.example";

namespace {

bool isHttpsOrigin(const std::string& url) {
    static const std::string scheme = "https://";
    if (url.size() <= scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    // Query, fragment or blanks in an origin would change the requests we build.
    return url.find_first_of("?# \t\r\n", scheme.size()) == std::string::npos;
}

}  // namespace

ServiceAddress serviceAddress() {
    ServiceAddress address{kDefaultServiceUrl, ""};
    const char* url = std::getenv("QUILLANE_SERVICE_URL");
    if (url != nullptr && *url != '\0') {
        std::string chosen = url;
        while (!chosen.empty() && chosen.back() == '/') chosen.pop_back();
        if (isHttpsOrigin(chosen)) {
            address.baseUrl = chosen;
        } else {
            std::cerr << "QUILLANE_SERVICE_URL is not an https origin, using " << kDefaultServiceUrl
                      << "\n";
        }
    }
    const char* ca = std::getenv("QUILLANE_SERVICE_CA");
    if (ca != nullptr && *ca != '\0') address.caFile = ca;
    return address;
}

bool serviceConfigured() {
    // Names under .example are reserved and never resolve (RFC 2606).
    static const std::string reserved = ".example";
    const std::string url = serviceAddress().baseUrl;
    const std::size_t hostStart = url.find("://");
    std::string host = url.substr(hostStart == std::string::npos ? 0 : hostStart + 3);
    host = host.substr(0, host.find_first_of(":/"));
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host.size() < reserved.size() ||
           host.compare(host.size() - reserved.size(), reserved.size(), reserved) != 0;
}

}  // namespace quillane::online
