// The alert's composition and its retry rule, with a mail server that cannot
// be reached (a closed port of this machine), and the client's small rules.
#include "alerts_fixture.h"

#include <cstdlib>
#include <set>

#include "alerts/show_events.h"
#include "alerts/smtp_client.h"
#include "support/server_info.h"
#include "sites/site_list.h"
#include "tessil/input.h"
#include "tessil/prompts.h"

namespace alerts_test {
namespace {

using tessil_test::hostLog;

class UnreachableMail : public AlertsTest {
protected:
    void SetUp() override
    {
        AlertsTest::SetUp();
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        currentSite.emailAlerts = 1;
        CopyField(currentSite.alertRecipient, "owner@example.com");
        CopyField(currentSite.mailServer, "127.0.0.1");
        SetSiteMailPort(currentSite, int16_t(ClosedLoopbackPort()));
        alertRetrySeconds = 2;
        seen.clear();
        tessil::screenHost.waitTicks = [](int n) {
            hostLog.waitedTicks += n;
            char text[200];
            tessil::GetFieldText(26, text, sizeof text, 0);
            seen.insert(text);
        };
    }
    void TearDown() override
    {
        WSACleanup();
        AlertsTest::TearDown();
    }
    std::string MessageFile() const { return ReadProgramFile("\\kestrovane\\message.txt"); }

    static std::set<std::string> seen; // texts of the site line at each tick
};
std::set<std::string> UnreachableMail::seen;

bool Seen(const std::set<std::string>& texts, const std::string& start)
{
    for (const std::string& t : texts)
        if (t.rfind(start, 0) == 0)
            return true;
    return false;
}

TEST_F(UnreachableMail, FiveAttemptsAMinuteApartThenTheMessageIsKept)
{
    Log(15, "", 0, 0, 0, 3, 7, 9, 1);
    Log(1, "a.html", 0x20, 1, 0, 3, 7, 9, 2);
    Log(1, "b.html", 0x20, 0, 0, 3, 7, 9, 3);
    ShowEvents(kMailEvents);

    EXPECT_EQ(MessageFile(), "03-07 09:03 FILE XFND (SW  ) b.html\n"
                             "03-07 09:02 FILE RELO (SW  ) a.html\n"
                             "03-07 09:01 COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET\n");
    EXPECT_EQ(hostLog.waitedTicks, 1 + 5 * alertRetrySeconds);
    EXPECT_TRUE(Seen(seen, "Sending an Email Alert"));
    for (int left = 5; left >= 1; --left)
        EXPECT_TRUE(Seen(seen, "RETRYING EACH MINUTE FOR " + std::to_string(left) +
                                   " MINUTES, PRESS A MOUSE BUTTON TO EXIT NOW"))
            << left;
    EXPECT_EQ(Line(1), "ALERT: UNABLE TO SEND AN EMAIL ALERT TO USER - owner@example.com");
    EXPECT_EQ(pendingEvents, 0);
    EXPECT_EQ(alertedEvents, 3);
    EXPECT_EQ(Line(2), "03-07 09:03 FILE XFND (SW  ) b.html");
    EXPECT_EQ(eventPage, 1);
}

TEST_F(UnreachableMail, TheNextAlertHoldsOnlyItsOwnLines)
{
    alertRetrySeconds = 0;
    LogNumbered(3);
    ShowEvents(kMailEvents);
    Log(9, "late");
    eventPage = 4; // the alert reads from the newest and gives the page back
    ShowEvents(kMailEvents);
    EXPECT_EQ(MessageFile(), "03-07 09:05 FILE DEL  (STAT) late\n");
    EXPECT_EQ(eventPage, 4);
    EXPECT_EQ(alertedEvents, 1);
}

TEST_F(UnreachableMail, EventsWithoutALineCountButWriteNothing)
{
    alertRetrySeconds = 0;
    Log(9, "kept");
    Log(1, "..", 0x10);
    Log(42);
    ShowEvents(kMailEvents);
    EXPECT_EQ(MessageFile(), "03-07 09:05 FILE DEL  (STAT) kept\n");
    EXPECT_EQ(alertedEvents, 3);
}

TEST_F(UnreachableMail, AMouseButtonDuringTheRetryWaitEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Log(3);
            tessil::screenHost.exitProgram = [] { std::_Exit(42); };
            tessil::screenHost.waitTicks = [](int) {
                if (++hostLog.waitedTicks == 3)
                    tessil::mouseButton = 1;
            };
            ShowEvents(kMailEvents);
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST(Base64Encode, GroupsAndPadding)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""},         {"a", "YQ=="},         {"ab", "YWI="},
                 {"abc", "YWJj"},  {"alerts", "YWxlcnRz"}, {"\xff\xfe\xfd", "//79"},
                 {"s3cret!", "czNjcmV0IQ=="}};
    for (const auto& c : cases) {
        char out[200];
        Base64Encode(c.in, out, sizeof out);
        EXPECT_STREQ(out, c.out) << c.in;
    }
    char small[9];
    Base64Encode("abcdefghi", small, sizeof small);
    EXPECT_STREQ(small, "YWJjZGVm");
}

TEST(AlertMailHost, SpamFilterNamesStandForTheMailHost)
{
    char host[100];
    AlertMailHost("spam.example.com", host, sizeof host);
    EXPECT_STREQ(host, "mail.example.com");
    AlertMailHost("antispam.mx.example.org", host, sizeof host);
    EXPECT_STREQ(host, "mail.mx.example.org");
    AlertMailHost("spamfilter", host, sizeof host);
    EXPECT_STREQ(host, "spamfilter");
    AlertMailHost("smtp.example.com", host, sizeof host);
    EXPECT_STREQ(host, "smtp.example.com");
}

TEST_F(UnreachableMail, NoAddressGivesZeroAtOnce)
{
    CopyField(currentSite.mailServer, "999.1.1.1");
    EXPECT_EQ(SendAlertMail("owner@example.com", "\\kestrovane\\message.txt"), 0);
    EXPECT_EQ(Line(27), "Returning to Calling Code - 0");
    CopyField(currentSite.mailServer, "no-such-host.invalid");
    EXPECT_EQ(SendAlertMail("owner@example.com", "\\kestrovane\\message.txt"), 0);
}

} // namespace
} // namespace alerts_test
