#include "desktop/ExchangeDirectory.h"

#include <cstdlib>

std::string exchangeDirectory() {
    const char* override = std::getenv("QUILLANE_EXCHANGE_DIR");
    if (override == nullptr || *override == '\0') return "/tmp/";
    std::string dir = override;
    if (dir.back() != '/') dir += '/';
    return dir;
}
