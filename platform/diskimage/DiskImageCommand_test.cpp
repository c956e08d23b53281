#include "platform/diskimage/DiskImageCommand.hpp"

#include <gtest/gtest.h>

namespace velmor::diskimage {
namespace {

using Verb = DiskImageCommand::Verb;

struct ParseCase {
    std::vector<std::string> arguments;
    Verb verb;
    bool plist;
    bool readsPassword;
    bool force;
    std::string operand;
};

TEST(DiskImageCommandTest, ParsesTheCommandLinesOfBothTools) {
    const std::vector<ParseCase> cases = {
        {{"attach", "-plist", "-noverify", "-noautoopen", "-noautofsck", "-owners", "off", "-nobrowse", "-readonly",
          "-mountrandom", "/private/tmp/", "/images/a b.img"},
         Verb::attach, true, false, false, "/images/a b.img"},
        {{"attach", "-plist", "-noverify", "-noautoopen", "-noautofsck", "-owners", "off", "-nobrowse", "-readonly",
          "-mountrandom", "/private/tmp/", "-stdinpass", "/images/a.img"},
         Verb::attach, true, true, false, "/images/a.img"},
        {{"info", "-plist"}, Verb::info, true, false, false, ""},
        {{"detach", "/dev/loop3"}, Verb::detach, false, false, false, "/dev/loop3"},
        {{"detach", "loop3", "-force"}, Verb::detach, false, false, true, "loop3"},
        {{"unmount", "/media/root/My Data", "-force"}, Verb::unmount, false, false, true, "/media/root/My Data"},
        {{"image", "--plist", "attach", "--readOnly", "--nobrowse", "/images/a.img"}, Verb::attach, true, false, false,
         "/images/a.img"},
        {{"image", "--plist", "--stdinpassphrase", "attach", "--readOnly", "--nobrowse", "/images/a.img"},
         Verb::attach, true, true, false, "/images/a.img"},
        {{"eject", "loop2"}, Verb::eject, false, false, false, "loop2"},
        // "--" ends the options: what follows is the operand, dash or not.
        {{"attach", "-plist", "--", "-data.img"}, Verb::attach, true, false, false, "-data.img"},
        {{"detach", "-force", "--", "-force"}, Verb::detach, false, false, true, "-force"},
        {{"image", "--plist", "attach", "--readOnly", "--", "--nobrowse"}, Verb::attach, true, false, false,
         "--nobrowse"},
        {{"eject", "--", "/media/root/Data"}, Verb::eject, false, false, false, "/media/root/Data"},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.arguments.front() + " " + expected.operand);
        const auto command = DiskImageCommand::parse(expected.arguments);
        EXPECT_EQ(command.verb, expected.verb);
        EXPECT_EQ(command.plist, expected.plist);
        EXPECT_EQ(command.readsPassword, expected.readsPassword);
        EXPECT_EQ(command.force, expected.force);
        EXPECT_EQ(command.operand, expected.operand);
    }
}

TEST(DiskImageCommandTest, RefusesMalformedCommandLinesWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "usage"},
        {{"resize", "a.img"}, "unknown verb resize"},
        {{"attach", "-plist"}, "missing operand"},
        {{"attach", "-plist", "-owners"}, "-owners needs a value"},
        {{"attach", "-shadow", "a.img"}, "unknown option -shadow"},
        {{"detach", "loop0", "loop1"}, "more than one operand"},
        {{"info", "-verbose"}, "unknown argument -verbose"},
        {{"image", "--plist", "create", "a.img"}, "only the attach verb"},
        {{"eject"}, "missing operand"},
        {{"eject", "--"}, "missing operand"},
        {{"detach", "--", "loop0", "loop1"}, "more than one operand"},
    };
    for (const auto& [arguments, reason] : cases) {
        try {
            DiskImageCommand::parse(arguments);
            ADD_FAILURE() << "accepted: " << (arguments.empty() ? "" : arguments.front());
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace velmor::diskimage
