#include "app/ui/program/CleanerApp.hpp"

int main(int argc, char** argv) {
    return marrowdale::CleanerApp::main(argc, argv);
}
