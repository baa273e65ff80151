// The delivery branches where the lines cannot arrive: the target does not start, or keystrokes
// cannot reach any window. Nothing is typed, and the message says why.
#include "delivery/Deliver.h"
#include "fakes/FakePlatform.h"

#include <gtest/gtest.h>

using tolvane::delivery::Deliver;
using tolvane::delivery::DeliveryRequest;
using tolvane::engine::Destination;
using tolvane::fakes::CallLog;
using tolvane::fakes::FakePlatform;

namespace {

const std::string kNoKeystrokes = "Les frappes ne peuvent pas arriver dans cette session.";

struct FailureCase {
    const char* name;
    Destination destination;
    std::string program;
    bool launchFails;
    std::string unavailable;
    std::optional<std::string> message; // nullopt: delivered
    CallLog log;                        // every call the fakes received, in order
    bool typed;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DeliveryFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DeliveryFailures, NothingIsTypedAndTheMessageSaysWhy) {
    const FailureCase& c = GetParam();
    FakePlatform fakes;
    fakes.launcher.fail = c.launchFails;
    fakes.injector.unavailable = c.unavailable;
    DeliveryRequest request;
    request.destination = c.destination;
    request.programPath = c.program;
    request.lines = {U"pw1", U"pw2"};
    request.countText = std::u32string(1, U'2'); // (a literal trips a false -Wrestrict)
    request.count = 2;

    const std::optional<std::string> message =
        Deliver(request, {fakes.launcher, fakes.injector, fakes.clipboard});
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(fakes.log, c.log);
    EXPECT_EQ(!fakes.injector.scripts.empty(), c.typed);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, DeliveryFailures,
    ::testing::Values(FailureCase{"editor_delivered",
                                  Destination::Notepad,
                                  "",
                                  false,
                                  "",
                                  std::nullopt,
                                  {"injector:before-launch", "start:editor", "type:editor"},
                                  true},
                      FailureCase{"editor_not_started",
                                  Destination::Notepad,
                                  "",
                                  true,
                                  "",
                                  "Le programme « editor » ne peut pas être lancé.",
                                  {"injector:before-launch", "start:editor"},
                                  false},
                      FailureCase{"program_not_started",
                                  Destination::OtherProgram,
                                  "/opt/reader",
                                  true,
                                  "",
                                  "Le programme « /opt/reader » ne peut pas être lancé.",
                                  {"injector:before-launch", "start:/opt/reader"},
                                  false},
                      FailureCase{"editor_without_keystrokes",
                                  Destination::Notepad,
                                  "",
                                  false,
                                  kNoKeystrokes,
                                  kNoKeystrokes,
                                  {},
                                  false},
                      FailureCase{"program_without_keystrokes",
                                  Destination::OtherProgram,
                                  "/opt/reader",
                                  false,
                                  kNoKeystrokes,
                                  kNoKeystrokes,
                                  {},
                                  false},
                      FailureCase{"clipboard_needs_no_keystrokes",
                                  Destination::Clipboard,
                                  "",
                                  false,
                                  kNoKeystrokes,
                                  std::nullopt,
                                  {"clipboard"},
                                  false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
