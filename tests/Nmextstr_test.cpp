#include "net/Nmextstr.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

TEST(ExStringList, LookupByNameIgnoresCaseAndNeedsAColon)
{
    const TExStringList list
        = Lines<TExStringList>({ "GET http://proxy.example/x HTTP/1.0", "Host: a", "Accept: */*",
                                 "no colon here", "host: second" });
    EXPECT_EQ(list.IndexOfName("host"), 1);
    EXPECT_EQ(list.IndexOfName("HOST"), 1);
    EXPECT_EQ(list.IndexOfName("accept"), 2);
    EXPECT_EQ(list.IndexOfName("no colon here"), -1);
    EXPECT_EQ(list.IndexOfName("Cookie"), -1);
    // A request line through a proxy is named by its scheme's colon.
    EXPECT_EQ(list.IndexOfName("GET http"), 0);
}

TEST(ExStringList, SetValueReplacesInPlaceAppendsOrDeletes)
{
    TExStringList list
        = Lines<TExStringList>({ "GET / HTTP/1.0", "Proxy-Connection: Keep-Alive", "Host: proxy" });
    list.SetValue("Host", "origin");
    EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nHost: origin\r\n");

    list.SetValue("User-Agent", "tool");
    EXPECT_EQ(list[3], "User-Agent: tool");

    // Spelled as the caller gives it.
    list.SetValue("HOST", "again");
    EXPECT_EQ(list[2], "HOST: again");

    list.SetValue("proxy-connection", "");
    EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\nHOST: again\r\nUser-Agent: tool\r\n");

    list.SetValue("Cookie", "");
    EXPECT_EQ(list.Count(), 3);
}

TEST(ExStringList, DeleteTakesOnlyTheFirstOfTwoLines)
{
    TExStringList list = Lines<TExStringList>({ "Accept: a", "Host: x", "Accept: b" });
    list.SetValue("accept", "");
    EXPECT_EQ(list.Text(), "Host: x\r\nAccept: b\r\n");
}
