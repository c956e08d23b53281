#include "platform/diskimage/DiskImageCommand.hpp"

#include <set>

namespace velmor::diskimage {

namespace {

struct Grammar {
    // Flags taken alone, and options that take the next argument as their value.
    std::set<std::string> flags;
    std::set<std::string> valued;
};

// Collects the one operand among the flags of `grammar`; the flags seen are returned.
std::set<std::string> parseOperands(const std::vector<std::string>& arguments, std::size_t first,
                                    const Grammar& grammar, const std::string& verb, std::string& operand) {
    std::set<std::string> seen;
    bool haveOperand = false;
    bool optionsEnded = false;
    for (std::size_t i = first; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // After "--" a name that starts with a dash is an operand.
        const bool isOption = !optionsEnded && !argument.empty() && argument.front() == '-';
        if (isOption && argument == "--") {
            optionsEnded = true;
        } else if (isOption && grammar.flags.contains(argument)) {
            seen.insert(argument);
        } else if (isOption && grammar.valued.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                throw UsageError(verb + ": " + argument + " needs a value");
            }
            seen.insert(argument);
            ++i;
        } else if (isOption) {
            throw UsageError(verb + ": unknown option " + argument);
        } else if (haveOperand) {
            throw UsageError(verb + ": more than one operand: " + argument);
        } else {
            operand = argument;
            haveOperand = true;
        }
    }
    if (!haveOperand) {
        throw UsageError(verb + ": missing operand");
    }
    return seen;
}

} // namespace

DiskImageCommand DiskImageCommand::parse(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        throw UsageError("usage: velmor-diskimage attach|info|detach|unmount|image|eject ...");
    }
    DiskImageCommand command;
    const std::string& verb = arguments.front();
    if (verb == "attach") {
        command.verb = Verb::attach;
        const Grammar grammar{{"-plist", "-noverify", "-noautoopen", "-noautofsck", "-nobrowse", "-readonly",
                               "-stdinpass"},
                              {"-owners", "-mountrandom"}};
        const auto seen = parseOperands(arguments, 1, grammar, verb, command.operand);
        command.plist = seen.contains("-plist");
        command.readsPassword = seen.contains("-stdinpass");
    } else if (verb == "info") {
        command.verb = Verb::info;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            if (arguments[i] != "-plist") {
                throw UsageError("info: unknown argument " + arguments[i]);
            }
            command.plist = true;
        }
    } else if (verb == "detach" || verb == "unmount") {
        command.verb = verb == "detach" ? Verb::detach : Verb::unmount;
        const auto seen = parseOperands(arguments, 1, Grammar{{"-force"}, {}}, verb, command.operand);
        command.force = seen.contains("-force");
    } else if (verb == "eject") {
        command.verb = Verb::eject;
        parseOperands(arguments, 1, Grammar{}, verb, command.operand);
    } else if (verb == "image") {
        // image --plist [--stdinpassphrase] attach --readOnly --nobrowse PATH
        std::size_t i = 1;
        for (; i < arguments.size() && arguments[i].rfind("--", 0) == 0; ++i) {
            if (arguments[i] == "--plist") {
                command.plist = true;
            } else if (arguments[i] == "--stdinpassphrase") {
                command.readsPassword = true;
            } else {
                throw UsageError("image: unknown option " + arguments[i]);
            }
        }
        if (i == arguments.size() || arguments[i] != "attach") {
            throw UsageError("image: only the attach verb is supported");
        }
        command.verb = Verb::attach;
        parseOperands(arguments, i + 1, Grammar{{"--readOnly", "--nobrowse"}, {}}, "image attach", command.operand);
    } else {
        throw UsageError("unknown verb " + verb);
    }
    return command;
}

} // namespace velmor::diskimage
