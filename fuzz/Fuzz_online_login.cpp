// The online service's short text replies: the log-in reply and the favourite
// reply, as the client reads what it received. Properties: a reply signs in
// only with a code of 1 or more and a blank-free token that stands right after
// the reply's first blank; a refusal carries no token; anything that is no
// code reads as unusable; only "ok" accepts a favourite.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "online/OnlineAPI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);

    const LoginReply login = parseLoginReply(reply);
    fuzz::check(OnlineAPI::getLoginError(login.code) != nullptr, "every code has a message");
    if (login.signedIn) {
        const std::size_t blank = reply.find(' ');
        fuzz::check(login.code >= 1, "only a success signs in");
        fuzz::check(blank != std::string::npos && login.session.find(' ') == std::string::npos &&
                        reply.compare(blank + 1, login.session.size(), login.session) == 0,
                    "the session is the token after the first blank");
    } else {
        fuzz::check(login.session.empty(), "a reply that does not sign in carries no session");
    }
    if (reply.empty() || reply[0] == ' ' || reply[0] == '+')
        fuzz::check(login.code == OnlineAPI::kLoginUnusable, "a reply without a leading code is unusable");

    fuzz::check(favoriteAccepted(reply) == (reply == "ok"), "only ok accepts a favourite");
    return 0;
}
