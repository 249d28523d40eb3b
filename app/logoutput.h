#pragma once

// Kavri's own messages ("kavri.*" logging categories) reach standard error as the bare line,
// without the category Qt's default pattern puts in front: the lines users and scripts read
// ("Kavri: overlay: ...") stay as they are. Every other message takes the handler that was
// installed before.
namespace LogOutput {

// Once, at the start of main().
void install();

} // namespace LogOutput
