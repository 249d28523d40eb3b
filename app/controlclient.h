#pragma once

#include <QString>

#include <optional>

// The command line's way to the running Kavri: `kavri --effect NAME`, `--size`, `--show`,
// `--hide` and `--toggle` become calls of its control interface on the session bus. It never
// starts a Kavri.
namespace ControlClient {

// Exit statuses of a command.
enum Status : int {
    Done = 0,
    NotRunning = 1,  // "Kavri is not running" (or it did not answer)
    BadArgument = 2, // the argument was wrong, or Kavri refused it; the message says why
};

struct Request
{
    enum class Visibility { Unchanged, Show, Hide, Toggle };

    std::optional<QString> effect;
    // A change of the size by this much; or, with sizeIsAbsolute, the size itself.
    std::optional<int> size;
    bool sizeIsAbsolute = false;
    Visibility visibility = Visibility::Unchanged;
};

// Reads the value of --size into `request`: "+N" and "-N" change the size by N pixels, a bare
// "N" sets it. False, with `error` saying what is allowed, for anything else.
bool parseSize(const QString &text, Request &request, QString *error);

// Sends the request's calls in order (effect, size, then show, hide or toggle) and returns the
// status; the message of a failure goes to standard error. Needs the application object.
Status send(const Request &request);

} // namespace ControlClient
