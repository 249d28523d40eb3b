#pragma once

// What Kavri answers on the command line without starting: --help and --version, and the
// commands for the running Kavri (--effect, --size, --show, --hide, --toggle; see
// ControlClient). Every other argument, Qt's own options such as -platform among them, is
// left to the application object.
namespace CommandLine {

// Prints the help or the version, or sends the commands, when asked for and returns the exit
// status; -1 when Kavri should start. Call before the application object exists: answering
// needs no display.
int answer(int &argc, char **argv);

} // namespace CommandLine
