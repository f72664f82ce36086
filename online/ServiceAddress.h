#pragma once
// Where the online LUT library lives and which certificates vouch for it.
// This is the only place that knows the service's origin.
#include <string>

namespace quillane::online {

struct ServiceAddress {
    // Scheme and host (and port), no trailing slash: endpoint paths are appended as they stand.
    std::string baseUrl;
    // PEM file of the certificate authorities trusted for the service; empty means the
    // system's own trust store.
    std::string caFile;
};

// The built-in origin of the library.
extern const char* const kDefaultServiceUrl;

// The address the client uses: the built-in origin with the system's trust store, unless
// the environment names another one:
//   QUILLANE_SERVICE_URL  an https origin (a private mirror, or a test server),
//   QUILLANE_SERVICE_CA   a PEM file of the authorities that sign that origin's certificate.
// Only https origins are taken; anything else is reported on standard error and ignored,
// so the account's credentials never travel in clear text. A trailing "/" is dropped.
ServiceAddress serviceAddress();

// False while the address in use is the built-in placeholder on a reserved
// domain (no real origin filled in, no mirror named): nothing could be asked.
bool serviceConfigured();

}  // namespace quillane::online
