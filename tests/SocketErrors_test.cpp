#include "net/SocketErrors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(SocketErrors, TextsOfKnownUnknownAndNoError)
{
    struct Case {
        int code;
        std::string text;
    };
    for (const Case &c :
         { Case { 10061, "10061:Connection refused" }, Case { 10100, "Unknown Error No. 10100" },
           Case { 0, "" }, Case { 11001, "11001:Host not found" },
           Case { 10035, "10035:Operation would block" } })
        EXPECT_EQ(SocketErrorText(std::uint16_t(c.code)), c.text);
}

} // namespace
