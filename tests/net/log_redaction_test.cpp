#include <string>

#include <gtest/gtest.h>

#include "net/log_redaction.h"

namespace {

using vxs::Networking::kMaxLoggedBodyBytes;
using vxs::Networking::redact_for_log;

std::string redact(const std::string& text) { return redact_for_log(text.data(), text.size()); }

TEST(LogRedactionTest, SecretsLoseAllButTheirFirstCharacters) {
    struct Case {
        std::string text;
        std::string secret;
    };
    const Case cases[] = {
        {R"({"access_token":"24.6c5e1ff107f0e8bcef8c46d3424a0e78.2592000.1","expires_in":2592000})",
         "6c5e1ff107f0e8bcef8c46d3424a0e78"},
        {"grant_type=client_credentials&client_id=Va5yQRHlA4Fq&client_secret=0rDSjzQ20XUj5i", "0rDSjzQ20XUj5i"},
        {"grant_type=client_credentials&client_id=Va5yQRHlA4Fq&client_secret=0rDSjzQ20XUj5i", "Va5yQRHlA4Fq"},
        {R"({"apikey" : "k3y5"})", "k3y5"},
        {R"({"tok":"abcdefgh"})", "abcdefgh"},
        // A long opaque run is masked whatever its field is called.
        {R"({"x":"R2D2C3POR2D2C3POR2D2"})", "R2D2C3POR2D2C3POR2D2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string shown = redact(c.text);
        EXPECT_EQ(shown.find(c.secret), std::string::npos) << shown;
        EXPECT_NE(shown.find("***"), std::string::npos) << shown;
    }
}

TEST(LogRedactionTest, OrdinaryAnswersStayReadable) {
    const std::string answer = "{\"err_no\":0,\"result\":[\"turn on the light\"],\"sn\":\"42\"}";
    EXPECT_EQ(redact(answer), answer);
    const std::string utf8 = "{\"result\":\"\xe6\x89\x93\xe5\xbc\x80\"}";
    EXPECT_EQ(redact(utf8), utf8);
    EXPECT_EQ(redact("line\r\nbreak"), "line..break");
}

TEST(LogRedactionTest, LongBodiesAreCutAndTheirLengthIsShown) {
    std::string spaced;
    for (int i = 0; i < 2000; ++i) spaced += "ab ";
    const std::string shown = redact(spaced);
    EXPECT_LE(shown.size(), kMaxLoggedBodyBytes + 32);
    EXPECT_NE(shown.find("(6000 bytes)"), std::string::npos);
    EXPECT_EQ(redact_for_log(nullptr, 10), "");
    EXPECT_EQ(redact(std::string(5000, 'a')), "aaaa***...(5000 bytes)");
}

}  // namespace
