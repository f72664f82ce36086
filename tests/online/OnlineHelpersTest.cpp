// The client's pure pieces: signatures against an independent HMAC, reply tokens, encoding,
// and where the service's address comes from.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "ProcessTools.h"
#include "online/OnlineAPI.h"

namespace {

const char* const kKey =
    "Hq3vLw8ZtN5pRkx2YcBfJ7mQe+Ds4Wug9PaVn1TzK6oHbXy3Cr/Ei8Fj2Ml5Gq0Sd7Ut+NwA4hZk9Rv1Le/Yp6";

// HMAC-SHA512 by the openssl command, upper-cased.
std::string opensslHmac(const std::string& message) {
    std::string command = "printf '%s' '" + message + "' | openssl dgst -sha512 -hmac '" + kKey + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char line[512] = {};
    std::string out = std::fgets(line, sizeof line, pipe) != nullptr ? line : "";
    ::pclose(pipe);
    auto equals = out.find("= ");
    if (equals == std::string::npos) return "";
    std::string hex = out.substr(equals + 2, 128);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

OnlineAPI offlineClient() { return OnlineAPI({"https://127.0.0.1:9", ""}); }

}  // namespace

TEST(OnlineHelpers, SignMatchesAnIndependentHmac) {
    OnlineAPI api = offlineClient();
    for (std::string message : {"", "OpenVisitor", "OpenVisitorFilm Looks/Warm Tones", "tok00017",
                                "s\xc3\xa9ssion+&=%42"}) {
        std::string expected = opensslHmac(message);
        ASSERT_EQ(expected.size(), 128u) << message;
        EXPECT_EQ(api.sign(message), expected) << message;
    }
}

TEST(OnlineHelpers, ReplyTokensAndTables) {
    for (const char* yes : {"0", "-5", "2147483647", "-2147483648"}) EXPECT_TRUE(OnlineAPI::is_number(yes)) << yes;
    for (const char* no : {"", "-", "+1", " 1", "1 ", "1\n", "1x", "--1", "2147483648", "-2147483649",
                           "99999999999999999999"})
        EXPECT_FALSE(OnlineAPI::is_number(no)) << '"' << no << '"';

    const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(OnlineAPI::binary_to_hex(bytes, 3), "0aff00");
    EXPECT_EQ(OnlineAPI::binary_to_hex(bytes, 0), "");

    EXPECT_STREQ(OnlineAPI::getRequest(7), "");
    EXPECT_STREQ(OnlineAPI::getRequest(-1), "");
    EXPECT_STREQ(OnlineAPI::getLoginError(-1), "Error: Incorrect Password!");
    EXPECT_STREQ(OnlineAPI::getLoginError(2), "Success!");
    for (int code : {3, -5})
        EXPECT_STREQ(OnlineAPI::getLoginError(code), "Error message: Incorrect E-Mail or Password");
}

// An e-mail, a password and a folder as they go out: EveryEndpointSendsExactlyItsFields.
TEST(OnlineHelpers, ReplaceAndEncode) {
    EXPECT_EQ(replaceString("a b c", " ", "%20"), "a%20b%20c");
    EXPECT_EQ(replaceString("abc", " ", "%20"), "abc");
    EXPECT_EQ(replaceString("aaa", "a", "aa"), "aaaaaa");  // inserted text is not searched again
    EXPECT_EQ(replaceString("abc", "", "x"), "abc");

    EXPECT_EQ(encodeValue("Cinema/Teal-Orange_v2.1~x"), "Cinema/Teal-Orange_v2.1~x");
    EXPECT_EQ(encodeValue("p&ss w=rd+%?#"), "p%26ss%20w%3Drd%2B%25%3F%23");
    EXPECT_EQ(encodeValue("\xc3\xa9\n"), "%C3%A9%0A");
}

// A client made without an address takes this one: CertificatesAreChecked.
TEST(OnlineHelpers, ServiceAddressFromTheEnvironment) {
    using quillane::test::ScopedEnv;
    {
        ScopedEnv url("QUILLANE_SERVICE_URL", std::nullopt), ca("QUILLANE_SERVICE_CA", std::nullopt);
        auto address = quillane::online::serviceAddress();
        EXPECT_EQ(address.baseUrl, quillane::online::kDefaultServiceUrl);
        EXPECT_EQ(address.baseUrl.rfind("https://", 0), 0u);
        EXPECT_EQ(address.caFile, "");
    }
    {
        ScopedEnv url("QUILLANE_SERVICE_URL", "https://mirror.test:8443/");
        ScopedEnv ca("QUILLANE_SERVICE_CA", "/etc/mirror-ca.pem");
        auto address = quillane::online::serviceAddress();
        EXPECT_EQ(address.baseUrl, "https://mirror.test:8443");
        EXPECT_EQ(address.caFile, "/etc/mirror-ca.pem");
    }
    // Credentials never go out in clear text, nor to an origin that would bend the requests.
    for (const char* bad : {"http://mirror.test", "ftp://mirror.test", "https://a.test/?x=", "https://"}) {
        ScopedEnv url("QUILLANE_SERVICE_URL", bad);
        EXPECT_EQ(quillane::online::serviceAddress().baseUrl, quillane::online::kDefaultServiceUrl) << bad;
    }
}
