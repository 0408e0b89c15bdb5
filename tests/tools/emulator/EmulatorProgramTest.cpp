#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/TestImage.h"
#include "tools/emulator/EmulatorOptions.h"
#include "tools/emulator/EmulatorReport.h"

namespace zav::emulator {
namespace {

TEST(ParseEmulatorOptions, TakesEveryOptionAndKeepsDefaultsOtherwise) {
    const ParsedOptions defaults = ParseEmulatorOptions({});
    ASSERT_TRUE(defaults.options) << defaults.error;
    EXPECT_EQ(defaults.options->model, Model::ZAV5);
    EXPECT_EQ(defaults.options->startMode, Mode::Normal);
    EXPECT_EQ(defaults.options->statusPeriodMs, 500u);
    EXPECT_EQ(defaults.options->switchRule, SwitchRule::Signal);
    EXPECT_FALSE(defaults.options->reportFile);
    EXPECT_FALSE(defaults.options->help);

    const ParsedOptions all = ParseEmulatorOptions(
        {"--model", "ZAV10", "--mode", "update", "--status-period", "250", "--switch", "after:3000",
         "--report", "out.json", "--time-limit", "5", "--linger", "0", "--help"});
    ASSERT_TRUE(all.options) << all.error;
    EXPECT_EQ(all.options->model, Model::ZAV10);
    EXPECT_EQ(all.options->startMode, Mode::Update);
    EXPECT_EQ(all.options->statusPeriodMs, 250u);
    EXPECT_EQ(all.options->switchRule, SwitchRule::After);
    EXPECT_EQ(all.options->switchAfterMs, 3000u);
    EXPECT_EQ(all.options->reportFile, "out.json");
    EXPECT_EQ(all.options->timeLimitS, 5u);
    EXPECT_EQ(all.options->lingerMs, 0u);
    EXPECT_TRUE(all.options->help);

    EXPECT_EQ(ParseEmulatorOptions({"--switch", "never"}).options->switchRule, SwitchRule::Never);
}

TEST(ParseEmulatorOptions, RefusesWhatItCannotRun) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--model"},
        {"--model", "ZAV7"},
        {"--mode", "sleep"},
        {"--status-period", "0"},
        {"--status-period", "12ms"},
        {"--switch", "after:"},
        {"--switch", "later"},
        {"--time-limit", "0"},
        {"--time-limit", "99999999"},
        {"--report", ""},
        {"--linger", "-1"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        const ParsedOptions parsed = ParseEmulatorOptions(args);
        EXPECT_FALSE(parsed.options);
        EXPECT_NE(parsed.error.find(args.front()), std::string::npos) << parsed.error;
    }
}

TEST(EmulatorHelp, NamesEveryOption) {
    const std::string help = EmulatorHelp();
    for (const char* option :
         {"--model", "--mode", "--status-period", "--switch signal", "--switch after:MS",
          "--switch never", "--report", "--time-limit", "--linger", "--help", "SIGUSR1"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(ReportJson, GivesTheFiveFiguresOfAReport) {
    UpdateReport report;
    report.messagesReceived = 2342;
    report.digest = "0123456789abcdef";
    report.faults.push_back(
        {fw::FaultKind::BlockNumber, 789, 789, 43450, "block 789, \"expected\" 788"});
    report.lateness = Lateness{2342, -3, 0, 6, 302, 12};
    report.missing = {788, 2000};
    EXPECT_EQ(ReportJson(report),
              "{\"messages\": 2342, \"faults\": [\"message 789 (block 789) at 43450: block 789, "
              "\\\"expected\\\" 788\"], \"digest\": \"0123456789abcdef\", \"lateness_ms\": "
              "{\"p50\": 0, \"p99\": 6, \"max\": 302}, \"lost\": [788, 2000]}\n");

    // Nothing matched the schedule: no figures to give.
    UpdateReport none;
    none.digest = "cbf29ce484222325";
    none.lateness = Lateness{};
    EXPECT_EQ(ReportJson(none),
              "{\"messages\": 0, \"faults\": [], \"digest\": \"cbf29ce484222325\", "
              "\"lateness_ms\": null, \"lost\": []}\n");
}

TEST(ScheduleOfImage, DueTimesOfTheTestImageAndNothingForABrokenOne) {
    const Schedule schedule = ScheduleOfImage(fw::TestImage());
    ASSERT_EQ(schedule.messages.size(), 2343u);
    EXPECT_FALSE(schedule.originMs);
    EXPECT_EQ(schedule.messages[0].dueMs, 3u);
    EXPECT_EQ(schedule.messages[1].dueMs, 16005u);
    EXPECT_EQ(schedule.messages[2342].dueMs, 146223u);
    EXPECT_EQ(schedule.messages[0].bytes.front(), 0xF0);

    const std::vector<std::uint8_t> truncated(fw::TestImage().begin(),
                                              fw::TestImage().begin() + 100);
    EXPECT_TRUE(ScheduleOfImage(truncated).messages.empty());
}

}  // namespace
}  // namespace zav::emulator
