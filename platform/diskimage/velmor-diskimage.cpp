// velmor-diskimage: attaches, lists, unmounts and detaches disk images through the disk service,
// taking the command lines of the disk-image tools the library drives and answering with their
// property lists. A failure is a message on standard error and a non-zero exit status, with no
// property list.

#include "platform/diskimage/DiskImageActions.hpp"
#include "platform/diskimage/DiskImageCommand.hpp"
#include "platform/diskimage/DiskImagePlist.hpp"
#include "platform/diskimage/UDisksClient.hpp"

#include <cstdio>
#include <exception>
#include <iostream>
#include <sys/auxv.h>
#include <unistd.h>

using namespace velmor::diskimage;

namespace {

// Whoever starts an attach may write a password and answers; take all of it before acting, so its
// writes never meet a closed pipe.
void drainStandardInput() {
    char buffer[4096];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
}

void printEntities(const std::vector<SystemEntity>& entities) {
    for (const auto& entity : entities) {
        std::cout << entity.devEntry << '\t' << (entity.potentiallyMountable ? "mountable" : "")
                  << '\t' << entity.mountPoint.value_or("") << '\n';
    }
}

int run(const std::vector<std::string>& arguments) {
    const DiskImageCommand command = DiskImageCommand::parse(arguments);
    if (command.verb == DiskImageCommand::Verb::attach) {
        drainStandardInput();
    }
    UDisksClient udisks;
    DiskImageActions actions(udisks);
    switch (command.verb) {
    case DiskImageCommand::Verb::attach: {
        const auto entities = actions.attach(command.operand);
        if (command.plist) {
            std::cout << attachPropertyList(entities);
        } else {
            printEntities(entities);
        }
        break;
    }
    case DiskImageCommand::Verb::info: {
        const auto images = actions.info();
        if (command.plist) {
            std::cout << infoPropertyList(images);
        } else {
            for (const auto& image : images) {
                std::cout << "image-path: " << image.imagePath << '\n';
                printEntities(image.entities);
            }
        }
        break;
    }
    case DiskImageCommand::Verb::unmount:
        actions.unmount(command.operand, command.force);
        std::cout << command.operand << " unmounted.\n";
        break;
    case DiskImageCommand::Verb::detach:
    case DiskImageCommand::Verb::eject:
        actions.detach(command.operand, command.force);
        std::cout << command.operand << " ejected.\n";
        break;
    }
    std::cout.flush();
    return std::cout.good() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Run set-user-id (or set-group-id) by another user, the tool would attach and detach with its
    // owner's rights what its user may not touch, past the disk service's own authorisation.
    if (::getauxval(AT_SECURE) != 0) {
        std::cerr << "velmor-diskimage: refusing to run set-user-id or set-group-id: it acts only with "
                     "the rights of the user who runs it\n";
        return 1;
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return run(arguments);
    } catch (const ToolFailure& failure) {
        std::cerr << "velmor-diskimage: " << failure.what() << '\n';
        return failure.exitStatus();
    } catch (const UDisksError& error) {
        std::cerr << "velmor-diskimage: " << error.what() << '\n';
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "velmor-diskimage: " << error.what() << '\n';
        return 1;
    }
}
