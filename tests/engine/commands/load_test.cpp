// load_test.cpp: commands.yaml that cannot be used, told by line and column; what --lint finds; the demo router.
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

struct ErrorCase {
    const char *name;
    std::string yaml;
    std::size_t line;
    std::size_t column;
    std::string text;   // part of the message
};

class LoadErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LoadErrors, namePlaceAndReason)
{
    CommandsRig rig(GetParam().yaml);
    try {
        rig.load();
        FAIL() << "loaded";
    } catch (const ModelError &error) {
        EXPECT_EQ(error.line(), GetParam().line) << error.what();
        EXPECT_EQ(error.column(), GetParam().column) << error.what();
        const std::string what = error.what();
        EXPECT_NE(what.find(GetParam().text), std::string::npos) << what;
        const std::string place = rig.dir.path("commands.yaml") + ":" + std::to_string(GetParam().line) + ":"
            + std::to_string(GetParam().column) + ": error: ";
        EXPECT_TRUE(what.starts_with(place)) << what;
    }
}

std::string caseName(const ::testing::TestParamInfo<ErrorCase> &info) { return info.param.name; }

const std::string Exec = "modes:\n  exec:\n    prompt: \">\"\n    commands:\n";

INSTANTIATE_TEST_SUITE_P(Yaml, LoadErrors, ::testing::Values(
    ErrorCase{"doesNotParse", "modes:\n  exec: {prompt: \">\"\n", 3, 1, "end of map flow not found"},
    ErrorCase{"unknownMode", Exec + "      enable: {mode: enabel}\n", 5, 22, "unknown mode 'enabel'"},
    ErrorCase{"unknownParent", "modes:\n  exec:\n    prompt: \">\"\n    parent: nowhere\n", 4, 13, "unknown mode 'nowhere'"},
    ErrorCase{"parentsLoop", "modes:\n  a: {prompt: \">\", parent: b}\n  b: {prompt: \">\", parent: a}\n", 2, 28, "lead back"},
    ErrorCase{"badPattern", Exec + "      \"~show (\": x\n", 5, 7, "does not compile"},
    ErrorCase{"unknownVariable", Exec + "      show {name}: \"about {nmae}\"\n", 5, 27, "unknown variable {nmae}"},
    ErrorCase{"unknownVariableInPrompt", "modes:\n  exec:\n    prompt: \"{host}>\"\n", 3, 14, "unknown variable {host}"},
    ErrorCase{"loneBrace", Exec + "      show: \"a { b\"\n", 5, 16, "write {{"},
    ErrorCase{"restNotLast", Exec + "      show {a...} b: x\n", 5, 19, "comes last"},
    ErrorCase{"fileMissing", Exec + "      show version: {file: version.txt}\n", 5, 28, "cannot read the answer file"},
    ErrorCase{"fileOutside", Exec + "      show version: {file: ../version.txt}\n", 5, 28, "router's directory"},
    ErrorCase{"twoAnswers", Exec + "      show: {answer: a, answers: [b]}\n", 5, 7, "one of answer:"},
    ErrorCase{"notAFlag", Exec + "      quit: {close: maybe}\n", 5, 21, "true or false"},
    ErrorCase{"negativeDelay", Exec + "      slow: {delay: -1}\n", 5, 21, "a number"},
    ErrorCase{"noModes", "hostname: R1\n", 1, 1, "at least one mode"},
    ErrorCase{"modeTwice", "modes:\n  a: {prompt: \">\"}\n  a: {prompt: \"#\"}\n", 3, 3, "written twice"},
    ErrorCase{"configMissing", "running-config: start.cfg\n" + Exec, 1, 17, "cannot read the running config"},
    ErrorCase{"hostnameOneWord", "hostname: my router\n" + Exec, 1, 11, "one word"},
    ErrorCase{"unknownStyle", "config-style: xr\n" + Exec, 1, 15, "ios (lines and sections) or junos"},
    ErrorCase{"indentTooDeep", "indent: 9\n" + Exec, 1, 9, "from 1 to 8"},
    ErrorCase{"indentNone", "indent: 0\n" + Exec, 1, 9, "from 1 to 8"},
    ErrorCase{"unknownFilter", "filters: [include, grep]\n" + Exec, 1, 20, "a filter is include, exclude"},
    ErrorCase{"filterWithABar", "filters: {\"a | b\": include}\n" + Exec, 1, 11, "no | of their own"},
    ErrorCase{"unknownCandidate", "modes:\n  exec:\n    prompt: \">\"\n    candidate: maybe\n", 4, 16, "shared"},
    ErrorCase{"runInWithoutALine", Exec + "      do {x}: {run-in: exec}\n", 5, 24, "{name...}"},
    ErrorCase{"runInUnknownMode", Exec + "      do {x...}: {run-in: enabel}\n", 5, 27, "unknown mode 'enabel'"},
    ErrorCase{"confirmWithoutQuestion", Exec + "      copy: {confirm: {default: x}}\n", 5, 23, "a question:"},
    ErrorCase{"confirmWhen", Exec + "      copy: {confirm: {question: q, when: later}}\n", 5, 43, "always or uncommitted"},
    ErrorCase{"errorVariableInAnswer", Exec + "      show: \"at {position}\"\n", 5, 17, "unknown variable {position}"},
    ErrorCase{"userIsTheRouters", Exec + "      login {user}: x\n", 5, 7, "{user} is the router's own"},
    ErrorCase{"unknownFault", Exec + "      show: {fault: explode}\n", 5, 21, "close (the session ends with a FIN) or reset"},
    ErrorCase{"cutNegative", Exec + "      show: {cut: -1}\n", 5, 19, "cut must be a number, 0 or more"},
    ErrorCase{"cutNotWhole", Exec + "      show: {cut: 2.5}\n", 5, 19, "cut must be a whole number"},
    ErrorCase{"rateNegative", Exec + "      show: {rate: -100}\n", 5, 20, "rate must be a number, 0 or more"},
    ErrorCase{"rateZero", Exec + "      show: {rate: 0}\n", 5, 20, "more than 0"},
    ErrorCase{"stallNotANumber", Exec + "      show: {stall: long}\n", 5, 21, "stall must be a number"},
    ErrorCase{"routerFaultUnknown", "faults: [{after: 2, fault: crash}]\n" + Exec, 1, 28, "close (the session ends"},
    ErrorCase{"routerFaultAfterAndAt", "faults: [{after: 2, at: 3, fault: close}]\n" + Exec, 1, 10, "{after: N, fault"},
    ErrorCase{"routerFaultAtNegative", "faults: [{at: -3, fault: reset}]\n" + Exec, 1, 15, "at must be a number"},
    ErrorCase{"messageTooOften", "messages: [{every: 0, text: x}]\n" + Exec, 1, 20, "0.01 seconds or more"},
    ErrorCase{"messageNoText", "messages: [{every: 5}]\n" + Exec, 1, 12, "{every: SECONDS, text"},
    ErrorCase{"jitterNegative", "jitter: -0.5\n" + Exec, 1, 9, "jitter must be a number"},
    ErrorCase{"onMismatchUnknown", "on-mismatch: explode\n" + Exec, 1, 14, "close (the session ends after the answer)"}),
    caseName);

TEST(LoadErrors, anAnswerFilesVariableIsPlacedInThatFile)
{
    CommandsRig rig(Exec + "      show a: {file: a.txt}\n      show b: {file: b.txt, raw: true}\n");
    rig.dir.write("a.txt", "first line\nsecond {nope} line\n");
    rig.dir.write("b.txt", "{nope}\n");
    try {
        rig.load();
        FAIL() << "loaded";
    } catch (const ModelError &error) {
        EXPECT_EQ(std::string(error.what()),
                  rig.dir.path("a.txt") + ":2:8: error: unknown variable {nope} (raw: true sends the file as written)");
    }
}

TEST(LoadErrors, unreadableFileIsNamed)
{
    CommandsRig rig;   // no commands.yaml
    try {
        rig.load();
        FAIL() << "loaded";
    } catch (const ModelError &error) {
        EXPECT_EQ(error.line(), 0u);
        EXPECT_TRUE(std::string(error.what()).starts_with(rig.dir.path("commands.yaml") + ": error: cannot read"))
            << error.what();
    }
}

TEST(Lint, findsEveryProblemInFileOrder)
{
    CommandsRig rig("hostname: R1\n"
                    "colour: blue\n"
                    "modes:\n"
                    "  exec:\n"
                    "    prompt: \">\"\n"
                    "    commands:\n"
                    "      show {a}: x\n"
                    "      show {b}: y\n"
                    "      ping {h}: {answr: x}\n"
                    "      go: {mode: nowhere}\n"
                    "      \"~(\": z\n");
    const std::vector<Finding> findings = lintModel(rig.dir.path(), rig.files);
    struct Expected {
        std::size_t line;
        bool error;
        std::string text;
    };
    const std::vector<Expected> expected{
        {2, false, "unknown key 'colour'"},
        {8, false, "takes the same lines as 'show {a}' (line 7)"},
        {9, false, "unknown key 'answr'"},
        {10, true, "unknown mode 'nowhere'"},
        {11, true, "does not compile"},
    };
    ASSERT_EQ(findings.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(findings[i].line, expected[i].line) << findings[i].toString();
        EXPECT_EQ(findings[i].error, expected[i].error) << findings[i].toString();
        EXPECT_NE(findings[i].text.find(expected[i].text), std::string::npos) << findings[i].toString();
    }
    EXPECT_THROW(rig.load(), ModelError);
}

TEST(Lint, aCommandWrittenTwiceIsFound)
{
    CommandsRig rig("modes:\n  exec:\n    prompt: \">\"\n    commands:\n      show version: a\n      show version: b\n");
    const std::vector<Finding> findings = lintModel(rig.dir.path(), rig.files);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].line, 6u);
}

TEST(Lint, keysThatDoNothingHere)
{
    CommandsRig rig("filters: {display set: display-set, include: {kind: include, answer: x}}\n"
                    "modes:\n"
                    "  exec:\n"
                    "    prompt: \">\"\n"
                    "    commands:\n"
                    "      configure: {mode: config, session: s}\n"
                    "      commit: {commit: true}\n"
                    "  config: {prompt: \"#\", config: true}\n");
    const std::vector<Finding> findings = lintModel(rig.dir.path(), rig.files);
    const std::vector<std::pair<std::size_t, std::string>> expected{
        {1, "with config-style: ios it changes nothing"},
        {1, "answer: is the text of a count filter"},
        {6, "session: names a candidate only"},
        {7, "no mode has candidate:"},
    };
    ASSERT_EQ(findings.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(findings[i].line, expected[i].first) << findings[i].toString();
        EXPECT_FALSE(findings[i].error) << findings[i].toString();
        EXPECT_NE(findings[i].text.find(expected[i].second), std::string::npos) << findings[i].toString();
    }
}

TEST(Lint, warningsDoNotStopTheRouter)
{
    CommandsRig rig("modes: {exec: {prompt: \">\", colour: red}}\n");
    rig.load();
    ASSERT_EQ(rig.model->warnings.size(), 1u);
    EXPECT_EQ(rig.model->warnings[0].toString(),
              rig.dir.path("commands.yaml") + ":1:29: warning: unknown key 'colour' in mode exec: it is ignored");
}

// A command's prompt: ends its first answer in a session, and no other; its faults reach the reply.
TEST(Faults, anotherPromptOnceAndTheAnswersFaults)
{
    CommandsRig rig("faults: [{after: 2, fault: reset}]\nmessages: [{every: 7.5, text: \"\\n%LINK down\\n\"}]\n"
                    "jitter: 0.25\non-mismatch: close\n" + Exec
                    + "      terminal length 0: {answer: \"\", prompt: \"R1(config)#\"}\n"
                      "      show tech: {answer: \"t\\n\", cut: 10, fault: reset}\n");
    rig.load();
    ASSERT_TRUE(rig.model->schedule);
    EXPECT_EQ(rig.model->schedule->messages.at(0).text, "\r\n%LINK down\r\n");
    EXPECT_EQ(rig.model->schedule->faults.at(0).after, 2u);
    EXPECT_EQ(rig.model->jitter, 0.25);
    EXPECT_TRUE(rig.model->mismatchClose);
    const auto session = rig.session();
    session->start();
    Reply reply = session->line("terminal length 0");
    EXPECT_EQ(reply.bytes, "R1(config)#");
    EXPECT_TRUE(reply.otherPrompt);
    reply = session->line("terminal length 0");
    EXPECT_EQ(reply.bytes, ">");
    EXPECT_FALSE(reply.otherPrompt);
    reply = session->line("show tech");
    ASSERT_NE(reply.faults, nullptr);
    EXPECT_EQ(reply.faults->cut, 10u);
    EXPECT_EQ(reply.faults->end, zentrel::console::AnswerFaults::End::Reset);
    EXPECT_TRUE(lintModel(rig.dir.path(), rig.files).empty());
}

TEST(Demo, loadsCleanAndAnswers)
{
    const std::string demo = std::string(ZENTREL_SOURCE_DIR) + "/demo/commands";
    zentrel::platform::PosixTextFiles files;
    EXPECT_TRUE(lintModel(demo, files).empty());
    const ModelPtr model = loadModel(demo, files);
    auto router = std::make_shared<RouterState>(*model);
    Conversation session(model, router, files);
    session.start();
    EXPECT_EQ(zentrel::tests::typeLines(session, {"admin", "lab"}).bytes.substr(0, 2), "\r\n");
    EXPECT_EQ(session.line("sh ver").bytes.substr(0, 29), "Demo-Router operating system,");
    EXPECT_NE(session.line("show interfaces Gi0/1").bytes.find("^\r\n% Invalid input"), std::string::npos);
    EXPECT_EQ(router->hostname(), "Demo-Router");
}

} // namespace
