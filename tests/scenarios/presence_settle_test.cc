// Presence settling (PresenceSettle, 3 s by default): a subject whose
// client toggles its presence hundreds of times holds up neither the
// moderator's ? nor the partner's answer; the moderator gets one notice per
// window, a burst is recorded once with its count, a change reversed within
// the window is not told, a real one is told when the window ends, and the
// owed question is asked again once per settled return.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// Both subjects join; round 1 asks for the expectations.
const char kJoin[] = "at 1 im alice hi\nat 2 im bob hi\n";

// The scenario's lines in order of their times ("at T ...").
std::string ByTime(const std::string& text) {
    std::vector<std::pair<double, std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.emplace_back(std::stod(line.substr(3)), line);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string sorted;
    for (const auto& line : lines) sorted += line.second + "\n";
    return sorted;
}

// n off-and-on toggles of alice's client from t on, 2 ms apart.
std::string Toggles(double t, int n) {
    std::string lines;
    char stamp[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(stamp, sizeof stamp, "%.3f", t + i * 0.002);
        lines += std::string("at ") + stamp + " presence alice off\n";
        std::snprintf(stamp, sizeof stamp, "%.3f", t + i * 0.002 + 0.001);
        lines += std::string("at ") + stamp + " presence alice on\n";
    }
    return lines;
}

// The wire log's sends to the moderator that tell of alice's presence.
std::vector<std::string> AliceNotices(const BotRun& run) {
    std::vector<std::string> found;
    for (const std::string& send : Sends(run)) {
        if (send.find(" mod alice") != std::string::npos) found.push_back(send);
    }
    return found;
}

// The times and recipients of the sends to the moderator and to bob but
// alice's presence notices: what the burst must not delay.
std::vector<std::string> OthersSends(const BotRun& run) {
    std::vector<std::string> found;
    for (const std::string& send : Sends(run)) {
        if (send.find(" mod alice") != std::string::npos) continue;
        size_t to = send.find(' ');
        std::string who = send.substr(to + 1, send.find(' ', to + 1) - to - 1);
        if (who == "mod" || who == "bob") found.push_back(send.substr(0, send.find(' ', to + 1)));
    }
    return found;
}

TEST(PresenceSettleTest, BurstHoldsUpNeitherModeratorNorPartner) {
    std::string talk = "at 10.1 im mod ?\nat 10.2 im bob 20\nat 11 im mod ?\nat 30 end\n";
    BotRun calm = RunScenario(ByTime(std::string(kJoin) + talk));
    BotRun run = RunScenario(ByTime(std::string(kJoin) + Toggles(10, 200) + talk));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // The moderator's two ? and bob's answer leave by the time they do
    // without the burst (each send takes its second in simulated time;
    // which of the two waiting goes first may differ).
    std::vector<std::string> others = OthersSends(run);
    ASSERT_EQ(others.size(), 4u);
    EXPECT_EQ(others.back().substr(0, 6), "13.100");
    EXPECT_EQ(OthersSends(calm).back().substr(0, 6), "13.100");
    EXPECT_EQ(std::count_if(others.begin(), others.end(),
                            [](const std::string& s) { return s.ends_with(" mod"); }),
              2);
    // One notice for the whole burst, when its window ends (past the send
    // under way), with its count.
    EXPECT_EQ(AliceNotices(run),
              std::vector<std::string>{Sent(13.1, "mod",
                                            "alice is still online (presence changed 400 "
                                            "times in 3 s)")});
    EXPECT_EQ(LinesWith(run.transcript, "PRES"),
              (std::vector<std::string>{"2008-11-05 14:30:13 alice         PRES presence changed "
                                        "400 times in 3 s",
                                        "2008-11-05 14:30:13 alice         PRES signed on again"}));
    // Alice owes her expectation: asked again once for the whole burst.
    EXPECT_EQ(CountLines(run.transcript, "SEND Current round: 1"), 1);
}

TEST(PresenceSettleTest, ReversedChangeIsNotToldRealOneIsAfterTheWindow) {
    BotRun run = RunScenario(std::string(kJoin) +
                             // Off and on within a second: nothing told.
                             "at 10 presence alice off\nat 11 presence alice on\n"
                             // Off for good: told when the window ends.
                             "at 20 presence alice off\n"
                             // Back, and the question she owes asked again once.
                             "at 40 presence alice on\nat 41 presence alice again\n"
                             "at 60 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(AliceNotices(run), (std::vector<std::string>{Sent(23, "mod", "alice went offline"),
                                                           Sent(43, "mod", "alice is back")}));
    // Back within the window owing her expectation: asked for it again,
    // once for the window, as for her return at 40 and 41. The off and on
    // (a lost connection, or her seat opened in another window) is on
    // record, though not told.
    EXPECT_EQ(LinesWith(run.transcript, "PRES"),
              (std::vector<std::string>{"2008-11-05 14:30:13 alice         PRES presence changed "
                                        "2 times in 3 s",
                                        "2008-11-05 14:30:13 alice         PRES signed on again",
                                        "2008-11-05 14:30:23 alice         PRES went offline",
                                        "2008-11-05 14:30:43 alice         PRES is back"}));
    EXPECT_EQ(CountLines(run.transcript, "SEND Current round: 1"), 2);
    EXPECT_EQ(Sends(run, 10, 20).size(), 1u);
}

TEST(PresenceSettleTest, ContinuedTogglingGetsOneNoticePerWindow) {
    // A change every 0.5 s for 20 s, then offline for good: at most one
    // notice per 3 s window, the last saying she went offline.
    std::string lines = kJoin;
    char stamp[32];
    for (int i = 0; i < 40; ++i) {
        std::snprintf(stamp, sizeof stamp, "%.1f", 10 + i * 0.5);
        lines +=
            std::string("at ") + stamp + " presence alice " + (i % 2 == 0 ? "off" : "on") + "\n";
    }
    BotRun run = RunScenario(lines + "at 30.5 presence alice off\nat 60 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> notices = AliceNotices(run);
    ASSERT_GE(notices.size(), 1u);
    EXPECT_LE(notices.size(), 8u);
    EXPECT_NE(notices.back().find("alice went offline"), std::string::npos) << notices.back();
    // Each window's burst on record once: 41 changes in all.
    int changes = 0;
    for (const std::string& line : LinesWith(run.transcript, "PRES presence changed ")) {
        changes += std::stoi(line.substr(line.find("changed ") + 8));
    }
    EXPECT_LE(changes, 41);
    EXPECT_GE(changes, 41 - 2 * static_cast<int>(notices.size()));
    EXPECT_LE(CountLines(run.transcript, "SEND Current round: 1"), 8);
}

TEST(PresenceSettleTest, ZeroTellsEveryChangeAtOnce) {
    BotRun run = RunScenario(std::string(kJoin) +
                                 "at 10 presence alice off\nat 11 presence alice on\n"
                                 "at 30 end\n",
                             MakeConfig({{"PresenceSettle", "0"}}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(AliceNotices(run), (std::vector<std::string>{Sent(10, "mod", "alice went offline"),
                                                           Sent(11, "mod", "alice is back")}));
}

}  // namespace
